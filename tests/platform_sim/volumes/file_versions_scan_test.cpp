// The version record of a large file: found wherever it lies, across the boundaries of the
// chunks the file is read in, and after a malformed record earlier in the file.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/platform.h"
#include "support/test_machine.h"

namespace tarvex::test {
namespace {

constexpr size_t kChunk = size_t{1} << 20;
const std::string kRecord = std::string("TARVEX-FILE-VERSION:65535.12.3.4") + '\0';

TEST(FileVersions, TheRecordIsFoundAcrossChunkBoundariesOfALargeFile) {
    TempDir host;
    const auto file = host.Path() / "SSDVelmora";
    const auto write = [&](const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; };
    write("MZ");
    sim::SimOptions options;
    options.velmoraHostFile = file;
    TestMachine m(BaseProfile(), options);
    platform::FileVersions& v = *platform::Current().fileVersions;
    const auto expectFound = [&](const std::string& bytes, const std::string& what) {
        write(bytes);
        auto found = v.GetFileVersionInfo(u"SSDVelmora.exe");
        ASSERT_TRUE(found) << what;
        EXPECT_EQ(found->fileVersionMS, (65535u << 16) | 12u) << what;
        EXPECT_EQ(found->fileVersionLS, (3u << 16) | 4u) << what;
    };
    // Records that start just before, at and after the end of the first chunk.
    for (size_t before : {size_t{0}, size_t{1}, size_t{10}, kRecord.size() - 1, kRecord.size(), kRecord.size() + 1}) {
        expectFound(std::string(kChunk - before, 'A') + kRecord, "record starting " + std::to_string(before) +
                                                                      " bytes before the chunk end");
    }
    expectFound(std::string(3 * kChunk + 17, '\0') + kRecord, "record in the fourth chunk");
    expectFound("TARVEX-FILE-VERSION:1.x" + std::string(kChunk, 'B') + kRecord,
                "a malformed record first, the good one in the next chunk");
    // A record cut by the end of the file is none.
    write(std::string(kChunk - 5, 'C') + kRecord.substr(0, kRecord.size() - 1));
    EXPECT_FALSE(v.GetFileVersionInfo(u"SSDVelmora.exe"));
}

}  // namespace
}  // namespace tarvex::test
