#pragma once
// The values of a load-profile record: names, classes and layout. Apart
// from the record walker so that the function tables can offer the names.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dlt645 {

// The values of a record, in wire order: class 1 first.
enum class TLoadValue : uint8_t {
  VoltageA,
  VoltageB,
  VoltageC,
  CurrentA,
  CurrentB,
  CurrentC,
  Frequency,
  ActivePowerTotal,
  ActivePowerA,
  ActivePowerB,
  ActivePowerC,
  ReactivePowerTotal,
  ReactivePowerA,
  ReactivePowerB,
  ReactivePowerC,
  PfTotal,
  PfA,
  PfB,
  PfC,
  ForwardActiveEnergy,
  ReverseActiveEnergy,
  CombinedReactive1Energy,
  CombinedReactive2Energy,
  ReactiveEnergyQ1,
  ReactiveEnergyQ2,
  ReactiveEnergyQ3,
  ReactiveEnergyQ4,
  ActiveDemand,
  ReactiveDemand,
};
constexpr size_t kLoadValueCount = 29;

struct TLoadValueInfo {
  std::string_view Name;  // the record's field name
  uint8_t LoadClass;      // 1..6
  uint8_t Size;           // BCD bytes
  uint8_t Decimals;
  bool Signed;  // bit 7 of the top byte is the sign
};

constexpr std::array<TLoadValueInfo, kLoadValueCount> kLoadValues{{
    {"LP_VOLTAGE_A", 1, 2, 1, false},
    {"LP_VOLTAGE_B", 1, 2, 1, false},
    {"LP_VOLTAGE_C", 1, 2, 1, false},
    {"LP_CURRENT_A", 1, 3, 3, true},
    {"LP_CURRENT_B", 1, 3, 3, true},
    {"LP_CURRENT_C", 1, 3, 3, true},
    {"LP_FREQUENCY", 1, 2, 2, false},
    {"LP_ACTIVE_POWER_TOTAL", 2, 3, 4, true},
    {"LP_ACTIVE_POWER_A", 2, 3, 4, true},
    {"LP_ACTIVE_POWER_B", 2, 3, 4, true},
    {"LP_ACTIVE_POWER_C", 2, 3, 4, true},
    {"LP_REACTIVE_POWER_TOTAL", 2, 3, 4, true},
    {"LP_REACTIVE_POWER_A", 2, 3, 4, true},
    {"LP_REACTIVE_POWER_B", 2, 3, 4, true},
    {"LP_REACTIVE_POWER_C", 2, 3, 4, true},
    {"LP_PF_TOTAL", 3, 2, 3, true},
    {"LP_PF_A", 3, 2, 3, true},
    {"LP_PF_B", 3, 2, 3, true},
    {"LP_PF_C", 3, 2, 3, true},
    {"LP_FORWARD_ACTIVE_ENERGY", 4, 4, 2, false},
    {"LP_REVERSE_ACTIVE_ENERGY", 4, 4, 2, false},
    {"LP_COMBINED_REACTIVE1_ENERGY", 4, 4, 2, true},
    {"LP_COMBINED_REACTIVE2_ENERGY", 4, 4, 2, true},
    {"LP_REACTIVE_ENERGY_Q1", 5, 4, 2, false},
    {"LP_REACTIVE_ENERGY_Q2", 5, 4, 2, false},
    {"LP_REACTIVE_ENERGY_Q3", 5, 4, 2, false},
    {"LP_REACTIVE_ENERGY_Q4", 5, 4, 2, false},
    {"LP_ACTIVE_DEMAND", 6, 3, 4, false},
    {"LP_REACTIVE_DEMAND", 6, 3, 4, false},
}};

constexpr const TLoadValueInfo& LoadValueInfo(TLoadValue value) {
  return kLoadValues[static_cast<size_t>(value)];
}

}  // namespace dlt645
