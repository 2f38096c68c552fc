// YAML files that people write (a run's configuration, scenario files), read with yaml-cpp
// (Debian's libyaml-cpp-dev), and the plumbing every reader of them shares: each mistake is told
// with the file, line and column where it lies ("ramps.yaml:12:7: unknown key 'expcet' in a step
// (known: at, after, ...)"), whether the YAML itself is broken or what it says makes no sense.
#pragma once

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
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

// How a reader turns the text of a scalar into what it means (a table's row substituted into
// "${name}", in a scenario file); the identity when empty. An error is told at the scalar.
using YamlTextFilter = std::function<Result<std::string>(std::string_view text)>;

// One YAML document read whole, with the name its messages give the file.
class YamlFile {
 public:
  // Reads and parses a file of one YAML document (a regular file of at most `limit` bytes). A
  // syntax error is refused with its place; so are a second document and an empty file.
  static Result<YamlFile> read(const std::filesystem::path& path, uint64_t limit = uint64_t{1} << 20);
  // The same from text, for a file already read (`path` names it in messages).
  static Result<YamlFile> parse(const std::filesystem::path& path, const std::string& text);

  const std::filesystem::path& path() const { return path_; }
  const YAML::Node& root() const { return root_; }
  // The file as messages name it.
  const std::string& source() const { return source_; }

  // "FILE:LINE:COLUMN" of a node (1-based); "FILE" alone for a node without a place.
  std::string place(const YAML::Node& node) const;
  // The same, `columns` characters to the right of where the node's text starts (a quoted scalar's
  // text starts after its quote): a mistake inside a value.
  std::string place_in(const YAML::Node& node, std::size_t columns) const;
  // A usage error at a node: "FILE:LINE:COLUMN: MESSAGE".
  Error error_at(const YAML::Node& node, std::string_view message) const;

  // The keys of a mapping in the file's order, each a scalar and each once; `what` names the
  // mapping in messages ("the configuration").
  Result<std::vector<YamlEntry>> entries(const YAML::Node& mapping, std::string_view what) const;
  // A mapping's keys, each one of `known` and none twice; otherwise the first stranger is told at
  // its place with the keys that are known. `what` names the mapping ("a step").
  Status check_keys(const YAML::Node& map, std::initializer_list<std::string_view> known,
                    std::string_view what) const;
  // "unknown key 'perod' in the configuration; did you mean period?" at the key (`hint` follows).
  Error unknown_key(const YamlEntry& entry, std::string_view what, std::string_view hint) const;

  // A scalar's text (through the filter, when one is set); a missing value, a list or a mapping is
  // refused, naming `what`.
  Result<std::string> scalar(const YAML::Node& node, std::string_view what) const;
  // true or false (also yes/no, on/off, in any case, as YAML writers use them).
  Result<bool> boolean(const YAML::Node& node, std::string_view what) const;
  // A duration ("10ms", "T#1.5s", "2min"), longer than 0 unless `allowZero`.
  Result<int64_t> duration(const YAML::Node& node, std::string_view what, bool allowZero = false) const;

  void set_filter(YamlTextFilter filter) { filter_ = std::move(filter); }

 private:
  YamlFile(std::filesystem::path path, YAML::Node root);

  std::filesystem::path path_;
  std::string source_;
  YAML::Node root_;
  YamlTextFilter filter_;
};

// "a mapping", "a list", "a value", "nothing": what a node is, for messages.
std::string_view yaml_kind(const YAML::Node& node);

// Whether a scalar was written in quotes (its text starts one column after its place).
bool yaml_quoted(const YAML::Node& node);

}  // namespace softplc
