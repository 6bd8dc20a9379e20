// The heap a session takes for a line of megabytes, counted by this program's own operator new:
// while the line is read and answered, at most three times its length and a fixed amount
// besides; once it is answered, all of it given back. (The answer of a line of many IDs costs
// what the one-shot's document costs; the end-to-end tests measure that on the real tool.)

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "fake/processes.hpp"
#include "fake/runtime.hpp"
#include "main/run.hpp"

namespace {

// The program runs on one thread: the counts need no atomics.
struct HeapCount {
    std::size_t live = 0;
    std::size_t peak = 0;
};
HeapCount heap;

// Each block carries its size in front, in room that keeps the block's alignment.
constexpr std::size_t header = alignof(std::max_align_t);

void* counted_new(std::size_t size) {
    for (;;) {
        if (void* block = std::malloc(size + header)) {
            *static_cast<std::size_t*>(block) = size;
            heap.live += size;
            if (heap.live > heap.peak) heap.peak = heap.live;
            return static_cast<char*>(block) + header;
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void counted_delete(void* pointer) noexcept {
    if (pointer == nullptr) return;
    char* block = static_cast<char*>(pointer) - header;
    heap.live -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return counted_new(size); }
void* operator new[](std::size_t size) { return counted_new(size); }
void operator delete(void* pointer) noexcept { counted_delete(pointer); }
void operator delete[](void* pointer) noexcept { counted_delete(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { counted_delete(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { counted_delete(pointer); }

namespace {

constexpr std::size_t kib = 1024;

struct Case {
    const char* name;
    std::string line;
};

std::string repeated(const std::string& text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

TEST(SessionMemory, ALongLineCostsAFewTimesItsLengthAndIsGivenBackOnceAnswered) {
    const std::vector<Case> cases{
        {"one ID two million times", "sample" + repeated(" 7", 2'000'000) + "\n"},
        {"four million blanks first", std::string(4'000'000, ' ') + "sample 7\n"},
        {"a refused word of four million digits", "sample " + std::string(4'000'000, '1') + "\n"},
        {"tabs and CR LF", "inspect" + repeated("\t12", 1'500'000) + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_processes();
        fake::reset_runtime();
        fake::process(7).working_set = 4096;
        fake::set_arguments({"serve"});
        std::size_t before = 0;
        std::size_t peak = 0;
        std::size_t after = 0;
        // A short request first: the session's buffers have their usual size by the long one.
        fake::add_input("sample 7\n");
        fake::add_input(c.line, [&] {
            before = heap.live;
            heap.peak = heap.live;
        });
        fake::add_input("sample 7\n", [&] {
            peak = heap.peak;
            after = heap.live;
        });

        EXPECT_EQ(app::run(), 0);
        EXPECT_EQ(fake::writes(platform::Stream::out), 3u);
        ASSERT_NE(before, 0u);
        EXPECT_LE(peak - before, 3 * c.line.size() + 256 * kib)
            << "a line of " << c.line.size() / kib << " KiB took " << (peak - before) / kib
            << " KiB";
        // What is left is the answers captured by the fake and its log of calls.
        EXPECT_LE(after - before, 16 * kib) << after - before << " bytes kept";
        EXPECT_EQ(fake::open_handles(), 0u);
    }
}

}  // namespace
