#pragma once
// Starting other programs: WinExec command lines (fsutil, net, sc), a child whose output is
// piped back (diskpart), and the command interpreter's "start" that opens a URL.
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex::platform {

struct PipedResult {
    bool started = false;  // CreateProcessW succeeded
    uint32_t error = 0;    // GetLastError when it did not
    uint32_t exitCode = 0;
    std::string output;  // standard output and standard error, in the ANSI code page
};

class Shell {
public:
    virtual ~Shell() = default;
    // WinExec: the ANSI command line and a show command. Values above 31 mean started; the
    // call does not wait for the program.
    virtual uint32_t WinExec(std::string_view commandLine, uint32_t showCommand) = 0;
    // CreateProcessW with standard output and error on a pipe, read to the end.
    virtual PipedResult RunPiped(std::u16string_view commandLine) = 0;
    // The C runtime's _wsystem (used for `start "" url`); returns the interpreter's result.
    virtual int System(std::u16string_view command) = 0;
};

}  // namespace tarvex::platform
