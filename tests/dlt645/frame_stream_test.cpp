// However a byte stream is cut into blocks, the receive path must find the
// same frames and values as with the whole stream in one block.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "dlt645/frame_scanner.h"
#include "dlt645/frame_test_support.h"
#include "dlt645/func_types.h"
#include "dlt645/value_decoder.h"

namespace dlt645 {
namespace {

using testing::Append;
using testing::Bytes;
using testing::IdData;
using testing::MakeFrame;

struct Configured {
  uint32_t Id;
  bool Is1997;
};
// The functions the in-test client listens for.
constexpr Configured kConfigured[] = {{0x02010100, false}, {0x0202FF00, false}, {0x02030000, false},
                                      {0x0001FF00, false}, {0x01150000, false}, {0x0201FF00, false},
                                      {0xB611, true},      {0x901F, true}};

// The receive path in miniature: a bounded buffer that drops its oldest
// bytes, the search loop, and a listening client that logs what it sees.
class MiniClient {
 public:
  static constexpr size_t kBufferSize = 16384;
  static constexpr size_t kDiscardStep = 64;

  std::vector<std::string> Log;
  Bytes Buffer;
  Bytes FrameCopy;
  const Configured* Pending = nullptr;

  void ProcessBlock(std::span<const uint8_t> block) {
    AddData(block);
    bool again = false;
    do {
      again = false;
      const int n = FindFrame(again);
      if (n >= 0) {
        ParseFrame();
        Drop(std::min(static_cast<size_t>(n), Buffer.size()));
      }
    } while (again && !Buffer.empty());
  }

  TScanStep OnFrame(const TFrameView& frame) {
    const std::string address = AddressText(frame.Address());
    switch (frame.Class()) {
      case TFrameClass::Unsolicited:
        Log.push_back("unsolicited " + address);
        FrameCopy.clear();
        return TScanStep::Answered;
      case TFrameClass::Outgoing:
      case TFrameClass::ErrorAnswer:
        Log.push_back("error " + address + " " + std::to_string(frame.Control()) + " [" +
                      FrameErrorText(frame) + "]");
        return TScanStep::Next;
      case TFrameClass::Answer:
        for (const Configured& c : kConfigured) {
          if (FrameCarriesId(frame, c.Is1997, c.Id)) {
            Pending = &c;
            FrameCopy.assign(frame.Bytes, frame.Bytes + frame.Length);
            return TScanStep::Match;
          }
        }
        Log.push_back("unallowable " + address);
        return TScanStep::Next;
    }
    return TScanStep::Next;
  }

  void OnChecksumError(const TFrameView& frame, uint8_t received, uint8_t computed) {
    Log.push_back("crc " + std::to_string(received) + "," + std::to_string(computed) + " [" +
                  AddressText(frame.Address()) + "," + std::to_string(frame.Control()) + "]");
  }

 private:
  void AddData(std::span<const uint8_t> block) {
    if (block.size() >= kBufferSize) {
      Buffer.assign(block.end() - kBufferSize, block.end());
      return;
    }
    if (Buffer.size() + block.size() > kBufferSize) {
      const size_t excess = Buffer.size() + block.size() - kBufferSize;
      Drop(std::min(Buffer.size(), (excess + kDiscardStep - 1) / kDiscardStep * kDiscardStep));
    }
    Buffer.insert(Buffer.end(), block.begin(), block.end());
  }

  void Drop(size_t n) { Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<long>(n)); }

  int FindFrame(bool& again) {
    const TScanResult result = ScanFrames(std::span<const uint8_t>(Buffer), *this);
    if (result.Again) again = true;
    Drop(result.Drop);
    return result.FrameLength;
  }

  void ParseFrame() {
    if (FrameCopy.empty() || Pending == nullptr) return;
    const TFrameView frame{FrameCopy.data(), FrameCopy.size(), 0};
    const TRequestFuncType* row = FindFuncType(Pending->Id, Pending->Is1997);
    testing::TextSink sink;
    DecodeValues(AnswerValues(frame, Pending->Is1997), *row, 0, sink);
    std::string line = "values " + AddressText(frame.Address());
    for (const auto& item : sink.Lines)
      line += " " + item;
    Log.push_back(line);
  }
};

// A stream of answers (some to functions nobody listens for, some cut
// short or not BCD), error answers, echoes, unsolicited frames, empty and
// longest data fields, with garbage, wake-up bytes and corrupted copies
// between them.
Bytes MakeStream(uint32_t seed, size_t items) {
  std::mt19937 rng(seed);
  auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
  auto random_bytes = [&](size_t n) {
    Bytes out(n);
    for (auto& b : out)
      b = static_cast<uint8_t>(rng());
    return out;
  };
  auto bcd_bytes = [&](size_t n) {
    Bytes out(n);
    for (auto& b : out)
      b = static_cast<uint8_t>((pick(10) << 4) | pick(10));
    return out;
  };
  const TWireAddress meters[] = {AddressFromText("112233445566"), AddressFromText("000000000001")};

  Bytes stream;
  for (size_t item = 0; item < items; ++item) {
    if (pick(4) == 0) Append(stream, random_bytes(1 + pick(16)));
    if (pick(2) == 0) Append(stream, Bytes(1 + pick(4), 0xFE));
    const TWireAddress& address = meters[pick(2)];
    Bytes frame;
    switch (pick(10)) {
      case 0:
        frame = MakeFrame(address, 0xD1, pick(4) == 0 ? Bytes{} : Bytes{uint8_t(pick(256))});
        break;
      case 1:
        frame = MakeFrame(address, 0x11, IdData(0x02010100, false, {}));
        break;
      case 2:
        frame = MakeFrame(address, 0x9F, {});
        break;
      case 3:
        frame = MakeFrame(address, 0x91, random_bytes(pick(2) == 0 ? 0 : 255));
        break;
      case 4:
        frame = MakeFrame(address, 0x91, IdData(0x02800002, false, bcd_bytes(2)));
        break;
      default: {
        const Configured& c = kConfigured[pick(std::size(kConfigured))];
        const TRequestFuncType* row = FindFuncType(c.Id, c.Is1997);
        size_t n = row->ValueSize + ((row->Format & 0x10) != 0 ? 5 : 0);
        n *= std::min<size_t>(row->ValueCount, 5);
        if (pick(5) == 0) n = pick(n + 1);  // cut short
        Bytes values = pick(8) == 0 ? random_bytes(n) : bcd_bytes(n);
        frame = MakeFrame(address, c.Is1997 ? 0x81 : 0x91, IdData(c.Id, c.Is1997, values));
        break;
      }
    }
    if (pick(8) == 0) {
      Bytes bad(frame);
      bad[1 + pick(bad.size() - 1)] ^= static_cast<uint8_t>(1 + pick(255));
      Append(stream, bad);
    }
    Append(stream, frame);
  }
  return stream;
}

struct Outcome {
  std::vector<std::string> Log;
  Bytes Left;
  bool operator==(const Outcome&) const = default;
};

// Feeds the stream in blocks ending at the given cut points.
Outcome Feed(const Bytes& stream, const std::vector<size_t>& cuts) {
  MiniClient client;
  size_t from = 0;
  for (size_t to : cuts) {
    // Each block in its own exact-size allocation, as the host hands it over.
    const Bytes block(stream.begin() + static_cast<long>(from),
                      stream.begin() + static_cast<long>(to));
    client.ProcessBlock(block);
    from = to;
  }
  return {client.Log, client.Buffer};
}

TEST(FrameStream, EveryTwoBlockSplitFindsTheSameFrames) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const Bytes stream = MakeStream(seed, 40);
    const Outcome whole = Feed(stream, {stream.size()});
    ASSERT_GT(whole.Log.size(), 20u);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
      ASSERT_EQ(Feed(stream, {cut, stream.size()}), whole) << "seed " << seed << " cut " << cut;
    }
  }
}

TEST(FrameStream, RandomSmallBlocksFindTheSameFrames) {
  std::mt19937 rng(645);
  for (uint32_t seed = 100; seed < 400; ++seed) {
    const Bytes stream = MakeStream(seed, 30);
    const Outcome whole = Feed(stream, {stream.size()});
    for (int round = 0; round < 3; ++round) {
      std::vector<size_t> cuts;
      const size_t largest = round == 0 ? 3 : round == 1 ? 20 : 70;
      for (size_t at = 0; at < stream.size();) {
        at = std::min(stream.size(), at + 1 + rng() % largest);
        cuts.push_back(at);
      }
      ASSERT_EQ(Feed(stream, cuts), whole) << "seed " << seed << " round " << round;
    }
  }
}

TEST(FrameStream, StreamsCoverEveryKindOfFrame) {
  // The streams above are only useful if they exercise every path.
  std::string all;
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const Bytes stream = MakeStream(seed, 40);
    for (const auto& line : Feed(stream, {stream.size()}).Log)
      all += line + "\n";
  }
  for (const char* what : {"values 112233445566 VOLTAGE_A=", "TIMESTAMP1=", "PHASE_A_VOLTAGE=",
                           "crc ", "unsolicited ", "Outgoing data received!", "unallowable "}) {
    EXPECT_NE(all.find(what), std::string::npos) << what;
  }
}

}  // namespace
}  // namespace dlt645
