// The web view's page: the files of one folder (the page and the charting library that the
// build puts beside softplc), read into memory when the channel is made. Only these files are
// ever served, by their names relative to the folder; nothing else of the file system is reached
// from a request.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "softplc/util/result.h"

namespace softplc {

struct PageFile {
  std::string content;
  std::string mimeType;
};

class PageFiles {
 public:
  // Reads every regular file of `folder` and its subfolders (at most 64 files of 4 MiB together).
  static Result<PageFiles> load(const std::filesystem::path& folder);

  // The file that a request path names ("/" is index.html), or null: a path that is not exactly
  // one of the loaded names ("..", backslashes, absolute paths included) names nothing.
  const PageFile* find(std::string_view requestPath) const;
  std::size_t size() const { return files_.size(); }

 private:
  std::map<std::string, PageFile, std::less<>> files_;   // "index.html", "lib/dygraph.min.js"
};

// The folder of the page beside the running softplc: bin/web/.
Result<std::filesystem::path> default_page_folder();

}  // namespace softplc
