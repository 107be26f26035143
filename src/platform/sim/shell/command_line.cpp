#include "platform/sim/shell/command_line.h"

namespace tarvex::sim {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

CommandLine SplitCommandLine(std::u16string_view line) {
    CommandLine out;
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    // The program: no escapes, a quote only ends what a quote began.
    if (i < line.size() && line[i] == u'"') {
        const size_t close = line.find(u'"', i + 1);
        const size_t end = close == std::u16string_view::npos ? line.size() : close;
        out.program = std::u16string(line.substr(i + 1, end - i - 1));
        i = close == std::u16string_view::npos ? line.size() : close + 1;
    } else {
        const size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) {
            ++i;
        }
        out.program = std::u16string(line.substr(start, i - start));
    }

    for (;;) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::u16string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            if (line[i] == u'\\') {
                size_t n = 0;
                while (i < line.size() && line[i] == u'\\') {
                    ++n;
                    ++i;
                }
                if (i < line.size() && line[i] == u'"') {
                    arg.append(n / 2, u'\\');
                    if (n % 2 == 1) {
                        arg.push_back(u'"');
                        ++i;
                    }
                    // With an even count the quote is handled as a quote below.
                } else {
                    arg.append(n, u'\\');
                }
                continue;
            }
            if (line[i] == u'"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
                    arg.push_back(u'"');
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg.push_back(line[i]);
            ++i;
        }
        out.arguments.push_back(std::move(arg));
    }
    return out;
}

}  // namespace tarvex::sim
