#pragma once
// The built-in tables of meter quantities ("functions"): one row per data
// identifier with the layout of its answer, the output name and the caption.
// Rows are constant and live for the whole process; hold them by pointer.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct TRequestFuncType {
  uint32_t Id;          // DI3..DI0 for 2007; the 16-bit identifier for 1997
  uint8_t RequestKind;  // 1 plain read; 2 read with ExtraByte after the identifier
  uint8_t ExtraByte;    // already offset by 0x33
  uint8_t ValueCount;   // most values an answer may carry
  uint8_t RateCount;    // non-zero: a rate may be folded into the identifier
  uint8_t ValueSize;    // bytes per value
  uint8_t Format;       // low nibble: decimals; 0x10: 5-byte stamp; 0x20: 6-byte stamp
  uint8_t Signed;       // non-zero: bit 7 of the top byte is the sign
  std::string_view FieldName;
  std::string_view DisplayName;
};

// The load-profile rows (06cc00bb): their answers are interval records,
// decoded by the record walker rather than by Format.
bool IsLoadProfileRow(const TRequestFuncType* row);

// Bit 31 of a configured function code selects the 1997 table.
constexpr uint32_t kFuncCode1997 = 0x80000000u;

std::span<const TRequestFuncType> FuncTypeTable(bool is1997);

// First row of the table whose Id equals id (a linear search), or nullptr.
const TRequestFuncType* FindFuncType(uint32_t id, bool is1997);
// The same answer as FindFuncType through a sorted index; for hot paths.
const TRequestFuncType* LookupFuncType(uint32_t id, bool is1997);
// Whether the row belongs to the 1997 table.
bool IsFuncType1997(const TRequestFuncType* row);

// The eight-digit code the configuration writes for a row.
uint32_t FuncTypeCode(const TRequestFuncType& row);

// Identifier to request for a row with rate r (1..255): 2007 puts r into DI1,
// 1997 ORs in its low four bits. Rate 0 or a row without rates: Id unchanged.
uint32_t FoldRate(const TRequestFuncType& row, uint8_t rate);
// DisplayName, plus ", rate " r when the rate applies to the row.
std::string RatedFuncName(const TRequestFuncType& row, uint8_t rate);

// A configured function code and rate resolved against the tables.
struct TFuncSelection {
  const TRequestFuncType* FuncType = nullptr;
  bool Is1997 = false;
  uint32_t Id = 0;  // rate folded in, bit 31 clear
  std::string FuncName;
};
// False (and *out untouched) for codes no row has; 0 is the 2007 row
// 00000000 (total combined active energy).
bool SelectFuncType(uint32_t code, uint8_t rate, TFuncSelection* out);

// "DisplayName==CODE" of every row in table order, joined by "||".
const std::string& FuncTypeListText(bool is1997);

// One output column offered to the host.
struct TFuncTypeColumn {
  std::string Name;
  std::string Caption;
  std::string DefaultValue = "0";
  int ColumnType = 5;
};
// The columns one row offers: at most three values, or for a load-profile
// row the record's time and the values of its classes.
std::vector<TFuncTypeColumn> RegisterFuncTypeColumns(const TRequestFuncType& row);
// The columns of every row of a table, in row order, repeats included.
std::vector<TFuncTypeColumn> RegisterFuncTypeColumns(bool is1997);
