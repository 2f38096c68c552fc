// A YAML file read whole, and its nodes converted with their places: every message about the file
// starts with "FILE:LINE:COLUMN: " (1-based) for the node it is about, so that a person finds what
// to fix. What the host reads from YAML (a run's configuration; scenarios) reads it through here;
// yaml-cpp (Debian's libyaml-cpp-dev) parses.
#pragma once

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/util/result.h"

namespace softplc {

// One key of a mapping, with its node (for its place) and its value.
struct YamlEntry {
  std::string key;
  YAML::Node keyNode;
  YAML::Node value;
};

class YamlFile {
 public:
  // Reads and parses a file of one YAML document (a regular file of at most `limit` bytes). A
  // syntax error is refused with its place; so are a second document and an empty file.
  static Result<YamlFile> read(const std::filesystem::path& path, uint64_t limit = 1 << 20);
  // The same from text, for a file already read (`path` names it in messages).
  static Result<YamlFile> parse(const std::filesystem::path& path, const std::string& text);

  const std::filesystem::path& path() const { return path_; }
  const YAML::Node& root() const { return root_; }

  // "FILE:LINE:COLUMN" of a node; "FILE" for a node without a place.
  std::string place(const YAML::Node& node) const;
  // A usage error "FILE:LINE:COLUMN: MESSAGE".
  Error error_at(const YAML::Node& node, std::string_view message) const;

  // The keys of a mapping in the file's order, each a scalar and each once; `what` names the
  // mapping in messages ("the configuration").
  Result<std::vector<YamlEntry>> entries(const YAML::Node& mapping, std::string_view what) const;
  // A scalar's text; a missing value, a list or a mapping is refused, naming `what`.
  Result<std::string> scalar(const YAML::Node& node, std::string_view what) const;
  // true or false (also yes/no, on/off, in any case, as YAML writers use them).
  Result<bool> boolean(const YAML::Node& node, std::string_view what) const;
  // A duration ("10ms", "T#1.5s"), longer than 0 unless `allowZero`.
  Result<int64_t> duration(const YAML::Node& node, std::string_view what, bool allowZero = false) const;
  // "unknown key 'perod' in the configuration; did you mean period?" at the key.
  Error unknown_key(const YamlEntry& entry, std::string_view what, std::string_view hint) const;

 private:
  YamlFile(std::filesystem::path path, YAML::Node root) : path_(std::move(path)), root_(std::move(root)) {}

  std::filesystem::path path_;
  YAML::Node root_;
};

}  // namespace softplc
