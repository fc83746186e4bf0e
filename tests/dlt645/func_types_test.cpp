#include "dlt645/func_types.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const TRequestFuncType& Row2007(uint32_t id) {
  const TRequestFuncType* row = FindFuncType(id, false);
  EXPECT_NE(row, nullptr) << std::hex << id;
  return *row;
}

TEST(FuncTypeTable, SizesAndUniqueIdentifiers) {
  for (bool is1997 : {false, true}) {
    const auto table = FuncTypeTable(is1997);
    EXPECT_EQ(table.size(), is1997 ? 66u : 85u);
    std::set<uint32_t> ids;
    for (const auto& row : table) {
      EXPECT_TRUE(ids.insert(row.Id).second) << std::hex << row.Id;
      EXPECT_EQ(IsFuncType1997(&row), is1997);
      if (is1997) {
        EXPECT_LE(row.Id, 0xFFFFu);
      }
    }
  }
  EXPECT_EQ(FuncTypeTable(false).front().Id, 0x02010100u);
  EXPECT_EQ(FuncTypeTable(false).back().Id, 0x06030002u);
  EXPECT_EQ(FuncTypeTable(true).front().Id, 0xB611u);
  EXPECT_EQ(FuncTypeTable(true).back().Id, 0xC020u);
}

TEST(FuncTypeTable, IndexedLookupAgreesWithLinearSearch) {
  for (bool is1997 : {false, true}) {
    for (const auto& row : FuncTypeTable(is1997)) {
      EXPECT_EQ(LookupFuncType(row.Id, is1997), &row);
      EXPECT_EQ(FindFuncType(row.Id, is1997), &row);
    }
    for (uint32_t miss : {0u, 1u, 0x0000B611u, 0x8000B611u, 0xFFFFFFFFu, 0x02010101u}) {
      EXPECT_EQ(LookupFuncType(miss, is1997), FindFuncType(miss, is1997));
    }
  }
  EXPECT_EQ(FindFuncType(0xB611, false), nullptr);
  EXPECT_EQ(FindFuncType(0x02010100, true), nullptr);
}

TEST(FuncTypeTable, SignedQuantities2007) {
  for (uint32_t id : {0x02020100u, 0x02020200u, 0x02020300u, 0x0202FF00u, 0x00000000u, 0x0000FF00u,
                      0x02030000u, 0x0203FF00u, 0x0205FF00u, 0x02060300u, 0x02800007u})
    EXPECT_NE(Row2007(id).Signed, 0) << std::hex << id;
  for (uint32_t id : {0x02010100u, 0x0201FF00u, 0x02800002u, 0x00010000u, 0x0001FF00u, 0x00150000u,
                      0x01010000u, 0x06000002u})
    EXPECT_EQ(Row2007(id).Signed, 0) << std::hex << id;
  for (const auto& row : FuncTypeTable(true))
    EXPECT_EQ(row.Signed, 0) << std::hex << row.Id;
}

TEST(FuncTypeTable, EveryDemandRowIsThreeBytesWithFiveByteStamp) {
  int demand = 0;
  for (const auto& row : FuncTypeTable(false)) {
    if ((row.Id >> 24) != 0x01) continue;
    ++demand;
    EXPECT_EQ(row.ValueSize, 3) << row.FieldName;
    EXPECT_EQ(row.Format, 0x14) << row.FieldName;
    EXPECT_EQ(row.RateCount, 0) << row.FieldName;
  }
  EXPECT_EQ(demand, 13);
  EXPECT_EQ(Row2007(0x01010000).ValueCount, 1);
  EXPECT_EQ(Row2007(0x0109FF00).ValueCount, 63);
  EXPECT_EQ(Row2007(0x0109FF00).FieldName, "DEMAND_CURRENT_TOTAL_A_RATE");
}

TEST(FuncTypeTable, LoadProfilesReadOneBlockUnderDistinctNames) {
  std::set<std::string_view> names;
  for (uint32_t id : {0x06000002u, 0x06010002u, 0x06020002u, 0x06030002u}) {
    const auto& row = Row2007(id);
    EXPECT_EQ(row.RequestKind, 2);
    EXPECT_EQ(row.ExtraByte, 0x34);
    EXPECT_EQ(row.ValueSize, 1);
    EXPECT_EQ(row.Format, 0xFF);
    names.insert(row.FieldName);
  }
  EXPECT_EQ(names, (std::set<std::string_view>{"LOAD_PROFILE1", "LOAD_PROFILE2", "LOAD_PROFILE3",
                                               "LOAD_PROFILE4"}));
  EXPECT_EQ(Row2007(0x06030002).DisplayName, "Load profile 4");
  for (const auto& row : FuncTypeTable(false)) {
    if ((row.Id >> 24) == 0x06) continue;
    EXPECT_EQ(row.RequestKind, 1);
    EXPECT_EQ(row.ExtraByte, 0);
  }
}

TEST(FuncTypeTable, LayoutSpotChecks) {
  const auto& harmonics = Row2007(0x020B03FF);
  EXPECT_EQ(harmonics.ValueCount, 21);
  EXPECT_EQ(harmonics.ValueSize, 2);
  // Every all-phases power and power-factor block holds total, A, B and C.
  for (uint32_t id : {0x0203FF00u, 0x0204FF00u, 0x0205FF00u, 0x0206FF00u})
    EXPECT_EQ(Row2007(id).ValueCount, 4) << std::hex << id;
  EXPECT_EQ(Row2007(0x000A0000).RateCount, 63);
  // The caption keeps its trailing blank.
  EXPECT_EQ(Row2007(0x0004FF00).DisplayName, "Total reverse reactive energy (all rates) ");
  EXPECT_EQ(FindFuncType(0x9010, true)->RateCount, 4);
  EXPECT_EQ(FindFuncType(0x901F, true)->ValueCount, 15);
  EXPECT_EQ(FindFuncType(0xC010, true)->ValueSize, 4);
  EXPECT_EQ(FindFuncType(0x9510, true)->DisplayName, "Last month positive reactive power");
}

TEST(FuncTypeCodes, Bit31SelectsThe1997Table) {
  TFuncSelection sel;
  ASSERT_TRUE(SelectFuncType(0x8000B611u, 3, &sel));
  EXPECT_TRUE(sel.Is1997);
  EXPECT_EQ(sel.Id, 0xB611u);  // no rates on this row
  EXPECT_EQ(sel.FuncName, "Voltage (phase A)");
  EXPECT_EQ(sel.FuncType, FindFuncType(0xB611, true));
  EXPECT_FALSE(SelectFuncType(0x0000B611u, 0, &sel));
  EXPECT_FALSE(SelectFuncType(0x80000000u, 0, &sel));
  // Code 0 is a register of its own, not "nothing".
  ASSERT_TRUE(SelectFuncType(0, 0, &sel));
  EXPECT_FALSE(sel.Is1997);
  EXPECT_EQ(sel.Id, 0u);
  EXPECT_EQ(sel.FuncName, "Total combined active energy");
  EXPECT_EQ(FuncTypeCode(*FindFuncType(0xB611, true)), 0x8000B611u);
  EXPECT_EQ(FuncTypeCode(Row2007(0x02010100)), 0x02010100u);
}

TEST(FuncTypeCodes, RatesFoldIntoTheIdentifier) {
  TFuncSelection sel;
  const auto& combined = Row2007(0x00000000);
  EXPECT_EQ(FoldRate(combined, 3), 0x00000300u);
  EXPECT_EQ(RatedFuncName(combined, 3), "Total combined active energy, rate 3");
  EXPECT_EQ(FoldRate(Row2007(0x0000FF00), 3), 0x0000FF00u);
  EXPECT_EQ(RatedFuncName(Row2007(0x0000FF00), 3), "Total combined active energy (all rates)");

  ASSERT_TRUE(SelectFuncType(0x00010000u, 2, &sel));
  EXPECT_EQ(sel.Id, 0x00010200u);
  EXPECT_EQ(sel.FuncName, "Total positive active energy, rate 2");
  ASSERT_TRUE(SelectFuncType(0x00010000u, 255, &sel));
  EXPECT_EQ(sel.Id, 0x0001FF00u);
  ASSERT_TRUE(SelectFuncType(0x00010000u, 0, &sel));
  EXPECT_EQ(sel.Id, 0x00010000u);
  EXPECT_EQ(sel.FuncName, "Total positive active energy");

  // 1997 keeps only the low four bits of the rate.
  ASSERT_TRUE(SelectFuncType(0x80009010u, 18, &sel));
  EXPECT_EQ(sel.Id, 0x9012u);
  EXPECT_EQ(sel.FuncName, "Current positive active energy, rate 18");
}

TEST(FuncTypeListText, StartsAndEndsPerVariant) {
  const std::string& text2007 = FuncTypeListText(false);
  EXPECT_EQ(text2007.rfind("Voltage A==02010100||Voltage B==02010200||Voltage C==02010300||", 0),
            0u);
  EXPECT_NE(text2007.find("||Total reverse reactive energy (all rates) ==0004FF00||"),
            std::string::npos);
  EXPECT_TRUE(text2007.ends_with("||Load profile 4==06030002"));

  const std::string& text1997 = FuncTypeListText(true);
  EXPECT_EQ(text1997.rfind("Voltage (phase A)==8000B611||Voltage (phase B)==8000B612||", 0), 0u);
  EXPECT_NE(text1997.find("||Current positive active energy (all rates)==8000901F||"),
            std::string::npos);
  EXPECT_TRUE(text1997.ends_with("||Meter time==8000C011||Meter status==8000C020"));

  size_t entries = 1;
  for (size_t at = text1997.find("||"); at != std::string::npos; at = text1997.find("||", at + 2))
    ++entries;
  EXPECT_EQ(entries, 66u);
}

TEST(FuncTypeColumns, AllRatesRowOffersThreeColumns) {
  const auto columns = RegisterFuncTypeColumns(Row2007(0x0000FF00));
  ASSERT_EQ(columns.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(columns[k].Name, "TOTAL_COMBINED_ACTIVE" + std::to_string(k + 1));
    EXPECT_EQ(columns[k].Caption,
              std::to_string(k + 1) + ", Total combined active energy (all rates)");
    EXPECT_EQ(columns[k].DefaultValue, "0");
    EXPECT_EQ(columns[k].ColumnType, 5);
  }
}

TEST(FuncTypeColumns, CountFollowsValuesThenRates) {
  const auto single = RegisterFuncTypeColumns(Row2007(0x02010100));
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].Name, "VOLTAGE_A");
  EXPECT_EQ(single[0].Caption, "Voltage A");

  const auto voltage = RegisterFuncTypeColumns(Row2007(0x0201FF00));
  ASSERT_EQ(voltage.size(), 3u);
  EXPECT_EQ(voltage[0].Name, "VOLTAGE1");
  EXPECT_EQ(voltage[0].Caption, "1, Voltage (all phases)");

  // A rated row offers columns for its rates.
  EXPECT_EQ(RegisterFuncTypeColumns(Row2007(0x00010000)).size(), 3u);
  EXPECT_EQ(RegisterFuncTypeColumns(*FindFuncType(0x9010, true)).size(), 3u);
  EXPECT_EQ(RegisterFuncTypeColumns(*FindFuncType(0xA010, true)).size(), 1u);

  // A load-profile row offers the record's time and the values of its
  // class (all of them for class 0).
  const auto all = RegisterFuncTypeColumns(Row2007(0x06000002));
  ASSERT_EQ(all.size(), 30u);
  EXPECT_EQ(all[0].Name, "RECORD_TIME");
  EXPECT_EQ(all[0].ColumnType, 11);
  EXPECT_EQ(all[1].Name, "LP_VOLTAGE_A");
  EXPECT_EQ(all[1].Caption, "Load profile 1: voltage a");
  EXPECT_EQ(all[29].Name, "LP_REACTIVE_DEMAND");
  const auto powers = RegisterFuncTypeColumns(Row2007(0x06020002));
  ASSERT_EQ(powers.size(), 9u);
  EXPECT_EQ(powers[1].Name, "LP_ACTIVE_POWER_TOTAL");

  // Whole tables, repeats included.
  EXPECT_EQ(RegisterFuncTypeColumns(false).size(), 197u);
  EXPECT_EQ(RegisterFuncTypeColumns(true).size(), 122u);
}

}  // namespace
