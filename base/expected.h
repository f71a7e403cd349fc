// A value, or the failure met instead of it: what an operation returns, so that everything
// known of a failure travels in one value to the front end that words it.
#pragma once

#include <utility>
#include <variant>

namespace quelvar {

// The value of an operation that has nothing to return but its success.
struct Done {};

// A failure on its way into an Expected.
template <class E>
struct Unexpected {
    E error;
};

template <class T, class E>
class Expected {
  public:
    Expected(T value) : held_(std::in_place_index<0>, std::move(value)) {}
    Expected(Unexpected<E> failure) : held_(std::in_place_index<1>, std::move(failure.error)) {}

    bool has_value() const { return held_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    // The value; only when there is one.
    T& value() { return std::get<0>(held_); }
    const T& value() const { return std::get<0>(held_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // The failure; only when there is no value.
    E& error() { return std::get<1>(held_); }
    const E& error() const { return std::get<1>(held_); }

  private:
    std::variant<T, E> held_;
};

}  // namespace quelvar
