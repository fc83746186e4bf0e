#include "dlt645/text_resources.h"

#include "base/trim.h"
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
  return FormatMessage(Text(MsgInvalidCRC), {received, computed});
}

std::string TTextResources::ErrorCode(const std::string& address, int function,
                                      const std::string& message) const {
  return FormatMessage(Text(MsgErrorCode), {address, function, message});
}

std::string TTextResources::ItemsFormation(const std::string& error) const {
  return FormatMessage(Text(MsgItemsFormation), {error});
}

std::string TTextResources::ParseExpression(const std::string& expression, int position) const {
  return FormatMessage(Text(MsgParseExpression), {expression, position});
}

std::string TTextResources::RequestTimeout() const {
  const std::string text = Text(MsgRequestTimeout);
  return std::string(TrimControls(std::string_view(text).substr(0, text.find('('))));
}

std::string TTextResources::UnallowableAddress(const std::string& address) const {
  return FormatMessage(Text(MsgUnallowableAddress), {address});
}
