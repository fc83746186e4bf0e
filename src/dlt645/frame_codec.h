#pragma once
// The DL/T 645 wire layer: frame layout, checksum, addresses and the frames
// the client writes. Pure functions over caller buffers; only the functions
// that return std::string allocate.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

struct TRequestFuncType;

namespace dlt645 {

constexpr uint8_t kFrameStart = 0x68;
constexpr uint8_t kFrameEnd = 0x16;
constexpr uint8_t kWireOffset = 0x33;  // every data byte travels as value + 0x33
constexpr size_t kFrameOverhead = 12;  // frame length = L + 12
constexpr size_t kMinFrameLength = kFrameOverhead;
constexpr size_t kMaxFrameLength = kFrameOverhead + 255;
constexpr size_t kFrameHeaderLength = 10;  // start, address, start, control, L

constexpr uint8_t kControlFromMeter = 0x80;
constexpr uint8_t kControlErrorAnswer = 0x40;
constexpr uint8_t kFunctionMask = 0x1F;
constexpr uint8_t kFunctionRead2007 = 0x11;
constexpr uint8_t kFunctionRead1997 = 0x01;
constexpr uint8_t kControlUnsolicited = 0x9F;
constexpr uint8_t kControlUnsolicitedReply = 0x1F;

constexpr std::array<uint8_t, 4> kWakeUpPreamble{0xFE, 0xFE, 0xFE, 0xFE};

// Six address bytes in wire order: A0 (lowest two digits) first.
using TWireAddress = std::array<uint8_t, 6>;
// What DL/T 645 meters answer whatever their own address is.
constexpr TWireAddress kWildcardAddress{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};

// Sum modulo 256 of bytes 0..length-3; with store, written at length-2.
// Lengths below 3 give 0 and touch nothing.
inline uint8_t FrameChecksum(const uint8_t* bytes, size_t length) {
  if (length < 3) return 0;
  const size_t n = length - 2;
  if (n < 8) {
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
      sum += bytes[i];
    return static_cast<uint8_t>(sum);
  }
  // Eight bytes per step in four 16-bit lanes; the last step reloads the
  // final eight bytes and masks off those already counted. A byte sum does
  // not depend on byte order; only the mask does.
  constexpr uint64_t kLanes = 0x00FF00FF00FF00FFu;
  uint64_t lanes = 0;
  size_t i = 0;
  for (unsigned words = 0; i + 8 <= n; i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, bytes + i, sizeof word);
    lanes += (word & kLanes) + ((word >> 8) & kLanes);
    // Only each lane modulo 256 matters; trim before a lane could overflow.
    if (++words == 64) {
      lanes &= kLanes;
      words = 0;
    }
  }
  if (i < n) {
    uint64_t word = 0;
    std::memcpy(&word, bytes + n - 8, sizeof word);
    const unsigned counted_bits = static_cast<unsigned>(8 - (n - i)) * 8;
    if constexpr (std::endian::native == std::endian::little) {
      word &= ~uint64_t{0} << counted_bits;
    } else {
      word &= ~uint64_t{0} >> counted_bits;
    }
    lanes += (word & kLanes) + ((word >> 8) & kLanes);
  }
  return static_cast<uint8_t>((lanes * 0x0001000100010001u) >> 48);
}
uint8_t FrameChecksum(uint8_t* bytes, size_t length, bool store);

// The 12 upper-case hexadecimal digits of an address, A5 first.
using TAddressChars = std::array<char, 12>;
TAddressChars AddressChars(const uint8_t* address);
std::string AddressText(const uint8_t* address);

// "*" or "AAAAAAAAAAAA", exact.
bool IsWildcardDevice(std::string_view device_text);
// "999999999999", exact.
bool IsBroadcastDevice(std::string_view device_text);

// Address bytes of a 12-character address text: pairs from the left, the
// first into A5; a pair that is not two hexadecimal digits (or is missing)
// gives 0.
TWireAddress AddressFromText(std::string_view address12);

// The address a request to a device entry goes to. A wildcard goes to the
// learned address, or to the wildcard address while none is learned; a
// broadcast goes to the learned address once there is one.
TWireAddress RequestAddress(std::string_view device_text, std::string_view address12,
                            const TWireAddress& learned, bool has_learned);

// Builds one frame: the data bytes are given as values and offset on the
// way out. Returns the frame length, 0 when data has more than 255 bytes or
// the frame does not fit into out.
size_t BuildFrame(const TWireAddress& address, uint8_t control, std::span<const uint8_t> data,
                  std::span<uint8_t> out);

constexpr size_t kMaxReadRequestLength = 17;
// Read-request length: 14 (1997), 17 (2007 with the row's ExtraByte), 16.
size_t ReadRequestLength(bool is1997, const TRequestFuncType* row);
// The read request for identifier id; row (may be null) decides whether
// ExtraByte follows the identifier. Returns the frame length.
size_t BuildReadRequest(const TWireAddress& address, uint32_t id, bool is1997,
                        const TRequestFuncType* row, std::span<uint8_t, kMaxReadRequestLength> out);

// The 12-byte 0x1F frame that answers a 0x9F frame from address.
constexpr size_t kUnsolicitedReplyLength = 12;
void BuildUnsolicitedReply(const uint8_t* address, std::span<uint8_t, kUnsolicitedReplyLength> out);

// What a sound frame is, by its control code.
enum class TFrameClass : uint8_t {
  Unsolicited,  // 0x9F: a device speaking on its own
  Outgoing,     // bit 7 clear: a request (our echo or another master's)
  ErrorAnswer,  // bit 6 set
  Answer,       // a normal answer
};
inline TFrameClass ClassifyControl(uint8_t control) {
  if (control == kControlUnsolicited) return TFrameClass::Unsolicited;
  if ((control & kControlFromMeter) == 0) return TFrameClass::Outgoing;
  if ((control & kControlErrorAnswer) != 0) return TFrameClass::ErrorAnswer;
  return TFrameClass::Answer;
}

inline size_t IdLength(bool is1997) {
  return is1997 ? 2 : 4;
}

// A frame in place inside a scanned buffer. Data bytes are in wire form.
struct TFrameView {
  const uint8_t* Bytes = nullptr;
  size_t Length = 0;  // L + 12
  size_t Offset = 0;  // from the start of the scanned span

  const uint8_t* Address() const { return Bytes + 1; }
  uint8_t Control() const { return Bytes[8]; }
  uint8_t DataLength() const { return Bytes[9]; }
  std::span<const uint8_t> Data() const { return {Bytes + kFrameHeaderLength, DataLength()}; }
  std::span<const uint8_t> Whole() const { return {Bytes, Length}; }
  TFrameClass Class() const { return ClassifyControl(Control()); }

  // The identifier of a generation, from the first 4 (2007) or 2 (1997)
  // data bytes; false when the data field is shorter than that.
  bool Id(bool is1997, uint32_t* id) const {
    const size_t n = IdLength(is1997);
    if (DataLength() < n) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < n; ++i) {
      value |= uint32_t(uint8_t(Bytes[kFrameHeaderLength + i] - kWireOffset)) << (8 * i);
    }
    *id = value;
    return true;
  }
  // The error byte of an error answer; 0 when the data field is empty.
  uint8_t ErrorByte() const { return DataLength() > 0 ? uint8_t(Bytes[10] - kWireOffset) : 0; }
};

// Function and identifier of a frame agree with a request of that
// generation; never for a data field shorter than the identifier.
inline bool FrameCarriesId(const TFrameView& frame, bool is1997, uint32_t id) {
  const uint8_t function = is1997 ? kFunctionRead1997 : kFunctionRead2007;
  if ((frame.Control() & kFunctionMask) != function) return false;
  uint32_t frame_id = 0;
  return frame.Id(is1997, &frame_id) && frame_id == id;
}

// The values behind the identifier, in wire form; empty when the data field
// is no longer than the identifier.
inline std::span<const uint8_t> AnswerValues(const TFrameView& frame, bool is1997) {
  const size_t n = IdLength(is1997);
  if (frame.DataLength() <= n) return {};
  return frame.Data().subspan(n);
}

// The messages of the error-byte bits 0..6.
extern const std::array<std::string_view, 7> kErrorBitTexts;
constexpr std::string_view kOutgoingDataText = "Outgoing data received!";
// The messages of the set bits, lowest first, joined by ", ".
std::string ErrorBitsText(uint8_t error_byte);
// The message logged for an outgoing or error frame.
std::string FrameErrorText(const TFrameView& frame);

}  // namespace dlt645
