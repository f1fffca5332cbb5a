// The control's edges towards Windows and COM. No exception may leave a COM method or a window,
// dialog or notification procedure: unwinding through Windows' frames is undefined with mingw, and
// a COM caller understands only an HRESULT. Each such entry point runs its body inside one of these.
#pragma once

#include <windows.h>

#include <new>
#include <utility>

namespace ptsvr {

// The body's HRESULT; E_OUTOFMEMORY when it ran out of memory, E_UNEXPECTED for anything else.
template <class Fn>
HRESULT ComEdge(Fn&& body) noexcept {
  try {
    return std::forward<Fn>(body)();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The body's result; `failed` (0 or FALSE: "not handled") when it throws.
template <class Result, class Fn>
Result WindowEdge(Result failed, Fn&& body) noexcept {
  try {
    return std::forward<Fn>(body)();
  } catch (...) {
    return failed;
  }
}

}  // namespace ptsvr
