#include "platform/sim/host_file_reading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvex::sim {

HostFileRead ReadRegularHostFile(const std::filesystem::path& path, size_t maxBytes) {
    HostFileRead r;
    auto fail = [&](HostFileProblem problem) {
        r.problem = problem;
        if (problem == HostFileProblem::CannotRead) {
            r.systemError = std::strerror(errno);
        }
        r.bytes.reset();
        return r;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return fail(HostFileProblem::CannotRead);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return fail(HostFileProblem::CannotRead);
    }
    if (!S_ISREG(st.st_mode)) {
        return fail(S_ISDIR(st.st_mode) ? HostFileProblem::Folder : HostFileProblem::NotRegular);
    }
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        return fail(HostFileProblem::TooBig);
    }
    // The file may grow while it is read: read at most one byte past the limit to notice.
    std::string text(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            if (text.size() > maxBytes) {
                return fail(HostFileProblem::TooBig);
            }
            text.resize(std::min(text.size() + 4096, maxBytes + 1));
        }
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail(HostFileProblem::CannotRead);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    r.bytes = std::move(text);
    return r;
}

}  // namespace tarvex::sim
