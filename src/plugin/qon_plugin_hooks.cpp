// The default hooks of the data module: each calls the handler of Events
// that stands in for it, when one is assigned.
#include "plugin/qon_plugin.h"

bool TqonPlugin::Handles(TPluginHook hook) const {
  switch (hook) {
    case TPluginHook::ProcessData:
      return static_cast<bool>(Events.OnProcessData);
    case TPluginHook::LoadSettingsNow:
      return static_cast<bool>(Events.OnLoadSettingsNow);
    case TPluginHook::ShowOptionsDialog:
      return static_cast<bool>(Events.OnShowOptionsDialog);
    case TPluginHook::GetOptionsDialog:
      return static_cast<bool>(Events.OnGetOptionsDialog);
  }
  return false;
}

void TqonPlugin::OnLoad(TPluginCallRec* rec) {
  int32_t result = 0;
  if (Events.OnLoad) Events.OnLoad(*this, rec, result);
}

void TqonPlugin::OnUnload(TPluginCallRec* rec) {
  int32_t result = 0;
  if (Events.OnUnload) Events.OnUnload(*this, rec, result);
}

void TqonPlugin::OnChangeState(uint8_t roles) {
  if (Events.OnChangeState) Events.OnChangeState(*this, roles);
}

int32_t TqonPlugin::OnProcessData(TPluginCallRec* rec) {
  int32_t result = 0;
  if (Events.OnProcessData) Events.OnProcessData(*this, rec, result);
  return result;
}

int32_t TqonPlugin::OnEvent(const std::string& event, TPluginCallRec* rec) {
  // Without a handler an event is taken and ignored.
  if (!Events.OnEvent) return Code(TCallResult::Done);
  int32_t result = Code(TCallResult::Refused);
  Events.OnEvent(*this, event, rec, result);
  return result;
}

int32_t TqonPlugin::OnCommand(const std::string& command, TPluginCallRec* rec) {
  int32_t result = Code(TCallResult::NotAnswered);
  if (Events.OnCommand) Events.OnCommand(*this, command, rec, result);
  return result;
}

void TqonPlugin::OnSetItems() {
  if (Events.OnSetItems) Events.OnSetItems(*this);
}

void TqonPlugin::OnBeforeGetParserItems() {
  if (Events.OnBeforeGetParserItems) Events.OnBeforeGetParserItems(*this);
}

void TqonPlugin::OnSaveSettingsNow() {
  if (Events.OnSaveSettingsNow) Events.OnSaveSettingsNow(*this);
}

void TqonPlugin::OnLoadSettingsNow() {
  if (Events.OnLoadSettingsNow) Events.OnLoadSettingsNow(*this);
}

void TqonPlugin::OnShowOptionsDialog(TPluginCallRec* rec, bool& changed) {
  if (Events.OnShowOptionsDialog) Events.OnShowOptionsDialog(*this, rec, changed);
}

void TqonPlugin::OnGetOptionsDialog(TPluginCallRec* rec, std::string& form_name,
                                    std::string& extra) {
  if (Events.OnGetOptionsDialog) Events.OnGetOptionsDialog(*this, rec, form_name, extra);
}

void TqonPlugin::OnLanguageChange() {
  if (Events.OnLanguageChange) Events.OnLanguageChange(*this);
}
