#include "dlt645/custom_commands.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "base/str_to_int.h"
#include "base/trim.h"
#include "dlt645/dlt645_parser_client.h"
#include "dlt645/func_types.h"
#include "dlt645/request_item.h"
#include "dlt645/serial_port_dm.h"
#include "dlt645/value_decoder.h"
#include "paramlist/ole_variant.h"
#include "parser/parser_module.h"
#include "platform/datetime.h"
#include "platform/tick.h"
#include "plugin/qon_plugin_custom_cmd_list.h"
#include "threading/timeout.h"

// ---- the commands ------------------------------------------------------------

void AddCustomCommands(TqonPluginCustomCmdList& list) {
  list.Add(kCommandSyncTime, "Synchronise the meters' clocks (broadcast)", false, false,
           "DATA-SOURCE");
  list.Add(kCommandReadAddress, "Read the address of the meter on the line", false, false,
           "DATA-SOURCE;TIMEOUT");
  list.Add(kCommandReadNow, "Read one function of one meter now", false, false,
           "DATA-SOURCE;DEVICE;FUNCTION;RATE;TIMEOUT");
}

bool IsCustomCommand(const std::string& command) {
  return command == kCommandSyncTime || command == kCommandReadAddress ||
         command == kCommandReadNow;
}

namespace {

constexpr uint32_t kDefaultTimeout = 1000;
constexpr uint32_t kIdMeterDate = 0x04000101;
constexpr uint32_t kIdMeterTime = 0x04000102;
constexpr char kPortNotOpenText[] = "The port is not open (-12)";

TCommandAnswer Refused(std::string why) {
  return {Code(TCallResult::Refused), std::move(why)};
}

// A whole number from min to max; false (with the answer) when it is not.
bool IntParam(const TCommandParam& param, const char* name, int64_t min, int64_t max,
              int64_t* value, bool* given, TCommandAnswer* answer) {
  std::string text;
  *given = param(name, &text) && !TrimControls(text).empty();
  if (!*given) return true;
  int64_t v = 0;
  if (!TryStrToInt64(TrimControls(text), &v) || v < min || v > max) {
    *answer = Refused(std::string(name) + " \"" + text + "\" is not a number from " +
                      std::to_string(min) + " to " + std::to_string(max));
    return false;
  }
  *value = v;
  return true;
}

// The data sources a command is for: the one "DATA-SOURCE" names, else (when
// all_by_default, or there is only one) every one.
bool PickSources(const std::vector<TSerialPortDM*>& sources, const TCommandParam& param,
                 bool all_by_default, std::vector<TSerialPortDM*>* picked, TCommandAnswer* answer) {
  int64_t number = 0;
  bool given = false;
  if (!IntParam(param, "DATA-SOURCE", 0, INT32_MAX, &number, &given, answer)) return false;
  if (given) {
    for (auto it = sources.rbegin(); it != sources.rend(); ++it)
      if ((*it)->DataSourceNo == number) {
        picked->push_back(*it);
        return true;
      }
    *answer = Refused("no data source " + std::to_string(number));
    return false;
  }
  if (sources.empty()) {
    *answer = Refused("no data source");
    return false;
  }
  if (!all_by_default && sources.size() > 1) {
    *answer = Refused("DATA-SOURCE is needed: there are " + std::to_string(sources.size()));
    return false;
  }
  *picked = sources;
  return true;
}

// Listen-only: every configured request of the data source has "Enabled" off.
bool ListenOnly(TSerialPortDM& source) {
  if (!source.Queue) return false;
  TQueueState st(*source.Queue);
  bool any = false;
  for (const TBasicRequestItem* item : st.Items()) {
    if (item->Enabled) return false;
    any = true;
  }
  return any;
}

// The client that talks to the port: an open one before a template.
uintptr_t PickClient(TSerialPortDM& source, bool* found) {
  auto clients = source.Clients->ReadLocked();
  *found = false;
  uintptr_t chosen = 0;
  for (const auto& entry : *clients) {
    auto* client = dynamic_cast<TDlt645ParserClient*>(entry.second.get());
    if (!client) continue;
    if (client->GetActive() && !client->IsTemplate) {
      *found = true;
      return client->ClientId;
    }
    if (!*found) chosen = client->ClientId;
    *found = true;
  }
  return chosen;
}

// Writes bytes on the client once its queue awaits no answer and its
// minimum interval is over; the queue then holds for hold_ms (the answer
// wait) or its minimum interval. The host's write result, or -1 when the
// client went away or stayed busy past wait_ms.
int32_t SendBetweenRequests(IParserModule* module, TSerialPortDM& source, uintptr_t client_id,
                            const std::vector<std::vector<uint8_t>>& writes,
                            std::shared_ptr<TCustomExchange> exchange, uint32_t hold_ms,
                            uint32_t wait_ms) {
  TqonTimeout deadline;
  deadline.StartWith(wait_ms);
  for (;;) {
    {
      auto clients = source.Clients->ReadLocked();
      auto* client = dynamic_cast<TDlt645ParserClient*>(clients->Find(client_id));
      if (!client) return -1;
      TQueueState st(*client->Queue);
      TqonTimeout& interval = client->Queue->IntervalTimer;
      if (!st.Awaited() && (interval.IsClear() || interval.ElapsedNow())) {
        const int32_t min_interval = client->Queue->MinInterval.load();
        if (exchange)
          interval.StartWith(hold_ms);
        else if (min_interval > 0)
          interval.StartWith(static_cast<uint32_t>(min_interval));
        client->CustomExchange = exchange;
        int32_t result = 0;
        for (const std::vector<uint8_t>& bytes : writes) {
          result = module->WriteData(static_cast<uint32_t>(source.DataSourceNo), client_id,
                                     bytes.data(), static_cast<int32_t>(bytes.size()));
          if (result < 0) break;
        }
        if (result < 0) {
          client->CustomExchange.reset();
          interval.Clear();
        }
        // Another meter may have been woken: the queue wakes its own again.
        if (result >= 0) client->WakeUpSent = false;
        return result;
      }
      ++client->CustomCommandWaits;
    }
    if (deadline.ElapsedNow()) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// The wait is over: the queue goes on after its minimum interval.
void EndExchange(TSerialPortDM& source, uintptr_t client_id) {
  auto clients = source.Clients->ReadLocked();
  auto* client = dynamic_cast<TDlt645ParserClient*>(clients->Find(client_id));
  if (!client) return;
  TQueueState st(*client->Queue);
  client->CustomExchange.reset();
  const int32_t min_interval = client->Queue->MinInterval.load();
  if (min_interval > 0)
    client->Queue->IntervalTimer.StartWith(static_cast<uint32_t>(min_interval));
  else
    client->Queue->IntervalTimer.Clear();
}

std::vector<uint8_t> Preamble() {
  return {dlt645::kWakeUpPreamble.begin(), dlt645::kWakeUpPreamble.end()};
}

// Sends the frame after the wake-up preamble between the queue's requests,
// waits up to hold_ms for the exchange's answer, then lets the queue go on.
// The write's failure (negative), 0 when no answer came, 1 when one did.
int32_t Ask(IParserModule* module, TSerialPortDM& source, uintptr_t client_id,
            const std::vector<uint8_t>& frame, const std::shared_ptr<TCustomExchange>& exchange,
            uint32_t hold_ms) {
  const int32_t result = SendBetweenRequests(module, source, client_id, {Preamble(), frame},
                                             exchange, hold_ms, hold_ms + 5000);
  if (result < 0) return result;
  const bool answered = exchange->Wait(hold_ms);
  EndExchange(source, client_id);
  return answered ? 1 : 0;
}

TCommandAnswer WriteFailed(int32_t result) {
  if (result == Code(TCallResult::PortNotOpen)) return {result, kPortNotOpenText};
  return Refused("the port refused the write (" + std::to_string(result) + ")");
}

TCommandAnswer SyncTime(IParserModule* module, const std::vector<TSerialPortDM*>& sources,
                        const TCommandParam& param) {
  std::vector<TSerialPortDM*> picked;
  TCommandAnswer answer;
  if (!PickSources(sources, param, true, &picked, &answer)) return answer;
  const int64_t ms = platform::DateTimeToMs(platform::LocalNow());
  int64_t seconds = ms / 1000;
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(seconds / platform::kSecondsPerDay, &year, &month, &day);
  seconds %= platform::kSecondsPerDay;
  const int hour = static_cast<int>(seconds / 3600);
  const int minute = static_cast<int>(seconds / 60 % 60);
  const int second = static_cast<int>(seconds % 60);
  std::vector<uint8_t> frame(dlt645::kTimeSyncFrameLength);
  dlt645::BuildTimeSyncFrame(year, month, day, hour, minute, second,
                             std::span<uint8_t, dlt645::kTimeSyncFrameLength>(frame));
  char when[32];
  std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
  std::string sent;
  for (TSerialPortDM* source : picked) {
    const std::string name = "data source " + std::to_string(source->DataSourceNo);
    if (ListenOnly(*source)) return Refused(name + " is listen-only: nothing is sent on it");
    bool found = false;
    const uintptr_t client = PickClient(*source, &found);
    if (!found) return {Code(TCallResult::PortNotOpen), kPortNotOpenText};
    const int32_t result =
        SendBetweenRequests(module, *source, client, {Preamble(), frame}, nullptr, 0, 5000);
    if (result < 0) return WriteFailed(result);
    sent += (sent.empty() ? "" : ", ") + std::to_string(source->DataSourceNo);
  }
  const std::string line =
      std::string(kCommandSyncTime) + ": " + when + " sent on data source " + sent;
  module->Log(TLogLevel::Success, line);
  return {0, when};
}

TCommandAnswer ReadAddress(IParserModule* module, const std::vector<TSerialPortDM*>& sources,
                           const TCommandParam& param) {
  std::vector<TSerialPortDM*> picked;
  TCommandAnswer answer;
  if (!PickSources(sources, param, false, &picked, &answer)) return answer;
  int64_t timeout = kDefaultTimeout;
  bool given = false;
  if (!IntParam(param, "TIMEOUT", 1, 65535, &timeout, &given, &answer)) return answer;
  TSerialPortDM& source = *picked.front();
  bool found = false;
  const uintptr_t client_id = PickClient(source, &found);
  if (!found) return {Code(TCallResult::PortNotOpen), kPortNotOpenText};
  std::vector<uint8_t> frame(dlt645::kReadAddressFrameLength);
  dlt645::BuildReadAddressFrame(std::span<uint8_t, dlt645::kReadAddressFrameLength>(frame));
  auto exchange = std::make_shared<TCustomExchange>();
  const auto hold = static_cast<uint32_t>(timeout);
  const int32_t asked = Ask(module, source, client_id, frame, exchange, hold);
  if (asked < 0) return WriteFailed(asked);
  if (asked == 0)
    return Refused("Request timeout: no meter answered " + std::to_string(hold) + " ms");
  const dlt645::TFrameView view{exchange->Frame.data(), exchange->Frame.size(), 0};
  std::string address;
  dlt645::ReadAddressAnswer(view, &address);
  // Learned as a wildcard answer is: later wildcard requests go to it.
  {
    auto clients = source.Clients->ReadLocked();
    if (auto* client = dynamic_cast<TDlt645ParserClient*>(clients->Find(client_id))) {
      TQueueState st(*client->Queue);
      std::copy_n(view.Address(), client->LearnedAddress.size(), client->LearnedAddress.begin());
      client->HasLearnedAddress = true;
    }
  }
  return {0, address};
}

// Decoded values as "NAME=VALUE" lines.
class TLinesSink {
 public:
  std::string Lines;
  void OnTimestamp(unsigned k, double date_time) {
    Add(dlt645::TimestampName(k), OleVariant::FromDate(date_time).ToString());
  }
  void OnInteger(const dlt645::TValueName& name, int32_t value) {
    Add(name, std::to_string(value));
  }
  void OnFloat(const dlt645::TValueName& name, double value) {
    Add(name, OleVariant(value).ToString());
  }
  void OnDateError(std::string_view message) { Errors += std::string(message); }
  std::string Errors;

 private:
  void Add(const dlt645::TValueName& name, const std::string& value) {
    std::array<char, 96> text{};
    Lines.append(text.data(), name.Format(text));
    Lines += "=" + value + "\r\n";
  }
};

// "METER_DATE=YYYY-MM-DD" or "METER_TIME=hh:mm:ss" from the wire values.
std::string ClockText(uint32_t id, std::span<const uint8_t> values) {
  std::array<int, 4> v{};
  const size_t n = id == kIdMeterDate ? 4 : 3;
  if (values.size() < n) return "";
  for (size_t i = 0; i < n; ++i) {
    const auto b = static_cast<uint8_t>(values[i] - dlt645::kWireOffset);
    v[i] = (b >> 4) * 10 + (b & 0x0F);
  }
  char text[40];
  if (id == kIdMeterDate)
    std::snprintf(text, sizeof text, "METER_DATE=20%02d-%02d-%02d\r\n", v[3], v[2], v[1]);
  else
    std::snprintf(text, sizeof text, "METER_TIME=%02d:%02d:%02d\r\n", v[2], v[1], v[0]);
  return text;
}

TCommandAnswer ReadNow(IParserModule* module, const std::vector<TSerialPortDM*>& sources,
                       const TCommandParam& param) {
  std::vector<TSerialPortDM*> picked;
  TCommandAnswer answer;
  if (!PickSources(sources, param, false, &picked, &answer)) return answer;
  std::string device;
  std::string function;
  if (!param("DEVICE", &device) || TrimControls(device).empty())
    return Refused("DEVICE (the meter's address) is missing");
  if (!param("FUNCTION", &function) || TrimControls(function).empty())
    return Refused("FUNCTION (the function code) is missing");
  const std::string device_text(TrimControls(device));
  const bool any_meter = dlt645::IsWildcardDevice(device_text);
  const bool address_ok =
      any_meter || (device_text.size() <= 12 &&
                    device_text.find_first_not_of("0123456789") == std::string::npos);
  if (!address_ok) return Refused("DEVICE \"" + device + "\" is not a meter address");
  int64_t rate = 0;
  int64_t timeout = kDefaultTimeout;
  bool given = false;
  if (!IntParam(param, "RATE", 0, 255, &rate, &given, &answer)) return answer;
  if (!IntParam(param, "TIMEOUT", 1, 65535, &timeout, &given, &answer)) return answer;
  int32_t code = 0;
  TFuncSelection selection;
  const std::string code_text(TrimControls(function));
  const bool parsed = code_text.size() <= 8 && TryStrToInt("$" + code_text, &code);
  // The meter's clock is no table row (nothing polls it), but commissioning
  // reads it to confirm a synchronisation.
  const bool clock = parsed && (static_cast<uint32_t>(code) == kIdMeterDate ||
                                static_cast<uint32_t>(code) == kIdMeterTime);
  if (clock) {
    selection.Id = static_cast<uint32_t>(code);
    selection.FuncName = selection.Id == kIdMeterDate ? "METER_DATE" : "METER_TIME";
  } else if (!parsed ||
             !SelectFuncType(static_cast<uint32_t>(code), static_cast<uint8_t>(rate), &selection)) {
    return Refused("FUNCTION \"" + function + "\" is in neither function table");
  }

  TSerialPortDM& source = *picked.front();
  bool found = false;
  const uintptr_t client_id = PickClient(source, &found);
  if (!found) return {Code(TCallResult::PortNotOpen), kPortNotOpenText};
  const std::string address12 = MakeAddress12(device_text);
  dlt645::TWireAddress address =
      any_meter ? dlt645::kWildcardAddress : dlt645::AddressFromText(address12);
  std::vector<uint8_t> frame(dlt645::kMaxReadRequestLength);
  frame.resize(dlt645::BuildReadRequest(
      address, selection.Id, selection.Is1997, selection.FuncType,
      std::span<uint8_t, dlt645::kMaxReadRequestLength>(frame.data(), frame.size())));
  auto exchange =
      std::make_shared<TCustomExchange>(address, any_meter, selection.Id, selection.Is1997);
  const auto hold = static_cast<uint32_t>(timeout);
  const int32_t asked = Ask(module, source, client_id, frame, exchange, hold);
  if (asked < 0) return WriteFailed(asked);
  if (asked == 0)
    return Refused("[" + address12 + "/" + selection.FuncName + "] Request timeout (" +
                   std::to_string(hold) + " ms)");
  const dlt645::TFrameView view{exchange->Frame.data(), exchange->Frame.size(), 0};
  if (view.Class() == dlt645::TFrameClass::ErrorAnswer)
    return Refused("[" + dlt645::AddressText(view.Address()) + "/" + selection.FuncName + "] " +
                   dlt645::FrameErrorText(view));
  if (clock)
    return {0, "DEVICE_ID=" + dlt645::AddressText(view.Address()) + "\r\n" +
                   ClockText(selection.Id, dlt645::AnswerValues(view, false))};
  TLinesSink sink;
  dlt645::DecodeValuesWith(dlt645::AnswerValues(view, selection.Is1997), *selection.FuncType,
                           selection.FuncType->RateCount ? static_cast<uint8_t>(rate) : 0, sink);
  if (!sink.Errors.empty()) module->Log(TLogLevel::Warning, sink.Errors);
  return {0, "DEVICE_ID=" + dlt645::AddressText(view.Address()) + "\r\n" + sink.Lines};
}

}  // namespace

TCommandAnswer RunCustomCommand(IParserModule* module, const std::vector<TSerialPortDM*>& sources,
                                bool requests_allowed, const std::string& command,
                                const TCommandParam& param) {
  if (!module) return Refused("no module");
  // With the request role off the plug-in only listens.
  if (!requests_allowed) return Refused(command + ": the plug-in only listens (request role off)");
  if (command == kCommandSyncTime) return SyncTime(module, sources, param);
  if (command == kCommandReadAddress) return ReadAddress(module, sources, param);
  if (command == kCommandReadNow) return ReadNow(module, sources, param);
  return Refused("unknown command " + command);
}
