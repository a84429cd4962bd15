// SPDX-License-Identifier: GPL-3.0-or-later
#include "textboxaccessible.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace platform {
namespace {

enum class Side { Before, At, After };

// Where the pieces of one kind (characters, words, sentences) of `text`
// begin and end, 0 and the length included. Qt's own walk compares the -1
// that toNextBoundary answers at the end with the length and never stops;
// this one stops there.
QList<int> pieceBoundaries(const QString& text, QTextBoundaryFinder::BoundaryType type)
{
    QList<int> positions{0};
    QTextBoundaryFinder finder(type, text);
    for (qsizetype position = finder.toNextBoundary(); position > 0; position = finder.toNextBoundary()) {
        const bool pieceEdge = finder.boundaryReasons()
            & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem);
        if (pieceEdge || position == text.size())
            positions.append(static_cast<int>(position));
    }
    if (positions.back() != text.size())
        positions.append(static_cast<int>(text.size()));
    return positions;
}

// The piece of `text` at `offset`, or the one before or after it. At the end
// of the text, the word (or sentence) at it is the last one, as a caret there
// stands at its end; the character at it is none.
QString pieceNear(const QString& text, QAccessible::TextBoundaryType boundary, int offset, Side side, int* startOffset,
                  int* endOffset)
{
    *startOffset = *endOffset = -1;
    if (offset < 0 || offset > text.size())
        return {};
    if (boundary == QAccessible::LineBoundary || boundary == QAccessible::ParagraphBoundary
        || boundary == QAccessible::NoBoundary) {
        // One line: nothing comes before or after it.
        if (side == Side::At) {
            *startOffset = 0;
            *endOffset = static_cast<int>(text.size());
            return text;
        }
        *startOffset = *endOffset = side == Side::Before ? 0 : static_cast<int>(text.size());
        return {};
    }
    QTextBoundaryFinder::BoundaryType type = QTextBoundaryFinder::Grapheme;
    if (boundary == QAccessible::WordBoundary)
        type = QTextBoundaryFinder::Word;
    else if (boundary == QAccessible::SentenceBoundary)
        type = QTextBoundaryFinder::Sentence;
    const QList<int> positions = pieceBoundaries(text, type);
    auto at = std::upper_bound(positions.cbegin(), positions.cend(), offset) - positions.cbegin() - 1;
    if (offset == text.size() && type != QTextBoundaryFinder::Grapheme && at > 0)
        --at;
    const auto piece = at + (side == Side::Before ? -1 : side == Side::After ? 1 : 0);
    if (piece < 0 || piece + 1 >= positions.size()) {
        *startOffset = *endOffset = offset;
        return {};
    }
    *startOffset = positions[piece];
    *endOffset = positions[piece + 1];
    return text.mid(*startOffset, *endOffset - *startOffset);
}

class TextBoxAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    explicit TextBoxAccessible(QLineEdit* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        QString text;
        if (t == QAccessible::Value && box()->echoMode() != QLineEdit::NoEcho)
            text = shownText();
        if (text.isEmpty())
            text = QAccessibleWidget::text(t);
        if (text.isEmpty() && t == QAccessible::Description)
            text = box()->placeholderText();
        return text;
    }

    void setText(QAccessible::Text t, const QString& text) override
    {
        if (t != QAccessible::Value) {
            QAccessibleWidget::setText(t, text);
            return;
        }
        if (!takesTyping())
            return;
        box()->selectAll();
        box()->insert(text);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = box()->isReadOnly();
        state.editable = !state.readOnly;
        state.passwordEdit = box()->echoMode() != QLineEdit::Normal;
        state.selectableText = true;
        return state;
    }

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0 || !box()->hasSelectedText())
            return;
        *startOffset = box()->selectionStart();
        *endOffset = box()->selectionEnd();
    }

    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }

    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }

    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            box()->deselect();
    }

    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex != 0 || !validRange(startOffset, endOffset))
            return;
        box()->setSelection(startOffset, endOffset - startOffset);
    }

    int cursorPosition() const override { return box()->cursorPosition(); }

    void setCursorPosition(int position) override
    {
        if (position >= 0 && position <= characterCount())
            box()->setCursorPosition(position);
    }

    QString text(int startOffset, int endOffset) const override
    {
        if (!validRange(startOffset, endOffset))
            return {};
        return shownText().mid(startOffset, endOffset - startOffset);
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                             int* endOffset) const override
    {
        return pieceNear(shownText(), boundaryType, offset, Side::Before, startOffset, endOffset);
    }

    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                            int* endOffset) const override
    {
        return pieceNear(shownText(), boundaryType, offset, Side::After, startOffset, endOffset);
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override
    {
        return pieceNear(shownText(), boundaryType, offset, Side::At, startOffset, endOffset);
    }

    int characterCount() const override { return static_cast<int>(shownText().size()); }

    // Where the character is on the screen. Qt asks the box's private text
    // layout; this measures from the caret, which the box tells through the
    // input method query, with the box's font.
    QRect characterRect(int offset) const override
    {
        const QString shown = shownText();
        if (offset < 0 || offset >= shown.size())
            return {};
        const QFontMetrics metrics(box()->font());
        const QRect caret = box()->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const int caretX = caret.left() + caret.width() / 2;
        const int left = caretX + metrics.horizontalAdvance(shown.left(offset))
            - metrics.horizontalAdvance(shown.left(box()->cursorPosition()));
        const qsizetype length = shown[offset].isHighSurrogate() && offset + 1 < shown.size() ? 2 : 1;
        const QRect local(left, caret.top(), metrics.horizontalAdvance(shown.mid(offset, length)), caret.height());
        return QRect(box()->mapToGlobal(local.topLeft()), local.size());
    }

    int offsetAtPoint(const QPoint& point) const override
    {
        return box()->cursorPositionAt(box()->mapFromGlobal(point));
    }

    void scrollToSubstring(int startIndex, int endIndex) override
    {
        if (!validRange(startIndex, endIndex))
            return;
        box()->setCursorPosition(endIndex);
        box()->setCursorPosition(startIndex);
    }

    // The whole value is one run: the box shows it in one font and colour.
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = -1;
        if (offset < 0 || offset > characterCount())
            return {};
        *startOffset = 0;
        *endOffset = characterCount();
        const QFont font = box()->font();
        const QPalette palette = box()->palette();
        return QStringLiteral("font-family:\"%1\";font-size:%2pt;font-weight:%3;color:%4;background-color:%5;")
            .arg(font.family())
            .arg(font.pointSize())
            .arg(font.bold() ? QStringLiteral("bold") : QStringLiteral("normal"))
            .arg(cssColour(palette.color(QPalette::Text)), cssColour(palette.color(QPalette::Base)));
    }

    // QAccessibleEditableTextInterface: edits go in as typing does, through
    // the box's validator, so that what the box refuses from the keyboard it
    // refuses from here. Offsets move to whole characters, as the caret
    // does: an edit never splits one (a surrogate pair, an accent and its
    // letter).
    void deleteText(int startOffset, int endOffset) override
    {
        if (!takesTyping() || !validRange(startOffset, endOffset) || startOffset == endOffset)
            return;
        select(startOffset, endOffset);
        box()->del();
    }

    void insertText(int offset, const QString& text) override
    {
        if (!takesTyping() || offset < 0 || offset > characterCount())
            return;
        select(offset, offset);
        box()->insert(text);
    }

    void replaceText(int startOffset, int endOffset, const QString& text) override
    {
        if (!takesTyping() || !validRange(startOffset, endOffset))
            return;
        select(startOffset, endOffset);
        box()->insert(text);
    }

private:
    QLineEdit* box() const { return static_cast<QLineEdit*>(widget()); }

    QString shownText() const { return box()->echoMode() == QLineEdit::Normal ? box()->text() : box()->displayText(); }

    bool takesTyping() const { return box()->isEnabled() && !box()->isReadOnly(); }

    bool validRange(int startOffset, int endOffset) const
    {
        return startOffset >= 0 && startOffset <= endOffset && endOffset <= characterCount();
    }

    // Selects from the start of the character `startOffset` is in to the
    // end of the one that `endOffset` ends inside; an empty range stays
    // empty, at that start.
    void select(int startOffset, int endOffset)
    {
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, box()->text());
        characters.setPosition(startOffset);
        const qsizetype start = characters.isAtBoundary() ? startOffset : characters.toPreviousBoundary();
        qsizetype end = start;
        if (endOffset > startOffset) {
            characters.setPosition(endOffset);
            end = characters.isAtBoundary() ? endOffset : characters.toNextBoundary();
        }
        box()->setSelection(static_cast<int>(start), static_cast<int>(end - start));
    }

    static QString cssColour(const QColor& colour)
    {
        return QStringLiteral("rgb(%1,%2,%3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
    }
};

} // namespace

QAccessibleInterface* textBoxAccessible(QLineEdit* box)
{
    return new TextBoxAccessible(box);
}

} // namespace platform
