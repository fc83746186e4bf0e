#pragma once
// dlt645-host's subcommands for commissioning: checking a configuration,
// listing the plug-in's functions and settings. Without a subcommand the
// host polls (main.cpp).
#include <cstdio>
#include <string>
#include <vector>

#include "host_config.h"

namespace host {

// Whether the first argument names a subcommand.
bool IsSubcommand(const std::string& word);
// args[0] is the subcommand; the exit code.
int RunSubcommand(const std::vector<std::string>& args);

// `check`: what the plug-in will do with each request, then the errors and
// warnings; path names the file in every line.
void PrintConfigReport(std::FILE* out, const std::string& path, const ConfigCheck& check);
// 0 clean, 2 errors, 1 warnings when strict.
int ConfigCheckExit(const ConfigCheck& check, bool strict);

// A function given by code, field name or caption (any letter case) as the
// plug-in's code; false with the closest matches named.
bool ResolveFunction(const std::string& token, bool is1997, std::string* code, std::string* error);
// A function the plug-in offers through its exports: code and name from
// "GetFuncTypeList", the names of its registered columns from "ITEMS".
struct PluginFunction {
  std::string code;
  std::string name;
  std::vector<std::string> columns;
};
// Loads the plug-in (the 1997 variant when asked) and reads its functions;
// false with a message.
bool ReadPluginFunctions(const std::string& library, bool is1997, std::vector<PluginFunction>* out,
                         std::string* error);

// `functions`: what the plug-in offers with the host's units and decimals,
// as text, json or markdown.
std::string FunctionsListing(const std::vector<PluginFunction>& offered, const std::string& format,
                             bool is1997);
// docs/functions.md: both tables as markdown.
std::string FunctionsDocument(const std::vector<PluginFunction>& offered2007,
                              const std::vector<PluginFunction>& offered1997);

// The options dialog as the plug-in's GetOptionsDialog describes it: the
// texts of its menu and the rows of its settings tree.
struct DialogMenuItem {
  std::string name;
  bool has_caption = false;  // none: the plug-in fills it
  std::string caption;
};
struct DialogSchemaRow {
  int depth = 0;
  std::string name;
  std::string caption_from;  // a menu item
  std::string type;          // type keyword and flags
  std::string params;        // range or valid characters; "@X" a list from item X
  bool has_default = false;
  std::string default_value;
};
struct OptionsDialog {
  std::vector<DialogMenuItem> menu;
  std::vector<DialogSchemaRow> schema;
};
bool ReadOptionsDialog(const std::string& library, OptionsDialog* out, std::string* error);
// `options`: as text or JSON.
std::string OptionsListing(const OptionsDialog& dialog, bool json);

}  // namespace host
