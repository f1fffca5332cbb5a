// The error types of the framework; the program derives its own from Exception. Messages are
// Shift-JIS byte strings, their texts in core/messages.h.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

// Constructors of the error types below run inside the function that raises the error, so that
// the base constructor's return address is the raising address.
#define KOE_RAISE_SITE inline __attribute__((always_inline))

namespace fw {

// Base of every error the program raises. Handlers never catch it; the window procedure's edge
// shows it in the standard error box, start-up's edge in the last-resort box.
class Exception : public std::exception {
 public:
  // Never inlined: the return address is where the error was raised.
  __attribute__((noinline)) explicit Exception(std::string message)
      : message_(std::move(message)), address_(__builtin_return_address(0)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  // The error's kind as the last-resort box names it.
  virtual const char* KindName() const { return "Exception"; }
  // The code address at which the error was raised.
  void* Address() const { return address_; }

 private:
  std::string message_;
  void* address_;
};

// The system's text for a status, or "OLE エラー %.8x" when it has none.
std::string SystemErrorText(HRESULT code);

// A failed COM call: the system's text for the status.
class EOleSysError : public Exception {
 public:
  KOE_RAISE_SITE explicit EOleSysError(HRESULT code) : Exception(SystemErrorText(code)), code_(code) {}
  KOE_RAISE_SITE EOleSysError(std::string message, HRESULT code)
      : Exception(std::move(message)), code_(code) {}
  HRESULT Code() const { return code_; }
  const char* KindName() const override { return "EOleSysError"; }

 private:
  HRESULT code_;
};

// An exception reported by an automation server (DISP_E_EXCEPTION) with its own description.
class EOleException : public EOleSysError {
 public:
  KOE_RAISE_SITE EOleException(std::string message, HRESULT code, std::string source)
      : EOleSysError(std::move(message), code), source_(std::move(source)) {}
  const std::string& Source() const { return source_; }
  const char* KindName() const override { return "EOleException"; }

 private:
  std::string source_;
};

// A control could not be hosted (it offers no in-place activation).
class EOleError : public Exception {
 public:
  KOE_RAISE_SITE explicit EOleError(std::string message) : Exception(std::move(message)) {}
  const char* KindName() const override { return "EOleError"; }
};

// A window could not be made.
class EOutOfResources : public Exception {
 public:
  KOE_RAISE_SITE explicit EOutOfResources(std::string message) : Exception(std::move(message)) {}
  const char* KindName() const override { return "EOutOfResources"; }
};

// An operation that the object's state does not allow (showing a shown form modally).
class EInvalidOperation : public Exception {
 public:
  KOE_RAISE_SITE explicit EInvalidOperation(std::string message) : Exception(std::move(message)) {}
  const char* KindName() const override { return "EInvalidOperation"; }
};

// Raises the error for a failed IDispatch::Invoke: for DISP_E_EXCEPTION the description with
// trailing blanks and full stops removed (the system's text for the exception's own code when
// that leaves nothing); for any other status the system's text. Does nothing when hr succeeded.
// Frees the strings held in excep.
void CheckInvoke(HRESULT hr, EXCEPINFO& excep);

// Raises EOleSysError when hr failed.
KOE_RAISE_SITE void OleCheck(HRESULT hr) {
  if (FAILED(hr)) throw EOleSysError(hr);
}

}  // namespace fw
