#include "json/written_array.hpp"

#include "json/writer.hpp"

#include <utility>

namespace json {

WrittenArray::WrittenArray(std::string room) : text_(std::move(room)) { text_.assign("[]"); }

void WrittenArray::reserve(std::size_t bytes) {
    text_.reserve(text_.size() + bytes + wrapping_room);
}

void WrittenArray::push_back(const Value& element) {
    open_element(written_size_limit(element));
    write_compact(text_, element);
    close_element();
}

void WrittenArray::open_element(std::size_t size_limit) {
    // Room for the whole element first: a long one (a command line of megabytes) is written
    // into place, never into a buffer that grows and copies on the way.
    text_.reserve(text_.size() + 1 + size_limit + wrapping_room);
    text_.pop_back();  // the closing bracket, put back after the element
    if (count_ != 0) text_.push_back(',');
}

void WrittenArray::close_element() {
    text_.push_back(']');
    ++count_;
}

}  // namespace json
