// A module attached to the runtime, as a soft PLC drives it: the entry points registered with the
// runtime, the host's global hook switch stored into every entry point, initialisation, cycles,
// the names of the data area from the module's symbol file, and variable access through the
// module's data-access exports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "softplc/symbols/symbol_table.h"
#include "softplc/plc/module.h"
#include "softplc/util/values.h"

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

// Where the names of a module come from: the symbol file beside it, or the one named here.
struct SymbolSource {
  std::optional<std::filesystem::path> file;
};

// The names for the module's entry points: the first of its entry points that the symbol file
// describes is the one whose variables are named, and its data size and layout signature must be
// the module's. No symbol file beside the module gives none (with the reason in `note`); a named
// file that is missing, a file that does not parse and one that does not match are refused.
struct BoundSymbols {
  std::shared_ptr<const Symbols> symbols;   // null without a symbol file
  std::string note;                         // why there are none
};
Result<BoundSymbols> bind_symbols(const Module& module, const SymbolSource& source);

class Plc {
  struct Key {};   // only attach() can make a Plc

 public:
  // Takes over the module: queries and registers its entry points and stores the address of the
  // global hook switch into each of them. Nothing of the application has run yet. The same as
  // make() and then register_entry_points().
  static Result<std::unique_ptr<Plc>> attach(Module module, BoundSymbols symbols);
  // Takes over the module without telling the runtime: queries and checks its entry points. This
  // touches nothing the running module uses, so it may happen on any thread.
  static Result<std::unique_ptr<Plc>> make(Module module, BoundSymbols symbols);

  Plc(Key, Module module);

  // Registers the entry points with the runtime and stores the address of the global hook switch
  // into each of them.
  Status register_entry_points();
  // The entry points forget the hook switch and are unregistered: the runtime no longer knows the
  // module, which may then be unloaded on any thread.
  void unregister();

  // Unregisters (if that was not done) and unloads the module.
  ~Plc();
  Plc(const Plc&) = delete;
  Plc& operator=(const Plc&) = delete;

  const Module& module() const { return module_; }
  uint32_t ticks_per_second() const { return ticksPerSecond_; }

  // Start mode 0 = cold start, 1 = warm start.
  Status initialise(uint32_t startMode);
  // One cycle of every entry point.
  void cycle() { (void)module_.exports().simpleMain(KX_MODE_CYCLE, 0); }

  // The global hook switch: on, every entry point reports its debug events.
  void set_hooks(bool on) { globalHookSwitch_ = on ? 1u : 0u; }
  bool hooks() const { return globalHookSwitch_ != 0; }
  // The entry points' own (local) hook switches: on, they report their events whatever the
  // global switch is.
  void set_local_hooks(bool on);
  bool local_hooks() const { return localHooks_; }

  // The registered entry points, in index order.
  std::span<EntryPointDescriptor* const> entry_points() const { return entryPoints_; }
  // The entry point whose data area the host reads and writes: the one the symbol file names, or
  // the first.
  EntryPointDescriptor* program() const { return program_; }
  uint32_t data_size() const { return program_->dataSize; }

  // The names of the program's data area, or null; then `symbols_note()` says why.
  const Symbols* symbols() const { return symbols_.symbols.get(); }
  std::shared_ptr<const Symbols> shared_symbols() const { return symbols_.symbols; }
  const std::string& symbols_note() const { return symbols_.note; }

  // A variable by name or as OFFSET:TYPE ("@16:INT").
  Result<Variable> variable(std::string_view text) const;

  // A reference to a variable of the program's data area, to be kept by the host: an online
  // change maps the references a host keeps into the new module's data area.
  DataRef reference(const Variable& variable) const { return DataRef{program_, variable.offset}; }
  // Access through a reference; the variable gives the value's type and name.
  Result<Encoded> read(const DataRef& reference, const Variable& variable) const;
  Status write(const DataRef& reference, const Variable& variable, std::span<const uint8_t> bytes);
  Result<Encoded> read(const Variable& variable) const { return read(reference(variable), variable); }
  Status write(const Variable& variable, std::span<const uint8_t> bytes) {
    return write(reference(variable), variable, bytes);
  }
  // The whole data area of the program in one read; `bytes` holds data_size() bytes.
  Status read_area(std::span<uint8_t> bytes) const;
  // Bytes of the data area from `offset` on, in one write (a debugger's memory view).
  Status write_area(uint32_t offset, std::span<const uint8_t> bytes);

 private:
  Module module_;
  std::vector<EntryPointDescriptor*> entryPoints_;
  std::vector<EntryPointDescriptor*> registered_;
  EntryPointDescriptor* program_ = nullptr;
  uint32_t ticksPerSecond_ = 0;
  BoundSymbols symbols_;
  bool localHooks_ = false;
  // The module reads this through the pointer it was given, at every hook, while cycles run.
  volatile uint32_t globalHookSwitch_ = 0;
};

// Loads the module at `path`, binds its symbols and attaches it.
Result<std::unique_ptr<Plc>> load_plc(const std::filesystem::path& path, const SymbolSource& source);

std::string hex32(uint32_t value);

}  // namespace softplc
