#include "softplc/util/process.h"

#include <atomic>
#include <random>
#include <system_error>

namespace softplc {

std::string detail::program_too_slow(const std::string& program, std::chrono::milliseconds timeout) {
  return program + " did not finish within " + std::to_string(timeout.count() / 1000) + " s and was stopped";
}

TemporaryFile::TemporaryFile(const std::string& suffix) {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  if (ec) folder = ".";
  const unsigned salt = std::random_device{}();
  path_ = folder / ("softplc-" + std::to_string(process_id()) + "-" + std::to_string(salt % 100000) + "-" +
                    std::to_string(counter++) + suffix);
}

TemporaryFile::~TemporaryFile() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

}  // namespace softplc
