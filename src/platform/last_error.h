#pragma once
// The calling thread's last error, as GetLastError / SetLastError keep it. Every platform call
// that reports failure by its return value sets it, so the system's traces can print it.
#include <cstdint>

namespace tarvex::platform {

uint32_t GetLastError();
void SetLastError(uint32_t error);

}  // namespace tarvex::platform
