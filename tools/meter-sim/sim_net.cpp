#include "sim_net.h"

#include <algorithm>
#include <cstdio>

#include "platform/process_limits.h"
#include "platform/tick.h"
#include "sim_log.h"

namespace metersim {

SimTime SimNow(const SimConfig& config) {
  return config.fixed_clock ? config.clock : SimTimeFromDateTime(platform::LocalNow());
}

namespace {

std::string EndpointText(const asio::ip::tcp::endpoint& endpoint) {
  const asio::ip::address a = endpoint.address();
  const std::string host = a.is_v6() ? "[" + a.to_string() + "]" : a.to_string();
  return host + ":" + std::to_string(endpoint.port());
}

uint64_t LinkSeed(uint64_t seed, uint64_t index, uint64_t serial) {
  return seed * 0x100000001B3ull + index * 0x9E3779B97F4A7C15ull + serial;
}

}  // namespace

// ---------------------------------------------------------------- TCP server

TcpServer::TcpServer(asio::io_context& io, const SimConfig& config)
    : io_(io), config_(config), acceptor_(io), retry_timer_(io) {}

TcpServer::~TcpServer() {
  Stop();
}

bool TcpServer::Open(std::string* error) {
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(io_);
  const std::string where = config_.host + ":" + std::to_string(config_.port);
  const auto results = resolver.resolve(config_.host, std::to_string(config_.port),
                                        asio::ip::tcp::resolver::passive, ec);
  if (ec) {
    *error = "cannot listen on " + where + ": " + ec.message();
    return false;
  }
  for (const auto& entry : results) {
    acceptor_.close(ec);
    acceptor_.open(entry.endpoint().protocol(), ec);
    if (!ec) PrepareListenSocket(acceptor_);
    if (!ec) acceptor_.bind(entry.endpoint(), ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (!ec) return true;
  }
  acceptor_.close();
  *error = "cannot listen on " + where + ": " + ec.message();
  return false;
}

asio::ip::tcp::endpoint TcpServer::LocalEndpoint() const {
  asio::error_code ec;
  return acceptor_.local_endpoint(ec);
}

void TcpServer::Start() {
  Accept();
}

void TcpServer::Stop() {
  asio::error_code ec;
  acceptor_.close(ec);
  retry_timer_.cancel();
  DropConnections();
}

void TcpServer::DropConnections() {
  auto links = std::move(links_);
  links_.clear();
  for (auto& [raw, link] : links)
    link->Close();
}

void TcpServer::Accept() {
  acceptor_.async_accept([this](asio::error_code ec, asio::ip::tcp::socket socket) {
    if (!acceptor_.is_open()) return;
    if (ec) {
      if (platform::IsOutOfDescriptors(ec.value())) {
        // Try again once connections have gone away.
        LogError("cannot accept more connections (%lu open): %s",
                 static_cast<unsigned long>(links_.size()), ec.message().c_str());
        retry_timer_.expires_after(std::chrono::seconds(1));
        retry_timer_.async_wait([this](asio::error_code e) {
          if (!e) Accept();
        });
        return;
      }
      LogLine("accept failed: %s", ec.message().c_str());
      Accept();
      return;
    }
    asio::error_code peer_ec;
    const auto peer = socket.remote_endpoint(peer_ec);
    const std::string label = peer_ec ? "tcp" : "tcp " + EndpointText(peer);
    LogLine("%s connected", label.c_str());
    auto link = std::make_shared<TcpLink>(std::move(socket), config_.meters, config_,
                                          LinkSeed(config_.seed, 0, ++accepted_), label, this);
    links_.emplace(link.get(), link);
    link->Start();
    Accept();
  });
}

void TcpServer::OnLinkClosed(LinkBase* link) {
  links_.erase(link);
}

// ---------------------------------------------------------------- DTUs

class DtuClient final : public LinkObserver {
 public:
  DtuClient(DtuPool& pool, size_t index, std::span<const MeterAddress> meters)
      : pool_(pool),
        index_(index),
        meters_(meters),
        socket_(pool.io_),
        timer_(pool.io_),
        backoff_ms_(pool.config_.reconnect_min_ms) {}

  void BeginConnect() {
    asio::error_code ec;
    socket_ = asio::ip::tcp::socket(pool_.io_);
    socket_.open(pool_.endpoint_.protocol(), ec);
    if (ec) {
      pool_.ConnectDone();
      Failed(ec);
      return;
    }
    socket_.async_connect(pool_.endpoint_, [this](asio::error_code e) {
      pool_.ConnectDone();
      OnConnect(e);
    });
  }

  void Stop() {
    stopped_ = true;
    timer_.cancel();
    asio::error_code ec;
    socket_.close(ec);
    if (link_) link_->Close();
  }

 private:
  std::string Label() const { return "dtu " + AddressText(meters_.front()); }

  void OnConnect(asio::error_code ec) {
    if (stopped_) return;
    if (ec) {
      Failed(ec);
      return;
    }
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    const std::string label = Label();
    LogLine("%s connected", label.c_str());
    link_ = std::make_shared<TcpLink>(std::move(socket_), meters_, pool_.config_,
                                      LinkSeed(pool_.config_.seed, index_ + 1, ++connects_), label,
                                      this);
    link_->Start();
    backoff_ms_ = pool_.config_.reconnect_min_ms;
    pool_.OnConnected();
  }

  void Failed(asio::error_code ec) {
    if (platform::IsOutOfDescriptors(ec.value())) {
      pool_.Fail("cannot open more than " + std::to_string(pool_.Connected()) +
                 " connections: " + ec.message() +
                 " (raise the open-file limit, e.g. ulimit -n, or simulate fewer DTUs)");
      return;
    }
    LogLine("%s cannot connect: %s", Label().c_str(), ec.message().c_str());
    Retry();
  }

  void OnLinkClosed(LinkBase*) override {
    link_.reset();
    pool_.OnDisconnected();
    if (!stopped_) Retry();
  }

  // Exponential back-off with a quarter of jitter, so that many DTUs
  // dropped together do not all come back in the same instant.
  void Retry() {
    if (stopped_) return;
    const uint32_t base = backoff_ms_;
    const uint32_t jitter =
        static_cast<uint32_t>((LinkSeed(index_, connects_, ++attempts_) >> 7) % (base / 4 + 1));
    backoff_ms_ = std::min(pool_.config_.reconnect_max_ms, base * 2);
    timer_.expires_after(std::chrono::milliseconds(base - base / 8 + jitter));
    timer_.async_wait([this](asio::error_code ec) {
      if (!ec && !stopped_) pool_.RequestConnect(this);
    });
  }

  DtuPool& pool_;
  size_t index_;
  std::span<const MeterAddress> meters_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  std::shared_ptr<TcpLink> link_;
  uint32_t backoff_ms_;
  uint64_t connects_ = 0;
  uint64_t attempts_ = 0;
  bool stopped_ = false;
};

DtuPool::DtuPool(asio::io_context& io, const SimConfig& config) : io_(io), config_(config) {}

DtuPool::~DtuPool() {
  Stop();
}

bool DtuPool::Open(std::string* error) {
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(io_);
  const auto results = resolver.resolve(config_.host, std::to_string(config_.port), ec);
  if (ec || results.empty()) {
    *error = "cannot resolve " + config_.host + ": " + (ec ? ec.message() : "no address");
    return false;
  }
  endpoint_ = results.begin()->endpoint();
  const size_t per = std::max<size_t>(1, config_.meters_per_dtu);
  const size_t count = (config_.meters.size() + per - 1) / per;
  // Every DTU holds one socket; a few more for the resolver, stdio and slack.
  const uint64_t wanted = count + 64;
  const platform::OpenFileLimit limit = platform::RaiseOpenFileLimit(wanted);
  if (limit.limited && limit.current < wanted) {
    *error = "cannot hold " + std::to_string(count) + " connections: the open-file limit is " +
             std::to_string(limit.current) + " (hard limit " + std::to_string(limit.hard) +
             "); raise it (ulimit -n) or simulate fewer DTUs";
    return false;
  }
  clients_.reserve(count);
  const std::span<const MeterAddress> all(config_.meters);
  for (size_t i = 0; i < count; ++i) {
    const size_t first = i * per;
    const size_t n = std::min(per, all.size() - first);
    clients_.push_back(std::make_unique<DtuClient>(*this, i, all.subspan(first, n)));
  }
  return true;
}

void DtuPool::Start() {
  for (auto& client : clients_)
    waiting_.push_back(client.get());
  Drain();
}

void DtuPool::Stop() {
  if (stopped_) return;
  stopped_ = true;
  for (auto& client : clients_)
    client->Stop();
}

void DtuPool::RequestConnect(DtuClient* client) {
  if (stopped_) return;
  waiting_.push_back(client);
  Drain();
}

void DtuPool::ConnectDone() {
  --connecting_;
  Drain();
}

void DtuPool::Drain() {
  if (draining_) return;  // a connect that fails at once re-enters here
  draining_ = true;
  while (!stopped_ && connecting_ < kMaxConnecting && waiting_head_ < waiting_.size()) {
    DtuClient* client = waiting_[waiting_head_++];
    ++connecting_;
    client->BeginConnect();
  }
  if (waiting_head_ == waiting_.size()) {
    waiting_.clear();
    waiting_head_ = 0;
  }
  draining_ = false;
}

void DtuPool::OnConnected() {
  ++connected_;
  if (!announced_ && connected_ == clients_.size()) {
    announced_ = true;
    std::printf("connected %lu DTUs to %s:%u\n", static_cast<unsigned long>(clients_.size()),
                config_.host.c_str(), static_cast<unsigned>(config_.port));
    std::fflush(stdout);
  }
}

void DtuPool::OnDisconnected() {
  --connected_;
}

void DtuPool::Fail(const std::string& message) {
  if (!failure_.empty()) return;
  failure_ = message;
  Stop();
  io_.stop();
}

}  // namespace metersim
