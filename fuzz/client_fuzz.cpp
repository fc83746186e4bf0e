// Random byte streams through the whole DL/T 645 client: data blocks into a
// TSerialPortDM, frame search, matching and decoding into records, with the
// module's side recorded. Checks that nothing reads outside the data, that
// the receive buffer stays bounded, that what reaches the host is sound, and
// that the blocks a stream is cut into never change it.
//
// Input: byte 0 seeds the block sizes, byte 1 chooses the configuration
// (wildcard and broadcast devices, one group for all requests, a client
// bound to its connection, a request awaiting its answer); the rest is the
// stream.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dlt645/dlt645_context.h"
#include "dlt645/dlt645_parser_client.h"
#include "dlt645/func_types.h"
#include "dlt645/request_item.h"
#include "dlt645/serial_port_dm.h"
#include "dlt645/text_resources.h"
#include "paramlist/parsed_data_list.h"
#include "paramlist/plugin_records.h"
#include "parser/parser_module.h"
#include "parser/queue_controller.h"
#include "platform/tick.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

constexpr uintptr_t kClientId = 5;
constexpr uint32_t kBufferSize = 16384;

// Everything the host sees, as text lines.
class Module final : public IParserModule {
 public:
  std::vector<std::string> Seen;

  bool RoleEnabled(TRole) const override { return true; }
  void Log(TLogLevel level, const std::string& text, bool) override {
    Check(!text.empty(), "log text");
    Seen.push_back("log " + std::to_string(static_cast<int>(level)) + " " + text);
  }
  void AppendResult(TPluginCallRec* rec, TqonParamsList* list, const std::string& text,
                    bool append) override {
    Check(rec != nullptr && append, "appended to the data call");
    Record("result", *list, text);
  }
  void OutputList(uint32_t, uintptr_t client_id, TParsedDataList* list) override {
    Check(client_id == kClientId, "output for the client");
    Record("output", *list, list->Text);
  }
  int32_t WriteData(uint32_t, uintptr_t, const uint8_t* bytes, int32_t count) override {
    Check(count > 0 && count <= 17, "write size");
    Seen.push_back("write " +
                   std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count)));
    return count;
  }
  int32_t WriteText(uint32_t, uintptr_t, const std::string& text) override {
    Seen.push_back("text " + text);
    return static_cast<int32_t>(text.size());
  }
  int AddStandardFields(TqonParamsList* list, const std::string& full_packet, const std::string&,
                        const std::string&, const std::string&, uintptr_t, uint32_t,
                        const std::string& packet) override {
    Check(full_packet.size() >= 12 && full_packet.size() <= 267 && packet == full_packet,
          "packet fields hold one frame");
    list->Add("FULL_DATA_PACKET", full_packet);
    list->Add("DATA_PACKET", packet);
    return 2;
  }
  uintptr_t InstanceHandle() const override { return 1; }
  std::vector<TConfigDataSource> ConfiguredDataSources() const override { return {}; }
  bool TemporaryLoad() const override { return false; }
  std::vector<TDataSourceScheduled*> DataSources() const override { return {}; }

 private:
  void Record(const char* via, const TqonParamsList& list, const std::string& text) {
    Check(list.Count() > 0 && list.Items(list.Count() - 1)->IsNewRow(), "closed row");
    Check(!text.empty(), "packet text");
    std::string line = std::string(via) + " " + text;
    for (int i = 0; i < list.Count(); ++i) {
      const TqonParamsListItem* item = list.Items(i);
      Check(!item->Name.empty(), "field name");
      if (item->IsNewRow()) Check(i == list.Count() - 1, "one row per record");
      line += " " + item->Name + "=" + item->Value.ToString();
    }
    Seen.push_back(line);
  }
};

struct Function {
  uint32_t Code;
  uint8_t Rate;
};
constexpr Function kFunctions[] = {
    {0x02010100, 0}, {0x0202FF00, 0}, {0x02030000, 0}, {0x0001FF00, 0}, {0x00010000, 2},
    {0x01150000, 0}, {0x06000002, 0}, {0x8000B611, 0}, {0x8000B621, 0},
};

class Rig {
 public:
  explicit Rig(uint8_t flags) {
    context_.TextResources = &texts_;
    source_ = std::make_unique<TSerialPortDM>(&module_, &context_);
    source_->DataSourceNo = 1;
    const char* devices[] = {"000000000001", "112233445566",
                             (flags & 1) != 0 ? "*" : "000000000002",
                             (flags & 2) != 0 ? "999999999999" : "000000000003"};
    int listen_only = 0;
    source_->Queue->ReloadRequests([&](TObjectList<TBasicRequestItem>& list) {
      uintptr_t group = 0;
      for (const char* device : devices) {
        for (const Function& f : kFunctions) {
          TFuncSelection sel;
          Check(SelectFuncType(f.Code, f.Rate, &sel), "table row");
          auto item = std::make_unique<TRequestItem>();
          // The very first request is sent, when asked for; the rest listen.
          item->Enabled = (flags & 16) != 0 && list.Count() == 0;
          listen_only += item->Enabled ? 0 : 1;
          item->Method = kMethodOnce;
          TRequestParameters& p = item->Parameters;
          p.SetDevice(device);
          p.Is1997 = sel.Is1997;
          p.FunctionText = "00000000";
          p.FuncName = sel.FuncName;
          p.Id = sel.Id;
          p.Rate = f.Rate;
          p.FuncType = sel.FuncType;
          p.RequestKind = sel.FuncType->RequestKind;
          p.GroupKey = (flags & 4) != 0 ? 1 : ++group;
          list.Add(std::move(item));
        }
      }
    });
    context_.ListenOnlyCount = listen_only;

    // The client: made by a port event (bound to its connection) or by data.
    TPluginCallRec block = Block();
    if ((flags & 8) != 0) {
      block.Input.Kind = kKindEvent;
      block.Input.Data = kEventPortOpened;
    }
    source_->ProcessBlock(block);
    if ((flags & 16) != 0) {
      // What a send does: the first request pending, its answer awaited.
      TDlt645ParserClient* client = Client();
      auto st = client->Queue->LockState();
      client->Queue->Pending = st.Items()[0];
      client->Queue->AnswerTimer.StartWith(1000);
    }
  }
  ~Rig() { source_.reset(); }

  void Feed(const uint8_t* data, size_t n) {
    // Each block in an allocation of its own size, as the host hands it over.
    const std::vector<uint8_t> bytes(data, data + n);
    TPluginCallRec block = Block();
    block.Input.Data = reinterpret_cast<uintptr_t>(bytes.data());
    block.Input.Size = static_cast<uint32_t>(bytes.size());
    source_->ProcessBlock(block);
    Check(Client()->Buffer->Count() <= kBufferSize, "buffer bounded");
  }

  const std::vector<std::string>& Seen() const { return module_.Seen; }

 private:
  TPluginCallRec Block() const {
    TPluginCallRec block{};
    block.Size = kCallRecSize;
    block.DataSourceNo = 1;
    block.ClientId = kClientId;
    block.Roles = 2;
    std::memcpy(block.ClientName, "10.0.0.9:4001", 13);
    return block;
  }
  TDlt645ParserClient* Client() {
    auto clients = source_->Clients->ReadLocked();
    TCustomParserClient* client = clients->Find(kClientId);
    Check(client != nullptr, "client");
    return static_cast<TDlt645ParserClient*>(client);
  }

  platform::VirtualClock clock_;
  Module module_;
  TTextResources texts_{nullptr};
  TDlt645Context context_;
  std::unique_ptr<TSerialPortDM> source_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint32_t seed = data[0] * 2654435761u + 1;
  const uint8_t flags = data[1];
  data += 2;
  size -= 2;

  std::vector<std::string> chunked;
  {
    Rig rig(flags);
    for (size_t pos = 0; pos < size;) {
      seed = seed * 1103515245u + 12345u;
      const size_t n = std::min<size_t>(size - pos, 1 + (seed >> 16) % 48);
      rig.Feed(data + pos, n);
      pos += n;
    }
    chunked = rig.Seen();
  }
  // Below the buffer's size nothing is discarded, so one block must give
  // exactly what the many gave.
  if (size > 0 && size < kBufferSize) {
    Rig rig(flags);
    rig.Feed(data, size);
    const std::vector<std::string>& whole = rig.Seen();
    if (whole != chunked) {
      size_t i = 0;
      while (i < whole.size() && i < chunked.size() && whole[i] == chunked[i])
        ++i;
      std::fprintf(stderr, "first difference at %zu:\n whole:   %s\n chunked: %s\n", i,
                   i < whole.size() ? whole[i].c_str() : "(end)",
                   i < chunked.size() ? chunked[i].c_str() : "(end)");
      Check(false, "the same outcome whatever the blocks");
    }
  }
  return 0;
}
