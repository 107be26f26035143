#pragma once
// A small emulated PC for one test: a profile (the base one, or the test's own), a fresh
// temporary state directory, a virtual clock, and the platform installed while it lives.
#include <filesystem>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "platform/sim/sim_machine.h"

namespace tarvex::test {

// A Windows 7 SP1 PC with English UI; tests change fields of it and pass it back.
nlohmann::json BaseProfile();

// A fresh folder under the temporary directory, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

class TestMachine {
public:
    explicit TestMachine(const nlohmann::json& profile = BaseProfile(), sim::SimOptions options = {});
    // Reopens a machine on an existing state directory (persistence tests).
    TestMachine(const nlohmann::json& profile, const std::filesystem::path& stateDir,
                sim::SimOptions options = {});
    ~TestMachine();

    sim::SimMachine& Machine() { return *machine_; }
    sim::SimMachine* operator->() { return machine_.get(); }
    [[nodiscard]] const std::filesystem::path& StateDir() const { return machine_->StateDir(); }
    // The host path a Windows path of this machine lands on.
    std::filesystem::path Host(const std::u16string& windowsPath);

private:
    void Open(const nlohmann::json& profile, const std::filesystem::path& stateDir, sim::SimOptions options);

    std::unique_ptr<TempDir> temp_;
    std::unique_ptr<sim::SimMachine> machine_;
    std::unique_ptr<platform::ScopedPlatform> installed_;
};

// Reads a whole host file.
std::string ReadHostFile(const std::filesystem::path& path);

}  // namespace tarvex::test
