// QueryInterface from a table. Each COM object lists the interfaces it answers, one row an IID,
// and answers from its list: IID_IUnknown always by the first row, so that the IUnknown reached
// from any of its interfaces is one pointer, the object's identity.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <span>
#include <type_traits>

namespace ptsvr {

// One interface an object of T answers: its IID, and T as that interface.
template <class T>
struct InterfaceRow {
  const IID* iid;
  IUnknown* (*as)(T* object);
};

// The row that answers `iid` with T's base I.
template <class T, class I>
constexpr InterfaceRow<T> Row(const IID& iid) {
  return {&iid, [](T* object) -> IUnknown* { return static_cast<I*>(object); }};
}

// The interface of `rows` for `riid`, with a reference added; E_NOINTERFACE (and null) when the
// table has none.
template <class T>
HRESULT QueryFromTable(T* object, std::span<const InterfaceRow<std::type_identity_t<T>>> rows,
                       REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const auto& row : rows) {
    if (*row.iid != riid && !(riid == IID_IUnknown && &row == &rows.front())) continue;
    IUnknown* const answer = row.as(object);
    answer->AddRef();
    *out = answer;
    return S_OK;
  }
  return E_NOINTERFACE;
}

}  // namespace ptsvr
