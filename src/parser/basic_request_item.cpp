#include "parser/basic_request_item.h"

#include <algorithm>
#include <climits>

#include "config/xml/read_cfg.h"
#include "paramlist/params_list.h"
#include "platform/strings.h"

std::vector<std::string_view> SplitCronFields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ')
      ++i;
    const size_t start = i;
    while (i < text.size() && text[i] != ' ')
      ++i;
    if (i > start) fields.push_back(text.substr(start, i - start));
  }
  return fields;
}

bool SplitCronParams(std::string_view text, TExportCronParams* params) {
  const std::vector<std::string_view> fields = SplitCronFields(text);
  *params = TExportCronParams();
  if (fields.size() < 6) return false;
  for (size_t k = 0; k < 6; ++k)
    (*params)[5 - k] = std::string(fields[k]);
  return true;
}

TBasicRequestItem::TBasicRequestItem() = default;

TBasicRequestItem::~TBasicRequestItem() = default;

void TBasicRequestItem::Assign(const TBasicRequestItem& source) {
  if (&source == this) return;
  Enabled = source.Enabled;
  Caption = source.Caption;
  Method = source.Method;
  PollInterval = source.PollInterval;
  Mode = source.Mode;
  Due = source.Due;
  ScheduleKey = source.ScheduleKey;
  Busy = false;
  PollTimer.Clear();
}

void TBasicRequestItem::LoadFromNode(const TdovXMLNode* node, int index) {
  Enabled = ReadCfgBool(node, "Enabled", false);
  Caption = ReadCfgCaption(node, "Request", index);

  if (ReadCfgBool(node, "MethodAtTime", false))
    Method = kMethodAtTime;
  else if (ReadCfgBool(node, "MethodCron", false))
    Method = kMethodCron;
  else if (ReadCfgBool(node, "MethodOnce", false))
    Method = kMethodOnce;
  else if (ReadCfgBool(node, "MethodEvent", false))
    Method = kMethodEvent;
  else if (ReadCfgBool(node, "MethodPoll", false))
    Method = kMethodPoll;
  else
    Method = kMethodOnce;

  // Hours overflow 32 bits from 597 on: multiply wide and clamp.
  int64_t interval = ReadCfgInt(node, "PollInterval", 1000);
  // Units in any letter case: "s" must not poll a thousand times too fast.
  const std::string units = platform::AsciiUpperCase(ReadCfgText(node, "PollUnits", ""));
  if (units == "S")
    interval *= 1000;
  else if (units == "M")
    interval *= 60000;
  else if (units == "H")
    interval *= 3600000;
  PollInterval = static_cast<int32_t>(std::clamp<int64_t>(interval, INT32_MIN, INT32_MAX));

  Mode = TExportUnchangedMode();
  Mode.Method = Method;
  switch (Method) {
    case kMethodAtTime:
      Mode.MethodText = ReadCfgText(node, "AtTime", "12:00:00");
      break;
    case kMethodEvent:
      Mode.MethodText = ReadCfgText(node, "EventId", "");
      break;
    case kMethodCron:
      Mode.MethodText = ReadCfgText(node, "CronTime", "0 0 12 * * *");
      SplitCronParams(Mode.MethodText, &Mode.CronParams);
      break;
    default:
      break;
  }
}

TqonParamsList& TBasicRequestItem::GetEventParams() {
  if (!EventParams) EventParams = std::make_unique<TqonParamsList>();
  return *EventParams;
}
