#include <gtest/gtest.h>

#include "hostkit/params_list.h"
#include "paramlist/params_edge.h"
#include "platform/strings.h"

namespace {

using namespace host;
using platform::VARIANT;

struct ItemHolder {
  IListItemA* p = nullptr;
  ~ItemHolder() {
    if (p) p->Release();
  }
};

std::string Text(const Value& v) {
  return v.AsText();
}

TEST(HostParamsList, LookUpIgnoresCaseAndStopsAtTheRowEndOnMinusTwo) {
  ListPtr list = MakeList();
  IListA* intf = list.get();
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
  ListPtr list = MakeList();
  const Value v = Value::Int(1);
  ItemHolder it;
  EXPECT_EQ(list->Add("  ", &v.get(), &it.p), kOk);
  EXPECT_EQ(it.p, nullptr);
  EXPECT_EQ(list->GetCount(), 0);
  ASSERT_EQ(list->Add(" X ", &v.get(), &it.p), kOk);
  EXPECT_STREQ(it.p->GetName(), " X ");
}

TEST(HostParamsList, HostStringVariantsBecomeOleStrings) {
  ListPtr list = MakeList();
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
  EXPECT_EQ(Text(out), "LOAD");
  ASSERT_EQ(list->GetValue("W", 0, -1, out.out()), kOk);
  EXPECT_EQ(Text(out), "wide");
}

TEST(HostParamsList, SetValueCreatesOnlyWhenAskedAndDefaultsFillGaps) {
  ListPtr list = MakeList();
  const Value v = Value::Text("x");
  ItemHolder it;
  ASSERT_EQ(list->SetValue("RESULT", &v.get(), false, &it.p), kOk);
  EXPECT_EQ(it.p, nullptr);
  EXPECT_EQ(list->GetCount(), 0);
  list->Put("RESULT", Value::Null());
  ASSERT_EQ(list->SetValue("result", &v.get(), false, &it.p), kOk);
  ASSERT_NE(it.p, nullptr);
  EXPECT_EQ(Text(list->Find("RESULT")->value), "x");
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
    ListPtr list = MakeList();
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
  ASSERT_EQ(it.p->QueryInterface(&kIidItemW, &w), kOk);
  auto* wide = static_cast<IListItemW*>(w);
  EXPECT_EQ(platform::WideToAnsi(wide->GetNameW()), "VOLTAGE_A");
  wide->Release();
  EXPECT_EQ(it.p->QueryInterface(&kIidListA, &w), kNoInterface);
  EXPECT_EQ(w, nullptr);
}

TEST(HostParamsList, RowsSplitAtSeparators) {
  ListPtr list = MakeList();
  list->Put("A", Value::Int(1));
  list->AddNewRow();
  const Value v = Value::Int(2);
  list->Add("A", &v.get(), nullptr);
  list->Add("B", &v.get(), nullptr);
  const auto rows = ReadRecords(static_cast<IListA*>(list.get()));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].size(), 1u);
  ASSERT_EQ(rows[1].size(), 2u);
  EXPECT_EQ(rows[1][1].name, "B");
  EXPECT_EQ(ReadRecords(*list).size(), 2u);
}

// The library reads the host's list through its own declaration of the
// interface: slots and calling convention must agree.
TEST(HostParamsList, TheLibraryReadsTheHostsList) {
  ListPtr list = MakeList();
  list->Put("INI-FILE", Value::Text("C:\\x.ini"));
  list->Put("CONFIG-ID", Value::Int(-5));
  const auto ptr = reinterpret_cast<void*>(list->InterfaceVariable());
  EXPECT_FALSE(IsParamsListObject(ptr));
  bool wrapped = true;
  IntfPtr<IqonParamsListA> intf = ListIntfFromPointer(ptr, &wrapped);
  EXPECT_FALSE(wrapped);
  ASSERT_TRUE(intf);
  EXPECT_EQ(ReadIntfValue(intf.get(), "ini-file").ToString(), "C:\\x.ini");
  EXPECT_EQ(ReadIntfValue(intf.get(), "CONFIG-ID").ToInt64(), -5);
  EXPECT_TRUE(ReadIntfValue(intf.get(), "HANDLE").IsEmpty());
}

}  // namespace
