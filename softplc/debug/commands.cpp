// The debugger's commands: one row each in the table below, with the number of arguments it takes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "softplc/debug/session_impl.h"
#include "softplc/engine/engine.h"
#include "softplc/symbols/names.h"
#include "softplc/symbols/variable_spec.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

// A count argument: absent is 1; otherwise a whole number of at least 1.
std::optional<uint64_t> count_of(const std::vector<std::string>& args) {
  if (args.empty()) return 1;
  const auto n = whole_number<uint64_t>(args[0]);
  if (!n || *n == 0) return std::nullopt;
  return n;
}

// "on" or "off"; anything else gives none.
std::optional<bool> on_off(const std::string& word) {
  if (same_name(word, "on")) return true;
  if (same_name(word, "off")) return false;
  return std::nullopt;
}

// `text` in lines of at most `width` characters, each after `indent`.
std::string wrapped(std::string_view text, std::size_t indent, std::size_t width) {
  std::string result;
  std::string line;
  for (const std::string& word : words_of(std::string(text))) {
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      result += std::string(indent, ' ') + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return result + std::string(indent, ' ') + line + "\n";
}

// A value as a number, for a comparison within a tolerance.
double numeric(ValueType type, const Encoded& value) {
  switch (type) {
    case ValueType::Bool: return value.bytes[0] != 0 ? 1 : 0;
    case ValueType::Int: {
      int16_t v;
      std::memcpy(&v, value.bytes.data(), sizeof v);
      return v;
    }
    case ValueType::Uint: {
      uint16_t v;
      std::memcpy(&v, value.bytes.data(), sizeof v);
      return v;
    }
    case ValueType::Real: {
      float v;
      std::memcpy(&v, value.bytes.data(), sizeof v);
      return v;
    }
    case ValueType::Time: {
      int64_t v;
      std::memcpy(&v, value.bytes.data(), sizeof v);
      return static_cast<double>(v);
    }
  }
  return 0;
}


}  // namespace

std::span<const Command> Session::commands() {
  static const Command list[] = {
      {"break", "b", "break BLOCK|INSTANCE|VARIABLE|[BLOCK:|INSTANCE:]LINE|typeid N [if CONDITION]",
       "stop at the entry (kind 6) of every block of a type (a function block or an operation: TON, ADD_REAL), of "
       "one instance or embedded record (an instance name, or INSTANCE.Timer), or of the operation whose hook "
       "address is a variable (INSTANCE.Field); LINE stops at the statement on that line of the listing, before it "
       "runs, in every instance of its block, or in the one named (RealRamp:288; Ramp_Real:288 checks that the "
       "line is Ramp_Real's); 'typeid N' stops at every event of a type identifier, exits included; 'if CONDITION' "
       "stops only when the condition holds there (IntRamp.Value > 50 AND NOT LagResetCmd)",
       1, 64, &Session::cmd_break},
      {"delete", "", "delete [N]", "delete breakpoint N, or every breakpoint", 0, 1, &Session::cmd_delete},
      {"breakpoints", "", "breakpoints", "the breakpoints, numbered, with their hits (also 'info breakpoints')", 0, 0,
       &Session::cmd_breakpoints},
      {"info", "", "info breakpoints", "the breakpoints, numbered, with their hits", 1, 1, &Session::cmd_info},
      {"list", "l", "list [LINE|BLOCK|INSTANCE]",
       "the listing around the statement where the cycle is held, around a line, or a block's whole text "
       "(the breakpoints: 'breakpoints')",
       0, 1, &Session::cmd_list},
      {"step", "s", "step [N]", "run to the next event (between cycles: the first event of the next cycle), N times",
       0, 1, &Session::cmd_step},
      {"next", "n", "next [N]",
       "run to the next event at the same block depth or above, stepping over blocks, N times", 0, 1,
       &Session::cmd_next},
      {"finish", "", "finish", "run until the current block's ExitHook", 0, 0, &Session::cmd_finish},
      {"continue", "c", "continue", "run to the next breakpoint or stopping watch; the cycles run on (Ctrl-C stops)",
       0, 0, &Session::cmd_continue},
      {"cycle", "", "cycle [N]",
       "run N cycles (default 1) to their end without stopping; inside a cycle, the cycle in progress is the first",
       0, 1, &Session::cmd_cycle},
      {"where", "bt", "where",
       "the blocks and operations entered and not yet left, innermost first, each with the line of the listing "
       "that runs in it",
       0, 0, &Session::cmd_where},
      {"print", "p", "print [NAME|OFFSET:TYPE|INSTANCE]",
       "a variable's value (NAME, INSTANCE.Field, or by offset and type: 284:BOOL), every field of an instance, "
       "or without an argument the program's variables",
       0, 1, &Session::cmd_print},
      {"set", "", "set NAME|OFFSET:TYPE VALUE", "write a variable (BOOL TRUE/FALSE, INT, UINT, REAL, TIME as T#1s)", 2, 2,
       &Session::cmd_set},
      {"watch", "", "watch [NAME|OFFSET:TYPE [stop]]",
       "show the variable's old and new value whenever it changes between events; with 'stop', also stop there; "
       "without an argument, the watches",
       0, 2, &Session::cmd_watch},
      {"unwatch", "", "unwatch [NAME]", "stop watching a variable, or every variable", 0, 1, &Session::cmd_unwatch},
      {"expect", "", "expect NAME = VALUE [+- TOLERANCE]",
       "check a variable's value; when it differs, say so and count the command as failed (a script then exits "
       "with status 1)",
       1, 5, &Session::cmd_expect},
      {"events", "", "events [on|off]",
       "the global hook switch; while off (and local off) the module makes no hook calls: no breakpoint fires", 0, 1,
       &Session::cmd_events},
      {"local", "", "local [on|off]", "the entry points' own hook switches (localDebugFlag)", 0, 1, &Session::cmd_local},
      {"change", "", "change MODULE",
       "online change between two cycles: MODULE (with its symbol file) replaces the running module and takes over "
       "its values; watches follow their variables by name",
       1, 1, &Session::cmd_change},
      {"help", "h", "help [COMMAND]", "the commands, or one command", 0, 1, &Session::cmd_help},
      {"quit", "q", "quit", "end the session (a held cycle runs out first, without stops)", 0, 0, &Session::cmd_quit},
  };
  return list;
}

Flow Session::cmd_break(const std::vector<std::string>& args) {
  // LOCATION [if CONDITION]
  const auto at_if = std::find_if(args.begin(), args.end(), [](const std::string& word) { return same_name(word, "if"); });
  const std::vector<std::string> location(args.begin(), at_if);
  std::string condition;
  for (auto word = at_if == args.end() ? at_if : at_if + 1; word != args.end(); ++word) {
    condition += (condition.empty() ? "" : " ") + *word;
  }
  if (location.empty() || location.size() > 2 || (at_if != args.end() && condition.empty())) {
    return refuse("usage: " + std::string(commands()[0].usage));
  }
  Result<Breakpoint> made = usage_error("");
  if (location.size() == 2) {
    if (!same_name(location[0], "typeid")) return refuse("usage: break BLOCK|INSTANCE|VARIABLE, or break typeid N");
    made = target_.typeid_breakpoint(location[1]);
  } else {
    made = target_.name_breakpoint(location[0]);
  }
  if (!made) return refuse(made.error().message);
  if (!condition.empty()) {
    if (auto condition_set = target_.set_condition(*made, condition); !condition_set) {
      return refuse(condition_set.error().message);
    }
  }
  const Breakpoint& added = breakpoints_.add(std::move(made).value());
  message("breakpoint " + std::to_string(added.number) + ": " + added.description());
  if (!hooks_on()) message("note: events are off, so it cannot fire until 'events on'");
  return Flow::Stay;
}

Flow Session::cmd_delete(const std::vector<std::string>& args) {
  if (args.empty()) {
    message("deleted " + plural(breakpoints_.clear(), "breakpoint", "breakpoints"));
    return Flow::Stay;
  }
  const auto number = whole_number<int>(args[0]);
  if (!number || !breakpoints_.remove(*number)) return refuse("no breakpoint " + args[0] + " ('breakpoints' shows them)");
  message("deleted breakpoint " + args[0]);
  return Flow::Stay;
}

Flow Session::cmd_breakpoints(const std::vector<std::string>&) {
  if (breakpoints_.empty()) message("no breakpoints");
  for (const Breakpoint& breakpoint : breakpoints_.all()) {
    message(std::to_string(breakpoint.number) + "  " + breakpoint.description() + "  [" +
            plural(breakpoint.hits, "hit", "hits") + "]");
  }
  return Flow::Stay;
}

Flow Session::cmd_info(const std::vector<std::string>& args) {
  if (args[0].empty() || !starts_with_ignoring_case("breakpoints", args[0])) return refuse("usage: info breakpoints");
  return cmd_breakpoints({});
}

Flow Session::cmd_step(const std::vector<std::string>& args) {
  const auto count = count_of(args);
  if (!count) return refuse("usage: step [N], N a whole number of at least 1");
  stepper_.step(*count);
  if (!hooks_on()) message("events are off: the cycle runs to its end");
  return Flow::Resume;
}

Flow Session::cmd_next(const std::vector<std::string>& args) {
  const auto count = count_of(args);
  if (!count) return refuse("usage: next [N], N a whole number of at least 1");
  stepper_.next(*count, stack_.depth(), target_.in_cycle());
  if (!hooks_on()) message("events are off: the cycle runs to its end");
  return Flow::Resume;
}

Flow Session::cmd_finish(const std::vector<std::string>&) {
  if (!target_.in_cycle()) return refuse("no block is running; 'step' starts the next cycle");
  stepper_.finish(stack_.depth());
  if (stack_.empty()) message("no block is open: the cycle runs to its end");
  return Flow::Resume;
}

Flow Session::cmd_continue(const std::vector<std::string>&) {
  const bool stoppingWatch = std::any_of(watches_.begin(), watches_.end(), [](const Watch& w) { return w.stop; });
  if (breakpoints_.empty() && !stoppingWatch) {
    return refuse("no breakpoints, so 'continue' would not stop; set one with 'break', or run cycles with 'cycle N'");
  }
  if (!hooks_on() && !stoppingWatch) {
    return refuse("events are off: the module makes no hook calls, so no breakpoint can fire; 'events on' first");
  }
  stepper_.resume();
  return Flow::Resume;
}

Flow Session::cmd_cycle(const std::vector<std::string>& args) {
  const auto count = count_of(args);
  if (!count) return refuse("usage: cycle [N], N a whole number of at least 1");
  stepper_.cycles(*count);
  return Flow::Resume;
}

Flow Session::cmd_where(const std::vector<std::string>&) {
  if (!target_.in_cycle()) {
    message("no cycle is running; cycle " + std::to_string(target_.cycle()) + " is next");
    return Flow::Stay;
  }
  if (stack_.empty()) message("no block is open");
  const std::vector<Frame> open = stack_.innermost_first();
  for (std::size_t i = 0; i < open.size(); ++i) {
    message("#" + std::to_string(i) + "  " + open[i].place.text() +
            (open[i].line != 0 ? ", line " + std::to_string(open[i].line) : ""));
  }
  return Flow::Stay;
}

Flow Session::cmd_print(const std::vector<std::string>& args) {
  std::vector<Variable> shown;
  if (args.empty()) {
    if (symbols() == nullptr) return refuse(plc().symbols_note() + "; print OFFSET:TYPE (e.g. print @16:INT)");
    for (const Variable* variable : symbols()->program_variables()) shown.push_back(*variable);
  } else if (const Record* record = symbols() != nullptr ? symbols()->find_record(args[0]) : nullptr) {
    const std::string prefix = record->name + ".";
    for (const Variable& variable : symbols()->variables)
      if (variable.name.compare(0, prefix.size(), prefix) == 0) shown.push_back(variable);
  } else {
    auto found = variable(args[0]);
    if (!found) return refuse(found.error().message);
    shown.push_back(*found);
  }
  for (const Variable& variable : shown) {
    auto value = read_text(variable);
    if (!value) return refuse(value.error().message);
    message(shown_name(variable) + " = " + *value);
  }
  return Flow::Stay;
}

Flow Session::cmd_set(const std::vector<std::string>& args) {
  auto found = variable(args[0]);
  if (!found) return refuse(found.error().message);
  auto value = parse_value(found->type, args[1]);
  if (!value) return refuse(found->name + ": " + value.error().message);
  auto bytes = encode(*value, plc().ticks_per_second());
  if (!bytes) return refuse(found->name + ": " + bytes.error().message);
  if (auto status = plc().write(*found, bytes->view()); !status) return refuse(status.error().message);
  auto now = read_text(*found);
  message(shown_name(*found) + " = " + (now ? *now : "?"));
  // What the user wrote is not a change the program made.
  for (Watch& watch : watches_) {
    if (auto seen = plc().read(watch.variable)) watch.value = *seen;
  }
  return Flow::Stay;
}

Flow Session::cmd_watch(const std::vector<std::string>& args) {
  if (args.empty()) {
    if (watches_.empty()) message("no watches");
    for (const Watch& watch : watches_) {
      message(shown_name(watch.variable) + " = " +
              format_for_people(watch.variable.type, watch.value.view(), plc().ticks_per_second()) +
              (watch.stop ? " (stops when it changes)" : ""));
    }
    return Flow::Stay;
  }
  const bool stop = args.size() == 2;
  if (stop && !same_name(args[1], "stop")) return refuse("usage: watch NAME|OFFSET:TYPE [stop]");
  auto found = variable(args[0]);
  if (!found) return refuse(found.error().message);
  auto value = plc().read(*found);
  if (!value) return refuse(value.error().message);
  const std::string stops = ", stopping when it changes";
  for (Watch& watch : watches_) {
    if (watch.variable.offset == found->offset && watch.variable.type == found->type) {
      watch.stop = watch.stop || stop;
      message("already watching " + shown_name(watch.variable) + (watch.stop ? stops : ""));
      return Flow::Stay;
    }
  }
  message("watching " + shown_name(*found) + " = " +
          format_for_people(found->type, value->view(), plc().ticks_per_second()) + (stop ? stops : ""));
  watches_.push_back({*found, *value, stop});
  return Flow::Stay;
}

Flow Session::cmd_unwatch(const std::vector<std::string>& args) {
  if (args.empty()) {
    message("removed " + plural(watches_.size(), "watch", "watches"));
    watches_.clear();
    return Flow::Stay;
  }
  auto found = variable(args[0]);
  if (!found) return refuse(found.error().message);
  const auto at = std::find_if(watches_.begin(), watches_.end(), [&](const Watch& w) {
    return w.variable.offset == found->offset && w.variable.type == found->type;
  });
  if (at == watches_.end()) return refuse("not watching " + found->name);
  message("no longer watching " + shown_name(at->variable));
  watches_.erase(at);
  return Flow::Stay;
}

Flow Session::cmd_expect(const std::vector<std::string>& args) {
  // "NAME = VALUE", "NAME=VALUE", "NAME = VALUE +- TOLERANCE".
  std::string joined;
  for (const std::string& arg : args) joined += (joined.empty() ? "" : " ") + arg;
  const auto equals = joined.find('=');
  const auto plusMinus = joined.find("+-");
  if (equals == std::string::npos || (plusMinus != std::string::npos && plusMinus < equals)) {
    return refuse("usage: expect NAME = VALUE [+- TOLERANCE]");
  }
  const std::string_view text = joined;
  const std::string name(trimmed(text.substr(0, equals), " "));
  const std::string wanted(trimmed(
      text.substr(equals + 1, plusMinus == std::string::npos ? std::string::npos : plusMinus - equals - 1), " "));
  const std::string slack(plusMinus == std::string::npos ? std::string_view() : trimmed(text.substr(plusMinus + 2), " "));
  auto found = variable(name);
  if (!found) return refuse(found.error().message);
  const auto encoded = [&](const std::string& text) -> Result<Encoded> {
    auto value = parse_value(found->type, text);
    if (!value) return value.error();
    return encode(*value, plc().ticks_per_second());
  };
  auto expected = encoded(wanted);
  if (!expected) return refuse(found->name + ": " + expected.error().message);
  auto actual = plc().read(*found);
  if (!actual) return refuse(actual.error().message);

  bool holds = actual->bytes == expected->bytes;
  if (!slack.empty()) {
    auto allowed = encoded(slack);
    if (!allowed) return refuse(found->name + ": tolerance " + allowed.error().message);
    // A negative (or NaN) tolerance would make every comparison fail, or pass as its magnitude.
    const double tolerance = numeric(found->type, *allowed);
    if (!(tolerance >= 0)) return refuse(found->name + ": the tolerance " + slack + " must be 0 or more");
    holds = std::fabs(numeric(found->type, *actual) - numeric(found->type, *expected)) <= tolerance;
  }
  const std::string seen = format_for_people(found->type, actual->view(), plc().ticks_per_second());
  if (!holds) {
    return refuse("expect failed: " + shown_name(*found) + " = " + seen + ", expected " + wanted +
                  (slack.empty() ? "" : " +- " + slack));
  }
  message("expect holds: " + shown_name(*found) + " = " + seen);
  return Flow::Stay;
}

Flow Session::cmd_events(const std::vector<std::string>& args) {
  if (args.empty()) {
    message(std::string("events are ") + (plc().hooks() ? "on" : "off") + " (local " +
            (plc().local_hooks() ? "on" : "off") + ")");
    return Flow::Stay;
  }
  const auto on = on_off(args[0]);
  if (!on) return refuse("usage: events [on|off]");
  plc().set_hooks(*on);
  if (*on) {
    message("events on");
  } else if (plc().local_hooks()) {
    message("events off; the entry point's local switch is on, so the events still come");
  } else {
    message("events off: the module makes no hook calls now, so no breakpoint can fire and step, next and finish "
            "stop only at the end of a cycle, until 'events on'");
  }
  return Flow::Stay;
}

Flow Session::cmd_local(const std::vector<std::string>& args) {
  if (args.empty()) {
    message(std::string("local is ") + (plc().local_hooks() ? "on" : "off"));
    return Flow::Stay;
  }
  const auto on = on_off(args[0]);
  if (!on) return refuse("usage: local [on|off]");
  plc().set_local_hooks(*on);
  if (*on || plc().hooks()) {
    message(std::string("local ") + (*on ? "on" : "off") + "; events come " +
            (*on ? "whatever the global switch is" : "through the global switch"));
  } else {
    message("local off, and events are off: the module makes no hook calls, so no breakpoint can fire");
  }
  return Flow::Stay;
}

Flow Session::cmd_change(const std::vector<std::string>& args) {
  if (target_.in_cycle()) return refuse("a cycle is held here; an online change comes between two cycles: 'cycle' first");
  const ChangeContext context{args[0], plc().module().name(), target_.cycle()};
  // The watches follow the change (module_changed); what it ends is told after the change itself.
  changing_ = true;
  auto change = engine_.change_module(args[0]);
  changing_ = false;
  std::string text = describe_change(change, context);
  if (!change) return refuse(text.substr(0, text.size() - 1));
  out_ << text;
  for (const std::string& note : std::exchange(changeNotes_, {})) message(note);
  return Flow::Stay;
}

Flow Session::cmd_help(const std::vector<std::string>& args) {
  for (const Command& command : commands()) {
    if (!args.empty() && !same_name(args[0], command.name) && !same_name(args[0], command.alias)) continue;
    out_ << command.usage << (command.alias.empty() ? "" : " (or " + std::string(command.alias) + ")") << "\n"
         << wrapped(command.help, 4, 100);
    if (!args.empty()) return Flow::Stay;
  }
  if (!args.empty()) return refuse("no command '" + args[0] + "' ('help' lists the commands)");
  return Flow::Stay;
}

Flow Session::cmd_quit(const std::vector<std::string>&) {
  stepper_.quit();
  // The held cycle runs out without hook calls.
  plc().set_hooks(false);
  plc().set_local_hooks(false);
  return Flow::Resume;
}

}  // namespace softplc
