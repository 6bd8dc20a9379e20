#pragma once
// The three-way result of every process probe: found with a value, not_found, or an error.

#include <utility>
#include <variant>

#include "windows/probe_error.hpp"

namespace windows {

struct NotFound {
    friend bool operator==(const NotFound&, const NotFound&) = default;
};

template <typename T>
class ProbeOutcome {
public:
    ProbeOutcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    ProbeOutcome(NotFound) : state_(std::in_place_index<1>) {}
    ProbeOutcome(ProbeError error) : state_(std::in_place_index<2>, error) {}

    bool found() const { return state_.index() == 0; }
    bool not_found() const { return state_.index() == 1; }
    bool is_error() const { return state_.index() == 2; }

    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    const ProbeError& error() const { return std::get<2>(state_); }

private:
    std::variant<T, NotFound, ProbeError> state_;
};

}  // namespace windows
