#pragma once
// A VARIANT that a successful Get filled: cleared exactly once when the read is done.

#include "platform/platform.hpp"

namespace windows {

class FilledVariant {
public:
    explicit FilledVariant(platform::Variant& value) : value_(value) {}
    ~FilledVariant() { platform::variant_clear(&value_); }

    FilledVariant(const FilledVariant&) = delete;
    FilledVariant& operator=(const FilledVariant&) = delete;

private:
    platform::Variant& value_;
};

}  // namespace windows
