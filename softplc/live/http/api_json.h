// The JSON of the web view's API: values and variables as the API shows and takes them, the
// module and the run's status. Plain functions over the exchange's snapshots and the run status,
// so that the server only routes.
#pragma once

#include <nlohmann/json.hpp>

#include <span>
#include <string_view>
#include <vector>

#include "softplc/live/exchange.h"
#include "softplc/live/status.h"
#include "softplc/util/result.h"
#include "softplc/util/values.h"

namespace softplc {

using Json = nlohmann::ordered_json;

// A value as the API shows it: BOOL true/false, INT and UINT integers, REAL a number in the
// shortest form that reads back to the same float (a NaN or an infinity as the string "nan",
// "inf" or "-inf"), TIME an IEC literal ("T#1s500ms").
Json value_json(ValueType type, std::span<const uint8_t> bytes, uint32_t ticksPerSecond);

// A value from a request, checked against `type`: a JSON boolean for BOOL (or 0, 1), a number
// for INT and UINT (an integer in range), REAL (any number that rounds to a finite float) and TIME (a tick
// count), or a string as --set takes it ("TRUE", "16#FF", "nan", "T#1.5s"). A value that does
// not fit gets a usage error that says why.
Result<Encoded> value_from_json(ValueType type, const Json& value, uint32_t ticksPerSecond);

// The variable's value in the snapshot, or null when the snapshot does not hold it.
Json snapshot_value(const Snapshot& snapshot, const Variable& variable);

bool is_forced(const std::vector<Force>& forces, const Variable& variable);

// {"name", "type", "direction", "value", "forced"}
Json variable_json(const Snapshot& snapshot, const Variable& variable, const std::vector<Force>& forces);

// Whether the program only reads the variable, so that writing it once means something: the
// reason when not.
Status check_writable(const Variable& variable, const Symbols* symbols);

Json module_json(const StatusReport& report, const Snapshot& snapshot);
// Where a debugger holds the cycle: {"cycle", "line", "block", "instance", "statement", "event"}, or
// null while the cycles run.
Json held_json(const std::optional<HeldAt>& held);
// The program's listing for the program view: its file, its text (null, with the reason in "note",
// when the file could not be read), its units with their instances, and its statements.
Json listing_json(const Symbols& symbols, const Listing& listing);
Json status_json(const StatusReport& report, const Snapshot& snapshot, const std::vector<Force>& forces,
                 bool running);

}  // namespace softplc
