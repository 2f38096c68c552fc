// softplc: loads an application module the way a PLC runtime does and runs its cycles.
#include <exception>
#include <iostream>
#include <optional>

#include "softplc/cli/cli.h"
#include "softplc/cli/commands.h"
#include "softplc/service/journal.h"
#include "softplc/service/notify.h"

int main(int argc, char** argv) {
  // Started as a service whose output goes to the journal: the messages carry their level, and
  // what is printed reaches the journal line by line rather than at the end.
  std::optional<softplc::JournalPriorities> priorities;
  if (softplc::standard_error_is_journal()) priorities.emplace(std::cerr);
  if (softplc::standard_output_is_journal()) std::cout << std::unitbuf;
  try {
    return softplc::run_command_line(argc, argv, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "softplc: " << e.what() << "\n";
    return softplc::kExitFailure;
  }
}
