#include "softplc/cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "softplc/cli/arguments.h"
#include "softplc/cli/commands.h"
#include "softplc/config/config_file.h"
#include "softplc/config/plan_sources.h"
#include "softplc/run/options.h"
#include "softplc/run/plan.h"

namespace softplc {

namespace {

constexpr const char* kExitCodes =
    "Exit status: 0 done (also a run without --cycles or --duration that a signal ended); 1 the\n"
    "module, the runtime or a file failed (e.g. the module cannot be loaded or lacks an export, a\n"
    "trace cannot be written); 2 the command line or the configuration file is wrong (unknown\n"
    "command, option or key, missing argument, unknown variable, value that does not parse or does\n"
    "not fit its type); 3 the run went to its end, but an online change (--replace-at) was refused\n"
    "or its cycle not reached: the old module ran on; 4 a run with a limit was interrupted (Ctrl-C,\n"
    "SIGTERM, SIGHUP) after the cycle in progress, with its trace complete and its report printed;\n"
    "5 the task watchdog (--watchdog) stopped the run after a cycle that took too long, with its\n"
    "trace complete and its report printed.\n"
    "softplc test: 0 every scenario passed; 1 a scenario failed or could not run; 2 the command\n"
    "line is wrong; 4 interrupted; 6 a scenario file is wrong (nothing ran).";

constexpr const char* kCommands = "info, vars, run, debug, dap, test, modbus-map, config-check, help";

void add_symbols_option(CLI::App* command, Arguments& args) {
  command
      ->add_option("--symbols", args.symbols,
                   "The module's symbol file (default: MODULE's name with .symbols.json, beside it)")
      ->type_name("FILE")
      ->each([&args](const std::string&) { args.symbolsGiven = true; });
}

// The options of a run on a command, from the run's option table: each bound to text that the
// parser fills, handed to a PlanBuilder in the table's order once parsing is done.
class RunOptionsGiven {
 public:
  void add_to(CLI::App* command, unsigned use) {
    for (const RunOption& option : run_options()) {
      if ((option.commands & use) == 0) continue;
      const std::string name = option.shape == OptionShape::Positional ? std::string(option.value)
                                                                       : "--" + std::string(option.name);
      std::vector<std::string>& values = values_[option.name];
      CLI::Option* bound = nullptr;
      switch (option.shape) {
        case OptionShape::Flag: bound = command->add_flag(name)->description(std::string(option.help)); break;
        case OptionShape::Positional:
        case OptionShape::Value:
          bound = command->add_option(name, single_[option.name], std::string(option.help));
          break;
        case OptionShape::List:
          bound = command->add_option(name, values, std::string(option.help))
                      ->expected(1)
                      ->allow_extra_args(false)
                      ->take_all();
          break;
        case OptionShape::Words: bound = command->add_option(name, values, std::string(option.help)); break;
      }
      if (!option.value.empty() && option.shape != OptionShape::Positional) bound->type_name(std::string(option.value));
      bound_.push_back({&option, bound});
    }
    for (const auto& [option, bound] : bound_) {
      if (option->excludes.empty()) continue;
      for (const auto& [other, otherBound] : bound_)
        if (other->name == option->excludes) bound->excludes(otherBound);
    }
  }

  // The plan for `use`, from what was given and the configuration file's settings, if any.
  Result<RunPlan> plan(unsigned use, const RunConfig* config = nullptr) {
    std::vector<GivenOption> given;
    for (const auto& [option, bound] : bound_) {
      if (bound->count() == 0) continue;
      GivenOption& one = given.emplace_back(GivenOption{option, {}});
      if (option->shape == OptionShape::Flag) {
        one.texts.emplace_back("true");
      } else if (option->shape == OptionShape::Positional || option->shape == OptionShape::Value) {
        one.texts.push_back(single_[option->name]);
      } else {
        one.texts = values_[option->name];
      }
    }
    return make_run_plan(config, given, use);
  }

 private:
  std::vector<std::pair<const RunOption*, CLI::Option*>> bound_;
  std::map<std::string_view, std::string> single_;
  std::map<std::string_view, std::vector<std::string>> values_;
};

std::string main_help(CLI::App& app) {
  // App::help() would describe the subcommand that was parsed ("help"), not the program.
  return app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
}

}  // namespace

int run_command_line(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Arguments args;
  CLI::App app{"softplc: a soft PLC host. Loads an application module, initialises it and runs its cycles.",
               "softplc"};
  app.footer(kExitCodes);
  // "/tmp/x.so" is a path, not a Windows-style option, on every platform.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.set_help_flag("-h,--help", "Print this help (or a command's help) and exit");
  app.set_version_flag("--version", "softplc " KX_SOFTPLC_VERSION, "Print softplc's version and exit");

  const std::string moduleHelp = "The module library (default: CCodePublic beside softplc)";
  CLI::App* info = app.add_subcommand("info", "Print the module's name, versions, time base, tasks, entry points and symbol file");
  info->add_option("MODULE", args.module, moduleHelp);
  add_symbols_option(info, args);

  CLI::App* vars = app.add_subcommand("vars", "List the variables of the module's symbol file: offset, type, direction, name");
  vars->add_option("MODULE", args.module,
                   "The module (default: the one beside softplc); a single argument that is not a file is the PATTERN");
  vars->add_option("PATTERN", args.pattern, "Only the names that contain PATTERN (any case)");
  add_symbols_option(vars, args);

  CLI::App* run = app.add_subcommand("run", "Initialise the module and run its cycles");
  RunOptionsGiven runOptions;
  runOptions.add_to(run, kForRun);
  std::string configFile;
  CLI::Option* config =
      run->add_option("--config", configFile,
                      "Take the options from a YAML file whose keys are the options' names (period: 10ms); "
                      "the options given here replace the file's")
          ->type_name("FILE.yaml");
  run->footer(std::string(
                  "Without --cycles and --duration a run goes on until a signal ends it (SIGTERM, Ctrl-C; exit "
                  "status 0):\non the real-time clock, or on a simulated clock paced by --modbus or --http.\n\n") +
              kExitCodes);

  CLI::App* debug = app.add_subcommand(
      "debug", "Run the cycles under a command prompt: breakpoints, stepping through the debug events, variables");
  RunOptionsGiven debugOptions;
  debugOptions.add_to(debug, kForDebug);
  debug->add_option("--script", args.script, "Read the commands from FILE instead of standard input; a failed command "
                                             "makes the exit status 1")
      ->type_name("FILE");
  debug->footer(
      "Commands at the prompt: break, delete, list, step, next, finish, continue, cycle, where, print, set,\n"
      "watch, unwatch, expect, events, local, change, help, quit ('help' at the prompt explains them). The end\n"
      "of the input quits. The clock is the simulated one (kept in pace with real time while --modbus or\n"
      "--http serves); a cycle held at a stop holds the live channels' writes until the program goes on.");

  CLI::App* dap = app.add_subcommand(
      "dap", "A debug adapter (Debug Adapter Protocol) on standard input and output, for an editor that launches runs");
  dap->footer(
      "The editor sends 'launch' with the run's options by their names here ({\"program\": \"m.so\", \"period\":\n"
      "\"10ms\", \"set\": [\"IntRampEnable=TRUE\"], \"http\": 8080, \"stopOnEntry\": true}). To debug a running\n"
      "controller, start it with 'softplc run --dap PORT' and attach to that port.");

  TestArguments testArgs;
  CLI::App* test = app.add_subcommand(
      "test", "Run scenario files on the simulated clock: the expectations of each scenario, a line per scenario, "
              "a JUnit report");
  test->add_option("PATHS", testArgs.paths, "Scenario files (YAML), or folders of them (*.yaml, *.yml)")
      ->type_name("FILE|DIR");
  test->add_option("-j,--jobs", testArgs.jobs, "Run N scenarios at a time, each in a process of its own (default 1)")
      ->type_name("N");
  test->add_option("--junit", testArgs.junit, "Write a JUnit XML report of the scenarios")->type_name("FILE.xml");
  test->add_option("--trace-failures", testArgs.traceFailures,
                   "For each failed scenario, write its trace (CSV) and a plot of what it checks around the failure "
                   "into DIR (needs gnuplot)")
      ->type_name("DIR");
  test->add_option("--shard", testArgs.shard,
                   "Run the K-th of N equal parts of the scenarios (by file and name), e.g. --shard 2/4")
      ->type_name("K/N");
  test->add_option("--filter", testArgs.filter, "Run only the scenarios whose 'FILE: NAME' holds PATTERN (any case)")
      ->type_name("PATTERN");
  test->add_option("--module", testArgs.module, "Run every scenario with this module, whatever its file names")
      ->type_name("MODULE");
  test->add_option("--one", testArgs.one)->group("");
  test->add_option("--index", testArgs.index)->group("");
  test->add_option("--outcome", testArgs.outcome)->group("");
  test->footer(
      "Exit status: 0 every scenario passed; 1 a scenario failed or could not run (or the report could not\n"
      "be written); 2 the command line is wrong; 4 interrupted (Ctrl-C, SIGTERM); 6 a scenario file is wrong:\n"
      "it does not parse, or names a key, a variable, a time or a condition that does not fit (every\n"
      "mistake is told with its file, line and column) - then no scenario runs.");

  CLI::App* modbusMap = app.add_subcommand("modbus-map", "Print the Modbus register map of the module");
  modbusMap->add_option("MODULE", args.module, moduleHelp);
  modbusMap->add_flag("--csv", args.csv, "As CSV: name,table,address,count,type,access");
  modbusMap->add_option("--modbus-map", args.modbusMap, "Check and print a user's map instead of the generated one")
      ->type_name("FILE.csv")
      ->each([&args](const std::string&) { args.modbusMapGiven = true; });
  add_symbols_option(modbusMap, args);

  CLI::App* configCheck = app.add_subcommand(
      "config-check", "Check a configuration file of 'run --config' without running, and print its settings");
  configCheck->add_option("FILE", configFile, "The configuration file (YAML)")->required()->type_name("FILE.yaml");

  CLI::App* help = app.add_subcommand("help", "Print this help, or the help of COMMAND");
  help->add_option("COMMAND", args.helpTopic, "info, vars, run, debug, dap, test, modbus-map or config-check");
  // The commands with their own help, in the order the help lists them.
  const std::vector<CLI::App*> commands = {info, vars, run, debug, dap, test, modbusMap, configCheck};

  if (argc <= 1) {
    out << main_help(app);
    return report_error(usage_error(std::string("a command is needed (") + kCommands + ")"), err);
  }
  // An unknown command gets its own message rather than a parser complaint about extra arguments.
  if (argv[1][0] != '-') {
    const std::string command = argv[1];
    const bool known = std::any_of(commands.begin(), commands.end(),
                                   [&](const CLI::App* c) { return c->get_name() == command; });
    if (!known && command != "help") {
      return report_error(usage_error("unknown command '" + command + "' (commands: " + kCommands + ")"), err);
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    for (CLI::App* command : commands) {
      if (command->parsed()) {
        out << command->help();
        return kExitOk;
      }
    }
    out << main_help(app);
    return kExitOk;
  } catch (const CLI::CallForVersion& version) {
    out << version.what() << '\n';
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    return report_error(usage_error(e.what()), err);
  }

  if (help->parsed()) {
    if (args.helpTopic.empty()) {
      out << main_help(app);
      return kExitOk;
    }
    for (CLI::App* command : commands) {
      if (command->get_name() == args.helpTopic) {
        out << command->help();
        return kExitOk;
      }
    }
    return report_error(usage_error("no help for unknown command '" + args.helpTopic + "' (commands: " + kCommands + ")"),
                        err);
  }
  if (info->parsed()) return command_info(args, out, err);
  if (vars->parsed()) return command_vars(args, out, err);
  if (modbusMap->parsed()) return command_modbus_map(args, out, err);
  if (dap->parsed()) return command_dap(err);
  if (test->parsed()) return command_test(testArgs, out, err);
  if (configCheck->parsed()) return command_config_check(configFile, out, err);
  const bool debugging = debug->parsed();
  std::optional<RunConfig> settings;
  if (config->count() != 0) {
    if (configFile.empty()) return report_error(usage_error("--config needs a file name"), err);
    auto read = read_run_config(configFile);
    if (!read) return report_error(read.error(), err);
    settings = std::move(read).value();
  }
  auto plan = debugging ? debugOptions.plan(kForDebug) : runOptions.plan(kForRun, settings ? &*settings : nullptr);
  if (!plan) return report_error(plan.error(), err);
  if (debugging) return command_debug(std::move(plan).value(), args, out, err);
  return command_run(std::move(plan).value(), out, err);
}

}  // namespace softplc
