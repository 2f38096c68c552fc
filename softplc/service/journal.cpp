#include "softplc/service/journal.h"

namespace softplc {

std::string_view journal_priority(std::string_view line, std::string_view previous) {
  constexpr std::string_view kOwn = "softplc: ";
  if (!line.starts_with(kOwn)) return previous;
  const std::string_view said = line.substr(kOwn.size());
  for (const std::string_view warning : {"note:", "warning:", "watchdog:"}) {
    if (said.starts_with(warning)) return "<4>";
  }
  for (const std::string_view info : {"stopped by ", "interrupted by "}) {
    if (said.starts_with(info)) return "<6>";
  }
  return "<3>";
}

JournalPriorities::JournalPriorities(std::ostream& stream)
    : stream_(stream), original_(stream.rdbuf()), lines_(original_) {
  stream_.flush();
  stream_.rdbuf(&lines_);
}

JournalPriorities::~JournalPriorities() {
  lines_.flush_rest();
  stream_.rdbuf(original_);
}

void JournalPriorities::Lines::emit() {
  previous_ = journal_priority(line_, previous_);
  target_->sputn(previous_.data(), static_cast<std::streamsize>(previous_.size()));
  target_->sputn(line_.data(), static_cast<std::streamsize>(line_.size()));
  target_->pubsync();
  line_.clear();
}

void JournalPriorities::Lines::put(char c) {
  line_ += c;
  if (c == '\n') emit();
}

JournalPriorities::Lines::int_type JournalPriorities::Lines::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  std::lock_guard lock(mutex_);
  put(traits_type::to_char_type(c));
  return c;
}

std::streamsize JournalPriorities::Lines::xsputn(const char* text, std::streamsize count) {
  std::lock_guard lock(mutex_);
  for (std::streamsize i = 0; i < count; ++i) put(text[i]);
  return count;
}

// A flush does not cut a line: the rest comes with its end.
int JournalPriorities::Lines::sync() { return 0; }

void JournalPriorities::Lines::flush_rest() {
  std::lock_guard lock(mutex_);
  if (line_.empty()) return;
  line_ += '\n';
  emit();
}

}  // namespace softplc
