#include "platform/regex_dialect.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace zembrat::platform {
namespace {

// Repeat counts above PCRE2's largest are refused as a minimum and read as "no upper bound"
// as a maximum: no subject the program handles tells the difference.
constexpr std::uint32_t kMaxRepeat = 65535;

bool IsAsciiLetter(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiAlnum(char32_t c) {
    return IsDigit(c) || IsAsciiLetter(c);
}

int HexValue(char32_t c) {
    if (IsDigit(c)) return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Surrogate pairs joined into code points; a lone surrogate stays as it is, and the compile
// refuses it later.
std::u32string CodePoints(std::u16string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char32_t u = s[i];
        if (IsHighSurrogate(u) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
            out.push_back(0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(u);
        }
    }
    return out;
}

void AppendAscii(std::u16string& out, std::string_view ascii) {
    out.append(ascii.begin(), ascii.end());
}

// The character as PCRE2 syntax: letters and digits as they are, everything else as \x{...},
// so that no character of the pattern can take a PCRE2-only meaning ("[:", "\Q", "#" ...).
void AppendLiteral(std::u16string& out, char32_t c) {
    if (IsAsciiAlnum(c)) {
        out.push_back(static_cast<char16_t>(c));
        return;
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\x{%x}", static_cast<unsigned>(c));
    AppendAscii(out, buffer);
}

// Translates a pattern of the component's dialect into PCRE2 syntax that means the same, or
// refuses it where the dialect has a syntax error. Doing this ourselves, rather than setting
// PCRE2 options (ALT_BSUX, EXTRA_BAD_ESCAPE_IS_LITERAL, DOLLAR_ENDONLY ...), is what gives the
// dialect's meaning to the escapes PCRE2 reads otherwise: "\v" is the vertical tab and not a
// class, "\Z" "\A" "\z" "\G" "\h" "\K" "\Q" "\E" "\e" "\a" "\p" are plain letters, "[[:a:]]"
// is a class of characters, "a*+" is an error and not possessive, and "^" / "$" with
// Multiline stop at "\r" as well as "\n".
class Translator {
  public:
    Translator(std::u32string_view pattern, bool multiline) : p_(pattern), multiline_(multiline) {}

    std::optional<std::u16string> Run() {
        groups_ = CountGroups();
        std::size_t depth = 0;
        while (pos_ < p_.size()) {
            const char32_t c = p_[pos_];
            switch (c) {
                case '|':
                    Emit("|");
                    ++pos_;
                    quantifiable_ = false;
                    break;
                case '(':
                    if (Has(pos_ + 1) && p_[pos_ + 1] == '?') {
                        // Only the dialect's three group kinds; no lookbehind, names or flags.
                        const char32_t kind = Has(pos_ + 2) ? p_[pos_ + 2] : 0;
                        if (kind != ':' && kind != '=' && kind != '!') return std::nullopt;
                        Emit("(?");
                        out_.push_back(static_cast<char16_t>(kind));
                        pos_ += 3;
                    } else {
                        Emit("(");
                        ++pos_;
                    }
                    ++depth;
                    quantifiable_ = false;
                    break;
                case ')':
                    if (depth == 0) return std::nullopt;
                    --depth;
                    Emit(")");
                    ++pos_;
                    quantifiable_ = true;  // lookaheads too, as the dialect allows
                    break;
                case '^':
                    // Without Multiline only the start of the subject, not of a search that
                    // goes on from an earlier match.
                    Emit(multiline_ ? "(?<![^\\n\\r])" : "\\A");
                    ++pos_;
                    quantifiable_ = false;
                    break;
                case '$':
                    // Without Multiline only the very end: PCRE2's "$" also matches before a
                    // final line feed.
                    Emit(multiline_ ? "(?![^\\n\\r])" : "\\z");
                    ++pos_;
                    quantifiable_ = false;
                    break;
                case '.':
                    Emit(".");  // compiled with the line-feed newline: anything but "\n"
                    ++pos_;
                    quantifiable_ = true;
                    break;
                case '[':
                    if (!Class()) return std::nullopt;
                    quantifiable_ = true;
                    break;
                case '\\':
                    if (!Escape()) return std::nullopt;
                    break;
                case '*':
                case '+':
                case '?':
                    if (!quantifiable_) return std::nullopt;
                    out_.push_back(static_cast<char16_t>(c));
                    ++pos_;
                    Lazy();
                    break;
                case '{':
                    if (!Brace()) return std::nullopt;
                    break;
                default:
                    AppendLiteral(out_, c);
                    ++pos_;
                    quantifiable_ = true;
                    break;
            }
        }
        if (depth != 0) return std::nullopt;
        return std::move(out_);
    }

  private:
    bool Has(std::size_t i) const { return i < p_.size(); }
    void Emit(std::string_view ascii) { AppendAscii(out_, ascii); }

    // Capturing groups of the whole pattern: a "\N" is a back-reference only when N is at
    // most this, and an octal escape otherwise.
    std::size_t CountGroups() const {
        std::size_t count = 0;
        bool inClass = false;
        for (std::size_t i = 0; i < p_.size(); ++i) {
            const char32_t c = p_[i];
            if (c == '\\') {
                ++i;
            } else if (inClass) {
                inClass = c != ']';
            } else if (c == '[') {
                inClass = true;
                if (Has(i + 1) && p_[i + 1] == '^') ++i;
            } else if (c == '(' && !(Has(i + 1) && p_[i + 1] == '?')) {
                ++count;
            }
        }
        return count;
    }

    // After a quantifier: its lazy form, and no second quantifier ("a**", "a*+", "a{2}?*").
    void Lazy() {
        if (Has(pos_) && p_[pos_] == '?') {
            out_.push_back(u'?');
            ++pos_;
        }
        quantifiable_ = false;
    }

    // "{n}", "{n,}", "{n,m}" is a quantifier; any other "{" is the character itself.
    bool Brace() {
        std::size_t i = pos_ + 1;
        auto number = [&](std::uint64_t& value) {
            const std::size_t start = i;
            value = 0;
            while (Has(i) && IsDigit(p_[i])) {
                value = std::min<std::uint64_t>(value * 10 + (p_[i] - '0'), 1ull << 40);
                ++i;
            }
            return i > start;
        };
        std::uint64_t min = 0, max = 0;
        bool bounded = true;
        bool ok = number(min);
        if (ok && Has(i) && p_[i] == ',') {
            ++i;
            bounded = number(max);
        } else {
            max = min;
        }
        ok = ok && Has(i) && p_[i] == '}';
        if (!ok) {
            AppendLiteral(out_, '{');
            ++pos_;
            quantifiable_ = true;
            return true;
        }
        if (!quantifiable_ || (bounded && max < min) || min > kMaxRepeat) return false;
        std::string text = "{";
        text += std::to_string(min);
        if (!bounded || max > kMaxRepeat) {
            text += ",";
        } else if (max != min) {
            text += ',';
            text += std::to_string(max);
        }
        text += '}';
        Emit(text);
        pos_ = i + 1;
        Lazy();
        return true;
    }

    // The character an escape stands for, the escape's letter at `at` (after the backslash).
    // Sets next to the position after the escape. A "\c" without a control letter is a
    // backslash, and the "c" is read again as a character.
    char32_t CharacterEscape(std::size_t at, bool inClass, std::size_t& next) const {
        const char32_t e = p_[at];
        next = at + 1;
        switch (e) {
            case 'f':
                return 0x0C;
            case 'n':
                return 0x0A;
            case 'r':
                return 0x0D;
            case 't':
                return 0x09;
            case 'v':
                return 0x0B;
            case 'c':
                if (Has(at + 1) && (IsAsciiLetter(p_[at + 1]) ||
                                    (inClass && (IsDigit(p_[at + 1]) || p_[at + 1] == '_')))) {
                    next = at + 2;
                    return p_[at + 1] % 32;
                }
                next = at;
                return '\\';
            case 'x':
                if (Has(at + 2) && HexValue(p_[at + 1]) >= 0 && HexValue(p_[at + 2]) >= 0) {
                    next = at + 3;
                    return static_cast<char32_t>(HexValue(p_[at + 1]) * 16 + HexValue(p_[at + 2]));
                }
                return 'x';
            case 'u': {
                char32_t unit = 0;
                if (!Hex4(at + 1, unit)) return 'u';
                next = at + 5;
                // Two escaped halves of a pair are the one character they encode.
                char32_t low = 0;
                if (IsHighSurrogate(unit) && Has(next + 1) && p_[next] == '\\' &&
                    p_[next + 1] == 'u' && Hex4(next + 2, low) && IsLowSurrogate(low)) {
                    next += 6;
                    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                }
                return unit;
            }
            default:
                break;
        }
        if (e >= '0' && e <= '7') {
            // Octal: up to three digits from 0-3, up to two otherwise (at most 0377).
            const std::size_t most = e <= '3' ? 3 : 2;
            char32_t value = 0;
            std::size_t i = at;
            while (i < at + most && Has(i) && p_[i] >= '0' && p_[i] <= '7') {
                value = value * 8 + (p_[i] - '0');
                ++i;
            }
            next = i;
            return value;
        }
        return e;  // identity escape, "\8" and "\9" included
    }

    bool Hex4(std::size_t at, char32_t& value) const {
        if (!Has(at + 3)) return false;
        value = 0;
        for (std::size_t i = at; i < at + 4; ++i) {
            const int h = HexValue(p_[i]);
            if (h < 0) return false;
            value = value * 16 + static_cast<char32_t>(h);
        }
        return true;
    }

    static bool IsClassEscape(char32_t e) {
        return e == 'd' || e == 'D' || e == 's' || e == 'S' || e == 'w' || e == 'W';
    }

    // At a backslash outside a class.
    bool Escape() {
        if (!Has(pos_ + 1)) return false;  // a pattern cannot end in a lone backslash
        const char32_t e = p_[pos_ + 1];
        if (e == 'b' || e == 'B') {
            Emit(e == 'b' ? "\\b" : "\\B");
            pos_ += 2;
            quantifiable_ = false;
            return true;
        }
        quantifiable_ = true;
        if (IsClassEscape(e)) {
            // PCRE2 without UCP gives these their ASCII meaning, as the dialect does.
            Emit("\\");
            out_.push_back(static_cast<char16_t>(e));
            pos_ += 2;
            return true;
        }
        if (e >= '1' && e <= '9') {
            std::size_t i = pos_ + 1;
            std::uint64_t n = 0;
            while (Has(i) && IsDigit(p_[i])) {
                n = std::min<std::uint64_t>(n * 10 + (p_[i] - '0'), 1ull << 40);
                ++i;
            }
            if (n <= groups_) {
                // Compiled with MATCH_UNSET_BACKREF: a group that has not matched (yet) gives
                // an empty text, as in the dialect, instead of failing.
                Emit("\\g{");
                Emit(std::to_string(n));
                Emit("}");
                pos_ = i;
                return true;
            }
        }
        std::size_t next = 0;
        AppendLiteral(out_, CharacterEscape(pos_ + 1, false, next));
        pos_ = next;
        return true;
    }

    struct ClassAtom {
        char32_t c = 0;
        char32_t set = 0;  // letter of \d \D \s \S \w \W, or 0 for a character
    };

    bool ReadClassAtom(std::size_t& i, ClassAtom& atom) const {
        if (p_[i] != '\\') {
            atom.c = p_[i++];
            return true;
        }
        if (!Has(i + 1)) return false;
        const char32_t e = p_[i + 1];
        if (IsClassEscape(e)) {
            atom.set = e;
            i += 2;
        } else if (e == 'b') {
            atom.c = 0x08;  // backspace inside a class
            i += 2;
        } else {
            std::size_t next = 0;
            atom.c = CharacterEscape(i + 1, true, next);  // digits are octal here
            i = next;
        }
        return true;
    }

    void AppendClassAtom(std::u16string& body, const ClassAtom& atom) const {
        if (atom.set != 0) {
            body.push_back(u'\\');
            body.push_back(static_cast<char16_t>(atom.set));
        } else {
            AppendLiteral(body, atom.c);
        }
    }

    // At "[": a class up to the first unescaped "]". "[" inside is a character.
    bool Class() {
        std::size_t i = pos_ + 1;
        const bool negate = Has(i) && p_[i] == '^';
        if (negate) ++i;
        if (Has(i) && p_[i] == ']') {
            // "[]" matches nothing, "[^]" any character (a line feed too).
            Emit(negate ? "[\\x{0}-\\x{10ffff}]" : "[^\\x{0}-\\x{10ffff}]");
            pos_ = i + 1;
            return true;
        }
        std::u16string body;
        for (;;) {
            if (!Has(i)) return false;
            if (p_[i] == ']') {
                ++i;
                break;
            }
            ClassAtom from;
            if (!ReadClassAtom(i, from)) return false;
            if (Has(i + 1) && p_[i] == '-' && p_[i + 1] != ']') {
                std::size_t j = i + 1;
                ClassAtom to;
                if (!ReadClassAtom(j, to)) return false;
                if (from.set == 0 && to.set == 0 && from.c > to.c) return false;
                // A range with a set at one end is the set, a "-" and the other end.
                AppendClassAtom(body, from);
                if (from.set == 0 && to.set == 0) {
                    body.push_back(u'-');
                } else {
                    AppendLiteral(body, '-');
                }
                AppendClassAtom(body, to);
                i = j;
            } else {
                AppendClassAtom(body, from);
            }
        }
        Emit(negate ? "[^" : "[");
        out_ += body;
        Emit("]");
        pos_ = i;
        return true;
    }

    std::u32string_view p_;
    bool multiline_;
    std::size_t pos_ = 0;
    std::size_t groups_ = 0;
    bool quantifiable_ = false;
    std::u16string out_;
};

}  // namespace

std::optional<std::u16string> TranslatePattern(std::u16string_view pattern, bool multiline) {
    const std::u32string points = CodePoints(pattern);
    return Translator(points, multiline).Run();
}

}  // namespace zembrat::platform
