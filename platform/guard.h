// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The last guard around each action of a window (a button, a key, a row of
// the list, closing it): anything it throws that nothing below it caught
// becomes the "Error" message box with the reason, and the window and the
// user's edits stay as they are, rather than the program ending on it.

#include <functional>
#include <utility>

namespace platform {

void runGuarded(const std::function<void()>& action);

// The action wrapped so, for a connection.
template <typename Action>
auto guarded(Action action)
{
    return [action = std::move(action)] { runGuarded(action); };
}

} // namespace platform
