#include "dlt645/dlt645_context.h"

#include "dlt645/text_resources.h"
#include "parser/parser_module.h"

const TTextResources& Dlt645Texts(const TDlt645Context* context) {
  if (context && context->TextResources) return *context->TextResources;
  static const TTextResources built_in(nullptr);
  return built_in;
}

void LogScheduleError(IParserModule* plugin, const TDlt645Context* context, const std::string& info,
                      const std::exception& error) {
  if (!plugin) return;
  plugin->Log(TLogLevel::Warning,
              Dlt645Texts(context).ParseExpression(info + ", " + error.what(), 1));
}
