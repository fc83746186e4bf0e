#pragma once
// The protocol's translatable message formats. Each is formatted through a
// typed helper, so a translated text can never meet an argument of the
// wrong type.
#include <string>

#include "config/text/custom_text_resources.h"

class TTextResources : public TCustomTextResources {
 public:
  explicit TTextResources(TComponent* owner);
  const char* ClassName() const override { return "TTextResources"; }

  // The texts in their registration order; the values are the built-in ones.
  std::string MsgInvalidCRC = "Invalid CRC (%.2x,%.2x)";
  std::string MsgErrorCode = "Received message from %s with error code on request function %d [%s]";
  std::string MsgItemsFormation = "Error on items formation (%s)";
  std::string MsgParseExpression = "Unable to parse expression \"%s\". Error at: %d";
  std::string MsgRequestTimeout = "Request timeout (ms)";
  std::string MsgUnallowableAddress = "Unallowable address: %s";

  std::string InvalidCRC(int received, int computed) const;
  std::string ErrorCode(const std::string& address, int function, const std::string& message) const;
  std::string ItemsFormation(const std::string& error) const;
  std::string ParseExpression(const std::string& expression, int position) const;
  // The time-out text up to its first "(", trimmed ("Request timeout").
  std::string RequestTimeout() const;
  std::string UnallowableAddress(const std::string& address) const;
};
