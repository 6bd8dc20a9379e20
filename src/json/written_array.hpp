#pragma once
// An array kept in its written form: each element is written in the compact form when it is
// appended, and only its text stays. A command's rows are made one after the other and only
// written afterwards; kept as values until the end, each would cost several times its text.

#include <cstddef>
#include <string>
#include <utility>

namespace json {

class Value;

class WrittenArray {
public:
    WrittenArray() = default;
    // Written into the block of `room`, whatever it holds: a session hands over the block its
    // last answer took, so that answers of its usual size take no new memory (fresh pages cost
    // the kernel a fault each).
    explicit WrittenArray(std::string room);

    // Room kept after the text, so that whoever takes the text can set it inside a document
    // (a few members before it, a brace after) without copying it. Only what is written there
    // is ever touched.
    static constexpr std::size_t wrapping_room = 16 * 1024;

    // Room for elements whose written_size_limit, and a comma each, add up to `bytes`, taken
    // at once: a list whose size is bounded beforehand then grows no buffer, and never holds
    // its text and a copy of it together.
    void reserve(std::size_t bytes);
    void push_back(const Value& element);

    // Appends an element that `write(text)` appends to the text itself, in the compact form
    // and at most `size_limit` bytes long: a row of a known shape is written straight into
    // place, with no value made of it first.
    template <typename Write>
    void push_written(std::size_t size_limit, Write write) {
        open_element(size_limit);
        write(text_);
        close_element();
    }

    std::size_t size() const { return count_; }
    // The compact text of the whole array: "[]" while it is empty.
    const std::string& text() const { return text_; }
    // The text, taken over, with wrapping_room to spare.
    std::string take_text() && { return std::move(text_); }

private:
    void open_element(std::size_t size_limit);
    void close_element();

    std::string text_ = "[]";
    std::size_t count_ = 0;
};

}  // namespace json
