// Files on Windows: wide names through the C runtime; a trace's file is an ordinary one.
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <random>
#include <system_error>
#include <utility>

#include "softplc/util/files.h"
#include "softplc/util/process.h"

namespace softplc {

namespace {

// What a path that is not a regular file is, as the reason for refusing it.
std::string not_regular(unsigned mode) {
  if ((mode & _S_IFMT) == _S_IFDIR) return "it is a directory, not a file";
  if ((mode & _S_IFMT) == _S_IFCHR) return "it is a device, not a regular file";
  return "it is not a regular file";
}

}  // namespace

std::FILE* open_file(const std::filesystem::path& path, const char* mode) {
  const std::string text(mode);
  return _wfopen(path.c_str(), std::wstring(text.begin(), text.end()).c_str());
}

std::FILE* open_new_file(const std::filesystem::path& path) { return open_file(path, "wb"); }

Result<std::vector<uint8_t>> read_file_bytes(const std::filesystem::path& path, uint64_t limit) {
  struct _stat64 status {};
  if (_wstat64(path.c_str(), &status) != 0) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  if ((status.st_mode & _S_IFMT) != _S_IFREG) return runtime_error(not_regular(status.st_mode));
  errno = 0;
  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  // What was opened is what counts: the name may have been given to something else in between.
  if (_fstat64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
    std::fclose(file);
    return runtime_error(not_regular(status.st_mode));
  }
  if (static_cast<uint64_t>(status.st_size) > limit) {
    std::fclose(file);
    return runtime_error(detail::larger_than(limit));
  }
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if (bytes.size() + count > limit) {
      std::fclose(file);
      return runtime_error(detail::larger_than(limit));
    }
    bytes.insert(bytes.end(), buffer, buffer + count);
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) return runtime_error(system_reason(error != 0 ? error : EIO));
  return bytes;
}

Result<std::filesystem::path> create_private_folder(const std::filesystem::path& base, const std::string& prefix) {
  std::random_device random;
  std::error_code ec;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::filesystem::path folder =
        base / (prefix + std::to_string(process_id()) + "-" + std::to_string(random() % 1000000));
    if (std::filesystem::create_directory(folder, ec)) return folder;
    if (ec) return runtime_error(ec.message());
  }
  return runtime_error("every name tried exists");
}

// ---- OutputFile ----------------------------------------------------------------------------------

Result<OutputFile> OutputFile::create(const std::filesystem::path& path, const std::function<bool()>&) {
  errno = 0;
  std::FILE* file = open_file(path, "wb");
  if (file == nullptr) return runtime_error(system_reason(errno != 0 ? errno : EIO));
  // The caller writes in large pieces: the stream needs no buffer of its own.
  std::setvbuf(file, nullptr, _IONBF, 0);
  OutputFile output;
  output.file_ = file;
  return output;
}

std::size_t OutputFile::atomic_bytes() { return 0; }

OutputFile::Written OutputFile::write(std::span<const char> bytes) {
  Written written;
  errno = 0;
  written.bytes = std::fwrite(bytes.data(), 1, bytes.size(), file_);
  if (written.bytes != bytes.size()) written.error = errno != 0 ? errno : EIO;
  return written;
}

void OutputFile::cancel() { cancelled_ = true; }

void OutputFile::truncate(uint64_t size) {
  if (file_ != nullptr) (void)_chsize_s(_fileno(file_), static_cast<__int64>(size));
}

Status OutputFile::close() {
  if (file_ == nullptr) return ok_status();
  errno = 0;
  const bool closed = std::fclose(std::exchange(file_, nullptr)) == 0;
  return closed ? ok_status() : runtime_error(system_reason(errno != 0 ? errno : EIO));
}

void OutputFile::release() noexcept {
  if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
}

void OutputFile::set_up_writer_thread() {}

}  // namespace softplc
