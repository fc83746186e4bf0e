#include "config/store/proxy_code_object.h"

namespace {

template <int32_t TProxyCodeObject::*Field>
TPropInfo IntProp(const char* name) {
  return {name, TTypeKind::tkInteger,
          [](const TPersistent& s) -> TPropValue {
            return int64_t{PropSelf<TProxyCodeObject>(s).*Field};
          },
          [](TPersistent& s, const TPropValue& v) {
            PropSelf<TProxyCodeObject>(s).*Field = static_cast<int32_t>(PropAsInt(v));
          }};
}

template <std::string TProxyCodeObject::*Field>
TPropInfo TextProp(const char* name) {
  return {name, TTypeKind::tkLString,
          [](const TPersistent& s) -> TPropValue { return PropSelf<TProxyCodeObject>(s).*Field; },
          [](TPersistent& s, const TPropValue& v) {
            PropSelf<TProxyCodeObject>(s).*Field = PropAsText(v);
          }};
}

}  // namespace

std::span<const TPropInfo> TProxyCodeObject::PublishedProperties() const {
  static const std::vector<TPropInfo> props =
      JoinProps(TComponent::ComponentProperties(),
                {
                    IntProp<&TProxyCodeObject::Left>("Left"),
                    IntProp<&TProxyCodeObject::Top>("Top"),
                    IntProp<&TProxyCodeObject::Height>("Height"),
                    IntProp<&TProxyCodeObject::Width>("Width"),
                    TextProp<&TProxyCodeObject::lblParams_Caption>("lblParams_Caption"),
                    TextProp<&TProxyCodeObject::OpenDialog_FileName>("OpenDialog_FileName"),
                    TextProp<&TProxyCodeObject::SaveDialog_FileName>("SaveDialog_FileName"),
                    {"spMinInt_Value", TTypeKind::tkFloat,
                     [](const TPersistent& s) -> TPropValue {
                       return PropSelf<TProxyCodeObject>(s).spMinInt_Value;
                     },
                     [](TPersistent& s, const TPropValue& v) {
                       PropSelf<TProxyCodeObject>(s).spMinInt_Value = PropAsFloat(v);
                     }},
                    {"chkBlockIp_Checked", TTypeKind::tkEnumeration,
                     [](const TPersistent& s) -> TPropValue {
                       return int64_t{PropSelf<TProxyCodeObject>(s).chkBlockIp_Checked ? 1 : 0};
                     },
                     [](TPersistent& s, const TPropValue& v) {
                       PropSelf<TProxyCodeObject>(s).chkBlockIp_Checked = PropAsInt(v) != 0;
                     },
                     kBooleanNames, 2},
                });
  return props;
}
