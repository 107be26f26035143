// Dump files of real drives' pages: the two forms, the refusals, and how a profile finds them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fmt/format.h>

#include <fstream>

#include "platform/sim/devices/page_dump.h"
#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::vector<uint8_t> Part(const char* tag, std::vector<uint8_t> data, uint32_t announced = UINT32_MAX) {
    const uint32_t size = announced == UINT32_MAX ? static_cast<uint32_t>(data.size()) : announced;
    std::vector<uint8_t> out(tag, tag + 4);
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(size >> shift));
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> Filled(uint8_t value, size_t size = 512) { return std::vector<uint8_t>(size, value); }

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

void WriteFile(const fs::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

std::string Refusal(const std::vector<uint8_t>& bytes) {
    std::string why;
    EXPECT_FALSE(sim::ParsePageDump(bytes, &why).has_value());
    return why;
}

TEST(PageDump, ReadsABarePageAndTaggedPartsInAnyOrder) {
    std::string why;
    auto bare = sim::ParsePageDump(Filled(0x40), &why);
    ASSERT_TRUE(bare) << why;
    ASSERT_TRUE(bare->identify);
    EXPECT_EQ((*bare->identify)[0], 0x40);
    EXPECT_FALSE(bare->smartData || bare->smartThresholds || bare->thresholdExceeded);

    auto tagged = sim::ParsePageDump(Join({Part("SMTH", Filled(3)), Part("SMST", {0, 0, 0, 0}),
                                           Part("IDFY", Filled(1)), Part("SMDT", Filled(2))}),
                                     &why);
    ASSERT_TRUE(tagged) << why;
    EXPECT_EQ((*tagged->identify)[511], 1);
    EXPECT_EQ((*tagged->smartData)[0], 2);
    EXPECT_EQ((*tagged->smartThresholds)[100], 3);
    EXPECT_EQ(tagged->thresholdExceeded, true) << "status 0: threshold exceeded";
    EXPECT_EQ(sim::ParsePageDump(Part("SMST", {0, 0, 0, 1}), &why)->thresholdExceeded, false);
}

TEST(PageDump, RefusesDamagedDumpsWithTheReason) {
    EXPECT_EQ(Refusal({}), "the file is empty");
    EXPECT_EQ(Refusal(Filled(0, 64 * 1024 + 1)), "larger than 64 KiB");
    EXPECT_EQ(Refusal(Join({Part("IDFY", Filled(1)), Part("XY\x01Z", {1, 2})})),
              "unknown part \"XY\\x01Z\" at byte 520 (known: IDFY, SMST, SMDT, SMTH)");
    EXPECT_EQ(Refusal(Part("SMDT", Filled(1, 511))), "the part \"SMDT\" at byte 0 announces 511 bytes; expected 512");
    EXPECT_EQ(Refusal(Part("SMST", {0, 0, 0, 1, 0})), "the part \"SMST\" at byte 0 announces 5 bytes; expected 4");
    auto cut = Part("SMTH", Filled(1));
    cut.resize(300);
    EXPECT_EQ(Refusal(cut), "the part \"SMTH\" at byte 0 is cut short (292 of 512 bytes)");
    EXPECT_EQ(Refusal(Join({Part("SMST", {0, 0, 0, 1}), {'I', 'D', 'F'}})),
              "the part header at byte 12 is cut short (3 of 8 bytes)");
    EXPECT_EQ(Refusal(Join({Part("IDFY", Filled(1)), Part("SMST", {0, 0, 0, 1}), Part("IDFY", Filled(2))})),
              "the part \"IDFY\" at byte 532 repeats the one at byte 0");
    EXPECT_EQ(Refusal(Part("SMST", {0, 0, 0, 2})),
              "the part \"SMST\" at byte 0 holds 2; expected 1 (good) or 0 (threshold exceeded)");
    // 512 bytes that begin with a tag are a tagged dump, not a bare page.
    auto tagged512 = Part("SMTH", Filled(0, 504));
    EXPECT_EQ(Refusal(tagged512), "the part \"SMTH\" at byte 0 announces 504 bytes; expected 512");
}

TEST(PageDump, HexPagesAllowBlanksAndLineBreaksOnly) {
    std::string text;
    for (int i = 0; i < 512; ++i) {
        text += (i % 16 == 0 ? "\n" : " ") + fmt::format("{:02X}", i & 0xFF);
    }
    std::string why;
    auto page = sim::ParsePageHex(text, &why);
    ASSERT_TRUE(page) << why;
    EXPECT_EQ((*page)[255], 0xFF);
    EXPECT_EQ((*page)[256], 0x00);
    EXPECT_FALSE(sim::ParsePageHex(text.substr(0, text.size() - 3), &why));
    EXPECT_EQ(why, "expected 512 bytes, found 511");
    EXPECT_FALSE(sim::ParsePageHex(text + " 00", &why));
    EXPECT_EQ(why, "more than 512 bytes");
    EXPECT_FALSE(sim::ParsePageHex("4 000", &why)) << "a digit pair split by a blank";
    EXPECT_FALSE(sim::ParsePageHex("0x40", &why));
}

json DiskWithDump(const std::string& file) {
    json d = SataDiskJson(0);
    for (const char* key : {"model", "serial", "firmware", "capacityBytes"}) {
        d.erase(key);
    }
    d["sata"] = {{"pages", {{"dumpFile", file}}}};
    return d;
}

std::string LoadError(const json& disk, const fs::path& folder = {}) {
    auto r = sim::LoadMachineProfile(ProfileWithDisks(json::array({disk})).dump(), "t", "t.json", folder);
    EXPECT_FALSE(r.profile);
    return r.error;
}

std::vector<uint8_t> MinimalIdentify() {
    std::vector<uint8_t> p(512, 0);
    p[0] = 0x40;
    const char model[] = "DUMPED DISK";
    for (size_t i = 0; i < sizeof model - 1; ++i) {
        p[54 + (i ^ 1)] = static_cast<uint8_t>(model[i]);
    }
    p[120] = 0x00;  // words 60..61: 0x00100000 sectors
    p[122] = 0x10;
    return p;
}

TEST(PageDump, ProfilesFindDumpFilesBesideThemAndRefuseWhatTheyCannotRead) {
    TempDir dir;
    WriteFile(dir.Path() / "disk.bin", MinimalIdentify());
    auto r = sim::LoadMachineProfile(ProfileWithDisks(json::array({DiskWithDump("disk.bin")})).dump(), "t", "t.json",
                                     dir.Path());
    ASSERT_TRUE(r.profile) << r.error;
    EXPECT_EQ(r.profile->disks[0].model, "DUMPED DISK");
    EXPECT_EQ(r.profile->disks[0].capacitySectors, 0x100000u);
    EXPECT_EQ(r.profile->disks[0].serial, "") << "an empty serial field stays empty";

    EXPECT_EQ(LoadError(DiskWithDump("disk.bin")),
              "t.json: $.disks[0].sata.pages.dumpFile: a relative path needs the folder of a profile file, and "
              "this profile has none (give an absolute path)");
    const std::string missing = (dir.Path() / "none.blob").string();
    EXPECT_EQ(LoadError(DiskWithDump(missing)), "t.json: $.disks[0].sata.pages.dumpFile: " + missing +
                                                    ": cannot read the dump file: No such file or directory");
    EXPECT_EQ(LoadError(DiskWithDump(dir.Path().string())),
              "t.json: $.disks[0].sata.pages.dumpFile: " + dir.Path().string() + ": it is a folder, not a dump file");
    const fs::path fifo = dir.Path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(LoadError(DiskWithDump(fifo.string())),
              "t.json: $.disks[0].sata.pages.dumpFile: " + fifo.string() + ": not a regular file");
    WriteFile(dir.Path() / "bad.blob", Part("SMDT", Filled(0, 100)));
    EXPECT_EQ(LoadError(DiskWithDump("bad.blob"), dir.Path()),
              "t.json: $.disks[0].sata.pages.dumpFile: " + (dir.Path() / "bad.blob").string() +
                  ": the part \"SMDT\" at byte 0 announces 100 bytes; expected 512");
    json noPage = DiskWithDump("x");
    noPage["sata"]["pages"].erase("dumpFile");
    EXPECT_EQ(LoadError(noPage), "t.json: $.disks[0].model: required field is missing")
        << "without an IDENTIFY page the identity is still required";
}

}  // namespace
}  // namespace tarvex::test
