#include "plugin/qon_plugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "paramlist/edge_platform.h"
#include "paramlist/params_edge.h"
#include "paramlist/parsed_data_list.h"
#include "plugin/host_services.h"

// Fields of the packed records are compared as values (+field): a reference
// to one may be misaligned.
namespace {

struct Module {
  TqonPlugin m{nullptr, 0};
  Module() { m.AfterConstruction(); }
  std::string LogText() {
    std::string text = m.LogList->TakeText();
    m.LogList->Clear();
    return text;
  }
};

struct DataRec {
  TPluginCallRec rec{};
  TqonParamsList params;
  explicit DataRec(uint8_t roles) {
    rec.Size = kCallRecSize;
    rec.Roles = roles;
    rec.Params = reinterpret_cast<uintptr_t>(&params);
  }
  void InputList(TqonParamsList* list) {
    rec.Input.Kind = kKindListObject2;
    rec.Input.Data = reinterpret_cast<uintptr_t>(list);
  }
  void OutputList(TqonParamsList* list) {
    rec.Output.Kind = kKindListObject2;
    rec.Output.Data = reinterpret_cast<uintptr_t>(list);
  }
};

TEST(QonPluginLog, LinesCarryLevelTitleAndNoLineBreaks) {
  Module t;
  t.m.Log(TLogLevel::Warning, "a\r\nb");
  t.m.Identity.LogTitle = "T";
  t.m.Log(TLogLevel::Warning, "c\nd");
  t.m.Log(TLogLevel::Error, "e", true);
  EXPECT_EQ(t.LogText(), std::string("\x02"
                                     "a  b\r\n"
                                     "\x02"
                                     "T. c d\r\n"
                                     "\x81"
                                     "T. e\r\n"));
}

TEST(QonPluginLog, ErrorsNameTheirContext) {
  Module t;
  t.m.LogError("PROCESS", "bad");
  EXPECT_EQ(t.LogText(), std::string("\x01{PROCESS} bad\r\n"));
}

TEST(QonPluginFields, StandardFieldsCountWhatTheyAdd) {
  Module t;
  TqonParamsList list;
  EXPECT_EQ(t.m.AddStandardFields(&list, "", "client", "full", "short", 0, 7, ""), 4);
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.GetValue("DATA_SOURCE_NAME").ToString(), "short");
  EXPECT_EQ(list.GetValue("DATA_SOURCE_ID").ToInt(), 7);
  EXPECT_EQ(list.GetValue("DATE_TIME_STAMP").Type(), platform::VT_DATE);

  TqonParamsList with_client;
  EXPECT_EQ(t.m.AddStandardFields(&with_client, "FULL", "client", "full", "short", 99, 7, "P"), 7);
  EXPECT_EQ(with_client.Items(0)->Name, "FULL_DATA_PACKET");
  EXPECT_EQ(with_client.Items(1)->Name, "DATA_PACKET");
  EXPECT_EQ(with_client.GetValue("CLIENTID").ToInt(), 99);
  EXPECT_EQ(with_client.GetValue("DATA_SOURCE_NAME").ToString(), "client");
  EXPECT_EQ(t.m.AddStandardFields(nullptr, "", "", "", "", 0, 0, ""), 0);
}

TEST(QonPluginRoles, RolesFromValueUseTheLowByte) {
  Module t;
  t.m.SetRoleEnabled(TRole::Parsing, true);
  EXPECT_EQ(t.m.EnabledRoles(), 2);
  EXPECT_EQ(t.m.RolesFromValue(OleVariant(0x1FF), false), 0xFF);
  EXPECT_EQ(t.m.RolesFromValue(OleVariant(3), true), 2);
  EXPECT_EQ(t.m.RolesFromValue(OleVariant(), false), 0);
  EXPECT_EQ(t.m.RolesFromValue(OleVariant("x"), false), 0);
  EXPECT_FALSE(t.m.RoleEnabled(static_cast<TRole>(kRoleCount)));
}

TEST(QonPluginParserItems, TextFormRoundTripsAndStopsAtANamelessLine) {
  Module t;
  t.m.AddStandardParserItems(true);
  ASSERT_EQ(t.m.ParserItemCount(), 7);
  t.m.AddParserItem("X", "Unknown type", "e", kParserTypeNone);
  const std::string text = t.m.ParserItemsAsText();
  EXPECT_EQ(text.substr(0, 43), "Full data packet|FULL_DATA_PACKET|String|\r\n");
  EXPECT_NE(text.find("Datetime stamp|DATE_TIME_STAMP|DateTime|\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nUnknown type|X||e"), std::string::npos);

  Module copy;
  copy.m.LoadParserItems(text, true);
  EXPECT_EQ(copy.m.ParserItemsAsText(), text);

  copy.m.LoadParserItems("Caption|NAME|integer|x\r\n\r\nC2|N2|Nonsense\r\nshort\r\nC3|N3", true);
  ASSERT_EQ(copy.m.ParserItemCount(), 2);
  EXPECT_EQ(copy.m.Items.ParserItems[0].DataType, kParserTypeInteger);
  EXPECT_EQ(copy.m.Items.ParserItems[0].Extra, "x");
  EXPECT_EQ(copy.m.Items.ParserItems[1].DataType, kParserTypeNone);
  copy.m.LoadParserItems("C4|N4", false);
  EXPECT_EQ(copy.m.ParserItemCount(), 3);
}

TEST(QonPluginDataCall, NoRolesDoNothing) {
  Module t;
  int raised = 0;
  t.m.Events.OnProcessData = [&](TqonPlugin&, TPluginCallRec*, int32_t& r) {
    ++raised;
    r = 5;
  };
  DataRec d(0);
  EXPECT_EQ(t.m.DataCall(&d.rec), 0);
  EXPECT_EQ(raised, 0);
  d.params.Clear();
  d.rec.Params = 0;
  d.rec.Roles = 2;
  EXPECT_EQ(t.m.DataCall(&d.rec), 0);
  EXPECT_EQ(raised, 0);
}

TEST(QonPluginDataCall, WriteRoleWithoutDataLogsTheNoDataMessage) {
  Module t;
  int raised = 0;
  t.m.Events.OnProcessData = [&](TqonPlugin&, TPluginCallRec*, int32_t&) { ++raised; };
  DataRec d(4 | 1);
  EXPECT_EQ(t.m.DataCall(&d.rec), 0);
  EXPECT_EQ(raised, 0);
  EXPECT_EQ(t.LogText(), "\x02No data for processing\r\n");
}

TEST(QonPluginDataCall, EmptyInputListIsDroppedUnlessRoleZeroAsks) {
  Module t;
  uintptr_t seen = 1;
  t.m.Events.OnProcessData = [&](TqonPlugin&, TPluginCallRec* rec, int32_t& r) {
    seen = rec->Input.Data;
    r = 1;
  };
  TqonParamsList empty;
  DataRec d(2);
  d.InputList(&empty);
  EXPECT_EQ(t.m.DataCall(&d.rec), 0);  // a positive result without input counts 0
  EXPECT_EQ(seen, 0u);

  DataRec keep(2 | 1);
  keep.InputList(&empty);
  EXPECT_EQ(t.m.DataCall(&keep.rec), 1);
  EXPECT_NE(seen, 0u);
  // The input was consumed: the host's descriptor no longer names it.
  EXPECT_EQ(+keep.rec.Input.Data, 0u);
}

TEST(QonPluginDataCall, WriteRoleClosesTheInputRowAndLogsCompletion) {
  Module t;
  t.m.Events.OnProcessData = [](TqonPlugin&, TPluginCallRec*, int32_t& r) { r = 0; };
  TqonParamsList row;
  row.Add("V", 1);
  DataRec d(4);
  d.InputList(&row);
  EXPECT_EQ(t.m.DataCall(&d.rec), 0);
  ASSERT_EQ(row.Count(), 2);
  EXPECT_TRUE(row.Items(1)->IsNewRow());
  EXPECT_EQ(t.LogText(),
            "\x03"
            "Data have been processed successfully\r\n");

  t.m.Events.OnProcessData = [](TqonPlugin&, TPluginCallRec*, int32_t& r) { r = -1; };
  DataRec e(8);
  e.InputList(&row);
  EXPECT_EQ(t.m.DataCall(&e.rec), -1);
  EXPECT_EQ(row.Count(), 2);
  EXPECT_EQ(t.LogText(),
            "\x02"
            "Data have been processed with errors\r\n");
}

TEST(QonPluginDataCall, HandlerErrorsGiveMinusThreeAndALogLine) {
  Module t;
  t.m.Events.OnProcessData = [](TqonPlugin&, TPluginCallRec*, int32_t&) {
    throw EqonError("boom");
  };
  uint8_t bytes[] = {1, 2};
  DataRec d(2);
  d.rec.Input.Size = 2;
  d.rec.Input.Data = reinterpret_cast<uintptr_t>(bytes);
  EXPECT_EQ(t.m.DataCall(&d.rec), -3);
  EXPECT_EQ(t.LogText(),
            "\x02"
            "Data have been processed with errors: boom\r\n");
}

TEST(QonPluginDataCall, PassThroughCopiesInputToOutputWithoutAHandler) {
  Module t;
  uint8_t bytes[] = {0x68, 0x16};
  DataRec d(32 | 2);
  d.rec.Input = TPluginDataDesc{3, 2, 0, reinterpret_cast<uintptr_t>(bytes)};
  EXPECT_EQ(t.m.DataCall(&d.rec), 0);
  EXPECT_EQ(+d.rec.Output.Count, 3u);
  EXPECT_EQ(+d.rec.Output.Size, 2u);
  EXPECT_EQ(+d.rec.Output.Data, reinterpret_cast<uintptr_t>(bytes));

  // A list passed through still names the host's list afterwards.
  TqonParamsList list;
  list.Add("A", 1);
  DataRec l(32 | 1);
  l.InputList(&list);
  t.m.DataCall(&l.rec);
  EXPECT_EQ(+l.rec.Output.Kind, kKindListObject2);
  EXPECT_EQ(+l.rec.Output.Data, reinterpret_cast<uintptr_t>(&list));
}

std::string InputText(const TPluginCallRec& rec) {
  return std::string(reinterpret_cast<const char*>(rec.Input.Data), rec.Input.Size);
}

TEST(QonPluginAppendResult, TextsAreJoinedWithTheSeparatorAndListsCopied) {
  Module t;
  TqonParamsList out;
  out.Add("OLD", 0);
  t.m.Events.OnProcessData = [&t](TqonPlugin&, TPluginCallRec* rec, int32_t&) {
    TParsedDataList first;
    first.Add("A", 1)->DataType = 8;
    first.AddNewRow();
    t.m.AppendResult(rec, &first, "first result", false);
    TParsedDataList second;
    second.Add("B", 2);
    t.m.AppendResult(rec, &second, "2nd", true);
    t.m.AppendResult(rec, nullptr, "3", true);
  };
  uint8_t bytes[] = {1};
  DataRec d(2);
  d.rec.Input = TPluginDataDesc{0, 1, 0, reinterpret_cast<uintptr_t>(bytes)};
  d.OutputList(&out);
  t.m.DataCall(&d.rec);
  EXPECT_EQ(+d.rec.Input.Kind, kKindText);
  EXPECT_EQ(InputText(d.rec), "first result<{[::]}>2nd<{[::]}>3");
  EXPECT_EQ(+d.rec.Output.Count, 3u);
  ASSERT_EQ(out.Count(), 3);  // cleared by the first, appended to by the others
  EXPECT_EQ(out.Items(0)->Name, "A");
  EXPECT_EQ(out.Items(0)->DataType, 8);
  EXPECT_TRUE(out.Items(1)->IsNewRow());
  EXPECT_EQ(out.Items(2)->Name, "B");
  EXPECT_EQ(out.Items(2)->Key, "b");
}

TEST(QonPluginAppendResult, HostTextIsNeverReallocated) {
  Module t;
  TqonParamsList out;
  char host_text[] = "host owned";
  t.m.Events.OnProcessData = [&t](TqonPlugin&, TPluginCallRec* rec, int32_t&) {
    t.m.AppendResult(rec, nullptr, "mine", true);
  };
  DataRec d(2 | 1);
  d.rec.Input = TPluginDataDesc{0, 10, kKindText, reinterpret_cast<uintptr_t>(host_text)};
  d.OutputList(&out);
  t.m.DataCall(&d.rec);
  EXPECT_NE(+d.rec.Input.Data, reinterpret_cast<uintptr_t>(host_text));
  EXPECT_EQ(InputText(d.rec), "mine");
  EXPECT_STREQ(host_text, "host owned");
  // The next call of the same record frees the block (the leak check sees
  // it), as does freeing the instance for the last one.
  d.rec.Input = TPluginDataDesc{0, 10, kKindText, reinterpret_cast<uintptr_t>(host_text)};
  t.m.DataCall(&d.rec);
  EXPECT_EQ(InputText(d.rec), "mine");
}

TEST(QonPluginAppendResult, ShortTextsAreSeparatedToo) {
  Module t;
  TqonParamsList out;
  t.m.Events.OnProcessData = [&t](TqonPlugin&, TPluginCallRec* rec, int32_t&) {
    t.m.AppendResult(rec, nullptr, "a", true);
    t.m.AppendResult(rec, nullptr, "b", true);
  };
  uint8_t bytes[] = {1};
  DataRec d(2);
  d.rec.Input = TPluginDataDesc{0, 1, 0, reinterpret_cast<uintptr_t>(bytes)};
  d.OutputList(&out);
  t.m.DataCall(&d.rec);
  EXPECT_EQ(InputText(d.rec), "a<{[::]}>b");
}

TEST(QonPluginAppendResult, TextsOfRecordsNeverSeenAgainAreBounded) {
  Module t;
  t.m.Events.OnProcessData = [&t](TqonPlugin&, TPluginCallRec* rec, int32_t&) {
    t.m.AppendResult(rec, nullptr, "frame", true);
  };
  uint8_t bytes[] = {1};
  std::vector<std::unique_ptr<DataRec>> records;
  for (int i = 0; i < 300; ++i) {
    TqonParamsList out;
    auto d = std::make_unique<DataRec>(2);
    d->rec.Input = TPluginDataDesc{0, 1, 0, reinterpret_cast<uintptr_t>(bytes)};
    d->OutputList(&out);
    t.m.DataCall(&d->rec);
    EXPECT_EQ(InputText(d->rec), "frame");  // readable right after the call
    records.push_back(std::move(d));
  }
  EXPECT_EQ(t.m.OutstandingTextBlocks(), TqonPlugin::kMaxTextBlocks);
}

// The host's list is probed (a system call on some platforms) once per data
// call, not per record; a bad pointer is still never followed, also when the
// descriptor changes within the call.
TEST(QonPluginAppendResult, TheOutputListIsProbedOncePerCallAndABadOneRefused) {
  Module t;
  TParsedDataList record;
  record.Add("A", 1);
  int appends = 0;
  uintptr_t bad_later = 0;
  t.m.Events.OnProcessData = [&](TqonPlugin&, TPluginCallRec* rec, int32_t&) {
    for (int i = 0; i < appends; ++i)
      t.m.AppendResult(rec, &record, "", true);
    if (!bad_later) return;
    rec->Output.Data = bad_later;
    t.m.AppendResult(rec, &record, "", true);
  };
  uint8_t bytes[] = {1};
  for (const uint8_t kind : {kKindListObject2, kKindListIntf}) {
    SCOPED_TRACE(+kind);
    TqonParamsList out;
    ListForHost host(out);
    auto call = [&](int n, uintptr_t output) {
      appends = n;
      DataRec d(2);
      d.rec.Input = TPluginDataDesc{0, 1, 0, reinterpret_cast<uintptr_t>(bytes)};
      d.rec.Output = TPluginDataDesc{0, 0, kind, output};
      const uint64_t before = EdgeReadCount();
      t.m.DataCall(&d.rec);
      return std::make_pair(EdgeReadCount() - before, +d.rec.Output.Count);
    };
    const uintptr_t good = kind == kKindListIntf ? reinterpret_cast<uintptr_t>(host.IntfRef())
                                                 : reinterpret_cast<uintptr_t>(&out);
    const auto one = call(1, good);
    const auto many = call(50, good);
    EXPECT_EQ(many.first, one.first);
    EXPECT_EQ(many.second, 50u);
    EXPECT_EQ(out.Count(), 51);
    // Unreadable memory: nothing added, nothing followed.
    const auto bad = call(3, 0x10);
    EXPECT_EQ(bad.second, 0u);
    bad_later = 0x10;
    EXPECT_EQ(call(2, good).second, 2u);
    bad_later = 0;
    EXPECT_EQ(out.Count(), 53);
  }
}

TEST(QonPluginAppendResult, NothingWithoutAnOutputList) {
  Module t;
  TPluginCallRec rec{};
  TqonParamsList list;
  list.Add("A", 1);
  t.m.AppendResult(&rec, &list, "text", false);
  EXPECT_EQ(+rec.Output.Count, 0u);
  EXPECT_EQ(+rec.Input.Data, 0u);
}

}  // namespace

namespace {

struct Sent {
  uint32_t host_module_id, data_source_no, kind, size;
  uintptr_t client_id;
  std::string input_text;
  std::vector<std::string> names;
  int32_t out_kind = -1;
};
std::vector<Sent> g_sent;
int32_t g_answer = 0;

int32_t QON_STDCALL FakeSendDataEx(uint32_t host_module_id, uint32_t data_source_no,
                                   uintptr_t client_id, uintptr_t, uint32_t kind, const void* data,
                                   uint32_t size) {
  Sent s{host_module_id, data_source_no, kind, size, client_id, {}, {}, -1};
  if (kind == kSendParsedList) {
    const auto* rec = static_cast<const TPluginCallRec*>(data);
    EXPECT_EQ(rec->Size, kCallRecSize);
    EXPECT_EQ(rec->Flags, 1);
    s.out_kind = rec->Output.Kind;
    IntfPtr<IqonParamsListA> list = ReceiveListIntf(reinterpret_cast<void*>(rec->Output.Data));
    for (int i = 0; list && i < list->GetCount(); ++i) {
      IqonParamsListItemA* item = nullptr;
      list->GetItem(i, &item);
      s.names.emplace_back(item->GetName());
      item->Release();
    }
    if (rec->Input.Kind == kKindText)
      s.input_text.assign(reinterpret_cast<const char*>(rec->Input.Data), rec->Input.Size);
  } else {
    s.input_text.assign(static_cast<const char*>(data), size);
  }
  g_sent.push_back(s);
  return g_answer;
}

TEST(QonPluginHostOutput, ListsAndBytesGoToTheHostFunction) {
  Module t;
  TParsedDataList list;
  list.Add("VOLTAGE_A", 220.5);
  list.Text = "raw";
  t.m.OutputList(1, 9, &list);  // no host function yet: nothing happens
  EXPECT_EQ(t.m.WriteText(1, 9, "x"), -1);
  EXPECT_TRUE(g_sent.empty());

  t.m.Host.HostFunctions.SendDataEx = &FakeSendDataEx;
  t.m.Host.HostModuleId = 4;
  g_answer = -12;
  t.m.OutputList(1, 9, &list);
  const uint8_t frame[] = {0xFE, 0x68};
  EXPECT_EQ(t.m.WriteData(2, 8, frame, 2), -12);
  EXPECT_EQ(t.m.WriteText(3, 7, "<<CLOSE>>"), -12);
  EXPECT_EQ(t.m.WriteText(3, 7, ""), -1);
  ASSERT_EQ(g_sent.size(), 3u);
  EXPECT_EQ(g_sent[0].kind, kSendParsedList);
  EXPECT_EQ(g_sent[0].host_module_id, 4u);
  EXPECT_EQ(g_sent[0].client_id, 9u);
  EXPECT_EQ(g_sent[0].size, 0u);
  EXPECT_EQ(g_sent[0].out_kind, kKindListIntf);
  EXPECT_EQ(g_sent[0].names, (std::vector<std::string>{"VOLTAGE_A"}));
  EXPECT_EQ(g_sent[0].input_text, "raw");
  EXPECT_EQ(g_sent[1].kind, kSendRawBytes);
  EXPECT_EQ(g_sent[1].input_text, std::string("\xFE\x68"));
  EXPECT_EQ(g_sent[2].kind, kSendText);
  EXPECT_EQ(g_sent[2].input_text, "<<CLOSE>>");
  EXPECT_EQ(g_sent[2].data_source_no, 3u);
  g_sent.clear();
}

}  // namespace
