// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace platform {

// Ends the program: every window closes and the event loop stops, so that
// the process exits.
void endProgram();

} // namespace platform
