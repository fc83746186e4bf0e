#include "dlt645/text_resources.h"

#include "config/text/message_format.h"

TTextResources::TTextResources(TComponent* owner) : TCustomTextResources(owner) {
  RegisterText(&MsgInvalidCRC);
  RegisterText(&MsgErrorCode);
  RegisterText(&MsgItemsFormation);
  RegisterText(&MsgParseExpression);
  RegisterText(&MsgRequestTimeout);
  RegisterText(&MsgUnallowableAddress);
}

std::string TTextResources::InvalidCRC(int received, int computed) const {
  return FormatMessage(MsgInvalidCRC, {received, computed});
}

std::string TTextResources::ErrorCode(const std::string& address, int function,
                                      const std::string& message) const {
  return FormatMessage(MsgErrorCode, {address, function, message});
}

std::string TTextResources::ItemsFormation(const std::string& error) const {
  return FormatMessage(MsgItemsFormation, {error});
}

std::string TTextResources::ParseExpression(const std::string& expression, int position) const {
  return FormatMessage(MsgParseExpression, {expression, position});
}

std::string TTextResources::RequestTimeout() const {
  std::string_view t = MsgRequestTimeout;
  t = t.substr(0, t.find('('));
  while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ')
    t.remove_prefix(1);
  while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ')
    t.remove_suffix(1);
  return std::string(t);
}

std::string TTextResources::UnallowableAddress(const std::string& address) const {
  return FormatMessage(MsgUnallowableAddress, {address});
}
