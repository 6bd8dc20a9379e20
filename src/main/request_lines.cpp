// The request lines: a line is looked for in what was read, the input read further until one
// is complete, and the room of a long line given back after its answer.
#include "main/request_lines.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/platform.hpp"

namespace app {

RequestLines::Next RequestLines::next() {
    bool work_left = static_cast<bool>(waiting_work_);
    for (;;) {
        const std::size_t from = std::max(first_, searched_);
        const void* feed =
            from < size_ ? std::memchr(bytes_.get() + from, '\n', size_ - from) : nullptr;
        if (feed != nullptr || (ended_ && first_ < size_)) {
            const std::size_t end =
                feed != nullptr
                    ? static_cast<std::size_t>(static_cast<const char*>(feed) - bytes_.get())
                    : size_;
            std::string_view line{bytes_.get() + first_, end - first_};
            // Windows pipes end lines with CR LF.
            if (line.ends_with('\r')) line.remove_suffix(1);
            first_ = feed != nullptr ? end + 1 : end;
            searched_ = first_;
            return Next{Next::Kind::line, line, {}};
        }
        if (ended_) return Next{};

        // What is left is the start of a line, searched already: it moves to the front, and
        // the next read follows it.
        if (first_ != 0) {
            std::memmove(bytes_.get(), bytes_.get() + first_, size_ - first_);
            size_ -= first_;
            first_ = 0;
        }
        searched_ = size_;
        make_room();
        while (work_left && !platform::wait_for_input(wait_milliseconds)) {
            work_left = waiting_work_();
        }
        std::size_t got = 0;
        const std::optional<std::string> error =
            platform::read_input(bytes_.get() + size_, read_size, got);
        if (error) return Next{Next::Kind::read_failed, {}, *error};
        size_ += got;
        if (got == 0) ended_ = true;
    }
}

void RequestLines::make_room() {
    if (capacity_ - size_ >= read_size) return;
    const std::size_t larger = std::max(2 * capacity_, size_ + read_size);
    auto moved = std::make_unique_for_overwrite<char[]>(larger);
    if (size_ != 0) std::memcpy(moved.get(), bytes_.get(), size_);
    bytes_ = std::move(moved);
    capacity_ = larger;
}

void RequestLines::give_back_room() {
    if (capacity_ <= kept_capacity) return;
    // The lines read along with the long one stay, in a block of the usual size when they fit.
    const std::size_t rest = size_ - first_;
    const std::size_t smaller = std::max(rest, read_size);
    auto moved = std::make_unique_for_overwrite<char[]>(smaller);
    if (rest != 0) std::memcpy(moved.get(), bytes_.get() + first_, rest);
    bytes_ = std::move(moved);
    capacity_ = smaller;
    size_ = rest;
    first_ = 0;
    searched_ = 0;
}

}  // namespace app
