#include "softplc/util/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace softplc {

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string lower(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = fold(c);
  return folded;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (fold(text[i]) != fold(prefix[i])) return false;
  return true;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && starts_with_ignoring_case(a, b);
}

std::string plural(uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string_view trimmed(std::string_view text, std::string_view blanks) {
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const auto at = text.find(separator);
    pieces.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    text.remove_prefix(at + 1);
  }
}

std::string shown(std::string_view text, std::size_t limit) {
  std::string out;
  const std::size_t count = std::min(text.size(), limit);
  for (std::size_t i = 0; i < count; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (count < text.size()) out += "... (" + std::to_string(text.size()) + " characters)";
  return out;
}

std::string csv_field(std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '#' ||
                                        text.back() == ' ' || text.back() == '\t'));
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// Reads a CSV text from the start, record by record, counting lines (a quoted field may span
// several).
class CsvReader {
 public:
  CsvReader(std::string_view text, CsvText& result) : text_(text), result_(result) {}

  void run() {
    while (at_ < text_.size()) {
      std::size_t first = at_;
      while (first < text_.size() && blank(text_[first])) ++first;
      if (line_end(first) || text_[first] == '#') {
        const auto next = text_.find('\n', first);
        if (next == std::string_view::npos) return;
        at_ = next + 1;
        ++line_;
        continue;
      }
      CsvRecord record;
      record.line = line_;
      if (!read_record(record.fields)) return;
      result_.records.push_back(std::move(record));
    }
  }

 private:
  bool line_end(std::size_t at) const {
    return at == text_.size() || text_[at] == '\n' ||
           (text_[at] == '\r' && (at + 1 == text_.size() || text_[at + 1] == '\n'));
  }

  bool fail(std::size_t line, std::string why) {
    result_.faultLine = line;
    result_.fault = std::move(why);
    return false;
  }

  bool read_record(std::vector<std::string>& fields) {
    for (;;) {
      while (at_ < text_.size() && blank(text_[at_])) ++at_;
      std::string field;
      if (at_ < text_.size() && text_[at_] == '"') {
        const std::size_t opened = line_;
        for (++at_;; ++at_) {
          if (at_ == text_.size()) return fail(opened, "a field's opening quote is never closed");
          const char c = text_[at_];
          if (c == '"') {
            if (at_ + 1 < text_.size() && text_[at_ + 1] == '"') {
              ++at_;
            } else {
              break;
            }
          }
          if (c == '\n') ++line_;
          field += c;
        }
        ++at_;
        while (at_ < text_.size() && blank(text_[at_])) ++at_;
        if (at_ < text_.size() && text_[at_] != ',' && !line_end(at_)) {
          return fail(line_, "text after the closing quote of a field (a quote inside a quoted field is written \"\")");
        }
      } else {
        std::size_t end = at_;
        while (end < text_.size() && text_[end] != ',' && !line_end(end)) ++end;
        field = trimmed(text_.substr(at_, end - at_), " \t");
        at_ = end;
      }
      fields.push_back(std::move(field));
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == '\r') ++at_;
      if (at_ < text_.size() && text_[at_] == '\n') {
        ++at_;
        ++line_;
      }
      return true;
    }
  }

  std::string_view text_;
  CsvText& result_;
  std::size_t at_ = 0;
  std::size_t line_ = 1;
};

}  // namespace

CsvText read_csv(std::string_view text) {
  CsvText result;
  CsvReader(text, result).run();
  return result;
}

}  // namespace softplc
