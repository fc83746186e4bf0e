#include <gtest/gtest.h>

#include "sim_options.h"

namespace {

using metersim::ParseSimOptions;
using metersim::SimConfig;
using metersim::SimMode;

bool Parse(std::vector<std::string> args, SimConfig* c, std::string* error) {
  return ParseSimOptions(args, c, error);
}

TEST(SimOptions, ModesMetersAndFaults) {
  SimConfig c;
  std::string error;
  ASSERT_TRUE(Parse(
      {"--listen", "127.0.0.1:0", "--meter", "1", "--meter=112233445566", "--echo", "--noise",
       "0.05", "--silent", "000000000001", "--delay=300", "--split", "--duplicate",
       "--drop-follow-up", "--unsolicited-every", "5", "--clock", "2024-05-01T12:00:00", "-v"},
      &c, &error))
      << error;
  EXPECT_EQ(c.mode, SimMode::kListen);
  EXPECT_EQ(c.host, "127.0.0.1");
  EXPECT_EQ(c.port, 0);
  ASSERT_EQ(c.meters.size(), 2u);
  EXPECT_EQ(metersim::AddressText(c.meters[0]), "000000000001");
  EXPECT_TRUE(c.faults.echo);
  EXPECT_DOUBLE_EQ(c.faults.noise, 0.05);
  ASSERT_EQ(c.faults.silent.size(), 1u);
  EXPECT_EQ(c.faults.delay_ms, 300u);
  EXPECT_TRUE(c.faults.split);
  EXPECT_TRUE(c.faults.duplicate);
  EXPECT_TRUE(c.faults.drop_follow_up);
  EXPECT_TRUE(c.unsolicited);
  EXPECT_EQ(c.unsolicited_ms, 5000u);
  EXPECT_TRUE(c.fixed_clock);
  EXPECT_TRUE(c.verbose);

  ASSERT_TRUE(Parse({"--dtu", "[::1]:9000", "--meters", "000000000099:3", "--meters-per-dtu", "2",
                     "--reconnect", "10:500"},
                    &c, &error))
      << error;
  EXPECT_EQ(c.mode, SimMode::kDtu);
  EXPECT_EQ(c.host, "::1");
  EXPECT_EQ(c.port, 9000);
  ASSERT_EQ(c.meters.size(), 3u);
  EXPECT_EQ(metersim::AddressText(c.meters[2]), "000000000101");
  EXPECT_EQ(c.meters_per_dtu, 2u);
  EXPECT_EQ(c.reconnect_min_ms, 10u);

  ASSERT_TRUE(Parse({"--pty"}, &c, &error));
  ASSERT_EQ(c.meters.size(), 1u);  // one meter by default
  EXPECT_EQ(metersim::AddressText(c.meters[0]), "000000000001");
  ASSERT_TRUE(Parse({"--help"}, &c, &error));
  EXPECT_TRUE(c.help);
}

TEST(SimOptions, BadInputIsNamed) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "one of --listen, --dtu or --pty is needed"},
      {{"--listen", "127.0.0.1:0", "--pty"}, "only one of"},
      {{"--listen", "localhost"}, "is not HOST:PORT"},
      {{"--listen", "h:70000"}, "is not HOST:PORT"},
      {{"--dtu", "h:0"}, "is not HOST:PORT"},
      {{"--pty", "--meter"}, "needs a value"},
      {{"--pty", "--meter", "AAAAAAAAAAAA"}, "is not a meter address"},
      {{"--pty", "--meter", "999999999999"}, "is not a meter address"},
      {{"--pty", "--meter", "1", "--meter", "000000000001"}, "given twice"},
      {{"--pty", "--meters", "999999999990:20"}, "runs past"},
      {{"--pty", "--meters", "1:0"}, "is not START:COUNT"},
      {{"--pty", "--noise", "1.5"}, "between 0 and 1"},
      {{"--pty", "--noise", "abc"}, "between 0 and 1"},
      {{"--pty", "--delay", "-1"}, "milliseconds"},
      {{"--pty", "--silent", "000000000002"}, "not one of the simulated meters"},
      {{"--pty", "--clock", "2024-02-30T00:00:00"}, "YYYY-MM-DD"},
      {{"--pty", "--reconnect", "500:10"}, "MIN:MAX"},
      {{"--pty", "--echo=yes"}, "takes no value"},
      {{"--pty", "--meters-per-dtu", "2"}, "needs --dtu"},
      {{"--pty", "--frobnicate"}, "unknown option '--frobnicate'"},
  };
  for (const Case& c : cases) {
    SimConfig config;
    std::string error;
    EXPECT_FALSE(Parse(c.args, &config, &error)) << c.message;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

}  // namespace
