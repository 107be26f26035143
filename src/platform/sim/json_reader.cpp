#include "platform/sim/json_reader.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "platform/filetime.h"

namespace tarvex::sim {

using nlohmann::json;

namespace {
std::string TypeName(const json& j) {
    switch (j.type()) {
        case json::value_t::null: return "null";
        case json::value_t::boolean: return "a boolean";
        case json::value_t::string: return "a string";
        case json::value_t::array: return "an array";
        case json::value_t::object: return "an object";
        case json::value_t::number_float: return "a number";
        default: return "an integer";
    }
}
}  // namespace

JsonObject::JsonObject(const json& node, std::string path) : node_(node), path_(std::move(path)) {
    if (!node_.is_object()) {
        throw JsonError(path_, "expected an object, found " + TypeName(node_));
    }
}

bool JsonObject::Has(const std::string& key) const { return node_.contains(key); }

const json* JsonObject::Lookup(const std::string& key) {
    auto it = node_.find(key);
    if (it == node_.end()) {
        return nullptr;
    }
    used_.insert(key);
    return &*it;
}

const json& JsonObject::Required(const std::string& key) {
    const json* j = Lookup(key);
    if (j == nullptr) {
        throw JsonError(PathOf(key), "required field is missing");
    }
    return *j;
}

const json* JsonObject::Raw(const std::string& key) { return Lookup(key); }

std::vector<std::string> JsonObject::Keys() {
    std::vector<std::string> keys;
    for (auto it = node_.begin(); it != node_.end(); ++it) {
        keys.push_back(it.key());
        used_.insert(it.key());
    }
    return keys;
}

static int64_t CheckInt(const json& j, const std::string& path, int64_t min, int64_t max) {
    const std::string want =
        "expected an integer from " + std::to_string(min) + " to " + std::to_string(max);
    if (j.is_number_unsigned()) {
        uint64_t v = j.get<uint64_t>();
        if (v > static_cast<uint64_t>(INT64_MAX) || static_cast<int64_t>(v) > max ||
            static_cast<int64_t>(v) < min) {
            throw JsonError(path, want + ", found " + std::to_string(v));
        }
        return static_cast<int64_t>(v);
    }
    if (j.is_number_integer()) {
        int64_t v = j.get<int64_t>();
        if (v < min || v > max) {
            throw JsonError(path, want + ", found " + std::to_string(v));
        }
        return v;
    }
    throw JsonError(path, want + ", found " + TypeName(j));
}

int64_t JsonObject::Int(const std::string& key, int64_t min, int64_t max) {
    return CheckInt(Required(key), PathOf(key), min, max);
}

std::optional<int64_t> JsonObject::OptionalInt(const std::string& key, int64_t min, int64_t max) {
    const json* j = Lookup(key);
    if (j == nullptr) {
        return std::nullopt;
    }
    return CheckInt(*j, PathOf(key), min, max);
}

static uint64_t CheckUInt64(const json& j, const std::string& path) {
    if (j.is_number_unsigned()) {
        return j.get<uint64_t>();
    }
    if (j.is_number_integer() && j.get<int64_t>() >= 0) {
        return static_cast<uint64_t>(j.get<int64_t>());
    }
    throw JsonError(path, "expected an integer from 0 to 18446744073709551615, found " +
                              (j.is_number_integer() ? j.dump() : TypeName(j)));
}

uint64_t JsonObject::UInt64(const std::string& key) { return CheckUInt64(Required(key), PathOf(key)); }

std::optional<uint64_t> JsonObject::OptionalUInt64(const std::string& key) {
    const json* j = Lookup(key);
    if (j == nullptr) {
        return std::nullopt;
    }
    return CheckUInt64(*j, PathOf(key));
}

static double CheckNumber(const json& j, const std::string& path, double min, double max) {
    if (!j.is_number()) {
        throw JsonError(path, "expected a number, found " + TypeName(j));
    }
    double v = j.get<double>();
    if (!std::isfinite(v) || v < min || v > max) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "expected a number from %g to %g, found %g", min, max, v);
        throw JsonError(path, buf);
    }
    return v;
}

double JsonObject::Number(const std::string& key, double min, double max) {
    return CheckNumber(Required(key), PathOf(key), min, max);
}

std::optional<double> JsonObject::OptionalNumber(const std::string& key, double min, double max) {
    const json* j = Lookup(key);
    if (j == nullptr) {
        return std::nullopt;
    }
    return CheckNumber(*j, PathOf(key), min, max);
}

static std::string CheckString(const json& j, const std::string& path, size_t maxLength) {
    if (!j.is_string()) {
        throw JsonError(path, "expected a string, found " + TypeName(j));
    }
    std::string s = j.get<std::string>();
    if (s.size() > maxLength) {
        throw JsonError(path, "text is longer than " + std::to_string(maxLength) + " bytes");
    }
    return s;
}

std::string JsonObject::String(const std::string& key, size_t maxLength) {
    return CheckString(Required(key), PathOf(key), maxLength);
}

std::optional<std::string> JsonObject::OptionalString(const std::string& key, size_t maxLength) {
    const json* j = Lookup(key);
    if (j == nullptr) {
        return std::nullopt;
    }
    return CheckString(*j, PathOf(key), maxLength);
}

bool JsonObject::Bool(const std::string& key) {
    const json& j = Required(key);
    if (!j.is_boolean()) {
        throw JsonError(PathOf(key), "expected a boolean, found " + TypeName(j));
    }
    return j.get<bool>();
}

std::optional<bool> JsonObject::OptionalBool(const std::string& key) {
    if (!Has(key)) {
        return std::nullopt;
    }
    return Bool(key);
}

JsonObject JsonObject::Object(const std::string& key) { return JsonObject(Required(key), PathOf(key)); }

std::optional<JsonObject> JsonObject::OptionalObject(const std::string& key) {
    const json* j = Lookup(key);
    if (j == nullptr) {
        return std::nullopt;
    }
    return JsonObject(*j, PathOf(key));
}

void JsonObject::Finish() const {
    for (auto it = node_.begin(); it != node_.end(); ++it) {
        if (used_.count(it.key()) == 0) {
            throw JsonError(PathOf(it.key()), "unknown field");
        }
    }
}

std::string ElementPath(const std::string& arrayPath, size_t index) {
    return arrayPath + "[" + std::to_string(index) + "]";
}

const json& RequireArray(const json* node, const std::string& path) {
    if (node == nullptr) {
        throw JsonError(path, "required field is missing");
    }
    if (!node->is_array()) {
        throw JsonError(path, "expected an array, found " + TypeName(*node));
    }
    return *node;
}

namespace {

// Follows the parser through the document, so that a member name given twice in one object is
// refused with its path (the parser itself would keep the last one silently).
class DuplicateKeyCheck {
public:
    bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start:
            case json::parse_event_t::array_start:
                frames_.push_back(Frame{event == json::parse_event_t::array_start, NextPath(), {}, {}, 0});
                break;
            case json::parse_event_t::object_end:
            case json::parse_event_t::array_end:
                frames_.pop_back();
                break;
            case json::parse_event_t::key: {
                Frame& f = frames_.back();
                f.key = parsed.get<std::string>();
                if (!f.keys.insert(f.key).second) {
                    throw JsonError(f.path + "." + f.key, "field given twice");
                }
                break;
            }
            case json::parse_event_t::value:
                if (!frames_.empty() && frames_.back().array) {
                    ++frames_.back().index;
                }
                break;
        }
        return true;
    }

private:
    struct Frame {
        bool array = false;
        std::string path;
        std::set<std::string> keys;
        std::string key;
        size_t index = 0;
    };

    // The path of the value that starts now (an array moves on to its next element).
    std::string NextPath() {
        if (frames_.empty()) {
            return "$";
        }
        Frame& f = frames_.back();
        return f.array ? ElementPath(f.path, f.index++) : f.path + "." + f.key;
    }

    std::vector<Frame> frames_;
};

}  // namespace

json ParseJsonText(const std::string& text) {
    try {
        return json::parse(text, DuplicateKeyCheck());
    } catch (const json::parse_error& e) {
        // Turn the byte offset into a line and column a person can find.
        size_t line = 1, column = 1;
        size_t end = e.byte == 0 ? 0 : std::min<size_t>(e.byte - 1, text.size());
        for (size_t i = 0; i < end; ++i) {
            if (text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        std::string what = e.what();
        auto pos = what.find("syntax error");
        std::string reason = pos == std::string::npos ? what : what.substr(pos);
        throw JsonError("$", "invalid JSON at line " + std::to_string(line) + ", column " +
                                 std::to_string(column) + ": " + reason);
    }
}

int64_t ParseUtcTime(const std::string& text, const std::string& path) {
    unsigned y, mo, d, h, mi, s, ms = 0;
    char tail[8] = {};
    int n = std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%7s", &y, &mo, &d, &h, &mi, &s, tail);
    std::string rest = n == 7 ? tail : "";
    if (rest.size() == 5 && rest[0] == '.' && rest[4] == 'Z' && std::isdigit(rest[1]) &&
        std::isdigit(rest[2]) && std::isdigit(rest[3])) {
        ms = static_cast<unsigned>(std::stoul(rest.substr(1, 3)));
        rest = "Z";
    }
    platform::SystemTime st{static_cast<uint16_t>(y), static_cast<uint16_t>(mo), 0,
                            static_cast<uint16_t>(d), static_cast<uint16_t>(h),
                            static_cast<uint16_t>(mi), static_cast<uint16_t>(s),
                            static_cast<uint16_t>(ms)};
    platform::FileTime ft;
    if (n != 7 || rest != "Z" || !platform::SystemTimeToFileTime(st, &ft)) {
        throw JsonError(path, "expected a UTC time such as \"2017-03-13T20:49:00Z\", found \"" +
                                  text + "\"");
    }
    return platform::UnixMsFromFileTime(ft);
}

}  // namespace tarvex::sim
