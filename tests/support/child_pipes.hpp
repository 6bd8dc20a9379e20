#pragma once
// The pipes of a child process's standard input and output, for the tests that start a program
// and talk to it: made before the child starts, the child's ends handed to it, the parent's
// ends kept. Linux only.

#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace test_support {

// Two pipes, every end close-on-exec (the child's ends are duplicated onto its standard
// streams, which do not close). made() is false when either pipe could not be made; then no
// end is open. The ends still held are closed when the object goes.
class ChildPipes {
public:
    ChildPipes() {
        int input[2];
        int output[2];
        if (::pipe2(input, O_CLOEXEC) != 0) return;
        if (::pipe2(output, O_CLOEXEC) != 0) {
            ::close(input[0]);
            ::close(input[1]);
            return;
        }
        child_input_ = input[0];
        to_child_ = input[1];
        from_child_ = output[0];
        child_output_ = output[1];
    }
    ~ChildPipes() {
        close_child_ends();
        for (const int end : {to_child_, from_child_}) {
            if (end >= 0) ::close(end);
        }
    }
    ChildPipes(const ChildPipes&) = delete;
    ChildPipes& operator=(const ChildPipes&) = delete;

    bool made() const { return to_child_ >= 0; }
    // What the child reads as its standard input, and writes its standard output to.
    int child_input() const { return child_input_; }
    int child_output() const { return child_output_; }
    // Once the child has started (or could not be): the parent holds no end of the child's,
    // so that the child's reads see the end of input once the parent's writing end closes,
    // and the parent's reads see the end of output once the child's goes.
    void close_child_ends() {
        for (int* end : {&child_input_, &child_output_}) {
            if (*end >= 0) ::close(*end);
            *end = -1;
        }
    }
    // The parent's ends, from now on the caller's to close.
    int release_writing_end() { return std::exchange(to_child_, -1); }
    int release_reading_end() { return std::exchange(from_child_, -1); }

private:
    int child_input_ = -1;
    int child_output_ = -1;
    int to_child_ = -1;
    int from_child_ = -1;
};

}  // namespace test_support
