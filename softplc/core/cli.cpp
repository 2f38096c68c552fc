#include "softplc/core/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "softplc/core/debugger.h"
#include "softplc/core/platform.h"
#include "softplc/core/plc.h"
#include "softplc/core/runner.h"
#include "softplc/core/symbols.h"
#include "softplc/core/values.h"

namespace softplc {

namespace {

constexpr const char* kExitCodes =
    "Exit status: 0 done; 1 the module, the runtime or a file failed (e.g. the module cannot be\n"
    "loaded or lacks an export); 2 the command line is wrong (unknown command or option, missing\n"
    "argument, unknown variable, value that does not parse or does not fit its type); 3 the run\n"
    "went to its end, but an online change (--replace-at) was refused: the old module ran on.";

// What the user asked for, as text; checked and converted after parsing.
struct Arguments {
  std::string module;
  std::string pattern;
  std::string helpTopic;
  std::string cycles;
  std::string duration;
  std::string period = "10ms";
  bool realtime = false;
  bool warm = false;
  std::vector<std::string> sets;
  std::string trace;
  bool events = false;
  bool stats = false;
  std::string statsEvery;
  std::string plot;
  std::vector<std::string> plotVars;
  std::string plotSize;
  std::vector<std::string> replacements;
  std::string script;
};

int report(const Error& error, std::ostream& err) {
  err << "softplc: " << error.message << "\n";
  if (error.kind == ErrorKind::usage) {
    err << "Run 'softplc --help' for usage.\n";
    return kExitUsage;
  }
  return kExitFailure;
}

std::string hex32(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
  return buffer;
}

Result<std::filesystem::path> module_path(const std::string& given) {
  if (!given.empty()) return std::filesystem::path(given);
  auto path = default_module_path();
  if (!path) return path.error();
  std::error_code ec;
  if (!std::filesystem::exists(*path, ec)) {
    return runtime_error("no module named and none beside softplc (" + path->string() +
                         "); name one: softplc run MODULE");
  }
  return path;
}

int command_info(const Arguments& args, std::ostream& out, std::ostream& err) {
  auto path = module_path(args.module);
  if (!path) return report(path.error(), err);
  auto module = Module::load(*path);
  if (!module) return report(module.error(), err);
  auto info = query_module_info(*module);
  if (!info) return report(info.error(), err);

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
  return kExitOk;
}

int command_vars(const Arguments& args, std::ostream& out) {
  std::string pattern = args.pattern;
  for (char& c : pattern) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  out << "offset  type  name\n";
  for (const Symbol& symbol : symbols()) {
    std::string lower = symbol.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!pattern.empty() && lower.find(pattern) == std::string::npos) continue;
    std::string offset = std::to_string(symbol.offset);
    std::string type(type_name(symbol.type));
    out << std::string(6 - std::min<std::size_t>(6, offset.size()), ' ') << offset << "  " << type
        << std::string(6 - type.size(), ' ') << symbol.name << "\n";
  }
  return kExitOk;
}

Result<uint64_t> parse_count(const std::string& text) {
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0) {
    return usage_error("--cycles expects a whole number of at least 1, got '" + text + "'");
  }
  return value;
}

// The --set values: NAME=VALUE, the name known and the value of its type.
Result<std::vector<Assignment>> parse_sets(const std::vector<std::string>& sets) {
  std::vector<Assignment> assignments;
  for (const std::string& set : sets) {
    const auto equals = set.find('=');
    if (equals == std::string::npos || equals == 0) {
      return usage_error("--set expects NAME=VALUE, got '" + set + "'");
    }
    auto symbol = find_symbol(std::string_view(set).substr(0, equals));
    if (!symbol) return symbol.error();
    auto value = parse_value((*symbol)->type, std::string_view(set).substr(equals + 1));
    if (!value) return usage_error((*symbol)->name + ": " + value.error().message);
    assignments.push_back({*symbol, *value});
  }
  return assignments;
}

// "1000x600": the picture's size in pixels.
Status parse_plot_size(const std::string& text, PlotOptions& plot) {
  const auto x = text.find_first_of("xX");
  unsigned size[2] = {0, 0};
  bool good = x != std::string::npos;
  for (int i = 0; good && i < 2; ++i) {
    const char* first = text.data() + (i == 0 ? 0 : x + 1);
    const char* last = text.data() + (i == 0 ? x : text.size());
    const auto [end, ec] = std::from_chars(first, last, size[i]);
    good = first != last && ec == std::errc() && end == last && size[i] >= 100 && size[i] <= 10000;
  }
  if (!good) return usage_error("--plot-size expects WIDTHxHEIGHT in pixels, each 100 to 10000, got '" + text + "'");
  plot.width = size[0];
  plot.height = size[1];
  return ok_status();
}

// "500:next.so": before cycle 500, the module next.so replaces the running one.
Result<Replacement> parse_replacement(const std::string& text) {
  const auto colon = text.find(':');
  uint64_t cycle = 0;
  const char* end = text.data() + (colon == std::string::npos ? 0 : colon);
  const auto parsed = std::from_chars(text.data(), end, cycle);
  if (colon == std::string::npos || colon == 0 || parsed.ec != std::errc() || parsed.ptr != end ||
      colon + 1 == text.size()) {
    return usage_error("--replace-at expects CYCLE:MODULE (e.g. 500:CCodePublic_next.so), got '" + text + "'");
  }
  return Replacement{cycle, std::filesystem::path(text.substr(colon + 1))};
}

// Statistics, plot and online changes.
Status run_extras(const Arguments& args, RunOptions& options) {
  options.stats = args.stats;
  if (!args.statsEvery.empty()) {
    auto every = parse_duration_ns(args.statsEvery);
    if (!every) return usage_error("--stats-every: " + every.error().message);
    if (*every <= 0) return usage_error("--stats-every must be longer than 0");
    options.statsEveryNs = *every;
  }

  if (!args.plot.empty()) {
    PlotOptions plot;
    plot.path = args.plot;
    if (!args.plotSize.empty()) {
      if (auto status = parse_plot_size(args.plotSize, plot); !status) return status;
    }
    static constexpr const char* kDefaultPlot[] = {"LagOut", "IntRampOut", "RealRampOut", "BlinkQ"};
    std::vector<std::string> names(args.plotVars.begin(), args.plotVars.end());
    if (names.empty()) names.assign(std::begin(kDefaultPlot), std::end(kDefaultPlot));
    for (const std::string& name : names) {
      if (name.empty()) return usage_error("--vars: an empty name in the list");
      auto symbol = find_symbol(name);
      if (!symbol) return symbol.error();
      if (std::find(plot.variables.begin(), plot.variables.end(), *symbol) == plot.variables.end())
        plot.variables.push_back(*symbol);
    }
    options.plot = std::move(plot);
  }

  for (const std::string& text : args.replacements) {
    auto replacement = parse_replacement(text);
    if (!replacement) return replacement.error();
    if (replacement->beforeCycle >= options.cycles) {
      return usage_error("--replace-at " + text + ": the run has cycles 0 to " + std::to_string(options.cycles - 1));
    }
    for (const Replacement& other : options.replacements) {
      if (other.beforeCycle == replacement->beforeCycle) {
        return usage_error("--replace-at: two changes before cycle " + std::to_string(other.beforeCycle));
      }
    }
    options.replacements.push_back(*replacement);
  }
  std::sort(options.replacements.begin(), options.replacements.end(),
            [](const Replacement& a, const Replacement& b) { return a.beforeCycle < b.beforeCycle; });
  return ok_status();
}

Result<RunOptions> run_options(const Arguments& args) {
  RunOptions options;
  auto period = parse_duration_ns(args.period);
  if (!period) return usage_error("--period: " + period.error().message);
  if (*period <= 0) return usage_error("--period must be longer than 0");
  options.periodNs = *period;

  if (!args.cycles.empty()) {
    auto cycles = parse_count(args.cycles);
    if (!cycles) return cycles.error();
    options.cycles = *cycles;
  } else if (!args.duration.empty()) {
    auto duration = parse_duration_ns(args.duration);
    if (!duration) return usage_error("--duration: " + duration.error().message);
    if (*duration <= 0) return usage_error("--duration must be longer than 0");
    // The cycles that start before the duration has passed: t = 0, period, ... < duration.
    options.cycles = static_cast<uint64_t>((*duration - 1) / options.periodNs) + 1;
  } else {
    return usage_error("run needs --cycles N or --duration TIME");
  }
  // The last cycle's time must fit the clock's nanoseconds.
  if (options.cycles - 1 > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / options.periodNs)) {
    return usage_error("--cycles times --period is too long a run");
  }

  options.untilDuration = args.cycles.empty();
  options.realtime = args.realtime;
  options.startMode = args.warm ? 1 : 0;
  options.events = args.events;
  if (!args.trace.empty()) options.tracePath = std::filesystem::path(args.trace);

  auto assignments = parse_sets(args.sets);
  if (!assignments) return assignments.error();
  options.assignments = std::move(assignments).value();
  if (auto status = run_extras(args, options); !status) return status.error();
  return options;
}

// Loads the module named on the command line (or the default one), attaches it to the runtime and
// prints the line that names it.
Result<std::unique_ptr<Plc>> attach_module(const std::string& name, std::ostream& out) {
  auto path = module_path(name);
  if (!path) return path.error();
  auto module = Module::load(*path);
  if (!module) return module.error();
  auto info = query_module_info(*module);
  if (!info) return info.error();
  auto plc = Plc::attach(std::move(module).value());
  if (!plc) return plc.error();
  out << "module " << info->name << ": " << info->cfwText << ", code version " << info->codeVersion << ", "
      << info->ticksPerSecond << " ticks/s";
  for (const auto& ep : info->entryPoints) out << ", entry point " << ep.name;
  out << "\n";
  return plc;
}

int command_run(const Arguments& args, std::ostream& out, std::ostream& err) {
  // The whole command line is checked before the module is touched.
  auto options = run_options(args);
  if (!options) return report(options.error(), err);
  auto plc = attach_module(args.module, out);
  if (!plc) return report(plc.error(), err);
  auto outcome = run(*plc, *options, out, err);
  if (!outcome) return report(outcome.error(), err);
  return outcome->changesNotMade != 0 ? kExitChangeNotMade : kExitOk;
}

int command_debug(const Arguments& args, std::ostream& out, std::ostream& err) {
  DebugOptions options;
  auto period = parse_duration_ns(args.period);
  if (!period) return report(usage_error("--period: " + period.error().message), err);
  if (*period <= 0) return report(usage_error("--period must be longer than 0"), err);
  options.periodNs = *period;
  auto assignments = parse_sets(args.sets);
  if (!assignments) return report(assignments.error(), err);
  options.assignments = std::move(assignments).value();
  std::ifstream script;
  if (!args.script.empty()) {
    script.open(args.script);
    if (!script) return report(runtime_error("cannot read the script " + args.script), err);
  }
  // Commands that do not come from a person at a terminal are echoed after the prompt.
  options.echo = !args.script.empty() || !stdin_is_terminal();

  auto plc = attach_module(args.module, out);
  if (!plc) return report(plc.error(), err);
  std::istream& in = args.script.empty() ? std::cin : script;
  if (auto status = debug(**plc, options, in, out); !status) return report(status.error(), err);
  return kExitOk;
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

  const std::string moduleHelp = "The module library (default: CCodePublic beside softplc)";
  CLI::App* info = app.add_subcommand("info", "Print the module's name, versions, time base, tasks and entry points");
  info->add_option("MODULE", args.module, moduleHelp);

  CLI::App* vars = app.add_subcommand("vars", "List the variables known by name: offset, type and name");
  vars->add_option("PATTERN", args.pattern, "Only the names that contain PATTERN (any case)");

  CLI::App* run = app.add_subcommand("run", "Initialise the module and run its cycles");
  run->add_option("MODULE", args.module, moduleHelp);
  CLI::Option* cycles = run->add_option("--cycles", args.cycles, "Number of cycles to run")->type_name("N");
  CLI::Option* duration =
      run->add_option("--duration", args.duration, "Run for this long instead (cycles = duration / period, rounded up)")
          ->type_name("TIME");
  cycles->excludes(duration);
  run->add_option("--period", args.period, "Cycle period (default 10ms); e.g. 10ms, 0.5s, T#100ms")
      ->type_name("TIME");
  run->add_flag("--realtime", args.realtime,
                "Run on the monotonic clock, each cycle at its absolute deadline (default: simulated clock)");
  run->add_flag("--warm", args.warm, "Initialise with start mode 1 (warm start) instead of 0 (cold start)");
  run->add_option("--set", args.sets, "Write a variable after initialisation, before the first cycle (repeatable)")
      ->type_name("NAME=VALUE")
      ->expected(1)
      ->allow_extra_args(false)
      ->take_all();
  run->add_option("--trace", args.trace, "Write every program variable after each cycle to a CSV file")
      ->type_name("FILE.csv");
  run->add_flag("--events", args.events, "Switch the debug hooks on and print every debug event and cycle error");
  run->add_flag("--stats", args.stats,
                "Print cycle statistics at the end (always done in real time; in a simulated run only the execution time)");
  run->add_option("--stats-every", args.statsEvery, "Also print the statistics of every interval this long, while running")
      ->type_name("TIME");
  CLI::Option* plot =
      run->add_option("--plot", args.plot, "Draw variables over time into a PNG picture (needs gnuplot)")->type_name("FILE.png");
  run->add_option("--vars", args.plotVars,
                  "The variables to draw, comma-separated (default LagOut,IntRampOut,RealRampOut,BlinkQ)")
      ->type_name("A,B,...")
      ->delimiter(',')
      ->needs(plot);
  run->add_option("--plot-size", args.plotSize, "Size of the picture in pixels (default 1000x600)")
      ->type_name("WxH")
      ->needs(plot);
  run->add_option("--replace-at", args.replacements,
                  "Online change: before cycle CYCLE (from 0), MODULE replaces the running module (repeatable)")
      ->type_name("CYCLE:MODULE")
      ->expected(1)
      ->allow_extra_args(false)
      ->take_all();

  CLI::App* debug = app.add_subcommand(
      "debug", "Run the cycles under a command prompt: breakpoints, stepping through the debug events, variables");
  debug->add_option("MODULE", args.module, moduleHelp);
  debug->add_option("--period", args.period, "Cycle period of the simulated clock (default 10ms)")->type_name("TIME");
  debug->add_option("--set", args.sets, "Write a variable after initialisation, before the first cycle (repeatable)")
      ->type_name("NAME=VALUE")
      ->expected(1)
      ->allow_extra_args(false)
      ->take_all();
  debug->add_option("--script", args.script, "Read the commands from FILE instead of standard input")
      ->type_name("FILE");
  debug->footer(
      "Commands at the prompt: break, delete, list, step, next, finish, continue, cycle, where, print, set,\n"
      "watch, unwatch, events, local, help, quit ('help' at the prompt explains them). The end of the\n"
      "input quits.");

  CLI::App* help = app.add_subcommand("help", "Print this help, or the help of COMMAND");
  help->add_option("COMMAND", args.helpTopic, "info, vars, run or debug");

  // An unknown command gets its own message rather than a parser complaint about extra arguments.
  if (argc > 1 && argv[1][0] != '-') {
    const std::string command = argv[1];
    if (command != "info" && command != "vars" && command != "run" && command != "debug" && command != "help") {
      return report(usage_error("unknown command '" + command + "' (commands: info, vars, run, debug, help)"), err);
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    if (argc <= 1) {
      out << app.help();
      return kExitUsage;
    }
    return report(usage_error(e.what()), err);
  }

  if (help->parsed()) {
    if (args.helpTopic.empty()) {
      out << app.help();
      return kExitOk;
    }
    for (CLI::App* command : {info, vars, run, debug}) {
      if (command->get_name() == args.helpTopic) {
        out << command->help();
        return kExitOk;
      }
    }
    return report(usage_error("no help for unknown command '" + args.helpTopic + "'"), err);
  }
  if (info->parsed()) return command_info(args, out, err);
  if (vars->parsed()) return command_vars(args, out);
  if (debug->parsed()) return command_debug(args, out, err);
  return command_run(args, out, err);
}

}  // namespace softplc
