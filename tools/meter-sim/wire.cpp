#include "wire.h"

#include <algorithm>
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

}  // namespace metersim
