#include "config/value_forms.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::config {
namespace {

using namespace text::literals;

// Full-width digits, "＋", "－" and "．" (GBK A3 xx) as their ASCII forms; other characters
// unchanged.
std::string AsciiNumberForms(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = text::CharLength(s, i);
        if (len == 2 && static_cast<unsigned char>(s[i]) == 0xA3) {
            const unsigned char trail = static_cast<unsigned char>(s[i + 1]);
            if ((trail >= 0xB0 && trail <= 0xB9) || trail == 0xAB || trail == 0xAD ||
                trail == 0xAE) {
                out += static_cast<char>(trail - 0x80);
                i += 2;
                continue;
            }
        }
        out.append(s, i, len);
        i += len;
    }
    return out;
}

std::string ReplaceBytes(std::string_view s, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(s.size());
    std::size_t done = 0;
    for (std::size_t at = s.find(from); at != std::string_view::npos; at = s.find(from, done)) {
        out.append(s, done, at - done);
        out += to;
        done = at + from.size();
    }
    out.append(s, done);
    return out;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads an unsigned decimal run at i; false when there is no digit.
bool ReadInt(std::string_view s, std::size_t& i, long long& out) {
    const std::size_t start = i;
    long long value = 0;
    while (i < s.size() && IsDigit(s[i])) {
        if (value < 100000000)
            value = value * 10 + (s[i] - '0');
        else
            value = 100000000;  // far beyond any field; keeps the check below simple
        ++i;
    }
    out = value;
    return i > start;
}

bool ReadField(std::string_view s, std::size_t& i, std::string_view unit, long long& out) {
    const std::size_t save = i;
    if (ReadInt(s, i, out) && s.substr(i, unit.size()) == unit) {
        i += unit.size();
        return true;
    }
    i = save;
    return false;
}

bool IsLeapYear(long long y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(long long y, long long m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && IsLeapYear(y)) ? 29 : kDays[m - 1];
}

}  // namespace

const std::string& LineBreakToken() {
    static const std::string token = "┊*┊"_gbk;
    return token;
}

// Both conversions replace byte by byte. In GBK neither a CR LF nor the token can start inside a
// two-byte character (their bytes 0D 0A and 2A are no trail bytes), so this equals a search by
// characters on any GBK text, and a stray lead byte before them cannot hide them.
std::string TextToStored(std::string_view textIn) {
    return ReplaceBytes(textIn, "\r\n", LineBreakToken());
}

std::string TextFromStored(std::string_view stored) {
    return ReplaceBytes(stored, LineBreakToken(), "\r\n");
}

std::string NumberToStored(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 13);
    if (result.ec != std::errc()) return "0";
    return std::string(buffer, result.ptr);
}

double NumberFromStored(std::string_view stored) {
    const std::string s = AsciiNumberForms(stored);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const std::size_t mantissa = i;
    std::size_t digits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    std::size_t end = i;
    bool negativeExponent = false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) negativeExponent = s[j++] == '-';
        if (j < s.size() && IsDigit(s[j])) {
            while (j < s.size() && IsDigit(s[j])) ++j;
            end = j;
        } else {
            negativeExponent = false;
        }
    }
    double value = 0;
    const auto result = std::from_chars(s.data() + mantissa, s.data() + end, value);
    if (result.ec == std::errc::result_out_of_range) {
        value = negativeExponent ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc()) {
        return 0;
    }
    return negative ? -value : value;
}

const std::string& TrueText() {
    static const std::string t = "真"_gbk;
    return t;
}

const std::string& FalseText() {
    static const std::string f = "假"_gbk;
    return f;
}

std::string DateTimeToStored(const platform::DateTime& v) {
    static const std::string year = "年"_gbk, month = "月"_gbk, day = "日"_gbk, hour = "时"_gbk,
                             minute = "分"_gbk, second = "秒"_gbk;
    std::string out = std::to_string(v.year) + year + std::to_string(v.month) + month +
                      std::to_string(v.day) + day;
    if (v.second != 0) {
        out += std::to_string(v.hour) + hour + std::to_string(v.minute) + minute +
               std::to_string(v.second) + second;
    } else if (v.minute != 0) {
        out += std::to_string(v.hour) + hour + std::to_string(v.minute) + minute;
    } else if (v.hour != 0) {
        out += std::to_string(v.hour) + hour;
    }
    return out;
}

platform::DateTime DateTimeFromStored(std::string_view s) {
    static const std::string year = "年"_gbk, month = "月"_gbk, day = "日"_gbk, hour = "时"_gbk,
                             minute = "分"_gbk, second = "秒"_gbk;
    long long y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    std::size_t i = 0;
    if (!ReadField(s, i, year, y) || !ReadField(s, i, month, mo) || !ReadField(s, i, day, d)) {
        return {};
    }
    ReadField(s, i, hour, h);
    ReadField(s, i, minute, mi);
    ReadField(s, i, second, se);
    if (i != s.size()) return {};
    // The range of the automation date.
    if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 ||
        mi > 59 || se > 59) {
        return {};
    }
    return platform::DateTime{static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d),
                              static_cast<int>(h), static_cast<int>(mi), static_cast<int>(se)};
}

}  // namespace zembrat::config
