#include "diagnostics/registry.hpp"

#include <vector>

#include "diagnostics/internal_fault.hpp"

namespace diagnostics {

namespace {

// The thread's state is trivially destructible and constant-initialised, so reaching it costs
// no initialisation check. The rows live on the heap from the first record on; a separate
// thread-local releases them at thread end and marks the state, so a late use is caught.
struct ThreadRegistry {
    std::vector<FunctionStats>* rows = nullptr;
    bool held = false;
    bool torn_down = false;
};

constinit thread_local ThreadRegistry registry;

struct RegistryRelease {
    bool armed = false;
    ~RegistryRelease() {
        delete registry.rows;
        registry.rows = nullptr;
        registry.torn_down = true;
    }
};

thread_local RegistryRelease release_at_thread_end;

// Takes the registry for exclusive use, creating its rows on first use.
class Hold {
public:
    Hold() {
        if (registry.torn_down) internal_fault("diagnostics registry used after its thread ended");
        if (registry.held) internal_fault("diagnostics registry re-entered");
        registry.held = true;
        if (registry.rows == nullptr) {
            release_at_thread_end.armed = true;  // registers the release for this thread
            registry.rows = new std::vector<FunctionStats>();
        }
    }
    ~Hold() { registry.held = false; }

    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

    std::vector<FunctionStats>& rows() { return *registry.rows; }
};

FunctionStats* find_row(std::vector<FunctionStats>& rows, std::string_view name) {
    // string_view equality compares lengths before bytes.
    for (FunctionStats& row : rows) {
        if (row.name == name) return &row;
    }
    return nullptr;
}

}  // namespace

void record(std::string_view name, Micros micros) {
    Hold hold;
    if (FunctionStats* row = find_row(hold.rows(), name)) {
        row->calls += 1;
        row->total_us += micros;
        if (micros > row->max_us) row->max_us = micros;
        return;
    }
    hold.rows().push_back(FunctionStats{name, micros, micros, 1});
}

void record_since(std::string_view self_name, platform::Instant start) {
    Hold hold;
    if (FunctionStats* row = find_row(hold.rows(), self_name)) {
        row->calls += 1;
        row->total_us += micros_since(start);
        const Micros again = micros_since(start);
        if (again > row->max_us) row->max_us = again;
        return;
    }
    const Micros total = micros_since(start);
    const Micros again = micros_since(start);
    hold.rows().push_back(FunctionStats{self_name, total, again, 1});
}

void clear_registry() {
    Hold hold;
    hold.rows().clear();
}

RegistryReader::RegistryReader() {
    if (registry.torn_down) internal_fault("diagnostics registry used after its thread ended");
    if (registry.held) internal_fault("diagnostics registry re-entered");
    registry.held = true;
}

RegistryReader::~RegistryReader() { registry.held = false; }

std::span<const FunctionStats> RegistryReader::rows() const {
    if (registry.rows == nullptr) return {};
    return *registry.rows;
}

const FunctionStats* RegistryReader::find(std::string_view name) const {
    if (registry.rows == nullptr) return nullptr;
    return find_row(*registry.rows, name);
}

}  // namespace diagnostics
