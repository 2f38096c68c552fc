#include "softplc/util/yaml_file.h"

#include <exception>

#include "softplc/util/files.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

namespace {

std::string place_of(const std::filesystem::path& path, const YAML::Mark& mark) {
  std::string place = display_path(path);
  if (mark.is_null() || mark.line < 0) return place;
  return place + ":" + std::to_string(mark.line + 1) + ":" + std::to_string(mark.column + 1);
}

std::string_view kind_of(const YAML::Node& node) {
  switch (node.Type()) {
    case YAML::NodeType::Sequence: return "a list";
    case YAML::NodeType::Map: return "a mapping";
    default: return "nothing";
  }
}

}  // namespace

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
    return usage_error(place_of(path, e.mark) + ": " + e.msg);
  }
  if (documents.empty() || documents[0].IsNull()) return usage_error(display_path(path) + ": the file is empty");
  if (documents.size() > 1) {
    return usage_error(place_of(path, documents[1].Mark()) + ": a second document ('---'); the file holds one");
  }
  return YamlFile(path, documents[0]);
}

std::string YamlFile::place(const YAML::Node& node) const { return place_of(path_, node.Mark()); }

Error YamlFile::error_at(const YAML::Node& node, std::string_view message) const {
  return usage_error(place(node) + ": " + std::string(message));
}

Result<std::vector<YamlEntry>> YamlFile::entries(const YAML::Node& mapping, std::string_view what) const {
  if (!mapping.IsMap()) {
    return error_at(mapping, std::string(what) + " is a mapping of keys to values, not " +
                                 std::string(mapping.IsScalar() ? "a single value" : kind_of(mapping)));
  }
  std::vector<YamlEntry> entries;
  for (auto it = mapping.begin(); it != mapping.end(); ++it) {
    if (!it->first.IsScalar()) return error_at(it->first, "a key is a single word, not " + std::string(kind_of(it->first)));
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

Result<std::string> YamlFile::scalar(const YAML::Node& node, std::string_view what) const {
  if (node.IsScalar()) return node.Scalar();
  if (node.IsNull()) return error_at(node, std::string(what) + " needs a value");
  return error_at(node, std::string(what) + " takes a single value, not " + std::string(kind_of(node)));
}

Result<bool> YamlFile::boolean(const YAML::Node& node, std::string_view what) const {
  auto text = scalar(node, what);
  if (!text) return text.error();
  const std::string word = lower(*text);
  if (word == "true" || word == "yes" || word == "on") return true;
  if (word == "false" || word == "no" || word == "off") return false;
  return error_at(node, std::string(what) + " expects true or false, got '" + shown(*text) + "'");
}

Result<int64_t> YamlFile::duration(const YAML::Node& node, std::string_view what, bool allowZero) const {
  auto text = scalar(node, what);
  if (!text) return text.error();
  auto ns = parse_duration_ns(*text);
  if (!ns) return error_at(node, std::string(what) + ": " + ns.error().message);
  if (*ns < 0 || (*ns == 0 && !allowZero)) {
    return error_at(node, std::string(what) + " must be longer than 0");
  }
  return *ns;
}

Error YamlFile::unknown_key(const YamlEntry& entry, std::string_view what, std::string_view hint) const {
  return error_at(entry.keyNode, "unknown key '" + shown(entry.key) + "' in " + std::string(what) + std::string(hint));
}

}  // namespace softplc
