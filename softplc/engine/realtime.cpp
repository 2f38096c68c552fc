#include "softplc/engine/realtime.h"

namespace softplc {

namespace {

// "0-3,6": the CPUs of a set, for messages.
std::string cpu_list(const std::vector<bool>& cpus) {
  const int count = static_cast<int>(cpus.size());
  std::string text;
  for (int cpu = 0; cpu < count; ++cpu) {
    if (!cpus[cpu]) continue;
    int last = cpu;
    while (last + 1 < count && cpus[last + 1]) ++last;
    if (!text.empty()) text += ',';
    text += std::to_string(cpu) + (last > cpu ? "-" + std::to_string(last) : "");
    cpu = last;
  }
  return text.empty() ? "none" : text;
}

}  // namespace

Status check_cpu(int cpu) {
  const auto allowed = allowed_cpus();
  if (!allowed) return ok_status();
  if (cpu < 0 || cpu >= static_cast<int>(allowed->size()) || !(*allowed)[cpu]) {
    return usage_error("--cpu " + std::to_string(cpu) + ": this process may run on CPUs " + cpu_list(*allowed));
  }
  return ok_status();
}

std::string RealTimeThread::summary() const {
  std::string text;
  for (const std::string& part : granted_) text += (text.empty() ? "" : ", ") + part;
  return text;
}

}  // namespace softplc
