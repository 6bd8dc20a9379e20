#pragma once
// The rows of the inspect command, made from each batch of identities and the command lines
// fetched for them.

#include "probe/command_lines.hpp"
#include "probe/inspect.hpp"
#include "probe/process_identity.hpp"
#include "rows/rows.hpp"

namespace rows {

// The row builder the inspect command (probe::inspect) is handed. One row per entry, in entry
// order, each handed to the sink as soon as it is made. Each found process is rechecked through
// its held handle and looked up in the command lines; its handle is closed right after, before
// its row is made, so later entries keep theirs open until their turn. Opens no scope.
class InspectRowMaker final : public probe::InspectRows {
public:
    explicit InspectRowMaker(RowSink& sink) : sink_(sink) {}
    void add(probe::IdentityList identities,
             const probe::CommandLineResult& command_lines) override;

private:
    RowSink& sink_;
};

}  // namespace rows
