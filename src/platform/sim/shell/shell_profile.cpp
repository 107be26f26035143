#include "platform/sim/shell/shell_profile.h"

#include "platform/sim/json_reader.h"

namespace tarvex::sim {

ShellProfile ParseShellProfile(const nlohmann::json& node, const std::string& path) {
    JsonObject o(node, path);
    ShellProfile s;
    auto error = [&](const char* key) -> std::optional<uint32_t> {
        // A failure reports a Win32 error number; 0 would be a failure that says success.
        if (auto v = o.OptionalInt(key, 1, 0xFFFFFFFFll)) {
            return static_cast<uint32_t>(*v);
        }
        return std::nullopt;
    };
    s.failCreatePipe = error("failCreatePipe");
    s.failSetInheritable = error("failSetHandleInformation");
    s.failCreateProcess = error("failCreateProcess");
    s.diskpartMissing = o.OptionalBool("diskpartMissing").value_or(false);
    o.Finish();
    return s;
}

}  // namespace tarvex::sim
