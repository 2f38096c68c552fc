#include "softplc/live/http/api_json.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace softplc {

namespace {

template <class T>
T get(std::span<const uint8_t> bytes) {
  T raw{};
  std::memcpy(&raw, bytes.data(), sizeof raw);
  return raw;
}

std::string type_text(ValueType type) { return std::string(type_name(type)); }

Error does_not_fit(ValueType type, const Json& value, const std::string& why) {
  return usage_error(value.dump() + " does not fit " + type_text(type) + ": " + why);
}

Value boolean(bool on) {
  Value value;
  value.type = ValueType::Bool;
  value.boolean = on;
  return value;
}

Result<Encoded> from_number(ValueType type, const Json& value, uint32_t ticksPerSecond) {
  if (type == ValueType::Real) {
    const double number = value.get<double>();
    // A number that rounds to a finite float is that float: the largest float reads as
    // 3.4028235e+38, a little above its exact value, and must read back. Beyond half a step above
    // the largest float, rounding would give an infinity.
    const double limit = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    if (!(std::fabs(number) < limit)) {
      return does_not_fit(type, value, "beyond the range of a float");
    }
    Value real;
    real.type = ValueType::Real;
    real.real = static_cast<float>(number);
    return encode(real, ticksPerSecond);
  }
  if (!value.is_number_integer()) return does_not_fit(type, value, "not an integer");
  if (value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max())) {
    return does_not_fit(type, value, "out of range");
  }
  const int64_t number = value.get<int64_t>();
  switch (type) {
    case ValueType::Bool:
      if (number != 0 && number != 1) return does_not_fit(type, value, "a BOOL is true, false, 1 or 0");
      return encode(boolean(number == 1), ticksPerSecond);
    case ValueType::Int:
    case ValueType::Uint: {
      const int64_t low = type == ValueType::Int ? -32768 : 0;
      const int64_t high = type == ValueType::Int ? 32767 : 65535;
      if (number < low || number > high) {
        return does_not_fit(type, value, "out of range " + std::to_string(low) + ".." + std::to_string(high));
      }
      Value integer;
      integer.type = type;
      integer.integer = static_cast<int32_t>(number);
      return encode(integer, ticksPerSecond);
    }
    case ValueType::Time: {
      // A number is a tick count, as in the trace.
      Encoded ticks;
      ticks.size = 8;
      for (uint32_t i = 0; i < 8; ++i) ticks.bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(number) >> (8 * i));
      return ticks;
    }
    case ValueType::Real: break;
  }
  return does_not_fit(type, value, "unknown type");
}

Json summary_json(const DurationSummary& summary) {
  return {{"count", summary.count}, {"minNs", summary.min}, {"meanNs", summary.mean}, {"p99Ns", summary.p99},
          {"p999Ns", summary.p999}, {"maxNs", summary.max}};
}

double seconds(int64_t ns) { return static_cast<double>(ns) / 1e9; }

}  // namespace

Json value_json(ValueType type, std::span<const uint8_t> bytes, uint32_t ticksPerSecond) {
  if (bytes.size() < size_of(type)) return nullptr;
  switch (type) {
    case ValueType::Bool: return get<uint8_t>(bytes) != 0;
    case ValueType::Int: return get<int16_t>(bytes);
    case ValueType::Uint: return get<uint16_t>(bytes);
    case ValueType::Real: {
      const float real = get<float>(bytes);
      if (std::isnan(real)) return "nan";
      if (std::isinf(real)) return real > 0 ? "inf" : "-inf";
      // The shortest decimal that reads back to the float, as a double: JSON shows it as written.
      const std::string text = format_value(type, bytes, BoolStyle::Digit);
      double number = real;
      (void)std::from_chars(text.data(), text.data() + text.size(), number);
      return number;
    }
    case ValueType::Time: return format_time(get<int64_t>(bytes), ticksPerSecond);
  }
  return nullptr;
}

Result<Encoded> value_from_json(ValueType type, const Json& value, uint32_t ticksPerSecond) {
  if (value.is_boolean()) {
    if (type != ValueType::Bool) return does_not_fit(type, value, "a boolean is for BOOL only");
    return encode(boolean(value.get<bool>()), ticksPerSecond);
  }
  if (value.is_number()) return from_number(type, value, ticksPerSecond);
  if (value.is_string()) {
    auto parsed = parse_value(type, value.get<std::string>());
    if (!parsed) return parsed.error();
    return encode(*parsed, ticksPerSecond);
  }
  return usage_error("a value is a JSON number, a boolean or a string, not " + value.dump());
}

Json snapshot_value(const Snapshot& snapshot, const Variable& variable) {
  if (uint64_t{variable.offset} + variable.size() > snapshot.data.size()) return nullptr;
  return value_json(variable.type, std::span(snapshot.data).subspan(variable.offset, variable.size()),
                    snapshot.ticksPerSecond);
}

bool is_forced(const std::vector<Force>& forces, const Variable& variable) {
  for (const Force& force : forces)
    if (force.variable.offset == variable.offset && force.variable.type == variable.type) return true;
  return false;
}

Json variable_json(const Snapshot& snapshot, const Variable& variable, const std::vector<Force>& forces) {
  return {{"name", variable.name},
          {"type", type_text(variable.type)},
          {"direction", std::string(direction_name(variable.direction))},
          {"value", snapshot_value(snapshot, variable)},
          {"forced", is_forced(forces, variable)}};
}

Status check_writable(const Variable& variable, const Symbols* symbols) {
  const Variable* named = symbols != nullptr ? symbols->at(variable.offset, variable.type) : nullptr;
  const Variable& known = named != nullptr ? *named : variable;
  if (known.program && known.direction == Direction::Input) return ok_status();
  const std::string force = "; force it instead (PUT /api/forces/" + known.name + ")";
  if (named == nullptr && !known.program) {
    return runtime_error("no symbol file names " + known.name + ", so whether the program writes it is unknown" +
                         force);
  }
  if (known.direction == Direction::Output) {
    return runtime_error(known.name + " is an output: the program writes it in every cycle" + force);
  }
  return runtime_error(known.name + " is a field of a block instance, which the program's blocks write" + force);
}

Json module_json(const StatusReport& report, const Snapshot& snapshot) {
  const ModuleInfo& module = report.module;
  Json entryPoints = Json::array();
  for (const auto& entryPoint : module.entryPoints) {
    entryPoints.push_back(
        {{"name", entryPoint.name},
         {"dataSize", entryPoint.dataSize},
         {"layoutSignature", entryPoint.layoutSignature}});
  }
  return {{"name", module.name},
          {"cfwVersion", {{"major", module.cfwMajor}, {"minor", module.cfwMinor}, {"text", module.cfwText}}},
          {"codeVersion", module.codeVersion},
          {"ticksPerSecond", module.ticksPerSecond},
          {"tasks", module.taskCount},
          {"entryPoints", std::move(entryPoints)},
          {"symbolFile", snapshot.symbols ? Json(snapshot.symbols->file) : Json(nullptr)},
          {"clock", report.realtime ? "real-time" : "simulated"},
          {"periodNs", report.periodNs},
          {"period", format_time(report.periodNs, 1'000'000'000)}};
}

Json held_json(const std::optional<HeldAt>& held) {
  if (!held) return nullptr;
  return {{"cycle", held->cycle},     {"line", held->line},           {"block", held->block},
          {"instance", held->instance}, {"statement", held->statement}, {"event", held->event}};
}

Json listing_json(const Symbols& symbols, const Listing& listing) {
  Json blocks = Json::array();
  for (const ListingBlock& block : listing.blocks) {
    Json instances = Json::array();
    for (const ListingInstance& instance : instances_of(symbols, block.typeId)) {
      instances.push_back({{"name", instance.name}, {"offset", instance.offset}});
    }
    blocks.push_back({{"name", block.name},
                      {"typeId", block.typeId},
                      {"line", block.line},
                      {"endLine", block.endLine},
                      {"instances", std::move(instances)}});
  }
  Json steps = Json::array();
  for (const ListingStep& step : listing.steps) {
    Json kinds = Json::array();
    if (step.step) kinds.push_back(1);
    if (step.entry) kinds.push_back(6);
    steps.push_back({{"line", step.line},
                     {"column", step.column},
                     {"endLine", step.endLine},
                     {"endColumn", step.endColumn},
                     {"block", step.block},
                     {"kinds", std::move(kinds)}});
  }
  Json answer = {{"file", listing.file}, {"lines", listing.lineCount}};
  if (listing.has_text()) {
    answer["text"] = listing.text;
  } else {
    answer["text"] = nullptr;
    answer["note"] = listing.note;
  }
  answer["blocks"] = std::move(blocks);
  answer["steps"] = std::move(steps);
  return answer;
}

Json status_json(const StatusReport& report, const Snapshot& snapshot, const std::vector<Force>& forces,
                 bool running) {
  Json statistics = {{"execution", summary_json(report.execution)},
                     {"meanPeriodNs", report.meanPeriodNs},
                     {"overruns", report.overruns},
                     {"skipped", report.skipped},
                     {"held", seconds(report.heldNs)},
                     {"holds", report.holds}};
  if (report.realtime) statistics["jitter"] = summary_json(report.jitter);
  Json errors = Json::array();
  for (const auto& error : report.errors) {
    errors.push_back({{"code", error.code},
                      {"meaning", error.meaning},
                      {"cycles", error.cycles},
                      {"firstCycle", error.firstCycle},
                      {"firstTime", seconds(error.firstTimeNs)}});
  }
  Json forced = Json::array();
  for (const Force& force : forces) {
    forced.push_back({{"name", force.variable.name},
                      {"type", type_text(force.variable.type)},
                      {"value", value_json(force.variable.type, force.value.view(), snapshot.ticksPerSecond)}});
  }
  return {{"running", running},
          {"codeVersion", report.module.codeVersion},
          {"held", held_json(report.held)},
          {"cycles", snapshot.cycles},
          {"time", seconds(snapshot.timeNs)},
          {"statistics", std::move(statistics)},
          {"statisticsCycles", report.cycles},
          {"errors", std::move(errors)},
          {"forces", std::move(forced)}};
}

}  // namespace softplc
