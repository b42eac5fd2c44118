// What the shared libraries (formats, archive, audit log, store) return at their edges: a value,
// or an error with its code and a sentence that says what went wrong. They never show a message
// themselves; the caller in ui/ or on the command line decides whether and how to tell the user.
#pragma once
#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace tv {

struct Error {
    int code = -1;        // the operation's own code (its exit code or result number); never 0
    std::string message;  // a whole sentence for the user; may be empty where the code says it all
};

template <class T = void>
class Result {
public:
    Result(T value) : v_(std::move(value)) {}      // NOLINT: a value converts
    Result(Error error) : v_(std::move(error)) {}  // NOLINT: an error converts

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & {
        assert(ok());
        return std::get<0>(v_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(v_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(v_));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    const Error& error() const {
        assert(!ok());
        return std::get<1>(v_);
    }

private:
    std::variant<T, Error> v_;
};

template <>
class Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: an error converts

    bool ok() const noexcept { return !failed_; }
    explicit operator bool() const noexcept { return ok(); }
    const Error& error() const {
        assert(!ok());
        return error_;
    }

private:
    Error error_;
    bool failed_ = false;
};

inline Error fail(int code, std::string message = {}) { return Error{code, std::move(message)}; }

}  // namespace tv
