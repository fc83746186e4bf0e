#include "dlt645/request_item.h"

std::string MakeAddress12(std::string_view device_text) {
  std::string address(device_text.substr(0, 12));
  address.insert(0, 12 - address.size(), '0');
  return address;
}

void TRequestParameters::SetDevice(std::string_view device_text) {
  DeviceText = std::string(device_text);
  Address12 = MakeAddress12(device_text);
}

TRequestItem::TRequestItem() {
  MaxAttempts = 3;
}

void TRequestItem::Assign(const TBasicRequestItem& source) {
  if (&source == this) return;
  TBasicRequestItem::Assign(source);
  const auto* request = dynamic_cast<const TRequestItem*>(&source);
  if (!request) return;
  SubItems.Clear();
  for (const TRequestSubItem* sub : request->SubItems) {
    if (const auto* response = dynamic_cast<const TResponseItem*>(sub))
      AddResponse(response->Parameters);
  }
  Parameters = request->Parameters;
}

TResponseItem& TRequestItem::AddResponse(TResponseParameters parameters) {
  auto response = std::make_unique<TResponseItem>(this);
  response->Parameters = std::move(parameters);
  TResponseItem& added = *response;
  SubItems.Add(std::move(response));
  return added;
}
