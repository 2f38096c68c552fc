// Runs the built softplc as a user does, in a scratch folder of its own per test, and gives back
// its exit status and what it printed.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace softplc_test {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// One argument for the shell, whatever it holds.
inline std::string quoted(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
  return fields;
}

class SoftplcProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           (std::string("softplc_") + info->test_suite_name() + "_" + info->name() + "_" +
            std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // softplc with `leading` arguments (e.g. the command) and `args`, no standard input; the
  // environment assignments in `environment` (shell syntax) come first.
  Outcome invoke(const std::vector<std::string>& leading, const std::vector<std::string>& args,
                 const std::string& environment = "") {
    std::string command = environment + " " + quoted(SOFTPLC_EXE);
    for (const std::string& arg : leading) command += " " + quoted(arg);
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " >" + quoted((dir_ / "stdout").string()) + " 2>" + quoted((dir_ / "stderr").string()) +
               " </dev/null";
    Outcome outcome;
    const int raw = std::system(command.c_str());
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    outcome.out = read_file(dir_ / "stdout");
    outcome.err = read_file(dir_ / "stderr");
    return outcome;
  }

  fs::path path(const char* name) const { return dir_ / name; }

  fs::path dir_;
};

}  // namespace softplc_test
