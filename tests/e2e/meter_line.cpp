#include "meter_line.h"

#include <algorithm>

#include "host_os.h"
#include "plugin_host.h"

namespace host {
namespace {

bool AllBytes(const metersim::MeterAddress& address, uint8_t value) {
  return std::all_of(address.begin(), address.end(), [value](uint8_t b) { return b == value; });
}

metersim::MeterAddress Parse(const std::string& text) {
  metersim::MeterAddress address{};
  metersim::ParseAddress(text, &address);
  return address;
}

}  // namespace

MeterLine::MeterLine() {
  HostServices::Get().SetWriteListener([this](const SentData& sent) { OnWrite(sent); });
}

MeterLine::~MeterLine() {
  HostServices::Get().SetWriteListener(nullptr);
}

void MeterLine::AddMeter(const std::string& address) {
  std::lock_guard<std::mutex> guard(lock_);
  meters_.push_back(Parse(address));
}

void MeterLine::Mute(const std::string& address, bool muted) {
  std::lock_guard<std::mutex> guard(lock_);
  if (muted)
    muted_.insert(Parse(address));
  else
    muted_.erase(Parse(address));
}

void MeterLine::MuteId(uint32_t id, bool muted) {
  std::lock_guard<std::mutex> guard(lock_);
  if (muted)
    muted_ids_.insert(id);
  else
    muted_ids_.erase(id);
}

void MeterLine::DropNextFollowUp() {
  std::lock_guard<std::mutex> guard(lock_);
  drop_next_ = true;
}

std::vector<MeterLine::Request> MeterLine::Requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

int MeterLine::CountRequests(const std::string& address, uint32_t id) const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(std::count_if(requests_.begin(), requests_.end(), [&](const Request& r) {
    return r.address == address && r.id == id;
  }));
}

std::vector<MeterLine::Answer> MeterLine::TakeAnswers() {
  std::lock_guard<std::mutex> guard(lock_);
  delivered_.insert(delivered_.end(), answers_.begin(), answers_.end());
  std::vector<Answer> out;
  out.swap(answers_);
  return out;
}

std::vector<MeterLine::Answer> MeterLine::Delivered() const {
  std::lock_guard<std::mutex> guard(lock_);
  return delivered_;
}

std::vector<std::vector<uint8_t>> MeterLine::Writes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return writes_;
}

MeterLine::Answer MeterLine::Read(const std::string& address, uint32_t id, bool is1997) {
  Answer answer;
  answer.meter = Parse(address);
  answer.id = id;
  answer.is1997 = is1997;
  const metersim::SimTime now = metersim::SimTimeFromDateTime(hostos::LocalDateTime());
  answer.reading = metersim::ReadMeter(answer.meter, id, is1997, now);
  answer.bytes = metersim::BuildAnswer(answer.meter, id, is1997, answer.reading);
  return answer;
}

MeterLine::Answer MeterLine::LoadProfile(const metersim::MeterAddress& meter, uint32_t id,
                                         unsigned seq, const std::vector<uint8_t>& data) {
  Answer answer;
  answer.meter = meter;
  answer.id = id;
  LongAnswer& kept = long_answers_[meter];
  if (seq == 0) {
    const metersim::SimTime now = metersim::SimTimeFromDateTime(hostos::LocalDateTime());
    const std::span<const uint8_t> request(data.data() + 4, data.size() - 4);
    const metersim::SimLoadRead read = metersim::ReadLoadProfile(meter, id, request, now);
    if (read.error != 0) {
      const uint8_t error = read.error;
      answer.bytes = metersim::EncodeFrame(meter, 0xD1, std::span<const uint8_t>(&error, 1));
      return answer;
    }
    kept.id = id;
    kept.values = metersim::EncodeLoadRecords(read);
    kept.drop_first = false;
    if (drop_next_ && metersim::AnswerFrameCount(kept.values.size()) > 1) {
      kept.drop_first = true;
      drop_next_ = false;
    }
  } else if (kept.id != id || (seq == 1 && kept.drop_first)) {
    return answer;
  }
  answer.bytes = metersim::BuildAnswerPart(meter, id, kept.values, seq);
  return answer;
}

bool MeterLine::Responder(const metersim::MeterAddress& address,
                          metersim::MeterAddress* meter) const {
  // Any-device and broadcast addresses reach the line's only meter.
  const bool anyone = AllBytes(address, 0x00) || AllBytes(address, 0xAA) || AllBytes(address, 0x99);
  if (anyone) {
    if (meters_.size() != 1) return false;
    *meter = meters_[0];
  } else if (std::find(meters_.begin(), meters_.end(), address) != meters_.end()) {
    *meter = address;
  } else {
    return false;
  }
  return muted_.count(*meter) == 0;
}

void MeterLine::OnWrite(const SentData& sent) {
  if (sent.kind != 129) return;
  std::lock_guard<std::mutex> guard(lock_);
  const auto* bytes = reinterpret_cast<const uint8_t*>(sent.bytes.data());
  writes_.emplace_back(bytes, bytes + sent.bytes.size());
  metersim::FrameScanner& scanner = scanners_[{sent.data_source_no, sent.client_id}];
  scanner.Append(bytes, sent.bytes.size());
  metersim::Frame frame;
  while (scanner.Next(&frame)) {
    const uint8_t function = frame.control & 0x1F;
    const bool is1997 = function == metersim::kRead1997;
    const bool follow_up = function == metersim::kReadFollowUp && frame.data.size() == 5;
    if (function != metersim::kRead2007 && !is1997 && !follow_up) continue;
    const size_t id_size = is1997 ? 2 : 4;
    if (frame.data.size() < id_size) continue;
    uint32_t id = 0;
    for (size_t i = 0; i < id_size; ++i)
      id |= static_cast<uint32_t>(frame.data[i]) << (8 * i);
    const unsigned seq = follow_up ? frame.data[4] : 0;
    requests_.push_back(Request{sent.data_source_no, sent.client_id,
                                metersim::AddressText(frame.address), id, is1997, seq});
    metersim::MeterAddress meter{};
    if (muted_ids_.count(id) || !Responder(frame.address, &meter)) continue;
    Answer answer;
    if (follow_up || (!is1997 && id >> 24 == 0x06)) {
      answer = LoadProfile(meter, id, seq, frame.data);
      if (answer.bytes.empty()) continue;
    } else {
      answer = Read(metersim::AddressText(meter), id, is1997);
    }
    answer.data_source_no = sent.data_source_no;
    answer.client_id = sent.client_id;
    answers_.push_back(std::move(answer));
  }
}

}  // namespace host
