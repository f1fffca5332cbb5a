// The program's own error: a settings file that cannot be written, a manual that cannot be
// opened. Shown in the standard error box like any other; "EKoemadoError" in the last-resort box.
#pragma once

#include <string>
#include <utility>

#include "errors.h"

class EKoemadoError : public fw::Exception {
 public:
  KOE_RAISE_SITE explicit EKoemadoError(std::string message) : fw::Exception(std::move(message)) {}
  const char* KindName() const override { return "EKoemadoError"; }
};
