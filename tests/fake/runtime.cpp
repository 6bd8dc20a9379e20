// The clock, environment, argument and stream calls of platform.hpp, answered from the script
// kept here.

#include "fake/runtime.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace fake {

namespace {

constexpr std::uint64_t nanos_per_second = 1'000'000'000;

struct StreamScript {
    std::string captured;
    std::uint64_t writes = 0;
    std::optional<std::string> failure;
    bool echoed = false;
};

struct InputPiece {
    std::string bytes;
    std::function<void()> before;
    unsigned quiet_waits = 0;  // waits that pass with nothing before the piece comes
};

struct InputScript {
    std::vector<InputPiece> pieces;
    std::size_t piece = 0;       // the piece handed out next
    std::size_t offset = 0;      // how much of it is handed out already
    std::optional<std::string> failure;
    std::uint64_t reads = 0;
    unsigned quiet_before_next = 0;
    std::uint64_t waits = 0;
};

struct RuntimeScript {
    platform::Instant now;
    std::uint64_t step_nanos = 0;
    std::uint64_t clock_readings = 0;
    std::map<std::string, std::string, std::less<>> environment;
    std::uint64_t environment_reads = 0;
    std::vector<std::string> arguments;
    StreamScript out;
    StreamScript err;
    InputScript input;
};

RuntimeScript& script() {
    static RuntimeScript state;
    return state;
}

StreamScript& stream_script(platform::Stream stream) {
    return stream == platform::Stream::out ? script().out : script().err;
}

void add_nanos(platform::Instant& instant, std::uint64_t nanos) {
    const std::uint64_t total_nanos = instant.nanos + nanos % nanos_per_second;
    instant.seconds += nanos / nanos_per_second + total_nanos / nanos_per_second;
    instant.nanos = static_cast<std::uint32_t>(total_nanos % nanos_per_second);
}

}  // namespace

void reset_runtime() { script() = RuntimeScript{}; }

void set_clock(platform::Instant now) { script().now = now; }

void advance_clock(std::uint64_t nanos) { add_nanos(script().now, nanos); }

void set_clock_step(std::uint64_t nanos) { script().step_nanos = nanos; }

platform::Instant clock_now() { return script().now; }

std::uint64_t clock_readings() { return script().clock_readings; }

void set_environment_variable(const std::string& name, std::string value) {
    script().environment.insert_or_assign(name, std::move(value));
}

void unset_environment_variable(const std::string& name) { script().environment.erase(name); }

std::uint64_t environment_reads() { return script().environment_reads; }

void set_arguments(std::vector<std::string> arguments) {
    script().arguments = std::move(arguments);
}

const std::string& captured(platform::Stream stream) { return stream_script(stream).captured; }

std::uint64_t writes(platform::Stream stream) { return stream_script(stream).writes; }

void fail_stream(platform::Stream stream, std::string error_text) {
    stream_script(stream).failure = std::move(error_text);
}

void echo_stream(platform::Stream stream) { stream_script(stream).echoed = true; }

void add_input(std::string piece, std::function<void()> before) {
    InputScript& input = script().input;
    input.pieces.push_back(
        InputPiece{std::move(piece), std::move(before), std::exchange(input.quiet_before_next, 0)});
}

void add_quiet_waits(unsigned count) { script().input.quiet_before_next += count; }

std::uint64_t input_waits() { return script().input.waits; }

void fail_input(std::string error_text) { script().input.failure = std::move(error_text); }

std::uint64_t input_reads() { return script().input.reads; }

}  // namespace fake

namespace platform {

Instant monotonic_now() {
    auto& state = fake::script();
    const Instant reading = state.now;
    ++state.clock_readings;
    fake::add_nanos(state.now, state.step_nanos);
    return reading;
}

std::optional<std::string> environment_variable(const char* name) {
    auto& state = fake::script();
    ++state.environment_reads;
    auto found = state.environment.find(std::string_view(name));
    if (found == state.environment.end()) return std::nullopt;
    return found->second;
}

std::vector<std::string> arguments() { return fake::script().arguments; }

std::optional<std::string> write(Stream stream, std::string_view bytes) {
    auto& target = fake::stream_script(stream);
    ++target.writes;
    if (target.failure) return target.failure;
    target.captured.append(bytes);
    if (target.echoed) std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    return std::nullopt;
}

bool wait_for_input(std::uint32_t milliseconds) {
    auto& input = fake::script().input;
    ++input.waits;
    if (input.piece == input.pieces.size() || input.offset != 0 ||
        input.pieces[input.piece].quiet_waits == 0) {
        return true;
    }
    --input.pieces[input.piece].quiet_waits;
    fake::add_nanos(fake::script().now, std::uint64_t{milliseconds} * 1'000'000);
    return false;
}

std::optional<std::string> read_input(char* buffer, std::size_t room, std::size_t& got) {
    auto& input = fake::script().input;
    ++input.reads;
    got = 0;
    // An empty piece is a write of no bytes: it delivers nothing and is passed over. (A piece
    // handed out in full has been passed over already.)
    while (input.piece < input.pieces.size() && input.pieces[input.piece].bytes.empty()) {
        if (input.pieces[input.piece].before) input.pieces[input.piece].before();
        ++input.piece;
    }
    if (input.piece == input.pieces.size()) {
        if (input.failure) return input.failure;
        return std::nullopt;
    }
    fake::InputPiece& piece = input.pieces[input.piece];
    if (input.offset == 0 && piece.before) piece.before();
    got = std::min(room, piece.bytes.size() - input.offset);
    std::copy_n(piece.bytes.data() + input.offset, got, buffer);
    input.offset += got;
    if (input.offset == piece.bytes.size()) {
        ++input.piece;
        input.offset = 0;
    }
    return std::nullopt;
}

}  // namespace platform
