// A bounded load on softplc's Modbus server over loopback, from libmodbus's client API: CLIENTS
// clients, each with a connection and a holding register of its own, send REQUESTS requests each
// and stop, twice. First mixed: of every 8 requests a write of its own register (read back within
// the next requests: a write that was answered must be seen), a write of the shared REAL in
// registers 0-1 with a pattern whose two words belong together, and reads of the registers and of
// the REAL ramp; a write is answered once applied between two cycles, so this phase goes at the
// pace of the cycles. Then reads only, at the pace of the server. Prints the requests per second
// and the latencies of each phase; fails on a torn REAL (words of two different writes), a lost
// write, a ramp that goes back, or any failed request.
//
//   modbus_load PORT CLIENTS REQUESTS
//
// The map it expects (modbus_load_map.csv): holding registers 0-1 a REAL, 2.. one INT per client;
// input registers 0-1 the REAL ramp.
#include <modbus/modbus.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct ModbusFree {
  void operator()(modbus_t* context) const {
    modbus_close(context);
    modbus_free(context);
  }
};
using Context = std::unique_ptr<modbus_t, ModbusFree>;

// The shared REAL's words: any write of ours has low == high ^ kPair; 102.6, its initial value, is
// the only other value it may hold.
constexpr uint16_t kPair = 0x5A5A;
constexpr uint16_t kInitialHigh = 0x42CD;
constexpr uint16_t kInitialLow = 0x3333;

struct Outcome {
  uint64_t requests = 0;
  uint64_t failed = 0;
  uint64_t torn = 0;
  uint64_t lost = 0;
  uint64_t backwards = 0;
  uint16_t lastWritten = 0;
  std::vector<uint32_t> readUs;
  std::vector<uint32_t> writeUs;
  std::string firstError;
};

float real_of(uint16_t high, uint16_t low) {
  const uint32_t bits = (uint32_t{high} << 16) | low;
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

Context connect(int port) {
  Context context(modbus_new_tcp("127.0.0.1", port));
  if (!context || modbus_connect(context.get()) != 0) return nullptr;
  modbus_set_response_timeout(context.get(), 5, 0);
  return context;
}

void run_client(int port, int index, int requests, bool mixed, uint16_t written, Outcome& outcome) {
  Context context = connect(port);
  if (!context) {
    outcome.failed = 1;
    outcome.firstError = std::string("connect: ") + modbus_strerror(errno);
    return;
  }
  modbus_t* ctx = context.get();
  const int own = 2 + index;
  float ramp = 0.0f;
  const auto fail = [&](const char* what) {
    if (++outcome.failed == 1) outcome.firstError = std::string(what) + ": " + modbus_strerror(errno);
  };
  for (int k = 0; k < requests; ++k) {
    const Clock::time_point start = Clock::now();
    bool write = false;
    switch (mixed ? k % 8 : 2) {
      case 0:
        write = true;
        written = static_cast<uint16_t>(k / 8 + 1);
        if (modbus_write_register(ctx, own, written) != 1) fail("write own register");
        break;
      case 4: {
        write = true;
        const uint16_t high = static_cast<uint16_t>(0x4000 + (index * 131 + k) % 0x0400);
        const uint16_t words[2] = {high, static_cast<uint16_t>(high ^ kPair)};
        if (modbus_write_registers(ctx, 0, 2, words) != 2) fail("write the REAL");
        break;
      }
      case 1:
      case 5:
      case 3: {
        uint16_t words[2] = {};
        if (modbus_read_input_registers(ctx, 0, 2, words) != 2) {
          fail("read the ramp");
          break;
        }
        const float now = real_of(words[0], words[1]);
        if (now < ramp || now > 100.0f) ++outcome.backwards;
        ramp = now;
        break;
      }
      default: {   // 2, 6, 7; also every read of the second phase, with the ramp every other time
        if (!mixed && k % 2 == 1) {
          uint16_t words[2] = {};
          if (modbus_read_input_registers(ctx, 0, 2, words) != 2) fail("read the ramp");
          const float now = real_of(words[0], words[1]);
          if (now < ramp || now > 100.0f) ++outcome.backwards;
          ramp = now;
          break;
        }
        uint16_t words[10] = {};
        const int count = 2 + 8;
        if (modbus_read_registers(ctx, 0, count, words) != count) {
          fail("read the registers");
          break;
        }
        const bool ours = words[1] == static_cast<uint16_t>(words[0] ^ kPair);
        const bool initial = words[0] == kInitialHigh && words[1] == kInitialLow;
        if (!ours && !initial) ++outcome.torn;
        if (written != 0 && words[own] != written) ++outcome.lost;
        break;
      }
    }
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    (write ? outcome.writeUs : outcome.readUs).push_back(static_cast<uint32_t>(us));
    ++outcome.requests;
  }
  outcome.lastWritten = written;
}

std::string latency(std::vector<uint32_t> us) {
  if (us.empty()) return "none";
  std::sort(us.begin(), us.end());
  uint64_t sum = 0;
  for (uint32_t u : us) sum += u;
  char text[160];
  std::snprintf(text, sizeof text, "mean %.0fus  p99 %uus  max %uus", static_cast<double>(sum) / us.size(),
                us[us.size() * 99 / 100], us.back());
  return text;
}

// One phase of all clients; gives false when anything failed.
bool run_phase(int port, int clients, int requests, bool mixed, std::vector<uint16_t>& lastWritten) {
  std::vector<Outcome> outcomes(clients);
  std::vector<std::thread> threads;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back(run_client, port, i, requests, mixed, lastWritten[i], std::ref(outcomes[i]));
  }
  for (auto& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  Outcome total;
  for (int i = 0; i < clients; ++i) {
    const Outcome& o = outcomes[i];
    total.requests += o.requests;
    total.failed += o.failed;
    total.torn += o.torn;
    total.lost += o.lost;
    total.backwards += o.backwards;
    total.readUs.insert(total.readUs.end(), o.readUs.begin(), o.readUs.end());
    total.writeUs.insert(total.writeUs.end(), o.writeUs.begin(), o.writeUs.end());
    if (total.firstError.empty()) total.firstError = o.firstError;
    lastWritten[i] = o.lastWritten;
  }
  const char* name = mixed ? "mixed" : "reads";
  std::printf("load %s: %d clients x %d requests = %llu requests in %.2fs: %.0f requests/s\n", name, clients, requests,
              static_cast<unsigned long long>(total.requests), seconds, static_cast<double>(total.requests) / seconds);
  std::printf("load %s: reads  %s\n", name, latency(total.readUs).c_str());
  if (mixed) std::printf("load %s: writes %s\n", name, latency(total.writeUs).c_str());
  std::printf("load %s: %llu failed requests, %llu torn REAL reads, %llu lost writes, %llu ramp reads out of order\n",
              name, static_cast<unsigned long long>(total.failed), static_cast<unsigned long long>(total.torn),
              static_cast<unsigned long long>(total.lost), static_cast<unsigned long long>(total.backwards));
  if (!total.firstError.empty()) std::printf("load %s: first failure: %s\n", name, total.firstError.c_str());
  return total.failed + total.torn + total.lost + total.backwards == 0;
}


}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: modbus_load PORT CLIENTS REQUESTS\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int clients = std::clamp(std::atoi(argv[2]), 1, 8);
  const int requests = std::clamp(std::atoi(argv[3]), 8, 100000);

  std::vector<uint16_t> lastWritten(clients, 0);
  bool good = run_phase(port, clients, requests, true, lastWritten);
  good = run_phase(port, clients, requests, false, lastWritten) && good;
  // After the load: every client's last write is still there.
  Context context = connect(port);
  uint16_t words[8] = {};
  if (!context || modbus_read_registers(context.get(), 2, clients, words) != clients) {
    std::printf("load: cannot read the registers after the load: %s\n", modbus_strerror(errno));
    return 1;
  }
  for (int i = 0; i < clients; ++i) {
    if (words[i] != lastWritten[i]) {
      std::printf("load: client %d wrote %u last, the register holds %u\n", i, lastWritten[i], words[i]);
      good = false;
    }
  }
  return good ? 0 : 1;
}
