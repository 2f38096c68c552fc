#include "softplc/core/plc.h"

#include <cstdio>

#include "kxrt.h"

namespace softplc {

namespace {

std::string text_or_empty(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

// A descriptor we can work with: the size we know, a name and a data area.
Result<std::vector<EntryPointDescriptor*>> checked_entry_points(const Module& module) {
  std::vector<EntryPointDescriptor*> entryPoints = module.entry_points();
  for (std::size_t i = 0; i < entryPoints.size(); ++i) {
    const EntryPointDescriptor* descriptor = entryPoints[i];
    if (descriptor->size != sizeof(EntryPointDescriptor)) {
      return runtime_error("entry point " + std::to_string(i) + " of module " + module.path().string() +
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

}  // namespace

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

Plc::Plc(Key, Module module) : module_(std::move(module)) {}

Result<std::unique_ptr<Plc>> Plc::attach(Module module) {
  const uint32_t ticksPerSecond = module.exports().queryTimeFreq();
  if (ticksPerSecond == 0) return runtime_error("module " + module.path().string() + " reports a time base of 0 ticks per second");
  auto entryPoints = checked_entry_points(module);
  if (!entryPoints) return entryPoints.error();

  // On the heap: the object must not move once the module holds the switch's address.
  auto plc = std::make_unique<Plc>(Key{}, std::move(module));
  plc->ticksPerSecond_ = ticksPerSecond;
  plc->entryPoints_ = std::move(entryPoints).value();
  for (EntryPointDescriptor* descriptor : plc->entryPoints_) {
    if (kxrt_register_entry_point(descriptor) != 0) {
      return runtime_error("the runtime refused entry point " + text_or_empty(descriptor->name) +
                           runtime_message(": "));
    }
    plc->registered_.push_back(descriptor);
    descriptor->globalDebugFlag = &plc->globalHookSwitch_;
    if (text_or_empty(descriptor->name) == kProgramEntryPoint) plc->program_ = descriptor;
  }
  return plc;
}

Plc::~Plc() {
  for (EntryPointDescriptor* descriptor : entryPoints_) {
    if (descriptor->globalDebugFlag == &globalHookSwitch_) descriptor->globalDebugFlag = nullptr;
  }
  for (EntryPointDescriptor* descriptor : registered_) kxrt_unregister_entry_point(descriptor);
}

Status Plc::initialise(uint32_t startMode) {
  const int32_t status = module_.exports().simpleMain(KX_MODE_INIT, startMode);
  if (status != 0) {
    return runtime_error("initialisation (start mode " + std::to_string(startMode) + ") failed with status " +
                         std::to_string(status) + runtime_message(": "));
  }
  return ok_status();
}

void Plc::cycle() { (void)module_.exports().simpleMain(KX_MODE_CYCLE, 0); }

Status Plc::variable_access() const {
  const std::string entry(kProgramEntryPoint);
  if (program_ == nullptr) {
    return runtime_error("module " + module_.path().string() + " has no entry point " + entry +
                         ", whose variables softplc knows by name");
  }
  if (program_->dataSize != kDataAreaSize || !is_known_layout(program_->layoutSignature)) {
    char layout[64];
    std::snprintf(layout, sizeof layout, "%u bytes, layout 0x%08X", static_cast<unsigned>(program_->dataSize),
                  static_cast<unsigned>(program_->layoutSignature));
    std::string known = std::to_string(kDataAreaSize) + " bytes, layout";
    for (std::size_t i = 0; i < kKnownLayoutSignatures.size(); ++i) {
      char signature[16];
      std::snprintf(signature, sizeof signature, "0x%08X", static_cast<unsigned>(kKnownLayoutSignatures[i]));
      known += (i == 0 ? " " : " or ") + std::string(signature);
    }
    return runtime_error("the data area of " + entry + " (" + layout + ") is not the one softplc knows by name (" +
                         known + ")");
  }
  return ok_status();
}

Result<DataRef> Plc::reference(const Symbol& symbol) const {
  if (auto status = variable_access(); !status) return status.error();
  return DataRef{program_, symbol.offset};
}

Result<Encoded> Plc::read(const Symbol& symbol) const {
  auto kept = reference(symbol);
  if (!kept) return kept.error();
  return read(*kept, symbol);
}

Status Plc::write(const Symbol& symbol, std::span<const uint8_t> bytes) {
  auto kept = reference(symbol);
  if (!kept) return kept.error();
  return write(*kept, symbol, bytes);
}

Result<Encoded> Plc::read(const DataRef& reference, const Symbol& symbol) const {
  Encoded value;
  value.size = symbol.size();
  const int32_t status = module_.exports().getData(&reference, value.bytes.data(), value.size);
  if (status != KX_STATUS_OK) {
    return runtime_error("cannot read " + symbol.name + " (offset " + std::to_string(reference.offset) + ", " +
                         std::to_string(value.size) + " bytes): " + status_text(status));
  }
  return value;
}

Status Plc::write(const DataRef& reference, const Symbol& symbol, std::span<const uint8_t> bytes) {
  if (bytes.size() != symbol.size()) return runtime_error("wrong value size for " + symbol.name);
  const int32_t status = module_.exports().setData(&reference, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (status != KX_STATUS_OK) {
    return runtime_error("cannot write " + symbol.name + " (offset " + std::to_string(reference.offset) + ", " +
                         std::to_string(bytes.size()) + " bytes): " + status_text(status));
  }
  return ok_status();
}

}  // namespace softplc
