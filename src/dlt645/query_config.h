#pragma once
// The query configuration: the options dialog's XML text (root
// DL_T645_2007_QUERY) read into request items, one per configured request,
// device and function.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/object_list.h"
#include "config/xml/dov_xml_tree.h"
#include "parser/parser_module.h"

class TBasicRequestItem;
class TDataSourceCfg;
class TDataSourceScheduled;
class TQueueControllerTimer;

// The device entries that address meters: sorted without regard to case, an
// entry is kept when its trimmed text reads as a non-negative 64-bit integer
// and no entry with the same trimmed text was kept before. Kept entries stay
// as written, so "*" and "AAAAAAAAAAAA" never survive.
std::vector<std::string> NormalizeDeviceList(std::vector<std::string> entries);

// Where loading reports refused or doubtful entries (level, text).
using TQueryLog = std::function<void(TLogLevel level, const std::string& text)>;

// Appends the request items of the configuration text to the list: requests
// in document order, devices by request, functions by device. With a queue,
// AtTime and Cron requests get their scheduled events there and their items
// the events' key. Answers the number of listen-only requests ("Enabled"
// false), counting into *listen_only (when given) as it goes. Device entries
// that are no meter address are refused and reported through log.
int ReadQueryConfig(std::string_view text, TObjectList<TBasicRequestItem>& list,
                    TQueueControllerTimer* schedule_queue = nullptr,
                    std::atomic<int>* listen_only = nullptr, const TQueryLog& log = nullptr);

// Rebuilds the target queue's request list from the proxy's configuration
// text. With a data source (the target is its queue) the queue's timer, its
// minimum interval and its scheduled events follow the configuration and
// the queue restarts; the list is then filled only when state.Allowed. Without a proxy, or when the
// plug-in may not load, the list is only emptied (with the data source's
// scheduled events). A failure leaves what was read before it and propagates.
// What the load needs of the plug-in, read by the caller.
struct TQueryLoadState {
  // Loaded (not unloading) and one of the roles 0 and 1 on.
  bool Allowed = true;
  // Where the listen-only requests are counted; null: nowhere.
  std::atomic<int>* ListenOnly = nullptr;
  // Where refused entries are reported; none: not reported.
  TQueryLog Log;
};

void LoadQueryConfig(const TQueryLoadState& state, const TDataSourceCfg* config,
                     TQueueControllerTimer& target, TDataSourceScheduled* source);

// A "Device" text's entries, as written between ';' and ','.
std::vector<std::string> SplitDevices(std::string_view text);

// The devices of one request, filtered: "*" (any device) when "Device" is
// empty or missing, or names only the wildcard or broadcast forms the filter
// drops. Any other entry that is no meter address is refused, and a request
// left without devices polls nothing: a mistyped address must never reach
// another meter. Devices keep their entries as written.
struct TRequestDevices {
  std::vector<std::string> Devices;
  std::vector<std::string> Refused;  // as written
  bool NoneLeft = false;             // entries written, all refused
};
TRequestDevices ReadRequestDevices(const TdovXMLNode* request);
// Up to 12 decimal digits: what a meter's address holds (shorter entries
// are padded with "0").
bool IsMeterAddress(std::string_view entry);
