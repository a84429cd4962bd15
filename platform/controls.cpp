// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls.h"

#include "text.h"

#include <QFocusEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace platform {
namespace {

// Tab into a box selects its text, as everywhere. Qt selects it while the
// box takes the focus, before it tells assistive tools that the focus moved,
// and a screen reader then takes the selection for the old control's and
// says nothing of the box (seen with Orca on an empty box). The selection
// is made just after the focus has moved instead.
class TextBox : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        const Qt::FocusReason reason = event->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason && reason != Qt::ShortcutFocusReason) {
            QLineEdit::focusInEvent(event);
            return;
        }
        QFocusEvent withoutSelecting(event->type(), Qt::OtherFocusReason);
        QLineEdit::focusInEvent(&withoutSelecting);
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (hasFocus() && !hasSelectedText())
                    selectAll();
            },
            Qt::QueuedConnection);
    }
};

} // namespace

void placeTwips(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

QFont tahoma(double pointSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

void paintWhiteOnBlue(QWidget* widget)
{
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, kFieldBlue);
        palette.setColor(group, QPalette::Text, Qt::white);
        // The selection inverts the colours, so it shows on the blue.
        palette.setColor(group, QPalette::Highlight, Qt::white);
        palette.setColor(group, QPalette::HighlightedText, kFieldBlue);
    }
    palette.setColor(QPalette::Disabled, QPalette::Base, kFieldBlue.darker(130));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(200, 200, 200));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QLineEdit* makeTextBox(QWidget* parent, const char* name, const QString& accessibleName)
{
    auto* box = new TextBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(accessibleName);
    box->setFont(fieldFont());
    paintWhiteOnBlue(box);
    keepSingleLine(box);
    return box;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, const QFont& font)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setFont(font);
    return label;
}

void placeCaptions(QWidget* parent, std::initializer_list<IndexedCaption> captions)
{
    for (const IndexedCaption& caption : captions) {
        const QByteArray name = "lblInfo_" + QByteArray::number(caption.index);
        QLabel* label = makeLabel(parent, name.constData(), QString::fromLatin1(caption.text),
                                  captionFont(caption.bold));
        label->move(twipsToPixels(caption.left), twipsToPixels(caption.top));
        label->adjustSize();
    }
}

void tieCaption(QWidget* parent, int index, QWidget* control)
{
    const QString name = QStringLiteral("lblInfo_%1").arg(index);
    if (auto* label = parent->findChild<QLabel*>(name, Qt::FindDirectChildrenOnly))
        label->setBuddy(control);
}

void setTabOrder(std::initializer_list<QWidget*> widgets)
{
    QWidget* previous = nullptr;
    for (QWidget* widget : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QFont& font)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setFont(font);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QPushButton* makePictureButton(QWidget* parent, const char* name, const QString& picture, const QString& tooltip,
                               const QString& accessibleName)
{
    auto* button = makeButton(parent, name, QString(), captionFont());
    button->setIcon(QIcon(picture));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(tooltip);
    button->setAccessibleName(accessibleName);
    return button;
}

SeparatorLine::SeparatorLine(QWidget* parent, const QColor& colour) : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
    QPalette linePalette = palette();
    linePalette.setColor(QPalette::Window, colour);
    setPalette(linePalette);
    setFocusPolicy(Qt::NoFocus);
}

} // namespace platform
