#include "platform/sim/wmi/sim_wmi.h"

#include "platform/sim/wmi/wmi_classes.h"
#include "platform/sim/wmi/wql.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace {

class SimWmiObject : public platform::WmiObject {
public:
    explicit SimWmiObject(WmiRowRef row) : row_(std::move(row)) {}
    int32_t Get(std::u16string_view name, platform::Variant* value) override {
        const int at = row_.schema->Find(name);
        if (at < 0) {
            return win::WBEM_E_NOT_FOUND;
        }
        *value = (*row_.values)[static_cast<size_t>(at)];
        return win::S_OK;
    }

private:
    WmiRowRef row_;
};

class SimWmiEnumerator : public platform::WmiEnumerator {
public:
    explicit SimWmiEnumerator(std::vector<WmiRowRef> rows) : rows_(std::move(rows)) {}
    int32_t Next(int32_t /*timeout*/, std::unique_ptr<platform::WmiObject>* row) override {
        if (next_ >= rows_.size()) {
            row->reset();
            return win::WBEM_S_FALSE;
        }
        *row = std::make_unique<SimWmiObject>(rows_[next_++]);
        return win::S_OK;
    }

private:
    std::vector<WmiRowRef> rows_;
    size_t next_ = 0;
};

class SimWmiServices : public platform::WmiServices {
public:
    explicit SimWmiServices(SimWmi& wmi) : wmi_(wmi) {}
    int32_t SetProxyBlanket() override { return wmi_.TakeFault(WmiFaultProfile::On::SetProxyBlanket); }
    int32_t ExecQuery(std::u16string_view language, std::u16string_view query, uint32_t /*flags*/,
                      std::unique_ptr<platform::WmiEnumerator>* rows) override {
        return wmi_.ExecQuery(language, query, rows);
    }

private:
    SimWmi& wmi_;
};

// The namespace as a program may name it: ROOT\CIMV2, or with the local machine in front.
bool IsCimv2(std::u16string_view ns) {
    std::u16string folded = platform::FoldCase(ns);
    for (std::u16string_view prefix : {u"\\\\.\\", u"//./"}) {
        if (folded.rfind(prefix, 0) == 0) {
            folded.erase(0, prefix.size());
        }
    }
    return folded == u"root\\cimv2" || folded == u"root/cimv2";
}

class SimWmiLocator : public platform::WmiLocator {
public:
    explicit SimWmiLocator(SimWmi& wmi) : wmi_(wmi) {}
    int32_t ConnectServer(std::u16string_view ns, std::unique_ptr<platform::WmiServices>* services) override {
        services->reset();
        if (int32_t hr = wmi_.TakeFault(WmiFaultProfile::On::ConnectServer); hr != 0) {
            return hr;
        }
        if (!IsCimv2(ns)) {
            return win::WBEM_E_INVALID_NAMESPACE;
        }
        *services = std::make_unique<SimWmiServices>(wmi_);
        return win::S_OK;
    }

private:
    SimWmi& wmi_;
};

}  // namespace

SimWmi::SimWmi(const MachineProfile& profile, VolumeListing& volumes, std::u16string host)
    : faults_(profile.hardware.wmiFaults), faultUses_(profile.hardware.wmiFaults.size(), 0) {
    BuildWmiCatalog(profile, volumes, host, &catalog_);
}

int32_t SimWmi::TakeFault(WmiFaultProfile::On step, std::u16string_view className) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < faults_.size(); ++i) {
        const WmiFaultProfile& f = faults_[i];
        if (f.on != step || (f.times && faultUses_[i] >= *f.times)) {
            continue;
        }
        if (!f.className.empty() && !platform::EqualsIgnoreCase(f.className, className)) {
            continue;
        }
        ++faultUses_[i];
        // A null enumerator is a success without rows; report it with a mark the caller knows.
        return step == WmiFaultProfile::On::NullEnumerator ? 1 : f.error;
    }
    return 0;
}

int32_t SimWmi::CoInitializeEx(uint32_t coInit) {
    if (int32_t hr = TakeFault(WmiFaultProfile::On::CoInitialize); hr != 0) {
        return hr;
    }
    std::lock_guard lock(mutex_);
    ComState& s = com_[std::this_thread::get_id()];
    if (s.count > 0 && s.mode != coInit) {
        return RPC_E_CHANGED_MODE;
    }
    s.mode = coInit;
    return s.count++ == 0 ? win::S_OK : win::S_FALSE;
}

void SimWmi::CoUninitialize() {
    std::lock_guard lock(mutex_);
    auto it = com_.find(std::this_thread::get_id());
    if (it != com_.end() && --it->second.count <= 0) {
        com_.erase(it);
    }
}

int SimWmi::ComInitCount() {
    std::lock_guard lock(mutex_);
    auto it = com_.find(std::this_thread::get_id());
    return it == com_.end() ? 0 : it->second.count;
}

int32_t SimWmi::CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) {
    locator->reset();
    {
        std::lock_guard lock(mutex_);
        if (com_.find(std::this_thread::get_id()) == com_.end()) {
            return CO_E_NOTINITIALIZED;
        }
    }
    if (int32_t hr = TakeFault(WmiFaultProfile::On::CreateLocator); hr != 0) {
        return hr;
    }
    *locator = std::make_unique<SimWmiLocator>(*this);
    return win::S_OK;
}

int32_t SimWmi::ExecQuery(std::u16string_view language, std::u16string_view query,
                          std::unique_ptr<platform::WmiEnumerator>* rows) {
    rows->reset();
    {
        std::lock_guard lock(mutex_);
        // Keep the recent queries only, so a machine that runs for hours does not grow.
        if (queries_.size() >= 4096) {
            queries_.erase(queries_.begin(), queries_.begin() + 2048);
        }
        queries_.emplace_back(query);
    }
    if (!platform::EqualsIgnoreCase(language, u"WQL")) {
        return WBEM_E_INVALID_QUERY_TYPE;
    }
    const std::optional<WqlQuery> q = ParseWql(query);
    if (!q) {
        return win::WBEM_E_INVALID_QUERY;
    }
    if (int32_t hr = TakeFault(WmiFaultProfile::On::ExecQuery, q->className); hr != 0) {
        return hr;
    }
    std::vector<WmiRowRef> found;
    const WmiCatalog::Lookup result =
        q->where ? catalog_.Select(q->className, &q->where->property, &q->where->text, &found)
                 : catalog_.Select(q->className, nullptr, nullptr, &found);
    switch (result) {
        case WmiCatalog::Lookup::UnknownClass: return win::WBEM_E_INVALID_CLASS;
        case WmiCatalog::Lookup::UnknownProperty: return win::WBEM_E_INVALID_QUERY;
        case WmiCatalog::Lookup::Ok: break;
    }
    if (TakeFault(WmiFaultProfile::On::NullEnumerator, q->className) != 0) {
        return win::S_OK;
    }
    *rows = std::make_unique<SimWmiEnumerator>(std::move(found));
    return win::S_OK;
}

std::vector<std::u16string> SimWmi::Queries() {
    std::lock_guard lock(mutex_);
    return queries_;
}

}  // namespace tarvex::sim
