#include "platform/sim/sim_registry.h"

#include <sqlite3.h>

#include <cstring>

#include "platform/sim/state_files.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

using platform::FoldCase;
using platform::FoldCaseAscii;
using platform::RegKey;
using platform::Utf16ToUtf8;
namespace win = tarvex::win;

namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

struct RootName {
    RegKey key;
    const char* name;
};
constexpr RootName kRoots[] = {
    {win::HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {win::HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {win::HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {win::HKEY_USERS, "HKEY_USERS"},
};

// One prepared statement, finalised on every path.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { ok_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    [[nodiscard]] bool Ok() const { return ok_; }
    void Bind(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    void Bind(int i, const std::string& s) {
        sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    void BindBlob(int i, const uint8_t* data, size_t size) {
        // A zero-length blob must still be a blob, not NULL.
        static const uint8_t kEmpty = 0;
        sqlite3_bind_blob(stmt_, i, size == 0 ? &kEmpty : data, static_cast<int>(size), SQLITE_TRANSIENT);
    }
    int Step() { return sqlite3_step(stmt_); }
    int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
    std::vector<uint8_t> Blob(int col) {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, col));
        int n = sqlite3_column_bytes(stmt_, col);
        return p == nullptr ? std::vector<uint8_t>{} : std::vector<uint8_t>(p, p + n);
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    bool ok_ = false;
};

bool Exec(sqlite3* db, const char* sql, std::string* error = nullptr) {
    char* msg = nullptr;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, &msg);
    if (rc != SQLITE_OK && error != nullptr) {
        *error = msg != nullptr ? msg : sqlite3_errstr(rc);
    }
    sqlite3_free(msg);
    return rc == SQLITE_OK;
}

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) { active_ = Exec(db_, "BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (active_) {
            Exec(db_, "ROLLBACK");
        }
    }
    [[nodiscard]] bool Active() const { return active_; }
    bool Commit() {
        if (!active_) {
            return false;
        }
        active_ = false;
        if (Exec(db_, "COMMIT")) {
            return true;
        }
        // A commit that failed (a full disk) may leave the transaction open: end it, and keep
        // why it failed.
        failCode_ = sqlite3_extended_errcode(db_);
        if (sqlite3_get_autocommit(db_) == 0) {
            Exec(db_, "ROLLBACK");
        }
        return false;
    }

    // The error code of a failed commit.
    [[nodiscard]] int FailCode() const { return failCode_; }

private:
    sqlite3* db_;
    bool active_;
    int failCode_ = 0;
};

std::vector<std::u16string_view> SplitKeyPath(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

std::string Folded(std::u16string_view s) { return Utf16ToUtf8(FoldCase(s)); }

// A write that failed: ERROR_DISK_FULL when the disk is full, ERROR_GEN_FAILURE otherwise.
uint32_t WriteFailure(int sqliteCode) {
    return (sqliteCode & 0xFF) == SQLITE_FULL ? win::ERROR_DISK_FULL : win::ERROR_GEN_FAILURE;
}

// The mark of a registry store of this program in the database header ("TRVX").
constexpr int64_t kApplicationId = 0x54525658;

bool MarkOurs(sqlite3* db, std::string* error) {
    return Exec(db, "PRAGMA application_id = 1414682200", error);
}

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL,"
    "  name_folded TEXT NOT NULL, UNIQUE(parent, name_folded));"
    "CREATE TABLE IF NOT EXISTS reg_values("
    "  key_id INTEGER NOT NULL, name TEXT NOT NULL, name_folded TEXT NOT NULL,"
    "  type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key_id, name_folded));";

}  // namespace

std::unique_ptr<SimRegistry> SimRegistry::Open(const std::filesystem::path& dbFile,
                                               const std::vector<ProfileRegistryKey>& seed,
                                               std::string* error) {
    // Opening (and making a new store) is one step among the processes of the PC, so none
    // sees another's store half made, and a 0-byte file is never one being created.
    StateLock openLock(dbFile.string() + ".lock");
    if (!openLock.Held()) {
        *error = "cannot open the registry store: " + openLock.Error();
        return nullptr;
    }
    const FileStamp before = StampOf(dbFile);
    const std::string damaged = dbFile.string() +
                                ": the registry store is damaged (%s); delete it to start the registry "
                                "afresh from the profile";
    auto Damaged = [&](const std::string& why) {
        std::string text = damaged;
        text.replace(text.find("%s"), 2, why);
        return text;
    };
    if (before.exists && before.size == 0) {
        *error = Damaged("the file is empty");
        return nullptr;
    }
    {
        std::error_code ec;
        if (before.exists && !std::filesystem::is_regular_file(dbFile, ec)) {
            *error = "cannot open the registry store " + dbFile.string() + ": not a regular file";
            return nullptr;
        }
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(dbFile.c_str(), &db,
                             SQLITE_OPEN_READWRITE | (before.exists ? 0 : SQLITE_OPEN_CREATE) |
                                 SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        *error = "cannot open the registry store " + dbFile.string() + ": " +
                 (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<SimRegistry> reg(new SimRegistry(db));
    sqlite3_busy_timeout(db, 5000);
    std::string why;
    // Whose store it is: ours carries the application id; one from before the id was written
    // has our meta table. Anything else (another database, garbage) is refused, not reseeded.
    if (before.exists) {
        Statement id(db, "PRAGMA application_id");
        if (!id.Ok() || id.Step() != SQLITE_ROW) {
            *error = Damaged(sqlite3_errmsg(db));
            return nullptr;
        }
        const int64_t appId = id.Int(0);
        if (appId != kApplicationId) {
            Statement meta(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'meta'");
            if (appId != 0 || !meta.Ok() || meta.Step() != SQLITE_ROW) {
                *error = Damaged("not a registry store of this program");
                return nullptr;
            }
        }
    }
    // WAL with NORMAL sync: a committed transaction survives a crash of the process.
    if (!Exec(db, "PRAGMA journal_mode=WAL;", &why) || !Exec(db, "PRAGMA synchronous=NORMAL;", &why) ||
        !Exec(db, kSchema, &why)) {
        *error = "cannot prepare the registry store " + dbFile.string() + ": " + why;
        return nullptr;
    }
    if (!reg->Seed(seed, &why)) {
        *error = "cannot fill the registry store " + dbFile.string() + ": " + why;
        return nullptr;
    }
    return reg;
}

SimRegistry::~SimRegistry() { sqlite3_close(db_); }

bool SimRegistry::Seed(const std::vector<ProfileRegistryKey>& seed, std::string* error) {
    Transaction tx(db_);
    if (!tx.Active()) {
        *error = sqlite3_errmsg(db_);
        return false;
    }
    for (const RootName& root : kRoots) {
        Statement st(db_, "INSERT OR IGNORE INTO keys(parent, name, name_folded) VALUES(0, ?, ?)");
        st.Bind(1, std::string(root.name));
        st.Bind(2, FoldCaseAscii(root.name));
        if (st.Step() != SQLITE_DONE) {
            *error = sqlite3_errmsg(db_);
            return false;
        }
    }
    {
        Statement st(db_, "SELECT value FROM meta WHERE key = 'seeded'");
        if (st.Step() == SQLITE_ROW) {
            return MarkOurs(db_, error) && tx.Commit();
        }
    }
    if (!MarkOurs(db_, error)) {
        return false;
    }
    // A new store: write the initial content and mark it, all in this one transaction, so a
    // crash half way leaves an empty store that is filled again on the next start.
    for (const ProfileRegistryKey& key : seed) {
        auto parts = SplitKeyPath(key.path);
        int64_t rootId = -1;
        for (const RootName& root : kRoots) {
            if (!parts.empty() && platform::EqualsIgnoreCase(parts[0], platform::Utf8ToUtf16(root.name))) {
                Handle h;
                KeyOf(root.key, &h);
                rootId = h.keyId;
            }
        }
        if (rootId < 0) {
            *error = "unknown registry root in " + Utf16ToUtf8(key.path);
            return false;
        }
        bool created = false;
        int64_t id = Walk(rootId, std::u16string_view(key.path).substr(parts[0].size()), true, &created);
        if (id < 0) {
            *error = "bad key path " + Utf16ToUtf8(key.path);
            return false;
        }
        for (const ProfileRegistryValue& v : key.values) {
            Statement st(db_,
                         "INSERT INTO reg_values(key_id, name, name_folded, type, data) VALUES(?,?,?,?,?) "
                         "ON CONFLICT(key_id, name_folded) DO UPDATE SET type=excluded.type, data=excluded.data");
            st.Bind(1, id);
            st.Bind(2, Utf16ToUtf8(v.name));
            st.Bind(3, Folded(v.name));
            st.Bind(4, static_cast<int64_t>(v.type));
            st.BindBlob(5, v.data.data(), v.data.size());
            if (st.Step() != SQLITE_DONE) {
                *error = sqlite3_errmsg(db_);
                return false;
            }
        }
    }
    if (!Exec(db_, "INSERT INTO meta(key, value) VALUES('seeded', '1')", error)) {
        return false;
    }
    return tx.Commit();
}

bool SimRegistry::KeyOf(RegKey key, Handle* handle) {
    for (const RootName& root : kRoots) {
        if (key == root.key) {
            Statement st(db_, "SELECT id FROM keys WHERE parent = 0 AND name_folded = ?");
            st.Bind(1, FoldCaseAscii(root.name));
            if (st.Step() != SQLITE_ROW) {
                return false;
            }
            *handle = Handle{st.Int(0), win::KEY_ALL_ACCESS};
            return true;
        }
    }
    auto it = handles_.find(key);
    if (it == handles_.end()) {
        return false;
    }
    *handle = it->second;
    return true;
}

int64_t SimRegistry::Walk(int64_t parentId, std::u16string_view subKey, bool create, bool* created) {
    *created = false;
    int64_t id = parentId;
    for (std::u16string_view part : SplitKeyPath(subKey)) {
        if (part.size() > kMaxKeyNameLength) {
            return -2;
        }
        const std::string folded = Folded(part);
        Statement find(db_, "SELECT id FROM keys WHERE parent = ? AND name_folded = ?");
        find.Bind(1, id);
        find.Bind(2, folded);
        if (find.Step() == SQLITE_ROW) {
            id = find.Int(0);
            continue;
        }
        if (!create) {
            return -1;
        }
        Statement insert(db_, "INSERT INTO keys(parent, name, name_folded) VALUES(?, ?, ?)");
        insert.Bind(1, id);
        insert.Bind(2, Utf16ToUtf8(part));
        insert.Bind(3, folded);
        if (insert.Step() != SQLITE_DONE) {
            return -3;
        }
        id = sqlite3_last_insert_rowid(db_);
        *created = true;
    }
    return id;
}

RegKey SimRegistry::NewHandle(int64_t keyId, uint32_t access) {
    RegKey h = nextHandle_;
    nextHandle_ += 4;
    handles_[h] = Handle{keyId, access & ~(win::KEY_WOW64_64KEY | win::KEY_WOW64_32KEY)};
    return h;
}

uint32_t SimRegistry::RegOpenKeyEx(RegKey root, std::u16string_view subKey, uint32_t /*options*/,
                                   uint32_t samDesired, RegKey* result) {
    if (result == nullptr) {
        return win::ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(mutex_);
    Handle parent;
    if (!KeyOf(root, &parent)) {
        return win::ERROR_INVALID_HANDLE;
    }
    bool created;
    int64_t id = Walk(parent.keyId, subKey, false, &created);
    if (id == -2) {
        return win::ERROR_INVALID_PARAMETER;
    }
    if (id < 0) {
        return win::ERROR_FILE_NOT_FOUND;
    }
    *result = NewHandle(id, samDesired);
    return win::ERROR_SUCCESS;
}

uint32_t SimRegistry::RegCreateKeyEx(RegKey root, std::u16string_view subKey, uint32_t /*options*/,
                                     uint32_t samDesired, RegKey* result, uint32_t* disposition) {
    if (result == nullptr) {
        return win::ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(mutex_);
    Handle parent;
    if (!KeyOf(root, &parent)) {
        return win::ERROR_INVALID_HANDLE;
    }
    Transaction tx(db_);
    if (!tx.Active()) {
        return win::ERROR_GEN_FAILURE;
    }
    bool created = false;
    int64_t id = Walk(parent.keyId, subKey, true, &created);
    if (id == -2) {
        return win::ERROR_INVALID_PARAMETER;
    }
    if (id < 0 || !tx.Commit()) {
        return win::ERROR_GEN_FAILURE;
    }
    if (disposition != nullptr) {
        *disposition = created ? win::REG_CREATED_NEW_KEY : win::REG_OPENED_EXISTING_KEY;
    }
    *result = NewHandle(id, samDesired);
    return win::ERROR_SUCCESS;
}

uint32_t SimRegistry::RegQueryValueEx(RegKey key, std::u16string_view valueName, uint32_t* type,
                                      uint8_t* data, uint32_t* dataSize) {
    std::lock_guard lock(mutex_);
    Handle h;
    if (!KeyOf(key, &h)) {
        return win::ERROR_INVALID_HANDLE;
    }
    if ((h.access & win::KEY_QUERY_VALUE) == 0) {
        return win::ERROR_ACCESS_DENIED;
    }
    if (data != nullptr && dataSize == nullptr) {
        return win::ERROR_INVALID_PARAMETER;
    }
    Statement st(db_, "SELECT type, data FROM reg_values WHERE key_id = ? AND name_folded = ?");
    st.Bind(1, h.keyId);
    st.Bind(2, Folded(valueName));
    if (st.Step() != SQLITE_ROW) {
        return win::ERROR_FILE_NOT_FOUND;
    }
    const auto storedType = static_cast<uint32_t>(st.Int(0));
    const std::vector<uint8_t> bytes = st.Blob(1);
    const auto needed = static_cast<uint32_t>(bytes.size());
    if (type != nullptr) {
        *type = storedType;
    }
    if (data == nullptr) {
        if (dataSize != nullptr) {
            *dataSize = needed;
        }
        return win::ERROR_SUCCESS;
    }
    if (*dataSize < needed) {
        *dataSize = needed;
        return win::ERROR_MORE_DATA;
    }
    if (needed > 0) {
        std::memcpy(data, bytes.data(), needed);
    }
    *dataSize = needed;
    return win::ERROR_SUCCESS;
}

uint32_t SimRegistry::RegSetValueEx(RegKey key, std::u16string_view valueName, uint32_t type,
                                    const uint8_t* data, uint32_t dataSize) {
    std::lock_guard lock(mutex_);
    Handle h;
    if (!KeyOf(key, &h)) {
        return win::ERROR_INVALID_HANDLE;
    }
    if ((h.access & win::KEY_SET_VALUE) == 0) {
        return win::ERROR_ACCESS_DENIED;
    }
    if ((data == nullptr && dataSize > 0) || valueName.size() > kMaxValueNameLength) {
        return win::ERROR_INVALID_PARAMETER;
    }
    // The write lock from the start (BEGIN IMMEDIATE): waiting for another process's write is
    // then covered by the busy timeout, where upgrading a read could fail at once.
    Transaction tx(db_);
    if (!tx.Active()) {
        return win::ERROR_GEN_FAILURE;
    }
    {
        Statement st(db_,
                     "INSERT INTO reg_values(key_id, name, name_folded, type, data) VALUES(?,?,?,?,?) "
                     "ON CONFLICT(key_id, name_folded) DO UPDATE SET type=excluded.type, data=excluded.data");
        st.Bind(1, h.keyId);
        st.Bind(2, Utf16ToUtf8(valueName));
        st.Bind(3, Folded(valueName));
        st.Bind(4, static_cast<int64_t>(type));
        st.BindBlob(5, data, dataSize);
        if (st.Step() != SQLITE_DONE) {
            return WriteFailure(sqlite3_extended_errcode(db_));
        }
    }
    return tx.Commit() ? win::ERROR_SUCCESS : WriteFailure(tx.FailCode());
}

uint32_t SimRegistry::RegCloseKey(RegKey key) {
    std::lock_guard lock(mutex_);
    for (const RootName& root : kRoots) {
        if (key == root.key) {
            return win::ERROR_SUCCESS;
        }
    }
    return handles_.erase(key) == 1 ? win::ERROR_SUCCESS : win::ERROR_INVALID_HANDLE;
}

bool SimRegistry::EnablePrivilege(std::u16string_view privilegeName) {
    std::lock_guard lock(mutex_);
    privileges_.emplace_back(privilegeName);
    return true;
}

std::optional<SimRegistry::Value> SimRegistry::Read(std::u16string_view keyPath,
                                                    std::u16string_view valueName) {
    std::lock_guard lock(mutex_);
    auto parts = SplitKeyPath(keyPath);
    if (parts.empty()) {
        return std::nullopt;
    }
    int64_t rootId = -1;
    {
        Statement st(db_, "SELECT id FROM keys WHERE parent = 0 AND name_folded = ?");
        st.Bind(1, Folded(parts[0]));
        if (st.Step() == SQLITE_ROW) {
            rootId = st.Int(0);
        }
    }
    bool created;
    int64_t id = rootId < 0 ? -1 : Walk(rootId, keyPath.substr(keyPath.find(parts[0]) + parts[0].size()), false, &created);
    if (id < 0) {
        return std::nullopt;
    }
    Statement st(db_, "SELECT type, data FROM reg_values WHERE key_id = ? AND name_folded = ?");
    st.Bind(1, id);
    st.Bind(2, Folded(valueName));
    if (st.Step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return Value{static_cast<uint32_t>(st.Int(0)), st.Blob(1)};
}

size_t SimRegistry::OpenHandleCount() {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

std::vector<std::u16string> SimRegistry::EnabledPrivileges() {
    std::lock_guard lock(mutex_);
    return privileges_;
}

}  // namespace tarvex::sim
