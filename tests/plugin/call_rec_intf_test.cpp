#include "plugin/plugin_call_rec_intf.h"

#include <gtest/gtest.h>

#include "paramlist/params_edge.h"
#include "paramlist/params_list_wrap.h"

// Fields of the packed records are compared as values (+field): a reference
// to one may be misaligned.
namespace {

TPluginCallRec Record() {
  TPluginCallRec rec{};
  rec.Size = kCallRecSize;
  rec.Flags = 1;
  return rec;
}

TEST(CallRecIntf, ListObjectParamsAreServedThroughAnInterfaceAndPutBack) {
  TqonParamsList params;
  params.Add("COMMAND", "LOAD");
  TPluginCallRec rec = Record();
  rec.Params = reinterpret_cast<uintptr_t>(&params);
  {
    TPluginCallRecIntf call(&rec);
    EXPECT_NE(+rec.Params, reinterpret_cast<uintptr_t>(&params));
    // Params now holds an interface variable, as the newer hosts pass it.
    IntfPtr<IqonParamsListA> intf = ReceiveListIntf(reinterpret_cast<void*>(rec.Params));
    ASSERT_TRUE(intf);
    EXPECT_EQ(ReadIntfValue(intf.get(), "COMMAND").ToString(), "LOAD");
    EXPECT_EQ(call.Value("command").ToString(), "LOAD");
    EXPECT_EQ(+rec.Flags, 1);
  }
  EXPECT_EQ(+rec.Params, reinterpret_cast<uintptr_t>(&params));
  EXPECT_EQ(+rec.Flags, 1);
}

TEST(CallRecIntf, InterfaceParamsSetTheFlagForTheCallOnly) {
  TqonParamsList params;
  params.Add("X", 7);
  auto wrap = TqonParamsListWrap::Create(&params, true);
  TPluginCallRec rec = Record();
  rec.Params = reinterpret_cast<uintptr_t>(wrap->GetIntfRef());
  {
    TPluginCallRecIntf call(&rec);
    EXPECT_EQ(+rec.Flags, 1 | kFlagParamsIntf);
    EXPECT_EQ(call.Value("X").ToInt(), 7);
    EXPECT_EQ(wrap->RefCount(), 2);
  }
  EXPECT_EQ(+rec.Flags, 1);
  EXPECT_EQ(+rec.Params, reinterpret_cast<uintptr_t>(wrap->GetIntfRef()));
  EXPECT_EQ(wrap->RefCount(), 1);
}

TEST(CallRecIntf, ListDescriptorsBecomeKindNineAndComeBackUnlessReplaced) {
  TqonParamsList in, out;
  in.Add("A", 1);
  TPluginCallRec rec = Record();
  rec.Input.Kind = kKindListObject;
  rec.Input.Data = reinterpret_cast<uintptr_t>(&in);
  rec.Output.Kind = kKindListObject2;
  rec.Output.Data = reinterpret_cast<uintptr_t>(&out);
  static const char kText[] = "left by the call";
  {
    TPluginCallRecIntf call(&rec);
    EXPECT_EQ(+rec.Input.Kind, kKindListIntf);
    EXPECT_EQ(+rec.Output.Kind, kKindListIntf);
    ASSERT_TRUE(call.InputList());
    EXPECT_EQ(call.InputList()->GetCount(), 1);
    IntfPtr<IqonParamsListA> o = DescriptorList(rec.Output);
    ASSERT_TRUE(o);
    OleVariant v(5);
    IqonParamsListItemA* item = nullptr;
    o->Add("B", &v.Raw(), &item);
    item->Release();
    // The call deliberately leaves a text in Input.
    rec.Input.Kind = kKindText;
    rec.Input.Data = reinterpret_cast<uintptr_t>(kText);
  }
  EXPECT_EQ(+rec.Output.Kind, kKindListObject2);
  EXPECT_EQ(+rec.Output.Data, reinterpret_cast<uintptr_t>(&out));
  EXPECT_EQ(out.GetValue("B").ToInt(), 5);
  EXPECT_EQ(+rec.Input.Kind, kKindText);
  EXPECT_EQ(+rec.Input.Data, reinterpret_cast<uintptr_t>(kText));
}

TEST(CallRecIntf, DescriptorsThatHoldNoListAreLeftAlone) {
  int raw = 42;
  TPluginCallRec rec = Record();
  rec.Input.Kind = kKindListObject;  // kind 1 only counts with the list signature
  rec.Input.Data = reinterpret_cast<uintptr_t>(&raw);
  rec.Output.Kind = kKindListObject2;
  rec.Output.Data = 0;
  {
    TPluginCallRecIntf call(&rec);
    EXPECT_EQ(+rec.Input.Kind, kKindListObject);
    EXPECT_EQ(+rec.Output.Kind, kKindListObject2);
    EXPECT_FALSE(call.InputList());
    EXPECT_FALSE(call.Params());
  }
  EXPECT_EQ(+rec.Input.Data, reinterpret_cast<uintptr_t>(&raw));
  TPluginCallRecIntf none(nullptr);
  EXPECT_FALSE(none.Active());
}

}  // namespace
