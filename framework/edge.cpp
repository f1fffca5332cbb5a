#include "edge.h"

#include "application.h"
#include "errors.h"
#include "messages.h"

namespace fw {

std::string MessageOfCurrentError() noexcept {
  try {
    try {
      throw;
    } catch (const Exception& error) {
      return error.Message();
    } catch (...) {
      return koe::text::kUnknownError;
    }
  } catch (...) {
    return {};  // no memory left even for the text
  }
}

void ShowCurrentError() noexcept { Application.ShowErrorBox(MessageOfCurrentError()); }

}  // namespace fw
