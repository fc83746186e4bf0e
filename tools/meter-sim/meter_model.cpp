#include "meter_model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/datetime.h"

namespace metersim {
namespace {

using platform::kSecondsPerDay;

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Streams of the per-meter hash, one per kind of quantity.
enum Tag : uint64_t {
  kVoltage = 1,
  kVoltageJitter,
  kCurrent,
  kCurrentJitter,
  kPowerFactor,
  kFrequency,
  kTemperature,
  kEnergyBase,
  kEnergyPower,
  kPhaseShare,
  kDemand,
  kDemandTime,
  kHarmonic,
  kLoadProfile,
  kFailures,
  kOpenTime,
};

int64_t Pow10(int n) {
  int64_t p = 1;
  while (n-- > 0)
    p *= 10;
  return p;
}

int64_t ISqrt(int64_t v) {
  if (v <= 0) return 0;
  int64_t r = static_cast<int64_t>(std::sqrt(static_cast<double>(v)));
  while (r * r > v)
    --r;
  while ((r + 1) * (r + 1) <= v)
    ++r;
  return r;
}

SimTime DayStart(SimTime t) {
  return t - t % kSecondsPerDay;
}

SimTime MonthStart(SimTime t, int months_back) {
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(t / kSecondsPerDay, &year, &month, &day);
  month -= months_back;
  while (month < 1) {
    month += 12;
    --year;
  }
  int64_t days = 0;
  platform::TryEncodeDate(year, month, 1, &days);
  return days * kSecondsPerDay;
}

SimTime EnergyEpoch() {
  int64_t days = 0;
  platform::TryEncodeDate(2020, 1, 1, &days);
  return days * kSecondsPerDay;
}

uint64_t AddressKey(const MeterAddress& address) {
  uint64_t packed = 0;
  for (int i = 5; i >= 0; --i)
    packed = (packed << 8) | address[static_cast<size_t>(i)];
  return Mix(packed);
}

struct Stamped {
  int64_t value;
  SimTime stamp;
};

// The quantities of one meter at one moment, in fine units: 0.1 V, mA,
// 0.0001 kW (kvar, kVA), 0.001 of power factor, 0.01 Hz, 0.1 °C, 0.01 kWh,
// 0.01 % of harmonic content.
class Meter {
 public:
  Meter(const MeterAddress& address, SimTime t)
      : key_(AddressKey(address)), exporting_(IsExporting(address)), t_(t), minute_(t / 60) {}

  SimTime Now() const { return t_; }
  bool Exporting() const { return exporting_; }

  int64_t Pick(int64_t lo, int64_t hi, uint64_t tag, uint64_t a = 0, uint64_t b = 0,
               uint64_t c = 0) const {
    const uint64_t h = Mix(Mix(Mix(Mix(key_ ^ tag) ^ a) ^ b) ^ c);
    return lo + static_cast<int64_t>(h % static_cast<uint64_t>(hi - lo + 1));
  }

  int64_t Voltage(int phase) const {
    return 2200 + Pick(-60, 60, kVoltage, phase) +
           Pick(-15, 15, kVoltageJitter, phase, static_cast<uint64_t>(minute_));
  }
  int64_t LineVoltage(int a, int b) const {
    const int64_t va = Voltage(a), vb = Voltage(b);
    return ISqrt(va * va + vb * vb + va * vb);
  }
  int64_t CurrentMagnitude(int phase) const {
    return Pick(1500, 9000, kCurrent, phase) +
           Pick(-400, 400, kCurrentJitter, phase, static_cast<uint64_t>(minute_));
  }
  int64_t PowerFactorMagnitude(int phase) const { return Pick(900, 995, kPowerFactor, phase); }
  int64_t Sign() const { return exporting_ ? -1 : 1; }

  int64_t Current(int phase) const { return Sign() * CurrentMagnitude(phase); }
  int64_t Apparent(int phase) const {
    if (phase == 0) return Apparent(1) + Apparent(2) + Apparent(3);
    return Voltage(phase) * CurrentMagnitude(phase) / 1000;
  }
  int64_t Active(int phase) const {
    if (phase == 0) return Active(1) + Active(2) + Active(3);
    return Sign() * (Apparent(phase) * PowerFactorMagnitude(phase) / 1000);
  }
  int64_t Reactive(int phase) const {
    if (phase == 0) return Reactive(1) + Reactive(2) + Reactive(3);
    const int64_t s = Apparent(phase), p = Active(phase);
    return Sign() * ISqrt(s * s - p * p);
  }
  int64_t PowerFactor(int phase) const {
    if (phase != 0) return Sign() * PowerFactorMagnitude(phase);
    const int64_t s = Apparent(0);
    return s == 0 ? 1000 : Active(0) * 1000 / s;
  }
  int64_t Frequency() const {
    return 5000 + Pick(-8, 8, kFrequency, static_cast<uint64_t>(minute_));
  }
  int64_t Temperature() const {
    return 250 + Pick(0, 100, kTemperature) +
           Pick(-5, 5, kTemperature, static_cast<uint64_t>(minute_ / 10) + 1);
  }

  // Energy types are the 2007 DI2 of the totals: 1/2 positive/reverse active,
  // 3/4 positive/reverse reactive, 9/10 positive/reverse apparent; 0 is the
  // combined active energy (positive minus reverse). Rate 0 is the total.
  int64_t Energy(int type, int rate, SimTime at) const {
    if (type == 0) return Energy(1, rate, at) - Energy(2, rate, at);
    if (rate == 0) {
      int64_t total = 0;
      for (int r = 1; r <= kRateCount; ++r)
        total += Energy(type, r, at);
      return total;
    }
    const bool major = IsMajor(type);
    const int64_t base = major ? Pick(50000, 400000, kEnergyBase, type, rate)
                               : Pick(0, 20000, kEnergyBase, type, rate);
    int64_t power = 0;  // average in 0.01 kW
    if (type == 1 || type == 2) power = major ? Pick(15, 40, kEnergyPower, type, rate) : 1;
    if (type == 3 || type == 4) power = major ? Pick(4, 12, kEnergyPower, type, rate) : 0;
    if (type == 9 || type == 10) power = major ? Pick(18, 45, kEnergyPower, type, rate) : 1;
    const SimTime elapsed = std::max<SimTime>(0, at - EnergyEpoch());
    return base + power * elapsed / 3600;
  }
  int64_t PhaseEnergy(int phase, int type, SimTime at) const {
    const int64_t s1 = Pick(300, 366, kPhaseShare, type, 1);
    const int64_t s2 = Pick(300, 366, kPhaseShare, type, 2);
    const int64_t share = phase == 1 ? s1 : phase == 2 ? s2 : 1000 - s1 - s2;
    return Energy(type, 0, at) * share / 1000;
  }

  // Maximum demand of this month so far: the largest of the daily peaks
  // that have happened, stamped with the quarter hour that ended them. A peak
  // depends only on the address, the register, the rate and its day, so the
  // register keeps its value and stamp until a higher peak comes, and starts
  // again from zero (stamped with the month's start) every month, as a real
  // meter's does. The total is the largest of the rates.
  Stamped Demand(int type, int rate) const {
    const bool phase_type = type > 0x14;
    if (rate == 0 && !phase_type) {
      Stamped best = Demand(type, 1);
      for (int r = 2; r <= kRateCount; ++r) {
        const Stamped d = Demand(type, r);
        // A tie keeps the moment the value was first reached.
        if (d.value > best.value || (d.value == best.value && d.stamp < best.stamp)) best = d;
      }
      return best;
    }
    const SimTime month = MonthStart(t_, 0);
    Stamped best{0, month};
    for (SimTime day = month; day <= t_; day += kSecondsPerDay) {
      const uint64_t d = static_cast<uint64_t>(day / kSecondsPerDay);
      const SimTime stamp = day + 900 * Pick(1, 95, kDemandTime, type, rate, d);
      if (stamp > t_) break;
      int64_t value = 0;
      if (phase_type)
        value =
            Pick(2000, 25000, kDemand, type, rate, d) / (IsMajor((type - 1) % 0x14 + 1) ? 1 : 10);
      else
        value = IsMajor(type) ? Pick(5000, 60000, kDemand, type, rate, d)
                              : Pick(0, 3000, kDemand, type, rate, d);
      if (value > best.value) best = {value, stamp};
    }
    return best;
  }

  int64_t Harmonic(bool current, int phase, int k) const {
    const uint64_t hour = static_cast<uint64_t>(t_ / 3600);
    const uint64_t which = (current ? 8u : 0u) + static_cast<uint64_t>(phase);
    if (k == 1)
      return current ? Pick(600, 2500, kHarmonic, which, 1, hour)
                     : Pick(150, 400, kHarmonic, which, 1, hour);
    if (k % 2 == 0)
      return current ? Pick(0, 60, kHarmonic, which, k, hour)
                     : Pick(0, 15, kHarmonic, which, k, hour);
    return (current ? Pick(100, 900, kHarmonic, which, k, hour)
                    : Pick(20, 180, kHarmonic, which, k, hour)) *
           3 / k;
  }

 private:
  // Importers mostly fill the positive registers, exporters the reverse ones.
  bool IsMajor(int type) const {
    const bool positive = type == 1 || type == 3 || type == 9;
    return positive != exporting_;
  }

  uint64_t key_;
  bool exporting_;
  SimTime t_;
  int64_t minute_;
};

// Appends values reduced to the row's layout.
class Builder {
 public:
  Builder(const TRequestFuncType* row, SimReading* out) : row_(row), out_(out) {}

  void Add(int64_t fine, int fine_decimals, SimTime stamp) {
    const int digits = std::min(2 * static_cast<int>(row_->ValueSize), 18);
    const int decimals = std::min(static_cast<int>(row_->Format & 0x0F), digits);
    int64_t v = fine;
    if (fine_decimals > decimals)
      v /= Pow10(fine_decimals - decimals);
    else
      v *= Pow10(decimals - fine_decimals);
    if (!row_->Signed && v < 0) v = -v;
    if (row_->Signed) {
      // The top digit shares its byte with the sign bit: at most 7.
      const int64_t limit = 8 * Pow10(digits - 1);
      v = v < 0 ? -((-v) % limit) : v % limit;
    } else {
      v %= Pow10(digits);
    }
    SimValue value;
    value.raw = v;
    value.decimals = decimals;
    if (row_->Format & 0x10) {
      value.has_stamp = true;
      value.stamp = stamp - stamp % 60;
    } else if (row_->Format & 0x20) {
      value.has_stamp = true;
      value.stamp = stamp;
    }
    out_->values.push_back(value);
  }

 private:
  const TRequestFuncType* row_;
  SimReading* out_;
};

// Phase (1..3) and total type of a 2007 DI2 above 0x14 (phase registers).
void SplitPhaseType(int di2, int* phase, int* type) {
  *phase = (di2 - 1) / 0x14;
  *type = di2 - 0x14 * *phase;
}

void Fill2007(const Meter& m, uint32_t id, Builder& b) {
  const int di3 = static_cast<int>(id >> 24);
  const int di2 = static_cast<int>((id >> 16) & 0xFF);
  const int di1 = static_cast<int>((id >> 8) & 0xFF);
  const int di0 = static_cast<int>(id & 0xFF);
  const SimTime t = m.Now();
  switch (di3) {
    case 0x00:
      if (di2 > 0x14) {
        int phase = 0, type = 0;
        SplitPhaseType(di2, &phase, &type);
        b.Add(m.PhaseEnergy(phase, type, t), 2, t);
      } else if (di1 == 0xFF) {
        for (int r = 0; r <= kRateCount; ++r)
          b.Add(m.Energy(di2, r, t), 2, t);
      } else {
        b.Add(m.Energy(di2, di1, t), 2, t);
      }
      break;
    case 0x01:
      if (di1 == 0xFF) {
        for (int r = 0; r <= kRateCount; ++r) {
          const Stamped d = m.Demand(di2, r);
          b.Add(d.value, 4, d.stamp);
        }
      } else {
        const Stamped d = m.Demand(di2, di1);
        b.Add(d.value, 4, d.stamp);
      }
      break;
    case 0x02: {
      // All-phase blocks: voltage and current A..C, powers and power factor
      // the total and then A..C, as meters answer them.
      const int first = (di2 == 1 || di2 == 2) ? 1 : 0;
      const int from = di1 == 0xFF ? first : di1;
      const int to = di1 == 0xFF ? 3 : di1;
      for (int p = from; p <= to && di2 <= 6; ++p) {
        switch (di2) {
          case 1:
            b.Add(m.Voltage(p), 1, t);
            break;
          case 2:
            b.Add(m.Current(p), 3, t);
            break;
          case 3:
            b.Add(m.Active(p), 4, t);
            break;
          case 4:
            b.Add(m.Reactive(p), 4, t);
            break;
          case 5:
            b.Add(m.Apparent(p), 4, t);
            break;
          case 6:
            b.Add(m.PowerFactor(p), 3, t);
            break;
        }
      }
      if ((di2 == 0x0A || di2 == 0x0B) && di0 == 0xFF)
        for (int k = 1; k <= 21; ++k)
          b.Add(m.Harmonic(di2 == 0x0B, di1, k), 2, t);
      if (di2 == 0x80 && di0 == 0x02) b.Add(m.Frequency(), 2, t);
      if (di2 == 0x80 && di0 == 0x07) b.Add(m.Temperature(), 1, t);
      break;
    }
    case 0x06: {
      // The table rows' one-value view of a load-profile block; the session
      // answers load-profile reads with whole records (ReadLoadProfile).
      const SimTime quarter = t - t % 900;
      b.Add(m.Pick(0, 99, kLoadProfile, id, static_cast<uint64_t>(quarter)), 2, quarter);
      break;
    }
  }
}

void Fill1997(const Meter& m, uint32_t id, Builder& b) {
  const int hi = static_cast<int>(id >> 8);
  const int lo = static_cast<int>(id & 0xFF);
  const int nibble = lo & 0x0F;
  const SimTime t = m.Now();
  // 90xx/91xx energy now, 94xx/95xx at the start of this month (last
  // month's reading), 98xx/99xx at the start of last month.
  const int energy_type = ((hi & 1) ? 3 : 1) + ((lo >> 4) == 2 ? 1 : 0);
  switch (hi) {
    case 0x90:
    case 0x91:
    case 0x94:
    case 0x95:
    case 0x98:
    case 0x99: {
      const SimTime at = hi <= 0x91 ? t : MonthStart(t, hi <= 0x95 ? 0 : 1);
      if (nibble == 0x0F) {
        for (int r = 0; r <= kRateCount; ++r)
          b.Add(m.Energy(energy_type, r, at), 2, t);
      } else {
        b.Add(m.Energy(energy_type, nibble, at), 2, t);
      }
      break;
    }
    case 0xA0:
    case 0xA1:
      if (nibble == 0x0F) {
        for (int r = 0; r <= kRateCount; ++r)
          b.Add(m.Demand(energy_type, r).value, 4, t);
      } else {
        b.Add(m.Demand(energy_type, nibble).value, 4, t);
      }
      break;
    case 0xB6: {
      const int phase = lo & 0x0F;
      switch (lo >> 4) {
        case 0x1:
          b.Add(m.Voltage(phase), 1, t);
          break;
        case 0x9:
          b.Add(m.LineVoltage(phase, phase % 3 + 1), 1, t);
          break;
        case 0x2:
          b.Add(m.CurrentMagnitude(phase), 3, t);
          break;
        case 0x3:
          b.Add(m.Active(phase), 4, t);
          break;
        case 0x4:
          b.Add(m.Reactive(phase), 4, t);
          break;
        case 0x5:
          b.Add(m.PowerFactor(phase), 3, t);
          break;
      }
      break;
    }
    case 0xB3: {
      const bool failures = (lo >> 4) == 1;
      int64_t total = 0;
      for (int p = 1; p <= 3; ++p) {
        const int64_t v = failures ? m.Pick(0, 30, kFailures, p) : m.Pick(0, 3000, kOpenTime, p);
        if (nibble == 0 || nibble == p) total += v;
      }
      b.Add(total, 0, t);
      break;
    }
    case 0xC0: {
      int year = 0, month = 0, day = 0;
      platform::DecodeDate(t / kSecondsPerDay, &year, &month, &day);
      const int seconds = static_cast<int>(t - DayStart(t));
      if (lo == 0x10) {
        const int week_day = platform::DayOfWeekIso(t / kSecondsPerDay) % 7;  // Sunday 0
        b.Add(((year % 100) * 10000LL + month * 100 + day) * 100 + week_day, 0, t);
      } else if (lo == 0x11) {
        b.Add((seconds / 3600) * 10000LL + (seconds / 60 % 60) * 100 + seconds % 60, 0, t);
      } else if (lo == 0x20) {
        b.Add(m.Exporting() ? 10 : 0, 0, t);  // bit 4: reverse active power
      }
      break;
    }
    case 0xD1:
      b.Add(m.Energy(1, 0, t) / 100, 0, t);
      break;  // whole kWh
    case 0xD2:
      b.Add(m.Demand(1, 0).value / 10, 0, t);
      break;  // whole W
  }
}

int FromBcd(uint8_t b) {
  return (b >> 4) > 9 || (b & 0x0F) > 9 ? -1 : (b >> 4) * 10 + (b & 0x0F);
}

}  // namespace

SimLoadRecord LoadProfileRecord(const MeterAddress& address, SimTime stamp) {
  const Meter m(address, stamp);
  SimLoadRecord r;
  r.stamp = stamp;
  const std::array<int64_t, dlt645::kLoadValueCount> fine{
      m.Voltage(1),
      m.Voltage(2),
      m.Voltage(3),
      m.Current(1),
      m.Current(2),
      m.Current(3),
      m.Frequency(),
      m.Active(0),
      m.Active(1),
      m.Active(2),
      m.Active(3),
      m.Reactive(0),
      m.Reactive(1),
      m.Reactive(2),
      m.Reactive(3),
      m.PowerFactor(0),
      m.PowerFactor(1),
      m.PowerFactor(2),
      m.PowerFactor(3),
      // Forward and reverse active, combined reactive 1 and 2, quadrants
      // I..IV: the registers of 0001..0008 0000.
      m.Energy(1, 0, stamp),
      m.Energy(2, 0, stamp),
      m.Energy(3, 0, stamp),
      m.Energy(4, 0, stamp),
      m.Energy(5, 0, stamp),
      m.Energy(6, 0, stamp),
      m.Energy(7, 0, stamp),
      m.Energy(8, 0, stamp),
      std::abs(m.Active(0)),
      std::abs(m.Reactive(0)),
  };
  // The fine units already have the record's decimals; only the digits and
  // the sign need reducing.
  for (size_t k = 0; k < fine.size(); ++k) {
    const dlt645::TLoadValueInfo& info = dlt645::kLoadValues[k];
    const int digits = 2 * info.Size;
    int64_t v = info.Signed ? fine[k] : std::abs(fine[k]);
    const int64_t limit = info.Signed ? 8 * Pow10(digits - 1) : Pow10(digits);
    r.raw[k] = v < 0 ? -((-v) % limit) : v % limit;
  }
  return r;
}

SimLoadRead ReadLoadProfile(const MeterAddress& address, uint32_t id,
                            std::span<const uint8_t> request, SimTime t) {
  SimLoadRead out;
  dlt645::TLoadBlock block{};
  if (!dlt645::SplitLoadProfileId(id, &block, &out.load_class)) {
    out.error = kErrorNoData;
    return out;
  }
  const int count = request.empty() ? 1 : FromBcd(request[0]);
  const SimTime latest = t - t % kLoadInterval;
  const SimTime earliest = latest - (kLoadProfileDepth - 1) * kLoadInterval;
  SimTime first = earliest;
  if (block == dlt645::TLoadBlock::Latest) {
    first = std::max(earliest, latest - (count - 1) * kLoadInterval);
  } else if (block == dlt645::TLoadBlock::AtTime) {
    int f[5] = {-1, -1, -1, -1, -1};
    for (size_t i = 0; i < 5 && i + 1 < request.size(); ++i)
      f[i] = FromBcd(request[i + 1]);
    SimTime at = 0;
    if (f[4] < 0 || !platform::TryEncodeDateTime(2000 + f[4], f[3], f[2], f[1], f[0], 0, &at)) {
      out.error = kErrorNoData;
      return out;
    }
    first = std::max(earliest, (at + kLoadInterval - 1) / kLoadInterval * kLoadInterval);
  }
  if (count < 1 || first > latest) {
    out.error = kErrorNoData;
    return out;
  }
  for (SimTime s = first; s <= latest && static_cast<int>(out.records.size()) < count;
       s += kLoadInterval)
    out.records.push_back(LoadProfileRecord(address, s));
  return out;
}

double SimValue::Value() const {
  return static_cast<double>(raw) / static_cast<double>(Pow10(decimals));
}

bool ParseAddress(std::string_view text, MeterAddress* out) {
  if (text.empty() || text.size() > 12) return false;
  std::string digits(12 - text.size(), '0');
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  MeterAddress address{};
  for (size_t i = 0; i < 6; ++i) {
    const auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    address[5 - i] = static_cast<uint8_t>(nibble(digits[2 * i]) * 16 + nibble(digits[2 * i + 1]));
  }
  *out = address;
  return true;
}

std::string AddressText(const MeterAddress& address) {
  char text[13];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", address[5], address[4], address[3],
                address[2], address[1], address[0]);
  return text;
}

bool AddressAfter(const MeterAddress& start, uint64_t offset, MeterAddress* out) {
  uint64_t number = 0;
  for (int i = 5; i >= 0; --i) {
    const uint8_t b = start[static_cast<size_t>(i)];
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return false;
    number = number * 100 + (b >> 4) * 10 + (b & 0x0F);
  }
  constexpr uint64_t kMax = 999999999999ull;
  if (offset > kMax - number) return false;
  number += offset;
  for (size_t i = 0; i < 6; ++i) {
    const uint64_t pair = number % 100;
    (*out)[i] = static_cast<uint8_t>((pair / 10) << 4 | (pair % 10));
    number /= 100;
  }
  return true;
}

bool IsExporting(const MeterAddress& address) {
  return (address[0] & 0x01) == 0;
}

bool ParseSimTime(std::string_view text, SimTime* out) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char sep = 0;
  char tail = 0;
  const std::string s(text);
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c", &year, &month, &day, &sep, &hour,
                  &minute, &second, &tail) != 7 ||
      (sep != 'T' && sep != ' '))
    return false;
  if (year < 2000 || year > 2099) return false;  // the stamps carry two year digits
  return platform::TryEncodeDateTime(year, month, day, hour, minute, second, out);
}

std::string SimTimeText(SimTime t) {
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(t / kSecondsPerDay, &year, &month, &day);
  const int64_t s = t % kSecondsPerDay;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day,
                static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                static_cast<int>(s % 60));
  return text;
}

SimTime SimTimeFromDateTime(double date_time) {
  return platform::DateTimeToMs(date_time) / 1000;
}

SimReading ReadMeter(const MeterAddress& address, uint32_t id, bool is1997, SimTime t) {
  SimReading out;
  const TRequestFuncType* row = LookupFuncType(id, is1997);
  if (!row) {
    // A rate folded into a row that has rates: DI1 for 2007, the low nibble for 1997.
    const uint32_t rate = is1997 ? (id & 0x0Fu) : ((id >> 8) & 0xFFu);
    const uint32_t base_id = is1997 ? (id & ~0x0Fu) : (id & ~0xFF00u);
    const TRequestFuncType* base = rate != 0 ? LookupFuncType(base_id, is1997) : nullptr;
    if (!base || base->RateCount == 0) {
      out.error = kErrorNoData;
      return out;
    }
    out.row = base;
    if (rate > static_cast<uint32_t>(kRateCount)) {
      out.error = kErrorRate;
      return out;
    }
    row = base;
  }
  out.row = row;
  const Meter meter(address, t);
  Builder builder(row, &out);
  if (is1997)
    Fill1997(meter, id, builder);
  else
    Fill2007(meter, id, builder);
  if (out.values.empty()) {
    // A row this model does not know by structure still gets a steady answer.
    for (int k = 0; k < std::max<int>(1, row->ValueCount); ++k)
      builder.Add(meter.Pick(0, 99, kLoadProfile, id, static_cast<uint64_t>(k)), 0, t);
  }
  return out;
}

}  // namespace metersim
