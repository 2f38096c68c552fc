// What an online change did, and the one way the host tells it: the change schedule, the reload
// on a rebuilt file, the web view's request and the debugger's `change` all print these lines.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "softplc/util/result.h"

namespace softplc {

struct ChangeOutcome {
  std::string from;           // module names
  std::string to;
  std::string toCodeVersion;
  uint32_t fromLayout = 0;    // layout signatures of the programs' data areas
  uint32_t toLayout = 0;
  std::size_t mapped = 0;     // references mapped
  std::vector<std::string> lost;   // held variables the new module does not have
};

// Which change it was, for the words.
struct ChangeContext {
  std::filesystem::path path;   // the module file asked for
  std::string running;          // the module that ran when the change was made or refused
  uint64_t beforeCycle = 0;
  bool reload = false;          // --reload-on-change: "reload ... of PATH"
};

// Made: "before cycle 500: online change from A (layout 0x...) to B (layout 0x..., VERSION), 27
// references mapped" and a line for each held variable the new module does not have. Refused: "online
// change before cycle 500 to PATH refused, A keeps running: REASON" ("reload before cycle 500 of
// PATH refused, ..."). Each line ends in "\n".
std::string describe_change(const Result<ChangeOutcome>& outcome, const ChangeContext& context);

// Tells the change where a run tells it: one made on `out`, flushed (whoever watches the output
// learns of it at once); a refused one on `err`, as a message of softplc ("softplc: online change
// ... refused, ...").
void tell_change(const Result<ChangeOutcome>& outcome, const ChangeContext& context, std::ostream& out,
                 std::ostream& err);

}  // namespace softplc
