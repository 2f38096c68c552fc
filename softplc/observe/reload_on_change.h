// --reload-on-change: the module file is watched, and once a new version has stopped changing
// (half a second without a further change), the host attempts an online change to it: the files
// are read off the cycle thread, and the change is made between the two cycles after that. The
// result is printed with its cycle; a refusal leaves the running module running.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>

#include "softplc/engine/engine.h"
#include "softplc/util/file_watch.h"

namespace softplc {

inline constexpr std::chrono::milliseconds kReloadSettle{500};

class ReloadOnChange : public CycleObserver {
 public:
  ReloadOnChange(std::filesystem::path module, std::ostream& out, std::ostream& err);
  ~ReloadOnChange() override;

  // Starts watching; gives the line that says what is watched.
  Result<std::string> start();

  unsigned points() const override { return kBeforeCycle; }
  void before_cycle(Engine& engine, uint64_t index) override;

  std::size_t made() const { return made_; }
  std::size_t refused() const { return refused_; }

 private:
  std::filesystem::path module_;
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<FileWatch> watch_;
  std::atomic<bool> pending_{false};
  std::shared_ptr<ChangeRequest> request_;
  std::size_t made_ = 0;
  std::size_t refused_ = 0;
};

}  // namespace softplc
