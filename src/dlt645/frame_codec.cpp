#include "dlt645/frame_codec.h"

#include <algorithm>

#include "dlt645/func_types.h"

namespace dlt645 {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

uint8_t FrameChecksum(uint8_t* bytes, size_t length, bool store) {
  const uint8_t sum = FrameChecksum(static_cast<const uint8_t*>(bytes), length);
  if (store && length >= 3) bytes[length - 2] = sum;
  return sum;
}

TAddressChars AddressChars(const uint8_t* address) {
  TAddressChars out{};
  for (int i = 0; i < 6; ++i) {
    const uint8_t b = address[5 - i];
    out[2 * i] = kHexDigits[b >> 4];
    out[2 * i + 1] = kHexDigits[b & 0x0F];
  }
  return out;
}

std::string AddressText(const uint8_t* address) {
  const TAddressChars chars = AddressChars(address);
  return std::string(chars.data(), chars.size());
}

bool IsWildcardDevice(std::string_view device_text) {
  return device_text == "*" || device_text == "AAAAAAAAAAAA";
}

bool IsBroadcastDevice(std::string_view device_text) {
  return device_text == "999999999999";
}

TWireAddress AddressFromText(std::string_view address12) {
  TWireAddress out{};
  for (size_t pair = 0; pair < 6; ++pair) {
    const size_t at = 2 * pair;
    if (at + 2 > address12.size()) break;
    const int hi = HexValue(address12[at]);
    const int lo = HexValue(address12[at + 1]);
    out[5 - pair] = (hi < 0 || lo < 0) ? 0 : static_cast<uint8_t>(hi * 16 + lo);
  }
  return out;
}

TWireAddress RequestAddress(std::string_view device_text, std::string_view address12,
                            const TWireAddress& learned, bool has_learned) {
  // Zero is an address no meter answers; before anything is learned the
  // protocol's own wildcard reaches whichever meter is on the line.
  if (IsWildcardDevice(device_text)) return has_learned ? learned : kWildcardAddress;
  if (IsBroadcastDevice(device_text) && has_learned) return learned;
  return AddressFromText(address12);
}

size_t BuildFrame(const TWireAddress& address, uint8_t control, std::span<const uint8_t> data,
                  std::span<uint8_t> out) {
  if (data.size() > 255) return 0;
  const size_t length = data.size() + kFrameOverhead;
  if (out.size() < length) return 0;
  out[0] = kFrameStart;
  std::copy(address.begin(), address.end(), out.begin() + 1);
  out[7] = kFrameStart;
  out[8] = control;
  out[9] = static_cast<uint8_t>(data.size());
  for (size_t i = 0; i < data.size(); ++i) {
    out[kFrameHeaderLength + i] = static_cast<uint8_t>(data[i] + kWireOffset);
  }
  FrameChecksum(out.data(), length, true);
  out[length - 1] = kFrameEnd;
  return length;
}

size_t ReadRequestLength(bool is1997, const TRequestFuncType* row) {
  if (is1997) return 14;
  return (row != nullptr && row->RequestKind == 2) ? 17 : 16;
}

size_t BuildReadRequest(const TWireAddress& address, uint32_t id, bool is1997,
                        const TRequestFuncType* row,
                        std::span<uint8_t, kMaxReadRequestLength> out) {
  const size_t id_length = IdLength(is1997);
  const size_t length = ReadRequestLength(is1997, row);
  std::array<uint8_t, 5> data{};
  for (size_t i = 0; i < id_length; ++i)
    data[i] = static_cast<uint8_t>(id >> (8 * i));
  // ExtraByte is kept in wire form already: it must go out unchanged.
  if (length == 17) data[4] = static_cast<uint8_t>(row->ExtraByte - kWireOffset);
  const uint8_t control = is1997 ? kFunctionRead1997 : kFunctionRead2007;
  return BuildFrame(address, control,
                    std::span<const uint8_t>(data.data(), length - kFrameOverhead), out);
}

void BuildUnsolicitedReply(const uint8_t* address,
                           std::span<uint8_t, kUnsolicitedReplyLength> out) {
  TWireAddress copy{};
  std::copy(address, address + 6, copy.begin());
  BuildFrame(copy, kControlUnsolicitedReply, {}, out);
}

const std::array<std::string_view, 7> kErrorBitTexts{
    "Other error",
    "No request data",
    "Access denied",
    "Communication rate can not be changed",
    "Exceed yearly time-zone number",
    "Exceed daily time period number",
    "Exceed rate number",
};

std::string ErrorBitsText(uint8_t error_byte) {
  std::string text;
  for (size_t bit = 0; bit < kErrorBitTexts.size(); ++bit) {
    if ((error_byte & (1u << bit)) == 0) continue;
    if (!text.empty()) text += ", ";
    text += kErrorBitTexts[bit];
  }
  return text;
}

std::string FrameErrorText(const TFrameView& frame) {
  if ((frame.Control() & kControlFromMeter) == 0) return std::string(kOutgoingDataText);
  return ErrorBitsText(frame.ErrorByte());
}

}  // namespace dlt645
