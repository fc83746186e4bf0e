#include "paramlist/parsed_data_list.h"

void TParsedDataList::Clear() {
  TqonParamsList::Clear();
  Text.clear();
}

void TParsedDataList::AddText(std::string_view s) {
  if (Text.empty()) {
    Text = s;
  } else {
    Text += kParsedTextSeparator;
    Text += s;
  }
}
