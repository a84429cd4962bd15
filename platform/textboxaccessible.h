// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QAccessibleInterface;
class QLineEdit;

namespace platform {

// The accessible interface of a one-line text box. Qt 6.4's own reports its
// text attributes as empty runs (a screen reader then drops the value's last
// character) and loops for ever when asked for the word or sentence at the
// end of the text; this one reports the whole value as one run and answers
// every boundary at every offset. Editing through it obeys the box's
// validator, as typing does.
QAccessibleInterface* textBoxAccessible(QLineEdit* box);

} // namespace platform
