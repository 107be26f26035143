#include "platform/linux/linux_locale.h"

#include <array>
#include <cctype>

namespace tarvex::linuxhost {

std::string MessagesLocale(const std::optional<std::string>& lcAll, const std::optional<std::string>& lcMessages,
                           const std::optional<std::string>& lang) {
    for (const auto* v : {&lcAll, &lcMessages, &lang}) {
        if (v->has_value() && !(*v)->empty()) {
            return **v;
        }
    }
    return "C";
}

namespace {

struct LanguageId {
    std::string_view language;  // lower case
    std::string_view territory;  // upper case; empty: any other
    uint16_t id;
};

// Specific entries come before the language's default.
constexpr std::array kLanguages{
    LanguageId{"en", "GB", 2057}, LanguageId{"en", "", 1033},
    LanguageId{"ko", "", 1042},
    LanguageId{"ja", "", 1041},
    LanguageId{"zh", "TW", 1028}, LanguageId{"zh", "HK", 3076}, LanguageId{"zh", "MO", 5124},
    LanguageId{"zh", "SG", 4100}, LanguageId{"zh", "", 2052},
    LanguageId{"de", "", 1031},
    LanguageId{"fr", "", 1036},
    LanguageId{"es", "", 3082},
    LanguageId{"it", "", 1040},
    LanguageId{"pt", "BR", 1046}, LanguageId{"pt", "", 2070},
    LanguageId{"ru", "", 1049},
    LanguageId{"nl", "", 1043},
    LanguageId{"pl", "", 1045},
    LanguageId{"tr", "", 1055},
};

}  // namespace

uint16_t UiLanguageOfLocale(std::string_view locale) {
    // language[_territory][.codeset][@modifier]
    const size_t end = locale.find_first_of(".@");
    const std::string_view name = locale.substr(0, end);
    const size_t underscore = name.find('_');
    std::string language(name.substr(0, underscore));
    for (char& c : language) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string territory(underscore == std::string_view::npos ? std::string_view() : name.substr(underscore + 1));
    for (char& c : territory) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const LanguageId& l : kLanguages) {
        if (l.language == language && (l.territory.empty() || l.territory == territory)) {
            return l.id;
        }
    }
    return 1033;
}

}  // namespace tarvex::linuxhost
