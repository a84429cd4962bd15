// SPDX-License-Identifier: GPL-3.0-or-later
#include "focusframe.h"

#include <QApplication>
#include <QFocusFrame>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>

namespace platform {
namespace {

// The ring's room outside the control: QFocusFrame takes it from the style.
class RingMargins : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_FocusFrameHMargin || metric == PM_FocusFrameVMargin)
            return kFocusRingWidth;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// QFocusFrame places itself around its control, follows it when it moves,
// stays out of mouse events, and is left out of the accessible tree; it
// only draws the ring its own way here.
class FocusRing : public QFocusFrame {
public:
    FocusRing()
    {
        // Owned by the frame, so that it outlives no frame and no frame it.
        auto* margins = new RingMargins;
        margins->setParent(this);
        setStyle(margins);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        // Only the band around the control is painted: the control, beneath
        // in the same window, shows through the middle.
        const QRect control = rect().adjusted(kFocusRingWidth, kFocusRingWidth, -kFocusRingWidth, -kFocusRingWidth);
        QPainter painter(this);
        painter.setClipRegion(QRegion(rect()).subtracted(control));
        painter.fillRect(rect(), kFocusOuter);
        painter.fillRect(rect().adjusted(1, 1, -1, -1), kFocusInner);
    }
};

} // namespace

void showFocusRing()
{
    static QPointer<FocusRing> ring;
    static bool following = false;
    if (following)
        return;
    following = true;
    QObject::connect(qApp, &QApplication::focusChanged, qApp, [](QWidget*, QWidget* now) {
        // The ring is a child of the control's parent, which may go with its
        // window (the entry editor closed by its title bar).
        if (!ring)
            ring = new FocusRing;
        ring->setWidget(now && !now->isWindow() ? now : nullptr);
    });
}

} // namespace platform
