// Output to the host outside a data call: parsed lists, and writes to a
// client's port, all through the host's Telvano_SendDataEx.
#include "paramlist/params_edge.h"
#include "parser/standard_fields.h"
#include "plugin/qon_plugin.h"

void TqonPlugin::OutputList(uint32_t data_source_no, uintptr_t client_id, TParsedDataList* list) {
  const TSendDataExFn send = Host.HostFunctions.SendDataEx.load();
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
  send(Host.HostModuleId.load(), data_source_no, client_id, 0, kSendParsedList, &r, 0);
}

int32_t TqonPlugin::WriteData(uint32_t data_source_no, uintptr_t client_id, const uint8_t* bytes,
                              int32_t count) {
  const TSendDataExFn send = Host.HostFunctions.SendDataEx.load();
  if (!send || count < 0) return Code(TCallResult::Refused);
  return send(Host.HostModuleId.load(), data_source_no, client_id, 0, kSendRawBytes, bytes,
              static_cast<uint32_t>(count));
}

int32_t TqonPlugin::WriteText(uint32_t data_source_no, uintptr_t client_id,
                              const std::string& text) {
  const TSendDataExFn send = Host.HostFunctions.SendDataEx.load();
  if (!send || text.empty()) return Code(TCallResult::Refused);
  return send(Host.HostModuleId.load(), data_source_no, client_id, 0, kSendText, text.data(),
              static_cast<uint32_t>(text.size()));
}

int TqonPlugin::AddStandardFields(TqonParamsList* list, const std::string& full_packet,
                                  const std::string& client_name, const std::string& full_name,
                                  const std::string& short_name, uintptr_t client_id,
                                  uint32_t data_source_no, const std::string& packet) {
  return AddStandardRecordFields(list, full_packet, client_name, full_name, short_name, client_id,
                                 data_source_no, packet);
}
