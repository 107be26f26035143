#pragma once
// The few failures the system prints to the console (outside the trace and the message
// boxes). The GUI leaves them on standard output; the CLI sends them to standard error so
// that its --json output stays valid.
#include <functional>
#include <string_view>

namespace tarvex {

void ConsolePrint(std::string_view text);
// Replaces where console text goes; an empty function restores standard output.
void SetConsoleSink(std::function<void(std::string_view)> sink);

}  // namespace tarvex
