#include "peer/tool_runs.h"

#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "support/child_process.h"

namespace tarvex::peer {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) {
        return {};
    }
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// The text after "<label>:" on a line, trimmed; nothing when the line does not start so.
std::optional<std::string> After(const std::string& line, const std::string& label) {
    const std::string t = Trim(line);
    if (t.rfind(label + ":", 0) != 0) {
        return std::nullopt;
    }
    return Trim(t.substr(label.size() + 1));
}

std::vector<std::string> Split(const std::string& text, char by) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, by)) {
        out.push_back(Trim(item));
    }
    return out;
}

std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string t;
    while (in >> t) {
        out.push_back(t);
    }
    return out;
}

}  // namespace

ToolRun RunShell(const std::string& command, const std::optional<std::string>& input) {
    return test::RunChild(command, input);
}

std::string Quote(const std::string& text) { return test::ShellQuote(text); }

std::optional<fs::path> FindTool(const std::string& name) {
    for (const char* dir : {"/usr/sbin", "/sbin", "/usr/bin", "/bin", "/usr/local/bin", "/usr/local/sbin"}) {
        const fs::path p = fs::path(dir) / name;
        if (::access(p.c_str(), X_OK) == 0) {
            return p;
        }
    }
    return std::nullopt;
}

DrivePages ReadDumpFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DrivePages pages;
    pages.name = file.filename().string();
    if (file.extension() == ".bin") {
        if (bytes.size() != 512) {
            throw std::runtime_error(file.string() + ": not a 512-byte page");
        }
        pages.identify = bytes;
        return pages;
    }
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8) {
            throw std::runtime_error(file.string() + ": a part header is cut short");
        }
        const std::string tag(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 4);
        const size_t size = (size_t{bytes[at + 4]} << 24) | (size_t{bytes[at + 5]} << 16) |
                            (size_t{bytes[at + 6]} << 8) | bytes[at + 7];
        at += 8;
        if (bytes.size() - at < size) {
            throw std::runtime_error(file.string() + ": part " + tag + " is cut short");
        }
        const std::vector<uint8_t> data(bytes.begin() + static_cast<long>(at),
                                        bytes.begin() + static_cast<long>(at + size));
        at += size;
        if (tag == "IDFY") {
            pages.identify = data;
        } else if (tag == "SMDT") {
            pages.smartData = data;
        } else if (tag == "SMTH") {
            pages.smartThresholds = data;
        } else if (tag == "SMST" && size == 4) {
            pages.smartGood = data[3] != 0;
        }
    }
    return pages;
}

std::vector<uint8_t> TaggedDump(const DrivePages& pages) {
    std::vector<uint8_t> out;
    auto part = [&](const char* tag, const std::vector<uint8_t>& data) {
        out.insert(out.end(), tag, tag + 4);
        const uint32_t n = static_cast<uint32_t>(data.size());
        for (int shift : {24, 16, 8, 0}) {
            out.push_back(static_cast<uint8_t>(n >> shift));
        }
        out.insert(out.end(), data.begin(), data.end());
    };
    part("IDFY", pages.identify);
    if (pages.smartGood) {
        part("SMST", {0, 0, 0, static_cast<uint8_t>(*pages.smartGood ? 1 : 0)});
    }
    if (!pages.smartData.empty()) {
        part("SMDT", pages.smartData);
    }
    if (!pages.smartThresholds.empty()) {
        part("SMTH", pages.smartThresholds);
    }
    return out;
}

std::string HexWordLines(const std::vector<uint8_t>& page) {
    std::string out;
    for (size_t w = 0; w * 2 + 1 < page.size(); ++w) {
        out += fmt::format("{:04x}", page[2 * w] | (page[2 * w + 1] << 8));
        out += (w % 8 == 7) ? "\n" : " ";
    }
    return out;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string out;
    for (uint8_t b : bytes) {
        out += fmt::format("{:02x}", b);
    }
    return out;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

HdparmView ParseHdparm(const std::string& text) {
    HdparmView v;
    std::istringstream in(text);
    std::string line;
    bool inSecurity = false;
    static const std::regex kErase(R"((>?\d+min) for SECURITY ERASE UNIT)");
    static const std::regex kEnhanced(R"((>?\d+min) for ENHANCED SECURITY ERASE UNIT)");
    static const std::regex kSize(R"(device size with M = 1000\*1000:\s*(\d+) MBytes)");
    static const std::regex kSpeed(R"(Gen\d signaling speed \((\d\.\d)Gb/s\))");
    while (std::getline(in, line)) {
        const std::string t = Trim(line);
        std::smatch m;
        if (!line.empty() && line[0] != '\t') {
            inSecurity = t.rfind("Security:", 0) == 0;
        }
        if (auto s = After(line, "Model Number")) {
            v.model = *s;
        } else if (auto s = After(line, "Serial Number")) {
            v.serial = *s;
        } else if (auto s = After(line, "Firmware Revision")) {
            v.firmware = *s;
        } else if (auto s = After(line, "Transport")) {
            std::vector<std::string> items = Split(*s, ',');
            if (!items.empty() && items[0] == "Serial") {
                v.transport.assign(items.begin() + 1, items.end());
            }
        } else if (auto s = After(line, "Supported"); s && !inSecurity) {
            for (const std::string& n : Tokens(*s)) {
                v.majorVersions.insert(std::stoi(n));
            }
        } else if (auto s = After(line, "LBA    user addressable sectors")) {
            v.lba28Sectors = std::stoull(*s);
        } else if (auto s = After(line, "LBA48  user addressable sectors")) {
            v.lba48Sectors = std::stoull(*s);
        } else if (auto s = After(line, "Logical/Physical Sector size")) {
            v.logicalSectorBytes = v.physicalSectorBytes = static_cast<uint32_t>(std::stoul(*s));
        } else if (auto s = After(line, "Logical  Sector size")) {
            v.logicalSectorBytes = static_cast<uint32_t>(std::stoul(*s));
        } else if (auto s = After(line, "Physical Sector size")) {
            v.physicalSectorBytes = static_cast<uint32_t>(std::stoul(*s));
        } else if (std::regex_search(line, m, kSize)) {
            v.megabytes = std::stoull(m[1]);
        } else if (auto s = After(line, "Logical Unit WWN Device Identifier")) {
            v.wwn = *s;
        } else if (auto s = After(line, "Checksum")) {
            v.checksumCorrect = *s == "correct";
        } else if (t.find("Data Set Management TRIM supported") != std::string::npos) {
            v.trim = true;
        } else if (t.find("Deterministic read ZEROs after TRIM") != std::string::npos) {
            v.trimZeroes = true;
        } else if (t.find("Deterministic read data after TRIM") != std::string::npos) {
            v.trimDeterministicData = true;
        } else if (std::regex_search(line, m, kSpeed)) {
            v.speeds.insert(m[1]);
        } else if (inSecurity) {
            if (t.rfind("Master password revision code =", 0) == 0) {
                v.masterPasswordRevision = static_cast<unsigned>(std::stoul(t.substr(t.find('=') + 1)));
            } else if (t.rfind("Security level ", 0) == 0) {
                v.securityLevel = t.substr(15);
            } else if (std::regex_search(line, m, kErase)) {
                v.eraseTime = m[1];
                if (std::regex_search(line, m, kEnhanced)) {
                    v.enhancedEraseTime = m[1];
                }
            } else if (!t.empty() && t != "Security:") {
                const bool negated = t.rfind("not", 0) == 0 && t.size() > 3 && (t[3] == '\t' || t[3] == ' ');
                v.security[negated ? Trim(t.substr(3)) : t] = !negated;
            }
        }
    }
    return v;
}

SkdumpView ParseSkdump(const std::string& text) {
    SkdumpView v;
    std::istringstream in(text);
    std::string line;
    bool table = false;
    while (std::getline(in, line)) {
        if (line.rfind("ID#", 0) == 0) {
            table = true;
            continue;
        }
        if (table) {
            const std::vector<std::string> t = Tokens(line);
            if (t.size() < 10) {
                continue;
            }
            SkdumpRow r;
            r.id = std::stoi(t[0]);
            auto number = [](const std::string& s) -> std::optional<int> {
                return s == "n/a" ? std::nullopt : std::optional<int>(std::stoi(s));
            };
            r.value = number(t[2]);
            r.worst = number(t[3]);
            r.threshold = std::stoi(t[4]);
            // The pretty column may hold blanks; the last five columns never do.
            const size_t n = t.size();
            r.rawHex = t[n - 5].rfind("0x", 0) == 0 ? t[n - 5].substr(2) : t[n - 5];
            r.type = t[n - 4];
            r.updates = t[n - 3];
            v.rows.push_back(r);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string value = Trim(line.substr(colon + 1));
        if (value.size() >= 2 && value.front() == '[' && value.back() == ']') {
            value = value.substr(1, value.size() - 2);
        }
        v.fields[line.substr(0, colon)] = value;
    }
    return v;
}

}  // namespace tarvex::peer
