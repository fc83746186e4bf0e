// The host kit's parameter list on its own, and lists crossing the edge in
// both directions between it and the library.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "base/errors.h"
#include "hostkit/params_list.h"
#include "paramlist/params_edge.h"
#include "paramlist/params_list.h"
#include "paramlist/params_list_wrap.h"
#include "platform/strings.h"

namespace {

using host::kOk;
using host::Value;
using platform::HRESULT;
using platform::VARIANT;

constexpr int kAddItemFromSlot = 22;

struct ItemHolder {
  host::IListItemA* p = nullptr;
  ~ItemHolder() {
    if (p) p->Release();
  }
};

// --- the kit's list as the plug-in uses it ---

TEST(HostParamsList, LookUpIgnoresCaseAndStopsAtTheRowEndOnMinusTwo) {
  host::ListPtr list = host::MakeList();
  host::IListA* intf = list.get();
  const Value one = Value::Int(1);
  ItemHolder it;
  ASSERT_EQ(intf->Add("TEMP", &one.get(), &it.p), kOk);
  ASSERT_NE(it.p, nullptr);
  EXPECT_STREQ(it.p->GetName(), "TEMP");
  EXPECT_EQ(it.p->GetFlags(), 2);
  intf->Add("b", &one.get(), nullptr);
  intf->AddNewRow();
  intf->AddNewRow();  // one separator only
  intf->Add("c", &one.get(), nullptr);
  EXPECT_EQ(intf->GetCount(), 4);
  int32_t index = 0;
  ASSERT_EQ(intf->IndexOf("temp", 0, -1, &index), kOk);
  EXPECT_EQ(index, 0);
  intf->IndexOf("c", 0, -2, &index);
  EXPECT_EQ(index, -1);
  intf->IndexOf("c", 0, -1, &index);
  EXPECT_EQ(index, 3);
  bool sep = false;
  ASSERT_TRUE(intf->FindEndOfRow(0, &index, &sep));
  EXPECT_EQ(index, 2);
  EXPECT_TRUE(sep);
  EXPECT_FALSE(intf->FindEndOfRow(4, &index, &sep));
}

TEST(HostParamsList, BlankNamesAddNothing) {
  host::ListPtr list = host::MakeList();
  const Value v = Value::Int(1);
  ItemHolder it;
  EXPECT_EQ(list->Add("  ", &v.get(), &it.p), kOk);
  EXPECT_EQ(it.p, nullptr);
  EXPECT_EQ(list->GetCount(), 0);
  ASSERT_EQ(list->Add(" X ", &v.get(), &it.p), kOk);
  EXPECT_STREQ(it.p->GetName(), " X ");
}

TEST(HostParamsList, HostStringVariantsBecomeOleStrings) {
  host::ListPtr list = host::MakeList();
  VARIANT v{};
  v.vt = platform::VT_HOST_ANSI_STRING;
  v.byref = const_cast<char*>("LOAD");
  list->Add("COMMAND", &v, nullptr);
  const platform::WString wide = platform::AnsiToWide("wide");
  v.vt = platform::VT_HOST_UNICODE_STRING;
  v.byref = const_cast<platform::WChar*>(wide.c_str());
  list->SetValue("W", &v, true, nullptr);
  Value out;
  ASSERT_EQ(list->GetValue("command", 0, -1, out.out()), kOk);
  EXPECT_EQ(out.get().vt, platform::VT_BSTR);
  EXPECT_EQ(out.AsText(), "LOAD");
  ASSERT_EQ(list->GetValue("W", 0, -1, out.out()), kOk);
  EXPECT_EQ(out.AsText(), "wide");
}

TEST(HostParamsList, SetValueCreatesOnlyWhenAskedAndDefaultsFillGaps) {
  host::ListPtr list = host::MakeList();
  const Value v = Value::Text("x");
  ItemHolder it;
  ASSERT_EQ(list->SetValue("RESULT", &v.get(), false, &it.p), kOk);
  EXPECT_EQ(it.p, nullptr);
  EXPECT_EQ(list->GetCount(), 0);
  list->Put("RESULT", Value::Null());
  ASSERT_EQ(list->SetValue("result", &v.get(), false, &it.p), kOk);
  ASSERT_NE(it.p, nullptr);
  EXPECT_EQ(list->Find("RESULT")->value.AsText(), "x");
  const Value def = Value::Int(7);
  Value out = Value::Text("stale");
  ASSERT_EQ(list->GetValueDef("NONE", &def.get(), 0, -1, out.out()), kOk);
  EXPECT_EQ(out.get().vt, platform::VT_I4);
  EXPECT_EQ(out.get().lVal, 7);
  ASSERT_EQ(list->GetValue("NONE", 0, -1, out.out()), kOk);
  EXPECT_EQ(out.get().vt, platform::VT_EMPTY);
}

TEST(HostParamsList, ItemReferencesOutliveTheList) {
  ItemHolder it;
  {
    host::ListPtr list = host::MakeList();
    const Value v = Value::Double(223.2);
    list->Add("VOLTAGE_A", &v.get(), &it.p);
    list->Clear();
  }
  it.p->SetDataType(5);
  EXPECT_EQ(it.p->GetDataType(), 5);
  Value out;
  ASSERT_EQ(it.p->GetValue(out.out()), kOk);
  EXPECT_DOUBLE_EQ(out.get().dblVal, 223.2);
  EXPECT_STREQ(it.p->GetKey(), "voltage_a");
  it.p->SetKey("k");
  EXPECT_STREQ(it.p->GetKey(), "k");
  void* w = nullptr;
  ASSERT_EQ(it.p->QueryInterface(&host::kIidItemW, &w), kOk);
  auto* wide = static_cast<host::IListItemW*>(w);
  EXPECT_EQ(platform::WideToAnsi(wide->GetNameW()), "VOLTAGE_A");
  wide->Release();
  EXPECT_EQ(it.p->QueryInterface(&host::kIidListA, &w), host::kNoInterface);
  EXPECT_EQ(w, nullptr);
}

TEST(HostParamsList, RowsSplitAtSeparators) {
  host::ListPtr list = host::MakeList();
  list->Put("A", Value::Int(1));
  list->AddNewRow();
  const Value v = Value::Int(2);
  list->Add("A", &v.get(), nullptr);
  list->Add("B", &v.get(), nullptr);
  const auto rows = host::ReadRecords(static_cast<host::IListA*>(list.get()));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].size(), 1u);
  ASSERT_EQ(rows[1].size(), 2u);
  EXPECT_EQ(rows[1][1].name, "B");
  EXPECT_EQ(host::ReadRecords(*list).size(), 2u);
}

// --- the library reading the kit's list through its own declarations ---

IqonParamsListA* AsIntf(host::ParamsList& list) {
  return reinterpret_cast<IqonParamsListA*>(static_cast<host::IListA*>(&list));
}

struct HostListFixture : ::testing::Test {
  HostListFixture() {
    host::ListItem& address = h->Put("Address", Value::Text("000012345678"));
    address.data_type = 3;
    address.flags = 0x40;
    h->Put("Count", Value::Int(7));
    h->Put("Raw", Value::Int(0)).host_text = "bytes";
    h->Put("Empty", Value());
  }
  // The library keeps no reference of the list or its items after a call.
  void ExpectNoReferencesKept() {
    EXPECT_EQ(h->References(), 1u);
    for (size_t i = 0; i < h->Size(); ++i)
      EXPECT_EQ(h->At(i).handed_out, 0) << h->At(i).name;
  }
  host::ListPtr h = host::MakeList();
};

TEST_F(HostListFixture, CopyFromIntfTakesNamesValuesTypesAndFlags) {
  TqonParamsList list;
  ASSERT_TRUE(list.CopyFromIntf(AsIntf(*h)));
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
  ExpectNoReferencesKept();
}

TEST_F(HostListFixture, CopyFromIntfRanges) {
  TqonParamsList list;
  EXPECT_FALSE(list.CopyFromIntf(nullptr));
  ASSERT_TRUE(list.CopyFromIntf(AsIntf(*h), 1, 1));
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->Name, "Count");
  ASSERT_TRUE(list.CopyFromIntf(AsIntf(*h), 2, 99));  // past the end: up to the last
  EXPECT_EQ(list.Count(), 3);
  EXPECT_TRUE(list.CopyFromIntf(AsIntf(*h), 9, -1));  // nothing in range
  EXPECT_EQ(list.Count(), 3);
  EXPECT_THROW(list.CopyFromIntf(AsIntf(*h), -1, -1), EAssertionFailed);
  host::ListPtr empty = host::MakeList();
  EXPECT_TRUE(list.CopyFromIntf(AsIntf(*empty)));
  ExpectNoReferencesKept();
}

TEST_F(HostListFixture, AddItemFromIntfKeepsTheHostsFlags) {
  TqonParamsList list;
  ItemHolder source;
  ASSERT_EQ(h->GetItem(0, &source.p), kOk);
  TqonParamsListItem* item = list.AddItemFromIntf(reinterpret_cast<IqonParamsListItemA*>(source.p));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Name, "Address");
  EXPECT_EQ(item->Key, "address");
  EXPECT_EQ(item->Flags, 0x40);
  EXPECT_EQ(item->DataType, 3);
  EXPECT_EQ(list.AddItemFromIntf(nullptr), nullptr);
}

// An item whose narrow and wide slots answer differently, to see which ones
// the library's narrow and wide lists read.
class TwoFacedItem final : public host::IListItemW {
 public:
  HRESULT QON_STDCALL QueryInterface(const platform::Guid* iid, void** out) override {
    *out = nullptr;
    if (*iid != host::kIidItemA && *iid != host::kIidItemW) return host::kNoInterface;
    ++refs;
    *out = this;
    return kOk;
  }
  uint32_t QON_STDCALL AddRef() override { return ++refs; }
  uint32_t QON_STDCALL Release() override { return --refs; }
  void QON_STDCALL SetKey(const char*) override {}
  void QON_STDCALL SetDataType(int32_t) override {}
  void QON_STDCALL SetFlags(uint8_t) override {}
  const char* QON_STDCALL GetKey() override { return nullptr; }
  int32_t QON_STDCALL GetDataType() override { return 0; }
  uint8_t QON_STDCALL GetFlags() override { return 0x40; }
  HRESULT QON_STDCALL SetValue(const VARIANT*) override { return host::kFailed; }
  HRESULT QON_STDCALL GetValue(VARIANT* v) override { return Int(v, 7); }
  void QON_STDCALL SetName(const char*) override {}
  const char* QON_STDCALL GetName() override { return "narrow"; }
  bool QON_STDCALL IsNewRow() override { return false; }
  void QON_STDCALL SetNameW(const platform::WChar*) override {}
  const platform::WChar* QON_STDCALL GetNameW() override { return wide_name.c_str(); }
  HRESULT QON_STDCALL SetValueW(const VARIANT*) override { return host::kFailed; }
  HRESULT QON_STDCALL GetValueW(VARIANT* v) override { return Int(v, 8); }

  int refs = 1;
  platform::WString wide_name = platform::AnsiToWide("wide");

 private:
  static HRESULT Int(VARIANT* v, int32_t i) {
    platform::VariantClear(v);
    v->vt = platform::VT_I4;
    v->lVal = i;
    return kOk;
  }
};

TEST(HostListItem, AddItemFromUsesTheNarrowOrWideItemSlots) {
  TwoFacedItem item;
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* added = nullptr;
  ASSERT_EQ(host::Slot<HRESULT>(wrap->IntfA(), kAddItemFromSlot, &item, &added), 0);
  host::Slot<uint32_t>(added, 2);
  ASSERT_EQ(host::Slot<HRESULT>(wrap->IntfW(), kAddItemFromSlot, &item, &added), 0);
  host::Slot<uint32_t>(added, 2);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0)->Name, "narrow");
  EXPECT_EQ(list.Items(0)->Value.ToInt(), 7);
  EXPECT_EQ(list.Items(0)->Flags, 2);  // an Add: the host's flags are not taken
  EXPECT_EQ(list.Items(1)->Name, "wide");
  EXPECT_EQ(list.Items(1)->Value.ToInt(), 8);
  EXPECT_EQ(item.refs, 1);
}

TEST_F(HostListFixture, ReadingParametersFromAHostList) {
  OleVariant v;
  EXPECT_TRUE(TryReadIntfValue(AsIntf(*h), "COUNT", &v));
  EXPECT_EQ(v.ToInt(), 7);
  EXPECT_EQ(ReadIntfValue(AsIntf(*h), "raw").ToString(), "bytes");
  EXPECT_FALSE(TryReadIntfValue(AsIntf(*h), "Empty", &v));
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_FALSE(TryReadIntfValue(AsIntf(*h), "Missing", &v));
  EXPECT_FALSE(TryReadIntfValue(nullptr, "Count", &v));
  ExpectNoReferencesKept();
}

// What Params carries: the address of the host's interface variable. The
// word after it is whatever the host keeps there, never a list signature.
TEST_F(HostListFixture, AHostVariableIsNotTakenForAListObject) {
  const auto ptr = reinterpret_cast<void*>(h->InterfaceVariable());
  EXPECT_FALSE(IsParamsListObject(ptr));
  struct {
    void* intf;
    uint64_t next;
  } variable{static_cast<host::IListA*>(h.get()), 0};
  EXPECT_FALSE(IsParamsListObject(&variable));
  bool wrapped = true;
  IntfPtr<IqonParamsListA> intf = ListIntfFromPointer(&variable, &wrapped);
  EXPECT_FALSE(wrapped);
  EXPECT_EQ(static_cast<void*>(intf.get()), variable.intf);
  EXPECT_EQ(h->References(), 2u);
  intf.Reset();
  ExpectNoReferencesKept();
#ifndef _WIN32
  // A variable in the last word of readable memory is read all the same.
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* pages = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(static_cast<char*>(pages) + page, page, PROT_NONE), 0);
  auto* last = reinterpret_cast<void**>(static_cast<char*>(pages) + page - sizeof(void*));
  *last = variable.intf;
  intf = ListIntfFromPointer(last, &wrapped);
  EXPECT_FALSE(wrapped);
  EXPECT_EQ(static_cast<void*>(intf.get()), variable.intf);
  intf.Reset();
  munmap(pages, 2 * page);
  ExpectNoReferencesKept();
#endif
  intf = ListIntfFromPointer(ptr, &wrapped);
  EXPECT_FALSE(wrapped);
  ASSERT_TRUE(intf);
  EXPECT_EQ(ReadIntfValue(intf.get(), "address").ToString(), "000012345678");
  EXPECT_TRUE(ReadIntfValue(intf.get(), "HANDLE").IsEmpty());
}

}  // namespace
