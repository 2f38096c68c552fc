// softplc's messages in the journal with their level. softplc writes its messages to standard
// error as lines that start with "softplc: "; when standard error is the journal's stream, each line
// gets the syslog priority prefix of what it says, which the journal takes for the line's level and
// removes: <3> a failure or a refusal, <4> a note, a warning or the task watchdog, <6> the end of a
// run by a signal. A line that does not start with "softplc: " continues the message before it. A
// terminal, a file or a pipe sees the plain lines.
#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace softplc {

// The priority prefix of a message line ("<3>"); `previous` is the prefix of the line before, which
// a continuation line keeps.
std::string_view journal_priority(std::string_view line, std::string_view previous);

// While alive, every line written to `stream` goes out with its priority prefix, whole (a line is
// held until its end, so that lines of several threads do not mix within a line).
class JournalPriorities {
 public:
  explicit JournalPriorities(std::ostream& stream);
  ~JournalPriorities();
  JournalPriorities(const JournalPriorities&) = delete;
  JournalPriorities& operator=(const JournalPriorities&) = delete;

 private:
  class Lines : public std::streambuf {
   public:
    explicit Lines(std::streambuf* target) : target_(target) {}
    void flush_rest();

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

   private:
    void put(char c);   // with mutex_ held
    void emit();

    std::streambuf* target_;
    std::mutex mutex_;
    std::string line_;
    std::string_view previous_ = "<3>";
  };

  std::ostream& stream_;
  std::streambuf* original_;
  Lines lines_;
};

}  // namespace softplc
