// Where the host cuts the received bytes into blocks must not change what
// the client makes of them: records, log lines and writes.
#include <gtest/gtest.h>

#include <random>

#include "client_test_support.h"

namespace {

using namespace client_test;

// Everything the host sees of one run, as text.
std::vector<std::string> Outcome(const FakeModule& module) {
  std::vector<std::string> out;
  for (const Record& r : module.Records) {
    std::string line =
        r.Via + " " +
        dlt645::testing::HexText(reinterpret_cast<const uint8_t*>(r.Text.data()), r.Text.size());
    for (const Field& f : r.Fields)
      line += " " + f.Name + "=" + f.Value;
    out.push_back(line);
  }
  for (const std::string& l : module.LogLines)
    out.push_back("log " + l);
  for (const Write& w : module.Writes)
    out.push_back("write " + w.Bytes);
  for (const std::string& t : module.Texts)
    out.push_back("text " + t);
  return out;
}

const std::string kDev1 = "000000000001";

Bytes Frame(const std::string& address, uint8_t control, const Bytes& plain) {
  return dlt645::testing::MakeFrame(dlt645::AddressFromText(address), control, plain);
}

// Frames of every kind the client meets.
std::vector<Bytes> Pool() {
  const Bytes stamp{0x30, 0x12, 0x15, 0x06, 0x24};
  Bytes active{0x00, 0x95, 0x12}, reactive{0x00, 0x11, 0x01};
  dlt645::testing::Append(active, stamp);
  dlt645::testing::Append(reactive, stamp);
  Bytes broken = Answer(kDev1, 0x02010100, {0x32, 0x22});
  broken[14] ^= 0x10;
  Bytes rates;
  for (uint8_t v = 1; v <= 5; ++v)
    dlt645::testing::Append(rates, {v, 0x00, 0x01, 0x00});
  return {
      Answer(kDev1, 0x02010100, {0x32, 0x22}),
      Answer(kDev1, 0x02010100, {0x47, 0x21}),
      Answer(kDev1, 0x02030000, {0x00, 0x95, 0x92}),
      Answer(kDev1, 0x01150000, active),
      Answer(kDev1, 0x01170000, reactive),
      Answer("112233445566", 0x0001FF00, rates),
      Answer("000000000005", 0xB611, {0x20, 0x02}, true),
      Frame(kDev1, 0xD1, {0x04}),                        // error answer
      Frame(kDev1, 0x11, {0x00, 0x01, 0x01, 0x02}),      // a request on the line
      Frame("000000000003", 0x9F, {}),                   // a device speaking unasked
      Answer("000000000009", 0x02010100, {0x32, 0x22}),  // nobody asks this one
      broken,
      // A header promising 255 bytes that never come.
      dlt645::testing::Hex("68 01 00 00 00 00 00 68 91 FF 35 35 35"),
  };
}

void Configure(ClientRig& rig) {
  std::vector<RequestSpec> shapes{{.Code = 0x02010100, .Group = 1},
                                  {.Code = 0x02030000, .Group = 2},
                                  {.Code = 0x01150000, .Group = 3},
                                  {.Code = 0x01170000, .Group = 3},
                                  {.Device = "112233445566", .Code = 0x0001FF00, .Group = 4},
                                  {.Device = "000000000005", .Code = 0x8000B611, .Group = 5}};
  for (RequestSpec& shape : shapes)
    shape.Enabled = false;
  rig.Load(shapes);
}

// A stream of frames from the pool with garbage and wake-up bytes between.
Bytes MakeStream(uint32_t seed, int frames) {
  std::mt19937 random(seed);
  const std::vector<Bytes> pool = Pool();
  Bytes stream;
  for (int i = 0; i < frames; ++i) {
    const int garbage = static_cast<int>(random() % 9);
    for (int g = 0; g < garbage; ++g) {
      // Start and end bytes turn up in line noise too.
      const uint32_t r = random() % 8;
      stream.push_back(r == 0 ? 0x68 : r == 1 ? 0x16 : static_cast<uint8_t>(random()));
    }
    stream.insert(stream.end(), random() % 5, 0xFE);
    dlt645::testing::Append(stream, pool[random() % pool.size()]);
  }
  return stream;
}

// The outcome of the stream cut at the given points; a bound client was made
// by a port event and has its connection closed for strangers.
std::vector<std::string> Feed(const Bytes& stream, const std::vector<size_t>& cuts,
                              bool bound = false) {
  ClientRig rig;
  Configure(rig);
  if (bound) rig.PortEvent(kEventPortOpened);
  size_t from = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    const size_t to = i < cuts.size() ? cuts[i] : stream.size();
    rig.Feed(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(from),
                   stream.begin() + static_cast<std::ptrdiff_t>(to)));
    from = to;
  }
  return Outcome(rig.module);
}

TEST(ClientStream, EveryCutIntoTwoBlocksGivesTheSameOutcome) {
  const Bytes stream = MakeStream(1, 16);
  for (bool bound : {false, true}) {
    const std::vector<std::string> whole = Feed(stream, {}, bound);
    ASSERT_GT(whole.size(), 10u);
    for (size_t cut = 1; cut < stream.size(); ++cut)
      ASSERT_EQ(Feed(stream, {cut}, bound), whole) << "cut at " << cut << (bound ? ", bound" : "");
  }
}

TEST(ClientStream, RandomSmallBlocksGiveTheSameOutcome) {
  for (uint32_t seed = 2; seed < 202; ++seed) {
    const Bytes stream = MakeStream(seed, 40);
    std::mt19937 random(seed * 7919u);
    std::vector<size_t> cuts;
    for (size_t at = 1 + random() % 20; at < stream.size(); at += 1 + random() % 20)
      cuts.push_back(at);
    const bool bound = seed % 2 == 0;
    ASSERT_EQ(Feed(stream, cuts, bound), Feed(stream, {}, bound)) << "seed " << seed;
  }
}

}  // namespace
