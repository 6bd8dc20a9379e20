#pragma once
// The executable of a process: the target of its /proc "exe" link, as UTF-16.

#include <cstdint>

namespace procfs {

// Fails when the link cannot be read (a kernel thread has none; another user's process may
// refuse it) or when the text and its terminating null do not fit in `size` units. On success
// `size` holds the units written without the null. Bytes that are not UTF-8 become U+FFFD.
bool read_image_name(int directory, const char* link, char16_t* buffer, std::uint32_t& size);

}  // namespace procfs
