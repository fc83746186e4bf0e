#pragma once
// A fake plug-in module that records what the DL/T 645 client hands to the
// host, requests built from the function tables, and a fixture with one
// TSerialPortDM on the virtual clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "dlt645/dlt645_context.h"
#include "dlt645/dlt645_parser_client.h"
#include "dlt645/func_types.h"
#include "dlt645/request_item.h"
#include "dlt645/serial_port_dm.h"
#include "dlt645/text_resources.h"
#include "frame_test_support.h"
#include "paramlist/parsed_data_list.h"
#include "paramlist/plugin_records.h"
#include "parser/parser_module.h"
#include "parser/standard_fields.h"
#include "platform/message_loop.h"
#include "platform/tick.h"

namespace client_test {

using dlt645::testing::Bytes;
using dlt645::testing::Hex;

struct Field {
  std::string Name;
  std::string Value;
  int Type = 0;
};

// One record as the host gets it: through the data call's answer ("result")
// or through the output function, kind 9 ("output").
struct Record {
  std::string Via;
  std::string Text;
  std::vector<Field> Fields;

  const Field* Find(const std::string& name) const {
    for (const Field& f : Fields)
      if (f.Name == name) return &f;
    return nullptr;
  }
  std::string Get(const std::string& name) const {
    const Field* f = Find(name);
    return f ? f->Value : "<none>";
  }
  // The names in order, without the header fields the module adds.
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    bool past_header = false;
    for (const Field& f : Fields) {
      if (f.Name == "DEVICE_ID") past_header = true;
      if (past_header) out.push_back(f.Name);
    }
    return out;
  }
};

struct Write {
  uint64_t Tick = 0;
  std::string Bytes;  // hex, or the text of a text write
};

class FakeModule : public IParserModule {
 public:
  // The host's answer to a write of raw bytes; by default it takes them all.
  std::function<int32_t(const std::string& hex)> WriteResult;

  std::vector<Record> Records;
  std::vector<Write> Writes;
  std::vector<std::string> Texts;
  std::vector<std::string> LogLines;  // "level text"
  bool LastAppend = false;
  bool Quality = false;  // failed requests as records

  bool RoleEnabled(TRole) const override { return true; }
  void Log(TLogLevel level, const std::string& text, bool) override {
    std::lock_guard<std::mutex> lock(mutex_);
    LogLines.push_back(std::to_string(static_cast<int>(level)) + " " + text);
  }
  void AppendResult(TPluginCallRec*, TqonParamsList* list, const std::string& text,
                    bool append) override {
    std::lock_guard<std::mutex> lock(mutex_);
    LastAppend = append;
    Records.push_back(Take("result", *list, text));
  }
  void OutputList(uint32_t, uintptr_t, TParsedDataList* list) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Records.push_back(Take("output", *list, list->Text));
  }
  int32_t WriteData(uint32_t, uintptr_t, const uint8_t* bytes, int32_t count) override {
    const std::string hex = dlt645::testing::HexText(bytes, static_cast<size_t>(count));
    std::lock_guard<std::mutex> lock(mutex_);
    Writes.push_back({platform::Tick64(), hex});
    return WriteResult ? WriteResult(hex) : count;
  }
  int32_t WriteText(uint32_t, uintptr_t, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Texts.push_back(text);
    return static_cast<int32_t>(text.size());
  }
  // As the plug-in module adds them.
  int AddStandardFields(TqonParamsList* list, const std::string& full_packet,
                        const std::string& client_name, const std::string& full_name,
                        const std::string& short_name, uintptr_t client_id, uint32_t data_source_no,
                        const std::string& packet) override {
    return AddStandardRecordFields(list, full_packet, client_name, full_name, short_name, client_id,
                                   data_source_no, packet);
  }
  uintptr_t InstanceHandle() const override { return 0x1000; }
  std::vector<TConfigDataSource> ConfiguredDataSources() const override { return {}; }
  bool TemporaryLoad() const override { return false; }
  std::vector<TDataSourceScheduled*> DataSources() const override { return {}; }
  bool QualityRecords() const override { return Quality; }

  // The hex frames written, preambles included.
  std::vector<std::string> WrittenBytes() const {
    std::vector<std::string> out;
    for (const Write& w : Writes)
      out.push_back(w.Bytes);
    return out;
  }
  bool Logged(const std::string& line) const {
    for (const std::string& l : LogLines)
      if (l == line) return true;
    return false;
  }

 private:
  static Record Take(const char* via, const TqonParamsList& list, const std::string& text) {
    Record r{via, text, {}};
    for (int i = 0; i < list.Count(); ++i) {
      const TqonParamsListItem* item = list.Items(i);
      if (item->IsNewRow()) continue;
      r.Fields.push_back({item->Name, item->Value.ToString(), item->Value.Type()});
    }
    return r;
  }

  std::mutex mutex_;
};

struct RequestSpec {
  std::string Device = "000000000001";
  uint32_t Code = 0x02010100;  // as configured; bit 31 for the 1997 table
  uint8_t Rate = 0;
  bool Enabled = true;
  uint8_t Method = kMethodPoll;
  int32_t PollInterval = 1000;
  int32_t Timeout = 500;
  uintptr_t Group = 1;
  std::string Caption = "Request #1";
};

// A request as the configuration loader makes it.
inline std::unique_ptr<TRequestItem> MakeRequest(const RequestSpec& shape) {
  TFuncSelection sel;
  EXPECT_TRUE(SelectFuncType(shape.Code, shape.Rate, &sel)) << std::hex << shape.Code;
  auto item = std::make_unique<TRequestItem>();
  item->Enabled = shape.Enabled;
  item->Caption = shape.Caption;
  item->Method = shape.Method;
  item->Mode.Method = shape.Method;
  item->PollInterval = shape.PollInterval;
  TRequestParameters& p = item->Parameters;
  p.SetDevice(shape.Device);
  p.Is1997 = sel.Is1997;
  p.Timeout = shape.Timeout;
  char code[12];
  std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(shape.Code));
  p.FunctionText = code;
  p.FuncName = sel.FuncName;
  p.Id = sel.Id;
  p.Rate = shape.Rate;
  p.FuncType = sel.FuncType;
  p.RequestKind = sel.FuncType ? sel.FuncType->RequestKind : 0;
  p.GroupKey = shape.Group;
  return item;
}

// An answer frame of a meter: identifier, then plain value bytes.
inline Bytes Answer(const std::string& address, uint32_t id, const Bytes& values,
                    bool is1997 = false, uint8_t control = 0) {
  if (control == 0) control = is1997 ? 0x81 : 0x91;
  return dlt645::testing::MakeFrame(dlt645::AddressFromText(address), control,
                                    dlt645::testing::IdData(id, is1997, values));
}

inline std::string AsText(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// One data source with its module on the virtual clock.
class ClientRig {
 public:
  static constexpr uintptr_t kClientId = 7;

  ClientRig() {
    source = std::make_unique<TSerialPortDM>(&module, &context);
    source->DataSourceNo = 1;
    source->PortName = "COM1";
    source->PortInfo = "COM1 9600";
  }

  void Load(std::vector<RequestSpec> shapes) {
    int listen_only = 0;
    source->Queue->ReloadRequests([&](TObjectList<TBasicRequestItem>& list) {
      for (const RequestSpec& shape : shapes) {
        listen_only += shape.Enabled ? 0 : 1;
        list.Add(MakeRequest(shape));
      }
    });
    context.ListenOnlyCount = listen_only;
    source->UpdateClientQueues(true, true);
  }

  TPluginCallRec Block(uint32_t kind) {
    TPluginCallRec block{};
    block.Size = kCallRecSize;
    block.DataSourceNo = 1;
    block.ClientId = kClientId;
    block.Roles = 2;
    std::memcpy(block.ClientName, "COM1", 4);
    block.Input.Kind = static_cast<uint8_t>(kind);
    return block;
  }
  // The host's port event for the client: 257 opened, 258 closed.
  void PortEvent(uintptr_t code) {
    TPluginCallRec block = Block(kKindEvent);
    block.Input.Data = code;
    source->ProcessBlock(block);
  }
  void Feed(const Bytes& bytes) {
    TPluginCallRec block = Block(0);
    block.Input.Size = static_cast<uint32_t>(bytes.size());
    block.Input.Data = reinterpret_cast<uintptr_t>(bytes.data());
    source->ProcessBlock(block);
  }
  TDlt645ParserClient* Client() {
    auto clients = source->Clients->ReadLocked();
    return static_cast<TDlt645ParserClient*>(clients->Find(kClientId));
  }
  void RunFor(uint64_t ms, uint64_t step = 10) {
    for (uint64_t t = 0; t < ms; t += step) {
      clock.Advance(step);
      platform::PumpMessages(0);
    }
  }

  platform::VirtualClock clock;
  FakeModule module;
  TTextResources texts{nullptr};
  TDlt645Context context{&texts};
  std::unique_ptr<TSerialPortDM> source;
};

class ClientFixture : public ::testing::Test, public ClientRig {};

}  // namespace client_test
