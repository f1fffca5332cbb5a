// Small owners of the COM value types that mingw's runtime lacks (_bstr_t, _variant_t).
// COM interface pointers use Microsoft::WRL::ComPtr from <wrl/client.h>.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <new>
#include <string>

namespace fw {

// Owns one BSTR. The text may contain U+0000: the length comes from the string, not a terminator.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& text)
      : bstr_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (!bstr_) throw std::bad_alloc();
  }
  ~Bstr() { ::SysFreeString(bstr_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : bstr_(other.bstr_) { other.bstr_ = nullptr; }
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      ::SysFreeString(bstr_);
      bstr_ = other.bstr_;
      other.bstr_ = nullptr;
    }
    return *this;
  }

  BSTR get() const { return bstr_; }
  // For out-parameters: frees what is held and hands out the slot.
  BSTR* put() {
    ::SysFreeString(bstr_);
    bstr_ = nullptr;
    return &bstr_;
  }
  // Gives up ownership (for [in, out] or retval slots that the callee will free).
  BSTR release() {
    BSTR b = bstr_;
    bstr_ = nullptr;
    return b;
  }
  UINT length() const { return ::SysStringLen(bstr_); }
  std::wstring str() const { return bstr_ ? std::wstring(bstr_, ::SysStringLen(bstr_)) : std::wstring(); }

 private:
  BSTR bstr_ = nullptr;
};

// Owns one VARIANT; starts VT_EMPTY and is cleared (VariantClear) when it goes.
class Variant {
 public:
  Variant() { ::VariantInit(&v); }
  ~Variant() { ::VariantClear(&v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  void Clear() { ::VariantClear(&v); }
  VARIANT* ptr() { return &v; }

  VARIANT v;
};

}  // namespace fw
