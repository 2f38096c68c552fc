// softplc info and softplc vars: what the module says of itself, and the names of its symbol file.
#include <algorithm>

#include "softplc/cli/commands.h"
#include "softplc/run/prepare.h"
#include "softplc/live/modbus/modbus_channel.h"
#include "softplc/symbols/symbol_file.h"
#include "softplc/plc/plc.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

std::string padded(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

int report_error(const Error& error, std::ostream& err) {
  err << "softplc: " << error.message << "\n";
  if (error.kind == ErrorKind::usage) {
    err << "Run 'softplc --help' for usage.\n";
    return kExitUsage;
  }
  return kExitFailure;
}

int command_info(const Arguments& args, std::ostream& out, std::ostream& err) {
  auto path = module_path(args.module);
  if (!path) return report_error(path.error(), err);
  auto module = Module::load(*path);
  if (!module) return report_error(module.error(), err);
  auto info = query_module_info(*module);
  if (!info) return report_error(info.error(), err);
  SymbolSource source;
  if (args.symbolsGiven) source.file = args.symbols;
  auto symbols = bind_symbols(*module, source);

  out << "module:         " << info->name << "\n"
      << "file:           " << module->path().string() << "\n"
      << "CfwVersion:     " << info->cfwMajor << "." << info->cfwMinor << " \"" << info->cfwText << "\"\n"
      << "code version:   " << info->codeVersion << "\n"
      << "time base:      " << info->ticksPerSecond << " ticks per second\n"
      << "tasks:          " << info->taskCount << "\n"
      << "entry points:   " << info->entryPoints.size() << "\n";
  for (std::size_t i = 0; i < info->entryPoints.size(); ++i) {
    const auto& ep = info->entryPoints[i];
    out << "  [" << i << "] " << ep.name << "  data size " << ep.dataSize << " bytes  layout signature "
        << hex32(ep.layoutSignature) << "\n";
  }
  if (!symbols) {
    // Shown with the rest, and a failure as for every command: the file named (or the one beside
    // the module) cannot serve.
    out << "symbols:        none: " << symbols.error().message << "\n";
    return report_error(symbols.error(), err);
  } else if (!symbols->symbols) {
    out << "symbols:        none: " << symbols->note << "\n";
  } else {
    const Symbols& s = *symbols->symbols;
    out << "symbols:        " << s.file << " (entry point " << s.entryPoint << ": " << s.variables.size()
        << " variables, " << s.program_variables().size() << " of them the program's, " << s.records.size()
        << " block instances and records)\n";
  }
  return kExitOk;
}

int command_vars(const Arguments& args, std::ostream& out, std::ostream& err) {
  // One argument is the module when it names a file, the pattern otherwise.
  std::string moduleText = args.module;
  std::string pattern = args.pattern;
  if (pattern.empty() && !moduleText.empty()) {
    std::error_code ec;
    if (!std::filesystem::exists(moduleText, ec) && moduleText.find('/') == std::string::npos &&
        moduleText.find('\\') == std::string::npos) {
      pattern = moduleText;
      moduleText.clear();
    }
  }
  auto path = module_path(moduleText);
  if (!path) return report_error(path.error(), err);
  SymbolSource source;
  if (args.symbolsGiven) {
    if (args.symbols.empty()) return report_error(usage_error("--symbols needs a file name"), err);
    source.file = args.symbols;
  }
  auto module = Module::load(*path);
  if (!module) return report_error(module.error(), err);
  auto bound = bind_symbols(*module, source);
  if (!bound) return report_error(bound.error(), err);
  if (!bound->symbols) {
    return report_error(runtime_error(bound->note + "; without one, variables are named by offset and type, e.g. @16:INT"),
                        err);
  }
  const std::string wanted = lower(pattern);
  out << "offset  type  direction  name\n";
  for (const Variable& variable : bound->symbols->variables) {
    if (!wanted.empty() && lower(variable.name).find(wanted) == std::string::npos) continue;
    const std::string offset = std::to_string(variable.offset);
    out << std::string(6 - std::min<std::size_t>(6, offset.size()), ' ') << offset << "  "
        << padded(std::string(type_name(variable.type)), 4) << "  "
        << padded(std::string(direction_name(variable.direction)), 9) << "  " << variable.name << "\n";
  }
  return kExitOk;
}

int command_modbus_map(const Arguments& args, std::ostream& out, std::ostream& err) {
  auto path = module_path(args.module);
  if (!path) return report_error(path.error(), err);
  SymbolSource source;
  if (args.symbolsGiven) source.file = args.symbols;
  auto plc = load_plc(*path, source);
  if (!plc) return report_error(plc.error(), err);
  std::optional<std::filesystem::path> mapFile;
  if (args.modbusMapGiven) mapFile = args.modbusMap;
  if (auto status = print_modbus_map(**plc, mapFile, args.csv, out); !status) return report_error(status.error(), err);
  return kExitOk;
}

}  // namespace softplc
