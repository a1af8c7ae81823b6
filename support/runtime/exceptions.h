#pragma once
// The failure classes. Every failure the tool raises is an Exception (or a
// class derived from it) carrying its message text and the code address at
// which it was raised; the top level reports it and ends the process.

#include <cstdint>
#include <string>
#include <utility>

namespace dazi {

class Exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  virtual ~Exception() = default;

  virtual const char* ClassName() const { return "Exception"; }
  const std::string& Message() const { return message_; }
  const void* Address() const { return address_; }
  void SetAddress(const void* address) { address_ = address; }

 private:
  std::string message_;
  const void* address_ = nullptr;
};

#define DAZI_FAILURE_CLASS(Name, Base)                       \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

DAZI_FAILURE_CLASS(EOutOfMemory, Exception);
DAZI_FAILURE_CLASS(EStringListError, Exception);
DAZI_FAILURE_CLASS(EStreamError, Exception);
DAZI_FAILURE_CLASS(EFileStreamError, EStreamError);
DAZI_FAILURE_CLASS(EFOpenError, EFileStreamError);
// A system library the run needs cannot be loaded (POSIX: ICU, opened when
// the collation first needs it).
DAZI_FAILURE_CLASS(ELibraryError, Exception);

// Processor faults, made by the top-level fault handling.
DAZI_FAILURE_CLASS(EExternal, Exception);
DAZI_FAILURE_CLASS(EAccessViolation, EExternal);
DAZI_FAILURE_CLASS(EStackOverflow, EExternal);
DAZI_FAILURE_CLASS(EPrivilege, EExternal);
DAZI_FAILURE_CLASS(EIntError, EExternal);
DAZI_FAILURE_CLASS(EDivByZero, EIntError);
DAZI_FAILURE_CLASS(EIntOverflow, EIntError);
DAZI_FAILURE_CLASS(ERangeError, EIntError);
DAZI_FAILURE_CLASS(EMathError, EExternal);
DAZI_FAILURE_CLASS(EZeroDivide, EMathError);
DAZI_FAILURE_CLASS(EOverflow, EMathError);
DAZI_FAILURE_CLASS(EUnderflow, EMathError);
DAZI_FAILURE_CLASS(EInvalidOp, EMathError);

#undef DAZI_FAILURE_CLASS

class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int code) : Exception(std::move(message)), code_(code) {}
  const char* ClassName() const override { return "EInOutError"; }
  int Code() const { return code_; }

 private:
  int code_;
};

// Raises a failure, recording the address of the raise (the return address
// into the raising code).
template <class E>
[[noreturn]] __attribute__((noinline)) void Raise(E failure) {
  failure.SetAddress(__builtin_return_address(0));
  throw failure;
}

}  // namespace dazi
