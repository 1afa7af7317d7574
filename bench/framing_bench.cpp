// Throughput of the wire protocol: one large message through read_message (an upload of
// 64 MiB), a stream of small messages, and encoding/decoding of a typical request.
#include <sys/socket.h>

#include <benchmark/benchmark.h>

#include <thread>

#include "platform/socket.hpp"
#include "protocol/framing.hpp"
#include "protocol/message.hpp"

namespace vesk {
namespace {

using namespace std::chrono_literals;

// A connected pair: state.range(0) == 0 a Unix socket pair, 1 TCP over loopback.
struct ConnectedPair {
  UniqueSocket reader;
  UniqueSocket writer;
};

ConnectedPair connect_pair(bool tcp) {
  if (!tcp) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    return {UniqueSocket(static_cast<SocketHandle>(fds[0])), UniqueSocket(static_cast<SocketHandle>(fds[1]))};
  }
  auto listener = TcpListener::bind("127.0.0.1:0");
  if (!listener) std::abort();
  auto address = parse_socket_address("127.0.0.1:" + std::to_string(*listener->local_port()));
  auto writer = connect_tcp(*address, 5s);
  auto accepted = listener->accept();
  if (!writer || !accepted) std::abort();
  return {std::move(accepted->socket), std::move(*writer)};
}

Json typical_params() {
  return Json{{"args", Json::array({"#login > button.primary", "--force"})},
              {"options", {{"timeout", 5000}, {"button", "left"}, {"clickCount", 1}}},
              {"sourceCommand", "element.click"},
              {"tab", nullptr}};
}

const std::string& large_request() {
  static const std::string text =
      encode_message(request_message(new_request_id(), "file.upload", Json{{"data", std::string(64 << 20, 'Q')}}));
  return text;
}

// Bytes per second of a whole message going from write_all on one end to a decoded
// Message on the other; the writer runs on its own thread as a peer would.
void BM_ReadLargeMessage(benchmark::State& state) {
  const std::string& text = large_request();
  for (auto _ : state) {
    ConnectedPair pair = connect_pair(state.range(0) == 1);
    Connection connection(std::move(pair.reader));
    std::thread writer([&] {
      if (!write_all(pair.writer.get(), text)) std::abort();
    });
    auto message = read_message(connection);
    writer.join();
    if (!message) state.SkipWithError(message.error().text().c_str());
    benchmark::DoNotOptimize(message);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadLargeMessage)->ArgName("tcp")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Many small requests written back to back and read one by one.
void BM_ReadSmallMessages(benchmark::State& state) {
  constexpr int kCount = 10000;
  std::string stream;
  for (int i = 0; i < kCount; ++i) {
    stream += encode_message(request_message(new_request_id(), "element.click", typical_params()));
  }
  for (auto _ : state) {
    ConnectedPair pair = connect_pair(false);
    Connection connection(std::move(pair.reader));
    std::thread writer([&] {
      if (!write_all(pair.writer.get(), stream)) std::abort();
    });
    for (int i = 0; i < kCount; ++i) {
      auto message = read_message(connection);
      if (!message) state.SkipWithError(message.error().text().c_str());
      benchmark::DoNotOptimize(message);
    }
    writer.join();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_ReadSmallMessages)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EncodeSmallRequest(benchmark::State& state) {
  const Message message = request_message(new_request_id(), "element.click", typical_params());
  for (auto _ : state) benchmark::DoNotOptimize(encode_message(message));
}
BENCHMARK(BM_EncodeSmallRequest);

void BM_DecodeSmallRequest(benchmark::State& state) {
  const std::string text = encode_message(request_message(new_request_id(), "element.click", typical_params()));
  for (auto _ : state) {
    auto value = parse_json(text);
    auto message = decode_message_taking(*value);
    benchmark::DoNotOptimize(message);
  }
}
BENCHMARK(BM_DecodeSmallRequest);

}  // namespace
}  // namespace vesk

BENCHMARK_MAIN();
