#pragma once
// The failure codes the procfs query service answers with, beyond those of platform.hpp.

#include "platform/platform.hpp"

namespace procfs {

inline constexpr platform::HResult e_pointer = static_cast<platform::HResult>(0x80004003u);
inline constexpr platform::HResult co_e_notinitialized =
    static_cast<platform::HResult>(0x800401F0u);
inline constexpr platform::HResult regdb_e_classnotreg =
    static_cast<platform::HResult>(0x80040154u);
inline constexpr platform::HResult wbem_e_failed = static_cast<platform::HResult>(0x80041001u);
inline constexpr platform::HResult wbem_e_not_found = static_cast<platform::HResult>(0x80041002u);
inline constexpr platform::HResult wbem_e_out_of_memory =
    static_cast<platform::HResult>(0x80041006u);
inline constexpr platform::HResult wbem_e_invalid_parameter =
    static_cast<platform::HResult>(0x80041008u);
inline constexpr platform::HResult wbem_e_invalid_query_type =
    static_cast<platform::HResult>(0x80041018u);

}  // namespace procfs
