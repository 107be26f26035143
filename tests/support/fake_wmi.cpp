#include "support/fake_wmi.h"

#include <algorithm>

namespace tarvex::test {

namespace {

class FakeObject : public platform::WmiObject {
public:
    explicit FakeObject(FakeWmi::Row row) : row_(std::move(row)) {}
    int32_t Get(std::u16string_view name, platform::Variant* value) override {
        auto it = row_.find(std::u16string(name));
        if (it == row_.end()) {
            return static_cast<int32_t>(0x80041002u);
        }
        *value = it->second;
        return 0;
    }

private:
    FakeWmi::Row row_;
};

class FakeEnumerator : public platform::WmiEnumerator {
public:
    explicit FakeEnumerator(std::vector<FakeWmi::Row> rows) : rows_(std::move(rows)) {}
    int32_t Next(int32_t, std::unique_ptr<platform::WmiObject>* row) override {
        if (next_ >= rows_.size()) {
            row->reset();
            return 1;
        }
        *row = std::make_unique<FakeObject>(rows_[next_++]);
        return 0;
    }

private:
    std::vector<FakeWmi::Row> rows_;
    size_t next_ = 0;
};

class FakeServices : public platform::WmiServices {
public:
    explicit FakeServices(FakeWmi& owner) : owner_(owner) {}
    int32_t SetProxyBlanket() override { return owner_.failBlanket; }
    int32_t ExecQuery(std::u16string_view, std::u16string_view query, uint32_t,
                      std::unique_ptr<platform::WmiEnumerator>* rows) override {
        const std::u16string q(query);
        owner_.queries.push_back(q);
        if (auto f = owner_.failingQueries.find(q); f != owner_.failingQueries.end()) {
            return f->second;
        }
        if (std::find(owner_.nullEnumeratorQueries.begin(), owner_.nullEnumeratorQueries.end(), q) !=
            owner_.nullEnumeratorQueries.end()) {
            rows->reset();
            return 0;
        }
        auto it = owner_.results.find(q);
        *rows = std::make_unique<FakeEnumerator>(it == owner_.results.end() ? std::vector<FakeWmi::Row>{} : it->second);
        return 0;
    }

private:
    FakeWmi& owner_;
};

class FakeLocator : public platform::WmiLocator {
public:
    explicit FakeLocator(FakeWmi& owner) : owner_(owner) {}
    int32_t ConnectServer(std::u16string_view, std::unique_ptr<platform::WmiServices>* services) override {
        if (owner_.failConnect < 0) {
            return owner_.failConnect;
        }
        *services = std::make_unique<FakeServices>(owner_);
        return 0;
    }

private:
    FakeWmi& owner_;
};

}  // namespace

int32_t FakeWmi::CoInitializeEx(uint32_t) {
    if (failInitialize < 0) {
        return failInitialize;
    }
    ++initializeCount;
    return 0;
}

int32_t FakeWmi::CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) {
    if (failLocator < 0) {
        return failLocator;
    }
    *locator = std::make_unique<FakeLocator>(*this);
    return 0;
}

}  // namespace tarvex::test
