#include "dlt645/load_profile.h"

#include "platform/datetime.h"

namespace dlt645 {

namespace {

// Index of each class's first value in kLoadValues, and one past the last.
constexpr std::array<uint8_t, kLoadClassCount + 1> kClassFirst{0, 7, 15, 19, 23, 27, 29};
constexpr std::array<uint8_t, kLoadClassCount> kClassSize{17, 24, 8, 16, 16, 6};

static_assert([] {
  for (size_t c = 0; c < kLoadClassCount; ++c) {
    size_t bytes = 0;
    for (size_t v = kClassFirst[c]; v < kClassFirst[c + 1]; ++v) {
      if (kLoadValues[v].LoadClass != c + 1) return false;
      bytes += kLoadValues[v].Size;
    }
    if (bytes != kClassSize[c]) return false;
  }
  return kClassFirst.back() == kLoadValueCount;
}());

constexpr size_t kHeadLength = 8;  // start marker, length, time

uint8_t ToBcd(unsigned v) {
  return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

bool FromBcd(uint8_t b, uint8_t* v) {
  if ((b >> 4) > 9 || (b & 0x0F) > 9) return false;
  *v = static_cast<uint8_t>((b >> 4) * 10 + (b & 0x0F));
  return true;
}

// The records in wire form, read as plain bytes.
class Plain {
 public:
  explicit Plain(std::span<const uint8_t> data) : data_(data.data()), size_(data.size()) {}
  size_t Size() const { return size_; }
  uint8_t operator[](size_t i) const { return static_cast<uint8_t>(data_[i] - kWireOffset); }
  bool IsStart(size_t i) const {
    if (i + 1 >= size_) return false;
    const uint8_t b = (*this)[i];
    return (b == kLoadStart || b == kLoadInvalidStart) && (*this)[i + 1] == b;
  }
  size_t NextStart(size_t from) const {
    while (from < size_ && !IsStart(from))
      ++from;
    return from < size_ ? from : size_;
  }
  uint8_t Sum(size_t from, size_t to) const {
    unsigned sum = 0;
    for (size_t i = from; i < to; ++i)
      sum += data_[i];
    return static_cast<uint8_t>(sum - (to - from) * kWireOffset);
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

// FF bytes (and anything else that is not BCD) give no value.
bool ReadValue(const Plain& in, size_t at, const TLoadValueInfo& info, int32_t* out) {
  int32_t value = 0;
  bool negative = false;
  for (size_t i = info.Size; i-- > 0;) {
    uint8_t b = in[at + i];
    if (i + 1 == info.Size && info.Signed) {
      negative = (b & 0x80) != 0;
      b &= 0x7F;
    }
    uint8_t digits = 0;
    if (!FromBcd(b, &digits)) return false;
    value = value * 100 + digits;
  }
  *out = negative ? -value : value;
  return true;
}

void ReadClass(const Plain& in, size_t at, uint8_t load_class, TLoadRecord* record) {
  record->Classes |= static_cast<uint8_t>(1u << (load_class - 1));
  for (size_t v = kClassFirst[load_class - 1]; v < kClassFirst[load_class]; ++v) {
    const TLoadValueInfo& info = kLoadValues[v];
    if (ReadValue(in, at, info, &record->Raw[v])) record->Present |= 1u << v;
    at += info.Size;
  }
}

// The classes between the time and the end of the class area (one past the
// last AA). Separators are what finds the fields: AA alone is an empty
// class, and BCD digits never make AA.
bool ReadClasses(const Plain& in, size_t pos, size_t end, uint8_t load_class, TLoadRecord* record) {
  if (load_class == kLoadClassAll) {
    for (uint8_t c = 1; c <= kLoadClassCount; ++c) {
      if (pos >= end) return false;
      if (in[pos] == kLoadSeparator) {
        ++pos;
        continue;
      }
      const size_t n = kClassSize[c - 1];
      if (end - pos <= n || in[pos + n] != kLoadSeparator) return false;
      ReadClass(in, pos, c, record);
      pos += n + 1;
    }
    return pos == end;
  }
  // One class asked for: its fields among at most six separators, some of
  // which meters leave out.
  const size_t n = kClassSize[load_class - 1];
  for (int segments = 0; pos < end; ++segments) {
    if (segments == kLoadClassCount) return false;
    if (in[pos] == kLoadSeparator) {
      ++pos;
      continue;
    }
    if (record->Classes != 0 || end - pos <= n || in[pos + n] != kLoadSeparator) return false;
    ReadClass(in, pos, load_class, record);
    pos += n + 1;
  }
  return true;
}

// Checks the record at p (a start marker) and reads it. The length byte
// counts to the last AA in most meters and on to E5 in some, so the end
// marker is looked for at both places and the checksum decides.
bool ParseRecord(const Plain& in, size_t p, uint8_t load_class, TLoadRecord* record,
                 TLoadSkip* reason) {
  const size_t size = in.Size();
  if (size - p < kHeadLength) {
    *reason = TLoadSkip::CutShort;
    return false;
  }
  const size_t length = in[p + 2];
  size_t area_end = 0;
  bool in_range = false, end_seen = false, fits = false;
  for (size_t extra : {size_t{0}, size_t{2}}) {
    if (length < kHeadLength - 3 + 1 + extra) continue;  // the time and one AA at least
    const size_t end = p + 3 + length - extra;
    if (end + 2 > size) continue;
    in_range = true;
    if (in[end + 1] != kLoadEnd) continue;
    end_seen = true;
    if (in.Sum(p, end) != in[end]) continue;
    area_end = end;
    fits = true;
    break;
  }
  if (!fits) {
    *reason = !in_range   ? TLoadSkip::LengthPastData
              : !end_seen ? TLoadSkip::NoEnd
                          : TLoadSkip::Checksum;
    // A length too small for a time and one separator is no record at all.
    if (length < kHeadLength - 3 + 1 && p + 3 + length <= size) *reason = TLoadSkip::Separators;
    return false;
  }
  record->Offset = p;
  record->Length = area_end + 2 - p;
  if (in[p] == kLoadInvalidStart) {
    *reason = TLoadSkip::InvalidBlock;
    return false;
  }
  TLoadTime& t = record->Time;
  if (!FromBcd(in[p + 3], &t.Minute) || !FromBcd(in[p + 4], &t.Hour) ||
      !FromBcd(in[p + 5], &t.Day) || !FromBcd(in[p + 6], &t.Month) ||
      !FromBcd(in[p + 7], &t.Year) || !IsValidLoadTime(t)) {
    *reason = TLoadSkip::BadTime;
    return false;
  }
  if (in[area_end - 1] != kLoadSeparator ||
      !ReadClasses(in, p + kHeadLength, area_end, load_class, record)) {
    *reason = TLoadSkip::Separators;
    return false;
  }
  return true;
}

}  // namespace

bool IsValidLoadTime(const TLoadTime& time) {
  int64_t seconds = 0;
  return LoadTimeSeconds(time, &seconds);
}

bool LoadTimeSeconds(const TLoadTime& time, int64_t* seconds) {
  if (time.Year > 99) return false;
  return platform::TryEncodeDateTime(2000 + time.Year, time.Month, time.Day, time.Hour, time.Minute,
                                     0, seconds);
}

bool LoadTimeFromSeconds(int64_t seconds, TLoadTime* time) {
  if (seconds < 0) return false;
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(seconds / platform::kSecondsPerDay, &year, &month, &day);
  if (year < 2000 || year > 2099) return false;
  const int64_t of_day = seconds % platform::kSecondsPerDay;
  time->Minute = static_cast<uint8_t>(of_day / 60 % 60);
  time->Hour = static_cast<uint8_t>(of_day / 3600);
  time->Day = static_cast<uint8_t>(day);
  time->Month = static_cast<uint8_t>(month);
  time->Year = static_cast<uint8_t>(year - 2000);
  return true;
}

double LoadTimeDateTime(const TLoadTime& time) {
  int64_t seconds = 0;
  if (!LoadTimeSeconds(time, &seconds)) return 0;
  return platform::MsToDateTime(seconds * 1000);
}

bool SplitLoadProfileId(uint32_t id, TLoadBlock* block, uint8_t* load_class) {
  const uint8_t di0 = static_cast<uint8_t>(id);
  const uint8_t di2 = static_cast<uint8_t>(id >> 16);
  if ((id & 0xFF00FF00u) != 0x06000000u || di2 > kLoadClassCount || di0 > 2) return false;
  *block = static_cast<TLoadBlock>(di0);
  *load_class = di2;
  return true;
}

size_t BuildLoadProfileRequest(const TWireAddress& address, TLoadBlock block, uint8_t load_class,
                               uint8_t blocks, const TLoadTime* at,
                               std::span<uint8_t, kMaxLoadProfileRequestLength> out) {
  if (load_class > kLoadClassCount || blocks < 1 || blocks > 99) return 0;
  if (block != TLoadBlock::Earliest && block != TLoadBlock::AtTime && block != TLoadBlock::Latest)
    return 0;
  const uint32_t id = LoadProfileId(block, load_class);
  std::array<uint8_t, 10> data{static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                               static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24),
                               ToBcd(blocks)};
  size_t n = 5;
  if (block == TLoadBlock::AtTime) {
    if (at == nullptr || !IsValidLoadTime(*at)) return 0;
    for (uint8_t v : {at->Minute, at->Hour, at->Day, at->Month, at->Year})
      data[n++] = ToBcd(v);
  }
  return BuildFrame(address, kFunctionRead2007, std::span<const uint8_t>(data.data(), n), out);
}

size_t LoadClassSize(uint8_t load_class) {
  return load_class >= 1 && load_class <= kLoadClassCount ? kClassSize[load_class - 1] : 0;
}

double TLoadRecord::Value(TLoadValue v) const {
  double scale = 1;
  for (uint8_t d = LoadValueInfo(v).Decimals; d > 0; --d)
    scale *= 10;
  return RawValue(v) / scale;
}

std::string_view LoadSkipText(TLoadSkip reason) {
  switch (reason) {
    case TLoadSkip::NoStart:
      return "no record start";
    case TLoadSkip::InvalidBlock:
      return "block marked invalid";
    case TLoadSkip::CutShort:
      return "record cut short";
    case TLoadSkip::LengthPastData:
      return "record length runs past the data";
    case TLoadSkip::NoEnd:
      return "record end marker missing";
    case TLoadSkip::Checksum:
      return "record checksum wrong";
    case TLoadSkip::BadTime:
      return "record time is not a date";
    case TLoadSkip::Separators:
      return "record separators missing or doubled";
  }
  return "record unreadable";
}

size_t WalkLoadRecords(std::span<const uint8_t> data, uint8_t load_class, ILoadRecordSink& sink) {
  if (load_class > kLoadClassCount) load_class = kLoadClassAll;
  const Plain in(data);
  size_t records = 0;
  size_t p = 0;
  while (p < in.Size()) {
    if (!in.IsStart(p)) {
      const size_t next = in.NextStart(p);
      sink.OnSkipped(p, next - p, TLoadSkip::NoStart);
      p = next;
      continue;
    }
    TLoadRecord record;
    TLoadSkip reason = TLoadSkip::NoStart;
    if (ParseRecord(in, p, load_class, &record, &reason)) {
      sink.OnRecord(record);
      ++records;
      p += record.Length;
      continue;
    }
    // A block the meter marks invalid is sound in form: skip it whole.
    const size_t next = reason == TLoadSkip::InvalidBlock ? p + record.Length : in.NextStart(p + 1);
    sink.OnSkipped(p, next - p, reason);
    p = next;
  }
  return records;
}

}  // namespace dlt645
