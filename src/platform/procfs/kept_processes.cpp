// The kept processes in the order a session meets them: the table made when the session
// starts (unless /proc hides processes), a process lent to the handle that opens it again and
// read through what was kept, handed back (its files opened the first time) when the handle
// closes, forgotten when idle, and everything closed when a reading runs short.

#include "platform/procfs/kept_processes.hpp"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace procfs {

std::size_t kept_under_limit(std::uint64_t open_files) {
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(KeptProcesses::max_kept, open_files / 4 / 3));
}

bool mounts_hide_processes(std::string_view mountinfo) {
    // "<id> <parent> <dev> <root> <mount point> <options> [<tags>...] - <type> <source> <super
    // options>": hidepid is among the super options, the line's last field.
    std::string_view last_proc_options;
    while (!mountinfo.empty()) {
        const std::size_t end = mountinfo.find('\n');
        std::string_view rest = mountinfo.substr(0, end);
        mountinfo.remove_prefix(end == std::string_view::npos ? mountinfo.size() : end + 1);

        for (int field = 0; field < 4; ++field) {
            const std::size_t blank = rest.find(' ');
            rest.remove_prefix(blank == std::string_view::npos ? rest.size() : blank + 1);
        }
        if (!rest.starts_with("/proc ")) continue;
        const std::size_t separator = rest.find(" - ");
        if (separator == std::string_view::npos) continue;
        const std::string_view described = rest.substr(separator + 3);
        if (!described.starts_with("proc ")) continue;
        last_proc_options = described.substr(described.rfind(' ') + 1);
    }
    while (!last_proc_options.empty()) {
        const std::size_t comma = last_proc_options.find(',');
        const std::string_view option = last_proc_options.substr(0, comma);
        last_proc_options.remove_prefix(comma == std::string_view::npos ? last_proc_options.size()
                                                                        : comma + 1);
        if (option.starts_with("hidepid=")) {
            const std::string_view value = option.substr(8);
            return value != "0" && value != "off";
        }
    }
    return false;
}

// ---- The table

KeptProcesses::KeptProcesses(std::size_t most, std::uint64_t idle) : most_(most), idle_(idle) {}

bool KeptProcesses::keeps(platform::Pid pid) const {
    const Kept* const kept = table_.find(pid);
    return kept != nullptr && kept->lent_to == nullptr;
}

std::optional<KeptProcesses::Lent> KeptProcesses::lend(Reader& reader, platform::Pid pid,
                                                       Borrower borrower, bool* reaped) {
    Kept* const kept = table_.find(pid);
    if (kept == nullptr || kept->lent_to != nullptr) return std::nullopt;
    const FileText file = kept->stat.is_open() ? reader.reread_line_file(kept->stat.get())
                                               : FileText{{}, EBADF};
    const std::optional<StatFields> stat =
        file.error == 0 ? parse_stat(file.text, StatExtent::counts) : std::nullopt;
    if (!stat) {
        // Reaped, or unreadable for another reason: opening afresh decides what the row says.
        if (reaped != nullptr) *reaped = file.error != 0 && means_gone(file.error);
        table_.erase(pid);
        return std::nullopt;
    }
    kept->lent_to = borrower;
    return Lent{kept->directory.release(), *stat, file.text};
}

const KeptProcesses::Kept* KeptProcesses::lent_to(platform::Pid pid, Borrower borrower) const {
    const Kept* const kept = table_.find(pid);
    return kept != nullptr && kept->lent_to == borrower ? kept : nullptr;
}

int KeptProcesses::stat_file(platform::Pid pid, Borrower borrower) const {
    const Kept* const kept = lent_to(pid, borrower);
    return kept != nullptr ? kept->stat.get() : -1;
}

int KeptProcesses::status_file(platform::Pid pid, Borrower borrower) const {
    const Kept* const kept = lent_to(pid, borrower);
    return kept != nullptr ? kept->status.get() : -1;
}

namespace {

bool later_or_same(platform::Instant a, platform::Instant b) {
    return a.seconds != b.seconds ? a.seconds > b.seconds : a.nanos >= b.nanos;
}

Descriptor open_in(const Descriptor& directory, const char* name) {
    return Descriptor{::openat(directory.get(), name, O_RDONLY | O_CLOEXEC)};
}

}  // namespace

void KeptProcesses::hand_back(platform::Pid pid, Borrower borrower, int directory,
                              platform::Instant now) {
    Descriptor handed{directory};
    Kept* kept = table_.find(pid);
    if (kept != nullptr && kept->lent_to != borrower) return;  // kept for another handle
    if (kept == nullptr) {
        if (pid == 0 || table_.size() >= most_) return;
        kept = &table_.insert(pid).value;
    }
    kept->directory = std::move(handed);
    kept->lent_to = nullptr;
    kept->handed_back = now;
    if (!kept->stat.is_open() || !kept->status.is_open()) {
        kept->stat = open_in(kept->directory, "stat");
        kept->status = open_in(kept->directory, "status");
        if (!kept->stat.is_open() || !kept->status.is_open()) table_.erase(pid);
    }
}

void KeptProcesses::forget_idle(platform::Instant now) {
    if (!sweeps_.open(now)) return;
    table_.erase_if([&](platform::Pid, const Kept& kept) {
        const platform::Instant forget_at{kept.handed_back.seconds + idle_,
                                          kept.handed_back.nanos};
        return kept.lent_to == nullptr && later_or_same(now, forget_at);
    });
}

bool KeptProcesses::let_go() {
    bool closed = false;
    table_.erase_if([&](platform::Pid, Kept& kept) {
        closed = closed || kept.directory.is_open() || kept.stat.is_open() || kept.status.is_open();
        if (kept.lent_to == nullptr) return true;
        // Stays, for its handle to hand back; the handle reads as the one-shot does.
        kept.stat.close();
        kept.status.close();
        return false;
    });
    return closed;
}

}  // namespace procfs
