#include "softplc/cli/run_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <charconv>
#include <limits>

#include "softplc/util/files.h"
#include "softplc/util/platform.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

Result<uint64_t> parse_count(const std::string& text) {
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0) {
    return usage_error("--cycles expects a whole number of at least 1, got '" + text + "'");
  }
  return value;
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

// A whole number from `lowest` to `highest` for `option`.
Result<int> parse_int(const std::string& text, const char* option, int lowest, int highest) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < lowest || value > highest) {
    return usage_error(std::string(option) + " expects a whole number from " + std::to_string(lowest) + " to " +
                       std::to_string(highest) + ", got '" + text + "'");
  }
  return value;
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

// Modbus and the web view.
Status run_live(const Arguments& args, RunOptions& options) {
  if (args.modbusGiven) {
    auto address = parse_listen_address(args.modbus, "--modbus");
    if (!address) return address.error();
    ModbusOptions modbus;
    modbus.address = *address;
    modbus.readOnly = args.modbusReadOnly;
    if (args.modbusMapGiven) {
      if (args.modbusMap.empty()) return usage_error("--modbus-map needs a file name");
      modbus.mapFile = std::filesystem::path(args.modbusMap);
    }
    if (!args.modbusMaxClients.empty()) {
      auto clients = parse_int(args.modbusMaxClients, "--modbus-max-clients", 1, 256);
      if (!clients) return clients.error();
      modbus.maxClients = static_cast<uint32_t>(*clients);
    }
    if (!args.modbusIdleTimeout.empty()) {
      auto ns = args.modbusIdleTimeout == "0" ? Result<int64_t>(0) : parse_duration_ns(args.modbusIdleTimeout);
      if (!ns) return usage_error("--modbus-idle-timeout: " + ns.error().message);
      modbus.idleTimeout = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(*ns));
      if (*ns != 0 && modbus.idleTimeout.count() == 0) modbus.idleTimeout = std::chrono::milliseconds(1);
    }
    options.modbus = modbus;
  } else if (args.modbusMapGiven || args.modbusReadOnly || !args.modbusMaxClients.empty() ||
             !args.modbusIdleTimeout.empty()) {
    const char* option = args.modbusMapGiven            ? "--modbus-map"
                         : args.modbusReadOnly          ? "--modbus-read-only"
                         : !args.modbusMaxClients.empty() ? "--modbus-max-clients"
                                                          : "--modbus-idle-timeout";
    return usage_error(std::string(option) + " needs --modbus");
  }
  if (args.httpGiven) {
    auto address = parse_listen_address(args.http, "--http");
    if (!address) return address.error();
    HttpOptions http;
    http.address = *address;
    http.readOnly = args.httpReadOnly;
    http.token = args.httpToken;
    if (args.httpTokenGiven && http.token.empty()) return usage_error("--http-token needs a token");
    options.http = http;
  } else if (args.httpTokenGiven || args.httpReadOnly) {
    return usage_error(std::string(args.httpTokenGiven ? "--http-token" : "--http-read-only") + " needs --http");
  }
  if (options.modbus && options.http && options.modbus->address.port == options.http->address.port &&
      options.modbus->address.host == options.http->address.host) {
    return usage_error("--modbus and --http cannot listen on the same address " + options.http->address.text());
  }
  return ok_status();
}

Status run_schedule(const Arguments& args, RunOptions& options) {
  for (const std::string& text : args.replacements) {
    auto replacement = parse_replacement(text);
    if (!replacement) return replacement.error();
    if (replacement->beforeCycle >= options.limit.count) {
      return usage_error("--replace-at " + text + ": the run has cycles 0 to " + std::to_string(options.limit.count - 1));
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

// Real-time scheduling and waiting: --rt, --rt-priority, --cpu, --spin. All of them belong to a
// real-time run.
Status run_realtime(const Arguments& args, RunOptions& options) {
  const auto needs_realtime = [&](const char* option) {
    return usage_error(std::string(option) + " needs --realtime (a simulated run has no deadlines to keep)");
  };
  if (args.rt) {
    if (!args.realtime) return needs_realtime("--rt");
    options.rt.scheduling = true;
  }
  if (!args.rtPriority.empty()) {
    if (!args.rt) return usage_error("--rt-priority needs --rt");
    auto priority = parse_int(args.rtPriority, "--rt-priority", kMinRealTimePriority, kMaxRealTimePriority);
    if (!priority) return priority.error();
    options.rt.priority = *priority;
  }
  if (!args.cpu.empty()) {
    if (!args.realtime) return needs_realtime("--cpu");
    auto cpu = parse_int(args.cpu, "--cpu", 0, std::numeric_limits<int>::max());
    if (!cpu) return cpu.error();
    if (auto usable = check_cpu(*cpu); !usable) return usable;
    options.rt.cpu = *cpu;
  }
  if (!args.spin.empty()) {
    if (!args.realtime) return needs_realtime("--spin");
    auto spin = parse_duration_ns(args.spin);
    if (!spin) return usage_error("--spin: " + spin.error().message);
    if (*spin < 0 || *spin >= options.periodNs) return usage_error("--spin must be at least 0 and shorter than the period");
    options.spinNs = *spin;
  }
  return ok_status();
}

// Statistics, trace, plot and the variables they show.
Status run_outputs(const Arguments& args, RunOptions& options) {
  options.stats = args.stats;
  if (!args.statsEvery.empty()) {
    auto every = parse_duration_ns(args.statsEvery);
    if (!every) return usage_error("--stats-every: " + every.error().message);
    if (*every <= 0) return usage_error("--stats-every must be longer than 0");
    options.statsEveryNs = *every;
  }
  if (args.traceGiven) {
    if (args.trace.empty()) return usage_error("--trace needs a file name");
    options.tracePath = std::filesystem::path(args.trace);
  }
  if (args.plotGiven) {
    if (args.plot.empty()) return usage_error("--plot needs a file name");
    PlotOptions plot;
    plot.path = args.plot;
    if (!args.plotSize.empty()) {
      if (auto status = parse_plot_size(args.plotSize, plot); !status) return status;
    }
    options.plot = std::move(plot);
  }
  if (!args.plotSize.empty() && !options.plot) return usage_error("--plot-size needs --plot");
  if (args.varsGiven) {
    if (!options.plot && !options.tracePath) return usage_error("--vars needs --plot or --trace");
    for (const std::string& list : args.plotVars) {
      for (const std::string_view name : split(list, ',')) {
        if (name.empty()) {
          return usage_error("--vars: an empty name in '" + list + "' (names are separated by single commas)");
        }
        options.vars.emplace_back(name);
      }
    }
    if (options.vars.empty()) return usage_error("--vars needs at least one name");
  }
  return ok_status();
}

}  // namespace

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

Result<RunOptions> run_options(const Arguments& args) {
  RunOptions options;
  auto period = parse_duration_ns(args.period);
  if (!period) return usage_error("--period: " + period.error().message);
  if (*period <= 0) return usage_error("--period must be longer than 0");
  options.periodNs = *period;

  if (!args.cycles.empty()) {
    auto cycles = parse_count(args.cycles);
    if (!cycles) return cycles.error();
    options.limit.count = *cycles;
  } else if (!args.duration.empty()) {
    auto duration = parse_duration_ns(args.duration);
    if (!duration) return usage_error("--duration: " + duration.error().message);
    if (*duration <= 0) return usage_error("--duration must be longer than 0");
    // The cycles that start before the duration has passed: t = 0, period, ... < duration.
    options.limit.count = static_cast<uint64_t>((*duration - 1) / options.periodNs) + 1;
    options.limit.deadlines = true;
  } else {
    return usage_error("run needs --cycles N or --duration TIME");
  }
  // The last cycle's time must fit the clock's nanoseconds.
  if (options.limit.count - 1 > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / options.periodNs)) {
    return usage_error("--cycles times --period is too long a run");
  }
  if (args.symbolsGiven) {
    if (args.symbols.empty()) return usage_error("--symbols needs a file name");
    options.symbols.file = std::filesystem::path(args.symbols);
  }
  options.realtime = args.realtime;
  if (auto status = run_realtime(args, options); !status) return status.error();
  options.startMode = args.warm ? 1 : 0;
  options.events = args.events;
  options.sets = args.sets;
  options.forces = args.forces;
  options.reloadOnChange = args.reloadOnChange;
  if (auto status = run_outputs(args, options); !status) return status.error();
  if (auto status = run_live(args, options); !status) return status.error();
  if (auto status = run_schedule(args, options); !status) return status.error();
  return options;
}

namespace {

Result<std::vector<Assignment>> resolve_assignments(const Plc& plc, const std::vector<std::string>& texts,
                                                    const char* option) {
  std::vector<Assignment> assignments;
  for (const std::string& set : texts) {
    const auto equals = set.find('=');
    if (equals == std::string::npos || equals == 0) {
      return usage_error(std::string(option) + " expects NAME=VALUE, got '" + set + "'");
    }
    auto variable = plc.variable(std::string_view(set).substr(0, equals));
    if (!variable) return variable.error();
    auto value = parse_value(variable->type, std::string_view(set).substr(equals + 1));
    if (!value) return usage_error(variable->name + ": " + value.error().message);
    auto bytes = encode(*value, plc.ticks_per_second());
    if (!bytes) return usage_error(variable->name + ": " + bytes.error().message);
    assignments.push_back({*variable, *bytes});
  }
  return assignments;
}

}  // namespace

namespace {

// Whether a file can be written at `path`: its folder exists and a file of that name may be created
// there. A file this check creates is removed again.
Status check_writable(const std::filesystem::path& path, const char* what) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    return runtime_error("cannot write " + std::string(what) + " " + path.string() + ": it is a directory");
  }
  const bool existed = std::filesystem::exists(path, ec);
  errno = 0;
  std::FILE* file = open_file(path, "ab");
  if (file == nullptr) {
    const int error = errno;
    return runtime_error("cannot write " + std::string(what) + " " + path.string() +
                         (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
  }
  std::fclose(file);
  if (!existed) std::filesystem::remove(path, ec);
  return ok_status();
}

}  // namespace

Status check_outputs(const RunOptions& options) {
  if (options.tracePath && options.plot) {
    std::error_code a, b;
    const auto trace = std::filesystem::weakly_canonical(std::filesystem::absolute(*options.tracePath), a);
    const auto plot = std::filesystem::weakly_canonical(std::filesystem::absolute(options.plot->path), b);
    if (!a && !b && trace == plot) {
      return usage_error("--trace and --plot name the same file " + options.tracePath->string() +
                         ": the picture would overwrite the trace");
    }
  }
  // The trace file is created before the first cycle; the picture comes at the end, so whether it
  // can be written is tried now.
  if (options.plot) {
    if (auto status = check_writable(options.plot->path, "plot file"); !status) return status;
  }
  return ok_status();
}

Result<std::vector<Assignment>> resolve_sets(const Plc& plc, const std::vector<std::string>& sets) {
  return resolve_assignments(plc, sets, "--set");
}

Result<std::vector<Assignment>> resolve_forces(const Plc& plc, const std::vector<std::string>& forces) {
  auto resolved = resolve_assignments(plc, forces, "--force");
  if (!resolved) return resolved;
  for (std::size_t i = 0; i < resolved->size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if ((*resolved)[i].variable.offset == (*resolved)[j].variable.offset) {
        return usage_error("--force: " + (*resolved)[i].variable.name + " is forced twice");
      }
    }
  }
  return resolved;
}

Status write_assignments(Plc& plc, const std::vector<Assignment>& assignments) {
  for (const Assignment& assignment : assignments) {
    if (auto status = plc.write(assignment.variable, assignment.bytes.view()); !status) return status;
  }
  return ok_status();
}

Result<std::vector<Variable>> resolve_list(const Plc& plc, const std::vector<std::string>& names) {
  std::vector<Variable> variables;
  for (const std::string& name : names) {
    auto variable = plc.variable(name);
    if (!variable) return variable.error();
    const bool seen = std::any_of(variables.begin(), variables.end(), [&](const Variable& v) {
      return v.offset == variable->offset && v.type == variable->type;
    });
    if (!seen) variables.push_back(*variable);
  }
  return variables;
}

}  // namespace softplc
