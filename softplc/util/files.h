// Files that the host reads or writes whole (module files, symbol files, maps, scripts for the
// plotter), and paths in messages. Every failure carries the system's reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/util/result.h"

namespace softplc {

// A path for a message: a very long one is shortened to its start and end, with its length.
std::string display_path(const std::filesystem::path& path);

// The system's text for an errno value ("No such file or directory").
std::string system_reason(int error);

// std::fopen for every path the platform has (wide names on Windows); on Linux the file is not
// handed on to the programs the host starts (close-on-exec).
std::FILE* open_file(const std::filesystem::path& path, const char* mode);

// The whole content of a file, at most `limit` bytes; the error is the reason alone ("No such file
// or directory", "it is larger than 256 MiB"): the caller names the file.
Result<std::vector<uint8_t>> read_file_bytes(const std::filesystem::path& path, uint64_t limit);

// Writes `bytes` as the whole file; `newFile`: refuses to open a file that exists already (where the
// platform can tell). The error is the reason alone.
Status write_file(const std::filesystem::path& path, std::string_view bytes, bool newFile = false);

}  // namespace softplc
