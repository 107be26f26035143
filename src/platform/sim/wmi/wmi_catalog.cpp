#include "platform/sim/wmi/wmi_catalog.h"

#include <cstdlib>

#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace {

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (platform::FoldCase(a[i]) != platform::FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

std::u16string Dec(int64_t v) { return platform::Utf8ToUtf16(std::to_string(v)); }

}  // namespace

int WmiSchema::Find(std::u16string_view name) const {
    for (size_t i = 0; i < properties.size(); ++i) {
        if (SameName(properties[i], name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::optional<std::u16string> ComparableText(const platform::Variant& v) {
    switch (v.vt) {
        case win::VT_BSTR: return v.bstrValue;
        case win::VT_I4:
        case win::VT_UINT:
        case win::VT_I2:
        case win::VT_UI1: return Dec(v.intValue);
        case win::VT_BOOL: return v.intValue != 0 ? u"true" : u"false";
        default: return std::nullopt;
    }
}

WmiClassBuilder::WmiClassBuilder(std::u16string className, std::vector<std::u16string> properties) {
    auto s = std::make_shared<WmiSchema>();
    s->className = std::move(className);
    s->properties = std::move(properties);
    schema = std::move(s);
}

WmiClassBuilder& WmiClassBuilder::Row() {
    platform::Variant null;
    null.vt = win::VT_NULL;
    pending_.emplace_back(schema->properties.size(), null);
    current_ = &pending_.back();
    return *this;
}

WmiClassBuilder& WmiClassBuilder::Set(std::u16string_view property, platform::Variant value) {
    const int at = schema->Find(property);
    if (current_ == nullptr || at < 0) {
        // A table that names a property outside its schema is a fault of this file.
        std::abort();
    }
    (*current_)[static_cast<size_t>(at)] = std::move(value);
    return *this;
}

WmiClassBuilder& WmiClassBuilder::Bstr(std::u16string_view property, std::u16string text) {
    platform::Variant v;
    v.vt = win::VT_BSTR;
    v.bstrValue = std::move(text);
    return Set(property, std::move(v));
}

WmiClassBuilder& WmiClassBuilder::I4(std::u16string_view property, int64_t value) {
    platform::Variant v;
    v.vt = win::VT_I4;
    v.intValue = static_cast<int32_t>(value);
    return Set(property, std::move(v));
}

WmiClassBuilder& WmiClassBuilder::Bool(std::u16string_view property, bool value) {
    platform::Variant v;
    v.vt = win::VT_BOOL;
    v.intValue = value ? -1 : 0;  // VARIANT_TRUE
    return Set(property, std::move(v));
}

WmiClassBuilder& WmiClassBuilder::Decimal(std::u16string_view property, uint64_t value) {
    return Bstr(property, platform::Utf8ToUtf16(std::to_string(value)));
}

WmiClassBuilder& WmiClassBuilder::Array(std::u16string_view property, std::vector<std::u16string> texts) {
    platform::Variant v;
    v.vt = win::VT_ARRAY | win::VT_BSTR;
    v.bstrArray = std::move(texts);
    return Set(property, std::move(v));
}

void WmiClassBuilder::Seal() {
    for (WmiValues& values : pending_) {
        rows.push_back(std::make_shared<const WmiValues>(std::move(values)));
    }
    pending_.clear();
    current_ = nullptr;
}

void WmiCatalog::Put(Table table) {
    const std::u16string key = platform::FoldCase(table.schema->className);
    std::lock_guard lock(mutex_);
    tables_[key] = std::move(table);
}

void WmiCatalog::Add(WmiClassBuilder b) {
    b.Seal();
    Put(Table{b.schema, std::move(b.rows), nullptr, {}});
}

void WmiCatalog::AddDynamic(Refresh refresh) {
    WmiClassBuilder b = refresh();
    b.Seal();
    Put(Table{b.schema, {}, std::move(refresh), {}});
}

std::optional<std::u16string> WmiCatalog::ClassName(std::u16string_view className) {
    std::lock_guard lock(mutex_);
    auto it = tables_.find(platform::FoldCase(className));
    if (it == tables_.end()) {
        return std::nullopt;
    }
    return it->second.schema->className;
}

WmiCatalog::Lookup WmiCatalog::Select(std::u16string_view className, const std::u16string* property,
                                      const std::u16string* text, std::vector<WmiRowRef>* out) {
    std::unique_lock lock(mutex_);
    auto it = tables_.find(platform::FoldCase(className));
    if (it == tables_.end()) {
        return Lookup::UnknownClass;
    }
    Table* t = &it->second;
    if (t->refresh) {
        Refresh refresh = t->refresh;
        lock.unlock();  // the refresh reads other parts of the machine
        WmiClassBuilder b = refresh();
        b.Seal();
        lock.lock();
        it = tables_.find(platform::FoldCase(className));
        t = &it->second;
        t->rows = std::move(b.rows);
        t->index.clear();
    }
    out->clear();
    if (property == nullptr) {
        for (const auto& row : t->rows) {
            out->push_back(WmiRowRef{t->schema, row});
        }
        return Lookup::Ok;
    }
    const int at = t->schema->Find(*property);
    if (at < 0) {
        return Lookup::UnknownProperty;
    }
    auto idx = t->index.find(at);
    if (idx == t->index.end()) {
        std::unordered_map<std::u16string, std::vector<size_t>> built;
        for (size_t r = 0; r < t->rows.size(); ++r) {
            if (auto key = ComparableText((*t->rows[r])[static_cast<size_t>(at)])) {
                built[platform::FoldCase(*key)].push_back(r);
            }
        }
        idx = t->index.emplace(at, std::move(built)).first;
    }
    auto hit = idx->second.find(platform::FoldCase(*text));
    if (hit != idx->second.end()) {
        for (size_t r : hit->second) {
            out->push_back(WmiRowRef{t->schema, t->rows[r]});
        }
    }
    return Lookup::Ok;
}

}  // namespace tarvex::sim
