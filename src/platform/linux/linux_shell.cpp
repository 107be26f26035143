#include "platform/linux/linux_shell.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/last_error.h"
#include "platform/sim/shell/sim_shell.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::linuxhost {

namespace win = tarvex::win;

namespace {

// The file name of the program a command line starts, lower case, without ".exe".
std::u16string ProgramName(std::u16string_view commandLine) {
    std::u16string program;
    if (!commandLine.empty() && commandLine.front() == u'"') {
        const size_t close = commandLine.find(u'"', 1);
        program = std::u16string(commandLine.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1));
    } else {
        program = std::u16string(commandLine.substr(0, commandLine.find(u' ')));
    }
    const size_t slash = program.find_last_of(u"\\/");
    if (slash != std::u16string::npos) {
        program.erase(0, slash + 1);
    }
    program = platform::FoldCase(program);
    if (program.ends_with(u".exe")) {
        program.resize(program.size() - 4);
    }
    return program;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

uint32_t LinuxShell::WinExec(std::string_view, uint32_t) {
    // ERROR_FILE_NOT_FOUND: the program is not there (values above 31 would mean started).
    platform::SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::ERROR_FILE_NOT_FOUND;
}

bool LinuxShell::CreatePipe(std::unique_ptr<platform::PipeEnd>* readEnd, std::unique_ptr<platform::PipeEnd>* writeEnd,
                            bool inheritable) {
    int fds[2];
    if (::pipe2(fds, inheritable ? 0 : O_CLOEXEC) != 0) {
        platform::SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    *readEnd = std::make_unique<sim::SimPipeEnd>(fds[0], true, std::nullopt);
    *writeEnd = std::make_unique<sim::SimPipeEnd>(fds[1], false, std::nullopt);
    return true;
}

bool LinuxShell::CreateProcess(const platform::ProcessStart& start) {
    if (ProgramName(start.commandLine) == u"diskpart" && start.standardOutput != nullptr) {
        // The statement goes where diskpart's answer would; it is far smaller than a pipe's
        // buffer, so the write cannot wait for the reader.
        auto* out = dynamic_cast<sim::SimPipeEnd*>(start.standardOutput);
        if (out != nullptr && WriteAll(out->Fd(), kNoDiskpartText, std::strlen(kNoDiskpartText))) {
            return true;
        }
    }
    platform::SetLastError(win::ERROR_FILE_NOT_FOUND);
    return false;
}

int LinuxShell::System(std::u16string_view) {
    // The command interpreter's "start" (opening a URL) has no counterpart the tool may rely
    // on here: the command fails as a missing interpreter does.
    return -1;
}

}  // namespace tarvex::linuxhost
