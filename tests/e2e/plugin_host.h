#pragma once
// The test host: loads the plug-in library at run time through the host kit
// and calls its exports with the kit's records and parameter lists.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hostkit/abi.h"
#include "hostkit/params_list.h"
#include "hostkit/plugin.h"

namespace host {

// The library, loaded once for the whole test program.
class Library {
 public:
  static Library& Get();
  bool Loaded() const { return loaded_; }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }
  const PluginLibrary& Fns() const { return *fns_; }
  void* Find(const char* name) const { return fns_->Find(name); }

 private:
  Library();
  bool loaded_ = false;
  std::string path_;
  std::string error_;
  // Never unloaded: threads of the library may outlive the tests.
  PluginLibrary* fns_;
};

// A call record with a host parameter list behind Params.
struct Call {
  CallRec rec{};
  ListPtr list = MakeList();
  ParamsList& params = *list;
  explicit Call(uintptr_t instance = 0, const std::string& command = "");
  Call& Set(const std::string& name, Value value) {
    params.Put(name, value);
    return *this;
  }
  Value Result() const {
    const ListItem* item = params.Find("RESULT");
    return item ? item->value : Value();
  }
};

// One plug-in instance driven through the exports.
class Instance {
 public:
  Instance();
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  uintptr_t Handle() const { return handle_; }
  const PluginLibrary& Fns() const { return Library::Get().Fns(); }
  int32_t Command(const std::string& command) {
    Call c(handle_, command);
    return Command(c);
  }
  int32_t Command(Call& call);
  Value GetParameter(const std::string& name);
  bool SetParameter(const std::string& name, Value value);
  // Takes the whole pending log.
  std::string TakeLog();
  // Frees the instance now (the destructor then does nothing).
  int32_t Free();

 private:
  uintptr_t handle_ = 0;
};

// The identifier the host passes as "CONFIG-ID" for a module configuration
// name: CRC-32 without the final inversion.
uint32_t ConfigIdOf(const std::string& name);

// What the library sent to "Telvano_SendDataEx".
struct SentData {
  uint32_t host_module_id = 0;
  uint32_t data_source_no = 0;
  uintptr_t client_id = 0;
  uint32_t kind = 0;
  std::string bytes;         // kinds 129 and 130; the text of kind 9
  std::vector<Record> rows;  // kind 9
};

class HostServices {
 public:
  using WriteListener = std::function<void(const SentData&)>;

  static HostServices& Get();
  std::vector<SentData> Take();
  // What every write is answered with; clears the answers for one client.
  void SetAnswer(int32_t answer);
  // The answer to the writes for one client only.
  void SetAnswerFor(uintptr_t client_id, int32_t answer);
  // Told of everything the library sends, in the sending thread.
  void SetWriteListener(WriteListener listener);
  int32_t Receive(SentData sent);
  std::atomic<uint64_t> tick{5'000'000};
  std::atomic<double> local_now{45000.5};

 private:
  std::mutex lock_;
  std::vector<SentData> sent_;
  std::mutex listener_lock_;
  WriteListener listener_;
  std::atomic<int32_t> answer_{0};
  std::map<uintptr_t, int32_t> client_answers_;  // under lock_
};

}  // namespace host
