// The text forms in which typed values are kept in the settings file (and in the registry
// stand-in), and their conversion back.
#pragma once

#include <string>
#include <string_view>

#include "platform/datetime.h"

namespace zembrat::config {

// "┊*┊": the line-break token that stands for CR LF inside a stored text.
const std::string& LineBreakToken();
// Every CR LF replaced by the token, and back.
std::string TextToStored(std::string_view text);
std::string TextFromStored(std::string_view stored);

// printf's "%.13g", independent of the C locale.
std::string NumberToStored(double value);
// The longest leading decimal number (sign, digits, point, exponent); 0 when the text does not
// begin with one. Full-width digits, signs and points count as their ASCII forms.
double NumberFromStored(std::string_view stored);

// "真" / "假".
const std::string& TrueText();
const std::string& FalseText();
inline const std::string& BoolToStored(bool value) {
    return value ? TrueText() : FalseText();
}

// "2024年3月9日", then "8时5分7秒", "8时5分" or "8时" as far as the time is not zero.
std::string DateTimeToStored(const platform::DateTime& value);
// Parses that form; anything else (or an impossible date) gives the earliest date-time.
platform::DateTime DateTimeFromStored(std::string_view stored);

}  // namespace zembrat::config
