#pragma once
// Meters on the host's lines: they read the request frames the library
// writes through "Telvano_SendDataEx" (kind 129) and answer them as real
// meters would, from the meter simulator's model. The host delivers the
// answers back with ProcessData when the test says so.
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "meter_model.h"
#include "wire.h"

namespace host {

struct SentData;

class MeterLine {
 public:
  // A read request the library wrote.
  struct Request {
    uint32_t data_source_no = 0;
    uintptr_t client_id = 0;
    std::string address;  // 12 digits as on the wire
    uint32_t id = 0;
    bool is1997 = false;
    unsigned seq = 0;  // of a follow-up request (0x12); 0 for a read
  };
  // An answer waiting for delivery, with what it carries.
  struct Answer {
    uint32_t data_source_no = 0;
    uintptr_t client_id = 0;
    std::vector<uint8_t> bytes;
    metersim::MeterAddress meter{};
    uint32_t id = 0;
    bool is1997 = false;
    metersim::SimReading reading;
  };

  // Becomes the host's listener for writes; one line at a time.
  MeterLine();
  ~MeterLine();
  MeterLine(const MeterLine&) = delete;
  MeterLine& operator=(const MeterLine&) = delete;

  void AddMeter(const std::string& address);
  // A muted meter hears but never answers.
  void Mute(const std::string& address, bool muted);
  // No meter answers reads of that identifier.
  void MuteId(uint32_t id, bool muted);
  // The next answer that needs follow-up frames never gets its first one:
  // the meter stays silent to that 0x12 request and its repeats.
  void DropNextFollowUp();

  std::vector<Request> Requests() const;
  // Requests to that address (12 digits) and identifier.
  int CountRequests(const std::string& address, uint32_t id) const;
  std::vector<Answer> TakeAnswers();
  // Every answer taken so far, in order.
  std::vector<Answer> Delivered() const;
  // Bytes written (kind 129), in order, for the wake-up checks.
  std::vector<std::vector<uint8_t>> Writes() const;

  // What one meter answers to a read now (as the line would deliver it).
  static Answer Read(const std::string& address, uint32_t id, bool is1997);

 private:
  void OnWrite(const SentData& sent);
  // The answer to a load-profile read (seq 0) or to its follow-up request
  // seq; no bytes when the meter stays silent.
  Answer LoadProfile(const metersim::MeterAddress& meter, uint32_t id, unsigned seq,
                     const std::vector<uint8_t>& data);
  // The meter that answers a frame's address; false for silence.
  bool Responder(const metersim::MeterAddress& address, metersim::MeterAddress* meter) const;

  mutable std::mutex lock_;
  std::vector<metersim::MeterAddress> meters_;
  std::set<metersim::MeterAddress> muted_;
  std::set<uint32_t> muted_ids_;
  std::map<std::pair<uint32_t, uintptr_t>, metersim::FrameScanner> scanners_;
  std::vector<Request> requests_;
  std::vector<Answer> answers_;
  std::vector<Answer> delivered_;
  std::vector<std::vector<uint8_t>> writes_;
  // Per meter, the values of its latest load-profile answer, for its
  // follow-up frames.
  struct LongAnswer {
    uint32_t id = 0;
    std::vector<uint8_t> values;
    bool drop_first = false;
  };
  std::map<metersim::MeterAddress, LongAnswer> long_answers_;
  bool drop_next_ = false;
};

}  // namespace host
