#pragma once
// A custom command's frames and its wait for an answer on a client: the
// frame search offers it every sound frame (under the client queue's state
// lock) before its own matching, and what it takes goes no further.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "dlt645/frame_codec.h"

namespace dlt645 {

constexpr size_t kTimeSyncFrameLength = 18;
constexpr size_t kReadAddressFrameLength = 12;
constexpr uint8_t kControlTimeSync = 0x08;
constexpr uint8_t kControlReadAddress = 0x13;

// 0x08 to 999999999999 with ss mm hh DD MM YY (BCD, seconds first).
void BuildTimeSyncFrame(int year, int month, int day, int hour, int minute, int second,
                        std::span<uint8_t, kTimeSyncFrameLength> out);
// 0x13 to the wildcard address, no data.
void BuildReadAddressFrame(std::span<uint8_t, kReadAddressFrameLength> out);
// The address of a 0x93 answer (12 digits, A5 first) from its data field,
// which must agree with the address field; false otherwise.
bool ReadAddressAnswer(const TFrameView& frame, std::string* address12);

}  // namespace dlt645

class TCustomExchange {
 public:
  // A 0x93 answer (READ-ADDRESS).
  TCustomExchange() = default;
  // An answer or error answer of a read of id from address; any_meter: the
  // request went to the wildcard, any meter's answer counts.
  TCustomExchange(const dlt645::TWireAddress& address, bool any_meter, uint32_t id, bool is1997)
      : read_(true), address_(address), any_meter_(any_meter), id_(id), is1997_(is1997) {}

  bool Offer(const dlt645::TFrameView& frame);
  // Waits for a frame until the time-out (on the platform clock); false when
  // none came.
  bool Wait(uint32_t timeout_ms);
  // The frame taken, once Wait answered true.
  std::vector<uint8_t> Frame;

 private:
  const bool read_ = false;
  const dlt645::TWireAddress address_{};
  const bool any_meter_ = false;
  const uint32_t id_ = 0;
  const bool is1997_ = false;
  std::mutex lock_;
  std::condition_variable done_;
  bool taken_ = false;
};
