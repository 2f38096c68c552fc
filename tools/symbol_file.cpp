// Writes the symbol file of a module built from these sources: the module's identity, the type
// identifiers, and its entry point's data area with every block instance, embedded record and
// variable by name, offset and type. Everything comes from the layout (app/layout.h) and the
// identity (module/identity.h); every offset and size is the compiler's (offsetof, sizeof on the
// structs that the module itself is compiled from).
//
// It writes the module's listing too (tools/listing.cpp), whose map from the debug events to its
// lines goes into the symbol file.
//
// Runs on the build machine, also in a cross build: usage `symbol_file MODULE FILE LISTING`,
// MODULE being CCodePublic or CCodePublic_next, FILE the symbol file and LISTING the listing.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "abi/kx_types.h"
#include "app/data_area.h"
#include "app/type_ids.h"
#include "module/identity.h"
#include "listing.h"

namespace {

using Json = nlohmann::ordered_json;

struct Variable {
  std::string name;
  uint32_t offset;
  const char* type;
  bool program;
  KxDirection direction;
  int32_t operation;   // 0: none
};

struct Record {
  std::string name;
  uint32_t offset;
  uint32_t size;
  int32_t typeId;
};

struct Layout {
  std::vector<Record> records;
  std::vector<Variable> variables;
};

// The rows of record type R, added with their names under `prefix` and their offsets from `base`.
template <class R>
void add_rows(Layout& layout, const std::string& prefix, uint32_t base);

// A record and its rows.
template <class R>
void add_record(Layout& layout, const std::string& name, uint32_t offset, int32_t typeId) {
  layout.records.push_back({name, offset, static_cast<uint32_t>(sizeof(R)), typeId});
  add_rows<R>(layout, name + ".", offset);
}

// The type identifier of each block instance's struct.
template <class R>
constexpr int32_t kBlockType = 0;
#define KX_BLOCK_TYPE(record, type, size, list) \
  template <>                                   \
  constexpr int32_t kBlockType<record> = KX_TYPE_##type;
KX_LAYOUT_BLOCKS(KX_BLOCK_TYPE)

#define KX_OFFSET(name) static_cast<uint32_t>(base + offsetof(KxRecord, name))
#define KX_ROW_VAR(offset, type, name, direction) \
  layout.variables.push_back(                     \
      {prefix + #name, KX_OFFSET(name), #type, true, KX_DIRECTION_##direction, KX_FIELD_OP_NONE});
#define KX_ROW_FIELD(offset, type, name, op) \
  layout.variables.push_back(                \
      {prefix + #name, KX_OFFSET(name), #type, false, KX_DIRECTION_INTERNAL, KX_FIELD_OP_##op});
#define KX_ROW_BLOCK(offset, record, name) \
  add_record<record>(layout, prefix + #name, KX_OFFSET(name), kBlockType<record>);
#define KX_ROW_TIMER(offset, kind, name) \
  add_record<TimerRecord>(layout, prefix + #name, KX_OFFSET(name), KX_TYPE_##kind);
#define KX_ROW_EDGE(offset, name) \
  add_record<RTrigRecord>(layout, prefix + #name, KX_OFFSET(name), KX_TYPE_R_TRIG);
#define KX_ROW_PAD(offset, size)
#define KX_ROW_SPARE(offset, size)

#define KX_ADD_ROWS(record, size, list)                                                  \
  template <>                                                                            \
  void add_rows<record>(Layout & layout, const std::string& prefix, uint32_t base) {     \
    using KxRecord = record;                                                             \
    KX_LAYOUT_ROWS(list, KX_ROW_)                                                        \
  }
#define KX_ADD_BLOCK_ROWS(record, type, size, list) KX_ADD_ROWS(record, size, list)
KX_LAYOUT_EMBEDDED(KX_ADD_ROWS)
KX_LAYOUT_BLOCKS(KX_ADD_BLOCK_ROWS)

// Every record and variable of the data area, each list in offset order.
Layout data_area_layout() {
  Layout layout;
  add_rows<DataArea>(layout, "", 0);
  std::stable_sort(layout.records.begin(), layout.records.end(),
                   [](const Record& a, const Record& b) { return a.offset < b.offset; });
  std::stable_sort(layout.variables.begin(), layout.variables.end(),
                   [](const Variable& a, const Variable& b) { return a.offset < b.offset; });
  return layout;
}

const char* kind_name(KxTypeKind kind) {
  switch (kind) {
    case KX_KIND_PROGRAM:
      return "program";
    case KX_KIND_FUNCTION_BLOCK:
      return "function_block";
    case KX_KIND_OPERATION:
      return "operation";
    case KX_KIND_NONE:
      break;
  }
  return "";
}

const char* direction_name(KxDirection direction) {
  switch (direction) {
    case KX_DIRECTION_INPUT:
      return "input";
    case KX_DIRECTION_OUTPUT:
      return "output";
    case KX_DIRECTION_INTERNAL:
      break;
  }
  return "internal";
}

const char* type_name(int32_t typeId) {
  switch (typeId) {
#define KX_TYPE_NAME(id, constant, name, kind) \
  case id:                                     \
    return name;
    KX_LAYOUT_TYPE_IDS(KX_TYPE_NAME)
  }
  return "";
}

Json symbol_file(const KxModuleIdentity& module, Json listing) {
  Json typeIds = Json::array();
#define KX_TYPE_ENTRY(id, constant, name, kind) \
  typeIds.push_back({{"id", id}, {"name", name}, {"kind", kind_name(KX_KIND_##kind)}});
  KX_LAYOUT_TYPE_IDS(KX_TYPE_ENTRY)

  const Layout layout = data_area_layout();
  Json records = Json::array();
  for (const Record& r : layout.records)
    records.push_back(
        {{"name", r.name}, {"offset", r.offset}, {"size", r.size}, {"typeId", r.typeId}});
  Json variables = Json::array();
  for (const Variable& v : layout.variables) {
    Json entry = {{"name", v.name},
                  {"offset", v.offset},
                  {"type", v.type},
                  {"program", v.program},
                  {"direction", direction_name(v.direction)}};
    if (v.operation != KX_FIELD_OP_NONE) entry["operation"] = v.operation;
    variables.push_back(std::move(entry));
  }

  Json entryPoint;
  entryPoint["name"] = KX_ENTRY_POINT_NAME;
  entryPoint["dataSize"] = sizeof(DataArea);
  entryPoint["layoutSignature"] = module.layoutSignature;
  entryPoint["program"] = {{"name", type_name(KX_TYPE_PROGRAM_CONTROL)},
                           {"typeId", KX_TYPE_PROGRAM_CONTROL}};
  entryPoint["records"] = std::move(records);
  entryPoint["variables"] = std::move(variables);
  entryPoint["listing"] = std::move(listing);

  Json file;
  file["format"] = "softplc-symbols";
  file["version"] = 1;
  file["module"] = module.name;
  file["codeVersion"] = module.codeVersion;
  file["ticksPerSecond"] = KX_TICKS_PER_SECOND;
  file["typeIds"] = std::move(typeIds);
  file["entryPoints"] = Json::array({std::move(entryPoint)});
  return file;
}

// JSON for people as well: two-space indents, and an object or array that holds only plain
// values (or arrays of them) on one line ({"name": "LagIn", "offset": 0, ...}).
void write(std::ostream& out, const Json& value, int indent) {
  if (!value.is_structured()) {
    out << value.dump();
    return;
  }
  const bool object = value.is_object();
  // Flat: every child is a plain value, empty, or an array of plain values ("kinds": [1, 6]).
  const auto plain = [](const Json& json) { return !json.is_structured(); };
  bool flat = true;
  for (const Json& child : value)
    if (child.is_object() ? !child.empty() : child.is_array() && !std::all_of(child.begin(), child.end(), plain))
      flat = false;
  out << (object ? '{' : '[');
  bool first = true;
  for (const auto& item : value.items()) {
    out << (first ? "" : ",");
    if (flat) {
      out << (first ? "" : " ");
    } else {
      out << '\n' << std::string(indent + 2, ' ');
    }
    first = false;
    if (object) out << Json(item.key()).dump() << ": ";
    write(out, item.value(), indent + 2);
  }
  if (!flat && !value.empty()) out << '\n' << std::string(indent, ' ');
  out << (object ? '}' : ']');
}

// Writes `text` to `path`; on failure removes what was written and says so.
bool write_file(const char* path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (file) return true;
  std::cerr << "symbol_file: cannot write " << path << "\n";
  std::remove(path);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const KxModuleIdentity* const modules[] = {&kx_identity_module, &kx_identity_next};
  const KxModuleIdentity* module = nullptr;
  if (argc == 4) {
    for (const KxModuleIdentity* m : modules)
      if (std::string(argv[1]) == m->name) module = m;
  }
  if (module == nullptr) {
    std::cerr << "usage: symbol_file MODULE FILE LISTING (MODULE: CCodePublic or CCodePublic_next)\n";
    return 2;
  }
  GeneratedListing listing;
  try {
    const std::string listingPath = argv[3];
    listing = make_listing(module->name, listingPath.substr(listingPath.find_last_of("/\\") + 1));
  } catch (const std::exception& e) {
    std::cerr << "symbol_file: " << e.what() << "\n";
    return 1;
  }
  std::ostringstream text;
  write(text, symbol_file(*module, std::move(listing.map)), 0);
  text << '\n';
  return write_file(argv[3], listing.text) && write_file(argv[2], text.str()) ? 0 : 1;
}
