// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>

namespace platform {

// The ring around the control that has the keyboard focus: a dark outer
// line that stands out on the window's grey, and a light inner band that
// stands out on the blue of the text boxes and the list, so that the focus
// can be seen at a glance on either. It follows the focus through every
// window of the program, and screen readers do not see it.
inline const QColor kFocusOuter{20, 20, 20};
inline const QColor kFocusInner{255, 194, 14};
inline constexpr int kFocusRingWidth = 3;

// Starts showing the ring; once per process is enough, more calls do nothing.
void showFocusRing();

} // namespace platform
