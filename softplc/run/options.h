// The options of a run, declared once. Each row names an option (as a configuration file spells it;
// the command line puts "--" before it), its value, its help, how a given text goes into the plan,
// what it needs of other options and which commands take it. The command line is built from this
// table, and anything else that sets up a run (a configuration file, an adapter's launch
// arguments) gives the same names to the same conversions through a PlanBuilder.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/run/plan.h"
#include "softplc/util/result.h"

namespace softplc {

// How messages name an option: "--period" on the command line, "period" in a file. Where a file
// gives options too, only those given on the command line (`dashed`) are named with the prefix;
// the others as the file names them.
struct OptionSpelling {
  std::string_view prefix = "--";
  const std::vector<std::string_view>* dashed = nullptr;
  std::string operator()(std::string_view name) const;
};

enum class OptionShape : uint8_t {
  Positional,   // named by its place, not by an option (the module)
  Flag,         // no value: given or not (in a file, true or false)
  Value,        // one value
  List,         // one value each time, repeatable
  Words,        // one or more values each time, repeatable
};

// Which commands take an option.
inline constexpr unsigned kForRun = 1u << 0;
inline constexpr unsigned kForDebug = 1u << 1;
// The launch arguments of an editor's debug session (softplc dap).
inline constexpr unsigned kForLaunch = 1u << 2;

// Which part of an option's value is a path: a file that names it relative to its own folder has
// that part made absolute before the value is converted.
enum class PathPart : uint8_t {
  None,
  Whole,        // "FILE"
  AfterColon,   // "CYCLE:MODULE"
};

struct RunOption {
  std::string_view name;     // "period"
  std::string_view value;    // "TIME" ("" for a flag)
  std::string_view help;
  OptionShape shape;
  unsigned commands;         // kForRun, kForDebug
  // Converts one given text (a flag's: "true" or "false") into the plan; what depends on other
  // options is checked once all are given.
  Status (*apply)(std::string_view text, const OptionSpelling& spell, RunPlan& plan);
  std::string_view needs = {};      // an option (or "a|b": one of two) without which this one means nothing
  std::string_view why = {};        // said after "--x needs --y"
  std::string_view excludes = {};   // an option that cannot be given with this one
  PathPart path = PathPart::None;
  // Why a file may not give this option (a secret that does not belong where others read it); ""
  // when it may.
  std::string_view notInFile = {};
};

// Every option, in the order the help lists them.
std::span<const RunOption> run_options();
const RunOption* find_run_option(std::string_view name);

// Takes the options given, in any order, and gives the plan once all are there.
class PlanBuilder {
 public:
  explicit PlanBuilder(OptionSpelling spell = {}) : spell_(spell) {}

  // One value of the option `name`, converted into the plan. An option the table does not know is
  // refused.
  Status give(std::string_view name, std::string_view text);
  // That `name` is given, before its values: the command line checks what the options given need of
  // each other first (check_relations), so that "--plot-size needs --plot" comes before what is
  // wrong with the size.
  Status note(std::string_view name);
  bool given(std::string_view name) const;
  // What each option given needs of the others, and excludes, in the table's order.
  Status check_relations() const;
  // What one option, if given, needs of the others and excludes.
  Status check_needs(std::string_view name) const;
  // The plan for `command` (kForRun, kForDebug or kForLaunch), once every option is given: what options need of
  // each other, and what depends on several of them (the cycles of a duration, a spin shorter than
  // the period, the cycles of the online changes), is checked here.
  Result<RunPlan> finish(unsigned command);

 private:
  Status check_needs(const RunOption& option) const;

  OptionSpelling spell_;
  RunPlan plan_;
  std::vector<std::string_view> given_;
};

}  // namespace softplc
