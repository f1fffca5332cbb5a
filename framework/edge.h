// The one error edge: every window procedure, callback and COM method of the framework and the
// program runs its work through ShowingErrors. An error that escapes the work goes to the
// standard error box instead of across Windows or COM: a framework error (fw::Exception) with
// its own message, anything else with the standard text for an unknown error, so that nothing
// but the program's own Japanese reaches the user.
#pragma once

#include <string>
#include <type_traits>

namespace fw {

// The message the standard error box shows for the error being handled. Only inside a catch.
std::string MessageOfCurrentError() noexcept;
// Shows the error being handled in the standard error box. Only inside a catch.
void ShowCurrentError() noexcept;

// Runs fn; an error that escapes it is shown, and the result is then a value-initialised one (0).
template <class Fn>
auto ShowingErrors(Fn&& fn) noexcept -> decltype(fn()) {
  try {
    return fn();
  } catch (...) {
    ShowCurrentError();
  }
  if constexpr (!std::is_void_v<decltype(fn())>) return decltype(fn()){};
}

}  // namespace fw
