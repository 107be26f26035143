#pragma once
// Objects of one emulated PC that every process on it sees (top-level windows of the machine
// scope, named mutexes). Each object is an entry file in a folder of the state directory,
// which the process that made it holds locked (flock) for as long as it lives: an entry that
// nobody holds belongs to a process that ended, however it ended, and counts as gone. A look
// at the entries and the adding of one are made one step by holding the folder's lock file
// (StateLock on LockFile()) around both.
//
// Not thread-safe: the owner serialises its threads.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace tarvex::sim {

class SharedEntries {
public:
    // Entries named "<id as 16 hex digits><suffix>" in `folder`, which is created if missing.
    SharedEntries(std::filesystem::path folder, std::string suffix);
    // Removes the entries this object holds.
    ~SharedEntries();
    SharedEntries(const SharedEntries&) = delete;
    SharedEntries& operator=(const SharedEntries&) = delete;

    // An id that no other entry on the PC has: the process id above, a count of this process
    // below (shared by every object of the process, so two objects never clash either).
    static uint64_t NewId();

    [[nodiscard]] std::filesystem::path LockFile() const { return folder_ / ".lock"; }

    // Adds an entry with `content`, held by this object. The caller holds the folder lock.
    [[nodiscard]] bool Add(uint64_t id, std::string_view content);
    // Replaces the content of an entry this object holds.
    [[nodiscard]] bool Update(uint64_t id, std::string_view content);
    // Removes an entry this object holds; nothing when it holds none of that id.
    void Remove(uint64_t id);
    [[nodiscard]] bool Holds(uint64_t id) const { return held_.count(id) != 0; }
    // The live entries that this object does not hold, by id, with their content (at most
    // kMaxContentBytes of it). The entries of ended processes are removed on the way. The
    // caller holds the folder lock.
    std::map<uint64_t, std::string> Others();

    static constexpr size_t kMaxContentBytes = 4096;

private:
    [[nodiscard]] std::filesystem::path EntryOf(uint64_t id) const;

    std::filesystem::path folder_;
    std::string suffix_;
    std::map<uint64_t, int> held_;  // id -> the locked descriptor of its entry
};

}  // namespace tarvex::sim
