#include "softplc/cli/cli.h"

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "softplc/cli/arguments.h"
#include "softplc/cli/commands.h"

namespace softplc {

namespace {

constexpr const char* kExitCodes =
    "Exit status: 0 done; 1 the module, the runtime or a file failed (e.g. the module cannot be\n"
    "loaded or lacks an export, a trace cannot be written); 2 the command line is wrong (unknown\n"
    "command or option, missing argument, unknown variable, value that does not parse or does not\n"
    "fit its type); 3 the run went to its end, but an online change (--replace-at) was refused or\n"
    "its cycle not reached: the old module ran on; 4 the run was interrupted (Ctrl-C, SIGTERM,\n"
    "SIGHUP) after the cycle in progress, with its trace complete and its report printed.";

constexpr const char* kCommands = "info, vars, run, debug, modbus-map, help";

void add_set_option(CLI::App* command, Arguments& args) {
  command
      ->add_option("--set", args.sets,
                   "Write a variable after initialisation, before the first cycle (repeatable); NAME or @OFFSET:TYPE")
      ->type_name("NAME=VALUE")
      ->expected(1)
      ->allow_extra_args(false)
      ->take_all();
}

void add_symbols_option(CLI::App* command, Arguments& args) {
  command
      ->add_option("--symbols", args.symbols,
                   "The module's symbol file (default: MODULE's name with .symbols.json, beside it)")
      ->type_name("FILE")
      ->each([&args](const std::string&) { args.symbolsGiven = true; });
}

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
  run->add_flag("--rt", args.rt,
                "With --realtime: run the cycles at a real-time priority (SCHED_FIFO) with all memory locked");
  run->add_option("--rt-priority", args.rtPriority, "With --rt: the real-time priority, 1 to 99 (default 80)")
      ->type_name("N");
  run->add_option("--cpu", args.cpu, "With --realtime: run the cycles on this CPU only")->type_name("N");
  run->add_option("--spin", args.spin,
                  "With --realtime: wait the last stretch of this length before each deadline awake, reading the "
                  "clock, for a start closer to it (e.g. 50us)")
      ->type_name("TIME");
  run->add_flag("--warm", args.warm, "Initialise with start mode 1 (warm start) instead of 0 (cold start)");
  add_set_option(run, args);
  add_symbols_option(run, args);
  run->add_option("--trace", args.trace, "Write every program variable after each cycle to a CSV file")
      ->type_name("FILE.csv")
      ->each([&args](const std::string&) { args.traceGiven = true; });
  run->add_flag("--events", args.events, "Switch the debug hooks on and print every debug event and cycle error");
  run->add_flag("--stats", args.stats,
                "Print cycle statistics at the end (always done in real time; in a simulated run only the execution time)");
  run->add_option("--stats-every", args.statsEvery, "Also print the statistics of every interval this long, while running")
      ->type_name("TIME");
  run->add_option("--plot", args.plot, "Draw variables over time into a PNG picture (needs gnuplot)")
      ->type_name("FILE.png")
      ->each([&args](const std::string&) { args.plotGiven = true; });
  run->add_option("--vars", args.plotVars,
                  "The variables to draw and to add to the trace, comma-separated (default: the program's outputs "
                  "that change)")
      ->type_name("A,B,...")
      ->each([&args](const std::string&) { args.varsGiven = true; });
  run->add_option("--plot-size", args.plotSize, "Size of the picture in pixels (default 1000x600)")->type_name("WxH");
  run->add_option("--replace-at", args.replacements,
                  "Online change: before cycle CYCLE (from 0), MODULE replaces the running module (repeatable)")
      ->type_name("CYCLE:MODULE")
      ->expected(1)
      ->allow_extra_args(false)
      ->take_all();
  run->add_flag("--reload-on-change", args.reloadOnChange,
                "Watch the module file; once a new version has settled (0.5 s without change), change to it online "
                "between two cycles");
  run->add_option("--force", args.forces,
                  "Force a variable: written before every cycle (and after it when the program writes it), for the "
                  "whole run (repeatable)")
      ->type_name("NAME=VALUE")
      ->expected(1)
      ->allow_extra_args(false)
      ->take_all();
  run->add_option("--modbus", args.modbus,
                  "Serve the variables over Modbus TCP while running (address 127.0.0.1 unless given); a simulated "
                  "clock then keeps pace with real time")
      ->type_name("[ADDRESS:]PORT")
      ->each([&args](const std::string&) { args.modbusGiven = true; });
  run->add_option("--modbus-map", args.modbusMap, "The Modbus register map, CSV as 'softplc modbus-map --csv' prints")
      ->type_name("FILE.csv")
      ->each([&args](const std::string&) { args.modbusMapGiven = true; });
  run->add_flag("--modbus-read-only", args.modbusReadOnly, "Refuse every Modbus write");
  run->add_option("--modbus-max-clients", args.modbusMaxClients,
                  "Modbus clients served at once, 1 to 256 (default 16); further connections are closed")
      ->type_name("N");
  run->add_option("--modbus-idle-timeout", args.modbusIdleTimeout,
                  "Disconnect a Modbus client that sends no request for TIME (default 60s, 0: never)")
      ->type_name("TIME");
  run->add_option("--http", args.http,
                  "Serve the web view and its JSON API while running (address 127.0.0.1 unless given); a simulated "
                  "clock then keeps pace with real time")
      ->type_name("[ADDRESS:]PORT")
      ->each([&args](const std::string&) { args.httpGiven = true; });
  run->add_option("--http-token", args.httpToken,
                  "Writes from other than loopback need 'Authorization: Bearer TOKEN'")
      ->type_name("TOKEN")
      ->each([&args](const std::string&) { args.httpTokenGiven = true; });
  run->add_flag("--http-read-only", args.httpReadOnly, "Refuse every write through the web view");

  CLI::App* debug = app.add_subcommand(
      "debug", "Run the cycles under a command prompt: breakpoints, stepping through the debug events, variables");
  debug->add_option("MODULE", args.module, moduleHelp);
  debug->add_option("--period", args.period, "Cycle period of the simulated clock (default 10ms)")->type_name("TIME");
  add_set_option(debug, args);
  add_symbols_option(debug, args);
  debug->add_option("--script", args.script, "Read the commands from FILE instead of standard input; a failed command "
                                             "makes the exit status 1")
      ->type_name("FILE");
  debug->footer(
      "Commands at the prompt: break, delete, list, step, next, finish, continue, cycle, where, print, set,\n"
      "watch, unwatch, expect, events, local, help, quit ('help' at the prompt explains them). The end of\n"
      "the input quits.");

  CLI::App* modbusMap = app.add_subcommand("modbus-map", "Print the Modbus register map of the module");
  modbusMap->add_option("MODULE", args.module, moduleHelp);
  modbusMap->add_flag("--csv", args.csv, "As CSV: name,table,address,count,type,access");
  modbusMap->add_option("--modbus-map", args.modbusMap, "Check and print a user's map instead of the generated one")
      ->type_name("FILE.csv")
      ->each([&args](const std::string&) { args.modbusMapGiven = true; });
  add_symbols_option(modbusMap, args);

  CLI::App* help = app.add_subcommand("help", "Print this help, or the help of COMMAND");
  help->add_option("COMMAND", args.helpTopic, "info, vars, run, debug or modbus-map");

  if (argc <= 1) {
    out << main_help(app);
    return report_error(usage_error(std::string("a command is needed (") + kCommands + ")"), err);
  }
  // An unknown command gets its own message rather than a parser complaint about extra arguments.
  if (argv[1][0] != '-') {
    const std::string command = argv[1];
    if (command != "info" && command != "vars" && command != "run" && command != "debug" && command != "modbus-map" &&
        command != "help") {
      return report_error(usage_error("unknown command '" + command + "' (commands: " + kCommands + ")"), err);
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    for (CLI::App* command : {info, vars, run, debug, modbusMap}) {
      if (command->parsed()) {
        out << command->help();
        return kExitOk;
      }
    }
    out << main_help(app);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    return report_error(usage_error(e.what()), err);
  }

  if (help->parsed()) {
    if (args.helpTopic.empty()) {
      out << main_help(app);
      return kExitOk;
    }
    for (CLI::App* command : {info, vars, run, debug, modbusMap}) {
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
  if (debug->parsed()) return command_debug(args, out, err);
  if (modbusMap->parsed()) return command_modbus_map(args, out, err);
  return command_run(args, out, err);
}

}  // namespace softplc
