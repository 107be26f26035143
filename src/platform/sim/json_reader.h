#pragma once
// A strict reader over parsed JSON for machine profiles and other descriptions of the emulated
// world. Every accessor knows its JSON path, so a problem is reported as
// "$.os.major: expected an integer from 0 to 255"; a field that nobody asked for is an error
// when the object is finished.
#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarvex::sim {

// A problem at a JSON path. Thrown inside the emulated PC's loaders and turned into a one-line
// error message at their boundary.
class JsonError : public std::runtime_error {
public:
    JsonError(std::string path, const std::string& problem)
        : std::runtime_error(path + ": " + problem), path_(std::move(path)) {}
    [[nodiscard]] const std::string& Path() const { return path_; }

private:
    std::string path_;
};

class JsonObject {
public:
    // Throws JsonError when `node` is not an object.
    JsonObject(const nlohmann::json& node, std::string path);

    [[nodiscard]] bool Has(const std::string& key) const;
    [[nodiscard]] const std::string& Path() const { return path_; }
    [[nodiscard]] std::string PathOf(const std::string& key) const { return path_ + "." + key; }

    // Typed fields. The Optional forms return nothing when the field is absent; a present
    // field of the wrong type or out of range is an error either way.
    int64_t Int(const std::string& key, int64_t min, int64_t max);
    std::optional<int64_t> OptionalInt(const std::string& key, int64_t min, int64_t max);
    uint64_t UInt64(const std::string& key);
    std::optional<uint64_t> OptionalUInt64(const std::string& key);
    double Number(const std::string& key, double min, double max);
    std::optional<double> OptionalNumber(const std::string& key, double min, double max);
    std::string String(const std::string& key, size_t maxLength = 4096);
    std::optional<std::string> OptionalString(const std::string& key, size_t maxLength = 4096);
    bool Bool(const std::string& key);
    std::optional<bool> OptionalBool(const std::string& key);
    JsonObject Object(const std::string& key);
    std::optional<JsonObject> OptionalObject(const std::string& key);
    // The raw node of a field (marked as used); null when absent.
    const nlohmann::json* Raw(const std::string& key);
    // Every member name of the object, each marked as used.
    std::vector<std::string> Keys();

    // Throws for the first field that no accessor asked for.
    void Finish() const;

private:
    const nlohmann::json& Required(const std::string& key);
    const nlohmann::json* Lookup(const std::string& key);

    const nlohmann::json& node_;
    std::string path_;
    std::set<std::string> used_;
};

// Array helpers: the path of element i, and a typed check of the array itself.
std::string ElementPath(const std::string& arrayPath, size_t index);
const nlohmann::json& RequireArray(const nlohmann::json* node, const std::string& path);

// Parses text into JSON; a syntax error becomes a JsonError at "$" with line and column.
nlohmann::json ParseJsonText(const std::string& text);

// An ISO-8601 UTC time "YYYY-MM-DDThh:mm:ssZ" (optional ".mmm") as milliseconds since 1970.
int64_t ParseUtcTime(const std::string& text, const std::string& path);

}  // namespace tarvex::sim
