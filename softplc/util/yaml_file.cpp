#include "softplc/util/yaml_file.h"

#include "softplc/util/files.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

namespace {

std::string place_of(const std::string& source, const YAML::Mark& mark, std::size_t columns = 0) {
  if (mark.is_null() || mark.line < 0) return source;
  return source + ":" + std::to_string(mark.line + 1) + ":" + std::to_string(mark.column + 1 + columns);
}

}  // namespace

std::string_view yaml_kind(const YAML::Node& node) {
  if (!node.IsDefined() || node.IsNull()) return "nothing";
  if (node.IsMap()) return "a mapping";
  if (node.IsSequence()) return "a list";
  return "a single value";
}

// yaml-cpp tags a plain scalar "?" and a quoted one "!" when the file gives no tag.
bool yaml_quoted(const YAML::Node& node) { return node.IsScalar() && node.Tag() == "!"; }

YamlFile::YamlFile(std::filesystem::path path, YAML::Node root)
    : path_(std::move(path)), source_(display_path(path_)), root_(std::move(root)) {}

Result<YamlFile> YamlFile::read(const std::filesystem::path& path, uint64_t limit) {
  auto bytes = read_file_bytes(path, limit);
  if (!bytes) return usage_error("cannot read " + display_path(path) + ": " + bytes.error().message);
  return parse(path, std::string(bytes->begin(), bytes->end()));
}

Result<YamlFile> YamlFile::parse(const std::filesystem::path& path, const std::string& text) {
  std::vector<YAML::Node> documents;
  try {
    documents = YAML::LoadAll(text);
  } catch (const YAML::Exception& e) {
    // yaml-cpp's messages start in lower case without the place; ours put the place first.
    return usage_error(place_of(display_path(path), e.mark) + ": " + (e.msg.empty() ? "not valid YAML" : e.msg));
  }
  if (documents.empty() || documents[0].IsNull()) return usage_error(display_path(path) + ": the file is empty");
  if (documents.size() > 1) {
    return usage_error(place_of(display_path(path), documents[1].Mark()) +
                       ": a second document ('---'); the file holds one");
  }
  return YamlFile(path, documents[0]);
}

std::string YamlFile::place(const YAML::Node& node) const { return place_of(source_, node.Mark()); }

std::string YamlFile::place_in(const YAML::Node& node, std::size_t columns) const {
  return place_of(source_, node.Mark(), columns + (yaml_quoted(node) ? 1 : 0));
}

Error YamlFile::error_at(const YAML::Node& node, std::string_view message) const {
  return usage_error(place(node) + ": " + std::string(message));
}

Result<std::vector<YamlEntry>> YamlFile::entries(const YAML::Node& mapping, std::string_view what) const {
  if (!mapping.IsMap()) {
    return error_at(mapping, std::string(what) + " is a mapping of keys to values, not " + std::string(yaml_kind(mapping)));
  }
  std::vector<YamlEntry> entries;
  for (auto it = mapping.begin(); it != mapping.end(); ++it) {
    if (!it->first.IsScalar()) {
      return error_at(it->first, "a key is a single word, not " + std::string(yaml_kind(it->first)));
    }
    YamlEntry entry{it->first.Scalar(), it->first, it->second};
    for (const YamlEntry& before : entries) {
      if (before.key == entry.key) {
        return error_at(entry.keyNode, "'" + shown(entry.key) + "' is given twice in " + std::string(what) +
                                           " (first at line " + std::to_string(before.keyNode.Mark().line + 1) + ")");
      }
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

Status YamlFile::check_keys(const YAML::Node& map, std::initializer_list<std::string_view> known,
                            std::string_view what) const {
  auto keys = entries(map, what);
  if (!keys) return keys.error();
  for (const YamlEntry& entry : *keys) {
    bool isKnown = false;
    for (std::string_view candidate : known) isKnown = isKnown || candidate == entry.key;
    if (isKnown) continue;
    std::string list;
    for (std::string_view candidate : known) list += (list.empty() ? "" : ", ") + std::string(candidate);
    return unknown_key(entry, what, " (known: " + list + ")");
  }
  return ok_status();
}

Error YamlFile::unknown_key(const YamlEntry& entry, std::string_view what, std::string_view hint) const {
  return error_at(entry.keyNode, "unknown key '" + shown(entry.key) + "' in " + std::string(what) + std::string(hint));
}

Result<std::string> YamlFile::scalar(const YAML::Node& node, std::string_view what) const {
  if (!node.IsScalar()) {
    if (!node.IsDefined() || node.IsNull()) return error_at(node, std::string(what) + " needs a value");
    return error_at(node, std::string(what) + " takes a single value, not " + std::string(yaml_kind(node)));
  }
  if (!filter_) return node.Scalar();
  auto filtered = filter_(node.Scalar());
  if (!filtered) return error_at(node, filtered.error().message);
  return filtered;
}

Result<bool> YamlFile::boolean(const YAML::Node& node, std::string_view what) const {
  auto text = scalar(node, what);
  if (!text) return text.error();
  const std::string word = lower(trimmed(*text));
  if (word == "true" || word == "yes" || word == "on") return true;
  if (word == "false" || word == "no" || word == "off") return false;
  return error_at(node, std::string(what) + " expects true or false, got '" + shown(*text) + "'");
}

Result<int64_t> YamlFile::duration(const YAML::Node& node, std::string_view what, bool allowZero) const {
  auto text = scalar(node, what);
  if (!text) return text.error();
  auto ns = parse_duration_ns(trimmed(*text));
  if (!ns) return error_at(node, std::string(what) + ": " + ns.error().message);
  if (*ns < 0 || (*ns == 0 && !allowZero)) {
    return error_at(node, std::string(what) + " must be longer than 0");
  }
  return *ns;
}

}  // namespace softplc
