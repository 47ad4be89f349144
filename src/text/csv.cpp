#include "text/csv.h"

namespace zembrat::text {

bool CsvNeedsApostrophe(std::string_view cell) {
    return !cell.empty() &&
           std::string_view("=+-@\t\r'").find(cell.front()) != std::string_view::npos;
}

std::string CsvCell(std::string cell, bool text) {
    if (text && CsvNeedsApostrophe(cell)) cell.insert(0, 1, '\'');
    if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
    std::string out = "\"";
    for (const char c : cell) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string CsvLine(const std::vector<std::string>& cells, const std::vector<bool>& text) {
    std::string out;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        if (c) out += ',';
        out += CsvCell(cells[c], text.empty() || text[c]);
    }
    return out + "\r\n";
}

}  // namespace zembrat::text
