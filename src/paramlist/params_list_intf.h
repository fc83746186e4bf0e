#pragma once
// The interfaces through which parameter lists cross the ABI edge. The slot
// order is fixed: hosts written in other languages call these tables by
// position. Rules every implementation keeps:
//  - a variant going in is `const VARIANT*`, one coming out `VARIANT*` that
//    the callee clears before writing;
//  - booleans are one byte; wide strings are zero-terminated UTF-16;
//  - status-returning slots answer 0 or 0x8000FFFF and clear their
//    out-argument first; no exception ever leaves a slot;
//  - item results are counted references the caller releases.
// The classes have no virtual destructor on purpose (it would add slots);
// objects are freed through Release only.
#include <cstdint>

#include "platform/abi.h"
#include "platform/variant.h"

// Marks code that calls interfaces a host may have implemented itself: such
// objects carry no C++ type information, so the sanitizer's dynamic-type
// check must not look at them.
#define QON_FOREIGN_CALLS __attribute__((no_sanitize("vptr")))

constexpr platform::Guid IID_IUnknown_ = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr platform::Guid IID_IqonParamsListA = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB1}};
constexpr platform::Guid IID_IqonParamsListW = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB2}};
constexpr platform::Guid IID_IqonParamsListItemA = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB4}};
constexpr platform::Guid IID_IqonParamsListItemW = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB6}};

constexpr platform::HRESULT kQonOk = 0;
constexpr platform::HRESULT kQonFailed = static_cast<platform::HRESULT>(0x8000FFFF);

class IqonParamsListItemA {
 public:
  virtual platform::HRESULT QON_STDCALL QueryInterface(const platform::Guid* iid, void** out) = 0;
  virtual uint32_t QON_STDCALL AddRef() = 0;
  virtual uint32_t QON_STDCALL Release() = 0;
  virtual void QON_STDCALL SetKey(const char* key) = 0;                                // 3
  virtual void QON_STDCALL SetDataType(int32_t data_type) = 0;                         // 4
  virtual void QON_STDCALL SetFlags(uint8_t flags) = 0;                                // 5
  virtual const char* QON_STDCALL GetKey() = 0;                                        // 6
  virtual int32_t QON_STDCALL GetDataType() = 0;                                       // 7
  virtual uint8_t QON_STDCALL GetFlags() = 0;                                          // 8
  virtual platform::HRESULT QON_STDCALL SetValue(const platform::VARIANT* value) = 0;  // 9
  virtual platform::HRESULT QON_STDCALL GetValue(platform::VARIANT* value) = 0;        // 10
  virtual void QON_STDCALL SetName(const char* name) = 0;                              // 11
  virtual const char* QON_STDCALL GetName() = 0;                                       // 12
  virtual bool QON_STDCALL IsNewRow() = 0;                                             // 13

 protected:
  ~IqonParamsListItemA() = default;
};

class IqonParamsListItemW : public IqonParamsListItemA {
 public:
  virtual void QON_STDCALL SetNameW(const platform::WChar* name) = 0;                   // 14
  virtual const platform::WChar* QON_STDCALL GetNameW() = 0;                            // 15
  virtual platform::HRESULT QON_STDCALL SetValueW(const platform::VARIANT* value) = 0;  // 16
  virtual platform::HRESULT QON_STDCALL GetValueW(platform::VARIANT* value) = 0;        // 17

 protected:
  ~IqonParamsListItemW() = default;
};

class IqonParamsList_ {
 public:
  virtual platform::HRESULT QON_STDCALL QueryInterface(const platform::Guid* iid, void** out) = 0;
  virtual uint32_t QON_STDCALL AddRef() = 0;
  virtual uint32_t QON_STDCALL Release() = 0;
  virtual int32_t QON_STDCALL GetCount() = 0;          // 3
  virtual int32_t QON_STDCALL GetSignature() = 0;      // 4
  virtual int32_t QON_STDCALL GetTag() = 0;            // 5
  virtual void QON_STDCALL SetTag(int32_t tag) = 0;    // 6
  virtual void QON_STDCALL Clear() = 0;                // 7
  virtual void QON_STDCALL Delete(int32_t index) = 0;  // 8
  virtual bool QON_STDCALL FindEndOfRow(int32_t from, int32_t* index,
                                        bool* is_separator) = 0;  // 9
  virtual void QON_STDCALL AddNewRow() = 0;                       // 10
  // The argument is a list wrap object: the IqonParamsListW (or A) pointer
  // of one of this library's wraps.
  virtual void QON_STDCALL AddRows(void* list_wrap) = 0;  // 11

 protected:
  ~IqonParamsList_() = default;
};

// Names are zero-terminated byte strings in the ANSI code page. The source
// of AddItems/AddItemsRange is a list object (or one of this library's list
// wraps).
class IqonParamsListA : public IqonParamsList_ {
 public:
  virtual platform::HRESULT QON_STDCALL GetItem(int32_t index, IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL AddItems(void* source, bool* ok) = 0;
  virtual platform::HRESULT QON_STDCALL AddItemsRange(void* source, int32_t from, int32_t to,
                                                      bool* ok) = 0;
  virtual platform::HRESULT QON_STDCALL FindItem(const char* name, int32_t from, int32_t to,
                                                 IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL IndexOf(const char* name, int32_t from, int32_t to,
                                                int32_t* index) = 0;
  virtual platform::HRESULT QON_STDCALL GetValue(const char* name, int32_t from, int32_t to,
                                                 platform::VARIANT* value) = 0;
  virtual platform::HRESULT QON_STDCALL GetValueDef(const char* name,
                                                    const platform::VARIANT* fallback, int32_t from,
                                                    int32_t to, platform::VARIANT* value) = 0;
  virtual platform::HRESULT QON_STDCALL Add(const char* name, const platform::VARIANT* value,
                                            IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL Insert(int32_t index, const char* name,
                                               const platform::VARIANT* value,
                                               IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL SetValue(const char* name, const platform::VARIANT* value,
                                                 bool create, IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL AddItemFrom(IqonParamsListItemA* source,
                                                    IqonParamsListItemA** item) = 0;

 protected:
  ~IqonParamsListA() = default;
};

// Names are zero-terminated UTF-16 strings. The source of AddItems and
// AddItemsRange is a list wrap object.
class IqonParamsListW : public IqonParamsList_ {
 public:
  virtual platform::HRESULT QON_STDCALL GetItem(int32_t index, IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL AddItems(void* source, bool* ok) = 0;
  virtual platform::HRESULT QON_STDCALL AddItemsRange(void* source, int32_t from, int32_t to,
                                                      bool* ok) = 0;
  virtual platform::HRESULT QON_STDCALL FindItem(const platform::WChar* name, int32_t from,
                                                 int32_t to, IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL IndexOf(const platform::WChar* name, int32_t from,
                                                int32_t to, int32_t* index) = 0;
  virtual platform::HRESULT QON_STDCALL GetValue(const platform::WChar* name, int32_t from,
                                                 int32_t to, platform::VARIANT* value) = 0;
  virtual platform::HRESULT QON_STDCALL GetValueDef(const platform::WChar* name,
                                                    const platform::VARIANT* fallback, int32_t from,
                                                    int32_t to, platform::VARIANT* value) = 0;
  virtual platform::HRESULT QON_STDCALL Add(const platform::WChar* name,
                                            const platform::VARIANT* value,
                                            IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL Insert(int32_t index, const platform::WChar* name,
                                               const platform::VARIANT* value,
                                               IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL SetValue(const platform::WChar* name,
                                                 const platform::VARIANT* value, bool create,
                                                 IqonParamsListItemA** item) = 0;
  virtual platform::HRESULT QON_STDCALL AddItemFrom(IqonParamsListItemW* source,
                                                    IqonParamsListItemA** item) = 0;

 protected:
  ~IqonParamsListW() = default;
};
