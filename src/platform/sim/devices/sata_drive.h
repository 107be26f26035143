#pragma once
// An emulated SATA SSD: the ATA commands the program sends, answered from the profile and the
// drive's state, with the time-dependent parts (self-tests, security erase, power-on hours,
// vendor statistics) on the platform clock. Commands it does not know, and commands in a
// state that forbids them, are aborted (status 51h, error 04h) as a drive does.
#include <array>
#include <cstdint>
#include <vector>

#include "platform/sim/devices/sim_disk.h"

namespace tarvex::sim {

using Page = std::array<uint8_t, 512>;

class SataDrive : public SimDisk {
public:
    SataDrive(const DiskProfile& profile, DriveState state, SimClock& clock, std::filesystem::path stateFile);

    bool AcceptsAta() const override { return true; }
    // What the clock had finished by then is finished; what still ran when the power went
    // away did not finish: a self-test is logged as interrupted, an erase cut short leaves its
    // password (so the drive comes up locked). A drive with a password comes up locked, one
    // whose BIOS freezes it frozen; the unlock attempts and what the drive held in memory only
    // (firmware pieces, ERASE PREPARE, vendor mode, SCT and write-cache settings) start afresh.
    void PowerOn() override;
    void ExecuteAta(AtaExchange& x) override;
    // An erase that is over by the clock is over for a raw read too; one still running keeps
    // the media away from the host.
    bool MediaReady() override;

    // The pages as the drive would return them now (tests and tools). A drive whose profile
    // replays pages returns those bytes, except the few that follow the drive's state: IDENTIFY
    // words 23..26 once a firmware update changed the revision, word 85 bits 1 and 5 (security
    // enabled, write cache) and word 128 bits 1..4 and 8 (security state); SMART data byte 363
    // once a self-test was started here, and attribute 9 (power-on hours), which grows by the
    // hours the drive has been on here. After such a change the checksum byte keeps its
    // distance from a correct sum: a valid checksum stays valid, a wrong one stays wrong. The
    // threshold page never changes.
    Page IdentifyPage();
    Page SmartDataPage();
    Page SmartThresholdPage();
    Page SelfTestLogPage();

    // The ATA security states.
    [[nodiscard]] bool Locked() const { return state_.locked; }
    [[nodiscard]] bool Frozen() const { return state_.frozen; }

private:
    // Completion of the command in `x`.
    static void Complete(AtaExchange& x);
    static void Abort(AtaExchange& x);
    // Data phases: true when the request carries the data the command needs; else aborts.
    bool DataIn(AtaExchange& x, std::span<const uint8_t> bytes);
    bool DataOut(AtaExchange& x, uint32_t bytes);

    // Lets the clock finish what runs in the background (self-test, erase).
    void Advance();

    void Identify(AtaExchange& x);
    void Smart(AtaExchange& x);
    void SmartReadLog(AtaExchange& x);
    void SmartWriteLog(AtaExchange& x);
    void OfflineImmediate(AtaExchange& x);
    void SetFeatures(AtaExchange& x);
    void DataSetManagement(AtaExchange& x);

    // Self-test (sata_self_test.cpp).
    uint8_t SelfTestStatusByte();
    void StartSelfTest(uint8_t subcommand);
    void EndSelfTest(uint8_t statusByte, uint32_t failingLba);
    void AdvanceSelfTest();

    // Security (sata_security.cpp).
    void Security(AtaExchange& x);
    void AdvanceErase();
    bool PasswordMatches(std::span<const uint8_t> block);
    uint16_t SecurityWord();

    // DOWNLOAD MICROCODE (sata_microcode.cpp).
    void DownloadMicrocode(AtaExchange& x);

    // SCT command transport logs E0h / E1h (sata_sct.cpp).
    bool SctCommand(AtaExchange& x, std::span<const uint8_t> key);
    Page SctStatusPage();
    Page SctTemperatureTable();

    // Vendor statistics of JMF608 drives (sata_vendor.cpp).
    void VendorTableRequest(AtaExchange& x);
    void VendorTableRead(AtaExchange& x);
    void CountCommand(const AtaExchange& x);
    void AddBackgroundCounts();
    std::vector<uint8_t> VendorTable();

    [[nodiscard]] int Temperature() const;

    // Replayed pages (the profile's pages with their live bytes).
    Page ReplayedIdentifyPage();
    Page ReplayedSmartDataPage();
    // Write cache at power-on: on, or as a replayed IDENTIFY page reports it.
    [[nodiscard]] bool WriteCacheAtPowerOn() const;

    // Security: whether ERASE PREPARE came just before (locked, frozen and the attempts left
    // are in the state).
    bool erasePrepared_ = false;
    // DOWNLOAD MICROCODE: the image assembled so far and the block offset expected next.
    std::vector<uint8_t> image_;
    uint32_t nextBlock_ = 0;
    // Vendor statistics sequence.
    bool vendorMode_ = false;
    bool vendorTableSelected_ = false;
    // SCT: the last command, its result, and a data table waiting for a read of log E1h.
    uint16_t sctAction_ = 0;
    uint16_t sctFunction_ = 0;
    uint16_t sctStatus_ = 0;
    bool sctTablePending_ = false;
    uint16_t sctReadTimer_ = 0;
    uint16_t sctWriteTimer_ = 0;
    bool writeCache_ = true;
    uint8_t temperatureInterval_ = 1;
};

// ATA strings: two characters per word, the first in the high byte, blank padded.
void PutAtaString(Page& page, int firstWord, int words, std::string_view text);
void PutWord(Page& page, int word, uint16_t value);
uint16_t GetWord(const Page& page, int word);
// Byte 511 := the value that makes the 512 bytes sum to 0 mod 256.
void SealChecksum(Page& page);
// Byte 511 := the value that gives `page` the sum `original` has (mod 256), so a checksum that
// was right stays right and one that was wrong stays wrong by as much.
void ResealChecksum(Page& page, const Page& original);

}  // namespace tarvex::sim
