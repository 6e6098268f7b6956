// Errors as values.
//
// Every fallible operation of the core returns a Result<T>: either a value or
// an Error. Nothing below the Python boundary throws, prints (the one
// diagnostic line of the ontology model aside) or aborts; the boundary maps
// Errc to a Python exception in exactly one place.
//
// An Error carries its outermost message, which is the only text a Python
// caller ever sees, and the chain of messages beneath it ("cause"), kept for
// debugging and for tests that want to know why a read failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace corvanta {

enum class Errc : uint8_t {
  kOk = 0,
  // An operating-system call failed; message is "<description> (os error N)".
  kOs,
  // The release file is not a valid document (parse or typed read failed).
  kRead,
  // An invariant of the input that the system does not expect is broken.
  // Reaches Python as a BaseException-derived type, never as OSError.
  kInvariant,
  // Construction failed while loading the release: "failed to load HPO ...".
  kOntologyLoad,
  // Construction failed while building the automaton.
  kMatcherBuild,
  // Fetching or caching the release failed.
  kReleaseFetch,
};

struct Error {
  Errc code = Errc::kOk;
  std::string message;  // outermost message only
  std::string cause;    // messages beneath it, outermost first, "; "-joined

  // The same failure seen from one level up: `outer` becomes the message and
  // this error's messages move into the cause chain.
  [[nodiscard]] Error wrapped(Errc outer_code, std::string outer) && {
    std::string chain = std::move(message);
    if (!cause.empty()) {
      chain += "; ";
      chain += cause;
    }
    return Error{outer_code, std::move(outer), std::move(chain)};
  }
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}      // NOLINT
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  [[nodiscard]] bool ok() const noexcept { return v_.index() == 0; }
  [[nodiscard]] T& value() & noexcept { return *std::get_if<0>(&v_); }
  [[nodiscard]] const T& value() const& noexcept { return *std::get_if<0>(&v_); }
  [[nodiscard]] T&& value() && noexcept { return std::move(*std::get_if<0>(&v_)); }
  [[nodiscard]] Error& error() & noexcept { return *std::get_if<1>(&v_); }
  [[nodiscard]] Error&& error() && noexcept { return std::move(*std::get_if<1>(&v_)); }

 private:
  std::variant<T, Error> v_;
};

// Result of an operation that produces nothing but may fail.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT
  [[nodiscard]] bool ok() const noexcept { return !error_.has_value(); }
  [[nodiscard]] Error& error() & noexcept { return *error_; }
  [[nodiscard]] Error&& error() && noexcept { return std::move(*error_); }

 private:
  std::optional<Error> error_;
};

}  // namespace corvanta

#define CORVANTA_CONCAT_INNER_(a, b) a##b
#define CORVANTA_CONCAT_(a, b) CORVANTA_CONCAT_INNER_(a, b)

// CORVANTA_TRY(auto x, expr): evaluates expr (a Result<T>); on failure returns
// its Error from the enclosing function, otherwise binds the value to x.
#define CORVANTA_TRY(decl, expr)                                       \
  auto CORVANTA_CONCAT_(try_result_, __LINE__) = (expr);               \
  if (!CORVANTA_CONCAT_(try_result_, __LINE__).ok())                   \
    return std::move(CORVANTA_CONCAT_(try_result_, __LINE__)).error(); \
  decl = std::move(CORVANTA_CONCAT_(try_result_, __LINE__)).value()

// CORVANTA_TRY_STATUS(expr): returns the Error of a failed Status.
#define CORVANTA_TRY_STATUS(expr)                                 \
  do {                                                            \
    auto try_status_ = (expr);                                    \
    if (!try_status_.ok()) return std::move(try_status_).error(); \
  } while (0)
