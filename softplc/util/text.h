// Small text helpers of the parsers (command line, debugger, symbol file, register map, requests):
// ASCII case folding, trimming and splitting; text from outside shown safely in a message; CSV
// fields as RFC 4180 writes and reads them.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace softplc {

char fold(char c);   // an ASCII letter in lower case; every other byte as it is
std::string lower(std::string_view text);
bool equal_ignoring_case(std::string_view a, std::string_view b);
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix);

// `text` without the characters of `blanks` at either end.
std::string_view trimmed(std::string_view text, std::string_view blanks = " \t\r");

// The pieces between the separators, empty ones included: "a,,b" gives "a", "", "b"; "" gives "".
std::vector<std::string_view> split(std::string_view text, char separator);

// The whole of `text` as a whole number of type T: decimal digits only (a '-' first for a signed T),
// nothing before or after them, within T's range; none otherwise. The one parser of counts, ports,
// offsets, priorities and sizes that the command line, the debugger and the channels read.
template <class T>
std::optional<T> whole_number(std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "1 cycle", "3 cycles": the count and the word for it.
std::string plural(uint64_t count, std::string_view one, std::string_view many);

// Text that came from outside (a name, a field, a request) as a message may show it: printable
// ASCII as it is, a backslash doubled, line ends and tabs as \n \r \t, any other byte as \xHH;
// beyond `limit` characters of the text, its start and its length ("Abc... (1048576 characters)").
// The result is one line of printable ASCII, whatever `text` holds.
std::string shown(std::string_view text, std::size_t limit = 64);

// One field of a CSV record as RFC 4180 writes it: in double quotes, with each quote doubled, when
// it holds a comma, a quote, a line end, blanks at either end or a leading '#' (which a reader
// that skips comment lines would take for one); otherwise as it is.
std::string csv_field(std::string_view text);

// A record of a CSV text and the line it starts on (1-based).
struct CsvRecord {
  std::size_t line = 0;
  std::vector<std::string> fields;
};

// The records of a CSV text (RFC 4180: fields between commas; a field in double quotes may hold
// commas, line ends and doubled quotes). Lines end in LF or CR LF; blanks around a field are not
// part of it; blank lines and lines that start with '#' are skipped. A quote that is never closed,
// or text after a closing quote, ends the reading: `fault` says what, on line `faultLine`, and
// `records` holds the records before it.
struct CsvText {
  std::vector<CsvRecord> records;
  std::size_t faultLine = 0;   // 0: no fault
  std::string fault;
};
CsvText read_csv(std::string_view text);

}  // namespace softplc
