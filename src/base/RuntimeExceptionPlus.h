// The error trail: location names that a run-time error collects on its way out.
//
// A handler that catches an error calls Cascade with its location name; the name is appended to
// the error's trail and the same error object is raised again. The trail store maps error
// objects (as std::exception_ptr, which refers to the one in-flight object) to their trail text;
// entries are never removed. A trail text is a series of "\n" + location.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bm {

// The run-time error the program raises itself (out-of-range reads and writes, a project file
// that cannot be opened). Any std::exception is treated the same way.
class RuntimeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace RuntimeExceptionPlus {

// Appends "\n" + location to the trail of `error`, then raises `error` again.
[[noreturn]] void Cascade(std::exception_ptr error, std::string_view location);
// The trail text of `error`; empty when it has none.
std::string stackTrace(std::exception_ptr error);
// Replaces the trail text of `error`.
void setStackTrace(std::exception_ptr error, std::string text);
// The trail's locations, innermost first.
std::vector<std::string> Locations(std::exception_ptr error);
// The error's own message (what()), or a generic text for a non-standard error.
std::string Message(std::exception_ptr error);

}  // namespace RuntimeExceptionPlus
}  // namespace bm
