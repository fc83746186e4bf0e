#include "paramlist/params_edge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paramlist/edge_platform.h"
#include "paramlist/parsed_data_list.h"

namespace {

std::vector<std::string> g_debug_lines;
void CaptureDebug(std::string_view text) {
  g_debug_lines.emplace_back(text);
}

TEST(ParamsEdgeProbe, TellsListObjectsFromInterfaceVariables) {
  TqonParamsList list;
  TParsedDataList parsed;
  EXPECT_TRUE(IsParamsListObject(&list));
  EXPECT_TRUE(IsParamsListObject(&parsed));
  EXPECT_EQ(AsParamsListObject(static_cast<TqonParamsList*>(&parsed)), &parsed);
  EXPECT_FALSE(IsParamsListObject(nullptr));
  // Unreadable memory answers false instead of faulting.
  EXPECT_FALSE(IsParamsListObject(reinterpret_cast<void*>(uintptr_t{16})));
  EXPECT_FALSE(ReceiveListIntf(reinterpret_cast<void*>(uintptr_t{16})));

  auto wrap = TqonParamsListWrap::Create(&list, true);
  IqonParamsListA* variable = *wrap->GetIntfRef();
  EXPECT_FALSE(IsParamsListObject(&variable));
  // A wrap is not a list object either.
  EXPECT_FALSE(IsParamsListObject(wrap.get()));
}

TEST(ParamsEdgeProbe, ListObjectsGetABorrowingWrapOfTheirOwn) {
  TqonParamsList list;
  list.Add("HANDLE", int64_t{0x7FFF00001234});
  bool wrapped = false;
  IntfPtr<IqonParamsListA> intf = ListIntfFromPointer(&list, &wrapped);
  ASSERT_TRUE(intf);
  EXPECT_TRUE(wrapped);
  EXPECT_EQ(intf->GetCount(), 1);
  EXPECT_EQ(ReadIntfValue(intf.get(), "handle").ToInt64(), 0x7FFF00001234);
  intf.Reset();
  EXPECT_EQ(list.Count(), 1);  // borrowed: the list stays
}

TEST(ParamsEdgeReceive, CopiesAndReleasesTheHostsReference) {
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  IqonParamsListA** variable = wrap->GetIntfRef();
  {
    IntfPtr<IqonParamsListA> received = ReceiveListIntf(variable);
    EXPECT_EQ(received.get(), *variable);
    EXPECT_EQ(wrap->RefCount(), 2);
  }
  EXPECT_EQ(wrap->RefCount(), 1);
  // The call copy keeps its reference in a slot and hands out the slot.
  IntfPtr<IqonParamsListA> slot = ReceiveListIntf(variable);
  EXPECT_EQ(ReceiveListIntf(slot.Address()).get(), *variable);
  slot.Reset();
  EXPECT_EQ(wrap->RefCount(), 1);
  IqonParamsListA* none = nullptr;
  EXPECT_FALSE(ReceiveListIntf(&none));
  EXPECT_FALSE(ReceiveListIntf(nullptr));
}

TEST(ParamsEdgeReceive, EmptyAndNullValuesCountAsAbsent) {
  TqonParamsList list;
  list.Add("EMPTY", OleVariant());
  list.Add("NULL", OleVariant::Null());
  list.Add("TEXT", "");
  auto wrap = TqonParamsListWrap::Create(&list, true);
  OleVariant v = 5;
  EXPECT_FALSE(TryReadIntfValue(wrap->IntfA(), "EMPTY", &v));
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_FALSE(TryReadIntfValue(wrap->IntfA(), "NULL", &v));
  EXPECT_TRUE(TryReadIntfValue(wrap->IntfA(), "TEXT", &v));  // an empty text is a value
}

TEST(ParamsEdgePass, AListGoesToTheHostForOneCall) {
  g_debug_lines.clear();
  const ParamsListDebugSink previous = SetParamsListDebugSink(&CaptureDebug);
  TParsedDataList list;
  list.Add("VOLTAGE_A", 220.5);
  {
    ListForHost pass(list);
    IqonParamsListA** data = pass.IntfRef();
    ASSERT_NE(data, nullptr);
    // What the host does with a kind-9 descriptor's Data.
    IqonParamsListA* intf = *data;
    EXPECT_EQ(intf->GetCount(), 1);
    intf->Add("RESULT", nullptr, nullptr);
  }
  EXPECT_EQ(list.Count(), 2);
  EXPECT_TRUE(g_debug_lines.empty());
  SetParamsListDebugSink(previous);
}

}  // namespace
