#pragma once
// Running a program as a user runs it: a shell command line in a child process, its exit code
// and what it prints on standard output and standard error, kept apart.
#include <cstdlib>
#include <optional>
#include <string>

namespace tarvex::test {

struct ChildRun {
    int exitCode = -1;  // -1: the child did not exit normally (or could not start)
    std::string out;
    std::string err;
};

// Runs `commandLine` with /bin/sh; `input`, when given, is fed on standard input.
ChildRun RunChild(const std::string& commandLine, const std::optional<std::string>& input = std::nullopt);

// `text` in single quotes for the shell.
std::string ShellQuote(const std::string& text);

// Whether the tests run under CI (CI=true): there a missing tool or data folder is a failure,
// elsewhere the test that needs it is skipped.
inline bool UnderCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

}  // namespace tarvex::test
