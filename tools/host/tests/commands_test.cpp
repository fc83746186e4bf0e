#include <gtest/gtest.h>

#include <string>

#include "host_commands.h"
#include "host_test_support.h"

namespace {

using namespace host;

// docs/functions.md is the output of `dlt645-host functions --format
// markdown`: a change of the tables must come with the document.
TEST(HostFunctions, TheDocumentIsNotStale) {
  const std::string doc = host_test::Slurp(std::string(DLT645_SOURCE_DIR) + "/docs/functions.md");
  EXPECT_EQ(doc, FunctionsDocument())
      << "run: dlt645-host functions --format markdown > docs/functions.md";
}

TEST(HostFunctions, UnitsAndNamesOfTheTables) {
  const std::string json = FunctionsListing("json", false);
  for (const char* row :
       {"\"code\": \"02800002\", \"name\": \"Frequency\"",
        "\"field\": \"FREQUENCY\", \"values\": 1, \"decimals\": 2, \"unit\": \"Hz\"",
        "\"field\": \"TEMPERATURE\", \"values\": 1, \"decimals\": 1, \"unit\": \"°C\"",
        "\"field\": \"PHASE_B_REACTIVE_ENERGY_2\", \"values\": 1, \"decimals\": 2, "
        "\"unit\": \"kvarh\"",
        "\"unit\": \"kW\", \"timestamp\": true"})
    EXPECT_NE(json.find(row), std::string::npos) << row;
  EXPECT_NE(FunctionsListing("text", true).find("8000B621  PHASE_A_CURRENT"), std::string::npos);

  std::string code;
  std::string error;
  ASSERT_TRUE(ResolveFunction("frequency", false, &code, &error));
  EXPECT_EQ(code, "02800002");
  ASSERT_TRUE(ResolveFunction("Voltage A", false, &code, &error));
  EXPECT_EQ(code, "02010100");
  ASSERT_TRUE(ResolveFunction("B611", true, &code, &error));
  EXPECT_EQ(code, "8000B611");
  ASSERT_TRUE(ResolveFunction("04000102", false, &code, &error));
  EXPECT_FALSE(ResolveFunction("VOLTAGEA", false, &code, &error));
  EXPECT_NE(error.find("closest: 02010100 VOLTAGE_A"), std::string::npos) << error;
}

}  // namespace
