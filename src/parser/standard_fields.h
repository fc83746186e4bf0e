#pragma once
// The fields every record begins with: the frames, the time, the data source
// and the client.
#include <cstdint>
#include <string>

class TqonParamsList;

// Adds FULL_DATA_PACKET and DATA_PACKET (when not empty), DATE_TIME_STAMP,
// DATA_SOURCE_ID, DATA_SOURCE_FULL_NAME, CLIENTID (with a client) and
// DATA_SOURCE_NAME (the client's name with a client, else the short name).
// The number of fields added; 0 without a list.
int AddStandardRecordFields(TqonParamsList* list, const std::string& full_packet,
                            const std::string& client_name, const std::string& full_name,
                            const std::string& short_name, uintptr_t client_id,
                            uint32_t data_source_no, const std::string& packet);
