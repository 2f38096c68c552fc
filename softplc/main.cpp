// softplc: loads an application module the way a PLC runtime does and runs its cycles.
#include <exception>
#include <iostream>

#include "softplc/cli/cli.h"
#include "softplc/cli/commands.h"

int main(int argc, char** argv) {
  try {
    return softplc::run_command_line(argc, argv, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "softplc: " << e.what() << "\n";
    return softplc::kExitFailure;
  }
}
