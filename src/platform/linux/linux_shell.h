#pragma once
// The shell of a Linux PC. The Windows programs the tool would start (fsutil, net, sc,
// diskpart) do not exist here, and nothing stands in for them: a WinExec starts nothing, and
// diskpart's place in a piped start is taken by one line that says it is not there, so the
// report states it instead of a bare error code. Pipes are real pipes.
#include "platform/shell.h"

namespace tarvex::linuxhost {

// What the report's diskpart part reads on this PC.
inline constexpr const char kNoDiskpartText[] =
    "diskpart is a Windows program and does not exist on this Linux PC: no diskpart details.\r\n";

class LinuxShell : public platform::Shell {
public:
    uint32_t WinExec(std::string_view commandLine, uint32_t showCommand) override;
    bool CreatePipe(std::unique_ptr<platform::PipeEnd>* readEnd, std::unique_ptr<platform::PipeEnd>* writeEnd,
                    bool inheritable) override;
    bool CreateProcess(const platform::ProcessStart& start) override;
    int System(std::u16string_view command) override;
};

}  // namespace tarvex::linuxhost
