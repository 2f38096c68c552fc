// Every thread of a live run busy at once, on modules made of the test's own functions: the
// exchange with cycles running under readers, writers, forces, group writes and an online change;
// a whole run serving Modbus and the web view to clients on loopback with an event stream and an
// online change. Built under ThreadSanitizer (KX_TSAN), where any report fails the test; the
// checks here are what the threads must see besides: a snapshot that never changes while it is
// held, answers that say the request was applied, the second module running at the end.
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_module.h"
#include "softplc/live/exchange.h"
#include "softplc/run/run.h"

namespace softplc_test {
namespace {

using namespace std::chrono_literals;

Encoded int_value(int16_t v) {
  Encoded e;
  e.size = 2;
  std::memcpy(e.bytes.data(), &v, 2);
  return e;
}

// Threads started together and joined at the end of the scope, whatever failed.
class Crowd {
 public:
  ~Crowd() { join(); }
  void add(std::function<void()> body) { threads_.emplace_back(std::move(body)); }
  void join() {
    for (auto& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  std::vector<std::thread> threads_;
};

TEST(Threads, TheExchangeUnderReadersWritersForcesAndAnOnlineChange) {
  EngineOptions options;
  options.deadlines.periodNs = 10'000'000;
  Engine engine(FakeModule<1>::attach(), options, fake_services(std::make_unique<FakeRuntime>()));
  ASSERT_TRUE(engine.plc().initialise(0));
  Exchange exchange(engine);
  engine.observe(exchange);
  ASSERT_TRUE(engine.start());
  exchange.publish_initial();
  const Symbols& first = *engine.plc().symbols();
  const Variable in = *first.find("In").value(), count = *first.find("Count").value(), out = *first.find("Out").value();

  constexpr int kRounds = 300;
  std::atomic<int> writers{5};   // the cycles and the readers go on until the writers are done
  const auto writing = [&] { return writers.load() > 0; };
  std::atomic<int> changedSnapshots{0};
  std::atomic<int> failures{0};
  const auto expect = [&](bool ok) {
    if (!ok) failures.fetch_add(1);
  };
  Crowd crowd;
  // The cycles, as fast as the fake clock lets them, until the writers are done.
  crowd.add([&] {
    while (writing()) {
      auto ran = engine.run_cycle();
      expect(ran && *ran);
    }
    exchange.end();
  });
  // Readers: a snapshot keeps its values while it is held, however many cycles run meanwhile.
  for (int r = 0; r < 4; ++r) {
    crowd.add([&] {
      uint64_t seen = 0;
      while (writing()) {
        const auto snapshot = exchange.wait_after(seen, 50ms);
        const std::vector<uint8_t> before = snapshot->data;
        expect(snapshot->cycles >= seen && before.size() == 8);
        std::this_thread::yield();
        if (snapshot->data != before) changedSnapshots.fetch_add(1);
        seen = snapshot->cycles;
        (void)exchange.forces();
      }
    });
  }
  // Writers, each on its own variable, each request answered once applied.
  crowd.add([&] {
    for (int i = 0; i < kRounds; ++i) expect(bool(exchange.write(in, int_value(int16_t(i))).get()));
    --writers;
  });
  crowd.add([&] {
    for (int i = 0; i < kRounds; ++i) {
      expect(bool(exchange.write_many({{in, int_value(int16_t(-i))}, {count, int_value(int16_t(i))}}).get()));
    }
    --writers;
  });
  crowd.add([&] {
    for (int i = 0; i < kRounds; ++i) {
      expect(bool(exchange.force(count, int_value(int16_t(i))).get()));
      expect(bool(exchange.release(count).get()));
    }
    --writers;
  });
  // Out is gone after the change: its writes are refused then, never applied half.
  crowd.add([&] {
    for (int i = 0; i < kRounds; ++i) (void)exchange.write(out, int_value(int16_t(i))).get();
    --writers;
  });
  crowd.add([&] {
    std::this_thread::sleep_for(20ms);
    auto changed = exchange.change_module("next");
    auto outcome = changed.get();
    expect(outcome && outcome->to == "fake2");
    --writers;
  });
  crowd.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(changedSnapshots.load(), 0);
  EXPECT_EQ(engine.plc().module().name(), "fake2");
  EXPECT_TRUE(exchange.forces().empty());
}

// ---- a whole run with its channels, and clients on loopback ----

int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// One HTTP/1.1 exchange on a new connection: the status line's code and the whole answer. With
// `events`, reads until that many events of a stream came, then hangs up.
std::pair<int, std::string> http(int port, const std::string& method, const std::string& path,
                                 const std::string& body = "", int events = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval timeout{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (!body.empty()) request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
      char buffer[4096];
      ssize_t got;
      while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        answer.append(buffer, size_t(got));
        std::size_t seen = 0;
        for (auto at = answer.find("\ndata: "); at != std::string::npos; at = answer.find("\ndata: ", at + 1)) ++seen;
        if (events > 0 && int(seen) >= events) break;
      }
    }
  }
  close(fd);
  const int code = answer.starts_with("HTTP/1.1 ") ? std::atoi(answer.c_str() + 9) : 0;
  return {code, answer};
}

TEST(Threads, ARunServesModbusAndTheWebViewToClientsOnLoopback) {
  std::ostringstream out, err;
  std::unique_ptr<softplc::Run> run;
  int webPort = 0, modbusPort = 0;
  // Another program may take a port between the look and the bind: then again, on others.
  for (int attempt = 0; attempt < 3 && !run; ++attempt) {
    RunPlan plan;
    plan.durationNs = 60'000'000'000;   // a bound; the test stops the run well before
    plan.serveModbus = plan.serveHttp = true;
    plan.modbus.address.port = uint16_t(modbusPort = free_port());
    plan.http.address.port = uint16_t(webPort = free_port());
    EngineServices services;
    services.prepare = [](const Plc&, const std::filesystem::path&) { return FakeModule<2>::prepare(); };
    gFakeRuntime = nullptr;   // the library's clock: the fake module adds no cost of its own
    auto made = softplc::Run::make(std::move(plan), FakeModule<1>::attach(), RunLog{out, err}, std::move(services));
    ASSERT_TRUE(made) << made.error().message;
    if (auto started = (*made)->start(); started) {
      run = std::move(made).value();
    } else {
      ASSERT_NE(started.error().message.find("cannot listen"), std::string::npos) << started.error().message;
    }
  }
  ASSERT_TRUE(run);
  std::thread cycles([&] { EXPECT_TRUE(run->run_to_limit()); });

  constexpr int kRounds = 20;
  std::atomic<int> failures{0};
  std::vector<std::string> failed;
  std::mutex failedMutex;
  const auto expect = [&](bool ok, const std::string& what) {
    if (ok) return;
    failures.fetch_add(1);
    std::lock_guard lock(failedMutex);
    failed.push_back(what);
  };
  {
    Crowd crowd;
    for (int unit = 0; unit < 2; ++unit) {
      crowd.add([&, unit] {
        modbus_t* client = modbus_new_tcp("127.0.0.1", modbusPort);
        expect(client != nullptr && modbus_connect(client) == 0, "modbus: connect");
        for (int i = 0; i < kRounds && client != nullptr; ++i) {
          uint16_t registers[4];
          uint8_t bits[4];
          // Out leaves the map's module at the online change: a refusal then is an answer too.
          const int read = modbus_read_input_registers(client, 0, 1, registers);
          expect(read == 1 || errno == EMBXILADD, "modbus: read input registers");
          expect(modbus_read_registers(client, 0, 1, registers) == 1, "modbus: read holding registers");
          expect(modbus_write_register(client, 0, uint16_t(100 * unit + i)) == 1, "modbus: write register");
          (void)modbus_read_bits(client, 0, 1, bits);   // the fake has no BOOL: an exception answer
        }
        if (client != nullptr) {
          modbus_close(client);
          modbus_free(client);
        }
      });
    }
    crowd.add([&] {
      for (int i = 0; i < kRounds; ++i) {
        for (const char* path : {"/api/variables", "/api/status", "/api/variables/In", "/api/module"}) {
          expect(http(webPort, "GET", path).first == 200, std::string("GET ") + path);
        }
      }
    });
    crowd.add([&] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string value = "{\"value\": " + std::to_string(i) + "}";
        expect(http(webPort, "PUT", "/api/variables/In", value).first == 200, "PUT variable");
        expect(http(webPort, "PUT", "/api/forces/Count", value).first == 200, "PUT force");
        expect(http(webPort, "DELETE", "/api/forces/Count").first == 200, "DELETE force");
      }
    });
    for (int s = 0; s < 2; ++s) {
      crowd.add([&] {
        const auto [code, stream] = http(webPort, "GET", "/api/stream?rate=50", "", 5);
        expect(code == 200, "stream: " + stream.substr(0, 200));
      });
    }
    crowd.add([&] {
      std::this_thread::sleep_for(100ms);
      const auto [code, answer] = http(webPort, "POST", "/api/online-change", "{\"module\": \"next\"}");
      expect(code == 200 && answer.find("\"changed\":true") != std::string::npos, "online change: " + answer);
    });
  }
  run->engine().request_stop();
  cycles.join();
  const RunReport report = run->finish();
  (void)report;
  EXPECT_EQ(failures.load(), 0) << testing::PrintToString(failed) << "\n" << err.str();
  EXPECT_NE(out.str().find("online change from fake1"), std::string::npos) << out.str();
  EXPECT_EQ(run->engine().plc().module().name(), "fake2");
}

}  // namespace
}  // namespace softplc_test
