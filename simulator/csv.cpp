#include "csv.h"

#include "text.h"

namespace cwsim {

std::vector<CsvRow> parseCsv(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3); // byte order mark from spreadsheets
    // Checked whole before anything is imported: a cell the answers could not
    // carry would leave its record unreadable over XML-RPC.
    if (auto bad = firstUncarried(text); bad != std::string_view::npos)
        throw CsvError(placeOf(text, bad) +
                       ": not UTF-8 text that XML-RPC can carry (save the file as UTF-8; control "
                       "characters and characters above U+FFFF, such as emoji, cannot travel)");
    std::vector<CsvRow> rows;
    CsvRow row;
    std::string cell;
    bool quoted = false, cellStarted = false;
    int line = 1, rowLine = 1;
    auto endRow = [&] {
        row.push_back(std::move(cell));
        cell.clear();
        bool blank = row.size() == 1 && row[0].empty() && !cellStarted;
        if (!blank) {
            if (!rows.empty() && row.size() != rows.front().size())
                throw CsvError("line " + std::to_string(rowLine) + ": " +
                               std::to_string(row.size()) + " cells, the header has " +
                               std::to_string(rows.front().size()));
            rows.push_back(std::move(row));
        }
        row.clear();
        cellStarted = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    cell += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == '\n')
                    ++line;
                cell += c;
            }
            continue;
        }
        switch (c) {
        case '"':
            quoted = true;
            cellStarted = true;
            break;
        case ',':
            row.push_back(std::move(cell));
            cell.clear();
            cellStarted = true;
            break;
        case '\r':
            break;
        case '\n':
            endRow();
            rowLine = ++line;
            break;
        default:
            cell += c;
            cellStarted = true;
        }
    }
    if (quoted)
        throw CsvError("line " + std::to_string(rowLine) +
                       ": quoted cell without its closing quote");
    if (cellStarted || !cell.empty())
        endRow();
    return rows;
}

} // namespace cwsim
