#include "softplc/plc/plc.h"

#include <cstdio>

#include "kxrt.h"
#include "softplc/symbols/symbol_file.h"
#include "softplc/symbols/variable_spec.h"

namespace softplc {

namespace {

std::string text_or_empty(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

// A descriptor we can work with: the size we know, a name and a data area.
Result<std::vector<EntryPointDescriptor*>> checked_entry_points(const Module& module) {
  std::vector<EntryPointDescriptor*> entryPoints = module.entry_points();
  for (std::size_t i = 0; i < entryPoints.size(); ++i) {
    const EntryPointDescriptor* descriptor = entryPoints[i];
    if (descriptor->size != sizeof(EntryPointDescriptor)) {
      return runtime_error("entry point " + std::to_string(i) + " of module " + display_path(module.path()) +
                           " has a descriptor of " + std::to_string(descriptor->size) + " bytes, expected " +
                           std::to_string(sizeof(EntryPointDescriptor)));
    }
    if (descriptor->dataArea == nullptr || descriptor->dataSize == 0) {
      return runtime_error("entry point " + std::to_string(i) + " (" + text_or_empty(descriptor->name) +
                           ") has no data area");
    }
  }
  return entryPoints;
}

std::string status_text(int32_t status) {
  switch (status) {
    case KX_STATUS_NO_DATA_POINTER: return "the offset is not inside the data area (status 33)";
    case KX_STATUS_RANGE_PAST_END: return "the value runs past the end of the data area (status 34)";
    default: return "the module answered status " + std::to_string(status);
  }
}

std::string runtime_message(const char* prefix) {
  const char* message = kxrt_last_message();
  return message != nullptr && *message != '\0' ? std::string(prefix) + message : std::string();
}

std::string layout_text(uint32_t dataSize, uint32_t signature) {
  return "a data area of " + std::to_string(dataSize) + " bytes, layout " + hex32(signature);
}

}  // namespace

std::string hex32(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
  return buffer;
}

Result<ModuleInfo> query_module_info(const Module& module) {
  const ModuleExports& x = module.exports();
  ModuleInfo info;
  info.name = module.name();
  if (const CfwVersion* version = x.queryCFWVersion()) {
    info.cfwMajor = version->major;
    info.cfwMinor = version->minor;
    info.cfwText = text_or_empty(version->text);
  }
  info.codeVersion = text_or_empty(x.queryCVersion());
  info.ticksPerSecond = x.queryTimeFreq();
  info.taskCount = x.queryTASKCount();
  auto entryPoints = checked_entry_points(module);
  if (!entryPoints) return entryPoints.error();
  for (const EntryPointDescriptor* descriptor : *entryPoints) {
    info.entryPoints.push_back({text_or_empty(descriptor->name), descriptor->dataSize, descriptor->layoutSignature});
  }
  return info;
}

Result<BoundSymbols> bind_symbols(const Module& module, const SymbolSource& source) {
  const std::filesystem::path path = source.file ? *source.file : default_symbol_path(module.source_path());
  if (!source.file) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
      return BoundSymbols{nullptr, "module " + module.name() + " has no symbol file (" + display_path(path) +
                                       (ec ? ": " + ec.message() : std::string(" not found")) + ")"};
    }
  }
  auto file = load_symbol_file(path);
  if (!file) return file.error();
  std::string moduleNames;
  for (const EntryPointDescriptor* descriptor : module.entry_points()) {
    const std::string name = text_or_empty(descriptor->name);
    moduleNames += (moduleNames.empty() ? "" : ", ") + name;
    auto symbols = file->entry_point(name);
    if (!symbols) continue;
    if (symbols->dataSize != descriptor->dataSize || symbols->layoutSignature != descriptor->layoutSignature) {
      return runtime_error("symbol file " + path.string() + " does not match module " + module.name() +
                           ": it describes entry point " + name + " with " +
                           layout_text(symbols->dataSize, symbols->layoutSignature) + ", the module's has " +
                           layout_text(descriptor->dataSize, descriptor->layoutSignature));
    }
    return BoundSymbols{std::move(symbols), ""};
  }
  std::string fileNames;
  for (const auto& symbols : file->entryPoints) fileNames += (fileNames.empty() ? "" : ", ") + symbols->entryPoint;
  return runtime_error("symbol file " + path.string() + " describes none of the entry points of module " +
                       module.name() + " (the file: " + (fileNames.empty() ? "none" : fileNames) +
                       "; the module: " + (moduleNames.empty() ? "none" : moduleNames) + ")");
}

Plc::Plc(Key, Module module) : module_(std::move(module)) {}

Result<std::unique_ptr<Plc>> Plc::attach(Module module, BoundSymbols symbols) {
  auto plc = make(std::move(module), std::move(symbols));
  if (!plc) return plc;
  if (auto registered = (*plc)->register_entry_points(); !registered) return registered.error();
  return plc;
}

Result<std::unique_ptr<Plc>> Plc::make(Module module, BoundSymbols symbols) {
  const uint32_t ticksPerSecond = module.exports().queryTimeFreq();
  if (ticksPerSecond == 0) return runtime_error("module " + display_path(module.path()) + " reports a time base of 0 ticks per second");
  auto entryPoints = checked_entry_points(module);
  if (!entryPoints) return entryPoints.error();
  if (entryPoints->empty()) return runtime_error("module " + display_path(module.path()) + " has no entry point");

  // On the heap: the object must not move once the module holds the switch's address.
  auto plc = std::make_unique<Plc>(Key{}, std::move(module));
  plc->ticksPerSecond_ = ticksPerSecond;
  plc->entryPoints_ = std::move(entryPoints).value();
  plc->symbols_ = std::move(symbols);
  plc->program_ = plc->entryPoints_.front();
  for (EntryPointDescriptor* descriptor : plc->entryPoints_) {
    if (plc->symbols_.symbols && text_or_empty(descriptor->name) == plc->symbols_.symbols->entryPoint)
      plc->program_ = descriptor;
  }
  return plc;
}

Status Plc::register_entry_points() {
  for (EntryPointDescriptor* descriptor : entryPoints_) {
    if (kxrt_register_entry_point(descriptor) != 0) {
      const std::string why = "the runtime refused entry point " + text_or_empty(descriptor->name) + runtime_message(": ");
      unregister();
      return runtime_error(why);
    }
    registered_.push_back(descriptor);
    descriptor->globalDebugFlag = &globalHookSwitch_;
  }
  return ok_status();
}

void Plc::unregister() {
  for (EntryPointDescriptor* descriptor : entryPoints_) {
    if (descriptor->globalDebugFlag == &globalHookSwitch_) descriptor->globalDebugFlag = nullptr;
    if (localHooks_) descriptor->localDebugFlag = 0;
  }
  localHooks_ = false;
  for (EntryPointDescriptor* descriptor : registered_) kxrt_unregister_entry_point(descriptor);
  registered_.clear();
}

Plc::~Plc() { unregister(); }

Status Plc::initialise(uint32_t startMode) {
  const int32_t status = module_.exports().simpleMain(KX_MODE_INIT, startMode);
  if (status != 0) {
    return runtime_error("initialisation (start mode " + std::to_string(startMode) + ") failed with status " +
                         std::to_string(status) + runtime_message(": "));
  }
  return ok_status();
}

void Plc::set_local_hooks(bool on) {
  for (EntryPointDescriptor* descriptor : entryPoints_) descriptor->localDebugFlag = on ? 1u : 0u;
  localHooks_ = on;
}

Result<Variable> Plc::variable(std::string_view text) const {
  return find_variable(text, symbols(), symbols_.note);
}

Result<Encoded> Plc::read(const DataRef& reference, const Variable& variable) const {
  Encoded value;
  value.size = variable.size();
  const int32_t status = module_.exports().getData(&reference, value.bytes.data(), value.size);
  if (status != KX_STATUS_OK) {
    return runtime_error("cannot read " + variable.name + " (offset " + std::to_string(reference.offset) + ", " +
                         std::to_string(value.size) + " bytes): " + status_text(status));
  }
  return value;
}

Status Plc::write(const DataRef& reference, const Variable& variable, std::span<const uint8_t> bytes) {
  if (bytes.size() != variable.size()) return runtime_error("wrong value size for " + variable.name);
  const int32_t status = module_.exports().setData(&reference, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (status != KX_STATUS_OK) {
    return runtime_error("cannot write " + variable.name + " (offset " + std::to_string(reference.offset) + ", " +
                         std::to_string(bytes.size()) + " bytes): " + status_text(status));
  }
  return ok_status();
}

Status Plc::read_area(std::span<uint8_t> bytes) const {
  const DataRef whole{program_, 0};
  const int32_t status = module_.exports().getData(&whole, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (status != KX_STATUS_OK) return runtime_error("cannot read the data area: " + status_text(status));
  return ok_status();
}

Status Plc::write_area(uint32_t offset, std::span<const uint8_t> bytes) {
  const DataRef at{program_, offset};
  const int32_t status = module_.exports().setData(&at, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (status != KX_STATUS_OK) {
    return runtime_error("cannot write " + std::to_string(bytes.size()) + " bytes at offset " + std::to_string(offset) +
                         " of the data area: " + status_text(status));
  }
  return ok_status();
}

Result<std::unique_ptr<Plc>> load_plc(const std::filesystem::path& path, const SymbolSource& source) {
  auto module = Module::load(path);
  if (!module) return module.error();
  auto symbols = bind_symbols(*module, source);
  if (!symbols) return symbols.error();
  return Plc::attach(std::move(module).value(), std::move(symbols).value());
}

}  // namespace softplc
