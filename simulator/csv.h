// Comma-separated values as RosterLink imports them: a header row naming the
// columns, then one row per person. Quoted cells may hold commas, doubled
// quotes and line breaks.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cwsim {

class CsvError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using CsvRow = std::vector<std::string>;

// Throws CsvError (with the line number) on an unterminated quote, a row
// whose cell count differs from the header's, or text that is not carried
// (text.h), such as a Latin-1 file.
std::vector<CsvRow> parseCsv(std::string_view text);

} // namespace cwsim
