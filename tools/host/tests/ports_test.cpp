#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>

#include "host_ports.h"
#include "hostkit/abi.h"

namespace {

using namespace host;
using asio::ip::tcp;

struct Recorder : PortListener {
  int opened = 0;
  int closed = 0;
  std::vector<std::pair<uintptr_t, std::string>> clients_opened;
  std::vector<uintptr_t> clients_closed;
  std::map<uintptr_t, std::string> received;
  std::vector<std::string> messages;
  std::string failure;
  bool in_callback = false;
  std::function<void(Port&, uintptr_t, const std::string&)> on_data;

  void OnPortOpened(Port&) override { ++opened; }
  void OnPortClosed(Port&) override { ++closed; }
  void OnClientOpened(Port&, uintptr_t c, const std::string& name) override {
    clients_opened.emplace_back(c, name);
  }
  void OnClientClosed(Port&, uintptr_t c, const std::string&, const std::string&) override {
    EXPECT_FALSE(in_callback) << "a close reported inside another callback";
    clients_closed.push_back(c);
  }
  void OnReceived(Port& p, uintptr_t c, const std::string&, const uint8_t* d, size_t n) override {
    in_callback = true;
    received[c].append(reinterpret_cast<const char*>(d), n);
    if (on_data) on_data(p, c, received[c]);
    in_callback = false;
  }
  void OnPortMessage(Port&, int, const std::string& text) override { messages.push_back(text); }
  void OnPortFailed(Port&, const std::string& text) override { failure = text; }
};

bool RunUntil(asio::io_context& io, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    io.restart();
    io.run_one_for(std::chrono::milliseconds(20));
  }
  return true;
}

PortSpec Definition(const std::string& text) {
  PortSpec s;
  std::string e;
  EXPECT_TRUE(ParsePortSpec(text, &s, &e)) << e;
  return s;
}

uint16_t PortOf(const std::string& address) {
  return static_cast<uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
}

TEST(HostPorts, ListenGivesEveryConnectionItsOwnClient) {
  asio::io_context io;
  Recorder rec;
  PortSettings settings;
  ClientIds ids;
  auto port = MakePort(io, Definition("listen://127.0.0.1:0"), 3, settings, ids, rec);
  port->Start();
  ASSERT_EQ(rec.opened, 1);
  const uint16_t number = PortOf(port->LocalAddress());
  ASSERT_NE(number, 0);
  EXPECT_EQ(port->Write(0, reinterpret_cast<const uint8_t*>("x"), 1), kPortNotOpen);

  tcp::socket a(io);
  tcp::socket b(io);
  a.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), number));
  b.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), number));
  ASSERT_TRUE(RunUntil(io, [&] { return rec.clients_opened.size() == 2; }));
  const uintptr_t ida = rec.clients_opened[0].first;
  const uintptr_t idb = rec.clients_opened[1].first;
  EXPECT_NE(ida, 0u);
  EXPECT_NE(ida, idb);
  EXPECT_EQ(rec.clients_opened[0].second.rfind("127.0.0.1:", 0), 0u);

  asio::write(a, asio::buffer(std::string("from a")));
  asio::write(b, asio::buffer(std::string("from b")));
  ASSERT_TRUE(
      RunUntil(io, [&] { return rec.received[ida] == "from a" && rec.received[idb] == "from b"; }));

  // Writes reach only their own connection.
  const std::string reply = "to b";
  EXPECT_EQ(port->Write(idb, reinterpret_cast<const uint8_t*>(reply.data()), reply.size()), 4);
  std::string got(4, '\0');
  asio::read(b, asio::buffer(got));
  EXPECT_EQ(got, reply);

  // A peer that hangs up is reported once.
  a.close();
  ASSERT_TRUE(RunUntil(io, [&] { return rec.clients_closed.size() == 1; }));
  EXPECT_EQ(rec.clients_closed[0], ida);
  EXPECT_EQ(port->OpenClients(), 1u);

  port->Stop();
  EXPECT_EQ(rec.clients_closed.size(), 2u);
  EXPECT_EQ(port->OpenClients(), 0u);
}

TEST(HostPorts, AClientClosedFromInsideADataCallbackGoesLater) {
  asio::io_context io;
  Recorder rec;
  PortSettings settings;
  ClientIds ids;
  auto port = MakePort(io, Definition("listen://127.0.0.1:0"), 1, settings, ids, rec);
  port->Start();
  rec.on_data = [](Port& p, uintptr_t c, const std::string& all) {
    if (all.find("garbage") != std::string::npos) {
      EXPECT_TRUE(p.CloseClient(c));
    }
  };
  tcp::socket s(io);
  s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), PortOf(port->LocalAddress())));
  asio::write(s, asio::buffer(std::string("garbage")));
  ASSERT_TRUE(RunUntil(io, [&] { return rec.clients_closed.size() == 1; }));
  // The peer sees the connection end.
  std::array<char, 16> buf{};
  asio::error_code ec;
  s.read_some(asio::buffer(buf), ec);
  EXPECT_EQ(ec, asio::error::eof);
  EXPECT_FALSE(port->CloseClient(rec.clients_closed[0]));
  port->Stop();
}

TEST(HostPorts, ListenLimitsCountRateAndSilence) {
  asio::io_context io;
  Recorder rec;
  PortSettings settings;
  settings.max_connections = 1;
  settings.idle_timeout_ms = 300;
  settings.max_bytes_per_s = 2000;
  ClientIds ids;
  auto port = MakePort(io, Definition("listen://127.0.0.1:0"), 1, settings, ids, rec);
  port->Start();
  const tcp::endpoint at(asio::ip::make_address("127.0.0.1"), PortOf(port->LocalAddress()));
  tcp::socket a(io);
  tcp::socket b(io);
  a.connect(at);
  ASSERT_TRUE(RunUntil(io, [&] { return rec.clients_opened.size() == 1; }));
  // One more than the port takes is closed at once, and counted.
  b.connect(at);
  ASSERT_TRUE(RunUntil(io, [&] { return port->RefusedClients() == 1; }));
  std::array<char, 16> buf{};
  asio::error_code ec;
  b.read_some(asio::buffer(buf), ec);
  EXPECT_EQ(ec, asio::error::eof);
  EXPECT_EQ(rec.clients_opened.size(), 1u);

  // Three seconds' worth at once: the second half waits for the first to be
  // paid for, and then longer than the idle time-out: a held-back line is
  // not silent.
  const auto start = std::chrono::steady_clock::now();
  asio::write(a, asio::buffer(std::string(3000, 'x')));
  ASSERT_TRUE(RunUntil(io, [&] { return !rec.received.empty(); }));
  asio::write(a, asio::buffer(std::string(3000, 'y')));
  ASSERT_TRUE(RunUntil(io, [&] { return rec.received.begin()->second.size() == 6000; }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_TRUE(rec.clients_closed.empty());

  // Then silence closes it.
  ASSERT_TRUE(RunUntil(io, [&] { return rec.clients_closed.size() == 1; }));
  a.read_some(asio::buffer(buf), ec);
  EXPECT_EQ(ec, asio::error::eof);
  std::string said;
  for (const std::string& m : rec.messages)
    said += m + "\n";
  EXPECT_NE(said.find(" refused"), std::string::npos) << said;
  EXPECT_NE(said.find("sends more than 2000 bytes/s: throttled"), std::string::npos) << said;
  EXPECT_NE(said.find("closed: silent for 0.3 s"), std::string::npos) << said;
  port->Stop();
}

TEST(HostPorts, ATcpClientGivesUpAfterItsAttempts) {
  asio::io_context io;
  // A port nobody listens on: bind one and close it again.
  uint16_t number = 0;
  {
    tcp::acceptor probe(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    number = probe.local_endpoint().port();
  }
  Recorder rec;
  PortSettings settings;
  settings.connect_attempts = 2;
  settings.retry_min_ms = 10;
  ClientIds ids;
  auto port =
      MakePort(io, Definition("tcp://127.0.0.1:" + std::to_string(number)), 1, settings, ids, rec);
  port->Start();
  ASSERT_TRUE(RunUntil(io, [&] { return !rec.failure.empty(); }));
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_NE(rec.messages[0].find("next attempt in 0.01 s"), std::string::npos);
  EXPECT_NE(rec.failure.find("(2 attempts)"), std::string::npos);
  EXPECT_EQ(rec.opened, 0);
  EXPECT_EQ(port->Write(0, reinterpret_cast<const uint8_t*>("x"), 1), kPortNotOpen);
}

TEST(HostPorts, ATcpClientReconnectsWhenDropped) {
  asio::io_context io;
  tcp::acceptor server(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  Recorder rec;
  PortSettings settings;
  settings.retry_min_ms = 10;
  settings.max_queued_bytes = 8;
  ClientIds ids;
  auto port =
      MakePort(io, Definition("tcp://127.0.0.1:" + std::to_string(server.local_endpoint().port())),
               1, settings, ids, rec);
  port->Start();
  tcp::socket peer(io);
  bool accepted = false;
  server.async_accept(peer, [&](asio::error_code ec) { accepted = !ec; });
  ASSERT_TRUE(RunUntil(io, [&] { return accepted && rec.opened == 1; }));
  const std::string req = "request";
  EXPECT_EQ(port->Write(99, reinterpret_cast<const uint8_t*>(req.data()), req.size()), 7);
  // Beyond the queue's bound the write is refused, not buffered for ever.
  EXPECT_EQ(port->Write(0, reinterpret_cast<const uint8_t*>(req.data()), req.size()), -1);
  std::string got(7, '\0');
  asio::read(peer, asio::buffer(got));
  EXPECT_EQ(got, req);
  asio::write(peer, asio::buffer(std::string("answer")));
  ASSERT_TRUE(RunUntil(io, [&] { return rec.received[0] == "answer"; }));

  peer.close();
  ASSERT_TRUE(RunUntil(io, [&] { return rec.closed == 1; }));
  tcp::socket again(io);
  accepted = false;
  server.async_accept(again, [&](asio::error_code ec) { accepted = !ec; });
  ASSERT_TRUE(RunUntil(io, [&] { return accepted && rec.opened == 2; }));
  port->Stop();
  EXPECT_EQ(rec.closed, 2);
  EXPECT_TRUE(rec.failure.empty());
}

TEST(HostPorts, AMissingSerialDeviceFailsAtOnce) {
  asio::io_context io;
  Recorder rec;
  PortSettings settings;
  ClientIds ids;
  auto port = MakePort(io, Definition("serial:/nonexistent/ttyX9"), 1, settings, ids, rec);
  port->Start();
  EXPECT_NE(rec.failure.find("cannot open /nonexistent/ttyX9"), std::string::npos);
  EXPECT_EQ(rec.opened, 0);
}

}  // namespace
