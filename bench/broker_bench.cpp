// One request through the broker and back, as the command line sends it: a new loopback
// connection per request, one request message written, one answer read. The broker runs
// in this process on its own threads; the browser is the scripted fake peer answering
// every request at once. The broker writes its usual log lines: run with 2>/dev/null.
//
//   BM_RoundTrip          one client: mean per request, plus p50_us and p99_us counters
//   BM_RoundTripParallel  8 concurrent clients: items_per_second is requests per second

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/socket.hpp"
#include "protocol/framing.hpp"
#include "server/background_broker.hpp"
#include "support/fake_browser.hpp"

namespace {

using namespace std::chrono_literals;

struct BrokerWithBrowser {
  std::unique_ptr<vesk::BackgroundBroker> broker;
  std::unique_ptr<vesk::test::FakeBrowser> browser;
  vesk::SocketAddress address;
};

BrokerWithBrowser& shared_setup() {
  static BrokerWithBrowser setup = [] {
    BrokerWithBrowser made;
    auto broker = vesk::BackgroundBroker::start(vesk::ConnectionContext{"/nonexistent/state.json", nullptr, {}});
    if (!broker) std::abort();
    made.broker = std::move(*broker);
    vesk::test::FakeBrowserConfig config;
    config.port = made.broker->port();
    config.instance_id = "bench-tab";
    config.script = {{"*", {{"result", {{"title", "Example Domain"}}}}}};
    made.browser = vesk::test::FakeBrowser::connect(config);
    if (!made.browser || !made.browser->accepted()) std::abort();
    made.browser->serve_in_background();
    while (made.broker->registry().snapshot().empty()) std::this_thread::sleep_for(1ms);
    made.address = *vesk::parse_socket_address("127.0.0.1:" + std::to_string(made.broker->port()));
    return made;
  }();
  return setup;
}

// What the command line does for one request.
bool one_request(const vesk::SocketAddress& address) {
  auto fd = vesk::connect_tcp(address, 5000ms);
  if (!fd) return false;
  vesk::Connection connection(std::move(*fd));
  vesk::Json params = {{"args", vesk::Json::array()}, {"sourceCommand", "page.title"}, {"tab", nullptr}};
  if (!vesk::write_message(connection, vesk::request_message(vesk::new_request_id(), "page.title", params))) {
    return false;
  }
  auto answer = vesk::read_message(connection);
  return answer && answer->result.has_value();
}

void BM_RoundTrip(benchmark::State& state) {
  auto& setup = shared_setup();
  std::vector<double> micros;
  for (auto _ : state) {
    auto begin = std::chrono::steady_clock::now();
    if (!one_request(setup.address)) state.SkipWithError("request failed");
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
  }
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) {
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoundTrip)->UseRealTime()->MinTime(3.0)->Unit(benchmark::kMicrosecond);

void BM_RoundTripParallel(benchmark::State& state) {
  auto& setup = shared_setup();
  for (auto _ : state) {
    if (!one_request(setup.address)) state.SkipWithError("request failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoundTripParallel)->Threads(8)->UseRealTime()->MinTime(3.0)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
