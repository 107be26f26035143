#include "support/child_process.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "support/test_machine.h"

namespace tarvex::test {

ChildRun RunChild(const std::string& commandLine, const std::optional<std::string>& input) {
    TempDir dir;
    const auto errFile = dir.Path() / "stderr";
    std::string line = "{ " + commandLine + "\n}";
    if (input) {
        const auto inFile = dir.Path() / "stdin";
        std::ofstream(inFile, std::ios::binary) << *input;
        line += " <" + ShellQuote(inFile.string());
    }
    line += " 2>" + ShellQuote(errFile.string());
    ChildRun r;
    FILE* p = ::popen(line.c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        r.out.append(buf, n);
    }
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = ReadHostFile(errFile);
    return r;
}

std::string ShellQuote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

}  // namespace tarvex::test
