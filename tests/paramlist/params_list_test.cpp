#include "paramlist/params_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/errors.h"
#include "paramlist/parsed_data_list.h"
#include "platform/strings.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<std::string> Names(const TqonParamsList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i)
    out.push_back(list.Items(i)->Name);
  return out;
}

TEST(ParamsListLayout, SignatureFollowsTheVtablePointer) {
  TqonParamsList list;
  const auto offset =
      reinterpret_cast<const char*>(&list.Signature) - reinterpret_cast<const char*>(&list);
  EXPECT_EQ(offset, static_cast<std::ptrdiff_t>(sizeof(void*)));
  EXPECT_EQ(list.Signature, 0x0FDE2E4Bu);
  TParsedDataList derived;
  EXPECT_EQ(reinterpret_cast<const char*>(&derived.Signature) -
                reinterpret_cast<const char*>(static_cast<TqonParamsList*>(&derived)),
            static_cast<std::ptrdiff_t>(sizeof(void*)));
}

TEST(ParamsListLookUp, KeysCompareLowerCasedNames) {
  TqonParamsList list;
  list.Add("TEMP", 21);
  EXPECT_EQ(list.IndexOf("temp"), 0);
  EXPECT_EQ(list.IndexOf("Temp"), 0);
  EXPECT_EQ(list.Items(0)->Key, "temp");
  EXPECT_EQ(list.Items(0)->Name, "TEMP");
  EXPECT_EQ(list.GetValue("tEmP").ToInt(), 21);
  // Letters beyond ASCII fold as well (E acute, in the ANSI code page).
  const std::string upper = platform::WideToAnsi(platform::WString(1, platform::WChar(0xC9)));
  const std::string lower = platform::WideToAnsi(platform::WString(1, platform::WChar(0xE9)));
  list.Add("X" + upper, 1);
  EXPECT_EQ(list.IndexOf("x" + lower), 1);
}

TEST(ParamsListLookUp, MinusTwoStopsAtTheEndOfTheRow) {
  TqonParamsList list;
  list.Add("a", 1);
  list.Add("b", 2);
  list.AddNewRow();
  list.Add("c", 3);
  EXPECT_EQ(list.IndexOf("c", 0, -2), -1);
  EXPECT_EQ(list.IndexOf("c", 0, -1), 3);
  EXPECT_EQ(list.IndexOf("c", 3, -2), 3);
  // The name test comes before the separator test.
  EXPECT_EQ(list.IndexOf("$NEW_ROW$", 0, -2), 2);
  // Bounds: from below 0 counts as 0, to past the end as the last index.
  EXPECT_EQ(list.IndexOf("a", -5, 99), 0);
  EXPECT_EQ(list.IndexOf("a", 1, -1), -1);
  EXPECT_EQ(list.IndexOf("b", 0, 0), -1);
  EXPECT_EQ(list.IndexOf("a", 9, -1), -1);
}

TEST(ParamsListLookUp, ValuesAndDefaults) {
  TqonParamsList list;
  list.Add("present", "text");
  EXPECT_EQ(list.GetValue("present").ToString(), "text");
  EXPECT_TRUE(list.GetValue("absent").IsEmpty());
  EXPECT_EQ(list.GetValueDef("absent", 7).ToInt(), 7);
  EXPECT_EQ(list.GetValueDef("present", 7).ToString(), "text");
  EXPECT_EQ(list.FindItem("absent"), nullptr);
  EXPECT_EQ(list.Items(-1), nullptr);
  EXPECT_EQ(list.Items(1), nullptr);
}

TEST(ParamsListAdd, BlankNamesAreRefusedOthersKeptExactly) {
  TqonParamsList list;
  EXPECT_EQ(list.Add("  ", 1), nullptr);
  EXPECT_EQ(list.Add("\t\r\n", 1), nullptr);
  EXPECT_EQ(list.Add("", 1), nullptr);
  EXPECT_EQ(list.Count(), 0);
  TqonParamsListItem* item = list.Add(" X ", 1);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Name, " X ");
  EXPECT_EQ(item->Key, " x ");
  EXPECT_EQ(item->Flags, 2);
  EXPECT_EQ(item->DataType, 0);
  EXPECT_EQ(list.IndexOf("x"), -1);
  EXPECT_EQ(list.IndexOf(" x "), 0);
}

TEST(ParamsListAdd, InsertPlacesAndChecksTheIndex) {
  TqonParamsList list;
  list.Add("a", 1);
  list.Add("c", 3);
  ASSERT_NE(list.Insert(1, "b", 2), nullptr);
  ASSERT_NE(list.Insert(0, "first", 0), nullptr);
  ASSERT_NE(list.Insert(4, "last", 0), nullptr);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"first", "a", "b", "c", "last"}));
  EXPECT_THROW(list.Insert(6, "x", 0), EAssertionFailed);
  EXPECT_THROW(list.Insert(-1, "x", 0), EAssertionFailed);
}

TEST(ParamsListSet, SetValueCreatesOnlyWhenAsked) {
  TqonParamsList list;
  EXPECT_EQ(list.SetValue("A", 1, false), nullptr);
  EXPECT_EQ(list.Count(), 0);
  TqonParamsListItem* item = list.SetValue("A", 1, true);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Flags, 2);
  EXPECT_EQ(list.SetValue("a", "two", false), item);
  EXPECT_EQ(list.GetValue("A").ToString(), "two");
  EXPECT_EQ(list.SetValue(" ", 1, true), nullptr);
}

TEST(ParamsListSet, StrictFormsRaiseForUnknownNames) {
  TqonParamsList list;
  list.Add("RESULT", 0);
  EXPECT_EQ(list.SetParam("result", 5)->Name, "RESULT");
  EXPECT_EQ(list.GetParam("RESULT").ToInt(), 5);
  try {
    list.GetParam("MISSING");
    FAIL() << "no error";
  } catch (const EAssertionFailed& e) {
    EXPECT_THAT(e.what(), StartsWith("Parameter is not defined"));
    EXPECT_THAT(e.what(), HasSubstr("MISSING"));
  }
  EXPECT_THROW(list.SetParam("MISSING", 1), EAssertionFailed);
  EXPECT_EQ(list.Count(), 1);
}

TEST(ParamsListRows, AddNewRowNeverDoublesTheSeparator) {
  TqonParamsList list;
  list.AddNewRow();
  ASSERT_EQ(list.Count(), 1);
  list.AddNewRow();
  EXPECT_EQ(list.Count(), 1);
  const TqonParamsListItem* sep = list.Items(0);
  EXPECT_EQ(sep->Name, "$NEW_ROW$");
  EXPECT_EQ(sep->DataType, 0xFF01);
  EXPECT_TRUE(sep->Value.IsNull());
  EXPECT_TRUE(sep->IsNewRow());
  list.Add("v", 1);
  list.AddNewRow();
  EXPECT_EQ(list.Count(), 3);
}

TEST(ParamsListRows, FindEndOfRow) {
  TqonParamsList list;
  int index = -7;
  bool sep = true;
  EXPECT_FALSE(list.FindEndOfRow(0, &index, &sep));
  list.Add("a", 1);
  list.Add("b", 2);
  list.AddNewRow();
  list.Add("c", 3);
  ASSERT_TRUE(list.FindEndOfRow(-3, &index, &sep));
  EXPECT_EQ(index, 2);
  EXPECT_TRUE(sep);
  ASSERT_TRUE(list.FindEndOfRow(3, &index, &sep));
  EXPECT_EQ(index, 3);
  EXPECT_FALSE(sep);
  EXPECT_FALSE(list.FindEndOfRow(4, &index, &sep));
}

TEST(ParamsListRows, AddRowsClosesTheRowUnlessTheSourceDid) {
  TqonParamsList source;
  source.Add("x", 1);
  TqonParamsList dest;
  dest.AddRows(source);
  dest.AddRows(source);
  EXPECT_EQ(Names(dest), (std::vector<std::string>{"x", "$NEW_ROW$", "x", "$NEW_ROW$"}));
  source.AddNewRow();
  TqonParamsList dest2;
  dest2.AddRows(source);
  EXPECT_EQ(Names(dest2), (std::vector<std::string>{"x", "$NEW_ROW$"}));
}

TEST(ParamsListCopy, CopiesCarryKeyTypeAndFlags) {
  TqonParamsList source;
  TqonParamsListItem* a = source.Add("A", "text");
  a->DataType = 17;
  a->Flags = 9;
  source.AddNewRow();
  TqonParamsList dest;
  EXPECT_TRUE(dest.AddItems(source));
  ASSERT_EQ(dest.Count(), 2);
  EXPECT_EQ(dest.Items(0)->DataType, 17);
  EXPECT_EQ(dest.Items(0)->Flags, 9);
  EXPECT_EQ(dest.Items(0)->Key, "a");
  EXPECT_EQ(dest.Items(0)->Value.ToString(), "text");
  EXPECT_TRUE(dest.Items(1)->IsNewRow());
  // A deep copy: changing the source leaves the copy alone.
  a->Value = 5;
  EXPECT_EQ(dest.Items(0)->Value.ToString(), "text");
}

TEST(ParamsListCopy, RangesAndEmptySources) {
  TqonParamsList source;
  for (const char* n : {"a", "b", "c", "d"})
    source.Add(n, 0);
  TqonParamsList dest;
  EXPECT_TRUE(dest.AddItemsRange(source, 5, 2));
  EXPECT_EQ(dest.Count(), 0);
  EXPECT_TRUE(dest.AddItemsRange(source, -1, 1));
  EXPECT_EQ(Names(dest), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(dest.AddItemsRange(source, 3, 42));
  EXPECT_EQ(dest.Count(), 3);
  TqonParamsList empty;
  EXPECT_FALSE(dest.AddItemsRange(empty, 0, -1));
  EXPECT_FALSE(dest.AddItems(empty));
}

TEST(ParamsListCopy, AddingAListToItselfDoublesItOnce) {
  TqonParamsList list;
  list.Add("a", 1);
  list.Add("b", 2);
  EXPECT_TRUE(list.AddItems(list));
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b", "a", "b"}));
}

// A list refilled record after record keeps the strings that repeat; what
// it answers is never a stale value of the previous record.
TEST(ParamsListRefill, RepeatedStringsAreKeptChangedOnesReplaced) {
  TqonParamsList list;
  auto fill = [&list](const char* device, const char* packet) {
    list.Clear();
    list.AddString("DEVICE_ID", device);
    list.AddString("DATA_PACKET", packet);
    list.Add("VALUE", 1.5);
    list.AddString("LONG", std::string(40, 'x'));
  };
  fill("112233445566", "68 91");
  const platform::BSTR device = list.Items(0)->Value.Raw().bstrVal;
  fill("112233445566", "68 92");
  EXPECT_EQ(list.Items(0)->Value.Raw().bstrVal, device);  // the same string, kept
  EXPECT_EQ(Names(list), (std::vector<std::string>{"DEVICE_ID", "DATA_PACKET", "VALUE", "LONG"}));
  EXPECT_EQ(list.Items(0)->Key, "device_id");
  EXPECT_EQ(list.Items(0)->Flags, kAddedItemFlags);
  EXPECT_EQ(list.Items(1)->Value.ToString(), "68 92");
  EXPECT_EQ(list.Items(3)->Value.ToString(), std::string(40, 'x'));
  fill("000000000001", "68 92");
  EXPECT_EQ(list.Items(0)->Value.ToString(), "000000000001");
  // In another order every field still gets its own value.
  list.Clear();
  list.AddString("DATA_PACKET", "112233445566");
  list.AddString("DEVICE_ID", "");
  EXPECT_EQ(list.Items(0)->Value.ToString(), "112233445566");
  EXPECT_EQ(list.Items(1)->Value.ToString(), "");
  EXPECT_EQ(list.AddString(" ", "x"), nullptr);

  // A string as long as the last one, written into it, is the new text;
  // text beyond ASCII is not written over it.
  list.Clear();
  list.AddString("DATA_PACKET", "\xE9\xE9");
  EXPECT_EQ(list.Items(0)->Value.Raw().bstrVal[0], 0xE9);

  // Copies into a refilled list take the source's strings: the same, as
  // long or not.
  list.Clear();
  list.AddString("DATA_PACKET", "112233445566");
  list.AddString("DEVICE_ID", "");
  TqonParamsList copy;
  copy.AddItems(list);
  for (const char* changed : {"665544332211", "changed"}) {
    list.Items(0)->Value = changed;
    copy.Clear();
    copy.AddItems(list);
    EXPECT_EQ(copy.Items(0)->Value.ToString(), changed);
    EXPECT_EQ(copy.Items(1)->Value.ToString(), "");
  }
}

TEST(ParamsListRemove, DeleteBounds) {
  TqonParamsList list;
  list.Add("a", 1);
  list.Add("b", 2);
  list.Delete(2);  // Count or more: nothing
  EXPECT_EQ(list.Count(), 2);
  EXPECT_THROW(list.Delete(-1), EAssertionFailed);
  EXPECT_EQ(list.Count(), 2);
  list.Delete(0);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"b"}));
}

TEST(ParamsListRemove, ADestroyedListRefusesLookUpsAndCopies) {
  TqonParamsList list;
  list.Add("a", 1);
  TqonParamsList other;
  list.Signature = 0;
  EXPECT_THROW(list.IndexOf("a"), EAssertionFailed);
  EXPECT_THROW(list.GetValue("a"), EAssertionFailed);
  EXPECT_THROW(list.Add("b", 1), EAssertionFailed);
  EXPECT_THROW(other.AddItems(list), EAssertionFailed);
  list.Signature = kParamsListSignature;
}

TEST(ParsedDataList, TextsJoinWithTheSeparatorAndClearEmptiesThem) {
  TParsedDataList list;
  list.AddText("a");
  EXPECT_EQ(list.Text, "a");
  list.AddText("b");
  EXPECT_EQ(list.Text, "a<{[::]}>b");
  list.Add("v", 1);
  TqonParamsList& base = list;
  base.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Text, "");
}

}  // namespace
