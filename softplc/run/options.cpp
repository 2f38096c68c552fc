#include "softplc/run/options.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "softplc/util/files.h"
#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

namespace {

using Spell = OptionSpelling;

Result<bool> flag(std::string_view text, const Spell& spell, std::string_view name) {
  if (text == "true") return true;
  if (text == "false") return false;
  return usage_error(spell(name) + " expects true or false, got '" + std::string(text) + "'");
}

// A whole number from `lowest` to `highest`.
Result<int> whole(std::string_view text, const Spell& spell, std::string_view name, int lowest, int highest) {
  const auto value = whole_number<int>(text);
  if (!value || *value < lowest || *value > highest) {
    return usage_error(spell(name) + " expects a whole number from " + std::to_string(lowest) + " to " +
                       std::to_string(highest) + ", got '" + std::string(text) + "'");
  }
  return *value;
}

// A duration longer than 0 ("10ms", "T#1s").
Result<int64_t> positive_duration(std::string_view text, const Spell& spell, std::string_view name) {
  auto ns = parse_duration_ns(text);
  if (!ns) return usage_error(spell(name) + ": " + ns.error().message);
  if (*ns <= 0) return usage_error(spell(name) + " must be longer than 0");
  return *ns;
}

Result<std::filesystem::path> file_name(std::string_view text, const Spell& spell, std::string_view name) {
  if (text.empty()) return usage_error(spell(name) + " needs a file name");
  return std::filesystem::path(std::string(text));
}

// Sets `field` from a flag's text.
#define KX_FLAG(option, field)                                              \
  [](std::string_view text, const Spell& spell, RunPlan& plan) -> Status { \
    auto on = flag(text, spell, option);                                    \
    if (!on) return on.error();                                             \
    plan.field = *on;                                                       \
    return ok_status();                                                     \
  }

Status apply_cycles(std::string_view text, const Spell& spell, RunPlan& plan) {
  const auto count = whole_number<uint64_t>(text);
  if (!count || *count == 0) {
    return usage_error(spell("cycles") + " expects a whole number of at least 1, got '" + std::string(text) + "'");
  }
  plan.cycles = *count;
  return ok_status();
}

Status apply_duration(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto ns = positive_duration(text, spell, "duration");
  if (!ns) return ns.error();
  plan.durationNs = *ns;
  return ok_status();
}

Status apply_period(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto ns = positive_duration(text, spell, "period");
  if (!ns) return ns.error();
  plan.periodNs = *ns;
  return ok_status();
}

Status apply_rt_priority(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto priority = whole(text, spell, "rt-priority", kMinRealTimePriority, kMaxRealTimePriority);
  if (!priority) return priority.error();
  plan.rt.priority = *priority;
  return ok_status();
}

Status apply_cpu(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto cpu = whole(text, spell, "cpu", 0, std::numeric_limits<int>::max());
  if (!cpu) return cpu.error();
  plan.rt.cpu = *cpu;
  return ok_status();
}

Status apply_spin(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto spin = parse_duration_ns(text);
  if (!spin) return usage_error(spell("spin") + ": " + spin.error().message);
  plan.spinNs = *spin;
  return ok_status();
}

Status apply_warm(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto warm = flag(text, spell, "warm");
  if (!warm) return warm.error();
  plan.startMode = *warm ? 1 : 0;
  return ok_status();
}

Status apply_set(std::string_view text, const Spell&, RunPlan& plan) {
  plan.sets.emplace_back(text);
  return ok_status();
}

Status apply_force(std::string_view text, const Spell&, RunPlan& plan) {
  plan.forces.emplace_back(text);
  return ok_status();
}

Status apply_symbols(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto file = file_name(text, spell, "symbols");
  if (!file) return file.error();
  plan.symbols.file = *file;
  return ok_status();
}

Status apply_trace(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto file = file_name(text, spell, "trace");
  if (!file) return file.error();
  plan.tracePath = *file;
  return ok_status();
}

Status apply_stats_every(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto ns = positive_duration(text, spell, "stats-every");
  if (!ns) return ns.error();
  plan.statsEveryNs = *ns;
  return ok_status();
}

Status apply_plot(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto file = file_name(text, spell, "plot");
  if (!file) return file.error();
  plan.plot.path = *file;
  return ok_status();
}

// "LagOut,IntRamp.Clock.ET": names separated by single commas.
Status apply_vars(std::string_view text, const Spell& spell, RunPlan& plan) {
  for (const std::string_view name : split(text, ',')) {
    if (name.empty()) {
      return usage_error(spell("vars") + ": an empty name in '" + std::string(text) +
                         "' (names are separated by single commas)");
    }
    plan.vars.emplace_back(name);
  }
  return ok_status();
}

// "1000x600": the picture's size in pixels.
Status apply_plot_size(std::string_view text, const Spell& spell, RunPlan& plan) {
  const auto x = text.find_first_of("xX");
  const auto width = whole_number<unsigned>(text.substr(0, x));
  const auto height = x == std::string_view::npos ? std::nullopt : whole_number<unsigned>(text.substr(x + 1));
  const auto fits = [](std::optional<unsigned> size) { return size && *size >= 100 && *size <= 10000; };
  if (!fits(width) || !fits(height)) {
    return usage_error(spell("plot-size") + " expects WIDTHxHEIGHT in pixels, each 100 to 10000, got '" +
                       std::string(text) + "'");
  }
  plan.plot.width = *width;
  plan.plot.height = *height;
  return ok_status();
}

// "500:next.so": before cycle 500, the module next.so replaces the running one.
Status apply_replace_at(std::string_view text, const Spell& spell, RunPlan& plan) {
  const auto colon = text.find(':');
  const auto cycle = colon == std::string_view::npos ? std::nullopt : whole_number<uint64_t>(text.substr(0, colon));
  if (!cycle || colon + 1 == text.size()) {
    return usage_error(spell("replace-at") + " expects CYCLE:MODULE (e.g. 500:CCodePublic_next.so), got '" +
                       std::string(text) + "'");
  }
  plan.replacements.push_back({*cycle, std::filesystem::path(std::string(text.substr(colon + 1)))});
  return ok_status();
}

Status apply_modbus(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto address = parse_listen_address(std::string(text), spell("modbus").c_str());
  if (!address) return address.error();
  plan.modbus.address = *address;
  plan.serveModbus = true;
  return ok_status();
}

Status apply_modbus_map(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto file = file_name(text, spell, "modbus-map");
  if (!file) return file.error();
  plan.modbus.mapFile = *file;
  return ok_status();
}

Status apply_modbus_max_clients(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto clients = whole(text, spell, "modbus-max-clients", 1, 256);
  if (!clients) return clients.error();
  plan.modbus.maxClients = static_cast<uint32_t>(*clients);
  return ok_status();
}

// A duration, or 0: never.
Status apply_modbus_idle_timeout(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto ns = text == "0" ? Result<int64_t>(0) : parse_duration_ns(text);
  if (!ns) return usage_error(spell("modbus-idle-timeout") + ": " + ns.error().message);
  plan.modbus.idleTimeout = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(*ns));
  if (*ns != 0 && plan.modbus.idleTimeout.count() == 0) plan.modbus.idleTimeout = std::chrono::milliseconds(1);
  return ok_status();
}

Status apply_http(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto address = parse_listen_address(std::string(text), spell("http").c_str());
  if (!address) return address.error();
  plan.http.address = *address;
  plan.serveHttp = true;
  return ok_status();
}

// What a token may hold: it goes into a header, so printable ASCII without blanks.
Status check_token(std::string_view token, const std::string& where) {
  if (token.empty()) return usage_error(where + " needs a token");
  for (const char c : token) {
    if (c <= ' ' || c > '~') return usage_error(where + ": a token is printable ASCII without blanks");
  }
  return ok_status();
}

Status apply_http_token(std::string_view text, const Spell& spell, RunPlan& plan) {
  if (auto fits = check_token(text, spell("http-token")); !fits) return fits;
  plan.http.token = std::string(text);
  return ok_status();
}

// The token is the file's first line (a line end after it is not part of it); the file holds
// nothing else.
Status apply_http_token_file(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto file = file_name(text, spell, "http-token-file");
  if (!file) return file.error();
  constexpr uint64_t kMaxTokenFileBytes = 4096;
  auto bytes = read_file_bytes(*file, kMaxTokenFileBytes);
  const std::string where = spell("http-token-file") + " " + display_path(*file);
  if (!bytes) return usage_error("cannot read " + where + ": " + bytes.error().message);
  std::string_view token(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  if (token.ends_with('\n')) token.remove_suffix(1);
  if (token.ends_with('\r')) token.remove_suffix(1);
  if (auto fits = check_token(token, where); !fits) return fits;
  plan.http.token = std::string(token);
  return ok_status();
}

Status apply_watchdog(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto ns = positive_duration(text, spell, "watchdog");
  if (!ns) return ns.error();
  plan.watchdog.limitNs = *ns;
  return ok_status();
}

Status apply_watchdog_action(std::string_view text, const Spell& spell, RunPlan& plan) {
  if (text == "stop") {
    plan.watchdog.action = WatchdogAction::Stop;
  } else if (text == "report") {
    plan.watchdog.action = WatchdogAction::Report;
  } else {
    return usage_error(spell("watchdog-action") + " expects stop or report, got '" + shown(text) + "'");
  }
  return ok_status();
}

Status apply_dap(std::string_view text, const Spell& spell, RunPlan& plan) {
  auto address = parse_listen_address(std::string(text), spell("dap").c_str());
  if (!address) return address.error();
  plan.dapAddress = *address;
  plan.serveDap = true;
  return ok_status();
}

Status apply_dap_token(std::string_view text, const Spell& spell, RunPlan& plan) {
  if (auto fits = check_token(text, spell("dap-token")); !fits) return fits;
  plan.dapToken = std::string(text);
  return ok_status();
}

constexpr std::string_view kNoDeadlines = " (a simulated run has no deadlines to keep)";
constexpr unsigned kBoth = kForRun | kForDebug | kForLaunch;

const RunOption kOptions[] = {
    {"module", "MODULE", "The module library (default: CCodePublic beside softplc)", OptionShape::Positional, kBoth,
     [](std::string_view text, const Spell&, RunPlan& plan) -> Status {
       plan.module = std::string(text);
       return ok_status();
     },
     {}, {}, {}, PathPart::Whole},
    {"cycles", "N", "Number of cycles to run", OptionShape::Value, kForRun | kForLaunch, apply_cycles, {}, {}, "duration"},
    {"duration", "TIME", "Run for this long instead (cycles = duration / period, rounded up)", OptionShape::Value,
     kForRun | kForLaunch, apply_duration},
    {"period", "TIME", "Cycle period (default 10ms); e.g. 10ms, 0.5s, T#100ms", OptionShape::Value, kBoth,
     apply_period},
    {"realtime", "", "Run on the monotonic clock, each cycle at its absolute deadline (default: simulated clock)",
     OptionShape::Flag, kForRun | kForLaunch, KX_FLAG("realtime", realtime)},
    {"rt", "", "With --realtime: run the cycles at a real-time priority (SCHED_FIFO) with all memory locked",
     OptionShape::Flag, kForRun, KX_FLAG("rt", rt.scheduling), "realtime", kNoDeadlines},
    {"rt-priority", "N", "With --rt: the real-time priority, 1 to 99 (default 80)", OptionShape::Value, kForRun,
     apply_rt_priority, "rt"},
    {"cpu", "N", "With --realtime: run the cycles on this CPU only", OptionShape::Value, kForRun, apply_cpu,
     "realtime", kNoDeadlines},
    {"spin", "TIME",
     "With --realtime: wait the last stretch of this length before each deadline awake, reading the clock, for a "
     "start closer to it (e.g. 50us)",
     OptionShape::Value, kForRun | kForLaunch, apply_spin, "realtime", kNoDeadlines},
    {"warm", "", "Initialise with start mode 1 (warm start) instead of 0 (cold start)", OptionShape::Flag, kBoth,
     apply_warm},
    {"set", "NAME=VALUE",
     "Write a variable after initialisation, before the first cycle (repeatable); NAME or @OFFSET:TYPE",
     OptionShape::List, kBoth, apply_set},
    {"symbols", "FILE", "The module's symbol file (default: MODULE's name with .symbols.json, beside it)",
     OptionShape::Value, kBoth, apply_symbols, {}, {}, {}, PathPart::Whole},
    {"trace", "FILE.csv", "Write every program variable after each cycle to a CSV file", OptionShape::Value, kBoth,
     apply_trace, {}, {}, {}, PathPart::Whole},
    {"events", "", "Switch the debug hooks on and print every debug event and cycle error", OptionShape::Flag,
     kForRun, KX_FLAG("events", events)},
    {"stats", "",
     "Print cycle statistics at the end (always done in real time; in a simulated run only the execution time)",
     OptionShape::Flag, kForRun, KX_FLAG("stats", stats)},
    {"stats-every", "TIME", "Also print the statistics of every interval this long, while running",
     OptionShape::Value, kForRun, apply_stats_every},
    {"plot", "FILE.png", "Draw variables over time into a PNG picture (needs gnuplot)", OptionShape::Value, kForRun,
     apply_plot, {}, {}, {}, PathPart::Whole},
    {"vars", "A,B,...",
     "The variables to draw and to add to the trace, comma-separated (default: the program's outputs that change)",
     OptionShape::Words, kBoth, apply_vars, "plot|trace"},
    {"plot-size", "WxH", "Size of the picture in pixels (default 1000x600)", OptionShape::Value, kForRun,
     apply_plot_size, "plot"},
    {"replace-at", "CYCLE:MODULE",
     "Online change: before cycle CYCLE (from 0), MODULE replaces the running module (repeatable)",
     OptionShape::List, kForRun | kForLaunch, apply_replace_at, {}, {}, {}, PathPart::AfterColon},
    {"reload-on-change", "",
     "Watch the module file; once a new version has settled (0.5 s without change), change to it online between "
     "two cycles",
     OptionShape::Flag, kBoth, KX_FLAG("reload-on-change", reloadOnChange)},
    {"force", "NAME=VALUE",
     "Force a variable: written before every cycle (and after it when the program writes it), for the whole run "
     "(repeatable)",
     OptionShape::List, kBoth, apply_force},
    {"modbus", "[ADDRESS:]PORT",
     "Serve the variables over Modbus TCP while running (address 127.0.0.1 unless given); a simulated clock then "
     "keeps pace with real time",
     OptionShape::Value, kBoth, apply_modbus},
    {"modbus-map", "FILE.csv", "The Modbus register map, CSV as 'softplc modbus-map --csv' prints",
     OptionShape::Value, kBoth, apply_modbus_map, "modbus", {}, {}, PathPart::Whole},
    {"modbus-read-only", "", "Refuse every Modbus write", OptionShape::Flag, kBoth,
     KX_FLAG("modbus-read-only", modbus.readOnly), "modbus"},
    {"modbus-max-clients", "N", "Modbus clients served at once, 1 to 256 (default 16); further connections are closed",
     OptionShape::Value, kBoth, apply_modbus_max_clients, "modbus"},
    {"modbus-idle-timeout", "TIME", "Disconnect a Modbus client that sends no request for TIME (default 60s, 0: never)",
     OptionShape::Value, kBoth, apply_modbus_idle_timeout, "modbus"},
    {"http", "[ADDRESS:]PORT",
     "Serve the web view and its JSON API while running (address 127.0.0.1 unless given); a simulated clock then "
     "keeps pace with real time",
     OptionShape::Value, kBoth, apply_http},
    {"http-token", "TOKEN",
     "Writes from other than loopback need 'Authorization: Bearer TOKEN' (default: the environment's "
     "SOFTPLC_HTTP_TOKEN)",
     OptionShape::Value, kBoth, apply_http_token, "http", {}, "http-token-file", PathPart::None,
     "a token is not kept in the configuration, which others may read: name a file that holds it with "
     "http-token-file, or set SOFTPLC_HTTP_TOKEN in the environment"},
    {"http-token-file", "FILE", "With --http: read the token of --http-token from FILE (its first line)",
     OptionShape::Value, kBoth, apply_http_token_file, "http", {}, {}, PathPart::Whole},
    {"http-read-only", "", "Refuse every write through the web view", OptionShape::Flag, kBoth,
     KX_FLAG("http-read-only", http.readOnly), "http"},
    {"watchdog", "TIME",
     "Task watchdog: a cycle whose call into the module takes longer than TIME is reported with its number and "
     "duration (and stops the run, see --watchdog-action)",
     OptionShape::Value, kForRun, apply_watchdog},
    {"watchdog-action", "stop|report",
     "With --watchdog: stop the run after a long cycle (default, exit status 5) or only report it", OptionShape::Value,
     kForRun, apply_watchdog_action, "watchdog"},
    {"dap", "[ADDRESS:]PORT",
     "Serve a debug adapter (Debug Adapter Protocol) that an editor attaches to, one client at a time (address "
     "127.0.0.1 unless given); a simulated clock then keeps pace with real time",
     OptionShape::Value, kForRun, apply_dap, {}, {}, "events"},
    {"dap-token", "TOKEN", "A debugging client must give this token in its attach arguments (needed off loopback)",
     OptionShape::Value, kForRun, apply_dap_token, "dap", {}, {}, PathPart::None,
     "a token is not kept in the configuration, which others may read; give it on the command line"},
};

#undef KX_FLAG

}  // namespace

std::string OptionSpelling::operator()(std::string_view name) const {
  if (dashed != nullptr && std::find(dashed->begin(), dashed->end(), name) == dashed->end()) return std::string(name);
  return std::string(prefix) + std::string(name);
}

RunLimit RunPlan::limit() const {
  if (cycles) return RunLimit{*cycles, false};
  // The cycles that start before the duration has passed: t = 0, period, ... < duration.
  if (durationNs) return RunLimit{static_cast<uint64_t>((*durationNs - 1) / periodNs) + 1, true};
  return RunLimit{UINT64_MAX, false};
}

std::span<const RunOption> run_options() { return kOptions; }

const RunOption* find_run_option(std::string_view name) {
  for (const RunOption& option : kOptions)
    if (option.name == name) return &option;
  return nullptr;
}

Status PlanBuilder::note(std::string_view name) {
  const RunOption* option = find_run_option(name);
  if (option == nullptr) return usage_error("unknown option " + spell_(name));
  if (!given(option->name)) given_.push_back(option->name);
  return ok_status();
}

Status PlanBuilder::give(std::string_view name, std::string_view text) {
  if (auto known = note(name); !known) return known;
  return find_run_option(name)->apply(text, spell_, plan_);
}

Status PlanBuilder::check_relations() const {
  for (const RunOption& option : kOptions) {
    if (auto status = check_needs(option); !status) return status;
  }
  return ok_status();
}

Status PlanBuilder::check_needs(std::string_view name) const {
  const RunOption* option = find_run_option(name);
  if (option == nullptr) return usage_error("unknown option " + spell_(name));
  return check_needs(*option);
}

bool PlanBuilder::given(std::string_view name) const {
  return std::find(given_.begin(), given_.end(), name) != given_.end();
}

Status PlanBuilder::check_needs(const RunOption& option) const {
  if (!given(option.name)) return ok_status();
  if (!option.excludes.empty() && given(option.excludes)) {
    return usage_error(spell_(option.name) + " excludes " + spell_(option.excludes));
  }
  if (option.needs.empty()) return ok_status();
  const auto bar = option.needs.find('|');
  const std::string_view first = option.needs.substr(0, bar);
  const std::string_view second = bar == std::string_view::npos ? std::string_view() : option.needs.substr(bar + 1);
  if (given(first) || (!second.empty() && given(second))) return ok_status();
  return usage_error(spell_(option.name) + " needs " + spell_(first) + (second.empty() ? "" : " or " + spell_(second)) +
                     std::string(option.why));
}

Result<RunPlan> PlanBuilder::finish(unsigned command) {
  for (const RunOption& option : kOptions) {
    if (given(option.name) && (option.commands & command) == 0) {
      return usage_error(spell_(option.name) + " is not an option of this command");
    }
  }
  if (auto related = check_relations(); !related) return related.error();
  RunPlan& plan = plan_;
  // Without a limit a run goes on until it is stopped: on the real-time clock, or on a simulated
  // clock that a live channel paces; a simulated clock on its own would run as fast as it can.
  if (command == kForRun && plan.until_stopped() && !plan.realtime && !plan.live()) {
    return usage_error("run needs " + spell_("cycles") + " N or " + spell_("duration") + " TIME (a run until stopped " +
                       "needs " + spell_("realtime") + ", or " + spell_("modbus") + " or " + spell_("http") +
                       " to pace its simulated clock)");
  }
  // A token from the environment where none was given, so that it need not show in a command line.
  if (plan.serveHttp && plan.http.token.empty()) {
    if (const char* token = std::getenv("SOFTPLC_HTTP_TOKEN"); token != nullptr && *token != '\0') {
      if (auto fits = check_token(token, "SOFTPLC_HTTP_TOKEN"); !fits) return fits.error();
      plan.http.token = token;
    }
  }
  const RunLimit limit = plan.limit();
  // The last cycle's time must fit the clock's nanoseconds.
  if ((plan.cycles || plan.durationNs) &&
      limit.count - 1 > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / plan.periodNs)) {
    return usage_error(spell_("cycles") + " times " + spell_("period") + " is too long a run");
  }
  if (given("spin") && (plan.spinNs < 0 || plan.spinNs >= plan.periodNs)) {
    return usage_error(spell_("spin") + " must be at least 0 and shorter than the period");
  }
  if (plan.rt.cpu) {
    if (auto usable = check_cpu(*plan.rt.cpu); !usable) return usable.error();
  }
  if (given("vars") && plan.vars.empty()) return usage_error(spell_("vars") + " needs at least one name");
  std::vector<Replacement> replacements;
  for (const Replacement& replacement : plan.replacements) {
    if (replacement.beforeCycle >= limit.count) {
      return usage_error(spell_("replace-at") + " " + std::to_string(replacement.beforeCycle) + ":" +
                         replacement.module.string() + ": the run has cycles 0 to " + std::to_string(limit.count - 1));
    }
    for (const Replacement& other : replacements) {
      if (other.beforeCycle == replacement.beforeCycle) {
        return usage_error(spell_("replace-at") + ": two changes before cycle " + std::to_string(other.beforeCycle));
      }
    }
    replacements.push_back(replacement);
  }
  std::sort(replacements.begin(), replacements.end(),
            [](const Replacement& a, const Replacement& b) { return a.beforeCycle < b.beforeCycle; });
  plan.replacements = std::move(replacements);
  if (plan.serveModbus && plan.serveHttp && plan.modbus.address.port == plan.http.address.port &&
      plan.modbus.address.host == plan.http.address.host) {
    return usage_error(spell_("modbus") + " and " + spell_("http") + " cannot listen on the same address " +
                       plan.http.address.text());
  }
  const auto same_address = [](const ListenAddress& a, const ListenAddress& b) { return a.port == b.port && a.host == b.host; };
  if (plan.serveDap && ((plan.serveHttp && same_address(plan.dapAddress, plan.http.address)) ||
                        (plan.serveModbus && same_address(plan.dapAddress, plan.modbus.address)))) {
    return usage_error(spell_("dap") + " cannot listen on the address of another channel, " + plan.dapAddress.text());
  }
  return plan;
}

}  // namespace softplc
