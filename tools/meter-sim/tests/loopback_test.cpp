#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>

#include "answer_decoder.h"
#include "sim_net.h"
#include "wire.h"

namespace {

using asio::ip::tcp;
using metersim::MeterAddress;
using metersim::SimConfig;
using Bytes = std::vector<uint8_t>;

MeterAddress Addr(const char* text) {
  MeterAddress a{};
  EXPECT_TRUE(metersim::ParseAddress(text, &a)) << text;
  return a;
}

Bytes ReadRequest(const MeterAddress& a, uint32_t id) {
  const uint8_t data[4] = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                           static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24)};
  Bytes frame = {0xFE, 0xFE, 0xFE, 0xFE};
  const Bytes body = metersim::EncodeFrame(a, 0x11, data);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

// Runs the loop until `done` holds; real sockets, bounded by a generous deadline.
bool RunUntil(asio::io_context& io, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    io.restart();
    io.run_one_for(std::chrono::milliseconds(50));
  }
  return true;
}

// A peer that writes a request and collects bytes until one answer frame
// (from its first start byte) is complete.
struct Peer {
  explicit Peer(asio::io_context& io) : socket(io) {}
  tcp::socket socket;
  Bytes received;
  bool failed = false;
  std::array<uint8_t, 512> buffer{};

  void Read() {
    socket.async_read_some(asio::buffer(buffer), [this](asio::error_code ec, size_t n) {
      if (ec) {
        failed = true;
        return;
      }
      received.insert(received.end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
      Read();
    });
  }
  // The first complete frame in what arrived (garbage before it skipped).
  bool Frame(Bytes* frame) const {
    for (size_t i = 0; i + 12 <= received.size(); ++i) {
      if (received[i] != 0x68 || received[i + 7] != 0x68) continue;
      const size_t len = received[i + 9] + 12u;
      if (i + len > received.size()) return false;
      frame->assign(received.begin() + static_cast<long>(i),
                    received.begin() + static_cast<long>(i + len));
      return true;
    }
    return false;
  }
};

SimConfig ServerConfig() {
  SimConfig c;
  c.mode = metersim::SimMode::kListen;
  c.host = "127.0.0.1";
  c.port = 0;
  c.meters = {Addr("000000000001"), Addr("000000000002")};
  c.fixed_clock = true;
  metersim::ParseSimTime("2024-05-01T12:00:00", &c.clock);
  return c;
}

TEST(TcpServerLoopback, ClientsReadTheMetersBehindThePort) {
  asio::io_context io;
  SimConfig config = ServerConfig();
  metersim::TcpServer server(io, config);
  std::string error;
  ASSERT_TRUE(server.Open(&error)) << error;
  server.Start();
  const tcp::endpoint endpoint = server.LocalEndpoint();
  ASSERT_NE(endpoint.port(), 0);

  // Two clients at once, each asking another meter.
  Peer a(io), b(io);
  int connected = 0;
  for (Peer* p : {&a, &b})
    p->socket.async_connect(endpoint, [&connected](asio::error_code ec) {
      EXPECT_FALSE(ec) << ec.message();
      ++connected;
    });
  ASSERT_TRUE(RunUntil(io, [&] { return connected == 2; }));
  a.Read();
  b.Read();
  asio::write(a.socket, asio::buffer(ReadRequest(config.meters[0], 0x02010100)));
  asio::write(b.socket, asio::buffer(ReadRequest(config.meters[1], 0x0203FF00)));
  Bytes fa, fb;
  ASSERT_TRUE(RunUntil(io, [&] { return a.Frame(&fa) && b.Frame(&fb); }));
  EXPECT_EQ(fa, metersim::BuildAnswer(
                    config.meters[0], 0x02010100, false,
                    metersim::ReadMeter(config.meters[0], 0x02010100, false, config.clock)));
  const auto decoded = metersim_test::DecodeAnswer(fb, FindFuncType(0x0203FF00, false), false);
  ASSERT_TRUE(decoded.sound);
  EXPECT_EQ(decoded.values.size(), 4u);
  EXPECT_EQ(server.Connections(), 2u);

  // A client that goes away is forgotten.
  a.socket.close();
  ASSERT_TRUE(RunUntil(io, [&] { return server.Connections() == 1; }));
  server.Stop();
}

TEST(TcpServerLoopback, SplitAnswersArriveWholeAndInOrder) {
  asio::io_context io;
  SimConfig config = ServerConfig();
  config.faults.split = true;
  config.faults.echo = true;
  metersim::TcpServer server(io, config);
  std::string error;
  ASSERT_TRUE(server.Open(&error)) << error;
  server.Start();
  Peer p(io);
  p.socket.connect(server.LocalEndpoint());
  p.Read();
  const Bytes request = ReadRequest(config.meters[0], 0x0001FF00);
  asio::write(p.socket, asio::buffer(request));
  const Bytes answer =
      metersim::BuildAnswer(config.meters[0], 0x0001FF00, false,
                            metersim::ReadMeter(config.meters[0], 0x0001FF00, false, config.clock));
  Bytes expected = request;  // the echo first
  expected.insert(expected.end(), answer.begin(), answer.end());
  ASSERT_TRUE(RunUntil(io, [&] { return p.received.size() >= expected.size(); }));
  EXPECT_EQ(p.received, expected);
}

TEST(TcpServerLoopback, PortInUseIsAClearError) {
  asio::io_context io;
  tcp::acceptor taken(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  SimConfig config = ServerConfig();
  config.port = taken.local_endpoint().port();
  metersim::TcpServer server(io, config);
  std::string error;
  EXPECT_FALSE(server.Open(&error));
  EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(config.port)),
            std::string::npos)
      << error;
}

TEST(DtuLoopback, ModemsConnectAnswerAndComeBackWhenDropped) {
  asio::io_context io;
  tcp::acceptor host(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  SimConfig config = ServerConfig();
  config.mode = metersim::SimMode::kDtu;
  config.port = host.local_endpoint().port();
  config.meters = {Addr("000000000011"), Addr("000000000012"), Addr("000000000013")};
  config.reconnect_min_ms = 5;
  config.reconnect_max_ms = 20;
  metersim::DtuPool pool(io, config);
  std::string error;
  ASSERT_TRUE(pool.Open(&error)) << error;
  ASSERT_EQ(pool.DtuCount(), 3u);
  pool.Start();

  std::vector<std::unique_ptr<Peer>> peers;
  std::function<void()> accept = [&] {
    auto peer = std::make_unique<Peer>(io);
    Peer* raw = peer.get();
    peers.push_back(std::move(peer));
    host.async_accept(raw->socket, [&, raw](asio::error_code ec) {
      if (ec) return;
      raw->Read();
      // The host does not know who called: it asks whoever is there.
      asio::write(raw->socket, asio::buffer(ReadRequest(Addr("AAAAAAAAAAAA"), 0x02010100)));
      accept();
    });
  };
  accept();
  const auto answered = [&] {
    std::set<std::string> who;
    for (const auto& p : peers) {
      Bytes f;
      if (p->Frame(&f)) who.insert(metersim::AddressText({f[1], f[2], f[3], f[4], f[5], f[6]}));
    }
    return who;
  };
  ASSERT_TRUE(RunUntil(io, [&] { return answered().size() == 3 && pool.Connected() == 3; }));
  EXPECT_EQ(answered(), (std::set<std::string>{"000000000011", "000000000012", "000000000013"}));

  // The host drops one modem; it dials in again after its back-off.
  peers[0]->socket.close();
  ASSERT_TRUE(RunUntil(io, [&] { return peers.size() >= 5 && pool.Connected() == 3; }));
  Bytes again;
  ASSERT_TRUE(RunUntil(io, [&] { return peers[3]->Frame(&again); }));
  pool.Stop();
  EXPECT_EQ(pool.Connected(), 0u);
}

TEST(DtuLoopback, UnresolvableHostIsAClearError) {
  asio::io_context io;
  SimConfig config = ServerConfig();
  config.mode = metersim::SimMode::kDtu;
  config.host = "no-such-host.invalid";
  config.port = 9;
  metersim::DtuPool pool(io, config);
  std::string error;
  EXPECT_FALSE(pool.Open(&error));
  EXPECT_NE(error.find("cannot resolve no-such-host.invalid"), std::string::npos) << error;
}

}  // namespace

namespace {

TEST(PtyLoopback, AMeterOnAPseudoTerminal) {
  asio::io_context io;
  SimConfig config = ServerConfig();
  config.mode = metersim::SimMode::kPty;
  std::string path, error;
  const auto pty = metersim::StartPty(io, config, &path, &error);
  if (!pty) GTEST_SKIP() << error;  // systems without pseudo-terminals
  // The slave side opens like any serial port.
  asio::serial_port port(io, path);
  port.set_option(asio::serial_port::baud_rate(2400));
  asio::write(port, asio::buffer(ReadRequest(config.meters[1], 0x02800002)));
  Bytes received;
  std::array<uint8_t, 64> buffer{};
  std::function<void()> read = [&] {
    port.async_read_some(asio::buffer(buffer), [&](asio::error_code ec, size_t n) {
      if (ec) return;
      received.insert(received.end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
      read();
    });
  };
  read();
  const Bytes answer =
      metersim::BuildAnswer(config.meters[1], 0x02800002, false,
                            metersim::ReadMeter(config.meters[1], 0x02800002, false, config.clock));
  ASSERT_TRUE(RunUntil(io, [&] { return received.size() >= answer.size(); }));
  EXPECT_EQ(received, answer);
  port.close();
}

}  // namespace
