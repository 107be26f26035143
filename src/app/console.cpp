#include "app/console.h"

#include <cstdio>
#include <mutex>

namespace tarvex {

namespace {
std::mutex consoleMutex;
std::function<void(std::string_view)> consoleSink;
}  // namespace

void ConsolePrint(std::string_view text) {
    std::lock_guard lock(consoleMutex);
    if (consoleSink) {
        consoleSink(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void SetConsoleSink(std::function<void(std::string_view)> sink) {
    std::lock_guard lock(consoleMutex);
    consoleSink = std::move(sink);
}

}  // namespace tarvex
