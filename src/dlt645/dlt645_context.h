#pragma once
// What the DL/T 645 data sources and their clients share with the plug-in
// module that owns them. The module owns one and hands it to every data source.
#include <atomic>

class TTextResources;

struct TDlt645Context {
  // The module's message formats (translated once at creation).
  const TTextResources* TextResources = nullptr;
  // Configured requests whose "Enabled" is false (listen-only); read by the frame search.
  std::atomic<int> ListenOnlyCount{0};
};
