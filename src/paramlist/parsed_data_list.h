#pragma once
#include <string>
#include <string_view>

#include "paramlist/params_list.h"

constexpr char kParsedTextSeparator[] = "<{[::]}>";

// A list with a free text that travels with it to the host.
class TParsedDataList : public TqonParamsList {
 public:
  std::string Text;

  // Also empties Text.
  void Clear() override;
  // Texts are joined with "<{[::]}>".
  void AddText(std::string_view s);
};
