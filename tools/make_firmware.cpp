// tarvex-make-firmware: writes a firmware image that the emulated drives accept through
// DOWNLOAD MICROCODE (format: docs/firmware-image.md).
//
//   tarvex-make-firmware --model "VARNO TL30A 256GB" --revision 1.10 [--payload FILE | --size N]
//                        [--seed N] -o OUT
//   tarvex-make-firmware --check FILE [--model TEXT]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sim/devices/firmware_image.h"

namespace {

int Usage() {
    std::cerr << "usage: tarvex-make-firmware --model TEXT --revision TEXT [--payload FILE | --size N] [--seed N] -o OUT\n"
                 "       tarvex-make-firmware --check FILE [--model TEXT]\n";
    return 64;
}

bool Printable(const std::string& s) {
    for (char c : s) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string model, revision, payloadFile, out, check;
    unsigned long long size = 65536, seed = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if ((a == "--model" || a == "--revision" || a == "--payload" || a == "--size" || a == "--seed" || a == "-o" ||
             a == "--check") && (v = value()) == nullptr) {
            return Usage();
        }
        if (a == "--model") {
            model = v;
        } else if (a == "--revision") {
            revision = v;
        } else if (a == "--payload") {
            payloadFile = v;
        } else if (a == "--size") {
            size = std::strtoull(v, nullptr, 10);
        } else if (a == "--seed") {
            seed = std::strtoull(v, nullptr, 10);
        } else if (a == "-o") {
            out = v;
        } else if (a == "--check") {
            check = v;
        } else {
            return Usage();
        }
    }
    if (!check.empty()) {
        std::ifstream in(check, std::ios::binary);
        if (!in) {
            std::cerr << check << ": cannot read\n";
            return 2;
        }
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        tarvex::sim::FirmwareImageInfo info;
        const auto result = tarvex::sim::CheckFirmwareImage(bytes, model, &info);
        if (result != tarvex::sim::FirmwareCheck::Ok) {
            std::cout << check << ": " << tarvex::sim::FirmwareCheckText(result) << "\n";
            return 1;
        }
        std::cout << check << ": model \"" << info.targetModel << "\", revision \"" << info.newRevision << "\", "
                  << info.imageLength << " bytes\n";
        return 0;
    }
    if (model.empty() || revision.empty() || out.empty() || model.size() > 40 || revision.size() > 8 ||
        !Printable(model) || !Printable(revision) || size > 32u * 1024 * 1024) {
        return Usage();
    }
    std::vector<uint8_t> payload;
    if (!payloadFile.empty()) {
        std::ifstream in(payloadFile, std::ios::binary);
        if (!in) {
            std::cerr << payloadFile << ": cannot read\n";
            return 2;
        }
        payload.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        // A reproducible pseudo-random payload (xorshift), so the same arguments give the same file.
        uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
        payload.resize(size);
        for (auto& b : payload) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<uint8_t>(x);
        }
    }
    const std::vector<uint8_t> image = tarvex::sim::MakeFirmwareImage(model, revision, payload);
    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    o.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!o) {
        std::cerr << out << ": cannot write\n";
        return 2;
    }
    std::cout << out << ": " << image.size() << " bytes for \"" << model << "\", revision " << revision << "\n";
    return 0;
}
