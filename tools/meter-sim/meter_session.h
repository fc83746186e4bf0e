#pragma once
// One line (a TCP connection, a DTU's link, a pseudo-terminal) with the
// meters behind it: every meter sees every request and only the addressed
// one answers. Independent of any transport: bytes in, timed chunks out, so
// the fault options can be checked byte for byte.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "meter_model.h"
#include "wire.h"

namespace metersim {

struct FaultOptions {
  bool echo = false;       // every received byte is sent back at once (half-duplex converter)
  double noise = 0;        // chance per byte sent of a garbage byte before it
  uint32_t delay_ms = 0;   // before every answer
  bool split = false;      // answers in pieces of 1..6 bytes, 2..20 ms apart
  bool duplicate = false;  // every answer goes out twice
  std::vector<MeterAddress> silent;  // meters that never answer
  // The first answer on the line that needs follow-up frames never gets
  // its first one: the meter stays silent to that 0x12 request and its
  // repeats. A new read starts a whole answer again.
  bool drop_follow_up = false;
};

// Bytes to write after waiting delay_ms from the end of the chunk before.
struct OutChunk {
  uint32_t delay_ms = 0;
  std::vector<uint8_t> bytes;
};

struct SessionCounters {
  uint64_t requests = 0;  // sound frames addressed to one of our meters
  uint64_t answers = 0;   // normal answers sent
  uint64_t errors = 0;    // error answers sent
  uint64_t ignored = 0;   // sound frames for other devices or from meters
  uint64_t acks = 0;      // 0x1F replies to our unsolicited frames
  uint64_t unsolicited = 0;
  uint64_t follow_ups = 0;  // follow-up frames sent
  uint64_t dropped = 0;     // follow-up requests left unanswered by --drop-follow-up
};

// What a line's meters did, for tests that hold a host's records against
// the simulator.
struct SessionEvent {
  enum Kind { kAnswer, kErrorAnswer, kSilent, kUnsolicited, kAck, kFollowUp, kDroppedFollowUp };
  Kind kind = kAnswer;
  MeterAddress meter{};
  uint32_t id = 0;  // of a read or follow-up; 0 for the other kinds
  bool is1997 = false;
  SimTime time = 0;  // the meters' clock when asked
};

class SessionObserver {
 public:
  virtual ~SessionObserver() = default;
  // On the thread that runs the line.
  virtual void OnSessionEvent(const SessionEvent& event) = 0;
};

// A small generator: sessions are many, so its state is one word.
class SimRandom {
 public:
  explicit SimRandom(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next();
  bool Chance(double p);
  uint32_t Range(uint32_t lo, uint32_t hi);  // inclusive

 private:
  uint64_t state_;
};

class MeterSession {
 public:
  // `meters` and `faults` must outlive the session.
  MeterSession(std::span<const MeterAddress> meters, const FaultOptions& faults, uint64_t seed,
               std::string label = {});

  // Bytes received from the line at time `now`; appends what to send.
  void OnReceive(std::span<const uint8_t> bytes, SimTime now, std::vector<OutChunk>* out);
  // A 0x9F frame from the next meter that is not silent (none if all are).
  void Unsolicited(std::vector<OutChunk>* out);

  void SetObserver(SessionObserver* observer) { observer_ = observer; }
  const SessionCounters& Counters() const { return counters_; }
  const std::string& Label() const { return label_; }

 private:
  const MeterAddress* Target(const MeterAddress& address) const;
  bool IsSilent(const MeterAddress& address) const;
  void Handle(const Frame& frame, SimTime now, std::vector<OutChunk>* out);
  // The answer to a read; keeps values that need follow-up frames.
  std::vector<uint8_t> StartAnswer(const MeterAddress& meter, uint32_t id,
                                   std::span<const uint8_t> values);
  // The answer to a 0x12 request; empty when it is dropped.
  std::vector<uint8_t> FollowUp(const Frame& frame, const MeterAddress& meter, SimTime now);
  void Count(bool error, const MeterAddress& meter, uint32_t id, SimTime now);
  void Emit(const std::vector<uint8_t>& frame, std::vector<OutChunk>* out);
  uint8_t Garbage();
  void Notify(SessionEvent::Kind kind, const MeterAddress& meter, uint32_t id = 0,
              bool is1997 = false, SimTime time = 0);

  std::span<const MeterAddress> meters_;
  const FaultOptions& faults_;
  SimRandom random_;
  std::string label_;
  FrameScanner scanner_;
  SessionCounters counters_;
  size_t next_unsolicited_ = 0;
  SessionObserver* observer_ = nullptr;
  // What a broadcast time synchronisation moved the line's clocks by.
  SimTime clock_offset_ = 0;

  // Per meter, the latest answer that needs follow-up frames.
  struct LongAnswer {
    MeterAddress meter{};
    uint32_t id = 0;
    std::vector<uint8_t> values;
    uint64_t ordinal = 0;  // 1 for the line's first
  };
  std::vector<LongAnswer> long_answers_;
  uint64_t long_answer_count_ = 0;
};

}  // namespace metersim
