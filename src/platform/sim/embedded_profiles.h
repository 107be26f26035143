#pragma once
// Machine profiles built into the program (resources/machines), found by name.
#include <string_view>

namespace tarvex::sim {

struct EmbeddedProfile {
    const char* name;
    const char* text;
};

extern const EmbeddedProfile kEmbeddedProfiles[];
extern const int kEmbeddedProfileCount;

inline const EmbeddedProfile* FindEmbeddedProfile(std::string_view name) {
    for (int i = 0; i < kEmbeddedProfileCount; ++i) {
        if (name == kEmbeddedProfiles[i].name) {
            return &kEmbeddedProfiles[i];
        }
    }
    return nullptr;
}

}  // namespace tarvex::sim
