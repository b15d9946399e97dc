// Starting Cardwright or RosterLink (docs/protocol.md, section 8).
#pragma once

#include <cstdint>
#include <string>

namespace cwx {

enum class Role { Cardwright, RosterLink };

// Starts the program detached with the design file, show mode and port.
// Returns false with `error` set when the file or the program is missing or
// the program cannot be executed.
bool launch(Role role, const char* design_path, std::int32_t show_mode, std::int32_t port,
            std::string& error);

} // namespace cwx
