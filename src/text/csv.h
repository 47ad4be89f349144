// CSV cells as the program's reports write them (RFC 4180 quoting), safe to open in a
// spreadsheet: a text cell that a spreadsheet would take for a formula is written behind an
// apostrophe, which the spreadsheet shows as text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zembrat::text {

// Whether a text cell is written behind an apostrophe: it begins with "=", "+", "-", "@", TAB,
// CR, or the apostrophe itself.
bool CsvNeedsApostrophe(std::string_view cell);

// One cell: quoted when it holds a comma, a quote or a line break; text cells guarded as above.
std::string CsvCell(std::string cell, bool text);

// A header line or a row: the cells, "," between them, CR LF at the end. text: which cells are
// text (the rest are numbers, written as they are); empty: all are text.
std::string CsvLine(const std::vector<std::string>& cells, const std::vector<bool>& text = {});

// The byte-order mark a report begins with, so that a spreadsheet reads it as UTF-8.
inline constexpr std::string_view kCsvBom = "\xEF\xBB\xBF";

}  // namespace zembrat::text
