#pragma once
// Running a program as a user runs it: a shell command line in a child process, its exit code
// and what it prints on standard output and standard error, kept apart.
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

}  // namespace tarvex::test
