#include "softplc/plc/module_copy.h"

#include <mutex>
#include <system_error>
#include <utility>

namespace softplc {

namespace fs = std::filesystem;

namespace {

// No module comes near this; a larger file is not read into memory.
constexpr uint64_t kMaxModuleBytes = uint64_t{256} << 20;

// FNV-1a, to tell different contents apart quickly; equal digests are confirmed byte by byte.
uint64_t digest(std::span<const uint8_t> bytes) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001B3ull;
  return hash;
}

}  // namespace

// The folder of this process that holds its module copies: readable and writable by its owner
// alone, created when the first copy is made and removed with the last one.
class PrivateFolder {
 public:
  static Result<std::shared_ptr<PrivateFolder>> get() {
    static std::mutex mutex;
    static std::weak_ptr<PrivateFolder> current;
    const std::lock_guard lock(mutex);
    if (auto folder = current.lock()) return folder;
    auto created = create();
    if (!created) return created.error();
    auto folder = std::make_shared<PrivateFolder>(std::move(created).value());
    current = folder;
    return folder;
  }

  explicit PrivateFolder(fs::path path) : path_(std::move(path)) {}
  ~PrivateFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // A new file name in the folder: each copy has its own, so that no loader takes a copy for one it
  // has loaded before. The original name stays recognisable ("2-CCodePublic.so").
  fs::path file_for(const fs::path& source) {
    const std::lock_guard lock(mutex_);
    return path_ / (std::to_string(++copies_) + "-" + source.filename().string());
  }

 private:
  static Result<fs::path> create() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return runtime_error("no folder for temporary files: " + ec.message());
    auto folder = create_private_folder(base, "softplc-");
    if (!folder) return runtime_error("cannot create a private folder in " + display_path(base) + ": " + folder.error().message);
    return folder;
  }

  fs::path path_;
  std::mutex mutex_;
  unsigned copies_ = 0;
};

Result<ModuleCopy> ModuleCopy::make(const fs::path& source) {
  std::error_code ec;
  const fs::file_status status = fs::status(source, ec);
  if (status.type() == fs::file_type::not_found) return runtime_error("module file not found: " + display_path(source));
  if (ec) return runtime_error("cannot read module file " + display_path(source) + ": " + ec.message());
  if (fs::is_directory(status)) return runtime_error("module path is a directory, not a library: " + display_path(source));
  // A pipe or a device would be read until it ends, if ever.
  if (!fs::is_regular_file(status)) return runtime_error("module path is not a regular file: " + display_path(source));
  auto bytes = read_file_bytes(source, kMaxModuleBytes);
  if (!bytes) return runtime_error("cannot read module file " + display_path(source) + ": " + bytes.error().message);
  auto image = check_native_module_image(*bytes);
  if (!image) return runtime_error("cannot load module " + display_path(source) + ": " + image.error().message);

  auto folder = PrivateFolder::get();
  if (!folder) return runtime_error("cannot copy module " + display_path(source) + ": " + folder.error().message);
  ModuleCopy copy;
  copy.folder_ = std::move(folder).value();
  copy.source_ = source;
  copy.path_ = copy.folder_->file_for(source);
  copy.image_ = std::move(image).value();
  copy.size_ = bytes->size();
  copy.digest_ = digest(*bytes);
  const std::string_view contents(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  if (auto written = write_file(copy.path_, contents, /*newFile=*/true); !written) {
    return runtime_error("cannot copy module " + display_path(source) + " to " + display_path(copy.path_) + ": " +
                         written.error().message);
  }
  return copy;
}

ModuleCopy::ModuleCopy(ModuleCopy&& other) noexcept
    : folder_(std::move(other.folder_)),
      source_(std::move(other.source_)),
      path_(std::exchange(other.path_, {})),
      image_(std::move(other.image_)),
      size_(other.size_),
      digest_(other.digest_) {}

ModuleCopy& ModuleCopy::operator=(ModuleCopy&& other) noexcept {
  if (this != &other) {
    remove();
    folder_ = std::move(other.folder_);
    source_ = std::move(other.source_);
    path_ = std::exchange(other.path_, {});
    image_ = std::move(other.image_);
    size_ = other.size_;
    digest_ = other.digest_;
  }
  return *this;
}

ModuleCopy::~ModuleCopy() { remove(); }

void ModuleCopy::remove() noexcept {
  if (!path_.empty()) {
    std::error_code ec;
    fs::remove(path_, ec);
    path_.clear();
  }
  folder_.reset();
}

bool ModuleCopy::same_contents(const ModuleCopy& other) const {
  if (size_ != other.size_ || digest_ != other.digest_) return false;
  auto mine = read_file_bytes(path_, kMaxModuleBytes);
  auto theirs = read_file_bytes(other.path_, kMaxModuleBytes);
  return mine && theirs && *mine == *theirs;
}

}  // namespace softplc
