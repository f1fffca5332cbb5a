// The control's VARIANT owner (the control does not use the program's framework).
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace ptsvr {

// A VARIANT that clears itself. It starts all zeros: a value narrower than the VARIANT (VT_I2,
// VT_BOOL) leaves nothing but zeros beyond its own width for a caller that reads more.
struct Variant : VARIANT {
  Variant() {
    ZeroMemory(static_cast<VARIANT*>(this), sizeof(VARIANT));
    VariantInit(this);
  }
  ~Variant() { VariantClear(this); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
};

}  // namespace ptsvr
