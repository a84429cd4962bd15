// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>

class QWidget;

namespace platform {

// Modifier mask of a key release: 1 Shift, 2 Ctrl, 4 Alt.
enum KeyModifierMask { ShiftMask = 1, CtrlMask = 2, AltMask = 4 };

// Virtual key codes the windows handle.
enum VirtualKey { KeyEnter = 13, KeyEscape = 27 };

// Gives a window its key events before the control that has the focus.
//
// Esc pressed anywhere in the window clicks the window's cancel button at
// once, as a cancel button does; every other key release reaches the
// window's key-up handler with a virtual key code and the modifier mask.
// One key stroke acts once: the release of an Esc that already clicked the
// cancel button does nothing, and neither does a release whose press went to
// another window (a message box dismissed with Enter or Esc).
class KeyPreview : public QObject {
public:
    using CancelHandler = std::function<void()>;
    using KeyUpHandler = std::function<void(int keyCode, int modifierMask)>;

    KeyPreview(QWidget* window, CancelHandler cancel, KeyUpHandler keyUp);

    static int virtualKeyCode(int qtKey);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The key event being delivered: Qt hands one event up from the focused
    // control to its parents, and it is previewed once, where it starts.
    struct Delivery {
        const QEvent* event = nullptr;
        QEvent::Type type = QEvent::None;
        int key = 0;
        QPointer<QWidget> reachedWidget;
    };
    bool continuesDelivery(const QEvent* event, int key, QWidget* watched);

    QWidget* window_;
    Delivery delivery_;
    CancelHandler cancel_;
    KeyUpHandler keyUp_;
    QSet<int> pressedHere_;
};

} // namespace platform
