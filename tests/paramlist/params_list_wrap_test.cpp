#include "paramlist/params_list_wrap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "hostkit/params_list.h"
#include "paramlist/edge_platform.h"
#include "paramlist/params_edge.h"
#include "paramlist/params_list_item_wrap.h"

namespace {

using host::Slot;
using platform::HRESULT;
using platform::VARIANT;

constexpr HRESULT kFailed = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002);

// Slot numbers as published; the test spells them out rather than trusting
// the library's own declarations.
enum ListSlot {
  kQueryInterface = 0,
  kAddRef,
  kRelease,
  kGetCount,
  kGetSignature,
  kGetTag,
  kSetTag,
  kClear,
  kDelete,
  kFindEndOfRow,
  kAddNewRow,
  kAddRows,
  kGetItem,
  kAddItems,
  kAddItemsRange,
  kFindItem,
  kIndexOf,
  kGetValue,
  kGetValueDef,
  kAdd,
  kInsert,
  kSetValue,
  kAddItemFrom,
};
enum ItemSlot {
  kSetKey = 3,
  kSetDataType,
  kSetFlags,
  kGetKey,
  kGetDataType,
  kGetFlags,
  kItemSetValue,
  kItemGetValue,
  kSetName,
  kGetName,
  kIsNewRow,
  kSetNameW,
  kGetNameW,
  kSetValueW,
  kGetValueW,
};

// The identities as 16 bytes in memory, independent of the library's constants.
std::vector<unsigned char> Id(unsigned char last) {
  return {0x29, 0x6D, 0x31, 0x33, 0x86, 0x0F, 0xC4, 0x41,
          0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, last};
}

std::string Text(const VARIANT& v) {
  return platform::BstrToAnsi(v.bstrVal);
}

platform::WString W(const char* s) {
  return platform::AnsiToWide(s);
}

void ReleaseRaw(void* intf) {
  Slot<uint32_t>(intf, kRelease);
}

// Captures what the wraps write to the debugger output.
class DebugCapture {
 public:
  DebugCapture() {
    previous_ = SetParamsListDebugSink(&Sink);
    Lines().clear();
  }
  ~DebugCapture() { SetParamsListDebugSink(previous_); }
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }

 private:
  static void Sink(std::string_view text) { Lines().emplace_back(text); }
  ParamsListDebugSink previous_;
};

// A list that tells when it is freed.
struct WatchedList : TqonParamsList {
  explicit WatchedList(bool* freed) : freed_(freed) {}
  ~WatchedList() override { *freed_ = true; }
  bool* freed_;
};

TEST(ParamsListAbi, GuidsAndSizesAsPublished) {
  auto bytes = [](const platform::Guid& g) {
    const auto* p = reinterpret_cast<const unsigned char*>(&g);
    return std::vector<unsigned char>(p, p + 16);
  };
  EXPECT_EQ(bytes(IID_IqonParamsListA), Id(0xB1));
  EXPECT_EQ(bytes(IID_IqonParamsListW), Id(0xB2));
  EXPECT_EQ(bytes(IID_IqonParamsListItemA), Id(0xB4));
  EXPECT_EQ(bytes(IID_IqonParamsListItemW), Id(0xB6));
  EXPECT_EQ(sizeof(bool), 1u);
  EXPECT_EQ(sizeof(platform::WChar), 2u);
  EXPECT_EQ(sizeof(VARIANT), sizeof(void*) == 8 ? 24u : 16u);
  // The wrap object and its W interface are one address: hosts pass either.
  auto wrap = TqonParamsListWrap::Create();
  EXPECT_EQ(static_cast<void*>(wrap->IntfW()), static_cast<void*>(wrap.get()));
}

TEST(ParamsListAbi, QueryInterfaceAnswersTheListIdentitiesOnly) {
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* a = *wrap->GetIntfRef();
  void* out = reinterpret_cast<void*>(1);
  auto ask = [&](void* intf, std::vector<unsigned char> id) {
    out = reinterpret_cast<void*>(1);
    return Slot<HRESULT>(intf, kQueryInterface, static_cast<const void*>(id.data()), &out);
  };
  ASSERT_EQ(ask(a, Id(0xB2)), 0);
  void* w = out;
  EXPECT_EQ(w, static_cast<void*>(wrap->IntfW()));
  ASSERT_EQ(ask(w, Id(0xB1)), 0);
  EXPECT_EQ(out, a);
  EXPECT_EQ(wrap->RefCount(), 3);
  ReleaseRaw(out);
  ReleaseRaw(w);
  EXPECT_EQ(ask(a, Id(0xB4)), kNoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ask(a, Id(0xB6)), kNoInterface);
  EXPECT_EQ(wrap->RefCount(), 1);

  list.Add("x", 1);
  void* item = nullptr;
  ASSERT_EQ(Slot<HRESULT>(a, kGetItem, 0, &item), 0);
  ASSERT_EQ(ask(item, Id(0xB6)), 0);
  EXPECT_EQ(out, item);
  ReleaseRaw(out);
  ASSERT_EQ(ask(item, Id(0xB4)), 0);
  ReleaseRaw(out);
  EXPECT_EQ(ask(item, Id(0xB1)), kNoInterface);
  ReleaseRaw(item);
}

// A host fills and reads a list through the narrow table, slot by slot.
TEST(ParamsListSlots, NarrowListTable) {
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* a = *wrap->GetIntfRef();
  VARIANT five = host::Value::Int(5).Detach();
  void* item = reinterpret_cast<void*>(1);

  EXPECT_EQ(Slot<uint32_t>(a, kAddRef), 2u);
  EXPECT_EQ(Slot<uint32_t>(a, kRelease), 1u);
  EXPECT_EQ(Slot<int32_t>(a, kGetSignature), 0x0FDE2E4B);
  Slot<void>(a, kSetTag, 77);
  EXPECT_EQ(Slot<int32_t>(a, kGetTag), 77);
  EXPECT_EQ(list.Tag, 77);

  ASSERT_EQ(Slot<HRESULT>(a, kAdd, "Volt", &five, &item), 0);
  ASSERT_NE(item, nullptr);
  EXPECT_STREQ(Slot<const char*>(item, kGetName), "Volt");
  ReleaseRaw(item);
  Slot<void>(a, kAddNewRow);
  EXPECT_EQ(Slot<int32_t>(a, kGetCount), 2);
  int32_t index = -9;
  bool separator = false;
  EXPECT_TRUE(Slot<bool>(a, kFindEndOfRow, 0, &index, &separator));
  EXPECT_EQ(index, 1);
  EXPECT_TRUE(separator);

  ASSERT_EQ(Slot<HRESULT>(a, kInsert, 0, "First", &five, &item), 0);
  ReleaseRaw(item);
  VARIANT text = host::Value::Text("230.1").Detach();
  ASSERT_EQ(Slot<HRESULT>(a, kSetValue, "volt", &text, false, &item), 0);
  ASSERT_NE(item, nullptr);
  ReleaseRaw(item);
  ASSERT_EQ(Slot<HRESULT>(a, kSetValue, "Absent", &text, false, &item), 0);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(list.Count(), 3);

  ASSERT_EQ(Slot<HRESULT>(a, kFindItem, "VOLT", 0, -1, &item), 0);
  ASSERT_NE(item, nullptr);
  EXPECT_STREQ(Slot<const char*>(item, kGetName), "Volt");
  ReleaseRaw(item);
  ASSERT_EQ(Slot<HRESULT>(a, kIndexOf, "volt", 0, -1, &index), 0);
  EXPECT_EQ(index, 1);

  VARIANT out = host::Value::Text("stale").Detach();  // must be cleared, not leaked
  ASSERT_EQ(Slot<HRESULT>(a, kGetValue, "VOLT", 0, -1, &out), 0);
  EXPECT_EQ(out.vt, platform::VT_BSTR);
  EXPECT_EQ(Text(out), "230.1");
  ASSERT_EQ(Slot<HRESULT>(a, kGetValue, "none", 0, -1, &out), 0);
  EXPECT_EQ(out.vt, platform::VT_EMPTY);
  ASSERT_EQ(Slot<HRESULT>(a, kGetValueDef, "none", &five, 0, -1, &out), 0);
  EXPECT_EQ(out.vt, platform::VT_I4);
  EXPECT_EQ(out.lVal, 5);
  ASSERT_EQ(Slot<HRESULT>(a, kGetValueDef, "First", &text, 0, -1, &out), 0);
  EXPECT_EQ(out.lVal, 5);

  ASSERT_EQ(Slot<HRESULT>(a, kGetItem, 0, &item), 0);
  EXPECT_STREQ(Slot<const char*>(item, kGetName), "First");
  void* copied = nullptr;
  ASSERT_EQ(Slot<HRESULT>(a, kAddItemFrom, item, &copied), 0);
  ReleaseRaw(item);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(Slot<uint8_t>(copied, kGetFlags), 2);
  ReleaseRaw(copied);
  ASSERT_EQ(Slot<HRESULT>(a, kGetItem, 99, &item), 0);
  EXPECT_EQ(item, nullptr);

  // List-taking slots: a list object and another wrap object.
  TqonParamsList source;
  source.Add("s1", 1);
  source.Add("s2", 2);
  bool ok = false;
  ASSERT_EQ(Slot<HRESULT>(a, kAddItems, static_cast<void*>(&source), &ok), 0);
  EXPECT_TRUE(ok);
  auto other = TqonParamsListWrap::Create(&source, true);
  ASSERT_EQ(Slot<HRESULT>(a, kAddItemsRange, static_cast<void*>(other.get()), 1, 5, &ok), 0);
  EXPECT_TRUE(ok);
  EXPECT_EQ(list.Count(), 7);
  Slot<void>(a, kAddRows, static_cast<void*>(other.get()));
  EXPECT_EQ(list.Count(), 10);
  EXPECT_TRUE(list.Items(9)->IsNewRow());

  Slot<void>(a, kDelete, 0);
  EXPECT_EQ(list.Items(0)->Name, "Volt");
  Slot<void>(a, kClear);
  EXPECT_EQ(list.Count(), 0);
  platform::VariantClear(&out);
  platform::VariantClear(&text);
}

TEST(ParamsListSlots, WideListTable) {
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* w = wrap->IntfW();
  VARIANT seven = host::Value::Int(7).Detach();
  void* item = nullptr;
  const auto name = W("Stro\xC3\x9F");  // a non-ASCII name
  ASSERT_EQ(Slot<HRESULT>(w, kAdd, name.c_str(), &seven, &item), 0);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(platform::WString(Slot<const platform::WChar*>(item, kGetNameW)), name);
  ReleaseRaw(item);
  EXPECT_EQ(list.Items(0)->Name, "Stro\xC3\x9F");

  ASSERT_EQ(Slot<HRESULT>(w, kInsert, 0, W("A").c_str(), &seven, &item), 0);
  ReleaseRaw(item);
  int32_t index = -1;
  ASSERT_EQ(Slot<HRESULT>(w, kIndexOf, W("STRO\xC3\x9F").c_str(), 0, -1, &index), 0);
  EXPECT_EQ(index, 1);
  ASSERT_EQ(Slot<HRESULT>(w, kFindItem, W("a").c_str(), 0, -1, &item), 0);
  ASSERT_NE(item, nullptr);
  ReleaseRaw(item);
  VARIANT text = host::Value::Text("x").Detach();
  ASSERT_EQ(Slot<HRESULT>(w, kSetValue, W("a").c_str(), &text, false, &item), 0);
  ReleaseRaw(item);
  VARIANT out;
  platform::VariantInit(&out);
  ASSERT_EQ(Slot<HRESULT>(w, kGetValue, W("A").c_str(), 0, -1, &out), 0);
  EXPECT_EQ(Text(out), "x");
  ASSERT_EQ(Slot<HRESULT>(w, kGetValueDef, W("B").c_str(), &seven, 0, -1, &out), 0);
  EXPECT_EQ(out.lVal, 7);
  ASSERT_EQ(Slot<HRESULT>(w, kGetItem, 1, &item), 0);
  void* copied = nullptr;
  ASSERT_EQ(Slot<HRESULT>(w, kAddItemFrom, item, &copied), 0);
  ReleaseRaw(item);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(platform::WString(Slot<const platform::WChar*>(copied, kGetNameW)), name);
  ReleaseRaw(copied);
  bool ok = false;
  ASSERT_EQ(Slot<HRESULT>(w, kAddItems, w, &ok), 0);  // itself, as a wrap object
  EXPECT_TRUE(ok);
  EXPECT_EQ(list.Count(), 6);
  EXPECT_EQ(Slot<int32_t>(w, kGetCount), 6);
  platform::VariantClear(&text);
}

TEST(ParamsListSlots, ItemTable) {
  TqonParamsList list;
  list.Add("Current_A", 1.5);
  list.AddNewRow();
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* a = *wrap->GetIntfRef();
  void* item = nullptr;
  ASSERT_EQ(Slot<HRESULT>(a, kGetItem, 0, &item), 0);

  EXPECT_STREQ(Slot<const char*>(item, kGetKey), "current_a");
  Slot<void>(item, kSetKey, "custom");
  EXPECT_STREQ(Slot<const char*>(item, kGetKey), "custom");
  EXPECT_EQ(list.Items(0)->Key, "current_a");  // only the reference reports it
  Slot<void>(item, kSetDataType, 12);
  EXPECT_EQ(Slot<int32_t>(item, kGetDataType), 12);
  Slot<void>(item, kSetFlags, uint8_t{0x81});
  EXPECT_EQ(Slot<uint8_t>(item, kGetFlags), 0x81);
  EXPECT_EQ(list.Items(0)->Flags, 0x81);
  EXPECT_FALSE(Slot<bool>(item, kIsNewRow));

  VARIANT out = host::Value::Text("stale").Detach();
  ASSERT_EQ(Slot<HRESULT>(item, kItemGetValue, &out), 0);
  EXPECT_EQ(out.vt, platform::VT_R8);
  EXPECT_EQ(out.dblVal, 1.5);
  VARIANT v = host::Value::Text("new").Detach();
  ASSERT_EQ(Slot<HRESULT>(item, kItemSetValue, &v), 0);
  ASSERT_EQ(Slot<HRESULT>(item, kGetValueW, &out), 0);
  EXPECT_EQ(Text(out), "new");
  VARIANT n = host::Value::Int(-1).Detach();
  ASSERT_EQ(Slot<HRESULT>(item, kSetValueW, &n), 0);
  EXPECT_EQ(list.Items(0)->Value.ToInt(), -1);

  Slot<void>(item, kSetName, "Renamed");
  EXPECT_STREQ(Slot<const char*>(item, kGetName), "Renamed");
  EXPECT_EQ(platform::WString(Slot<const platform::WChar*>(item, kGetNameW)), W("Renamed"));
  Slot<void>(item, kSetNameW, W("Wide").c_str());
  EXPECT_EQ(list.Items(0)->Name, "Wide");
  EXPECT_STREQ(Slot<const char*>(item, kGetName), "Wide");
  Slot<void>(item, kSetName, static_cast<const char*>(nullptr));
  EXPECT_EQ(Slot<const char*>(item, kGetName), nullptr);
  EXPECT_EQ(list.Items(0)->Name, "");
  ReleaseRaw(item);

  ASSERT_EQ(Slot<HRESULT>(a, kGetItem, 1, &item), 0);
  EXPECT_TRUE(Slot<bool>(item, kIsNewRow));
  ReleaseRaw(item);
  platform::VariantClear(&out);
  platform::VariantClear(&v);
}

TEST(ParamsListSlots, HostStringVariantsAreReadAtTheirPointer) {
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* a = wrap->IntfA();
  void* w = wrap->IntfW();
  char narrow[] = "narrow text";
  platform::WString wide = W("wide text");
  VARIANT v;
  platform::VariantInit(&v);
  void* item = nullptr;

  v.vt = 0x100;
  v.byref = narrow;
  ASSERT_EQ(Slot<HRESULT>(a, kAdd, "n", &v, &item), 0);
  ReleaseRaw(item);
  v.byref = wide.data();  // the wide slots read 0x100 as UTF-16
  ASSERT_EQ(Slot<HRESULT>(w, kAdd, W("w").c_str(), &v, &item), 0);
  ReleaseRaw(item);
  v.vt = 0x102;  // always UTF-16
  ASSERT_EQ(Slot<HRESULT>(a, kAdd, "u", &v, &item), 0);
  EXPECT_EQ(Slot<HRESULT>(item, kItemSetValue, &v), 0);
  ReleaseRaw(item);
  v.byref = nullptr;  // no payload: taken as it is
  ASSERT_EQ(Slot<HRESULT>(a, kAdd, "z", &v, &item), 0);
  ReleaseRaw(item);

  for (const char* n : {"n", "w", "u"}) {
    EXPECT_EQ(list.GetValue(n).Type(), platform::VT_BSTR) << n;
  }
  EXPECT_EQ(list.GetValue("n").ToString(), "narrow text");
  EXPECT_EQ(list.GetValue("w").ToString(), "wide text");
  EXPECT_EQ(list.GetValue("u").ToString(), "wide text");
  EXPECT_EQ(list.GetValue("z").ToString(), "");
  // The list holds copies, not the host's pointers.
  narrow[0] = 'X';
  EXPECT_EQ(list.GetValue("n").ToString(), "narrow text");
}

TEST(ParamsListFailures, BlankNamesAnswerSuccessWithoutItem) {
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  VARIANT v = host::Value::Int(1).Detach();
  void* item = reinterpret_cast<void*>(1);
  EXPECT_EQ(Slot<HRESULT>(wrap->IntfA(), kAdd, "  ", &v, &item), 0);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(Slot<HRESULT>(wrap->IntfA(), kAdd, static_cast<const char*>(nullptr), &v, &item), 0);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ParamsListFailures, ErrorsInsideBecomeTheFailureStatus) {
  TqonParamsList list;
  list.Add("a", 1);
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* a = wrap->IntfA();
  VARIANT v = host::Value::Int(1).Detach();
  void* item = reinterpret_cast<void*>(1);

  // A negative index raises inside; through the table nothing happens.
  EXPECT_THROW(list.Delete(-1), EAssertionFailed);
  Slot<void>(a, kDelete, -1);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(Slot<HRESULT>(a, kInsert, -1, "x", &v, &item), kFailed);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(Slot<HRESULT>(a, kInsert, 5, "x", &v, &item), kFailed);

  // Not a list: the source of a list-taking slot is checked, never called.
  host::ListPtr foreign = host::MakeList();
  foreign->Put("a", host::Value::Int(1));
  bool ok = true;
  EXPECT_EQ(Slot<HRESULT>(a, kAddItems, static_cast<void*>(foreign.get()), &ok), kFailed);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Slot<HRESULT>(a, kAddItems, static_cast<void*>(nullptr), &ok), kFailed);
  Slot<void>(a, kAddRows, static_cast<void*>(foreign.get()));
  EXPECT_EQ(foreign->References(), 1u);
  EXPECT_EQ(foreign->At(0).handed_out, 0);
  EXPECT_EQ(list.Count(), 1);

  // A destroyed list (signature 0).
  list.Signature = 0;
  int32_t index = 5;
  EXPECT_EQ(Slot<HRESULT>(a, kIndexOf, "a", 0, -1, &index), kFailed);
  EXPECT_EQ(index, -1);
  VARIANT out = host::Value::Text("stale").Detach();
  EXPECT_EQ(Slot<HRESULT>(a, kGetValue, "a", 0, -1, &out), kFailed);
  EXPECT_EQ(out.vt, platform::VT_EMPTY);
  EXPECT_EQ(Slot<HRESULT>(a, kFindItem, "a", 0, -1, &item), kFailed);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(Slot<HRESULT>(a, kAdd, "b", &v, &item), kFailed);
  EXPECT_EQ(Slot<HRESULT>(a, kSetValue, "a", &v, true, &item), kFailed);
  EXPECT_EQ(Slot<HRESULT>(wrap->IntfW(), kGetValue, W("a").c_str(), 0, -1, &out), kFailed);
  TqonParamsList target;
  auto target_wrap = TqonParamsListWrap::Create(&target, true);
  EXPECT_EQ(Slot<HRESULT>(target_wrap->IntfA(), kAddItems, static_cast<void*>(&list), &ok),
            kFailed);
  list.Signature = kParamsListSignature;
}

TEST(ParamsListItemLifetime, ReferencesOutlivingTheirItemsAnswerNothing) {
  auto list = std::make_unique<TqonParamsList>();
  list->Add("a", 1);
  list->Add("b", 2);
  list->Add("c", 3);
  auto wrap = TqonParamsListWrap::Create(list.get(), true);
  void* a = wrap->IntfA();
  void *ia = nullptr, *ib = nullptr, *ic = nullptr;
  Slot<HRESULT>(a, kGetItem, 0, &ia);
  Slot<HRESULT>(a, kGetItem, 1, &ib);
  Slot<HRESULT>(a, kGetItem, 2, &ic);

  Slot<void>(a, kDelete, 0);
  EXPECT_EQ(Slot<const char*>(ia, kGetName), nullptr);
  EXPECT_STREQ(Slot<const char*>(ib, kGetName), "b");

  list->Clear();
  VARIANT out = host::Value::Text("stale").Detach();
  EXPECT_EQ(Slot<HRESULT>(ib, kItemGetValue, &out), kFailed);
  EXPECT_EQ(out.vt, platform::VT_EMPTY);
  VARIANT v = host::Value::Int(9).Detach();
  EXPECT_EQ(Slot<HRESULT>(ib, kItemSetValue, &v), kFailed);
  EXPECT_EQ(Slot<HRESULT>(ib, kSetValueW, &v), kFailed);
  Slot<void>(ib, kSetName, "x");
  Slot<void>(ib, kSetDataType, 3);
  EXPECT_EQ(Slot<int32_t>(ib, kGetDataType), 0);
  EXPECT_EQ(Slot<const platform::WChar*>(ib, kGetNameW), nullptr);
  EXPECT_EQ(Slot<const char*>(ib, kGetKey), nullptr);
  EXPECT_FALSE(Slot<bool>(ib, kIsNewRow));

  // The list object itself goes; the third reference still answers nothing.
  wrap.reset();
  list.reset();
  EXPECT_EQ(Slot<uint8_t>(ic, kGetFlags), 0);
  EXPECT_EQ(Slot<HRESULT>(ic, kGetValueW, &out), kFailed);
  ReleaseRaw(ia);
  ReleaseRaw(ib);
  ReleaseRaw(ic);
}

TEST(ParamsListWrapLifetime, ANeverHandedOutWrapGoesWithItsLastReference) {
  bool freed = false;
  IntfPtr<IqonParamsListA> intf =
      TqonParamsListWrap::NewIntf(std::make_unique<WatchedList>(&freed));
  IqonParamsListA* raw = intf.get();
  Slot<uint32_t>(raw, kAddRef);
  intf.Reset();
  EXPECT_FALSE(freed);
  EXPECT_EQ(Slot<uint32_t>(raw, kRelease), 0u);
  EXPECT_TRUE(freed);

  // A borrowed list stays with its owner.
  TqonParamsList borrowed;
  borrowed.Add("kept", 1);
  TqonParamsListWrap::NewIntf(&borrowed, true).Reset();
  EXPECT_EQ(borrowed.Count(), 1);
}

TEST(ParamsListWrapLifetime, HandingOutTakesOneSelfReference) {
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  EXPECT_EQ(wrap->HandedOut(), nullptr);
  IqonParamsListA** ref = wrap->GetIntfRef();
  EXPECT_EQ(wrap->GetIntfRef(), ref);
  EXPECT_EQ(ref, wrap->HandedOut());
  EXPECT_EQ(*ref, wrap->IntfA());
  EXPECT_EQ(wrap->SelfRef(), wrap->IntfA());
  EXPECT_EQ(wrap->RefCount(), 1);
}

TEST(ParamsListWrapLifetime, FreeingAWrapTheHostStillHoldsReportsAndDetaches) {
  DebugCapture capture;
  TqonParamsList list;
  list.Add("a", 1);
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* held = *wrap->GetIntfRef();
  Slot<uint32_t>(held, kAddRef);  // the host keeps a reference past the call
  wrap.reset();
  ASSERT_EQ(DebugCapture::Lines().size(), 1u);
  EXPECT_EQ(DebugCapture::Lines()[0],
            "TqonParamsListWrap.Destroy. Reference counter should be zero!");

  // The host's late calls find an empty list of the wrap's own.
  EXPECT_EQ(Slot<int32_t>(held, kGetCount), 0);
  EXPECT_EQ(Slot<int32_t>(held, kGetSignature), 0x0FDE2E4B);
  VARIANT v = host::Value::Int(2).Detach();
  void* item = nullptr;
  EXPECT_EQ(Slot<HRESULT>(held, kAdd, "late", &v, &item), 0);
  ReleaseRaw(item);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.IndexOf("late"), -1);
  EXPECT_EQ(Slot<uint32_t>(held, kRelease), 0u);  // frees it (ASan watches)
}

TEST(ParamsListWrapLifetime, OwnedListsGoWithTheWrap) {
  DebugCapture capture;
  bool freed = false;
  auto wrap = TqonParamsListWrap::Create(std::make_unique<WatchedList>(&freed));
  wrap->GetIntfRef();
  wrap.reset();
  EXPECT_TRUE(freed);
  EXPECT_TRUE(DebugCapture::Lines().empty());

  // Freed at Destroy even while the host holds the wrap.
  freed = false;
  auto wrap2 = TqonParamsListWrap::Create(std::make_unique<WatchedList>(&freed));
  void* held = *wrap2->GetIntfRef();
  Slot<uint32_t>(held, kAddRef);
  wrap2.reset();
  EXPECT_TRUE(freed);
  EXPECT_EQ(DebugCapture::Lines().size(), 1u);
  ReleaseRaw(held);

  // A list given with borrowed = false belongs to the wrap as well.
  freed = false;
  TqonParamsListWrap::Create(std::make_unique<WatchedList>(&freed).release(), false).reset();
  EXPECT_TRUE(freed);
}

TEST(ParamsListWrapLifetime, AnOwnedWrapSurvivesTheHostsCountReachingZero) {
  DebugCapture capture;
  TqonParamsList list;
  auto wrap = TqonParamsListWrap::Create(&list, true);
  void* a = wrap->IntfA();
  Slot<uint32_t>(a, kAddRef);
  EXPECT_EQ(Slot<uint32_t>(a, kRelease), 0u);
  // Still alive for its owner, who frees it once.
  EXPECT_EQ(wrap->RefCount(), 0);
  EXPECT_EQ(Slot<int32_t>(a, kGetCount), 0);
  wrap.reset();
  EXPECT_TRUE(DebugCapture::Lines().empty());
}

TEST(ParamsListWrapConcurrency, ReferencesReleasedFromManyThreads) {
  bool freed = false;
  IntfPtr<IqonParamsListA> intf =
      TqonParamsListWrap::NewIntf(std::make_unique<WatchedList>(&freed));
  intf->Add("x", nullptr, nullptr);
  IqonParamsListA* raw = intf.get();
  std::vector<IqonParamsListItemA*> items(4000);
  for (auto& i : items)
    ASSERT_EQ(raw->GetItem(0, &i), 0);
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (!go)
        std::this_thread::yield();
      for (int i = 0; i < 2000; ++i) {
        raw->AddRef();
        raw->Release();
      }
      for (size_t i = static_cast<size_t>(t); i < items.size(); i += 4)
        items[i]->Release();
    });
  }
  go = true;
  for (auto& th : threads)
    th.join();
  auto* wrap = TqonParamsListWrap::FromInterfacePointer(raw);
  ASSERT_NE(wrap, nullptr);
  EXPECT_EQ(wrap->RefCount(), 1);
  intf.Reset();
  EXPECT_TRUE(freed);
}

}  // namespace
