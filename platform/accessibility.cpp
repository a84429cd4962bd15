// SPDX-License-Identifier: GPL-3.0-or-later
#include "accessibility.h"

#include "controls.h"
#include "textboxaccessible.h"

#include <QAccessibleWidget>
#include <QLineEdit>
#include <QSet>

namespace platform {
namespace {

class SeparatorAccessible : public QAccessibleWidget {
public:
    explicit SeparatorAccessible(QWidget* line) : QAccessibleWidget(line, QAccessible::Separator) {}
    // Qt would name it after the group box around it.
    QString text(QAccessible::Text) const override { return {}; }
};

} // namespace

QAccessibleInterface* tessalyWidgetAccessible(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String(SeparatorLine::staticMetaObject.className()))
        return new SeparatorAccessible(widget);
    // Asked with the box's own class first, before Qt's interface for it.
    if (auto* box = qobject_cast<QLineEdit*>(widget);
        box && className == QLatin1String(widget->metaObject()->className()))
        return textBoxAccessible(box);
    // Asked with the object's own class first: a window class of our own.
    if (widget->isWindow() && className == QLatin1String(widget->metaObject()->className())
        && widget->metaObject()->superClass() == &QWidget::staticMetaObject)
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

void installAccessibleFactory(QAccessibleInterface* (*factory)(const QString&, QObject*))
{
    static QSet<void*> installed;
    if (installed.contains(reinterpret_cast<void*>(factory)))
        return;
    installed.insert(reinterpret_cast<void*>(factory));
    QAccessible::installFactory(factory);
}

} // namespace platform
