#include "softplc/util/files.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace softplc {

std::string detail::larger_than(uint64_t limit) { return "it is larger than " + std::to_string(limit >> 20) + " MiB"; }

std::string display_path(const std::filesystem::path& path) {
  constexpr std::size_t kShown = 160;
  std::string text = path.string();
  if (text.size() <= kShown) return text;
  return text.substr(0, kShown / 2) + "..." + text.substr(text.size() - kShown / 4) + " (a path of " +
         std::to_string(text.size()) + " characters)";
}

std::string system_reason(int error) { return std::generic_category().message(error); }

Status write_file(const std::filesystem::path& path, std::string_view bytes, bool newFile) {
  errno = 0;
  std::FILE* file = newFile ? open_new_file(path) : open_file(path, "wb");
  if (file == nullptr) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) return runtime_error(system_reason(writeError != 0 ? writeError : errno != 0 ? errno : EIO));
  return ok_status();
}

// ---- OutputFile ----------------------------------------------------------------------------------

OutputFile::OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    release();
    file_ = std::exchange(other.file_, nullptr);
    fd_ = std::exchange(other.fd_, -1);
    wake_[0] = std::exchange(other.wake_[0], -1);
    wake_[1] = std::exchange(other.wake_[1], -1);
    pipe_ = other.pipe_;
    cancelled_ = other.cancelled_.load();
  }
  return *this;
}

OutputFile::~OutputFile() { release(); }

}  // namespace softplc
