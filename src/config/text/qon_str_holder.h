#pragma once
// A component that owns a string list and keeps it in its owner's component
// stream in the encoded property StrData (a key, then one encoded string per
// item; read in versions 0, 1 and 2, written in version 2).
#include <functional>
#include <string>
#include <vector>

#include "base/component.h"
#include "config/text/strings.h"

class TFormStreamWriter;
class TFormStreamReader;

class TqonStrHolder : public TComponent {
 public:
  explicit TqonStrHolder(TComponent* owner = nullptr);
  const char* ClassName() const override { return "TqonStrHolder"; }
  std::span<const TPropInfo> PublishedProperties() const override;

  const TStrings& Strings() const { return strings_; }
  // Copies the list.
  void SetStrings(const TStrings& list) { strings_.Assign(list); }

  size_t Capacity() const { return strings_.Capacity(); }
  void SetCapacity(size_t c) { strings_.SetCapacity(c); }
  TDuplicates Duplicates() const { return strings_.Duplicates(); }
  void SetDuplicates(TDuplicates d) { strings_.SetDuplicates(d); }
  bool Sorted() const { return strings_.Sorted(); }
  void SetSorted(bool s) { strings_.SetSorted(s); }

  // Kept inside StrData, not as a property of its own.
  std::string KeyString;
  // The stored-format version as read from InternalVer (0 when absent).
  int32_t InternalVer = 0;

  // Raised before and after the list changes, unless it is being read.
  std::function<void(TqonStrHolder&)> OnChange;
  std::function<void(TqonStrHolder&)> OnChanging;

  // From a string list or another holder (their strings are copied).
  void Assign(const TPersistent& source) override;
  // A string list receives a copy of the strings.
  void AssignTo(TPersistent& dest) const override;

  // StrData in version 2: the key, then each item as lower-case hexadecimal
  // UTF-8 XORed with the key's UTF-8 bytes.
  std::vector<std::string> EncodeStrData() const;
  // Replaces the list from StrData read in the format of InternalVer. Never
  // fails: what is not hexadecimal decodes to the documented values.
  void DecodeStrData(const std::vector<std::string>& data);
  // Whether StrData is written, given the ancestor holder in the stream.
  bool StrDataStored(const TqonStrHolder* ancestor) const;

  // The holder as one object of a component stream, and back. Reading
  // raises std::runtime_error on a malformed stream.
  void WriteComponent(TFormStreamWriter& writer, const TqonStrHolder* ancestor = nullptr) const;
  void ReadComponent(TFormStreamReader& reader);

 private:
  TStrings strings_;
  bool reading_ = false;
};
