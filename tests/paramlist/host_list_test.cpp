// Lists crossing the edge in both directions with a host-side list written
// independently of the library.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "host_list.h"
#include "paramlist/params_edge.h"
#include "paramlist/params_list.h"
#include "paramlist/params_list_wrap.h"
#include "raw_vtable.h"

namespace {

using platform::HRESULT;
using rawcall::Slot;

constexpr int kAddItemFromSlot = 22;

IqonParamsListA* AsIntf(host::List& list) {
  return reinterpret_cast<IqonParamsListA*>(&list);
}
IqonParamsListItemA* AsIntf(host::Item& item) {
  return reinterpret_cast<IqonParamsListItemA*>(&item);
}

void ExpectNoReferencesKept(const host::List& h) {
  EXPECT_EQ(h.refs, 1);
  for (const auto& item : h.items)
    EXPECT_EQ(item->refs, 1) << item->name;
  EXPECT_EQ(h.unexpected_calls, 0);
}

struct HostListFixture : ::testing::Test {
  HostListFixture() {
    host::Item& address = h.AddText("Address", "000012345678");
    address.key = "zzz";  // a key of the host's own: ours must not take it
    address.data_type = 3;
    address.flags = 0x40;
    h.AddInt("Count", 7);
    host::Item& raw = h.AddInt("Raw", 0);
    raw.answer_ansi_pointer = true;
    raw.ansi_text = "bytes";
    h.Add("Empty", platform::VARIANT{});
  }
  host::List h;
};

TEST_F(HostListFixture, CopyFromIntfTakesNamesValuesTypesAndFlags) {
  TqonParamsList list;
  ASSERT_TRUE(list.CopyFromIntf(AsIntf(h)));
  ASSERT_EQ(list.Count(), 4);
  const TqonParamsListItem* address = list.Items(0);
  EXPECT_EQ(address->Name, "Address");
  EXPECT_EQ(address->Key, "address");
  EXPECT_EQ(address->DataType, 3);
  EXPECT_EQ(address->Flags, 0x40);
  EXPECT_EQ(address->Value.ToString(), "000012345678");
  EXPECT_EQ(list.IndexOf("ADDRESS"), 0);
  EXPECT_EQ(list.GetValue("count").ToInt(), 7);
  EXPECT_EQ(list.GetValue("raw").Type(), platform::VT_BSTR);
  EXPECT_EQ(list.GetValue("raw").ToString(), "bytes");
  ExpectNoReferencesKept(h);
}

TEST_F(HostListFixture, CopyFromIntfRanges) {
  TqonParamsList list;
  EXPECT_FALSE(list.CopyFromIntf(nullptr));
  ASSERT_TRUE(list.CopyFromIntf(AsIntf(h), 1, 1));
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->Name, "Count");
  ASSERT_TRUE(list.CopyFromIntf(AsIntf(h), 2, 99));  // past the end: up to the last
  EXPECT_EQ(list.Count(), 3);
  EXPECT_TRUE(list.CopyFromIntf(AsIntf(h), 9, -1));  // nothing in range
  EXPECT_EQ(list.Count(), 3);
  EXPECT_THROW(list.CopyFromIntf(AsIntf(h), -1, -1), EAssertionFailed);
  host::List empty;
  EXPECT_TRUE(list.CopyFromIntf(AsIntf(empty)));
  ExpectNoReferencesKept(h);
}

TEST_F(HostListFixture, AddItemFromIntfKeepsTheHostsFlags) {
  TqonParamsList list;
  TqonParamsListItem* item = list.AddItemFromIntf(AsIntf(*h.items[0]));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Name, "Address");
  EXPECT_EQ(item->Key, "address");
  EXPECT_EQ(item->Flags, 0x40);
  EXPECT_EQ(item->DataType, 3);
  EXPECT_EQ(list.AddItemFromIntf(nullptr), nullptr);
  ExpectNoReferencesKept(h);
}

TEST_F(HostListFixture, AddItemFromUsesTheNarrowOrWideItemSlots) {
  host::Item& item = *h.items[1];
  item.name = "narrow";
  item.name_w = platform::AnsiToWide("wide");
  item.value_w.lVal = 8;
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* added = nullptr;
  ASSERT_EQ(Slot<HRESULT>(wrap->IntfA(), kAddItemFromSlot, &item, &added), 0);
  Slot<uint32_t>(added, 2);
  ASSERT_EQ(Slot<HRESULT>(wrap->IntfW(), kAddItemFromSlot, &item, &added), 0);
  Slot<uint32_t>(added, 2);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0)->Name, "narrow");
  EXPECT_EQ(list.Items(0)->Value.ToInt(), 7);
  EXPECT_EQ(list.Items(0)->Flags, 2);  // an Add: the host's flags are not taken
  EXPECT_EQ(list.Items(1)->Name, "wide");
  EXPECT_EQ(list.Items(1)->Value.ToInt(), 8);
  ExpectNoReferencesKept(h);
}

TEST_F(HostListFixture, ReadingParametersFromAHostList) {
  OleVariant v;
  EXPECT_TRUE(TryReadIntfValue(AsIntf(h), "COUNT", &v));
  EXPECT_EQ(v.ToInt(), 7);
  EXPECT_EQ(ReadIntfValue(AsIntf(h), "raw").ToString(), "bytes");
  EXPECT_FALSE(TryReadIntfValue(AsIntf(h), "Empty", &v));
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_FALSE(TryReadIntfValue(AsIntf(h), "Missing", &v));
  EXPECT_FALSE(TryReadIntfValue(nullptr, "Count", &v));
  ExpectNoReferencesKept(h);
}

TEST_F(HostListFixture, AHostVariableIsNotTakenForAListObject) {
  // A host passes the address of its interface variable; the word after it
  // is whatever the host keeps there.
  struct {
    void* intf;
    uint64_t next;
  } variable{&h, 0};
  EXPECT_FALSE(IsParamsListObject(&variable));
  bool wrapped = true;
  IntfPtr<IqonParamsListA> intf = ListIntfFromPointer(&variable, &wrapped);
  EXPECT_FALSE(wrapped);
  EXPECT_EQ(static_cast<void*>(intf.get()), static_cast<void*>(&h));
  EXPECT_EQ(h.refs, 2);
  intf.Reset();
  ExpectNoReferencesKept(h);
}

}  // namespace
