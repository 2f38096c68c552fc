// softplc debug: the module's cycles under the debugger's prompt.
#include <iostream>
#include <sstream>

#include "softplc/cli/commands.h"
#include "softplc/cli/run_options.h"
#include "softplc/debug/session.h"
#include "softplc/util/files.h"
#include "softplc/util/platform.h"

namespace softplc {

int command_debug(const Arguments& args, std::ostream& out, std::ostream& err) {
  auto period = parse_duration_ns(args.period);
  if (!period) return report_error(usage_error("--period: " + period.error().message), err);
  if (*period <= 0) return report_error(usage_error("--period must be longer than 0"), err);
  SymbolSource source;
  if (args.symbolsGiven) {
    if (args.symbols.empty()) return report_error(usage_error("--symbols needs a file name"), err);
    source.file = args.symbols;
  }
  // A script is a regular file, read whole: a FIFO or a device is refused rather than waited for.
  std::istringstream script;
  if (!args.script.empty()) {
    std::error_code ec;
    if (std::filesystem::is_directory(args.script, ec)) {
      return report_error(runtime_error("the script " + args.script + " is a directory, not a file of commands"), err);
    }
    constexpr uint64_t kMaxScriptBytes = uint64_t{16} << 20;
    auto text = read_file_bytes(args.script, kMaxScriptBytes);
    if (!text) return report_error(runtime_error("cannot read the script " + args.script + ": " + text.error().message), err);
    script.str(std::string(text->begin(), text->end()));
  }
  auto path = module_path(args.module);
  if (!path) return report_error(path.error(), err);
  auto plc = load_plc(*path, source);
  if (!plc) return report_error(plc.error(), err);
  auto sets = resolve_sets(**plc, args.sets);
  if (!sets) return report_error(sets.error(), err);

  DebugOptions options;
  // Commands that do not come from a person at a terminal are echoed after the prompt.
  options.echo = !args.script.empty() || !stdin_is_terminal();
  EngineOptions engineOptions;
  engineOptions.deadlines.periodNs = *period;
  Engine engine(std::move(plc).value(), engineOptions);
  if (auto status = engine.plc().initialise(0); !status) return report_error(status.error(), err);
  if (auto status = write_assignments(engine.plc(), *sets); !status) return report_error(status.error(), err);

  std::istream& in = args.script.empty() ? std::cin : script;
  auto outcome = debug(engine, options, in, out);
  if (!outcome) return report_error(outcome.error(), err);
  if (outcome->signal != nullptr) {
    err << "softplc: interrupted by " << outcome->signal << "\n";
    return kExitInterrupted;
  }
  // A script serves as a check: a command that failed (an `expect` that did not hold) fails it.
  if (options.echo && outcome->failedCommands != 0) {
    err << "softplc: " << outcome->failedCommands << (outcome->failedCommands == 1 ? " command" : " commands")
        << " of the session failed\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace softplc
