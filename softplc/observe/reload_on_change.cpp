#include "softplc/observe/reload_on_change.h"

namespace softplc {

ReloadOnChange::ReloadOnChange(std::filesystem::path module, std::ostream& out, std::ostream& err)
    : module_(std::move(module)), out_(out), err_(err) {}

ReloadOnChange::~ReloadOnChange() {
  watch_.reset();
  if (request_) request_->cancel();
}

Result<std::string> ReloadOnChange::start() {
  auto watch = FileWatch::start(module_, kReloadSettle, [this] { pending_.store(true); });
  if (!watch) return watch.error();
  watch_ = std::move(watch).value();
  return "reloading " + module_.string() + " when it changes (" + watch_->method() + ")";
}

void ReloadOnChange::before_cycle(Engine& engine, uint64_t) {
  if (request_ && request_->outcome()) {
    ChangeContext context = request_->context();
    context.reload = true;
    tell_change(*request_->outcome(), context, out_, err_);
    ++(request_->outcome()->ok() ? made_ : refused_);
    request_.reset();
  }
  // A version that comes while one is being read is read after it.
  if (!request_ && pending_.exchange(false)) request_ = engine.request_change(module_);
}

}  // namespace softplc
