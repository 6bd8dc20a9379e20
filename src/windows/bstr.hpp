#pragma once
// BSTRs for the texts passed to COM, freed right after the call that used them.

#include <string_view>
#include <utility>

#include "platform/platform.hpp"

namespace windows {

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

}  // namespace windows
