#pragma once
// Load profiles: the meter's interval records (DI3 = 06). The requests pick
// a block (the earliest, the one at a time, the most recent), a number of
// blocks and all classes or one; the answer, joined over follow-up frames,
// holds records of
//   A0 A0, length, mm hh DD MM YY, six classes each closed by AA,
//   checksum (A0 .. last AA), E5
// where a class the meter does not keep is only its AA, and a per-class
// read may leave out the separators of the other classes. Decoding reads
// the joined data in place, in wire form, and allocates nothing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "dlt645/frame_codec.h"
#include "dlt645/load_values.h"

namespace dlt645 {

// DI0 of a load-profile request.
enum class TLoadBlock : uint8_t {
  Earliest = 0x00,
  AtTime = 0x01,
  Latest = 0x02,
};

constexpr uint8_t kLoadClassAll = 0;
constexpr uint8_t kLoadClassCount = 6;

// The time of a record or of an AtTime request, as plain numbers.
struct TLoadTime {
  uint8_t Minute = 0;
  uint8_t Hour = 0;
  uint8_t Day = 0;
  uint8_t Month = 0;
  uint8_t Year = 0;  // 0..99 for 2000..2099

  bool operator==(const TLoadTime&) const = default;
};
// A real date and time of day.
bool IsValidLoadTime(const TLoadTime& time);
// Seconds since 1899-12-30 00:00 (the simulator's and the date-time
// helpers' count); false for an invalid time.
bool LoadTimeSeconds(const TLoadTime& time, int64_t* seconds);
// The time of a second count (seconds dropped); false outside 2000..2099.
bool LoadTimeFromSeconds(int64_t seconds, TLoadTime* time);
// The host's date-time form (days since 1899-12-30).
double LoadTimeDateTime(const TLoadTime& time);

// 06 cc 00 bb.
constexpr uint32_t LoadProfileId(TLoadBlock block, uint8_t load_class) {
  return 0x06000000u | uint32_t{load_class} << 16 | static_cast<uint32_t>(block);
}
// The block and class of a load-profile identifier; false for others.
bool SplitLoadProfileId(uint32_t id, TLoadBlock* block, uint8_t* load_class);

constexpr size_t kMaxLoadProfileRequestLength = kFrameOverhead + 10;
// The 0x11 request: DI, NN (blocks, 1..99, in BCD), and for AtTime the
// time mm hh DD MM YY in BCD. Returns the frame length, or 0 for a class
// above 6, a count outside 1..99, or an AtTime request without a valid time.
size_t BuildLoadProfileRequest(const TWireAddress& address, TLoadBlock block, uint8_t load_class,
                               uint8_t blocks, const TLoadTime* at,
                               std::span<uint8_t, kMaxLoadProfileRequestLength> out);

// Bytes of a class's fields (without its separator); 0 outside 1..6.
size_t LoadClassSize(uint8_t load_class);
constexpr uint8_t kLoadStart = 0xA0;
constexpr uint8_t kLoadInvalidStart = 0xE0;
constexpr uint8_t kLoadSeparator = 0xAA;
constexpr uint8_t kLoadEnd = 0xE5;
constexpr size_t kFullLoadRecordLength = 103;

// One sound record.
struct TLoadRecord {
  size_t Offset = 0;  // in the data walked
  size_t Length = 0;  // A0 .. E5
  TLoadTime Time;
  uint8_t Classes = 0;                         // bit c-1: class c carried its fields
  uint32_t Present = 0;                        // bit v: value v has digits (not FF)
  std::array<int32_t, kLoadValueCount> Raw{};  // the digits, signed

  bool Has(TLoadValue v) const { return (Present >> static_cast<unsigned>(v) & 1u) != 0; }
  int32_t RawValue(TLoadValue v) const { return Raw[static_cast<size_t>(v)]; }
  double Value(TLoadValue v) const;
};

// Why a stretch of data was skipped.
enum class TLoadSkip : uint8_t {
  NoStart,         // bytes before a start marker
  InvalidBlock,    // E0 E0: the meter marks the block invalid
  CutShort,        // the data end inside the record's head
  LengthPastData,  // the length byte runs past the data
  NoEnd,           // no E5 where the length puts it
  Checksum,        // the record checksum is wrong
  BadTime,         // the time stamp is not a date
  Separators,      // the classes do not fit their separators
};
std::string_view LoadSkipText(TLoadSkip reason);

class ILoadRecordSink {
 public:
  virtual void OnRecord(const TLoadRecord& record) = 0;
  virtual void OnSkipped(size_t offset, size_t length, TLoadSkip reason) = 0;

 protected:
  ~ILoadRecordSink() = default;
};

// Walks the records of a joined answer's values (wire form, after the
// identifier). load_class is the class asked for (0: all). A bad record is
// reported and the walk goes on at the next A0 A0. Returns the number of
// sound records. Nothing outside data is read.
size_t WalkLoadRecords(std::span<const uint8_t> data, uint8_t load_class, ILoadRecordSink& sink);

}  // namespace dlt645
