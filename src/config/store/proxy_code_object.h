#pragma once
// Configuration proxies: components whose published properties are named
// after the options form's "component.property" paths with "_" for ".", so
// that one list of paths addresses the form or the proxy alike.
#include <string>

#include "base/component.h"

// Marks an object as a proxy for the settings store.
class TProxyCodeCustomObject : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const override { return "TProxyCodeCustomObject"; }
  // Assigning a proxy to anything changes nothing and is no error.
  void AssignTo(TPersistent& /*dest*/) const override {}
};

class TProxyCodeObject : public TProxyCodeCustomObject {
 public:
  using TProxyCodeCustomObject::TProxyCodeCustomObject;
  const char* ClassName() const override { return "TProxyCodeObject"; }
  std::span<const TPropInfo> PublishedProperties() const override;

  // The options form's own bounds.
  int32_t Left = 326;
  int32_t Top = 144;
  int32_t Height = 435;
  int32_t Width = 481;
  // The query configuration text.
  std::string lblParams_Caption;
  std::string OpenDialog_FileName;
  std::string SaveDialog_FileName;
  // The queue's minimum interval.
  double spMinInt_Value = 0;
  bool chkBlockIp_Checked = false;
};

// The plug-in's configuration proxy.
class TDataSourceCfg : public TProxyCodeObject {
 public:
  using TProxyCodeObject::TProxyCodeObject;
  const char* ClassName() const override { return "TDataSourceCfg"; }
};
