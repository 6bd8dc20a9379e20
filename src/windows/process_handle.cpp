#include "windows/process_handle.hpp"

#include <utility>

#include "windows/drop_handle.hpp"

namespace windows {

ProcessHandle::~ProcessHandle() { close(); }

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void ProcessHandle::close() noexcept {
    if (handle_ != nullptr) drop_handle(std::exchange(handle_, nullptr));
}

}  // namespace windows
