#pragma once
// What a data module does on the host's commands and data calls: the hooks
// that TqonPlugin declares, and the events that stand in for them.
#include <cstdint>
#include <functional>
#include <string>

struct TPluginCallRec;
class TqonPlugin;

// Handlers a module can be given without deriving from TqonPlugin (test
// doubles do); the default hooks of TqonPlugin call them when assigned.
struct TqonPluginEvents {
  using TNotifyEvent = std::function<void(TqonPlugin&)>;
  using TShowOptionsDialogEvent =
      std::function<void(TqonPlugin&, TPluginCallRec* rec, bool& changed)>;
  using TGetOptionsDialogEvent = std::function<void(TqonPlugin&, TPluginCallRec* rec,
                                                    std::string& form_name, std::string& extra)>;
  using TCommandEvent = std::function<void(TqonPlugin&, const std::string& command,
                                           TPluginCallRec* rec, int32_t& result)>;
  using TCallEvent = std::function<void(TqonPlugin&, TPluginCallRec* rec, int32_t& result)>;
  using TChangeStateEvent = std::function<void(TqonPlugin&, uint8_t roles)>;

  TShowOptionsDialogEvent OnShowOptionsDialog;
  TGetOptionsDialogEvent OnGetOptionsDialog;
  TCommandEvent OnCommand;
  TCallEvent OnLoad;
  TCallEvent OnUnload;
  TNotifyEvent OnSaveSettingsNow;
  TNotifyEvent OnLoadSettingsNow;
  TNotifyEvent OnBeforeGetParserItems;
  TNotifyEvent OnSetItems;
  TChangeStateEvent OnChangeState;
  TCallEvent OnProcessData;
  TCommandEvent OnEvent;
  TNotifyEvent OnLanguageChange;
};

// The hooks whose presence changes what the framework does without them.
enum class TPluginHook { ProcessData, LoadSettingsNow, ShowOptionsDialog, GetOptionsDialog };
