#pragma once
// COM interface pointers owned from the moment a call hands them out until one release.

#include <utility>

#include "platform/platform.hpp"

namespace windows {

// IUnknown::Release under the scope "windows::release"; a null pointer is left alone.
void release(platform::ComObject* object);

// Owns at most one interface pointer and releases it exactly once.
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
        if (object_ != nullptr) windows::release(std::exchange(object_, nullptr));
    }

private:
    platform::ComObject* object_ = nullptr;
};

}  // namespace windows
