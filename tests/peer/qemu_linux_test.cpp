// tarvexctl's Linux backend beside smartctl, on the disks of a QEMU guest: one SATA disk on the
// q35 machine's AHCI controller and one NVMe disk. tests/peer/qemu/run-guest.sh boots the guest
// once and leaves what each command printed; every value that both programs show must agree.
// Under CI=true a missing qemu-system-x86_64 or smartctl is a failure, otherwise a skip.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "support/child_process.h"

namespace tarvex::peer {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using test::UnderCi;

std::optional<std::string> ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One command run in the guest.
struct GuestRun {
    bool present = false;  // the guest printed its files
    std::string out;
    std::string err;
    int exitCode = -1;
};

// The outcome of the one boot every test here reads.
struct GuestOutcome {
    bool ran = false;
    bool toolMissing = false;
    std::string failure;  // why the guest gave nothing to compare
    fs::path outDir;
    std::map<std::string, std::string> disks;  // disks.env: what QEMU was told about the disks
    double bootSeconds = 0;
};

GuestOutcome ReadOutcome(const fs::path& work) {
    GuestOutcome g;
    g.outDir = work / "out";
    if (!fs::is_directory(g.outDir)) {
        g.failure = "no guest outputs in " + g.outDir.string();
        return g;
    }
    g.ran = true;
    std::istringstream env(ReadText(work / "disks.env").value_or(""));
    for (std::string kv; std::getline(env, kv);) {
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) {
            g.disks[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
    }
    g.bootSeconds = std::atof(ReadText(work / "boot-seconds").value_or("0").c_str());
    return g;
}

GuestOutcome BootGuest() {
    GuestOutcome g;
    const fs::path work = TARVEX_QEMU_WORK;
    // TARVEX_QEMU_OUTPUTS names the work folder of an earlier boot: its outputs are compared
    // again without booting (while changing the comparisons, or to look at a failure).
    if (const char* earlier = std::getenv("TARVEX_QEMU_OUTPUTS"); earlier != nullptr && *earlier != '\0') {
        return ReadOutcome(earlier);
    }
    const std::string line = "bash " + test::ShellQuote(TARVEX_QEMU_SCRIPT) + " " + test::ShellQuote(work.string()) +
                             " " + test::ShellQuote(TARVEXCTL_PATH);
    const test::ChildRun r = test::RunChild(line);
    if (r.exitCode == 77) {
        g.toolMissing = true;
        g.failure = r.err;
        return g;
    }
    if (r.exitCode != 0) {
        g.failure = "run-guest.sh failed (exit code " + std::to_string(r.exitCode) + "): " + r.err;
        return g;
    }
    return ReadOutcome(work);
}

const GuestOutcome& Guest() {
    static const GuestOutcome outcome = BootGuest();
    return outcome;
}

// A member by dotted path ("identity.model", "a.0.b" for array items); null when absent.
json At(const json& doc, std::string_view path) {
    const json* node = &doc;
    while (!path.empty()) {
        const size_t dot = path.find('.');
        const std::string key(path.substr(0, dot));
        path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
        if (node->is_object() && node->contains(key)) {
            node = &(*node)[key];
        } else if (node->is_array() && !key.empty() && key.find_first_not_of("0123456789") == std::string::npos &&
                   std::stoul(key) < node->size()) {
            node = &(*node)[std::stoul(key)];
        } else {
            return nullptr;
        }
    }
    return *node;
}

// tarvexctl's figure against smartctl's. A figure smartctl does not show fails: the test would
// otherwise compare nothing with nothing.
void ExpectSame(const json& ours, const json& smartctl, const std::string& what) {
    if (smartctl.is_null()) {
        ADD_FAILURE() << what << ": smartctl shows nothing to compare with";
        return;
    }
    EXPECT_EQ(ours, smartctl) << what;
}

// Whole decimal gigabytes of a byte count, as the scan shows capacity.
json Gigabytes(const json& bytes) {
    return bytes.is_number_unsigned() ? json(bytes.get<uint64_t>() / 1000000000) : json(nullptr);
}

class QemuLinuxPeer : public ::testing::Test {
protected:
    void SetUp() override {
        const GuestOutcome& g = Guest();
        if (g.toolMissing) {
            if (UnderCi()) {
                FAIL() << g.failure << "(scripts/setup installs qemu-system-x86 and smartmontools)";
            }
            GTEST_SKIP() << g.failure;
        }
        ASSERT_TRUE(g.ran) << g.failure;
    }

    static GuestRun Run(const std::string& name) {
        const fs::path dir = Guest().outDir;
        GuestRun r;
        const std::optional<std::string> rc = ReadText(dir / (name + ".rc"));
        r.present = rc.has_value();
        r.exitCode = rc ? std::atoi(rc->c_str()) : -1;
        r.out = ReadText(dir / (name + ".out")).value_or("");
        r.err = ReadText(dir / (name + ".err")).value_or("");
        return r;
    }

    // The JSON a command printed; a failure (with its stderr) when it did not exit with one of
    // `exitCodes` or printed no document.
    static json Document(const std::string& name, std::set<int> exitCodes = {0}) {
        const GuestRun r = Run(name);
        if (!r.present) {
            ADD_FAILURE() << name << ": the guest printed no result";
            return json::object();
        }
        EXPECT_TRUE(exitCodes.count(r.exitCode)) << name << " exited with " << r.exitCode << ": " << r.err;
        json doc = json::parse(r.out, nullptr, false);
        if (doc.is_discarded() || !doc.is_object()) {
            ADD_FAILURE() << name << " printed no JSON document: " << r.out.substr(0, 300) << r.err;
            return json::object();
        }
        return doc;
    }

    // smartctl's exit code is a bit mask; the bits QEMU's disks set (a log it does not keep, a
    // command it does not know) are no fault of the program under test. Bits 0 and 1 are: the
    // command line or the device open failed.
    static json Smartctl(const std::string& name) {
        const GuestRun r = Run(name);
        EXPECT_TRUE(r.present) << name << ": the guest printed no result";
        EXPECT_EQ(r.exitCode & 3, 0) << name << " could not read the disk: " << r.err;
        json doc = json::parse(r.out, nullptr, false);
        EXPECT_TRUE(doc.is_object()) << name << " printed no JSON document: " << r.out.substr(0, 300);
        return doc.is_object() ? doc : json::object();
    }

    // The scan's entry for the SATA disk (interface kind 1) or the NVMe disk (kind 3).
    static json ScanEntry(int interfaceKind) {
        const json scan = Document("scan");
        for (const json& d : At(scan, "drives")) {
            if (At(d, "interfaceKind") == interfaceKind) {
                return d;
            }
        }
        return nullptr;
    }
    // The number a file of the guest is named by ("identify-disk1", "health-drive0").
    static std::string NumberOf(const json& entry, const char* field) {
        const json v = At(entry, field);
        return v.is_number_integer() ? std::to_string(v.get<int>()) : "?";
    }
};

TEST_F(QemuLinuxPeer, SmartctlSeesTheDisksQemuWasGiven) {
    // The harness itself: the comparisons below mean something only if smartctl read these disks.
    const auto& d = Guest().disks;
    const json sata = Smartctl("smartctl-sata");
    EXPECT_EQ(At(sata, "model_name"), d.at("sata_model"));
    EXPECT_EQ(At(sata, "serial_number"), d.at("sata_serial"));
    EXPECT_EQ(At(sata, "user_capacity.bytes"), std::stoull(d.at("sata_bytes")));
    const json nvme = Smartctl("smartctl-nvme-namespace");
    EXPECT_EQ(At(nvme, "serial_number"), d.at("nvme_serial"));
    EXPECT_EQ(At(nvme, "user_capacity.bytes"), std::stoull(d.at("nvme_bytes")));

    // Without privileges the scan really runs with no capability at all.
    const GuestRun caps = Run("unprivileged-caps");
    EXPECT_EQ(caps.exitCode, 0) << caps.err;
    EXPECT_NE(caps.out.find("CapEff:\t0000000000000000"), std::string::npos) << caps.out;
    EXPECT_NE(caps.out.find("CapBnd:\t0000000000000000"), std::string::npos) << caps.out;
    std::cout << "guest boot and commands: " << Guest().bootSeconds << " s\n";
}

TEST_F(QemuLinuxPeer, ScanListsTheSataAndTheNvmeDisk) {
    const json scan = Document("scan");
    const json sata = Smartctl("smartctl-sata");
    const json nvme = Smartctl("smartctl-nvme");
    const json nvmeNamespace = Smartctl("smartctl-nvme-namespace");
    EXPECT_EQ(At(scan, "driveCount"), 2) << scan.dump(2);
    EXPECT_EQ(At(scan, "drives").size(), 2u);

    const json s = ScanEntry(1);
    ASSERT_FALSE(s.is_null()) << "no SATA (IDE/SATA) disk in the scan: " << scan.dump(2);
    EXPECT_EQ(At(s, "interface"), "IDE/SATA");
    ExpectSame(At(s, "model"), At(sata, "model_name"), "SATA model");
    ExpectSame(At(s, "serial"), At(sata, "serial_number"), "SATA serial");
    ExpectSame(At(s, "firmware"), At(sata, "firmware_version"), "SATA firmware");
    ExpectSame(At(s, "capacityGB"), Gigabytes(At(sata, "user_capacity.bytes")), "SATA capacity (GB)");
    ExpectSame(At(s, "temperature"), At(sata, "temperature.current"), "SATA temperature");
    ExpectSame(At(s, "attributeCount"), At(sata, "ata_smart_attributes.table").size(), "SATA attribute count");

    const json n = ScanEntry(3);
    ASSERT_FALSE(n.is_null()) << "no NVMe disk in the scan: " << scan.dump(2);
    EXPECT_EQ(At(n, "interface"), "NVMe");
    ExpectSame(At(n, "model"), At(nvme, "model_name"), "NVMe model");
    ExpectSame(At(n, "serial"), At(nvme, "serial_number"), "NVMe serial");
    ExpectSame(At(n, "firmware"), At(nvme, "firmware_version"), "NVMe firmware");
    ExpectSame(At(n, "capacityGB"), Gigabytes(At(nvmeNamespace, "user_capacity.bytes")),
               "NVMe capacity (GB)");
    EXPECT_NE(At(s, "diskNumber"), At(n, "diskNumber"));
}

TEST_F(QemuLinuxPeer, SataIdentityAgreesWithSmartctl) {
    const json s = ScanEntry(1);
    ASSERT_FALSE(s.is_null()) << "no SATA disk in the scan";
    const json id = Document("identify-disk" + NumberOf(s, "diskNumber"));
    const json sc = Smartctl("smartctl-sata");

    EXPECT_EQ(At(id, "drive.interface"), "SATA");
    ExpectSame(At(id, "identity.model"), At(sc, "model_name"), "model");
    ExpectSame(At(id, "identity.serial"), At(sc, "serial_number"), "serial");
    ExpectSame(At(id, "identity.firmware"), At(sc, "firmware_version"), "firmware");
    ExpectSame(At(id, "capacity.sectors"), At(sc, "user_capacity.blocks"), "user-addressable sectors");
    ExpectSame(At(id, "identity.maxLba"), At(sc, "user_capacity.blocks"), "maxLba");
    ExpectSame(At(id, "capacity.bytes"), At(sc, "user_capacity.bytes"), "capacity in bytes");
    ExpectSame(At(id, "capacity.logicalSectorBytes"), At(sc, "logical_block_size"), "logical sector size");
    ExpectSame(At(id, "capacity.physicalSectorBytes"), At(sc, "physical_block_size"), "physical sector size");
    ExpectSame(At(id, "trim.supported"), At(sc, "trim.supported"), "TRIM");
    ExpectSame(At(id, "trim.deterministicRead"), At(sc, "trim.deterministic"), "deterministic read after TRIM");
    ExpectSame(At(id, "trim.zeroedRead"), At(sc, "trim.zeroed"), "zeroes after TRIM");

    // smartctl shows the world wide name as its NAA, OUI and id fields (4 + 24 + 36 bits).
    const json wwn = At(sc, "wwn");
    ASSERT_TRUE(wwn.is_object()) << "smartctl shows no WWN (QEMU was given " << Guest().disks.at("sata_wwn") << ")";
    const uint64_t joined = (At(wwn, "naa").get<uint64_t>() << 60) | (At(wwn, "oui").get<uint64_t>() << 36) |
                            At(wwn, "id").get<uint64_t>();
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(joined));
    EXPECT_EQ(At(id, "identity.wwn"), std::string(hex)) << "WWN";

    // smartctl gives word 80 as it stands; the program lists its bits 1..14.
    const json major = At(sc, "ata_version.major_value");
    ASSERT_TRUE(major.is_number()) << "smartctl shows no ATA major version word";
    json bits = json::array();
    for (int bit = 1; bit <= 14; ++bit) {
        if (major.get<unsigned>() & (1u << bit)) {
            bits.push_back(bit);
        }
    }
    EXPECT_EQ(At(id, "ata.majorVersions"), bits) << "ATA major versions of word 80 = " << major;
    EXPECT_EQ(At(id, "ata.majorVersion"), bits.empty() ? json(nullptr) : bits.back());
    if (At(sc, "ata_security").is_object()) {
        ExpectSame(At(id, "security.enabled"), At(sc, "ata_security.enabled"), "security enabled");
        ExpectSame(At(id, "security.frozen"), At(sc, "ata_security.frozen"), "security frozen");
    }
}

TEST_F(QemuLinuxPeer, SataSmartAgreesWithSmartctl) {
    const json s = ScanEntry(1);
    ASSERT_FALSE(s.is_null()) << "no SATA disk in the scan";
    const json smart = Document("smart-disk" + NumberOf(s, "diskNumber"));
    const json sc = Smartctl("smartctl-sata");

    const json table = At(sc, "ata_smart_attributes.table");
    const json ours = At(smart, "attributes");
    ASSERT_TRUE(table.is_array() && !table.empty()) << "smartctl shows no attribute table";
    ASSERT_EQ(ours.size(), table.size()) << "attributes: " << ours.dump();
    for (size_t i = 0; i < table.size(); ++i) {
        const json& a = ours[i];
        const json& t = table[i];
        SCOPED_TRACE("attribute slot " + std::to_string(i) + ", id " + At(t, "id").dump());
        EXPECT_EQ(At(a, "id"), At(t, "id"));
        EXPECT_EQ(At(a, "current"), At(t, "value"));
        EXPECT_EQ(At(a, "worst"), At(t, "worst"));
        EXPECT_EQ(At(a, "threshold"), At(t, "thresh"));
        EXPECT_EQ(At(a, "raw"), At(t, "raw.value"));
        EXPECT_EQ(At(a, "flags"), At(t, "flags.value"));
        EXPECT_EQ(At(a, "prefailure"), At(t, "flags.prefailure"));
        EXPECT_EQ(At(a, "online"), At(t, "flags.updated_online"));
    }

    ExpectSame(At(smart, "temperature"), At(sc, "temperature.current"), "temperature");
    ExpectSame(At(smart, "powerOnHours"), At(sc, "power_on_time.hours"), "power-on hours");
    ExpectSame(At(smart, "offline.status"), At(sc, "ata_smart_data.offline_data_collection.status.value"),
               "off-line collection status");
    ExpectSame(At(smart, "offline.seconds"), At(sc, "ata_smart_data.offline_data_collection.completion_seconds"),
               "off-line collection time");
    const json selfTest = At(sc, "ata_smart_data.self_test.status.value");
    ASSERT_TRUE(selfTest.is_number()) << "smartctl shows no self-test status";
    EXPECT_EQ(At(smart, "selfTest.status"), selfTest.get<int>() >> 4) << "self-test status";
    EXPECT_EQ(At(smart, "selfTest.remainingPercent"), (selfTest.get<int>() & 15) * 10) << "self-test remaining";
    ExpectSame(At(smart, "selfTest.shortMinutes"), At(sc, "ata_smart_data.self_test.polling_minutes.short"),
               "short self-test minutes");
    ExpectSame(At(smart, "selfTest.extendedMinutes"), At(sc, "ata_smart_data.self_test.polling_minutes.extended"),
               "extended self-test minutes");
    ExpectSame(At(smart, "capabilities.offlineCapability"), At(sc, "ata_smart_data.capabilities.values.0"),
               "off-line capability byte");
    ExpectSame(At(smart, "capabilities.smartCapability"), At(sc, "ata_smart_data.capabilities.values.1"),
               "SMART capability word");
    ExpectSame(At(smart, "capabilities.errorLogging"),
               At(sc, "ata_smart_data.capabilities.error_logging_supported"), "error logging");
    ExpectSame(At(smart, "selfTest.shortAndExtendedSupported"),
               At(sc, "ata_smart_data.capabilities.self_tests_supported"), "self-tests supported");
    ExpectSame(At(smart, "selfTest.conveyanceSupported"),
               At(sc, "ata_smart_data.capabilities.conveyance_self_test_supported"), "conveyance self-test");
    ExpectSame(At(smart, "selfTest.selectiveSupported"),
               At(sc, "ata_smart_data.capabilities.selective_self_test_supported"), "selective self-test");
    if (At(smart, "selfTestLog.read") == true) {
        ExpectSame(At(smart, "selfTestLog.entries").size(), At(sc, "ata_smart_self_test_log.standard.count"),
                   "self-test log entries");
    }

    // SMART RETURN STATUS: smartctl's verdict is the program's.
    const json passed = At(sc, "smart_status.passed");
    ASSERT_TRUE(passed.is_boolean()) << "smartctl shows no SMART status";
    EXPECT_EQ(At(smart, "returnStatus.read"), true) << "SMART RETURN STATUS not read";
    EXPECT_EQ(At(smart, "returnStatus.thresholdExceeded"), !passed.get<bool>()) << "SMART RETURN STATUS";
}

TEST_F(QemuLinuxPeer, SataHealthAgreesWithSmartctl) {
    const json s = ScanEntry(1);
    ASSERT_FALSE(s.is_null()) << "no SATA disk in the scan";
    const json sc = Smartctl("smartctl-sata");
    // health exits 4 for caution and 5 for an attribute below its threshold; both are verdicts.
    const json health = Document("health-drive" + NumberOf(s, "index"), {0, 4, 5});
    ExpectSame(At(health, "temperature"), At(sc, "temperature.current"), "temperature");

    const json table = At(sc, "ata_smart_attributes.table");
    const json ours = At(health, "attributes");
    ASSERT_EQ(ours.size(), table.size()) << ours.dump();
    bool failingNow = false;
    for (size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE("attribute id " + At(table[i], "id").dump());
        EXPECT_EQ(At(ours[i], "id"), At(table[i], "id"));
        EXPECT_EQ(At(ours[i], "current"), At(table[i], "value"));
        EXPECT_EQ(At(ours[i], "worst"), At(table[i], "worst"));
        EXPECT_EQ(At(ours[i], "threshold"), At(table[i], "thresh"));
        EXPECT_EQ(At(ours[i], "raw"), At(table[i], "raw.value"));
        failingNow = failingNow || At(table[i], "when_failed") == "now";
    }
    // smartctl marks an attribute at or below its threshold as failing "now"; the program calls
    // the drive bad (3) only for such an attribute.
    if (!failingNow) {
        EXPECT_NE(At(health, "status"), 3) << "no attribute fails, yet the drive is called bad";
    }
}

TEST_F(QemuLinuxPeer, NvmeIdentityAndHealthAgreeWithSmartctl) {
    const json n = ScanEntry(3);
    ASSERT_FALSE(n.is_null()) << "no NVMe disk in the scan";
    const json id = Document("identify-disk" + NumberOf(n, "diskNumber") + "-nvme");
    const json smart = Document("smart-disk" + NumberOf(n, "diskNumber") + "-nvme");
    const json sc = Smartctl("smartctl-nvme");

    EXPECT_EQ(At(id, "drive.interface"), "NVMe");
    ExpectSame(At(id, "identity.model"), At(sc, "model_name"), "model");
    ExpectSame(At(id, "identity.serial"), At(sc, "serial_number"), "serial");
    ExpectSame(At(id, "identity.firmware"), At(sc, "firmware_version"), "firmware");
    auto hex4 = [](const json& v) -> json {
        if (!v.is_number()) {
            return nullptr;
        }
        char text[8];
        std::snprintf(text, sizeof text, "%04X", v.get<unsigned>());
        return text;
    };
    ExpectSame(At(id, "identity.vendorId"), hex4(At(sc, "nvme_pci_vendor.id")), "PCI vendor id");
    ExpectSame(At(id, "identity.subsystemVendorId"), hex4(At(sc, "nvme_pci_vendor.subsystem_id")),
               "PCI subsystem vendor id");

    const json log = At(sc, "nvme_smart_health_information_log");
    ASSERT_TRUE(log.is_object()) << "smartctl shows no SMART / Health log";
    const json ours = At(smart, "healthLog");
    const std::pair<const char*, const char*> fields[] = {
        {"criticalWarning", "critical_warning"},   {"temperatureCelsius", "temperature"},
        {"availableSpare", "available_spare"},     {"availableSpareThreshold", "available_spare_threshold"},
        {"percentageUsed", "percentage_used"},     {"dataUnitsRead", "data_units_read"},
        {"dataUnitsWritten", "data_units_written"}, {"hostReadCommands", "host_reads"},
        {"hostWriteCommands", "host_writes"},      {"powerCycles", "power_cycles"},
        {"powerOnHours", "power_on_hours"},        {"unsafeShutdowns", "unsafe_shutdowns"},
        {"mediaErrors", "media_errors"},
    };
    for (const auto& [our, theirs] : fields) {
        ExpectSame(At(ours, our), At(log, theirs), our);
    }
    const json kelvin = At(ours, "compositeTemperatureKelvin");
    ASSERT_TRUE(kelvin.is_number()) << ours.dump();
    EXPECT_EQ(kelvin.get<int>() - 273, At(log, "temperature")) << "composite temperature in kelvin";

    // smartctl passes an NVMe disk whose critical warning byte is clear.
    ExpectSame(At(ours, "criticalWarning") == 0, At(sc, "smart_status.passed"), "SMART status");
    const json health = Document("health-drive" + NumberOf(n, "index"), {0, 4, 5});
    ExpectSame(At(health, "temperature"), At(sc, "temperature.current"), "health temperature");
}

TEST_F(QemuLinuxPeer, ReportNamesBothDisks) {
    const GuestRun r = Run("report");
    ASSERT_TRUE(r.present) << "the guest printed no report result";
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string report = ReadText(Guest().outDir / "report.txt").value_or("");
    ASSERT_FALSE(report.empty()) << "no report file; stdout: " << r.out << " stderr: " << r.err;
    for (const char* name : {"smartctl-sata", "smartctl-nvme"}) {
        const json sc = Smartctl(name);
        for (const char* field : {"model_name", "serial_number"}) {
            const json v = At(sc, field);
            ASSERT_TRUE(v.is_string()) << name << " shows no " << field;
            EXPECT_NE(report.find(v.get<std::string>()), std::string::npos)
                << "the report does not name " << v.get<std::string>();
        }
    }
}

TEST_F(QemuLinuxPeer, WithoutPrivilegesTheMessageNamesThePrivilegeAndTheDevice) {
    const GuestRun r = Run("unprivileged-scan");
    ASSERT_TRUE(r.present) << "the guest printed no result of the unprivileged scan";
    // The message is one line of stderr (or the JSON error); it pairs the privilege with its device.
    // Each disk that refused is named with the privilege it lacks.
    bool sataNamed = false;
    bool nvmeNamed = false;
    std::istringstream lines(r.err + "\n" + r.out);
    for (std::string line; std::getline(lines, line);) {
        sataNamed = sataNamed ||
                    (line.find("CAP_SYS_RAWIO") != std::string::npos && line.find("/dev/sda") != std::string::npos);
        nvmeNamed = nvmeNamed ||
                    (line.find("CAP_SYS_ADMIN") != std::string::npos && line.find("/dev/nvme0") != std::string::npos);
    }
    EXPECT_TRUE(sataNamed && nvmeNamed)
        << "a line should name CAP_SYS_RAWIO with /dev/sda and one CAP_SYS_ADMIN with /dev/nvme0\nstderr: " << r.err
        << "\nstdout: " << r.out;
    // A scan that reads nothing from the disks must not claim that it did.
    const json doc = json::parse(r.out, nullptr, false);
    if (r.exitCode == 0 && doc.is_object()) {
        for (const json& d : At(doc, "drives")) {
            EXPECT_EQ(At(d, "attributeCount"), 0) << "SMART attributes read without the privilege: " << d.dump();
        }
    }
}

TEST_F(QemuLinuxPeer, NoSanitizerReportInTheGuest) {
    // The debug build runs with AddressSanitizer (leak checking included) and
    // UndefinedBehaviorSanitizer inside the guest too.
    for (const auto& entry : fs::directory_iterator(Guest().outDir)) {
        if (entry.path().extension() != ".err") {
            continue;
        }
        const std::string err = ReadText(entry.path()).value_or("");
        // "AddressSanitizer:", "LeakSanitizer:" (leaks are checked at exit), "UndefinedBehaviorSanitizer:".
        EXPECT_EQ(err.find("Sanitizer:"), std::string::npos) << entry.path().filename() << ":\n" << err;
        EXPECT_EQ(err.find("runtime error:"), std::string::npos) << entry.path().filename() << ":\n" << err;
    }
}

}  // namespace
}  // namespace tarvex::peer
