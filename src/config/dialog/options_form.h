#pragma once
// The options dialog of the plug-in as data: the form frmOption, its script
// with the property-tree schema, and the kept properties. One source for the
// resources (built by the resource generator) and for the library.
// Standard library only.
#include <cstddef>
#include <string>
#include <vector>

namespace options_form {

// The text of the "FORM_NAME" resource.
inline constexpr const char* kFormResourceName = "TFRMOPTION";
inline constexpr const char* kRootNodeName = "DL_T645_2007_QUERY";
inline constexpr const char* kValueSep = "==";
inline constexpr const char* kListSep = "||";
inline constexpr const char* kSectionSeparator = "<=======>";

struct TMenuItem {
  const char* Name;
  const char* Caption;  // nullptr: none
  int Tag;
};
// The items of tmpMenu, in order.
extern const TMenuItem kMenuItems[];
extern const size_t kMenuItemCount;

struct TSchemaRow {
  int Depth;
  const char* Name;
  const char* CaptionFrom;  // a tmpMenu item
  const char* Type;         // type keyword and flags
  const char* Params;       // "" none; "@X" a value list from item X
  const char* Default;      // nullptr: no default field
  bool CategoryColours;     // parameters are the two category colours
};
extern const TSchemaRow kSchema[];
extern const size_t kSchemaCount;

// The schema lines as the property tree receives them.
std::vector<std::string> SchemaLines();
// The kept-properties list: "property path,value name" lines and one comment.
std::vector<std::string> KeptProperties();
// "Millisecond==MS||Second==S||Minute==M||Hour==H" from the given captions.
std::string PollUnitList(const std::string& ms, const std::string& s, const std::string& m,
                         const std::string& h);

// The "TFRMOPTION" resource: the form in the binary component stream.
std::string FormStream();
// The form script's source text.
std::string FormScriptSource();
// The expanded "FORM_DATA": script tree, form name and kept properties.
std::string FormDataText();

}  // namespace options_form
