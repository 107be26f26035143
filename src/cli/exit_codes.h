#pragma once
// tarvexctl's exit codes.
namespace tarvex::cli {

inline constexpr int kExitSuccess = 0;
// 1 is the start-up classification's fatal code (Windows XP without a readable service pack).
inline constexpr int kExitStartupFatal = 1;
inline constexpr int kExitMachineError = 2;  // the machine profile or state directory is unusable
inline constexpr int kExitCommandFailed = 3;  // a device or command failure
inline constexpr int kExitUsage = 64;         // a command-line error

}  // namespace tarvex::cli
