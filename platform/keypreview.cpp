// SPDX-License-Identifier: GPL-3.0-or-later
#include "keypreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace platform {

KeyPreview::KeyPreview(QWidget* window, CancelHandler cancel, KeyUpHandler keyUp)
    : QObject(window)
    , window_(window)
    , cancel_(std::move(cancel))
    , keyUp_(std::move(keyUp))
{
    qApp->installEventFilter(this);
}

int KeyPreview::virtualKeyCode(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Escape:
        return KeyEscape;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return KeyEnter;
    default:
        break;
    }
    // Letters and digits share their codes with the virtual keys.
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return qtKey;
    return 0;
}

bool KeyPreview::continuesDelivery(const QEvent* event, int key, QWidget* watched)
{
    if (event == delivery_.event && event->type() == delivery_.type && key == delivery_.key && delivery_.reachedWidget
        && watched->isAncestorOf(delivery_.reachedWidget)) {
        delivery_.reachedWidget = watched;
        return true;
    }
    delivery_ = {event, event->type(), key, watched};
    return false;
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event)
{
    // A key still down when a message box takes over is released there; its
    // press must not make a later release here count.
    if (event->type() == QEvent::WindowDeactivate && watched == window_) {
        pressedHere_.clear();
        return false;
    }
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || target->window() != window_)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (continuesDelivery(event, key->key(), target))
        return false;

    if (key->isAutoRepeat())
        return key->key() == Qt::Key_Escape;
    if (event->type() == QEvent::KeyPress) {
        pressedHere_.insert(key->key());
        if (key->key() == Qt::Key_Escape) {
            cancel_();
            return true;
        }
        return false;
    }

    if (!pressedHere_.remove(key->key()))
        return false;
    if (key->key() == Qt::Key_Escape)
        return true;
    int mask = 0;
    const Qt::KeyboardModifiers modifiers = key->modifiers();
    if (modifiers & Qt::ShiftModifier)
        mask |= ShiftMask;
    if (modifiers & Qt::ControlModifier)
        mask |= CtrlMask;
    if (modifiers & Qt::AltModifier)
        mask |= AltMask;
    keyUp_(virtualKeyCode(key->key()), mask);
    return false;
}

} // namespace platform
