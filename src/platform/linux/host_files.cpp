#include "platform/linux/host_files.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace tarvex::linuxhost {

namespace fs = std::filesystem;

std::optional<std::string> ReadSmallFile(const fs::path& path, size_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    // sysfs reports a size of 4096 for every attribute, so read up to the limit instead of
    // trusting the size.
    std::string text(maxBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        return std::nullopt;
    }
    const auto got = static_cast<size_t>(in.gcount());
    if (got > maxBytes) {
        return std::nullopt;
    }
    text.resize(got);
    return text;
}

std::string Trim(std::string_view text) {
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0';
    };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::string ReadTrimmed(const fs::path& path) {
    const std::optional<std::string> text = ReadSmallFile(path, 64 * 1024);
    return text ? Trim(*text) : std::string();
}

std::optional<uint64_t> ReadNumber(const fs::path& path) {
    const std::string text = ReadTrimmed(path);
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    if (digits.empty() || digits.size() > 16) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
            d = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        }
        if (d < 0 || (base == 10 && value > (UINT64_MAX - static_cast<uint64_t>(d)) / 10)) {
            return std::nullopt;
        }
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    return value;
}

std::string PrintableAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c < 0x20 || c > 0x7E) {
            c = '_';
        }
    }
    return out;
}

fs::path Resolve(const fs::path& path) {
    std::error_code ec;
    fs::path resolved = fs::canonical(path, ec);
    return ec ? fs::path() : resolved;
}

std::string LinkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

std::vector<std::string> ListFolder(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}


bool NaturalLess(std::string_view a, std::string_view b) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = isDigit(a[i]);
        const bool digitB = isDigit(b[j]);
        if (digitA != digitB) {
            return digitA;  // a number before letters at the same place
        }
        size_t endA = i, endB = j;
        while (endA < a.size() && isDigit(a[endA]) == digitA) {
            ++endA;
        }
        while (endB < b.size() && isDigit(b[endB]) == digitB) {
            ++endB;
        }
        std::string_view runA = a.substr(i, endA - i);
        std::string_view runB = b.substr(j, endB - j);
        if (digitA) {
            while (runA.size() > 1 && runA.front() == '0') {
                runA.remove_prefix(1);
            }
            while (runB.size() > 1 && runB.front() == '0') {
                runB.remove_prefix(1);
            }
        }
        // Shorter runs first: for numbers that is the value order, for letters it puts sdz
        // before sdaa as the kernel hands the names out.
        if (runA.size() != runB.size()) {
            return runA.size() < runB.size();
        }
        if (runA != runB) {
            return runA < runB;
        }
        i = endA;
        j = endB;
    }
    if ((a.size() - i) != (b.size() - j)) {
        return a.size() - i < b.size() - j;
    }
    return a < b;  // equal by value ("sda01" vs "sda1"): keep a total order
}

}  // namespace tarvex::linuxhost
