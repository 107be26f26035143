#include "support/test_machine.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "platform/sim/machine_profile.h"

namespace tarvex::test {

namespace fs = std::filesystem;

nlohmann::json BaseProfile() {
    return nlohmann::json::parse(R"({
      "formatVersion": 1,
      "os": {"major": 6, "minor": 1, "build": 7601, "servicePack": "Service Pack 1",
             "servicePackMajor": 1},
      "uiLanguage": 1033,
      "program": {"path": "C:\\Tools\\Tarvex.exe", "lastWriteTime": "2017-03-13T20:49:00Z"}
    })");
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarvex-test-XXXXXX";
    char* made = ::mkdtemp(tmpl.data());
    if (made == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << tmpl;
        return;
    }
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only files and folders left by a test must not stop the clean-up.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

TestMachine::TestMachine(const nlohmann::json& profile, sim::SimOptions options)
    : temp_(std::make_unique<TempDir>()) {
    Open(profile, temp_->Path() / "state", std::move(options));
}

TestMachine::TestMachine(const nlohmann::json& profile, const fs::path& stateDir, sim::SimOptions options) {
    Open(profile, stateDir, std::move(options));
}

void TestMachine::Open(const nlohmann::json& profile, const fs::path& stateDir, sim::SimOptions options) {
    auto loaded = sim::LoadMachineProfile(profile.dump(), "test", "test.json");
    if (!loaded.profile) {
        throw std::runtime_error("test profile refused: " + loaded.error);
    }
    options.stateDir = stateDir;
    options.virtualClock = true;
    std::string error;
    machine_ = sim::SimMachine::Create(*loaded.profile, options, &error);
    if (!machine_) {
        throw std::runtime_error("test machine not created: " + error);
    }
    installed_ = std::make_unique<platform::ScopedPlatform>(machine_->Platform());
}

TestMachine::~TestMachine() {
    installed_.reset();
    machine_.reset();
}

fs::path TestMachine::Host(const std::u16string& windowsPath) {
    auto p = machine_->Files().HostPath(windowsPath);
    return p ? *p : fs::path();
}

std::string ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace tarvex::test
