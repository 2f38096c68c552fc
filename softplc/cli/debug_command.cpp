// softplc debug: the run the plan describes, its cycles under the debugger's prompt.
#include <iostream>
#include <sstream>

#include "softplc/cli/commands.h"
#include "softplc/debug/session.h"
#include "softplc/util/files.h"
#include "softplc/util/platform.h"
#include "softplc/util/text.h"

namespace softplc {

int command_debug(RunPlan plan, const Arguments& args, std::ostream& out, std::ostream& err) {
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
  auto run = Run::load(std::move(plan), RunLog{out, err});
  if (!run) return report_error(run.error(), err);

  DebugOptions options;
  // Commands that do not come from a person at a terminal are echoed after the prompt.
  options.echo = !args.script.empty() || !stdin_is_terminal();
  std::istream& in = args.script.empty() ? std::cin : script;
  auto outcome = debug(**run, options, in, out);
  const int reported = print_debug_report((*run)->finish(), out, err);
  if (!outcome) return report_error(outcome.error(), err);
  if (outcome->signal != nullptr) {
    err << "softplc: interrupted by " << outcome->signal << "\n";
    return kExitInterrupted;
  }
  // A script serves as a check: a command that failed (an `expect` that did not hold) fails it.
  if (options.echo && outcome->failedCommands != 0) {
    err << "softplc: " << plural(outcome->failedCommands, "command", "commands") << " of the session failed\n";
    return kExitFailure;
  }
  return reported;
}

}  // namespace softplc
