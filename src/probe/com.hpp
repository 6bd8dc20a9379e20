#pragma once
// What COM hands out and must get back exactly once: BSTRs for the texts passed to it,
// interface pointers, and the contents of a filled VARIANT.

#include <string_view>
#include <utility>
#include <vector>

#include "platform/com_calls.hpp"

namespace probe {

// The UTF-16 units of `text` followed by one zero unit, as COM calls take names.
// Scope "windows::wide".
std::vector<char16_t> wide(std::string_view text);

// Owns one BSTR (or null, when the allocator gave none) and frees it exactly once.
class OwnedBstr {
public:
    explicit OwnedBstr(platform::Bstr bstr) : bstr_(bstr) {}
    ~OwnedBstr() { free(); }

    OwnedBstr(OwnedBstr&& other) noexcept : bstr_(std::exchange(other.bstr_, nullptr)) {}
    OwnedBstr& operator=(OwnedBstr&&) = delete;
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;

    platform::Bstr get() const { return bstr_; }

    // Frees now, so the BSTR does not outlive the call it was made for.
    void free() {
        if (bstr_ != nullptr) platform::sys_free_string(std::exchange(bstr_, nullptr));
    }

private:
    platform::Bstr bstr_;
};

// A BSTR copy of `text`, under the scope "windows::bstr". A null result from the allocator is
// handed on as it is: the COM call that gets it decides.
OwnedBstr bstr(std::string_view text);

// IUnknown::Release under the scope "windows::release"; a null pointer is left alone.
void release(platform::ComObject* object);

// Owns at most one interface pointer, from the moment a call hands it out, and releases it
// exactly once.
class ComOwner {
public:
    ComOwner() = default;
    ~ComOwner() { reset(); }

    ComOwner(ComOwner&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComOwner& operator=(ComOwner&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    ComOwner(const ComOwner&) = delete;
    ComOwner& operator=(const ComOwner&) = delete;

    platform::ComObject* get() const { return object_; }

    // For the out parameter of a call that hands out an object: releases what was held and
    // presets the pointer to null, as the calls expect.
    platform::ComObject** out() {
        reset();
        return &object_;
    }

    // Releases now rather than at the end of the enclosing block. Only a held object is
    // released, so no "windows::release" is recorded for a step that produced nothing.
    void reset() {
        if (object_ != nullptr) probe::release(std::exchange(object_, nullptr));
    }

private:
    platform::ComObject* object_ = nullptr;
};

// A VARIANT that a successful Get filled: cleared exactly once when the read is done.
class FilledVariant {
public:
    explicit FilledVariant(platform::Variant& value) : value_(value) {}
    ~FilledVariant() { platform::variant_clear(&value_); }

    FilledVariant(const FilledVariant&) = delete;
    FilledVariant& operator=(const FilledVariant&) = delete;

private:
    platform::Variant& value_;
};

}  // namespace probe
