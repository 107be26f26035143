// diskpart's script must reach the disk whole: a write that stops short (a full disk) is a
// failure, never a script that names another disk or none.
#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "support/test_machine.h"
#include "sysinfo/diskpart.h"

namespace tarvex {
namespace {

// A file whose writes report success but keep only the first `keep` bytes of each call.
class ShortWriteFile : public platform::File {
public:
    ShortWriteFile(std::unique_ptr<platform::File> inner, uint32_t keep) : inner_(std::move(inner)), keep_(keep) {}
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override { return inner_->Read(buffer, size, bytesRead); }
    bool Write(const void* data, uint32_t size, uint32_t* bytesWritten) override {
        return inner_->Write(data, std::min(size, keep_), bytesWritten);
    }
    bool Seek(int64_t distance, int origin, uint64_t* newPosition) override {
        return inner_->Seek(distance, origin, newPosition);
    }
    bool GetSize(uint64_t* size) override { return inner_->GetSize(size); }
    bool GetFileTime(platform::FileTime* c, platform::FileTime* a, platform::FileTime* w) override {
        return inner_->GetFileTime(c, a, w);
    }
    bool Flush() override { return inner_->Flush(); }

private:
    std::unique_ptr<platform::File> inner_;
    uint32_t keep_;
};

// The machine's files, with streams that write short.
class ShortWriteFiles : public platform::Files {
public:
    ShortWriteFiles(platform::Files& inner, uint32_t keep) : inner_(inner), keep_(keep) {}
    std::unique_ptr<platform::File> CreateFile(std::u16string_view path, uint32_t access, uint32_t share,
                                               uint32_t disposition, uint32_t flags) override {
        return inner_.CreateFile(path, access, share, disposition, flags);
    }
    std::unique_ptr<platform::File> OpenStream(std::u16string_view path, std::string_view mode) override {
        auto file = inner_.OpenStream(path, mode);
        return file ? std::make_unique<ShortWriteFile>(std::move(file), keep_) : nullptr;
    }
    std::u16string GetCurrentDirectory() override { return inner_.GetCurrentDirectory(); }
    bool SetCurrentDirectory(std::u16string_view path) override { return inner_.SetCurrentDirectory(path); }
    uint32_t GetFileAttributes(std::u16string_view path) override { return inner_.GetFileAttributes(path); }
    bool SetFileAttributes(std::u16string_view path, uint32_t a) override { return inner_.SetFileAttributes(path, a); }
    bool CreateDirectory(std::u16string_view path) override { return inner_.CreateDirectory(path); }
    bool RemoveDirectory(std::u16string_view path) override { return inner_.RemoveDirectory(path); }
    bool DeleteFile(std::u16string_view path) override { return inner_.DeleteFile(path); }
    bool MoveFileEx(std::u16string_view from, std::u16string_view to, uint32_t flags) override {
        return inner_.MoveFileEx(from, to, flags);
    }
    std::unique_ptr<platform::FindHandle> FindFirstFile(std::u16string_view pattern, platform::FindData* first) override {
        return inner_.FindFirstFile(pattern, first);
    }

private:
    platform::Files& inner_;
    uint32_t keep_;
};

TEST(DiskpartScript, AScriptWrittenShortIsAFailure) {
    test::TestMachine machine;
    ShortWriteFiles files(machine->Files(), 9);  // "select di"
    platform::Platform bundle = machine->Platform();
    bundle.files = &files;
    const platform::ScopedPlatform installed(bundle);
    char16_t out[kDiskpartAnswerChars + 1];
    GetDiskpartMsg(out, 1);
    EXPECT_EQ(std::u16string(out), u"GetDiskpartMsg::script file fail : 0x70\n") << "ERROR_DISK_FULL";
}

}  // namespace
}  // namespace tarvex
