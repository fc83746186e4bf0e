#pragma once
// What the host receives for the options dialog: the form, an extra text and
// the script, taken from the library's resources and packed behind a header
// of six 32-bit values (offset and length of each part).
#include <string>
#include <string_view>

struct TDialogTexts {
  std::string Form;
  std::string Extra;
  std::string Script;
};

// With a requested name: the resource of that name (upper-cased) as the
// form and that name followed by "_CODE" as the script. Without: "FORM_DATA"
// as the script and the resource that "FORM_NAME" names as the form. A
// resource that does not exist gives an empty text.
TDialogTexts LoadDialogTexts(std::string_view requested_name);

// The form and script resources named by a form name (upper-cased).
void LoadNamedDialogTexts(std::string_view form_name, TDialogTexts* texts);

// The package: 24-byte header (offsets and lengths, little-endian) and the
// three parts back to back. Its size is 24 plus the three lengths.
std::string PackDialogTexts(const TDialogTexts& texts);
