#pragma once
// A session's standard input, one request line at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace app {

class RequestLines {
public:
    // What a read asks of the system at most; also the room a buffer keeps for the lines of
    // one read and the start of the next.
    static constexpr std::size_t read_size = 64 * 1024;
    // A buffer that a long line grew past this goes back after its answer.
    static constexpr std::size_t kept_capacity = 4 * read_size;

    struct Next {
        enum class Kind { line, end, read_failed };
        Kind kind = Kind::end;
        // For a line: its bytes, without the line feed and without one carriage return before
        // it; valid until the next call.
        std::string_view line;
        // For a failed read: the system's error text.
        std::string error;
    };

    // How long a wait for input lasts before the work of while_waiting is done: a little over
    // a second, so that work that looks at most once a second finds a second gone.
    static constexpr std::uint32_t wait_milliseconds = 1'100;

    // The next line. The last one counts even without a line feed; then the end of input.
    Next next();

    // Work done while no line comes: each time a wait for input has lasted wait_milliseconds,
    // for as long as it answers true (it has more to do later), from the start of each call of
    // next() that has to wait.
    void while_waiting(std::function<bool()> work) { waiting_work_ = std::move(work); }

    // Called once a line is answered: a buffer grown by a long line gives its room back, so a
    // session's memory returns to its usual size after every request.
    void give_back_room();

private:
    // Room for `read_size` more bytes after what is held, the held bytes moved into a larger
    // block when there is none (twice as large, so a long line is copied a few times only).
    void make_room();

    // What was read: bytes_[first_, size_) not handed out yet. Filled by reads only, never
    // cleared beforehand: each read would otherwise pay for clearing the whole room.
    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    std::size_t first_ = 0;
    std::size_t searched_ = 0;  // bytes_[first_, searched_) holds no line feed
    bool ended_ = false;
    std::function<bool()> waiting_work_;
};

}  // namespace app
