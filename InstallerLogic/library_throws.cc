// How libstdc++ reports a container's misuse (a length beyond max_size, an
// index out of range) inside the stub. Its own versions of these functions
// build the standard exception types, whose messages are held in the library's
// second, copy-on-write string type: linking them brings in that whole string
// implementation, about 45 KB of the stub. These throw the same failures with
// the library's message kept as a static text, so a catch of std::exception
// (or of std::bad_alloc, for an allocation) still sees them, with their text.
#include <bits/functexcept.h>

#include <exception>
#include <functional>
#include <new>
#include <typeinfo>

namespace {

class LibraryError : public std::exception {
 public:
  explicit LibraryError(const char* what) noexcept : what_(what) {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;  // libstdc++ passes string literals
};

}  // namespace

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* what) { throw LibraryError(what); }
void __throw_domain_error(const char* what) { throw LibraryError(what); }
void __throw_invalid_argument(const char* what) { throw LibraryError(what); }
void __throw_length_error(const char* what) { throw LibraryError(what); }
void __throw_out_of_range(const char* what) { throw LibraryError(what); }
// The format's arguments (an index, a size) are left out of the text.
void __throw_out_of_range_fmt(const char* format, ...) { throw LibraryError(format); }
void __throw_runtime_error(const char* what) { throw LibraryError(what); }
void __throw_range_error(const char* what) { throw LibraryError(what); }
void __throw_overflow_error(const char* what) { throw LibraryError(what); }
void __throw_underflow_error(const char* what) { throw LibraryError(what); }

}  // namespace std
