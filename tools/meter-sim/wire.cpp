#include "wire.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "platform/datetime.h"

namespace metersim {
namespace {

void PutBcd(std::vector<uint8_t>* out, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) {
    const uint64_t pair = value % 100;
    out->push_back(static_cast<uint8_t>((pair / 10) << 4 | (pair % 10)));
    value /= 100;
  }
}

void PutStamp(std::vector<uint8_t>* out, SimTime t, bool with_seconds) {
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(t / platform::kSecondsPerDay, &year, &month, &day);
  const int64_t s = t % platform::kSecondsPerDay;
  if (with_seconds) PutBcd(out, static_cast<uint64_t>(s % 60), 1);
  PutBcd(out, static_cast<uint64_t>(s / 60 % 60), 1);
  PutBcd(out, static_cast<uint64_t>(s / 3600), 1);
  PutBcd(out, static_cast<uint64_t>(day), 1);
  PutBcd(out, static_cast<uint64_t>(month), 1);
  PutBcd(out, static_cast<uint64_t>(year % 100), 1);
}

}  // namespace

uint8_t FrameChecksum(std::span<const uint8_t> bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes)
    sum = static_cast<uint8_t>(sum + b);
  return sum;
}

std::vector<uint8_t> EncodeFrame(const MeterAddress& address, uint8_t control,
                                 std::span<const uint8_t> data) {
  if (data.size() > 255) throw std::length_error("DL/T 645 data field longer than 255 bytes");
  std::vector<uint8_t> frame;
  frame.reserve(kMinFrame + data.size());
  frame.push_back(kFrameStart);
  frame.insert(frame.end(), address.begin(), address.end());
  frame.push_back(kFrameStart);
  frame.push_back(control);
  frame.push_back(static_cast<uint8_t>(data.size()));
  for (uint8_t b : data)
    frame.push_back(static_cast<uint8_t>(b + kDataOffset));
  frame.push_back(FrameChecksum(frame));
  frame.push_back(kFrameEnd);
  return frame;
}

std::vector<uint8_t> EncodeAnswerData(uint32_t id, bool is1997, const SimReading& reading) {
  std::vector<uint8_t> data;
  const size_t id_size = is1997 ? 2 : 4;
  for (size_t i = 0; i < id_size; ++i)
    data.push_back(static_cast<uint8_t>(id >> (8 * i)));
  if (!reading.row) return data;
  const size_t size = reading.row->ValueSize;
  for (const SimValue& v : reading.values) {
    const size_t first = data.size();
    PutBcd(&data, static_cast<uint64_t>(v.raw < 0 ? -v.raw : v.raw), size);
    if (v.raw < 0 && reading.row->Signed && size > 0) data[first + size - 1] |= 0x80;
    if (v.has_stamp) PutStamp(&data, v.stamp, (reading.row->Format & 0x10) == 0);
  }
  return data;
}

std::vector<uint8_t> BuildAnswer(const MeterAddress& address, uint32_t id, bool is1997,
                                 const SimReading& reading) {
  const uint8_t function = is1997 ? kRead1997 : kRead2007;
  if (reading.error != 0) {
    const uint8_t error[1] = {reading.error};
    return EncodeFrame(address, kFromMeter | kErrorAnswer | function, error);
  }
  return EncodeFrame(address, kFromMeter | function, EncodeAnswerData(id, is1997, reading));
}

std::vector<uint8_t> EncodeLoadRecords(const SimLoadRead& read) {
  std::vector<uint8_t> out;
  for (const SimLoadRecord& r : read.records) {
    const size_t start = out.size();
    out.insert(out.end(), {0xA0, 0xA0, 0x00});
    PutStamp(&out, r.stamp, false);
    for (uint8_t c = 1; c <= 6; ++c) {
      if (read.load_class != 0 && c != read.load_class) continue;
      for (size_t k = 0; k < r.raw.size(); ++k) {
        const dlt645::TLoadValueInfo& info = dlt645::kLoadValues[k];
        if (info.LoadClass != c) continue;
        const int64_t v = r.raw[k];
        const size_t first = out.size();
        PutBcd(&out, static_cast<uint64_t>(v < 0 ? -v : v), info.Size);
        if (v < 0) out[first + info.Size - 1] |= 0x80;
      }
      out.push_back(0xAA);
    }
    out[start + 2] = static_cast<uint8_t>(out.size() - start - 3);
    out.push_back(FrameChecksum(std::span<const uint8_t>(out).subspan(start)));
    out.push_back(0xE5);
  }
  return out;
}

namespace {

// Value bytes in the answer to the read and in each follow-up frame, which
// also carries its sequence number.
constexpr size_t kFirstPart = kMaxAnswerData - 4;
constexpr size_t kFollowUpPart = kMaxAnswerData - 5;

}  // namespace

size_t AnswerFrameCount(size_t value_bytes) {
  if (value_bytes <= kFirstPart) return 1;
  return 1 + (value_bytes - kFirstPart + kFollowUpPart - 1) / kFollowUpPart;
}

std::vector<uint8_t> BuildAnswerPart(const MeterAddress& address, uint32_t id,
                                     std::span<const uint8_t> values, size_t seq) {
  const size_t frames = AnswerFrameCount(values.size());
  if (seq >= frames) return {};
  const size_t from = seq == 0 ? 0 : kFirstPart + (seq - 1) * kFollowUpPart;
  const size_t n = std::min(seq == 0 ? kFirstPart : kFollowUpPart, values.size() - from);
  std::vector<uint8_t> data;
  for (size_t i = 0; i < 4; ++i)
    data.push_back(static_cast<uint8_t>(id >> (8 * i)));
  data.insert(data.end(), values.begin() + static_cast<std::ptrdiff_t>(from),
              values.begin() + static_cast<std::ptrdiff_t>(from + n));
  if (seq != 0) data.push_back(static_cast<uint8_t>(seq));
  uint8_t control = kFromMeter | (seq == 0 ? kRead2007 : kReadFollowUp);
  if (seq + 1 < frames) control |= kMoreFollows;
  return EncodeFrame(address, control, data);
}

void FrameScanner::Append(const uint8_t* data, size_t size) {
  buffer_.insert(buffer_.end(), data, data + size);
}

bool FrameScanner::Next(Frame* frame) {
  const size_t size = buffer_.size();
  // Everything before `keep` is garbage once the scan is over; the earliest
  // start of a frame still arriving moves it back.
  size_t keep = size;
  for (size_t i = 0; i < size; ++i) {
    if (buffer_[i] != kFrameStart) continue;
    if (i + kMinFrame > size) {
      keep = std::min(keep, i);
      continue;
    }
    if (buffer_[i + 7] != kFrameStart) continue;
    const size_t length = kMinFrame + buffer_[i + 9];
    if (i + length > size) {
      keep = std::min(keep, i);
      continue;
    }
    const uint8_t* f = buffer_.data() + i;
    if (f[length - 1] != kFrameEnd ||
        FrameChecksum(std::span<const uint8_t>(f, length - 2)) != f[length - 2]) {
      ++malformed_;
      continue;
    }
    std::copy(f + 1, f + 7, frame->address.begin());
    frame->control = f[8];
    frame->data.clear();
    for (size_t k = 10; k < length - 2; ++k)
      frame->data.push_back(static_cast<uint8_t>(f[k] - kDataOffset));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(i + length));
    return true;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(keep));
  return false;
}

std::string HexText(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  char hex[4];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X ", b);
    text += hex;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

namespace {

bool FromBcd(uint8_t b, int* out) {
  if ((b >> 4) > 9 || (b & 0x0F) > 9) return false;
  *out = (b >> 4) * 10 + (b & 0x0F);
  return true;
}

uint8_t ToBcd(int v) {
  return static_cast<uint8_t>((v / 10 % 10) << 4 | (v % 10));
}

}  // namespace

bool DecodeTimeSync(std::span<const uint8_t> data, SimTime* out) {
  int f[6] = {};
  if (data.size() != 6) return false;
  for (size_t i = 0; i < 6; ++i)
    if (!FromBcd(data[i], &f[i])) return false;
  int64_t seconds = 0;
  if (!platform::TryEncodeDateTime(2000 + f[5], f[4], f[3], f[2], f[1], f[0], &seconds))
    return false;
  *out = seconds;
  return true;
}

std::vector<uint8_t> ClockAnswerData(uint32_t id, SimTime t) {
  const int64_t days = t / platform::kSecondsPerDay;
  const int64_t second = t % platform::kSecondsPerDay;
  // Built whole, not appended to: the optimiser's bounds check misreads an
  // insert into a vector it has just sized.
  std::array<uint8_t, 8> data{static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                              static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24)};
  size_t size = 4;
  if (id == kIdMeterDate) {
    int year = 0, month = 0, day = 0;
    platform::DecodeDate(days, &year, &month, &day);
    // Week day 0 is Sunday.
    for (const uint8_t b :
         {ToBcd(platform::DayOfWeekIso(days) % 7), ToBcd(day), ToBcd(month), ToBcd(year % 100)})
      data[size++] = b;
  } else {
    for (const uint8_t b :
         {ToBcd(static_cast<int>(second % 60)), ToBcd(static_cast<int>(second / 60 % 60)),
          ToBcd(static_cast<int>(second / 3600))})
      data[size++] = b;
  }
  return {data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size)};
}

}  // namespace metersim
