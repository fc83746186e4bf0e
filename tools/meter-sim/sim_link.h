#pragma once
// A MeterSession on a byte stream of Asio (a TCP socket, a pseudo-terminal):
// reads feed the session; its chunks go out in order, each after its delay.
#include <array>
#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <asio.hpp>

#include "meter_session.h"
#include "sim_log.h"
#include "sim_options.h"

namespace metersim {

// The simulated meters' clock: frozen by --clock, else the local time.
SimTime SimNow(const SimConfig& config);

class LinkBase;

// Told once when a link has closed (peer gone, I/O error, Close()).
class LinkObserver {
 public:
  virtual ~LinkObserver() = default;
  virtual void OnLinkClosed(LinkBase* link) = 0;
};

class LinkBase {
 public:
  virtual ~LinkBase() = default;
  virtual void Close() = 0;
};

template <class Stream>
class Link : public LinkBase, public std::enable_shared_from_this<Link<Stream>> {
 public:
  static constexpr size_t kMaxQueued = 4096;  // chunks waiting to be written

  Link(Stream stream, std::span<const MeterAddress> meters, const SimConfig& config, uint64_t seed,
       std::string label, LinkObserver* observer)
      : stream_(std::move(stream)),
        write_timer_(stream_.get_executor()),
        unsolicited_timer_(stream_.get_executor()),
        config_(config),
        session_(meters, config.faults, seed, std::move(label)),
        observer_(observer) {
    session_.SetObserver(config.observer);
  }

  void Start() {
    Read();
    if (config_.unsolicited) ArmUnsolicited(std::chrono::seconds(1));
  }

  void Close() override {
    if (closed_) return;
    closed_ = true;
    asio::error_code ignored;
    stream_.close(ignored);
    write_timer_.cancel();
    unsolicited_timer_.cancel();
    LinkObserver* observer = std::exchange(observer_, nullptr);
    if (observer) observer->OnLinkClosed(this);
  }

  const MeterSession& Session() const { return session_; }

 private:
  void Read() {
    stream_.async_read_some(
        asio::buffer(buffer_),
        [self = this->shared_from_this()](asio::error_code ec, size_t n) { self->OnRead(ec, n); });
  }

  void OnRead(asio::error_code ec, size_t n) {
    if (closed_) return;
    if (ec) {
      LogLine("%s closed: %s", session_.Label().c_str(), ec.message().c_str());
      Close();
      return;
    }
    LogLine("%s rx %s", session_.Label().c_str(),
            HexText(std::span<const uint8_t>(buffer_.data(), n)).c_str());
    std::vector<OutChunk> out;
    session_.OnReceive(std::span<const uint8_t>(buffer_.data(), n), SimNow(config_), &out);
    Queue(std::move(out));
    Read();
  }

  void ArmUnsolicited(std::chrono::milliseconds after) {
    unsolicited_timer_.expires_after(after);
    unsolicited_timer_.async_wait([self = this->shared_from_this()](asio::error_code ec) {
      if (ec || self->closed_) return;
      std::vector<OutChunk> out;
      self->session_.Unsolicited(&out);
      self->Queue(std::move(out));
      self->ArmUnsolicited(std::chrono::milliseconds(self->config_.unsolicited_ms));
    });
  }

  void Queue(std::vector<OutChunk> chunks) {
    if (chunks.empty()) return;
    if (queue_.size() - head_ > kMaxQueued) {
      // A peer that asks far faster than answers can go out (long delays):
      // drop rather than grow without bound.
      LogLine("%s output queue full: answer dropped", session_.Label().c_str());
      return;
    }
    for (OutChunk& c : chunks)
      queue_.push_back(std::move(c));
    Pump();
  }

  // One chunk at a time: wait its delay, write it, then the next.
  void Pump() {
    if (writing_ || waiting_ || closed_) return;
    if (head_ == queue_.size()) {
      queue_.clear();
      head_ = 0;
      return;
    }
    OutChunk& chunk = queue_[head_];
    if (chunk.delay_ms > 0) {
      waiting_ = true;
      write_timer_.expires_after(std::chrono::milliseconds(chunk.delay_ms));
      chunk.delay_ms = 0;
      write_timer_.async_wait([self = this->shared_from_this()](asio::error_code ec) {
        self->waiting_ = false;
        if (ec || self->closed_) return;
        self->Pump();
      });
      return;
    }
    writing_ = true;
    asio::async_write(stream_, asio::buffer(chunk.bytes),
                      [self = this->shared_from_this()](asio::error_code ec, size_t) {
                        self->writing_ = false;
                        if (ec) {
                          LogLine("%s write failed: %s", self->session_.Label().c_str(),
                                  ec.message().c_str());
                          self->Close();
                          return;
                        }
                        ++self->head_;
                        self->Pump();
                      });
  }

  Stream stream_;
  asio::steady_timer write_timer_;
  asio::steady_timer unsolicited_timer_;
  const SimConfig& config_;
  MeterSession session_;
  LinkObserver* observer_;
  std::vector<OutChunk> queue_;
  size_t head_ = 0;
  bool writing_ = false;
  bool waiting_ = false;
  bool closed_ = false;
  std::array<uint8_t, 256> buffer_;
};

}  // namespace metersim
