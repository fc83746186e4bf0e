#include "dlt645/func_types.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <utility>

#include "dlt645/load_values.h"

namespace {

constexpr TRequestFuncType R(uint32_t id, uint8_t value_count, uint8_t rate_count,
                             uint8_t value_size, uint8_t format, bool is_signed,
                             std::string_view field, std::string_view display) {
  const uint8_t sign = is_signed ? 1 : 0;
  return TRequestFuncType{id,         1,      0,    value_count, rate_count,
                          value_size, format, sign, field,       display};
}

// Load-profile reads carry one block count after the identifier.
constexpr TRequestFuncType LoadProfile(uint32_t id, std::string_view field,
                                       std::string_view display) {
  return TRequestFuncType{id, 2, 0x34, 1, 0, 1, 0xFF, 0, field, display};
}

constexpr bool kS = true;   // signed
constexpr bool kU = false;  // unsigned

// clang-format off
constexpr std::array<TRequestFuncType, 85> kTable2007{{
  R(0x02010100, 1, 0, 2, 0x01, kU, "VOLTAGE_A", "Voltage A"),
  R(0x02010200, 1, 0, 2, 0x01, kU, "VOLTAGE_B", "Voltage B"),
  R(0x02010300, 1, 0, 2, 0x01, kU, "VOLTAGE_C", "Voltage C"),
  R(0x0201FF00, 3, 0, 2, 0x01, kU, "VOLTAGE", "Voltage (all phases)"),
  // Current carries its sign in the top bit (a reverse flow reads negative).
  R(0x02020100, 3, 0, 3, 0x03, kS, "CURRENT_A", "Current A"),
  R(0x02020200, 3, 0, 3, 0x03, kS, "CURRENT_B", "Current B"),
  R(0x02020300, 3, 0, 3, 0x03, kS, "CURRENT_C", "Current C"),
  R(0x0202FF00, 3, 0, 3, 0x03, kS, "CURRENT", "Current (all phases)"),
  R(0x02030000, 1, 0, 3, 0x04, kS, "INSTANT_ACTIVE_POWER", "Instant active power (summary)"),
  R(0x02030100, 1, 0, 3, 0x04, kS, "INSTANT_ACTIVE_POWER_A", "Instant active power A"),
  R(0x02030200, 1, 0, 3, 0x04, kS, "INSTANT_ACTIVE_POWER_B", "Instant active power B"),
  R(0x02030300, 1, 0, 3, 0x04, kS, "INSTANT_ACTIVE_POWER_C", "Instant active power C"),
  R(0x0203FF00, 4, 0, 3, 0x04, kS, "INSTANT_ACTIVE_POWER", "Instant active power (all phases)"),
  R(0x02040000, 1, 0, 3, 0x04, kS, "INSTANT_REACTIVE_POWER", "Instant reactive power (summary)"),
  R(0x02040100, 1, 0, 3, 0x04, kS, "INSTANT_REACTIVE_POWER_A", "Instant reactive power A"),
  R(0x02040200, 1, 0, 3, 0x04, kS, "INSTANT_REACTIVE_POWER_B", "Instant reactive power B"),
  R(0x02040300, 1, 0, 3, 0x04, kS, "INSTANT_REACTIVE_POWER_C", "Instant reactive power C"),
  // The all-phases blocks carry the total and phases A, B, C, like 0203FF00.
  R(0x0204FF00, 4, 0, 3, 0x04, kS, "INSTANT_REACTIVE_POWER", "Instant reactive power (all phases)"),
  R(0x02050000, 1, 0, 3, 0x04, kS, "INSTANT_APPARENT_POWER", "Instant apparent power (summary)"),
  R(0x02050100, 1, 0, 3, 0x04, kS, "INSTANT_APPARENT_POWER_A", "Instant apparent power A"),
  R(0x02050200, 1, 0, 3, 0x04, kS, "INSTANT_APPARENT_POWER_B", "Instant apparent power B"),
  R(0x02050300, 1, 0, 3, 0x04, kS, "INSTANT_APPARENT_POWER_C", "Instant apparent power C"),
  R(0x0205FF00, 4, 0, 3, 0x04, kS, "INSTANT_APPARENT_POWER", "Instant apparent power (all phases)"),
  R(0x02060000, 1, 0, 2, 0x03, kS, "POWER_FACTOR", "Power factor (summary)"),
  R(0x02060100, 1, 0, 2, 0x03, kS, "POWER_FACTOR_A", "Power factor A"),
  R(0x02060200, 1, 0, 2, 0x03, kS, "POWER_FACTOR_B", "Power factor B"),
  R(0x02060300, 1, 0, 2, 0x03, kS, "POWER_FACTOR_C", "Power factor C"),
  R(0x0206FF00, 4, 0, 2, 0x03, kS, "POWER_FACTOR", "Power factor (all phases)"),
  R(0x02800002, 1, 0, 2, 0x02, kU, "FREQUENCY", "Frequency"),
  R(0x02800007, 1, 0, 2, 0x01, kS, "TEMPERATURE", "Temperature"),
  // Combined active energy is the signed sum of both directions.
  R(0x00000000, 1, 63, 4, 0x02, kS, "TOTAL_COMBINED_ACTIVE", "Total combined active energy"),
  R(0x0000FF00, 63, 0, 4, 0x02, kS, "TOTAL_COMBINED_ACTIVE", "Total combined active energy (all rates)"),
  R(0x00010000, 1, 63, 4, 0x02, kU, "TOTAL_POSITIVE_ACTIVE", "Total positive active energy"),
  R(0x0001FF00, 63, 0, 4, 0x02, kU, "TOTAL_POSITIVE_ACTIVE", "Total positive active energy (all rates)"),
  R(0x00020000, 1, 63, 4, 0x02, kU, "TOTAL_REVERSE_ACTIVE", "Total reverse active energy"),
  R(0x0002FF00, 63, 0, 4, 0x02, kU, "TOTAL_REVERSE_ACTIVE", "Total reverse active energy (all rates)"),
  R(0x00030000, 1, 63, 4, 0x02, kU, "TOTAL_POSITIVE_REACTIVE", "Total positive reactive energy"),
  R(0x0003FF00, 63, 0, 4, 0x02, kU, "TOTAL_POSITIVE_REACTIVE", "Total positive reactive energy (all rates)"),
  R(0x00040000, 1, 63, 4, 0x02, kU, "TOTAL_REVERSE_REACTIVE", "Total reverse reactive energy"),
  R(0x0004FF00, 63, 0, 4, 0x02, kU, "TOTAL_REVERSE_REACTIVE", "Total reverse reactive energy (all rates) "),
  R(0x00090000, 1, 63, 4, 0x02, kU, "TOTAL_APPARENT_ENERGY_POSITIVE", "Total positive apparent energy"),
  R(0x0009FF00, 63, 0, 4, 0x02, kU, "TOTAL_APPARENT_ENERGY_POSITIVE", "Total positive apparent energy (all rates)"),
  R(0x000A0000, 1, 63, 4, 0x02, kU, "TOTAL_APPARENT_ENERGY_REVERSE", "Total reverse apparent energy"),
  R(0x000AFF00, 63, 0, 4, 0x02, kU, "TOTAL_APPARENT_ENERGY_REVERSE", "Total reverse apparent energy (all rates)"),
  R(0x00150000, 1, 0, 4, 0x02, kU, "PHASE_A_POSITIVE_ACTIVE_ENERGY", "Phase A: positive active energy"),
  R(0x00160000, 1, 0, 4, 0x02, kU, "PHASE_A_REVERSE_ACTIVE_ENERGY", "Phase A: reverse active energy"),
  R(0x00170000, 1, 0, 4, 0x02, kU, "PHASE_A_REACTIVE_ENERGY_1", "Phase A: reactive energy 1"),
  R(0x00180000, 1, 0, 4, 0x02, kU, "PHASE_A_REACTIVE_ENERGY_2", "Phase A: reactive energy 2"),
  R(0x001D0000, 1, 0, 4, 0x02, kU, "PHASE_A_APPARENT_ENERGY_POSITIVE", "Phase A: apparent energy positive"),
  R(0x001E0000, 1, 0, 4, 0x02, kU, "PHASE_A_APPARENT_ENERGY_REVERSE", "Phase A: apparent energy reverse"),
  R(0x020A01FF, 21, 0, 2, 0x02, kU, "PHASE_A_VOLTAGE_HARMONICS", "Phase A: Percentage of voltage harmonics"),
  R(0x020B01FF, 21, 0, 2, 0x02, kU, "PHASE_A_CURRENT_HARMONICS", "Phase A: Percentage of current harmonics"),
  R(0x00290000, 1, 0, 4, 0x02, kU, "PHASE_B_POSITIVE_ACTIVE_ENERGY", "Phase B: positive active energy"),
  R(0x002A0000, 1, 0, 4, 0x02, kU, "PHASE_B_REVERSE_ACTIVE_ENERGY", "Phase B: reverse active energy"),
  R(0x002B0000, 1, 0, 4, 0x02, kU, "PHASE_B_REACTIVE_ENERGY_1", "Phase B: reactive energy 1"),
  R(0x002C0000, 1, 0, 4, 0x02, kU, "PHASE_B_REACTIVE_ENERGY_2", "Phase B: reactive energy 2"),
  R(0x00310000, 1, 0, 4, 0x02, kU, "PHASE_B_APPARENT_ENERGY_POSITIVE", "Phase B: apparent energy positive"),
  R(0x00320000, 1, 0, 4, 0x02, kU, "PHASE_B_APPARENT_ENERGY_REVERSE", "Phase B: apparent energy reverse"),
  R(0x020A02FF, 21, 0, 2, 0x02, kU, "PHASE_B_VOLTAGE_HARMONICS", "Phase B: Percentage of voltage harmonics"),
  R(0x020B02FF, 21, 0, 2, 0x02, kU, "PHASE_B_CURRENT_HARMONICS", "Phase B: Percentage of current harmonics"),
  R(0x003D0000, 1, 0, 4, 0x02, kU, "PHASE_C_POSITIVE_ACTIVE_ENERGY", "Phase C: positive active energy"),
  R(0x003E0000, 1, 0, 4, 0x02, kU, "PHASE_C_REVERSE_ACTIVE_ENERGY", "Phase C: reverse active energy"),
  R(0x003F0000, 1, 0, 4, 0x02, kU, "PHASE_C_REACTIVE_ENERGY_1", "Phase C: reactive energy 1"),
  R(0x00400000, 1, 0, 4, 0x02, kU, "PHASE_C_REACTIVE_ENERGY_2", "Phase C: reactive energy 2"),
  R(0x00450000, 1, 0, 4, 0x02, kU, "PHASE_C_APPARENT_ENERGY_POSITIVE", "Phase C: apparent energy positive"),
  R(0x00460000, 1, 0, 4, 0x02, kU, "PHASE_C_APPARENT_ENERGY_REVERSE", "Phase C: apparent energy reverse"),
  R(0x020A03FF, 21, 0, 2, 0x02, kU, "PHASE_C_VOLTAGE_HARMONICS", "Phase C: Percentage of voltage harmonics"),
  R(0x020B03FF, 21, 0, 2, 0x02, kU, "PHASE_C_CURRENT_HARMONICS", "Phase C: Percentage of current harmonics"),
  // Maximum demand: XX.XXXX (3 bytes) followed by its YYMMDDhhmm occurrence
  // time; the all-rates identifiers send one such block per rate.
  R(0x01150000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_PHASE_A_PAE", "Demand peak power (current): positive active phase A"),
  R(0x01170000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_PHASE_A_PRE", "Demand peak power (current): positive reactive phase A"),
  R(0x011D0000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_PHASE_A_PA", "Demand peak power (current): positive apparent phase A"),
  R(0x01290000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_PHASE_B_PAE", "Demand peak power (current): positive active phase B"),
  R(0x012B0000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_PHASE_B_PRE", "Demand peak power (current): positive reactive phase B"),
  R(0x01310000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_PHASE_B_PA", "Demand peak power (current): positive apparent phase B"),
  R(0x013D0000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_PHASE_C_PAE", "Demand peak power (current): positive active phase C"),
  R(0x013F0000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_PHASE_C_PRE", "Demand peak power (current): positive reactive phase C"),
  R(0x01450000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_PHASE_C_PA", "Demand peak power (current): positive apparent phase C"),
  R(0x01010000, 1, 0, 3, 0x14, kU, "DEMAND_CURRENT_TOTAL_PAE", "Demand peak power (current): positive active total"),
  R(0x0101FF00, 63, 0, 3, 0x14, kU, "DEMAND_CURRENT_TOTAL_PA_RATE", "Demand peak power (current, by rate): positive active total"),
  R(0x0103FF00, 63, 0, 3, 0x14, kU, "DEMAND_CURRENT_TOTAL_PR_RATE", "Demand peak power (current, by rate): positive reactive total"),
  R(0x0109FF00, 63, 0, 3, 0x14, kU, "DEMAND_CURRENT_TOTAL_A_RATE", "Demand peak power (current, by rate): positive apparent total"),
  LoadProfile(0x06000002, "LOAD_PROFILE1", "Load profile 1"),
  LoadProfile(0x06010002, "LOAD_PROFILE2", "Load profile 2"),
  LoadProfile(0x06020002, "LOAD_PROFILE3", "Load profile 3"),
  LoadProfile(0x06030002, "LOAD_PROFILE4", "Load profile 4"),
}};

constexpr std::array<TRequestFuncType, 66> kTable1997{{
  R(0xB611, 1, 0, 2, 0x00, kU, "PHASE_A_VOLTAGE", "Voltage (phase A)"),
  R(0xB612, 1, 0, 2, 0x00, kU, "PHASE_B_VOLTAGE", "Voltage (phase B)"),
  R(0xB613, 1, 0, 2, 0x00, kU, "PHASE_C_VOLTAGE", "Voltage (phase C)"),
  R(0xB691, 1, 0, 2, 0x00, kU, "PHASE_AB_VOLTAGE", "Voltage (phase AB)"),
  R(0xB692, 1, 0, 2, 0x00, kU, "PHASE_BC_VOLTAGE", "Voltage (phase BC)"),
  R(0xB693, 1, 0, 2, 0x00, kU, "PHASE_CA_VOLTAGE", "Voltage (phase CA)"),
  R(0xB621, 1, 0, 2, 0x02, kU, "PHASE_A_CURRENT", "Current (phase A)"),
  R(0xB622, 1, 0, 2, 0x02, kU, "PHASE_B_CURRENT", "Current (phase B)"),
  R(0xB623, 1, 0, 2, 0x02, kU, "PHASE_C_CURRENT", "Current (phase C)"),
  R(0xB630, 1, 0, 3, 0x04, kU, "ACTIVE_POWER", "Instantaneous active power"),
  R(0xB631, 1, 0, 3, 0x04, kU, "PHASE_A_ACTIVE_POWER", "Instantaneous active power (phase A)"),
  R(0xB632, 1, 0, 3, 0x04, kU, "PHASE_B_ACTIVE_POWER", "Instantaneous active power (phase B)"),
  R(0xB633, 1, 0, 3, 0x04, kU, "PHASE_C_ACTIVE_POWER", "Instantaneous active power (phase C)"),
  R(0xB640, 1, 0, 2, 0x02, kU, "REACTIVE_POWER", "Instantaneous reactive power"),
  R(0xB641, 1, 0, 2, 0x02, kU, "PHASE_A_REACTIVE_POWER", "Instantaneous reactive power (phase A)"),
  R(0xB642, 1, 0, 2, 0x02, kU, "PHASE_B_REACTIVE_POWER", "Instantaneous reactive power (phase B)"),
  R(0xB643, 1, 0, 2, 0x02, kU, "PHASE_C_REACTIVE_POWER", "Instantaneous reactive power (phase C)"),
  R(0xB650, 1, 0, 2, 0x03, kU, "POWER_FACTOR", "Power factor"),
  R(0xB651, 1, 0, 2, 0x03, kU, "PHASE_A_PF", "Power factor (phase A)"),
  R(0xB652, 1, 0, 2, 0x03, kU, "PHASE_B_PF", "Power factor (phase B)"),
  R(0xB653, 1, 0, 2, 0x03, kU, "PHASE_C_PF", "Power factor (phase C)"),
  R(0x9010, 1, 4, 4, 0x02, kU, "CURRENT_POSITIVE_ACTIVE", "Current positive active energy"),
  R(0x901F, 15, 0, 4, 0x02, kU, "CURRENT_POSITIVE_ACTIVE", "Current positive active energy (all rates)"),
  R(0x9020, 1, 4, 4, 0x02, kU, "CURRENT_REVERSE_ACTIVE", "Current reverse active energy"),
  R(0x902F, 15, 0, 4, 0x02, kU, "CURRENT_REVERSE_ACTIVE", "Current reverse active energy (all rates)"),
  R(0x9110, 1, 4, 4, 0x02, kU, "CURRENT_POSITIVE_REACTIVE", "Current positive reactive energy"),
  R(0x911F, 15, 0, 4, 0x02, kU, "CURRENT_POSITIVE_REACTIVE", "Current positive reactive energy (all rates)"),
  R(0x9120, 1, 4, 4, 0x02, kU, "CURRENT_REVERSE_REACTIVE", "Current reverse reactive energy"),
  R(0x912F, 15, 0, 4, 0x02, kU, "CURRENT_REVERSE_REACTIVE", "Current reverse reactive energy (all rates)"),
  R(0x9410, 1, 4, 4, 0x02, kU, "LAST_MON_POSITIVE_ACTIVE", "Last month positive active energy"),
  R(0x941F, 15, 0, 4, 0x02, kU, "LAST_MON_POSITIVE_ACTIVE", "Last month positive active energy (all rates)"),
  R(0x9420, 1, 4, 4, 0x02, kU, "LAST_MON_REVERSE_ACTIVE", "Last month reverse active energy"),
  R(0x942F, 15, 0, 4, 0x02, kU, "LAST_MON_REVERSE_ACTIVE", "Last month reverse active energy (all rates)"),
  R(0x9510, 1, 4, 4, 0x02, kU, "LAST_MON_POSITIVE_REACTIVE", "Last month positive reactive power"),
  R(0x951F, 15, 0, 4, 0x02, kU, "LAST_MON_POSITIVE_REACTIVE", "Last month positive reactive energy (all rates)"),
  R(0x9520, 1, 4, 4, 0x02, kU, "LAST_MON_REVERSE_REACTIVE", "Last month reverse reactive power"),
  R(0x952F, 15, 0, 4, 0x02, kU, "LAST_MON_REVERSE_REACTIVE", "Last month reverse reactive energy (all rates)"),
  R(0x9810, 1, 4, 4, 0x02, kU, "PREV_MON_POSITIVE_ACTIVE", "Previous month positive active energy"),
  R(0x981F, 15, 0, 4, 0x02, kU, "PREV_MON_POSITIVE_ACTIVE", "Previous month positive active energy (all rates)"),
  R(0x9820, 1, 4, 4, 0x02, kU, "PREV_MON_REVERSE_ACTIVE", "Previous month reverse active energy"),
  R(0x982F, 15, 0, 4, 0x02, kU, "PREV_MON_REVERSE_ACTIVE", "Previous month reverse active energy (all rates)"),
  R(0x9910, 1, 4, 4, 0x02, kU, "PREV_MON_POSITIVE_REACTIVE", "Previous month positive reactive power"),
  R(0x991F, 15, 0, 4, 0x02, kU, "PREV_MON_POSITIVE_REACTIVE", "Previous month positive reactive energy (all rates)"),
  R(0x9920, 1, 4, 4, 0x02, kU, "PREV_MON_REVERSE_REACTIVE", "Previous month reverse reactive power"),
  R(0x992F, 15, 0, 4, 0x02, kU, "PREV_MON_REVERSE_REACTIVE", "Previous month reverse reactive energy (all rates)"),
  R(0xA010, 1, 0, 3, 0x04, kU, "CURRENT_TOTAL_MAX_POSITIVE_ACTIVE", "Current total max positive active energy"),
  R(0xA01F, 15, 0, 3, 0x04, kU, "CURRENT_TOTAL_MAX_POSITIVE_ACTIVE", "Current total max positive active energy (all rates)"),
  R(0xA020, 1, 0, 3, 0x04, kU, "CURRENT_TOTAL_MAX_REVERSE_ACTIVE", "Current total max reverse active energy"),
  R(0xA02F, 15, 0, 3, 0x04, kU, "CURRENT_TOTAL_MAX_REVERSE_ACTIVE", "Current total max reverse active energy (all rates)"),
  R(0xA110, 1, 0, 3, 0x04, kU, "CURRENT_TOTAL_MAX_POSITIVE_REACTIVE", "Current total max positive reactive energy"),
  R(0xA11F, 15, 0, 3, 0x04, kU, "CURRENT_TOTAL_MAX_POSITIVE_REACTIVE", "Current total max positive reactive energy (all rates)"),
  R(0xA120, 1, 0, 3, 0x04, kU, "CURRENT_TOTAL_MAX_REVERSE_REACTIVE", "Current total max reverse reactive energy"),
  R(0xA12F, 15, 0, 3, 0x04, kU, "CURRENT_TOTAL_MAX_REVERSE_REACTIVE", "Current total max reverse reactive energy (all rates)"),
  R(0xB310, 1, 0, 2, 0x00, kU, "TOTAL_PHASE_FAILURES", "Total number of phase failures"),
  R(0xB311, 1, 0, 2, 0x00, kU, "PHASE_A_FAILURES", "Number of phase failures (phase A)"),
  R(0xB312, 1, 0, 2, 0x00, kU, "PHASE_B_FAILURES", "Number of phase failures (phase B)"),
  R(0xB313, 1, 0, 2, 0x00, kU, "PHASE_C_FAILURES", "Number of phase failures (phase C)"),
  R(0xB320, 1, 0, 3, 0x00, kU, "TOTAL_PHASE_OPEN", "Total time of open phase"),
  R(0xB321, 1, 0, 3, 0x00, kU, "PHASE_A_OPEN", "Time of open phase A"),
  R(0xB322, 1, 0, 3, 0x00, kU, "PHASE_B_OPEN", "Time of open phase B"),
  R(0xB323, 1, 0, 3, 0x00, kU, "PHASE_C_OPEN", "Time of open phase C"),
  R(0xD110, 1, 0, 3, 0x00, kU, "CURRENT_TOTAL_POSITIVE_ENERGY", "Current positive active total electric energy load (block)"),
  R(0xD210, 1, 0, 3, 0x00, kU, "CURRENT_MAX_DEMAND_LOAD", "Current positive maximum demand load record (block)"),
  R(0xC010, 1, 0, 4, 0x00, kU, "METER_DATE", "Meter date"),
  R(0xC011, 1, 0, 3, 0x00, kU, "METER_TIME", "Meter time"),
  R(0xC020, 1, 0, 1, 0x00, kU, "METER_STATUS", "Meter status"),
}};
// clang-format on

// Row positions sorted by (Id, position): the first entry of an Id is the
// row a linear search would find first.
template <size_t N>
struct SortedIndex {
  std::array<uint32_t, N> ids{};
  std::array<uint8_t, N> rows{};
};

template <size_t N>
constexpr SortedIndex<N> MakeIndex(const std::array<TRequestFuncType, N>& table) {
  std::array<std::pair<uint32_t, uint8_t>, N> entries{};
  for (size_t i = 0; i < N; ++i)
    entries[i] = {table[i].Id, static_cast<uint8_t>(i)};
  std::sort(entries.begin(), entries.end());
  SortedIndex<N> index;
  for (size_t i = 0; i < N; ++i) {
    index.ids[i] = entries[i].first;
    index.rows[i] = entries[i].second;
  }
  return index;
}

constexpr auto kIndex2007 = MakeIndex(kTable2007);
constexpr auto kIndex1997 = MakeIndex(kTable1997);

template <size_t N>
const TRequestFuncType* Lookup(const std::array<TRequestFuncType, N>& table,
                               const SortedIndex<N>& index, uint32_t id) {
  const auto it = std::lower_bound(index.ids.begin(), index.ids.end(), id);
  if (it == index.ids.end() || *it != id) return nullptr;
  return &table[index.rows[static_cast<size_t>(it - index.ids.begin())]];
}

std::string BuildListText(bool is1997) {
  std::string text;
  char code[16];
  for (const TRequestFuncType& row : FuncTypeTable(is1997)) {
    if (!text.empty()) text += "||";
    text += row.DisplayName;
    std::snprintf(code, sizeof code, "==%08X", static_cast<unsigned>(FuncTypeCode(row)));
    text += code;
  }
  return text;
}

}  // namespace

std::span<const TRequestFuncType> FuncTypeTable(bool is1997) {
  if (is1997) return kTable1997;
  return kTable2007;
}

const TRequestFuncType* FindFuncType(uint32_t id, bool is1997) {
  for (const TRequestFuncType& row : FuncTypeTable(is1997))
    if (row.Id == id) return &row;
  return nullptr;
}

const TRequestFuncType* LookupFuncType(uint32_t id, bool is1997) {
  return is1997 ? Lookup(kTable1997, kIndex1997, id) : Lookup(kTable2007, kIndex2007, id);
}

bool IsFuncType1997(const TRequestFuncType* row) {
  return row >= kTable1997.data() && row < kTable1997.data() + kTable1997.size();
}

bool IsLoadProfileRow(const TRequestFuncType* row) {
  return row && !IsFuncType1997(row) && (row->Id >> 24) == 0x06;
}

uint32_t FuncTypeCode(const TRequestFuncType& row) {
  return IsFuncType1997(&row) ? (row.Id | kFuncCode1997) : row.Id;
}

uint32_t FoldRate(const TRequestFuncType& row, uint8_t rate) {
  if (rate == 0 || row.RateCount == 0) return row.Id;
  if (IsFuncType1997(&row)) return row.Id | (rate & 0x0Fu);
  return row.Id | (static_cast<uint32_t>(rate) << 8);
}

std::string RatedFuncName(const TRequestFuncType& row, uint8_t rate) {
  std::string name(row.DisplayName);
  if (rate != 0 && row.RateCount != 0) name += ", rate " + std::to_string(rate);
  return name;
}

bool SelectFuncType(uint32_t code, uint8_t rate, TFuncSelection* out) {
  const bool is1997 = (code & kFuncCode1997) != 0;
  const TRequestFuncType* row = FindFuncType(code & ~kFuncCode1997, is1997);
  if (!row) return false;
  out->FuncType = row;
  out->Is1997 = is1997;
  out->Id = FoldRate(*row, rate);
  out->FuncName = RatedFuncName(*row, rate);
  return true;
}

const std::string& FuncTypeListText(bool is1997) {
  static const std::string text2007 = BuildListText(false);
  static const std::string text1997 = BuildListText(true);
  return is1997 ? text1997 : text2007;
}

std::vector<TFuncTypeColumn> RegisterFuncTypeColumns(const TRequestFuncType& row) {
  if (IsLoadProfileRow(&row)) {
    // Class 0 (all classes) offers every value.
    const uint8_t load_class = static_cast<uint8_t>(row.Id >> 16);
    std::vector<TFuncTypeColumn> columns;
    const std::string prefix = std::string(row.DisplayName) + ": ";
    columns.push_back({"RECORD_TIME", prefix + "record time", "", 11});
    for (const dlt645::TLoadValueInfo& value : dlt645::kLoadValues) {
      if (load_class != 0 && value.LoadClass != load_class) continue;
      // "LP_PF_TOTAL" reads "pf total".
      std::string caption = prefix + std::string(value.Name.substr(3));
      for (size_t i = prefix.size(); i < caption.size(); ++i)
        caption[i] = caption[i] == '_' ? ' ' : static_cast<char>(std::tolower(caption[i]));
      columns.push_back({std::string(value.Name), caption});
    }
    return columns;
  }
  int n = row.ValueCount > 1 ? row.ValueCount : row.RateCount > 1 ? row.RateCount : 1;
  // An answer may hold up to 63 values; the host is offered the first three.
  n = std::min(n, 3);
  std::vector<TFuncTypeColumn> columns;
  if (n == 1) {
    columns.push_back({std::string(row.FieldName), std::string(row.DisplayName)});
    return columns;
  }
  for (int k = 1; k <= n; ++k) {
    const std::string number = std::to_string(k);
    columns.push_back(
        {std::string(row.FieldName) + number, number + ", " + std::string(row.DisplayName)});
  }
  return columns;
}

std::vector<TFuncTypeColumn> RegisterFuncTypeColumns(bool is1997) {
  std::vector<TFuncTypeColumn> columns;
  for (const TRequestFuncType& row : FuncTypeTable(is1997)) {
    auto more = RegisterFuncTypeColumns(row);
    columns.insert(columns.end(), std::make_move_iterator(more.begin()),
                   std::make_move_iterator(more.end()));
  }
  return columns;
}
