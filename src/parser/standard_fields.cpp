#include "parser/standard_fields.h"

#include "paramlist/params_list.h"
#include "platform/tick.h"

int AddStandardRecordFields(TqonParamsList* list, const std::string& full_packet,
                            const std::string& client_name, const std::string& full_name,
                            const std::string& short_name, uintptr_t client_id,
                            uint32_t data_source_no, const std::string& packet) {
  if (!list) return 0;
  int added = 0;
  if (!full_packet.empty()) {
    list->AddString("FULL_DATA_PACKET", full_packet);
    ++added;
  }
  if (!packet.empty()) {
    list->AddString("DATA_PACKET", packet);
    ++added;
  }
  list->Add("DATE_TIME_STAMP", OleVariant::FromDate(platform::LocalNow()));
  list->Add("DATA_SOURCE_ID", static_cast<int32_t>(data_source_no));
  list->AddString("DATA_SOURCE_FULL_NAME", full_name);
  if (client_id != 0) {
    list->Add("CLIENTID", static_cast<int32_t>(client_id));
    list->AddString("DATA_SOURCE_NAME", client_name);
    return added + 5;
  }
  list->AddString("DATA_SOURCE_NAME", short_name);
  return added + 4;
}
