#pragma once
// What a session keeps of each process it read, from one request to the next: the process's
// /proc/<pid> directory and its stat and status files, still open. Reading the process again
// then costs a read from the start of each file, where opening it afresh costs a directory, a
// signal check, two opens, two reads and three closes.
//
// A kept descriptor names the process it was opened for, never a later one with its ID: once
// that process is reaped every read through it fails (ESRCH), and the process is opened
// afresh, so every row is the one-shot's. What is kept is bounded (a quarter of the descriptor
// limit, and at most max_kept processes) and forgotten when not read for idle_seconds. When a
// reading runs short of descriptors, every kept file is closed, those of processes lent to
// open handles included, and the reading tries again (the reader's shortage relief): it then
// holds what the one-shot would. A session's Processes owns the table.
// The one-shot keeps nothing: its calls are the same as if this file did not exist.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "pid_table/pid_table.hpp"
#include "platform/procfs/descriptor.hpp"
#include "platform/platform.hpp"
#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"

namespace procfs {

// Whoever a kept process is lent to while a handle reads it: the handle's own address.
using Borrower = const void*;

// The kept processes by ID. A process opened again is lent to its handle: the handle owns the
// directory until it hands it back, and reads through the files, which stay here.
class KeptProcesses {
public:
    static constexpr std::size_t max_kept = 2048;
    static constexpr std::uint64_t idle_seconds = 10;

    // At most `most` processes, each forgotten `idle` seconds after it was last handed back.
    KeptProcesses(std::size_t most, std::uint64_t idle);

    struct Lent {
        int directory;    // the caller's now, to close or hand back
        StatFields stat;  // read just now through the kept stat file, up to its counts
        std::string_view stat_text;  // its line, valid until the next read of a file
    };

    // What is kept for `pid`, lent to `borrower`, with its stat read again through it. nullopt
    // when nothing is kept for the ID, when it is lent already, or when what was kept can no
    // longer be read: it is closed then, and the caller opens the process afresh. `reaped`, when
    // given, tells whether that was because the process it names has been reaped (its ID
    // perhaps given to another already).
    std::optional<Lent> lend(Reader& reader, platform::Pid pid, Borrower borrower,
                             bool* reaped = nullptr);

    // Whether `pid` is kept and not lent.
    bool keeps(platform::Pid pid) const;

    // The kept stat or status file of `pid` when lent to `borrower` and still open; else -1.
    int stat_file(platform::Pid pid, Borrower borrower) const;
    int status_file(platform::Pid pid, Borrower borrower) const;

    // Takes the directory of a closing handle of `pid`, as handed back at `now`: a process lent
    // to it is kept again (its files opened anew when a shortage closed them); another is kept
    // with its stat and status opened through the directory, so they name the same process, or
    // fail if it is gone. Closes the directory instead when the table is full or keeps the ID
    // for another handle, or when the files cannot be opened.
    void hand_back(platform::Pid pid, Borrower borrower, int directory, platform::Instant now);

    // Closes what was handed back `idle` seconds or more before `now` and not lent since; looks
    // at most once a second, so that a request pays for a sweep no more than a second's
    // readings do.
    void forget_idle(platform::Instant now);

    // Closes every kept process, and the files of those lent; whether anything was open.
    bool let_go();

    std::size_t size() const { return table_.size(); }

private:
    struct Kept {
        Descriptor directory;  // not open while lent
        Descriptor stat;
        Descriptor status;
        Borrower lent_to = nullptr;
        platform::Instant handed_back;
    };

    const Kept* lent_to(platform::Pid pid, Borrower borrower) const;

    pid_table::PidTable<Kept> table_;
    std::size_t most_;
    std::uint64_t idle_;
    pid_table::SweepGate sweeps_;
};

// How many processes a session keeps under a descriptor limit of `open_files`: three
// descriptors each, in a quarter of the limit, and at most max_kept.
std::size_t kept_under_limit(std::uint64_t open_files);

// Whether a /proc mount, as /proc/self/mountinfo lists it, hides processes (hidepid other
// than off): the text of the last mount at /proc decides, as it covers the ones before.
bool mounts_hide_processes(std::string_view mountinfo);

}  // namespace procfs
