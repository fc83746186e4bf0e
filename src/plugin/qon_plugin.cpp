#include "plugin/qon_plugin.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "paramlist/params_edge.h"
#include "parser/standard_fields.h"
#include "platform/debug.h"
#include "platform/message_loop.h"
#include "platform/module.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "plugin/plugin_call_rec_intf.h"
#include "plugin/text_lines.h"
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

const char* const kParserTypeNames[] = {
    "String", "Memo", "Bytes",    "Blob",  "Boolean", "Float",    "Smallint", "Word",     "Integer",
    "Date",   "Time", "DateTime", "DWord", "Byte",    "Shortint", "Int64",    "Currency", ""};
static_assert(sizeof(kParserTypeNames) / sizeof(kParserTypeNames[0]) == kParserTypeNone + 1);

struct StandardItem {
  const char* name;
  const char* caption;
  uint8_t type;
};
const StandardItem kStandardItems[] = {
    {"FULL_DATA_PACKET", "Full data packet", kParserTypeString},
    {"DATA_PACKET", "Data packet", kParserTypeString},
    {"DATE_TIME_STAMP", "Datetime stamp", kParserTypeDateTime},
    {"DATA_SOURCE_ID", "Data source ID", kParserTypeInteger},
    {"DATA_SOURCE_NAME", "Data source name", kParserTypeString},
    {"DATA_SOURCE_FULL_NAME", "Data source long name", kParserTypeString},
    {"CLIENTID", "Client ID", kParserTypeInteger},
};

constexpr char kResultSeparator[] = "<{[::]}>";
constexpr size_t kResultSeparatorLength = sizeof(kResultSeparator) - 1;

}  // namespace

// --------------------------------------------------------------------------
// Construction and destruction

TqonPlugin::TqonPlugin(TPluginCallRec* rec, uintptr_t dll_handle) : DllHandle(dll_handle) {
  if (rec) {
    temporary_load_ = rec->Params == 0;
    OleVariant v;
    bool value = false;
    if (TryReadIntfValue(CallParams(rec).get(), "TEMPORARY-LOAD", &v) && v.TryToBool(&value))
      temporary_load_ = value;
  }
  Translator = std::make_unique<TPluginTranslator>();
  LogList = std::make_unique<TLogDataList>();

  const std::string file =
      platform::ModuleFileName(dll_handle ? reinterpret_cast<const void*>(dll_handle) : nullptr);
  const size_t delimiter = file.find_last_of("/\\");
  ModuleName = delimiter == std::string::npos ? file : file.substr(delimiter + 1);
  ModulePath = delimiter == std::string::npos ? std::string() : file.substr(0, delimiter + 1);
  Version = DLT645_VERSION_TEXT;

  Language = Translator->SetupLanguageFiles(platform::ProgramFileName(), file);
  Translator->AddComponentProperty("MsgNoData");
  Translator->AddComponentProperty("MsgWriteComplete");
  Translator->AddComponentProperty("MsgWriteCompleteError");
}

void TqonPlugin::AfterConstruction() {
  // The texts as the create handler left them are the built-in ("EN") ones
  // every translation starts from.
  builtin_texts_ = {MsgNoData.Get(), MsgWriteComplete.Get(), MsgWriteCompleteError.Get()};
  if (Translator && Translator->HasLanguageFiles()) ApplyTranslation();
}

TqonPlugin::~TqonPlugin() {
  destroying_ = true;
  ParserItemsText.clear();
  ParserItems.clear();
  {
    std::lock_guard<std::mutex> guard(config_sources_lock_);
    config_sources_.clear();
  }
  Translator.reset();
  CustomCommands.Clear();
  module_params_.reset();
  module_configs_.reset();
  LogList.reset();
  DialogList.Reset();
  std::lock_guard<std::mutex> guard(text_blocks_lock_);
  for (auto& [rec, block] : text_blocks_)
    std::free(block);
  text_blocks_.clear();
}

IntfPtr<IqonParamsListA> TqonPlugin::CallParams(const TPluginCallRec* rec) {
  if (!rec || !rec->Params) return {};
  return ListIntfFromPointer(reinterpret_cast<void*>(rec->Params));
}

// --------------------------------------------------------------------------
// Log and notifications

void TqonPlugin::Log(TLogLevel level, const std::string& text, bool flag) {
  if (!LogList || destroying_) return;
  try {
    std::string line(1, static_cast<char>((static_cast<int>(level) + 1) | (flag ? 0x80 : 0)));
    const std::string title = LogTitle.Get();
    if (!title.empty()) line += title + ". ";
    const size_t body = line.size();
    line += text;
    std::replace_if(
        line.begin() + static_cast<std::ptrdiff_t>(body), line.end(),
        [](char c) { return c == '\r' || c == '\n'; }, ' ');
    LogList->AddLine(line);
    NotifyLogLines();
  } catch (...) {
    // The log never fails its caller.
  }
}

void TqonPlugin::LogError(const std::string& context, const std::string& message) {
  const std::string text = "{" + context + "} " + message;
  Log(TLogLevel::Error, text);
  platform::DebugOutput(text + ": ");
}

void TqonPlugin::NotifyLogLines() {
  if (HostWindow.load() == 0) return;
  // One notice until the host fetches the log: a data path never waits on a
  // notification per line.
  if (log_notice_pending_.exchange(true)) return;
  NotifyHost(kMsgLogLines);
}

void TqonPlugin::NotifyHost(uint32_t msg) {
  try {
    const platform::WindowHandle window = HostWindow.load();
    if (window == 0) return;
    const uintptr_t id = HostModuleId.load();
    if (platform::PostMessageTo(window, msg, id, 0)) return;
    intptr_t answer = 0;
    platform::SendMessageTimeoutTo(window, msg, id, 0, kNotifySendTimeoutMs, &answer);
  } catch (...) {
    // Notifications are a courtesy; the host also polls.
  }
}

// --------------------------------------------------------------------------
// Roles

bool TqonPlugin::RoleEnabled(TRole role) const {
  const int index = static_cast<int>(role);
  return index >= 0 && index < kRoleCount && RoleState[static_cast<size_t>(index)].load();
}

uint8_t TqonPlugin::EnabledRoles() const {
  uint8_t roles = 0;
  for (int i = 0; i < kRoleCount; ++i)
    if (RoleState[static_cast<size_t>(i)].load()) roles = static_cast<uint8_t>(roles | (1u << i));
  return roles;
}

uint8_t TqonPlugin::RolesFromValue(const OleVariant& value, bool only_enabled) const {
  int64_t bits = 0;
  if (value.IsEmptyOrNull() || !value.TryToInt64(&bits)) return 0;
  uint8_t roles = static_cast<uint8_t>(bits & 0xFF);
  if (only_enabled) roles = static_cast<uint8_t>(roles & EnabledRoles());
  return roles;
}

std::span<const TPropInfo> TqonPlugin::PublishedProperties() const {
  using T = TqonPlugin;
  static const std::vector<TPropInfo> properties = JoinProps(
      ComponentProperties(),
      {
          {"MsgNoData", TTypeKind::tkLString,
           [](const TPersistent& p) { return TPropValue(PropSelf<T>(p).MsgNoData.Get()); },
           [](TPersistent& p, const TPropValue& v) { PropSelf<T>(p).MsgNoData = PropAsText(v); }},
          {"MsgWriteComplete", TTypeKind::tkLString,
           [](const TPersistent& p) { return TPropValue(PropSelf<T>(p).MsgWriteComplete.Get()); },
           [](TPersistent& p, const TPropValue& v) {
             PropSelf<T>(p).MsgWriteComplete = PropAsText(v);
           }},
          {"MsgWriteCompleteError", TTypeKind::tkLString,
           [](const TPersistent& p) {
             return TPropValue(PropSelf<T>(p).MsgWriteCompleteError.Get());
           },
           [](TPersistent& p, const TPropValue& v) {
             PropSelf<T>(p).MsgWriteCompleteError = PropAsText(v);
           }},
      });
  return properties;
}

// --------------------------------------------------------------------------
// Settings location

TModuleConfigList& TqonPlugin::ModuleConfigs() {
  std::call_once(module_configs_once_,
                 [this] { module_configs_ = std::make_unique<TModuleConfigList>(); });
  return *module_configs_;
}

TSettingsLocation TqonPlugin::SettingsLocation() const {
  TSettingsLocation location;
  location.RegistryRoot1 = RegistryRoot1;
  location.RegistryRoot2 = RegistryRoot2;
  location.RegistryPath = RegistryPath.Get();
  location.IniFile = IniFile.Get();
  location.IniSectionPrefix = IniSectionPrefix.Get();
  return location;
}

bool TqonPlugin::LoadSettings(const TStrings& lines, TPersistent* config,
                              const std::string* ini_file) {
  bool busy = false;
  SettingsBusy = true;
  const bool ok = ::LoadSettings(SettingsLocation(), lines, config, ini_file, &busy);
  SettingsBusy = false;
  return ok;
}

bool TqonPlugin::SaveSettings(const TStrings& lines, TPersistent* config,
                              const std::string* ini_file) {
  bool busy = false;
  SettingsBusy = true;
  const bool ok = ::SaveSettings(SettingsLocation(), lines, config, ini_file, &busy);
  SettingsBusy = false;
  return ok;
}

std::string TqonPlugin::AppDataPath() const {
  return GetAppDataPath(RegistryPath.Get(), ModulePath);
}

std::string TqonPlugin::ModuleConfigName() {
  return GetConfigName(&ModuleConfigs(), ConfigId.load(), Title.Get(), ModuleName);
}

std::string TqonPlugin::ModuleDataPath() {
  return GetModuleDataPath(AppDataPath(), GetSubFolder(IniSectionPrefix.Get()), ModuleConfigName());
}

std::vector<TConfigDataSource> TqonPlugin::ConfiguredDataSources() const {
  std::lock_guard<std::mutex> guard(config_sources_lock_);
  return config_sources_;
}

// --------------------------------------------------------------------------
// Parser items

int TqonPlugin::AddParserItem(const std::string& name, const std::string& caption,
                              const std::string& extra, uint8_t type) {
  ParserItems.push_back(TParserItem{name, caption, type, extra});
  return static_cast<int>(ParserItems.size()) - 1;
}

void TqonPlugin::SetParserItem(int index, const TParserItem& item) {
  if (index < 0) return;
  if (static_cast<size_t>(index) >= ParserItems.size())
    ParserItems.resize(static_cast<size_t>(index) + 1);
  ParserItems[static_cast<size_t>(index)] = item;
}

std::string TqonPlugin::ParserItemsAsText() const {
  std::string text;
  for (size_t i = 0; i < ParserItems.size(); ++i) {
    const TParserItem& item = ParserItems[i];
    if (i > 0) text += "\r\n";
    const char* type = item.DataType <= kParserTypeNone ? kParserTypeNames[item.DataType] : "";
    text += item.Caption + "|" + item.Name + "|" + type + "|" + item.Extra;
  }
  return text;
}

void TqonPlugin::LoadParserItems(std::string_view text, bool replace) {
  std::vector<TParserItem> parsed;
  for (const std::string& line : SplitLines(text)) {
    if (line.empty()) continue;
    const std::vector<std::string> f = SplitFields(line, "|");
    // A line without a name ends the list: what was read so far is the list.
    if (f.size() < 2) break;
    TParserItem item;
    item.Caption = f[0];
    item.Name = f[1];
    item.DataType = kParserTypeNone;
    if (f.size() > 2) {
      for (uint8_t t = 0; t <= kParserTypeNone; ++t) {
        if (platform::SameTextAscii(f[2], kParserTypeNames[t])) {
          item.DataType = t;
          break;
        }
      }
    }
    if (f.size() > 3) item.Extra = f[3];
    parsed.push_back(std::move(item));
  }
  if (replace) {
    ParserItems = std::move(parsed);
  } else {
    ParserItems.insert(ParserItems.end(), parsed.begin(), parsed.end());
  }
}

void TqonPlugin::AddStandardParserItems(bool with_client_id) {
  const size_t count = with_client_id ? 7 : 6;
  for (size_t i = 0; i < count; ++i)
    AddParserItem(kStandardItems[i].name, kStandardItems[i].caption, "", kStandardItems[i].type);
}

// --------------------------------------------------------------------------
// Language

void TqonPlugin::ApplyLanguage(const TPluginCallRecIntf& call) {
  OleVariant v;
  if (!call.ReadValue("LANGUAGE", &v)) return;
  const std::string requested = v.ToString();
  if (requested.empty()) return;
  std::lock_guard<std::mutex> guard(language_lock_);
  if (platform::SameTextAscii(requested, Language.Get())) return;
  Language = requested;
  Translated = false;
  ApplyTranslation();
  try {
    OnLanguageChange();
  } catch (const std::exception& e) {
    LogError("TRANSL", e.what());
  }
}

void TqonPlugin::ApplyTranslation() {
  if (Translated) return;
  const std::string language = Language.Get();
  if (language.empty()) return;
  RestoreBuiltInTexts();
  try {
    if (Translator) Translator->Translate(*this, language);
  } catch (const std::exception& e) {
    LogError("TRANSL", e.what());
  }
  Translated = true;
}

void TqonPlugin::RestoreBuiltInTexts() {
  MsgNoData = builtin_texts_[0];
  MsgWriteComplete = builtin_texts_[1];
  MsgWriteCompleteError = builtin_texts_[2];
}

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
  if (Unloaded) return Code(TCallResult::Refused);
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
  void* old_block = TakeTextBlock(rec);
  struct OldBlock {
    TqonPlugin& module;
    TPluginCallRec* rec;
    void* block;
    ~OldBlock() {
      if (!block) return;
      if (rec->Input.Data == reinterpret_cast<uintptr_t>(block) && !module.TextBlock(rec))
        module.SetTextBlock(rec, block);
      else
        std::free(block);
    }
  } old{*this, rec, old_block};

  TPluginCallRecIntf call(rec);
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
        const std::string msg = MsgNoData.Get();
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
                result < 0 ? MsgWriteCompleteError.Get() : MsgWriteComplete.Get();
            if (!msg.empty()) Log(result < 0 ? TLogLevel::Warning : TLogLevel::Success, msg);
          }
        } catch (const std::exception& e) {
          result = Code(TCallResult::Error);
          const std::string msg = MsgWriteCompleteError.Get();
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
// Output to the host

void* TqonPlugin::TakeTextBlock(const TPluginCallRec* rec) {
  std::lock_guard<std::mutex> guard(text_blocks_lock_);
  for (auto it = text_blocks_.begin(); it != text_blocks_.end(); ++it) {
    if (it->first == rec) {
      void* block = it->second;
      text_blocks_.erase(it);
      return block;
    }
  }
  return nullptr;
}

void* TqonPlugin::TextBlock(const TPluginCallRec* rec) {
  std::lock_guard<std::mutex> guard(text_blocks_lock_);
  for (auto& entry : text_blocks_)
    if (entry.first == rec) return entry.second;
  return nullptr;
}

void TqonPlugin::SetTextBlock(const TPluginCallRec* rec, void* block) {
  std::lock_guard<std::mutex> guard(text_blocks_lock_);
  for (auto& entry : text_blocks_) {
    if (entry.first == rec) {
      entry.second = block;
      return;
    }
  }
  // A host that uses a new record for every call never brings the old ones
  // back; it has read their texts long before this many later results.
  if (text_blocks_.size() >= kMaxTextBlocks) {
    std::free(text_blocks_.front().second);
    text_blocks_.erase(text_blocks_.begin());
  }
  text_blocks_.emplace_back(rec, block);
}

size_t TqonPlugin::OutstandingTextBlocks() const {
  std::lock_guard<std::mutex> guard(text_blocks_lock_);
  return text_blocks_.size();
}

QON_FOREIGN_CALLS void TqonPlugin::AppendResult(TPluginCallRec* rec, TqonParamsList* list,
                                                const std::string& text, bool append) {
  if (!rec) return;
  IntfPtr<IqonParamsListA> out = DescriptorList(rec->Output);
  if (!out) return;

  if (!text.empty()) {
    TPluginDataDesc& in = rec->Input;
    void* ours = TextBlock(rec);
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
      SetTextBlock(rec, block);
    } else {
      // An older block of this call that the input no longer shows.
      std::free(ours);
      SetTextBlock(rec, block);
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

void TqonPlugin::OutputList(uint32_t data_source_no, uintptr_t client_id, TParsedDataList* list) {
  const TSendDataExFn send = HostFunctions.SendDataEx.load();
  if (!send || !list) return;
  ListForHost host_list(*list);
  TPluginCallRec r{};
  r.Size = kCallRecSize;
  r.Flags = 1;
  r.Output.Kind = kKindListIntf;
  r.Output.Data = reinterpret_cast<uintptr_t>(host_list.IntfRef());
  if (!list->Text.empty()) {
    r.Input.Kind = kKindText;
    r.Input.Data = reinterpret_cast<uintptr_t>(list->Text.data());
    r.Input.Size = static_cast<uint32_t>(list->Text.size());
  }
  send(HostModuleId.load(), data_source_no, client_id, 0, kSendParsedList, &r, 0);
}

int32_t TqonPlugin::WriteData(uint32_t data_source_no, uintptr_t client_id, const uint8_t* bytes,
                              int32_t count) {
  const TSendDataExFn send = HostFunctions.SendDataEx.load();
  if (!send || count < 0) return Code(TCallResult::Refused);
  return send(HostModuleId.load(), data_source_no, client_id, 0, kSendRawBytes, bytes,
              static_cast<uint32_t>(count));
}

int32_t TqonPlugin::WriteText(uint32_t data_source_no, uintptr_t client_id,
                              const std::string& text) {
  const TSendDataExFn send = HostFunctions.SendDataEx.load();
  if (!send || text.empty()) return Code(TCallResult::Refused);
  return send(HostModuleId.load(), data_source_no, client_id, 0, kSendText, text.data(),
              static_cast<uint32_t>(text.size()));
}

int TqonPlugin::AddStandardFields(TqonParamsList* list, const std::string& full_packet,
                                  const std::string& client_name, const std::string& full_name,
                                  const std::string& short_name, uintptr_t client_id,
                                  uint32_t data_source_no, const std::string& packet) {
  return AddStandardRecordFields(list, full_packet, client_name, full_name, short_name, client_id,
                                 data_source_no, packet);
}
