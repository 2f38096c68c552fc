// Module files that are damaged, replaced or deleted, as a user meets them: a damaged file is refused
// with its name and the reason, as the module to run and as the target of an online change, and the
// file of a running module can be rewritten or deleted without harm to the run.
#include <gtest/gtest.h>

#include "softplc_process.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <regex>
#include <thread>

namespace {

using namespace softplc_test;

uint32_t u32(const std::string& b, std::size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(b.at(at + i));
  return value;
}
void put16(std::string& b, std::size_t at, uint32_t value) {
  for (int i = 0; i < 2; ++i) b.at(at + i) = static_cast<char>(value >> (8 * i));
}
void put32(std::string& b, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<char>(value >> (8 * i));
}

constexpr uint32_t kLoad = 1, kDynamic = 2;

// The file offset of the program header of the `nth` segment of `type`.
std::size_t program_header(const std::string& elf, uint32_t type, int nth = 0) {
  const std::size_t table = u32(elf, 28), count = u32(elf, 44) & 0xFFFF;
  for (std::size_t i = 0; i < count; ++i)
    if (u32(elf, table + 32 * i) == type && nth-- == 0) return table + 32 * i;
  ADD_FAILURE() << "no segment of type " << type;
  return table;
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::size_t lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

class ModuleFile : public SoftplcProcessTest {};

struct Damage {
  const char* what;
  std::function<void(std::string&)> apply;   // to the bytes of CCodePublic.so
  const char* reason;
};

const Damage kDamages[] = {
    {"empty", [](std::string& b) { b.clear(); }, "the file is empty"},
    {"cut in the ELF header", [](std::string& b) { b.resize(40); },
     "it is cut short: 40 bytes, less than an ELF header (52 bytes)"},
    {"cut in the program headers", [](std::string& b) { b.resize(100); },
     "it is cut short or damaged: its program header table (file bytes 52 to "},
    {"cut at 1000 bytes", [](std::string& b) { b.resize(1000); },
     "it is cut short or damaged: load segment 0 (file bytes 0 to "},
    {"cut at 20000 bytes", [](std::string& b) { b.resize(20000); }, "runs past the end of the file (20000 bytes)"},
    {"one byte short", [](std::string& b) { b.pop_back(); },
     "it is cut short or damaged: its section header table (file bytes "},
    {"ELF64 class", [](std::string& b) { b[4] = 2; }, "it is a 64-bit ELF file; modules are 32-bit (ELF32, i386)"},
    {"big-endian", [](std::string& b) { b[5] = 2; }, "it is damaged: its ELF data encoding is 2, not little-endian"},
    {"an executable", [](std::string& b) { put16(b, 16, 2); }, "it is an executable program, not a shared library"},
    {"x86-64 machine", [](std::string& b) { put16(b, 18, 62); }, "it is built for x86-64; modules are 32-bit (i386)"},
    {"program header size", [](std::string& b) { put16(b, 42, 33); },
     "it is damaged: its program header size is 33, not 32"},
    {"load segment past the end",
     [](std::string& b) { put32(b, program_header(b, kLoad, 1) + 16, 0x10000000); }, "load segment 1 (file bytes "},
    {"load segment alignment", [](std::string& b) { put32(b, program_header(b, kLoad) + 28, 0x1800); },
     "load segment 0 has alignment 0x1800, not a power of two"},
    {"code segment not executable",
     [](std::string& b) { put32(b, program_header(b, kLoad, 1) + 24, 4); }, "is executable but load segment 1 is not"},
    {"dynamic segment moved",
     [](std::string& b) {
       const std::size_t at = program_header(b, kDynamic);
       put32(b, at + 4, u32(b, at + 4) + 8);
     },
     "lies in no load segment"},
    {"section headers moved", [](std::string& b) { put32(b, 32, static_cast<uint32_t>(b.size() - 8)); },
     "it is cut short or damaged: its section header table (file bytes "},
    {"a Windows DLL", [](std::string& b) { b = "MZ" + std::string(62, '\0'); },
     "it is a Windows module (PE DLL); this softplc loads Linux modules (ELF shared objects)"},
    {"a text file", [](std::string& b) { b = "not a module\n"; },
     "it is not a module: it starts with neither an ELF nor a PE (MZ) header"},
};

TEST_F(ModuleFile, ADamagedFileIsRefusedWithItsNameAndTheReason) {
  const std::string module = read_file(KX_MODULE_FILE);
  for (const Damage& damage : kDamages) {
    SCOPED_TRACE(damage.what);
    std::string bytes = module;
    damage.apply(bytes);
    write_file(path("damaged.so"), bytes);
    const Outcome r = invoke({"info"}, {path("damaged.so").string()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("softplc: cannot load module " + path("damaged.so").string() + ": "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(damage.reason), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  const std::string tooLong(100000, 'm');
  const Outcome r = invoke({"info"}, {tooLong + ".so"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("softplc: cannot read module file mmmm"), std::string::npos) << r.err.substr(0, 300);
  EXPECT_NE(r.err.find(" (a path of 100003 characters): File name too long\n"), std::string::npos)
      << r.err.substr(0, 300);
}

TEST_F(ModuleFile, AChangeToADamagedOrTheRunningFileLeavesTheOldModuleRunning) {
  const std::string module = read_file(KX_MODULE_FILE);
  const struct {
    const char* what;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"cut", module.substr(0, 20000), ": it is cut short or damaged: load segment "},
      {"the running module's bytes", module,
       "the new module is the running one itself (" /* the file has the running module's contents */},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(path("next.so"), c.bytes);
    const Outcome r = invoke({"run"}, {"--cycles", "100", "--replace-at", "50:" + path("next.so").string(), "--trace",
                                       path("t.csv").string()});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("softplc: online change before cycle 50 to " + path("next.so").string() +
                         " refused, CCodePublic keeps running: "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("ran 100 cycles"), std::string::npos) << r.out;
    EXPECT_EQ(lines(read_file(path("t.csv"))), 101u);
  }
}

// The module file of a real-time run is rewritten or deleted while the run goes on: the run keeps
// its own copy, and an online change to that path takes the file as it is then.
TEST_F(ModuleFile, TheFileOfARunningModuleCanBeRewrittenOrDeleted) {
  const std::string module = read_file(KX_MODULE_FILE), next = read_file(KX_NEXT_MODULE_FILE);
  const fs::path file = path("m.so");
  const struct {
    const char* what;
    std::function<void()> action;
    bool change;   // --replace-at 30:m.so
    int status;
    const char* expected;   // in the output (exit 0) or the messages (exit 3)
  } cases[] = {
      {"rewritten", [&] { write_file(file, next); }, false, 0, "module m: "},
      {"deleted", [&] { fs::remove(file); }, false, 0, "module m: "},
      {"rebuilt and changed to", [&] { write_file(file, next); }, true, 0,
       "before cycle 30: online change from m (layout 0x4C5080A3) to m (layout 0x4C5080DF"},
      {"deleted and changed to", [&] { fs::remove(file); }, true, 3, "module file not found: "},
      {"rewritten with its bytes and changed to", [&] { write_file(file, module); }, true, 3,
       "the new module is the running one itself"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(file, module);
    fs::remove(path("t.csv"));
    std::vector<std::string> args{"run", file.string(), "--realtime", "--duration", "1s", "--trace", path("t.csv").string()};
    if (c.change) args.insert(args.end(), {"--replace-at", "30:" + file.string()});
    const pid_t pid = start(args);
    // The trace file appears once the module is loaded, well before cycle 30.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(path("t.csv")) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    c.action();
    const Outcome r = finish(pid);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.expected), std::string::npos) << r.out << r.err;
    // A busy machine makes a real-time run skip late deadlines: the trace has a row for every cycle run.
    std::smatch ran;
    ASSERT_TRUE(std::regex_search(r.out, ran, std::regex(R"(ran (\d+) cycles every 0.01s)"))) << r.out;
    EXPECT_GE(std::stoul(ran[1]), 31u);
    EXPECT_EQ(lines(read_file(path("t.csv"))), std::stoul(ran[1]) + 1);
  }
}

}  // namespace

namespace {

using namespace softplc_test;

class Reload : public SoftplcProcessTest {};

// A rebuilt module is taken over while the run goes on, with its values; a damaged rebuild is
// refused and the running module runs on.
TEST_F(Reload, ARebuiltModuleIsTakenOverAndADamagedOneRefused) {
  const fs::path file = path("m.so"), symbols = path("m.symbols.json");
  const std::string next = read_file(KX_NEXT_MODULE_FILE);
  fs::copy_file(KX_MODULE_FILE, file);
  fs::copy_file(fs::path(KX_MODULE_FILE).replace_extension(".symbols.json"), symbols);
  const pid_t pid = start({"run", file.string(), "--realtime", "--duration", "3s", "--reload-on-change", "--set",
                           "RealRampEnable=TRUE", "--trace", path("t.csv").string()});
  const auto wait_for = [&](const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  wait_for([&] { return read_file(path("stdout")).find("reloading ") != std::string::npos; });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  write_file(file, next);
  fs::copy_file(fs::path(KX_NEXT_MODULE_FILE).replace_extension(".symbols.json"), symbols,
                fs::copy_options::overwrite_existing);
  wait_for([&] { return read_file(path("stdout")).find("online change from") != std::string::npos; });
  write_file(file, next.substr(0, 20000));
  const Outcome r = finish(pid);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(before cycle \d+: online change from m \(layout 0x4C5080A3\) to m )"
                                                  R"(\(layout 0x4C5080DF, 2010-07-28 15:11:27\), 25 references mapped)")))
      << r.out;
  EXPECT_TRUE(std::regex_search(r.err, std::regex(R"(softplc: reload before cycle \d+ of .*m\.so refused, m keeps running: )")))
      << r.err;
  EXPECT_NE(r.out.find("reloads: 1 made, 1 refused; running m\n"), std::string::npos) << r.out;
  // The REAL ramp never starts again from 0: the new module took its value over.
  std::istringstream trace(read_file(path("t.csv")));
  std::string line;
  std::getline(trace, line);
  const auto header = split(line, ',');
  const auto column = std::find(header.begin(), header.end(), "RealRampOut") - header.begin();
  double previous = 0;
  while (std::getline(trace, line)) {
    const double value = std::stod(split(line, ',').at(column));
    ASSERT_GE(value, previous) << line;
    previous = value;
  }
  EXPECT_GT(previous, 2.5);
}

// The watch follows the path, not the folder it first saw: a folder replaced by a new one holding a
// new build is taken over, and writes into the old folder, moved aside, are no longer seen.
TEST_F(Reload, AReplacedFolderIsWatchedAndTheOldOneNoLonger) {
  const fs::path folder = path("d"), file = folder / "m.so";
  fs::create_directories(folder);
  fs::copy_file(KX_MODULE_FILE, file);
  fs::copy_file(fs::path(KX_MODULE_FILE).replace_extension(".symbols.json"), folder / "m.symbols.json");
  const pid_t pid = start({"run", file.string(), "--realtime", "--duration", "4s", "--reload-on-change"});
  const auto wait_for = [&](const std::string& text) {
    for (int i = 0; i < 1000 && read_file(path("stdout")).find(text) == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  wait_for("reloading ");
  fs::rename(folder, path("d.old"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));   // the folder is gone a while
  fs::create_directories(folder);
  fs::copy_file(KX_NEXT_MODULE_FILE, file);
  fs::copy_file(fs::path(KX_NEXT_MODULE_FILE).replace_extension(".symbols.json"), folder / "m.symbols.json");
  wait_for("online change from");
  write_file(path("d.old") / "m.so", read_file(KX_NEXT_MODULE_FILE) + "rebuilt");
  const Outcome r = finish(pid);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("online change from m (layout 0x4C5080A3) to m (layout 0x4C5080DF"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("reloads: 1 made, 0 refused; running m\n"), std::string::npos) << r.out << r.err;
}

}  // namespace
