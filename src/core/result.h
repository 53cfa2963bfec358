#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace tavoro {

// Why an operation failed, as one line fit for a log or for the user.
struct Failure {
    std::string message;
};

// What an operation produced, or why it failed. This is how failures cross from one library to
// another: `return Failure{"..."};` on the failing path, the value (or `{}` for Result<>) otherwise.
// Reading value() of a failure, or error() of a success, is a programming error and throws.
template <typename T = void>
class [[nodiscard]] Result {
public:
    template <typename U = T>
        requires std::convertible_to<U &&, T> && (!std::same_as<std::remove_cvref_t<U>, Failure>)
    Result(U&& value)
        : state_(std::in_place_index<0>, std::forward<U>(value))
    {
    }
    Result(Failure failure)
        : state_(std::in_place_index<1>, std::move(failure))
    {
    }

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const std::string& error() const { return std::get<1>(state_).message; }

private:
    std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure)
        : failure_(std::move(failure))
    {
    }

    bool ok() const { return !failure_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return failure_.value().message; }

private:
    std::optional<Failure> failure_;
};

} // namespace tavoro
