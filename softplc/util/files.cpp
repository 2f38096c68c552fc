#include "softplc/util/files.h"

#include <cerrno>
#include <system_error>

namespace softplc {

std::string display_path(const std::filesystem::path& path) {
  constexpr std::size_t kShown = 160;
  std::string text = path.string();
  if (text.size() <= kShown) return text;
  return text.substr(0, kShown / 2) + "..." + text.substr(text.size() - kShown / 4) + " (a path of " +
         std::to_string(text.size()) + " characters)";
}

std::string system_reason(int error) { return std::generic_category().message(error); }

std::FILE* open_file(const std::filesystem::path& path, const char* mode) {
#if defined(_WIN32)
  const std::string text(mode);
  return _wfopen(path.c_str(), std::wstring(text.begin(), text.end()).c_str());
#else
  return std::fopen(path.c_str(), (std::string(mode) + "e").c_str());
#endif
}

Result<std::vector<uint8_t>> read_file_bytes(const std::filesystem::path& path, uint64_t limit) {
  errno = 0;
  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if (bytes.size() + count > limit) {
      std::fclose(file);
      return runtime_error("it is larger than " + std::to_string(limit >> 20) + " MiB");
    }
    bytes.insert(bytes.end(), buffer, buffer + count);
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) return runtime_error(system_reason(error != 0 ? error : EIO));
  return bytes;
}

Status write_file(const std::filesystem::path& path, std::string_view bytes, bool newFile) {
  errno = 0;
#if defined(_WIN32)
  (void)newFile;
  std::FILE* file = open_file(path, "wb");
#else
  std::FILE* file = open_file(path, newFile ? "wbx" : "wb");
#endif
  if (file == nullptr) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) return runtime_error(system_reason(writeError != 0 ? writeError : errno != 0 ? errno : EIO));
  return ok_status();
}

}  // namespace softplc
