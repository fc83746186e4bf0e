#pragma once
// The parsed-data list: an ordered list of named variant values in which
// every value of the system travels. Several records (rows) can share one
// list; a row ends with a separator item. The list is not locked.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "paramlist/ole_variant.h"

class IqonParamsListA;
class IqonParamsListItemA;
class TqonParamsListItem;

constexpr uint32_t kParamsListSignature = 0x0FDE2E4B;
constexpr int32_t kNewRowDataType = 0xFF01;
constexpr char kNewRowName[] = "$NEW_ROW$";
constexpr uint8_t kAddedItemFlags = 2;

// Shared by an item and the interface references handed out for it; the item
// empties it when it is freed, so a reference a host keeps never reaches
// freed memory.
struct ParamsListItemAnchor {
  TqonParamsListItem* item = nullptr;
};

class TqonParamsListItem {
 public:
  // Key is derived from the name by the list's rule.
  TqonParamsListItem(std::string name, OleVariant value);
  virtual ~TqonParamsListItem();
  TqonParamsListItem(const TqonParamsListItem&) = delete;
  TqonParamsListItem& operator=(const TqonParamsListItem&) = delete;

  // Copies Name, Key, DataType and Flags; not the value.
  virtual void Assign(const TqonParamsListItem& source);
  bool IsNewRow() const noexcept { return DataType == kNewRowDataType; }

  // The look-up key of a name: lower case by the system's character tables.
  static std::string MakeKey(std::string_view name);
  // The same into an existing string, reusing its storage.
  static void MakeKeyInto(std::string_view name, std::string* key);

  // Made on first use: most items never get an interface reference.
  std::shared_ptr<ParamsListItemAnchor> Anchor();

  std::string Name;
  std::string Key;
  int32_t DataType = 0;
  uint8_t Flags = 0;
  OleVariant Value;

 private:
  friend class TqonParamsList;
  // Makes a spare item fresh for another name and value; references handed
  // out for its previous life answer as for a freed item.
  void Renew(std::string_view name, OleVariant value);

  std::shared_ptr<ParamsListItemAnchor> anchor_;
  bool recyclable_ = false;  // made by the list itself, of exactly this class
};

// Indexes count from 0. In look-ups `from` below 0 counts as 0; `to` below 0
// or past the end means the last item, and `to` = -2 also stops at the end
// of the current row.
class TqonParamsList {
 public:
  // The first field after the vtable pointer: callers across the ABI edge
  // probe for it to tell a list object from an interface variable.
  uint32_t Signature = kParamsListSignature;
  int32_t Tag = 0;

  TqonParamsList() = default;
  virtual ~TqonParamsList();
  TqonParamsList(const TqonParamsList&) = delete;
  TqonParamsList& operator=(const TqonParamsList&) = delete;

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // nullptr when the index is out of range.
  TqonParamsListItem* Items(int index) const noexcept;

  // nullptr when the name is blank; the name is kept exactly as given.
  TqonParamsListItem* Add(std::string_view name, OleVariant value);
  TqonParamsListItem* Insert(int index, std::string_view name, OleVariant value);
  // Add with a string value (ANSI). A list refilled with the same fields
  // record after record writes ASCII text into the string the item held
  // last time when that is as long, instead of building another.
  TqonParamsListItem* AddString(std::string_view name, std::string_view text);

  int IndexOf(std::string_view name, int from = 0, int to = -1) const;
  TqonParamsListItem* FindItem(std::string_view name, int from = 0, int to = -1) const;
  // Empty when absent.
  OleVariant GetValue(std::string_view name, int from = 0, int to = -1) const;
  OleVariant GetValueDef(std::string_view name, const OleVariant& fallback, int from = 0,
                         int to = -1) const;
  // nullptr when absent and not created (or the name is blank).
  TqonParamsListItem* SetValue(std::string_view name, OleVariant value, bool create);

  // Strict forms for names that must exist: EAssertionFailed
  // "Parameter is not defined: NAME" otherwise.
  OleVariant GetParam(std::string_view name) const;
  TqonParamsListItem* SetParam(std::string_view name, OleVariant value);

  // An index of Count or more does nothing; a negative one raises.
  void Delete(int index);
  virtual void Clear();

  // Copies of the source's items (false when the source is empty).
  bool AddItems(const TqonParamsList& source);
  bool AddItemsRange(const TqonParamsList& source, int from, int to);
  // Copies items of a list behind an interface; false when there is none.
  bool CopyFromIntf(IqonParamsListA* source, int from = 0, int to = -1);

  // Appends a row separator unless the last item already is one.
  void AddNewRow();
  bool FindEndOfRow(int from, int* index, bool* is_separator) const;
  void AddRows(const TqonParamsList& source);

  virtual TqonParamsListItem* AddItemCopy(const TqonParamsListItem& item);
  virtual TqonParamsListItem* AddItemFromIntf(IqonParamsListItemA* item);

  // EAssertionFailed unless the list is alive.
  void CheckSignature() const;

 protected:
  // The class of the items the list creates.
  virtual std::unique_ptr<TqonParamsListItem> NewItem(std::string_view name, OleVariant value);

 private:
  TqonParamsListItem* Append(std::unique_ptr<TqonParamsListItem> item, int index);
  int LastIndex(int to) const noexcept;
  void Release(std::unique_ptr<TqonParamsListItem> item);

  std::vector<std::unique_ptr<TqonParamsListItem>> items_;
  // Items of cleared rows kept for the next ones, the first item last: a
  // list refilled record after record (the receive path's) then allocates
  // almost nothing, and each item comes back in its old place with its
  // short string value kept for AddString.
  std::vector<std::unique_ptr<TqonParamsListItem>> spare_;
};
