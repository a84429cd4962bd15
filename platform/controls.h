// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>

#include <initializer_list>

class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {

// Layouts are given in twips: 1/1440 inch, 15 to a pixel at 96 dots per
// inch. Qt's logical pixels already follow the screen's scale factor.
constexpr int twipsToPixels(int twips)
{
    return (twips + 7) / 15;
}

void placeTwips(QWidget* widget, int left, int top, int width, int height);

inline const QColor kFieldBlue{0, 104, 171};

// Tahoma where installed, the system's sans-serif font otherwise.
QFont tahoma(double pointSize, bool bold = false);
inline QFont captionFont(bool bold = false)
{
    return tahoma(6.75, bold);
}
inline QFont fieldFont()
{
    return tahoma(8.25);
}

// White text on blue, for text boxes and the list.
void paintWhiteOnBlue(QWidget* widget);

// A text box that holds one line, in the field font, white on blue.
QLineEdit* makeTextBox(QWidget* parent, const char* name, const QString& accessibleName);
// A caption label sized to its text.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, const QFont& font);

// One of a window's indexed set of static captions, named lblInfo_<index>,
// at a position in twips, in the caption font.
struct IndexedCaption {
    int index;
    const char* text;
    int left;
    int top;
    bool bold;
};
void placeCaptions(QWidget* parent, std::initializer_list<IndexedCaption> captions);
// Ties caption `index` of `parent` to the control it names, so that screen
// readers announce the control by it.
void tieCaption(QWidget* parent, int index, QWidget* control);
// Chains the widgets' tab order in the order given (Qt 6.4 takes pairs only).
void setTabOrder(std::initializer_list<QWidget*> widgets);

// A button that Enter does not press by itself.
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QFont& font);
// A square button showing a 16 x 16 picture, with a tooltip.
QPushButton* makePictureButton(QWidget* parent, const char* name, const QString& picture, const QString& tooltip,
                               const QString& accessibleName);

// A horizontal rule between parts of a window: shown as a thin line in the
// given colour, announced to screen readers as a separator with no name.
class SeparatorLine : public QFrame {
    Q_OBJECT

public:
    SeparatorLine(QWidget* parent, const QColor& colour);
};

} // namespace platform
