#pragma once
// A Linux command line as one text: the argument vector of /proc/<pid>/cmdline written the way
// a POSIX shell would split it back into the same arguments.

#include <optional>
#include <string>
#include <string_view>

namespace procfs {

// Appends `argument` to `out`: as it stands when it is non-empty and made only of ASCII
// letters, digits and _@%+=:,./- ; otherwise single-quoted, each ' written as '\''.
void append_shell_quoted(std::string& out, std::string_view argument);

// The text of a raw /proc/<pid>/cmdline: nullopt when it is empty (kernel thread, zombie);
// the data as it stands when it does not end in a zero byte (a process that rewrote its
// title); otherwise the zero-terminated arguments quoted and joined by single spaces.
// Bytes that are not UTF-8 become U+FFFD.
std::optional<std::string> command_line_from_cmdline(std::string_view raw);

}  // namespace procfs
