#include "softplc/observe/reload_on_change.h"

#include "softplc/observe/change_schedule.h"

namespace softplc {

ReloadOnChange::ReloadOnChange(std::filesystem::path module, std::ostream& out, std::ostream& err)
    : module_(std::move(module)), out_(out), err_(err) {}

Result<std::string> ReloadOnChange::start() {
  auto watch = FileWatch::start(module_, kReloadSettle, [this] { pending_.store(true); });
  if (!watch) return watch.error();
  watch_ = std::move(watch).value();
  return "reloading " + module_.string() + " when it changes (" + watch_->method() + ")";
}

void ReloadOnChange::before_cycle(Engine& engine, uint64_t index) {
  if (!pending_.exchange(false)) return;
  const std::string running = engine.plc().module().name();
  auto change = engine.change_module(module_);
  if (!change) {
    err_ << "softplc: reload before cycle " << index << " of " << module_.string() << " refused, " << running
         << " keeps running: " << change.error().message << "\n";
    ++refused_;
    return;
  }
  out_ << describe_change(*change, index) << std::flush;
  ++made_;
}

}  // namespace softplc
