#pragma once
// A fake plug-in module, a small test protocol and helpers for the
// scheduling tests.
//
// The test protocol's frames are "<" payload ">": bytes before "<" are
// garbage and dropped, a payload "X" makes ParseFrame raise, "STOP" makes it
// answer -6, and "R" ends the pending request with code 1.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "paramlist/parsed_data_list.h"
#include "paramlist/plugin_records.h"
#include "parser/data_source.h"
#include "parser/parser_client.h"
#include "parser/parser_module.h"
#include "parser/queue_controller.h"
#include "platform/message_loop.h"
#include "platform/tick.h"

namespace sched_test {

class FakeModule : public IParserModule {
 public:
  struct Result {
    uintptr_t client_id;
    std::string text;
    std::vector<std::string> values;  // "NAME=value"
  };

  std::atomic<bool> role0{true};
  std::atomic<bool> role1{true};
  std::vector<TConfigDataSource> configured;
  std::vector<TDataSourceScheduled*> sources;

  bool RoleEnabled(TRole role) const override {
    return role == TRole::Request ? role0.load() : role == TRole::Parsing ? role1.load() : false;
  }
  void Log(TLogLevel, const std::string& text, bool) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(text);
  }
  void AppendResult(TPluginCallRec* rec, TqonParamsList* list, const std::string& text,
                    bool append) override {
    Result r{rec->ClientId, text, {}};
    for (int i = 0; i < list->Count(); ++i)
      r.values.push_back(list->Items(i)->Name + "=" + list->Items(i)->Value.ToString());
    std::lock_guard<std::mutex> lock(mutex_);
    if (!append) results_.clear();
    results_.push_back(std::move(r));
  }
  void OutputList(uint32_t, uintptr_t, TParsedDataList*) override {}
  int32_t WriteData(uint32_t, uintptr_t, const uint8_t*, int32_t count) override { return count; }
  int32_t WriteText(uint32_t, uintptr_t, const std::string& text) override {
    return static_cast<int32_t>(text.size());
  }
  int AddStandardFields(TqonParamsList*, const std::string&, const std::string&, const std::string&,
                        const std::string&, uintptr_t, uint32_t, const std::string&) override {
    return 0;
  }
  uintptr_t InstanceHandle() const override { return 0x12AB34CD; }
  std::vector<TConfigDataSource> ConfiguredDataSources() const override { return configured; }
  bool TemporaryLoad() const override { return false; }
  std::vector<TDataSourceScheduled*> DataSources() const override { return sources; }

  std::vector<Result> Results() {
    std::lock_guard<std::mutex> lock(mutex_);
    return results_;
  }
  void ClearResults() {
    std::lock_guard<std::mutex> lock(mutex_);
    results_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<Result> results_;
};

// A client of the test protocol that also records what its queue sends.
class TestClient : public TCustomParserScheduledClient {
 public:
  TestClient(TDataSourceScheduledWithClients* owner, const TPluginCallRec& block)
      : TCustomParserScheduledClient(owner, block) {
    Queue->OnSendRequest = [this](TQueueController&, TBasicRequestItem& item, uint32_t& timeout,
                                  uint32_t&) {
      sent.push_back(item.Caption);
      timeout = answer_timeout;
      return true;
    };
  }

  int FindFrame(bool& again) override {
    const uint8_t* data = Buffer->Data();
    const uint32_t count = Buffer->Count();
    uint32_t start = 0;
    while (start < count && data[start] != '<')
      ++start;
    if (start > 0) {
      Buffer->Consume(start);  // garbage
      data = Buffer->Data();
    }
    const uint32_t left = count - start;
    for (uint32_t i = 1; i < left; ++i) {
      if (data[i] != '>') continue;
      frame.assign(reinterpret_cast<const char*>(data) + 1, i - 1);
      again = i + 1 < left;
      return static_cast<int>(i + 1);
    }
    return -1;
  }

  int ParseFrame(TParsedDataList& list) override {
    if (frame == "X") throw std::runtime_error("undecodable");
    if (frame == "R") Queue->LockState().EndPending(1);
    list.Add("FRAME", OleVariant(frame));
    list.Text = "<" + frame + ">";
    return frame == "STOP" ? -6 : 0;
  }

  std::string frame;
  std::vector<std::string> sent;  // the client's own thread only
  uint32_t answer_timeout = 0;
};

inline TPluginCallRec MakeBlock(uintptr_t client_id, const std::string& name, uint32_t source = 1) {
  TPluginCallRec block{};
  block.Size = kCallRecSize;
  block.DataSourceNo = source;
  block.ClientId = client_id;
  block.Roles = 2;
  std::memcpy(block.ClientName, name.data(), std::min(name.size(), sizeof(block.ClientName)));
  return block;
}

// A block of received bytes; `bytes` must outlive its use.
inline TPluginCallRec DataBlock(uintptr_t client_id, const std::string& name,
                                const std::string& bytes) {
  TPluginCallRec block = MakeBlock(client_id, name);
  block.Input.Kind = 0;
  block.Input.Size = static_cast<uint32_t>(bytes.size());
  block.Input.Data = reinterpret_cast<uintptr_t>(bytes.data());
  return block;
}

inline TPluginCallRec EventBlock(uintptr_t client_id, const std::string& name, uintptr_t code) {
  TPluginCallRec block = MakeBlock(client_id, name);
  block.Input.Kind = kKindEvent;
  block.Input.Data = code;
  return block;
}

// Advances virtual time in steps of `step` ms, pumping the thread's timers.
inline void RunFor(platform::VirtualClock& clock, uint64_t ms, uint64_t step = 10) {
  for (uint64_t t = 0; t < ms; t += step) {
    clock.Advance(step);
    platform::PumpMessages(0);
  }
}

inline std::unique_ptr<TBasicRequestItem> Item(const std::string& caption, uint8_t method,
                                               int32_t poll_interval = 1000, bool enabled = true,
                                               uint8_t max_attempts = 1) {
  auto item = std::make_unique<TBasicRequestItem>();
  item->Caption = caption;
  item->Method = method;
  item->Mode.Method = method;
  item->PollInterval = poll_interval;
  item->Enabled = enabled;
  item->MaxAttempts = max_attempts;
  return item;
}

// A data source of test clients, registered with the module.
class TestSource : public TDataSourceScheduledWithClients {
 public:
  explicit TestSource(FakeModule* module, int32_t number = 1)
      : TDataSourceScheduledWithClients(module) {
    DataSourceNo = number;
    ClientClass = ParserClientClass<TestClient>();
    module->sources.push_back(this);
  }

  TestClient* Client(uintptr_t id) {
    auto r = Clients->ReadLocked();
    TCustomParserClient* c = r->Find(id);
    return static_cast<TestClient*>(c);
  }
  int Feed(uintptr_t id, const std::string& name, const std::string& bytes) {
    TPluginCallRec block = DataBlock(id, name, bytes);
    return ProcessBlock(block);
  }
  int Event(uintptr_t id, const std::string& name, uintptr_t code) {
    TPluginCallRec block = EventBlock(id, name, code);
    return ProcessBlock(block);
  }
};

}  // namespace sched_test
