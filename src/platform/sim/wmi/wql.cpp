#include "platform/sim/wmi/wql.h"

namespace tarvex::sim {

namespace {

bool IsIdentChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

class Scanner {
public:
    explicit Scanner(std::u16string_view text) : t_(text) {}

    // Skips blanks; true when at least one was skipped.
    bool Blanks() {
        const size_t start = p_;
        while (p_ < t_.size() && IsSpace(t_[p_])) {
            ++p_;
        }
        return p_ > start;
    }
    [[nodiscard]] bool AtEnd() const { return p_ == t_.size(); }

    // A keyword, matched whole and without regard to case.
    bool Keyword(std::u16string_view word) {
        if (t_.size() - p_ < word.size()) {
            return false;
        }
        for (size_t i = 0; i < word.size(); ++i) {
            if (Lower(t_[p_ + i]) != word[i]) {
                return false;
            }
        }
        if (p_ + word.size() < t_.size() && IsIdentChar(t_[p_ + word.size()])) {
            return false;
        }
        p_ += word.size();
        return true;
    }

    bool Char(char16_t c) {
        if (p_ < t_.size() && t_[p_] == c) {
            ++p_;
            return true;
        }
        return false;
    }

    std::optional<std::u16string> Identifier() {
        const size_t start = p_;
        while (p_ < t_.size() && IsIdentChar(t_[p_])) {
            ++p_;
        }
        if (p_ == start || (t_[start] >= u'0' && t_[start] <= u'9')) {
            return std::nullopt;
        }
        return std::u16string(t_.substr(start, p_ - start));
    }

    // A quoted string ('...' or "...") with backslash escapes of backslash and quotes.
    std::optional<std::u16string> String() {
        if (p_ >= t_.size() || (t_[p_] != u'"' && t_[p_] != u'\'')) {
            return std::nullopt;
        }
        const char16_t quote = t_[p_++];
        std::u16string out;
        while (p_ < t_.size()) {
            const char16_t c = t_[p_++];
            if (c == quote) {
                return out;
            }
            if (c == u'\\') {
                if (p_ >= t_.size()) {
                    return std::nullopt;
                }
                const char16_t next = t_[p_++];
                if (next != u'\\' && next != u'"' && next != u'\'') {
                    return std::nullopt;  // a lone backslash is not a valid escape
                }
                out.push_back(next);
                continue;
            }
            out.push_back(c);
        }
        return std::nullopt;  // unterminated
    }

    // A decimal integer, optionally negative, returned in canonical decimal form.
    std::optional<std::u16string> Number() {
        const size_t start = p_;
        const bool negative = Char(u'-');
        uint64_t v = 0;
        size_t digits = 0;
        while (p_ < t_.size() && t_[p_] >= u'0' && t_[p_] <= u'9') {
            if (v > (UINT64_MAX - 9) / 10) {
                return std::nullopt;
            }
            v = v * 10 + static_cast<uint64_t>(t_[p_++] - u'0');
            ++digits;
        }
        if (digits == 0 || (p_ < t_.size() && IsIdentChar(t_[p_]))) {
            p_ = start;
            return std::nullopt;
        }
        std::u16string out = (negative && v != 0) ? u"-" : u"";
        const std::string d = std::to_string(v);
        out.append(d.begin(), d.end());
        return out;
    }

private:
    std::u16string_view t_;
    size_t p_ = 0;
};

}  // namespace

std::optional<WqlQuery> ParseWql(std::u16string_view text) {
    Scanner s(text);
    s.Blanks();
    if (!s.Keyword(u"select") || (s.Blanks(), !s.Char(u'*'))) {
        return std::nullopt;
    }
    s.Blanks();
    if (!s.Keyword(u"from") || !s.Blanks()) {
        return std::nullopt;
    }
    WqlQuery q;
    auto cls = s.Identifier();
    if (!cls) {
        return std::nullopt;
    }
    q.className = *cls;
    const bool blank = s.Blanks();
    if (s.AtEnd()) {
        return q;
    }
    if (!blank || !s.Keyword(u"where") || !s.Blanks()) {
        return std::nullopt;
    }
    WqlCondition c;
    auto prop = s.Identifier();
    if (!prop) {
        return std::nullopt;
    }
    c.property = *prop;
    s.Blanks();
    if (!s.Char(u'=')) {
        return std::nullopt;
    }
    s.Blanks();
    if (auto str = s.String()) {
        c.isString = true;
        c.text = *str;
    } else if (auto num = s.Number()) {
        c.text = *num;
    } else {
        return std::nullopt;
    }
    s.Blanks();
    if (!s.AtEnd()) {
        return std::nullopt;
    }
    q.where = std::move(c);
    return q;
}

std::u16string EscapeWqlString(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + 8);
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out.push_back(u'\\');
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace tarvex::sim
