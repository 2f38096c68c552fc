// Who takes part in a run, and in which order the engine tells them of each cycle: the order is
// this table's, each row with the reason for its place. A run adds the participants its plan asks
// for (and the front end that drives it, if any) in this order, whatever order it made them in.
#pragma once

#include <cstdint>
#include <string_view>

namespace softplc {

enum class Participant : uint8_t {
  Exchange,         // forces and the live channels' requests (live/exchange.h)
  ErrorTally,       // the errors the cycles recorded
  Watchdog,         // --watchdog: the task watchdog
  FrontEnd,         // what drives the cycles besides the run itself: the debugger
  EventPrinter,     // --events
  Trace,            // --trace, --plot
  ChangeSchedule,   // --replace-at
  Reload,           // --reload-on-change
  Statistics,       // real time, --stats, --stats-every, and for the live channels
  Status,           // what the live channels report of the run
  Service,          // what a service manager is told (readiness, status, watchdog pings)
};

struct ParticipantPlace {
  Participant participant;
  std::string_view why;
};

inline constexpr ParticipantPlace kParticipantOrder[] = {
    {Participant::Exchange,
     "first: forces are written before the cycle and again right after it, and what the live channels wrote is "
     "applied between two cycles, before anybody else reads the data area"},
    {Participant::ErrorTally, "reads only the cycle's error information; before the status, which copies it"},
    {Participant::Watchdog,
     "reads only the cycle's execution time; early, so that a long cycle is reported before what the others print "
     "of it, and a stop it asks for ends the run after this cycle all the same"},
    {Participant::FrontEnd,
     "sees the data area with the forces renewed, as every reader after it; follows an online change before the "
     "trace and the printer are told of it"},
    {Participant::EventPrinter, "writes out a cycle's events at its end, before that cycle's trace row"},
    {Participant::Trace, "a reader: after the exchange, so that a forced variable shows its forced value"},
    {Participant::ChangeSchedule, "acts only between two cycles, after the exchange has taken its requests"},
    {Participant::Reload, "the same, for a module file that changed"},
    {Participant::Statistics, "after those that act on a cycle: the time they take after it counts into that cycle"},
    {Participant::Status, "copies the statistics and the error tally, complete for the cycle, for the channels"},
    {Participant::Service,
     "last: a cycle has kept its deadline only when everybody is done with it; then the service manager's watchdog "
     "is pinged"},
};

}  // namespace softplc
