// Feeds arbitrary DeviceIoControl requests to the emulated storage stack of the demo PC: any
// handle it opens (disks, SCSI ports, volumes), any control code, any input, output and
// direct-data sizes, any bytes. The PC is built once per process on a virtual clock, with its
// state directory in a temporary folder of this process that is removed at exit, so nothing
// is saved anywhere else.
//
// Input layout (every field optional; missing bytes read as zero):
//   0      handle: index into the handles the PC opens
//   1      control code: below 0xC0 one of the codes the stack decodes, else bytes 12..15
//   2..3   input size, 4..6 output size, 7..9 direct-data size (little-endian, capped)
//   10     flags: 1 output is the input buffer (in place), 2 the direct buffer's address is
//          written into the input's DataBufferOffset field, 4 the fuzz bytes fill the direct
//          buffer too
//   11     direct buffer misalignment (0..15)
//   12..15 a raw control code; 16.. the input bytes (zero-padded to the input size)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_span.h"
#include "platform/devices.h"
#include "platform/platform.h"
#include "platform/sim/embedded_profiles.h"
#include "platform/sim/machine_profile.h"
#include "platform/sim/sim_machine.h"
#include "platform/win32_values.h"

using namespace tarvex;

namespace {

// Request buffers stay small enough that one input costs little memory: the stack's largest
// transfer (128 KiB) and a little more.
constexpr size_t kMaxBuffer = 0x20000 + 0x1000;

const uint32_t kCodes[] = {
    platform::IOCTL_ATA_PASS_THROUGH,       platform::IOCTL_ATA_PASS_THROUGH_DIRECT,
    platform::IOCTL_IDE_PASS_THROUGH,       platform::SMART_RCV_DRIVE_DATA,
    platform::IOCTL_SCSI_MINIPORT,          platform::IOCTL_SCSI_GET_ADDRESS,
    platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS,
};

struct Harness {
    std::filesystem::path temp;
    std::unique_ptr<sim::SimMachine> machine;
    std::unique_ptr<platform::ScopedPlatform> installed;
    std::vector<std::unique_ptr<platform::Device>> handles;
};

Harness* g = nullptr;

void RemoveTemp() {
    if (g != nullptr) {
        g->handles.clear();
        g->installed.reset();
        g->machine.reset();
        std::error_code ec;
        std::filesystem::remove_all(g->temp, ec);
    }
}

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "storage_requests_fuzz: %s\n", why.c_str());
    std::abort();
}

void Build() {
    g = new Harness();
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarvex-fuzz-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) {
        Die("cannot make a temporary folder");
    }
    g->temp = tmpl;
    std::atexit(RemoveTemp);
    const sim::EmbeddedProfile* demo = sim::FindEmbeddedProfile("demo");
    if (demo == nullptr) {
        Die("no embedded demo profile");
    }
    auto loaded = sim::LoadMachineProfile(demo->text, "demo", "embedded:demo");
    if (!loaded.profile) {
        Die(loaded.error);
    }
    sim::SimOptions options;
    options.stateDir = g->temp / "state";
    options.virtualClock = true;
    std::string error;
    g->machine = sim::SimMachine::Create(*loaded.profile, options, &error);
    if (!g->machine) {
        Die(error);
    }
    g->installed = std::make_unique<platform::ScopedPlatform>(g->machine->Platform());
    std::vector<std::u16string> paths;
    for (int i = 0; i < 8; ++i) {
        const std::string n = std::to_string(i);
        paths.push_back(u"\\\\.\\PhysicalDrive" + std::u16string(n.begin(), n.end()));
        paths.push_back(u"\\\\.\\SCSI" + std::u16string(n.begin(), n.end()) + u":");
    }
    for (char16_t letter = u'C'; letter <= u'H'; ++letter) {
        paths.push_back(std::u16string(u"\\\\.\\") + letter + u":");
    }
    for (const auto& p : paths) {
        auto h = g->machine->Devices().CreateFile(p, win::GENERIC_READ | win::GENERIC_WRITE,
                                                  win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0);
        if (h) {
            g->handles.push_back(std::move(h));
        }
    }
    if (g->handles.empty()) {
        Die("the demo PC opened no device");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    Build();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g == nullptr) {
        Build();
    }
    const platform::ByteReader r(std::span(data, size));
    auto byte = [&](size_t i) -> uint32_t { return r.U8(i).value_or(0); };
    platform::Device& device = *g->handles[byte(0) % g->handles.size()];
    const uint32_t pick = byte(1);
    const uint32_t code = pick < 0xC0 ? kCodes[pick % std::size(kCodes)] : r.U32(12).value_or(0);
    const size_t inSize = std::min<size_t>(byte(2) | (byte(3) << 8), kMaxBuffer);
    const size_t outSize = std::min<size_t>(byte(4) | (byte(5) << 8) | (byte(6) << 16), kMaxBuffer);
    const size_t directSize = std::min<size_t>(byte(7) | (byte(8) << 8) | (byte(9) << 16), kMaxBuffer);
    const uint32_t flags = byte(10);
    const size_t misalign = byte(11) % 16;
    const std::span<const uint8_t> body = size > 16 ? std::span(data + 16, size - 16) : std::span<const uint8_t>();

    // Each buffer is its own allocation of exactly its size, so the sanitizer sees any access
    // past it.
    std::vector<uint8_t> directStore(directSize + 16, 0);
    const std::span<uint8_t> direct = std::span(directStore).subspan(misalign, directSize);
    if ((flags & 4) != 0) {
        std::copy_n(body.begin(), std::min(body.size(), direct.size()), direct.begin());
    }
    const bool inPlace = (flags & 1) != 0;
    std::vector<uint8_t> input(inPlace ? std::max(inSize, outSize) : inSize, 0);
    std::copy_n(body.begin(), std::min(body.size(), inSize), input.begin());
    if ((flags & 2) != 0) {
        (void)platform::ByteWriter(std::span(input).first(inSize))
            .U32(20, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(direct.data())));
    }
    std::vector<uint8_t> separateOutput(inPlace ? 0 : outSize, 0xA5);
    const std::span<uint8_t> output = inPlace ? std::span(input).first(outSize) : std::span(separateOutput);
    uint32_t returned = 0xFFFFFFFFu;
    const bool ok = device.DeviceIoControl(code, std::span<const uint8_t>(input).first(inSize), output, &returned,
                                           direct);
    // What any driver promises: never more back than the output holds, nothing on failure.
    if (returned > outSize || (!ok && returned != 0)) {
        __builtin_trap();
    }
    // The request log is bounded (and tested so elsewhere); emptying it here keeps each input's
    // allocations balanced, so libFuzzer's leak check does not rescan the log after every input.
    g->machine->Devices().ClearRequests();
    return 0;
}
