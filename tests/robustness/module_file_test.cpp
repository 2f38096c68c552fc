// Damaged module files never end softplc with a signal. Copies of the online-change module are cut
// at random sizes or have random bytes changed in their headers (the ELF header, the program header
// table, the section header table: what softplc checks before the loader maps a file), and each is
// given to `softplc info` and as the target of an online change. Each must end in a refusal (info:
// 1, run: 3) or a clean run (0).
//
// Bytes in code, data or the tables the loader reads after mapping (dynamic, relocation and symbol
// tables) are not changed: such a file is a module that loads and runs what it holds, and code that
// crashes crashes, as a module built wrong would. softplc makes sure that the loader reads nothing
// outside the file and maps only what the headers consistently describe; it does not vouch for the
// module's own code.
//
// KX_MODULE_FUZZ_SEED (default: a new seed, printed), KX_MODULE_FUZZ_COUNT (files, default 200) and
// KX_MODULE_FUZZ_SECONDS (default 600: the files not reached by then are left out, with a note).
#include <gtest/gtest.h>

#include "softplc_process.h"

#include <chrono>
#include <cstdint>
#include <random>

namespace {

using namespace softplc_test;

uint64_t setting(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

uint32_t u32(const std::string& b, std::size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(b.at(at + i));
  return value;
}
uint32_t u16(const std::string& b, std::size_t at) { return u32(b, at) & 0xFFFF; }

class ModuleFileFuzz : public SoftplcProcessTest {};

TEST_F(ModuleFileFuzz, DamagedFilesAreRefusedOrRunNeverASignal) {
  const uint64_t seed = setting("KX_MODULE_FUZZ_SEED", std::random_device{}());
  const uint64_t count = setting("KX_MODULE_FUZZ_COUNT", 200);
  const auto budget = std::chrono::seconds(setting("KX_MODULE_FUZZ_SECONDS", 600));
  std::cout << "KX_MODULE_FUZZ_SEED=" << seed << " KX_MODULE_FUZZ_COUNT=" << count << "\n";

  const std::string module = read_file(KX_NEXT_MODULE_FILE);
  ASSERT_GT(module.size(), 52u);
  const std::size_t phoff = u32(module, 28), shoff = u32(module, 32);
  const std::vector<std::pair<std::size_t, std::size_t>> headers = {
      {0, 52}, {phoff, phoff + 32 * u16(module, 44)}, {shoff, shoff + 40 * u16(module, 48)}};

  std::mt19937_64 random(seed);
  const auto pick = [&](uint64_t below) { return std::uniform_int_distribution<uint64_t>(0, below - 1)(random); };
  const auto start = std::chrono::steady_clock::now();
  const fs::path file = path("damaged.so");
  uint64_t done = 0, refused = 0;
  for (; done < count && std::chrono::steady_clock::now() - start < budget; ++done) {
    std::string bytes = module;
    std::string what;
    if (pick(4) == 0) {
      bytes.resize(pick(module.size()));
      what = "cut at " + std::to_string(bytes.size());
    } else {
      for (uint64_t n = 1 + pick(3); n > 0; --n) {
        const auto& [begin, end] = headers[pick(headers.size())];
        const std::size_t at = begin + pick(end - begin);
        const auto old = static_cast<uint8_t>(bytes[at]);
        bytes[at] = static_cast<char>(pick(2) == 0 ? old ^ (1u << pick(8)) : pick(256));
        what += "byte " + std::to_string(at) + " " + std::to_string(old) + "->" +
                std::to_string(static_cast<uint8_t>(bytes[at])) + "; ";
      }
    }
    std::ofstream(file, std::ios::binary) << bytes;

    const Outcome info = invoke({"info"}, {file.string()});
    const Outcome run = invoke({"run"}, {"--cycles", "20", "--replace-at", "10:" + file.string()});
    ASSERT_TRUE(info.status == 0 || info.status == 1)
        << "file " << done << " (" << what << "): info ended with " << info.status << "\n" << info.err;
    ASSERT_TRUE(run.status == 0 || run.status == 3)
        << "file " << done << " (" << what << "): run ended with " << run.status << "\n" << run.err;
    ASSERT_NE(run.out.find("ran 20 cycles"), std::string::npos) << "file " << done << " (" << what << ")\n" << run.out;
    refused += info.status == 1 ? 1 : 0;
  }
  std::cout << done << " files, " << refused << " refused, " << done - refused << " loaded\n";
  if (done < count) std::cout << "time is up: " << count - done << " files left out\n";
}

}  // namespace
