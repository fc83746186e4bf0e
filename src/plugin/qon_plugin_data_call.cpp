// The data call of ProcessData, the state lock that keeps what it uses, and
// AppendResult, through which parsers hand their records back in the call.
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "paramlist/params_edge.h"
#include "plugin/plugin_call_rec_intf.h"
#include "plugin/qon_plugin.h"
#include "threading/thread_marks.h"

namespace {

// The modules whose data calls the current thread is inside, innermost last.
struct DataCallTag;
using DataCalls = TThreadMarks<DataCallTag>;

class DataCallScope {
 public:
  explicit DataCallScope(const TqonPlugin* module) : module_(module) { DataCalls::Add(module); }
  ~DataCallScope() { DataCalls::Remove(module_); }
  DataCallScope(const DataCallScope&) = delete;
  DataCallScope& operator=(const DataCallScope&) = delete;

 private:
  const TqonPlugin* module_;
};

// The output list of each data call the current thread is inside, innermost
// first. AppendResult hands a call's records to the list resolved for it
// (probed once, at entry) instead of probing the host's pointer per record;
// a descriptor changed within the call is probed once more.
struct CallOutput {
  const TqonPlugin* module;
  const TPluginCallRec* rec;
  uint8_t kind;
  uintptr_t data;
  IntfPtr<IqonParamsListA> list;
  CallOutput* outer;
};
// A plain pointer: nothing to destroy when a thread ends.
thread_local CallOutput* t_call_output = nullptr;

class CallOutputScope {
 public:
  CallOutputScope(const TqonPlugin* module, const TPluginCallRec* rec, IqonParamsListA* list)
      : output_{
            module,       rec, rec->Output.Kind, rec->Output.Data, IntfPtr<IqonParamsListA>(list),
            t_call_output} {
    t_call_output = &output_;
  }
  ~CallOutputScope() { t_call_output = output_.outer; }
  CallOutputScope(const CallOutputScope&) = delete;
  CallOutputScope& operator=(const CallOutputScope&) = delete;

 private:
  CallOutput output_;
};

// The list the record's Output descriptor holds now; `probed` keeps it
// when it had to be looked up outside a data call.
IqonParamsListA* OutputListOf(const TqonPlugin* module, const TPluginCallRec* rec,
                              IntfPtr<IqonParamsListA>* probed) {
  for (CallOutput* c = t_call_output; c; c = c->outer) {
    if (c->module != module || c->rec != rec) continue;
    if (c->kind != rec->Output.Kind || c->data != rec->Output.Data) {
      c->list = DescriptorList(rec->Output);
      c->kind = rec->Output.Kind;
      c->data = rec->Output.Data;
    }
    return c->list.get();
  }
  *probed = DescriptorList(rec->Output);
  return probed->get();
}

constexpr char kResultSeparator[] = "<{[::]}>";
constexpr size_t kResultSeparatorLength = sizeof(kResultSeparator) - 1;

}  // namespace

// --------------------------------------------------------------------------
// The state lock

TqonPlugin::TStateExclusiveLock TqonPlugin::LockStateExclusive() {
  CheckStateChangeAllowed();
  return TStateExclusiveLock(state_lock_);
}

bool TqonPlugin::InDataCall() const {
  return DataCalls::Contains(this);
}

void TqonPlugin::CheckStateChangeAllowed() const {
  if (InDataCall())
    throw EAssertionFailed("The plugin state cannot change inside a data call of the same thread");
}

// --------------------------------------------------------------------------
// The data call

int32_t TqonPlugin::ProcessDataCall(TPluginCallRec* rec) {
  TStateSharedLock state = LockStateShared();
  if (Host.Unloaded) return Code(TCallResult::Refused);
  return DataCall(rec);
}

QON_FOREIGN_CALLS int32_t TqonPlugin::DataCall(TPluginCallRec* rec) {
  if (!rec || rec->Size != kCallRecSize || rec->Params == 0) return 0;
  DataCallScope scope(this);
  data_calls_.fetch_add(1);
  struct Leave {
    std::atomic<int32_t>& calls;
    ~Leave() { calls.fetch_sub(1); }
  } leave{data_calls_};

  // A text block left by the previous call of this record has been read by
  // now, unless the host handed it back as this call's input.
  void* old_block = text_blocks_.Take(rec);
  struct OldBlock {
    TResultTextBlocks& blocks;
    TPluginCallRec* rec;
    void* block;
    ~OldBlock() {
      if (!block) return;
      if (rec->Input.Data == reinterpret_cast<uintptr_t>(block) && !blocks.Get(rec))
        blocks.Set(rec, block);
      else
        std::free(block);
    }
  } old{text_blocks_, rec, old_block};

  TPluginCallRecIntf call(rec);
  CallOutputScope output(this, rec, call.OutputList());
  const uintptr_t saved = rec->Input.Data;
  int32_t result = 0;

  if (rec->Roles != 0) {
    const uint8_t roles = rec->Roles;
    if ((roles & RoleBit(TRole::Request)) == 0 && rec->Input.Data != 0) {
      IntfPtr<IqonParamsListA> in = DescriptorList(rec->Input);
      if (in && in->GetCount() == 0) rec->Input.Data = 0;
    }
    bool serve = true;
    if (roles & RoleBit(TRole::Writing)) {
      if (rec->Input.Data == 0) {
        const std::string msg = Messages.MsgNoData.Get();
        if (!msg.empty()) Log(TLogLevel::Warning, msg);
        serve = false;
      } else if (IntfPtr<IqonParamsListA> in = DescriptorList(rec->Input)) {
        const int32_t count = in->GetCount();
        if (count > 0) {
          IqonParamsListItemA* last = nullptr;
          bool separator = false;
          if (in->GetItem(count - 1, &last) == kQonOk && last) {
            separator = last->IsNewRow();
            last->Release();
          }
          if (!separator) in->AddNewRow();
        }
      }
    }
    if (serve) {
      if (Handles(TPluginHook::ProcessData)) {
        try {
          result = OnProcessData(rec);
          if (result > 0 && rec->Input.Data == 0) result = 0;
          if (roles & (RoleBit(TRole::Writing) | RoleBit(TRole::Reporting))) {
            const std::string msg =
                result < 0 ? Messages.MsgWriteCompleteError.Get() : Messages.MsgWriteComplete.Get();
            if (!msg.empty()) Log(result < 0 ? TLogLevel::Warning : TLogLevel::Success, msg);
          }
        } catch (const std::exception& e) {
          result = Code(TCallResult::Error);
          const std::string msg = Messages.MsgWriteCompleteError.Get();
          if (!msg.empty()) Log(TLogLevel::Warning, msg + ": " + e.what());
        }
      } else if (roles & RoleBit(TRole::PassThrough)) {
        std::memcpy(&rec->Output, &rec->Input, sizeof(TPluginDataDesc));
      }
    }
  }
  // The input was consumed unless the call left something else in it.
  if (rec->Input.Data == saved) rec->Input.Data = 0;
  return result;
}

// --------------------------------------------------------------------------
// Results of the data call

QON_FOREIGN_CALLS void TqonPlugin::AppendResult(TPluginCallRec* rec, TqonParamsList* list,
                                                const std::string& text, bool append) {
  if (!rec) return;
  IntfPtr<IqonParamsListA> probed;
  IqonParamsListA* out = OutputListOf(this, rec, &probed);
  if (!out) return;

  if (!text.empty()) {
    TPluginDataDesc& in = rec->Input;
    void* ours = text_blocks_.Get(rec);
    // Only a block this instance allocated is grown; host text is replaced.
    const bool own_text =
        ours && in.Kind == kKindText && in.Size > 0 && in.Data == reinterpret_cast<uintptr_t>(ours);
    size_t old_size = 0;
    bool separator = false;
    if (own_text && append) {
      old_size = in.Size;
      const char* old_text = static_cast<const char*>(ours);
      separator = old_size < kResultSeparatorLength ||
                  std::memcmp(old_text + old_size - kResultSeparatorLength, kResultSeparator,
                              kResultSeparatorLength) != 0;
    }
    const size_t new_size = old_size + (separator ? kResultSeparatorLength : 0) + text.size();
    if (new_size > UINT32_MAX) throw EOutOfResources("Result text too long");
    void* block = own_text ? std::realloc(ours, new_size) : std::malloc(new_size);
    if (!block) throw EOutOfResources("Out of memory");
    if (own_text || !ours) {
      text_blocks_.Set(rec, block);
    } else {
      // An older block of this call that the input no longer shows.
      std::free(ours);
      text_blocks_.Set(rec, block);
    }
    char* p = static_cast<char*>(block) + old_size;
    if (separator) {
      std::memcpy(p, kResultSeparator, kResultSeparatorLength);
      p += kResultSeparatorLength;
    }
    std::memcpy(p, text.data(), text.size());
    in.Kind = kKindText;
    in.Data = reinterpret_cast<uintptr_t>(block);
    in.Size = static_cast<uint32_t>(new_size);
  }

  rec->Output.Count += 1;
  if (!append) out->Clear();
  if (!list) return;
  for (int i = 0; i < list->Count(); ++i) {
    const TqonParamsListItem* item = list->Items(i);
    IqonParamsListItemA* added = nullptr;
    if (out->Add(item->Name.c_str(), &item->Value.Raw(), &added) != kQonOk || !added) continue;
    added->SetKey(item->Key.c_str());
    added->SetDataType(item->DataType);
    added->SetFlags(item->Flags);
    added->Release();
  }
}
