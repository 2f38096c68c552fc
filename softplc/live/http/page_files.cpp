#include "softplc/live/http/page_files.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "softplc/util/platform.h"

namespace softplc {

namespace {

constexpr std::size_t kMaxFiles = 64;
constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;

std::string mime_type(const std::filesystem::path& path) {
  const std::string extension = path.extension().string();
  if (extension == ".html") return "text/html; charset=utf-8";
  if (extension == ".js") return "text/javascript; charset=utf-8";
  if (extension == ".css") return "text/css; charset=utf-8";
  if (extension == ".png") return "image/png";
  if (extension == ".svg") return "image/svg+xml";
  if (extension == ".json" || extension == ".map") return "application/json";
  return "application/octet-stream";
}

}  // namespace

Result<PageFiles> PageFiles::load(const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    return runtime_error("the web view's page is missing: no folder " + folder.string() +
                         " (the build puts it beside softplc)");
  }
  PageFiles page;
  std::size_t bytes = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    if (page.files_.size() == kMaxFiles) {
      return runtime_error("the web view's page " + folder.string() + " has too many files");
    }
    std::ifstream in(it->path(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    if (!in) return runtime_error("cannot read " + it->path().string());
    bytes += content.str().size();
    if (bytes > kMaxBytes) return runtime_error("the web view's page " + folder.string() + " is too large");
    const std::string name = it->path().lexically_relative(folder).generic_string();
    page.files_[name] = PageFile{content.str(), mime_type(it->path())};
  }
  if (error) return runtime_error("cannot read the web view's page " + folder.string() + ": " + error.message());
  if (page.find("/") == nullptr) return runtime_error("the web view's page " + folder.string() + " has no index.html");
  return page;
}

const PageFile* PageFiles::find(std::string_view requestPath) const {
  if (requestPath.empty() || requestPath.front() != '/') return nullptr;
  requestPath.remove_prefix(1);
  if (requestPath.empty()) requestPath = "index.html";
  const auto found = files_.find(requestPath);
  return found == files_.end() ? nullptr : &found->second;
}

Result<std::filesystem::path> default_page_folder() {
  auto self = executable_path();
  if (!self) return self.error();
  return self->parent_path() / "web";
}

}  // namespace softplc
