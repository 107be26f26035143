#pragma once
// Starting other programs: WinExec command lines (fsutil, net, sc), a child whose standard
// output comes back through an anonymous pipe (diskpart), and the command interpreter's
// "start" that opens a URL. The pipe calls are shaped after CreatePipe, SetHandleInformation,
// CreateProcessW, ReadFile and CloseHandle, so each step can fail on its own.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tarvex::platform {

// One end of an anonymous pipe (CreatePipe); CloseHandle when destroyed.
class PipeEnd {
public:
    virtual ~PipeEnd() = default;
    // SetHandleInformation(HANDLE_FLAG_INHERIT): whether a child started with handle
    // inheritance gets this end.
    virtual bool SetInheritable(bool inheritable) = 0;
    // ReadFile: false when it fails; 0 bytes read once every writer has closed its end.
    virtual bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
};

// The parts of CreateProcessW's arguments that the system uses.
struct ProcessStart {
    std::u16string commandLine;  // the program's path first, then its arguments
    bool inheritHandles = false;
    uint32_t creationFlags = 0;  // CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, ...
    // STARTF_USESTDHANDLES: the child's standard handles; null gives the child none.
    PipeEnd* standardInput = nullptr;
    PipeEnd* standardOutput = nullptr;
    PipeEnd* standardError = nullptr;
};

class Shell {
public:
    virtual ~Shell() = default;
    // WinExec: the ANSI command line and a show command. Values above 31 mean started; the
    // call does not wait for the program.
    virtual uint32_t WinExec(std::string_view commandLine, uint32_t showCommand) = 0;
    // CreatePipe: false with the last error set when no pipe can be made.
    virtual bool CreatePipe(std::unique_ptr<PipeEnd>* readEnd, std::unique_ptr<PipeEnd>* writeEnd,
                            bool inheritable) = 0;
    // CreateProcessW; the process and thread handles are closed at once (nobody waits for the
    // child; its end shows as the end of its output). False with the last error set
    // (ERROR_FILE_NOT_FOUND for a program that does not exist).
    virtual bool CreateProcess(const ProcessStart& start) = 0;
    // The C runtime's _wsystem (used for `start "" url`); returns the interpreter's result.
    virtual int System(std::u16string_view command) = 0;
};

}  // namespace tarvex::platform
