#include "app/trace.h"

#include <atomic>
#include <mutex>

#include "platform/platform.h"

namespace tarvex {

namespace {

constexpr size_t kMaxTraceCharacters = 1024;

std::atomic<unsigned> traceLevel{0};
std::mutex traceMutex;
bool traceStarted = false;  // guarded by traceMutex
uint32_t traceStartTick = 0;
std::u16string tracePath;

// The module's path with its extension replaced by ".log".
std::u16string LogPathFor(const std::u16string& module) {
    size_t slash = module.find_last_of(u"\\/");
    size_t dot = module.find_last_of(u'.');
    if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) {
        return module + u".log";
    }
    return module.substr(0, dot) + u".log";
}

// Keeps at most kMaxTraceCharacters characters of UTF-8 text, never splitting one.
std::string_view Bounded(std::string_view text) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == kMaxTraceCharacters) {
                return text.substr(0, i);
            }
            ++chars;
        }
    }
    return text;
}

}  // namespace

void SetTraceLevel(unsigned level) { traceLevel.store(level > 2 ? 0 : level); }

unsigned TraceLevel() { return traceLevel.load(); }

void TraceText(std::string_view text) {
    if (TraceLevel() == 0) {
        return;
    }
    const platform::Platform& p = platform::Current();
    if (p.files == nullptr || p.system == nullptr || p.clock == nullptr) {
        return;
    }
    std::lock_guard lock(traceMutex);
    if (!traceStarted) {
        traceStarted = true;
        tracePath = LogPathFor(p.system->GetModuleFileName());
        (void)p.files->DeleteFile(tracePath);
        traceStartTick = p.clock->GetTickCount();
    }
    const uint32_t elapsed = p.clock->GetTickCount() - traceStartTick;
    const std::string line = fmt::sprintf("%08d %s\n", static_cast<int>(elapsed), std::string(Bounded(text)));
    // Opened for appending and closed after the line, so each line is complete in the file.
    auto file = p.files->OpenStream(tracePath, "ac");
    if (file) {
        uint32_t written = 0;
        (void)file->Write(line.data(), static_cast<uint32_t>(line.size()), &written);
    }
}

std::u16string TraceFilePath() {
    std::lock_guard lock(traceMutex);
    return tracePath;
}

void ResetTraceForTesting() {
    std::lock_guard lock(traceMutex);
    traceStarted = false;
    tracePath.clear();
    traceStartTick = 0;
}

namespace trace_detail {
void FormatFailed(const char* format) { TraceText(format); }

std::string PointerFormat(const char* format) {
    std::string out;
    for (const char* c = format; *c != '\0'; ++c) {
        if (c[0] == '%' && c[1] == '%') {
            out += "%%";
            ++c;
        } else if (c[0] == '%' && c[1] == 'p') {
            out += "%08X";
            ++c;
        } else {
            out += *c;
        }
    }
    return out;
}
}  // namespace trace_detail

}  // namespace tarvex
