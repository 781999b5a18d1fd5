// Failures as values: a Status says what failed, a Result<T> holds either a T
// or the Status that stopped it.
//
// A Status's code is 0 for success, else an errno value (ENOENT, EINVAL, ...):
// the POSIX error numbers are the codes every module already speaks, so an
// operating-system failure keeps its own and other failures pick the nearest.
// Its text is what the caller shows, as that caller's own message wants it.
#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include "base/fatal.h"

namespace mossbank {

struct Status {
  int code = 0;
  std::string text;

  bool ok() const { return code == 0; }
  explicit operator bool() const { return ok(); }
};

inline Status ok_status() { return {}; }
// A failure with `code` (an errno value, not 0) and `text`.
inline Status failure(int code, std::string text) {
  if (code == 0) fatal("a failure made with code 0");
  return Status{code, std::move(text)};
}
// An operating-system failure: its errno and the system's text for it.
Status os_failure(int err);

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Status status) : status_(std::move(status)) {
    if (status_.ok()) fatal("a Result made from a success without a value");
  }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // The failure; a success's is code 0 with no text.
  const Status& status() const { return status_; }

  // Only on success.
  T& value() {
    if (!value_) fatal("the value of a failed Result: " + status_.text);
    return *value_;
  }
  const T& value() const {
    if (!value_) fatal("the value of a failed Result: " + status_.text);
    return *value_;
  }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace mossbank
