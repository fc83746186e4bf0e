#include "meter_session.h"

#include <algorithm>

#include "sim_log.h"

namespace metersim {
namespace {

bool IsBroadcast(const MeterAddress& address) {
  return std::all_of(address.begin(), address.end(), [](uint8_t b) { return b == 0x99; });
}

const char* Generation(bool is1997) {
  return is1997 ? "1997" : "2007";
}

}  // namespace

uint64_t SimRandom::Next() {
  // xorshift64*
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1Dull;
}

bool SimRandom::Chance(double p) {
  if (p <= 0) return false;
  return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p;
}

uint32_t SimRandom::Range(uint32_t lo, uint32_t hi) {
  return lo + static_cast<uint32_t>(Next() % (static_cast<uint64_t>(hi - lo) + 1));
}

MeterSession::MeterSession(std::span<const MeterAddress> meters, const FaultOptions& faults,
                           uint64_t seed, std::string label)
    : meters_(meters), faults_(faults), random_(seed), label_(std::move(label)) {}

void MeterSession::OnReceive(std::span<const uint8_t> bytes, SimTime now,
                             std::vector<OutChunk>* out) {
  if (bytes.empty()) return;
  if (faults_.echo) out->push_back({0, std::vector<uint8_t>(bytes.begin(), bytes.end())});
  scanner_.Append(bytes.data(), bytes.size());
  Frame frame;
  while (scanner_.Next(&frame))
    Handle(frame, now, out);
}

void MeterSession::Unsolicited(std::vector<OutChunk>* out) {
  for (size_t tried = 0; tried < meters_.size(); ++tried) {
    const MeterAddress& meter = meters_[next_unsolicited_++ % meters_.size()];
    if (IsSilent(meter)) continue;
    OutChunk chunk;
    chunk.bytes = EncodeFrame(meter, kUnsolicited, {});
    LogLine("%s tx unsolicited %s", label_.c_str(), HexText(chunk.bytes).c_str());
    out->push_back(std::move(chunk));
    ++counters_.unsolicited;
    Notify(SessionEvent::kUnsolicited, meter);
    return;
  }
}

const MeterAddress* MeterSession::Target(const MeterAddress& address) const {
  if (meters_.empty()) return nullptr;
  if (IsBroadcast(address)) return &meters_.front();
  // AA in a byte matches any pair of digits (AAAAAAAAAAAA: any meter).
  for (const MeterAddress& meter : meters_) {
    bool match = true;
    for (size_t i = 0; i < meter.size() && match; ++i)
      match = address[i] == 0xAA || address[i] == meter[i];
    if (match) return &meter;
  }
  return nullptr;
}

bool MeterSession::IsSilent(const MeterAddress& address) const {
  return std::find(faults_.silent.begin(), faults_.silent.end(), address) != faults_.silent.end();
}

void MeterSession::Handle(const Frame& frame, SimTime now, std::vector<OutChunk>* out) {
  now += clock_offset_;
  const MeterAddress* meter = (frame.control & kFromMeter) ? nullptr : Target(frame.address);
  if (!meter) {
    ++counters_.ignored;
    LogLine("%s ignored frame %02X for %s", label_.c_str(), frame.control,
            AddressText(frame.address).c_str());
    return;
  }
  const uint8_t function = frame.control & 0x1F;
  if (function == kUnsolicitedReply) {
    ++counters_.acks;
    LogLine("%s rx reply to unsolicited frame from %s", label_.c_str(),
            AddressText(frame.address).c_str());
    Notify(SessionEvent::kAck, *meter);
    return;
  }
  ++counters_.requests;
  if (function == kTimeSync) {
    // Broadcast: applied (this simulator takes any time) and never answered.
    SimTime set = 0;
    if (IsBroadcast(frame.address) && DecodeTimeSync(frame.data, &set)) {
      clock_offset_ += set - now;
      LogLine("%s time synchronised: clock moved by %lld s", label_.c_str(),
              static_cast<long long>(set - now));
    }
    return;
  }
  const bool is1997 = function == kRead1997;
  const size_t id_size = is1997 ? 2 : 4;
  std::vector<uint8_t> answer;
  if (function == kRead2007 || function == kRead1997) {
    if (frame.data.size() < id_size) return;  // a read without its identifier
    uint32_t id = 0;
    for (size_t i = 0; i < id_size; ++i)
      id |= static_cast<uint32_t>(frame.data[i]) << (8 * i);
    if (IsSilent(*meter)) {
      LogLine("%s %s read %0*X to %s: silent", label_.c_str(), Generation(is1997),
              static_cast<int>(2 * id_size), id, AddressText(*meter).c_str());
      Notify(SessionEvent::kSilent, *meter, id, is1997, now);
      return;
    }
    if (!is1997 && (id == kIdMeterDate || id == kIdMeterTime)) {
      answer = EncodeFrame(*meter, static_cast<uint8_t>(kFromMeter | kRead2007),
                           ClockAnswerData(id, now));
      LogLine("%s clock %08X to %s", label_.c_str(), id, AddressText(*meter).c_str());
      Count(false, *meter, id, now);
    } else if (!is1997 && (id >> 24) == 0x06) {
      const SimLoadRead read =
          ReadLoadProfile(*meter, id, std::span<const uint8_t>(frame.data).subspan(id_size), now);
      SimReading error;
      error.error = read.error;
      answer = read.error ? BuildAnswer(*meter, id, false, error)
                          : StartAnswer(*meter, id, EncodeLoadRecords(read));
      LogLine("%s load profile %08X (%u records) to %s%s", label_.c_str(), id,
              static_cast<unsigned>(read.records.size()), AddressText(*meter).c_str(),
              read.error ? ": error answer" : "");
      Count(read.error != 0, *meter, id, now);
    } else {
      const SimReading reading = ReadMeter(*meter, id, is1997, now);
      const std::vector<uint8_t> data = EncodeAnswerData(id, is1997, reading);
      answer = !is1997 && !reading.error && data.size() > kMaxAnswerData
                   ? StartAnswer(*meter, id, std::span<const uint8_t>(data).subspan(id_size))
                   : BuildAnswer(*meter, id, is1997, reading);
      LogLine("%s %s read %0*X to %s%s", label_.c_str(), Generation(is1997),
              static_cast<int>(2 * id_size), id, AddressText(*meter).c_str(),
              reading.error ? ": error answer" : "");
      if (reading.error)
        ++counters_.errors;
      else
        ++counters_.answers;
      Notify(reading.error ? SessionEvent::kErrorAnswer : SessionEvent::kAnswer, *meter, id, is1997,
             now);
    }
  } else if (function == kReadAddress) {
    // Only the wildcard asks: every meter on the line would answer its own.
    if (IsSilent(*meter)) return;
    std::vector<uint8_t> data(meter->begin(), meter->end());
    answer = EncodeFrame(*meter, static_cast<uint8_t>(kFromMeter | kReadAddress), data);
    ++counters_.answers;
    LogLine("%s read address: %s", label_.c_str(), AddressText(*meter).c_str());
    Notify(SessionEvent::kAnswer, *meter, 0, false, now);
  } else if (function == kReadFollowUp) {
    if (IsBroadcast(frame.address) || IsSilent(*meter)) return;
    answer = FollowUp(frame, *meter, now);
    if (answer.empty()) return;
  } else {
    // Functions the simulator does not offer: "Other error", unless nobody
    // is expected to answer.
    if (IsBroadcast(frame.address) || IsSilent(*meter)) return;
    const uint8_t error[1] = {kErrorOther};
    answer = EncodeFrame(*meter, static_cast<uint8_t>(kFromMeter | kErrorAnswer | function), error);
    ++counters_.errors;
    LogLine("%s function %02X to %s: error answer", label_.c_str(), function,
            AddressText(*meter).c_str());
    Notify(SessionEvent::kErrorAnswer, *meter, 0, false, now);
  }
  LogLine("%s tx %s", label_.c_str(), HexText(answer).c_str());
  Emit(answer, out);
  if (faults_.duplicate) Emit(answer, out);
}

void MeterSession::Count(bool error, const MeterAddress& meter, uint32_t id, SimTime now) {
  if (error)
    ++counters_.errors;
  else
    ++counters_.answers;
  Notify(error ? SessionEvent::kErrorAnswer : SessionEvent::kAnswer, meter, id, false, now);
}

std::vector<uint8_t> MeterSession::StartAnswer(const MeterAddress& meter, uint32_t id,
                                               std::span<const uint8_t> values) {
  if (AnswerFrameCount(values.size()) > 1) {
    auto it = std::find_if(long_answers_.begin(), long_answers_.end(),
                           [&](const LongAnswer& a) { return a.meter == meter; });
    if (it == long_answers_.end()) it = long_answers_.insert(long_answers_.end(), LongAnswer{});
    it->meter = meter;
    it->id = id;
    it->values.assign(values.begin(), values.end());
    it->ordinal = ++long_answer_count_;
  }
  return BuildAnswerPart(meter, id, values, 0);
}

std::vector<uint8_t> MeterSession::FollowUp(const Frame& frame, const MeterAddress& meter,
                                            SimTime now) {
  uint32_t id = 0;
  for (size_t i = 0; i < 4 && i < frame.data.size(); ++i)
    id |= static_cast<uint32_t>(frame.data[i]) << (8 * i);
  const size_t seq = frame.data.size() == 5 ? frame.data[4] : 0;
  const auto it = std::find_if(long_answers_.begin(), long_answers_.end(),
                               [&](const LongAnswer& a) { return a.meter == meter && a.id == id; });
  std::vector<uint8_t> answer;
  if (it != long_answers_.end() && seq != 0) answer = BuildAnswerPart(meter, id, it->values, seq);
  if (answer.empty()) {
    const uint8_t error[1] = {kErrorNoData};
    LogLine("%s follow-up %08X frame %u to %s: error answer", label_.c_str(), id,
            static_cast<unsigned>(seq), AddressText(meter).c_str());
    ++counters_.errors;
    Notify(SessionEvent::kErrorAnswer, meter, id, false, now);
    return EncodeFrame(meter, kFromMeter | kErrorAnswer | kReadFollowUp, error);
  }
  if (faults_.drop_follow_up && it->ordinal == 1 && seq == 1) {
    LogLine("%s follow-up %08X frame 1 to %s: dropped", label_.c_str(), id,
            AddressText(meter).c_str());
    ++counters_.dropped;
    Notify(SessionEvent::kDroppedFollowUp, meter, id, false, now);
    return {};
  }
  LogLine("%s follow-up %08X frame %u to %s", label_.c_str(), id, static_cast<unsigned>(seq),
          AddressText(meter).c_str());
  ++counters_.follow_ups;
  Notify(SessionEvent::kFollowUp, meter, id, false, now);
  return answer;
}

void MeterSession::Notify(SessionEvent::Kind kind, const MeterAddress& meter, uint32_t id,
                          bool is1997, SimTime time) {
  if (!observer_) return;
  SessionEvent event;
  event.kind = kind;
  event.meter = meter;
  event.id = id;
  event.is1997 = is1997;
  event.time = time;
  observer_->OnSessionEvent(event);
}

uint8_t MeterSession::Garbage() {
  // Never a start byte: noise costs the answers it hits, not the ones after.
  uint8_t b = static_cast<uint8_t>(random_.Next() % 255);
  if (b >= kFrameStart) ++b;
  return b;
}

void MeterSession::Emit(const std::vector<uint8_t>& frame, std::vector<OutChunk>* out) {
  std::vector<uint8_t> bytes;
  if (faults_.noise > 0) {
    bytes.reserve(frame.size() * 2);
    for (int n = 0; n < 16 && random_.Chance(faults_.noise); ++n)
      bytes.push_back(Garbage());
    for (size_t i = 0; i < frame.size(); ++i) {
      bytes.push_back(frame[i]);
      if (i + 1 < frame.size() && random_.Chance(faults_.noise)) bytes.push_back(Garbage());
    }
  } else {
    bytes = frame;
  }
  if (!faults_.split) {
    out->push_back({faults_.delay_ms, std::move(bytes)});
    return;
  }
  size_t pos = 0;
  bool first = true;
  while (pos < bytes.size()) {
    const size_t n = std::min<size_t>(random_.Range(1, 6), bytes.size() - pos);
    OutChunk chunk;
    chunk.delay_ms = first ? faults_.delay_ms : random_.Range(2, 20);
    chunk.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                       bytes.begin() + static_cast<std::ptrdiff_t>(pos + n));
    out->push_back(std::move(chunk));
    pos += n;
    first = false;
  }
}

}  // namespace metersim
