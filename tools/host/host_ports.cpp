#include "host_ports.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <list>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host_platform.h"
#include "hostkit/abi.h"
#include "platform/process_limits.h"

namespace host {

namespace {

using asio::ip::tcp;

class ChannelOwner {
 public:
  virtual ~ChannelOwner() = default;
  virtual void OnChannelData(uintptr_t id, const std::string& name, const uint8_t* data,
                             size_t size) = 0;
  virtual void OnChannelClosed(uintptr_t id, const std::string& name, const std::string& why) = 0;
  // Something about the line worth a log line (level as OnPortMessage).
  virtual void OnChannelNotice(int level, const std::string& text) = 0;
};

std::string Seconds(uint32_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%g s", ms / 1000.0);
  return buf;
}

// What a channel holds its line to.
struct ChannelLimits {
  size_t max_queued = 65536;
  uint32_t max_bytes_per_s = 0;  // 0: no limit
  uint32_t idle_ms = 0;          // 0: never closed for silence
};

// One byte stream: reads go to the owner, writes are queued and go out in
// order. Closing reports to the owner exactly once. A line that sends faster
// than its limit is read more slowly, so the kernel holds the sender back
// and the loop's time goes to the others.
template <class Stream>
class Channel : public std::enable_shared_from_this<Channel<Stream>> {
 public:
  using Clock = std::chrono::steady_clock;

  Channel(Stream stream, uintptr_t id, std::string name, ChannelOwner* owner,
          const ChannelLimits& limits)
      : stream_(std::move(stream)),
        id_(id),
        name_(std::move(name)),
        owner_(owner),
        limits_(limits),
        pause_(stream_.get_executor()),
        idle_(stream_.get_executor()),
        last_in_(Clock::now()),
        tokens_(static_cast<double>(limits.max_bytes_per_s)) {}

  void Start() {
    Read();
    if (limits_.idle_ms > 0) WatchIdle(std::chrono::milliseconds(limits_.idle_ms));
  }
  const std::string& Name() const { return name_; }

  int32_t Write(const uint8_t* data, size_t size) {
    if (closed_ || closing_) return kPortNotOpen;
    if (size == 0) return 0;
    if (queued_ + size > limits_.max_queued) return -1;
    queue_.emplace_back(data, data + size);
    queued_ += size;
    if (!writing_) WriteNext();
    return static_cast<int32_t>(size);
  }

  // No more data is delivered; the close itself follows from the loop.
  void CloseSoon(asio::io_context& io) {
    if (closed_ || closing_) return;
    closing_ = true;
    asio::post(io, [self = this->shared_from_this()] { self->Close("closed by the plug-in"); });
  }

  // For an owner that goes away: closes without telling it.
  void Detach() {
    if (closed_) return;
    closed_ = true;
    StopTimers();
    asio::error_code ignored;
    stream_.close(ignored);
  }

  void Close(const std::string& why) {
    if (closed_) return;
    closed_ = true;
    StopTimers();
    asio::error_code ignored;
    stream_.close(ignored);
    queue_.clear();
    owner_->OnChannelClosed(id_, name_, why);
  }

 private:
  void StopTimers() {
    pause_.cancel();
    idle_.cancel();
  }

  // On POSIX a socket waits until it is readable and then reads into the
  // loop's one buffer, so an idle connection holds no buffer of its own.
  // Elsewhere (Windows, where waiting for readable leaves the completion
  // port for a select thread) and for a serial line, each reads into its own.
#ifdef _WIN32
  static constexpr bool kWaitsForReadable = false;
#else
  static constexpr bool kWaitsForReadable = requires(Stream & s) {
    s.async_wait(Stream::wait_read, [](asio::error_code) {});
  };
#endif

  void Read() {
    if constexpr (kWaitsForReadable) {
      stream_.async_wait(Stream::wait_read, [self = this->shared_from_this()](asio::error_code ec) {
        if (self->closed_) return;
        if (ec) {
          self->Close(ec.message());
          return;
        }
        // The handlers all run on the loop's thread, one at a time.
        static thread_local std::array<uint8_t, 4096> buffer;
        self->stream_.non_blocking(true, ec);
        const size_t n = ec ? 0 : self->stream_.read_some(asio::buffer(buffer), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
          self->Read();
          return;
        }
        self->Received(ec, buffer.data(), n);
      });
    } else {
      stream_.async_read_some(asio::buffer(buffer_),
                              [self = this->shared_from_this()](asio::error_code ec, size_t n) {
                                self->Received(ec, self->buffer_.data(), n);
                              });
    }
  }

  void Received(asio::error_code ec, const uint8_t* data, size_t n) {
    if (closed_) return;
    if (ec) {
      Close(ec == asio::error::eof ? "closed by the peer" : ec.message());
      return;
    }
    last_in_ = Clock::now();
    if (!closing_) owner_->OnChannelData(id_, name_, data, n);
    if (closed_) return;
    const auto wait = Throttle(n);
    if (wait.count() == 0) {
      Read();
      return;
    }
    paused_ = true;
    pause_.expires_after(wait);
    pause_.async_wait([self = this->shared_from_this()](asio::error_code e) {
      self->paused_ = false;
      if (!e && !self->closed_) self->Read();
    });
  }

  // A token bucket of one second's bytes: how long to wait before reading
  // again after n bytes; said once each time the line goes over its limit.
  std::chrono::milliseconds Throttle(size_t n) {
    const uint32_t rate = limits_.max_bytes_per_s;
    if (rate == 0) return std::chrono::milliseconds(0);
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - refilled_).count();
    refilled_ = now;
    tokens_ = std::min<double>(rate, tokens_ + elapsed * rate) - static_cast<double>(n);
    if (tokens_ >= 0) {
      throttled_ = false;
      return std::chrono::milliseconds(0);
    }
    if (!throttled_) {
      throttled_ = true;
      owner_->OnChannelNotice(1, "client " + std::to_string(id_) + " " + name_ +
                                     " sends more than " + std::to_string(rate) +
                                     " bytes/s: throttled");
    }
    return std::chrono::milliseconds(static_cast<int64_t>(-tokens_ * 1000.0 / rate) + 1);
  }

  void WatchIdle(Clock::duration wait) {
    idle_.expires_after(wait);
    idle_.async_wait([self = this->shared_from_this()](asio::error_code ec) {
      if (ec || self->closed_) return;
      const auto limit = std::chrono::milliseconds(self->limits_.idle_ms);
      // A line held back for its rate is anything but silent.
      if (self->paused_) self->last_in_ = Clock::now();
      const auto silent = Clock::now() - self->last_in_;
      if (silent < limit) {
        self->WatchIdle(limit - silent);
        return;
      }
      const std::string why = "silent for " + Seconds(self->limits_.idle_ms);
      self->owner_->OnChannelNotice(
          1, "client " + std::to_string(self->id_) + " " + self->name_ + " closed: " + why);
      self->Close(why);
    });
  }

  void WriteNext() {
    if (queue_.empty() || closed_) {
      writing_ = false;
      return;
    }
    writing_ = true;
    asio::async_write(stream_, asio::buffer(queue_.front()),
                      [self = this->shared_from_this()](asio::error_code ec, size_t) {
                        if (self->closed_) return;
                        if (ec) {
                          self->Close(ec.message());
                          return;
                        }
                        self->queued_ -= self->queue_.front().size();
                        self->queue_.pop_front();
                        self->WriteNext();
                      });
  }

  Stream stream_;
  uintptr_t id_;
  std::string name_;
  ChannelOwner* owner_;
  ChannelLimits limits_;
  asio::steady_timer pause_;
  asio::steady_timer idle_;
  Clock::time_point last_in_;
  Clock::time_point refilled_ = Clock::now();
  double tokens_;
  bool throttled_ = false;
  bool paused_ = false;
  struct NoBuffer {};
  // Only a stream that cannot wait for readable data keeps a buffer.
  [[no_unique_address]] std::conditional_t<kWaitsForReadable, NoBuffer, std::array<uint8_t, 4096>>
      buffer_{};
  // A list, not a deque: an empty deque already holds a block, and most
  // connections have nothing queued most of the time.
  std::list<std::vector<uint8_t>> queue_;
  size_t queued_ = 0;
  bool writing_ = false;
  bool closing_ = false;
  bool closed_ = false;
};

std::string EndpointText(const tcp::endpoint& e) {
  const auto a = e.address();
  return (a.is_v6() ? "[" + a.to_string() + "]" : a.to_string()) + ":" + std::to_string(e.port());
}

// Retries with a doubling delay; counts consecutive failures.
class Backoff {
 public:
  explicit Backoff(const PortSettings& s) : s_(s), next_ms_(s.retry_min_ms) {}
  // The delay before the next attempt; 0 when the attempts are used up.
  uint32_t Fail() {
    ++failures_;
    if (s_.connect_attempts && failures_ >= s_.connect_attempts) return 0;
    const uint32_t d = next_ms_;
    next_ms_ = std::min(s_.retry_max_ms, next_ms_ * 2);
    return d;
  }
  void Succeed() {
    failures_ = 0;
    next_ms_ = s_.retry_min_ms;
  }
  uint32_t Failures() const { return failures_; }

 private:
  const PortSettings& s_;
  uint32_t next_ms_;
  uint32_t failures_ = 0;
};

// A port with one line at a time (TCP client, serial): client identifier 0.
template <class Stream>
class SingleLinePort : public Port, public ChannelOwner {
 public:
  SingleLinePort(asio::io_context& io, const PortSpec& definition, uint32_t no,
                 const PortSettings& s, PortListener& listener)
      : Port(definition, no), io_(io), settings_(s), listener_(listener), backoff_(s), timer_(io) {}

  ~SingleLinePort() override {
    stopped_ = true;
    if (channel_) channel_->Detach();
  }

  void Stop() override {
    stopped_ = true;
    timer_.cancel();
    AbortAttempt();
    if (channel_) channel_->Close("host stopping");
  }

  int32_t Write(uintptr_t, const uint8_t* data, size_t size) override {
    return channel_ ? channel_->Write(data, size) : kPortNotOpen;
  }

  bool CloseClient(uintptr_t) override {
    if (!channel_) return false;
    channel_->CloseSoon(io_);
    return true;
  }

  size_t OpenClients() const override { return channel_ ? 1 : 0; }

  void OnChannelData(uintptr_t, const std::string& name, const uint8_t* data,
                     size_t size) override {
    listener_.OnReceived(*this, 0, name, data, size);
  }

  void OnChannelNotice(int level, const std::string& text) override {
    listener_.OnPortMessage(*this, level, Definition().text + ": " + text);
  }

  void OnChannelClosed(uintptr_t, const std::string&, const std::string& why) override {
    auto keep = std::move(channel_);  // the channel outlives this call
    listener_.OnPortMessage(*this, stopped_ ? 2 : 1, Definition().text + ": " + why);
    listener_.OnPortClosed(*this);
    if (!stopped_) Retry(settings_.retry_min_ms);
  }

 protected:
  virtual void Attempt() = 0;
  virtual void AbortAttempt() {}

  void Opened(Stream stream, const std::string& name) {
    backoff_.Succeed();
    // A line of its own is the plug-in's to judge when silent.
    const ChannelLimits limits{settings_.max_queued_bytes, settings_.max_bytes_per_s, 0};
    channel_ = std::make_shared<Channel<Stream>>(std::move(stream), 0, name, this, limits);
    listener_.OnPortOpened(*this);
    if (channel_) channel_->Start();
  }

  // A failed attempt: retried after the back-off, or given up.
  void Failed(const std::string& why) {
    if (stopped_) return;
    const uint32_t delay = backoff_.Fail();
    if (delay == 0) {
      listener_.OnPortFailed(*this, Definition().text + ": " + why + " (" +
                                        std::to_string(backoff_.Failures()) + " attempts)");
      return;
    }
    listener_.OnPortMessage(*this, 1,
                            Definition().text + ": " + why + "; next attempt in " + Seconds(delay));
    Retry(delay);
  }

  void Retry(uint32_t delay_ms) {
    timer_.expires_after(std::chrono::milliseconds(delay_ms));
    timer_.async_wait([this](asio::error_code ec) {
      if (!ec && !stopped_) Attempt();
    });
  }

  asio::io_context& io_;
  const PortSettings& settings_;
  PortListener& listener_;
  Backoff backoff_;
  asio::steady_timer timer_;
  std::shared_ptr<Channel<Stream>> channel_;
  bool stopped_ = false;
};

class TcpClientPort final : public SingleLinePort<tcp::socket> {
 public:
  using SingleLinePort::SingleLinePort;

  void Start() override { Attempt(); }

 private:
  void Attempt() override {
    resolver_ = std::make_unique<tcp::resolver>(io_);
    resolver_->async_resolve(
        Definition().host, std::to_string(Definition().port),
        [this](asio::error_code ec, tcp::resolver::results_type results) {
          if (ec == asio::error::operation_aborted || stopped_) return;
          if (ec) {
            Failed("cannot resolve " + Definition().host + ": " + ec.message());
            return;
          }
          socket_ = std::make_unique<tcp::socket>(io_);
          asio::async_connect(*socket_, results,
                              [this](asio::error_code ec2, const tcp::endpoint& e) {
                                if (ec2 == asio::error::operation_aborted || stopped_) return;
                                if (ec2) {
                                  Failed(ec2.message());
                                  return;
                                }
                                asio::error_code ignored;
                                socket_->set_option(tcp::no_delay(true), ignored);
                                Opened(std::move(*socket_), EndpointText(e));
                                socket_.reset();
                              });
        });
  }
  void AbortAttempt() override {
    if (resolver_) resolver_->cancel();
    if (socket_) {
      asio::error_code ignored;
      socket_->close(ignored);
    }
  }

  std::unique_ptr<tcp::resolver> resolver_;
  std::unique_ptr<tcp::socket> socket_;
};

class SerialLinePort final : public SingleLinePort<asio::serial_port> {
 public:
  using SingleLinePort::SingleLinePort;

  void Start() override { Attempt(); }

 private:
  void Attempt() override {
    asio::serial_port serial(io_);
    asio::error_code ec;
    serial.open(SerialDevicePath(Definition().device), ec);
    if (!ec) {
      using asio::serial_port_base;
      const PortSpec& s = Definition();
      const auto parity = s.parity == Parity::kEven  ? serial_port_base::parity::even
                          : s.parity == Parity::kOdd ? serial_port_base::parity::odd
                                                     : serial_port_base::parity::none;
      const auto stop =
          s.stop_bits == 2 ? serial_port_base::stop_bits::two : serial_port_base::stop_bits::one;
      serial.set_option(serial_port_base::baud_rate(s.baud), ec);
      if (!ec) serial.set_option(serial_port_base::parity(parity), ec);
      if (!ec) serial.set_option(serial_port_base::character_size(s.data_bits), ec);
      if (!ec) serial.set_option(serial_port_base::stop_bits(stop), ec);
      if (!ec)
        serial.set_option(serial_port_base::flow_control(serial_port_base::flow_control::none), ec);
      if (ec) {
        // Pseudo-terminals take no line settings; a real line must.
        listener_.OnPortMessage(*this, 1,
                                Definition().text + ": line settings not applied: " + ec.message());
      }
      ever_opened_ = true;
      Opened(std::move(serial), Definition().device);
      return;
    }
    if (!ever_opened_) {
      // A device that is not there at start is a mistake, not a hiccup.
      listener_.OnPortFailed(
          *this, Definition().text + ": cannot open " + Definition().device + ": " + ec.message());
      return;
    }
    Failed("cannot open " + Definition().device + ": " + ec.message());
  }

  bool ever_opened_ = false;
};

class ListenPort final : public Port, public ChannelOwner {
 public:
  ListenPort(asio::io_context& io, const PortSpec& definition, uint32_t no, const PortSettings& s,
             ClientIds& ids, PortListener& listener)
      : Port(definition, no),
        io_(io),
        settings_(s),
        ids_(ids),
        listener_(listener),
        backoff_(s),
        acceptor_(io),
        timer_(io) {}

  ~ListenPort() override {
    for (auto& [id, ch] : channels_)
      ch->Detach();
  }

  void Start() override { Open(); }

  void Stop() override {
    stopped_ = true;
    timer_.cancel();
    asio::error_code ignored;
    acceptor_.close(ignored);
    std::vector<std::shared_ptr<TcpChannel>> all;
    all.reserve(channels_.size());
    for (auto& [id, ch] : channels_)
      all.push_back(ch);
    for (auto& ch : all)
      ch->Close("host stopping");
  }

  int32_t Write(uintptr_t client, const uint8_t* data, size_t size) override {
    const auto it = channels_.find(client);
    return it == channels_.end() ? kPortNotOpen : it->second->Write(data, size);
  }

  bool CloseClient(uintptr_t client) override {
    const auto it = channels_.find(client);
    if (it == channels_.end()) return false;
    it->second->CloseSoon(io_);
    return true;
  }

  size_t OpenClients() const override { return channels_.size(); }
  uint64_t RefusedClients() const override { return refused_; }
  std::string LocalAddress() const override { return local_; }

  void OnChannelNotice(int level, const std::string& text) override {
    listener_.OnPortMessage(*this, level, Definition().text + ": " + text);
  }

  void OnChannelData(uintptr_t id, const std::string& name, const uint8_t* data,
                     size_t size) override {
    listener_.OnReceived(*this, id, name, data, size);
  }

  void OnChannelClosed(uintptr_t id, const std::string& name, const std::string& why) override {
    const auto it = channels_.find(id);
    if (it == channels_.end()) return;
    auto keep = std::move(it->second);
    channels_.erase(it);
    listener_.OnClientClosed(*this, id, name, why);
  }

 private:
  using TcpChannel = Channel<tcp::socket>;

  void Open() {
    asio::error_code ec;
    tcp::endpoint endpoint;
    auto address = asio::ip::make_address(Definition().host, ec);
    if (ec) {
      tcp::resolver resolver(io_);
      auto results = resolver.resolve(Definition().host, std::to_string(Definition().port), ec);
      if (!ec && !results.empty()) endpoint = *results.begin();
    } else {
      endpoint = tcp::endpoint(address, Definition().port);
    }
    if (!ec) acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
      asio::error_code ignored;
      acceptor_.close(ignored);
      const uint32_t delay = backoff_.Fail();
      const std::string why = "cannot listen on " + Definition().host + ":" +
                              std::to_string(Definition().port) + ": " + ec.message();
      if (delay == 0) {
        listener_.OnPortFailed(*this, Definition().text + ": " + why);
        return;
      }
      listener_.OnPortMessage(
          *this, 1, Definition().text + ": " + why + "; next attempt in " + Seconds(delay));
      timer_.expires_after(std::chrono::milliseconds(delay));
      timer_.async_wait([this](asio::error_code e) {
        if (!e && !stopped_) Open();
      });
      return;
    }
    backoff_.Succeed();
    local_ = EndpointText(acceptor_.local_endpoint(ec));
    listener_.OnPortMessage(*this, 2, Definition().text + ": listening on " + local_);
    listener_.OnPortOpened(*this);
    Accept();
  }

  void Accept() {
    acceptor_.async_accept([this](asio::error_code ec, tcp::socket socket) {
      if (ec == asio::error::operation_aborted || stopped_) return;
      if (ec) {
        // Out of descriptors (or a transient failure): pause accepting.
        if (!accept_trouble_) {
          listener_.OnPortMessage(*this, 0,
                                  Definition().text +
                                      ": cannot accept a connection: " + ec.message() + " (" +
                                      std::to_string(channels_.size()) + " open)");
        }
        accept_trouble_ = true;
        timer_.expires_after(std::chrono::milliseconds(500));
        timer_.async_wait([this](asio::error_code e) {
          if (!e && !stopped_) Accept();
        });
        return;
      }
      accept_trouble_ = false;
      asio::error_code e2;
      const auto remote = socket.remote_endpoint(e2);
      const std::string name = e2 ? std::string("unknown") : EndpointText(remote);
      if (settings_.max_connections > 0 && channels_.size() >= settings_.max_connections) {
        // Said when the port becomes full; the count goes on in the stats.
        if (!full_) {
          listener_.OnPortMessage(*this, 1,
                                  Definition().text + ": " + std::to_string(channels_.size()) +
                                      " connections open, the most it takes: " + name +
                                      " refused, and any more until one closes");
        }
        full_ = true;
        ++refused_;
        socket.close(e2);
        Accept();
        return;
      }
      full_ = false;
      socket.set_option(tcp::no_delay(true), e2);
      const uintptr_t id = ids_.Take();
      const ChannelLimits limits{settings_.max_queued_bytes, settings_.max_bytes_per_s,
                                 settings_.idle_timeout_ms};
      auto ch = std::make_shared<TcpChannel>(std::move(socket), id, name, this, limits);
      channels_.emplace(id, ch);
      listener_.OnClientOpened(*this, id, name);
      ch->Start();
      Accept();
    });
  }

  asio::io_context& io_;
  const PortSettings& settings_;
  ClientIds& ids_;
  PortListener& listener_;
  Backoff backoff_;
  tcp::acceptor acceptor_;
  asio::steady_timer timer_;
  std::unordered_map<uintptr_t, std::shared_ptr<TcpChannel>> channels_;
  std::string local_;
  uint64_t refused_ = 0;
  bool stopped_ = false;
  bool accept_trouble_ = false;
  bool full_ = false;
};

}  // namespace

std::unique_ptr<Port> MakePort(asio::io_context& io, const PortSpec& definition,
                               uint32_t data_source_no, const PortSettings& settings,
                               ClientIds& ids, PortListener& listener) {
  switch (definition.kind) {
    case PortKind::kTcpClient:
      return std::make_unique<TcpClientPort>(io, definition, data_source_no, settings, listener);
    case PortKind::kListen:
      return std::make_unique<ListenPort>(io, definition, data_source_no, settings, ids, listener);
    case PortKind::kSerial:
      break;
  }
  return std::make_unique<SerialLinePort>(io, definition, data_source_no, settings, listener);
}

}  // namespace host
