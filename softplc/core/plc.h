// A module attached to the runtime, as a soft PLC drives it: the entry points registered with the
// runtime, the host's global hook switch stored into every entry point, initialisation, cycles,
// and variable access by name through the module's data-access exports.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "softplc/core/module.h"
#include "softplc/core/symbols.h"
#include "softplc/core/values.h"

namespace softplc {

// What the module tells about itself, read through its query exports.
struct ModuleInfo {
  std::string name;
  uint32_t cfwMajor = 0;
  uint32_t cfwMinor = 0;
  std::string cfwText;
  std::string codeVersion;
  uint32_t ticksPerSecond = 0;
  uint32_t taskCount = 0;
  struct EntryPoint {
    std::string name;
    uint32_t dataSize = 0;
    uint32_t layoutSignature = 0;
  };
  std::vector<EntryPoint> entryPoints;
};

// Reads the version records and the entry points; refuses descriptors that cannot be ours.
Result<ModuleInfo> query_module_info(const Module& module);

class Plc {
  struct Key {};   // only attach() can make a Plc

 public:
  // Takes over the module: queries and registers its entry points and stores the address of the
  // global hook switch into each of them. Nothing of the application has run yet.
  static Result<std::unique_ptr<Plc>> attach(Module module);

  Plc(Key, Module module);

  // Detaches: the entry points forget the hook switch and are unregistered; then the module is
  // unloaded.
  ~Plc();
  Plc(const Plc&) = delete;
  Plc& operator=(const Plc&) = delete;

  const Module& module() const { return module_; }
  uint32_t ticks_per_second() const { return ticksPerSecond_; }

  // Start mode 0 = cold start, 1 = warm start.
  Status initialise(uint32_t startMode);
  // One cycle of every entry point.
  void cycle();

  // The global hook switch: on, every entry point reports its debug events.
  void set_hooks(bool on) { globalHookSwitch_ = on ? 1u : 0u; }
  bool hooks() const { return globalHookSwitch_ != 0; }

  // The registered entry points, in index order; the program's (null if the module has none).
  std::span<EntryPointDescriptor* const> entry_points() const { return entryPoints_; }
  EntryPointDescriptor* program() const { return program_; }

  // Whether the symbol table describes this module's data area: an entry point of the program's
  // name with the data-area size and layout signature that the table was made for.
  Status variable_access() const;

  // Variable access through the data-access exports, on the data area of the program's entry point.
  Result<Encoded> read(const Symbol& symbol) const;
  Status write(const Symbol& symbol, std::span<const uint8_t> bytes);

  // A reference to a variable of the program's data area, to be kept by the host: an online
  // change maps the references a host keeps into the new module's data area.
  Result<DataRef> reference(const Symbol& symbol) const;
  // Access through a kept reference (made by reference() or mapped by an online change); the
  // symbol gives the value's type and name. The layout is not checked again.
  Result<Encoded> read(const DataRef& reference, const Symbol& symbol) const;
  Status write(const DataRef& reference, const Symbol& symbol, std::span<const uint8_t> bytes);

 private:

  Module module_;
  std::vector<EntryPointDescriptor*> entryPoints_;
  std::vector<EntryPointDescriptor*> registered_;
  EntryPointDescriptor* program_ = nullptr;
  uint32_t ticksPerSecond_ = 0;
  // The module reads this through the pointer it was given, at every hook, while cycles run.
  volatile uint32_t globalHookSwitch_ = 0;
};

}  // namespace softplc
