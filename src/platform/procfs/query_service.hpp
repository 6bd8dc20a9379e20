#pragma once
// The query service's BSTRs, for the texts it hands out: allocation with an explicit length,
// for texts that may hold zero units, a further hold on one, and the text of a BSTR.

#include <string_view>

#include "platform/platform.hpp"

namespace procfs {

// A BSTR holding exactly `text` (zero units included) plus the terminating zero unit. Its
// memory is the tool's own: running out of it ends the run.
platform::Bstr allocate_bstr(std::u16string_view text);

// A BSTR of the UTF-16 form of `text` (utf8_to_utf16), converted straight into the block: a
// long command line is not first made UTF-16 elsewhere.
platform::Bstr allocate_bstr_from_utf8(std::string_view text);

// One more hold on `text` (null stays null): the same block, freed by the SysFreeString of
// its last holder.
platform::Bstr share_bstr(platform::Bstr text);

// The text of a BSTR: exactly SysStringLen units; empty for null.
std::u16string_view bstr_text(platform::Bstr text);

}  // namespace procfs
