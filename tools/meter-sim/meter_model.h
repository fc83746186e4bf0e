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
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dlt645/func_types.h"
#include "dlt645/load_profile.h"

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

// The load profile: a record at every quarter hour for the last 30 days,
// holding the instantaneous values of that moment, the energy registers as
// the energy identifiers answer them then, and the total powers as demand.
constexpr SimTime kLoadInterval = 900;
constexpr int kLoadProfileDepth = 30 * 96;

struct SimLoadRecord {
  SimTime stamp = 0;
  // The digits of each value in the library's value order, reduced to what
  // the record's layout carries (dlt645::kLoadValues).
  std::array<int64_t, dlt645::kLoadValueCount> raw{};
};
SimLoadRecord LoadProfileRecord(const MeterAddress& address, SimTime stamp);

struct SimLoadRead {
  uint8_t error = 0;                   // non-zero: an error answer with this error byte
  uint8_t load_class = 0;              // 0: all classes
  std::vector<SimLoadRecord> records;  // oldest first
};
// A load-profile read (DI3 = 06) at time t. request is the plain request
// data after the identifier: NN blocks (BCD; 1 when absent), then for DI0 01
// the time mm hh DD MM YY. The earliest block is the oldest record kept,
// the most recent the quarter hour that ended last; a time block starts at
// the first record at or after the time.
SimLoadRead ReadLoadProfile(const MeterAddress& address, uint32_t id,
                            std::span<const uint8_t> request, SimTime t);

}  // namespace metersim
