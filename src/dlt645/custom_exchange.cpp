#include "dlt645/custom_exchange.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "threading/timeout.h"

namespace dlt645 {

namespace {

uint8_t Bcd(int value) {
  return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

constexpr TWireAddress kBroadcastAddress{0x99, 0x99, 0x99, 0x99, 0x99, 0x99};

}  // namespace

void BuildTimeSyncFrame(int year, int month, int day, int hour, int minute, int second,
                        std::span<uint8_t, kTimeSyncFrameLength> out) {
  const std::array<uint8_t, 6> data{Bcd(second), Bcd(minute), Bcd(hour),
                                    Bcd(day),    Bcd(month),  Bcd(year % 100)};
  BuildFrame(kBroadcastAddress, kControlTimeSync, data, out);
}

void BuildReadAddressFrame(std::span<uint8_t, kReadAddressFrameLength> out) {
  BuildFrame(kWildcardAddress, kControlReadAddress, {}, out);
}

bool ReadAddressAnswer(const TFrameView& frame, std::string* address12) {
  if (frame.Control() != (kControlReadAddress | kControlFromMeter) || frame.DataLength() != 6)
    return false;
  for (size_t i = 0; i < 6; ++i)
    if (static_cast<uint8_t>(frame.Data()[i] - kWireOffset) != frame.Address()[i]) return false;
  *address12 = AddressText(frame.Address());
  return true;
}

}  // namespace dlt645

// ---- TCustomExchange ---------------------------------------------------------

bool TCustomExchange::Offer(const dlt645::TFrameView& frame) {
  const uint8_t control = frame.Control();
  if ((control & dlt645::kControlFromMeter) == 0) return false;
  bool mine = false;
  if (!read_) {
    std::string address;
    mine = dlt645::ReadAddressAnswer(frame, &address);
  } else {
    const bool from = any_meter_ || std::equal(address_.begin(), address_.end(), frame.Address());
    const uint8_t function = is1997_ ? dlt645::kFunctionRead1997 : dlt645::kFunctionRead2007;
    if (from && frame.Class() == dlt645::TFrameClass::ErrorAnswer)
      mine = (control & dlt645::kFunctionMask) == function;
    else if (from && frame.Class() == dlt645::TFrameClass::Answer)
      mine = dlt645::FrameCarriesId(frame, is1997_, id_);
  }
  if (!mine) return false;
  std::lock_guard<std::mutex> guard(lock_);
  if (taken_) return false;
  Frame.assign(frame.Bytes, frame.Bytes + frame.Length);
  taken_ = true;
  done_.notify_all();
  return true;
}

bool TCustomExchange::Wait(uint32_t timeout_ms) {
  TqonTimeout timer;
  timer.StartWith(timeout_ms);
  std::unique_lock<std::mutex> guard(lock_);
  // The clock may be a test's virtual one: look at it often rather than
  // sleeping for the whole time-out.
  while (!taken_ && !timer.ElapsedNow())
    done_.wait_for(guard, std::chrono::milliseconds(5));
  return taken_;
}
