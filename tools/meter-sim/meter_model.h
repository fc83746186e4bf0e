#pragma once
// What the simulated meters read. Every value is a deterministic function of
// (meter address, data identifier, time), so that a test that knows the
// address and the simulator's clock can tell exactly what a decoded answer
// must hold.
//
// The physical picture: a three-phase meter near 220 V and 50 Hz with a few
// amperes per phase. Meters whose lowest address digit is even are
// prosumers: their active power, currents and power factors are negative
// (energy flows back to the grid) and their reverse registers grow fastest.
// Energy registers grow linearly from 1 January 2020 at a per-meter rate; the
// total of a quantity is the sum of its four rate registers; the all-rates
// identifiers answer the total followed by rates 1..4. Instantaneous values
// change once a minute. Maximum demand grows over the month in steps, each
// with the moment it was reached, and starts again every month.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dlt645/func_types.h"

namespace metersim {

// Six address bytes in wire order: A0 (the two lowest digits) first.
using MeterAddress = std::array<uint8_t, 6>;

// Time as the meter's clock shows it: whole seconds since 1899-12-30 00:00:00
// local time (the day count of the date-time helpers, times 86400).
using SimTime = int64_t;

// The number of rate (tariff) registers every simulated meter keeps.
constexpr int kRateCount = 4;

// Bits of the error byte of an error answer.
constexpr uint8_t kErrorOther = 0x01;
constexpr uint8_t kErrorNoData = 0x02;
constexpr uint8_t kErrorRate = 0x40;  // rate number above the meter's rates

// 1..12 hexadecimal digits, left-padded with "0" ("1" is 000000000001).
bool ParseAddress(std::string_view text, MeterAddress* out);
// The 12-digit form, most significant byte first.
std::string AddressText(const MeterAddress& address);
// The address `offset` steps after `start`, counting the 12 digits as a
// decimal number; false when a digit is not decimal or the count overflows.
bool AddressAfter(const MeterAddress& start, uint64_t offset, MeterAddress* out);
// Prosumers (lowest address digit even) export energy.
bool IsExporting(const MeterAddress& address);

// "YYYY-MM-DDThh:mm:ss" (or with a blank instead of the T).
bool ParseSimTime(std::string_view text, SimTime* out);
std::string SimTimeText(SimTime t);
// From the day-count date-time form.
SimTime SimTimeFromDateTime(double date_time);

struct SimValue {
  int64_t raw = 0;   // the value's digits read as a signed integer
  int decimals = 0;  // digits after the decimal separator
  bool has_stamp = false;
  SimTime stamp = 0;  // the time stamp after the value, exact to its resolution
  double Value() const;
};

struct SimReading {
  const TRequestFuncType* row = nullptr;  // lays out the answer (null for unknown identifiers)
  uint8_t error = 0;                      // non-zero: an error answer with this error byte
  std::vector<SimValue> values;
};

// What the meter with this address answers for a read of `id` (a rate
// already folded in: DI1 for 2007, the low nibble for 1997) at time t. An
// identifier of neither table gives error kErrorNoData; a rate above
// kRateCount gives kErrorRate. The values are already reduced to what the
// answer's layout can carry (digits, decimals, sign, stamp resolution).
SimReading ReadMeter(const MeterAddress& address, uint32_t id, bool is1997, SimTime t);

}  // namespace metersim
