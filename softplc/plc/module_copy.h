// The host runs every module from a private copy of its file, as a runtime does: the file is read
// once, checked (module_image.h) and written into a folder of this process that nobody else
// writes, and the system's loader maps the copy. The module file itself can then be rebuilt,
// rewritten or deleted while the module runs, and what is checked is what is loaded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "softplc/plc/module_image.h"
#include "softplc/util/files.h"
#include "softplc/util/result.h"

namespace softplc {

class PrivateFolder;

class ModuleCopy {
 public:
  // Reads `source`, checks it as a module of this platform and writes the copy. The errors name
  // `source` ("module file not found: ...", "cannot load module m.so: it is cut short ...").
  static Result<ModuleCopy> make(const std::filesystem::path& source);

  ModuleCopy(ModuleCopy&& other) noexcept;
  ModuleCopy& operator=(ModuleCopy&& other) noexcept;
  ModuleCopy(const ModuleCopy&) = delete;
  ModuleCopy& operator=(const ModuleCopy&) = delete;
  // Removes the copy; the private folder goes with the last copy in it.
  ~ModuleCopy();

  // The module file as it was named, and the copy that is loaded.
  const std::filesystem::path& source() const { return source_; }
  const std::filesystem::path& path() const { return path_; }
  const ModuleImage& image() const { return image_; }

  // Whether both copies were made from the same bytes.
  bool same_contents(const ModuleCopy& other) const;

 private:
  ModuleCopy() = default;
  void remove() noexcept;

  std::shared_ptr<PrivateFolder> folder_;
  std::filesystem::path source_;
  std::filesystem::path path_;
  ModuleImage image_;
  uint64_t size_ = 0;
  uint64_t digest_ = 0;
};

}  // namespace softplc
