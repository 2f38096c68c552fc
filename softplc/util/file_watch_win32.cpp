// The file watch on Windows: the file's size and time, polled.
#include "softplc/util/file_watch.h"

namespace softplc {

namespace {

constexpr std::chrono::milliseconds kPoll{200};

}  // namespace

Status FileWatch::open() { return ok_status(); }

// A wait polls stop_ at every look.
void FileWatch::wake() {}

void FileWatch::close() {}

const char* FileWatch::method() const { return "polling"; }

bool FileWatch::wait_for_change(std::chrono::milliseconds timeout) {
  for (auto waited = std::chrono::milliseconds(0); waited < timeout && !stop_; waited += kPoll) {
    std::this_thread::sleep_for(kPoll);
    const Look now = look_at(path_);
    if (!(now == seen_)) {
      seen_ = now;
      return true;
    }
  }
  return false;
}

}  // namespace softplc
