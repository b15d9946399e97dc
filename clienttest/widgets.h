// widgets.h - the few controls the window needs that Qt does not have in the
// framework's form: a memo with line semantics, a flat glyph button, a radio
// group with an item index, and an auto-sizing image that holds a bitmap
// handle.
#pragma once

#include "cw_bitmap.h"

#include <QGroupBox>
#include <QImage>
#include <QPlainTextEdit>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QWidget>

#include <vector>

class QButtonGroup;
class QRadioButton;

// A plain-text memo whose lines are added at the end one append at a time.
// Qt's document cannot tell "no lines" from "one empty line", so the memo
// remembers the latter itself.
class Memo : public QPlainTextEdit {
public:
    explicit Memo(QWidget* parent = nullptr);

    // Adds `text` as new line(s) after the last one (a line break inside
    // `text` starts another line).
    void appendLines(const QString& text);
    // The memo's lines; none when empty.
    QStringList lines() const;
    // The text as the document holds it: lines end at U+2029 (or at U+2028,
    // a soft break), non-breaking spaces are kept.
    QString rawText() const;

    // Hide the base versions so the empty-line memory stays right.
    void clear();
    void setPlainText(const QString& text);

private:
    bool FOneEmptyLine = false;
};

// Draws list items at a fixed height (the drop-down list's item height).
class FixedHeightItemDelegate : public QStyledItemDelegate {
public:
    FixedHeightItemDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), FHeight(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), FHeight};
    }

private:
    int FHeight;
};

// A flat button that takes no focus and shows one glyph of a strip of
// equal glyphs for its state (up, disabled, clicked, held down), at the
// glyph's own size, centred and clipped to the button.
class SpeedButton : public QToolButton {
public:
    enum GlyphState { Up = 0, Disabled = 1, Clicked = 2, Down = 3 };

    SpeedButton(const QImage& glyphStrip, int glyphCount, QWidget* parent);

    static GlyphState glyphState(bool enabled, bool pressed, bool checked);
    GlyphState currentGlyphState() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage FStrip;
    int FGlyphCount;
};

// A titled group of radio buttons laid out in columns. ItemIndex is the
// checked item, or -1 when none is.
class RadioGroup : public QGroupBox {
public:
    RadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);

    int ItemIndex() const;
    void setItemIndex(int index); // -1 (or any index out of range) checks none
    QRadioButton* item(int index) const;
    int itemCount() const { return static_cast<int>(FItems.size()); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int titleHeight() const;
    QRect itemArea() const;
    void layoutItems();

    std::vector<QRadioButton*> FItems;
    QButtonGroup* FGroup;
    int FColumns;
};

// Shows one bitmap at its own size at the top-left and resizes itself to
// it. The bitmap's pixels are painted where they lie, never copied; the view
// owns the handle and deletes it when the next one replaces it or the view
// goes away.
class ImageView : public QWidget {
public:
    explicit ImageView(QWidget* parent = nullptr);

    // Takes ownership of `bitmap` (non-zero) and shows it; the previous
    // bitmap is deleted. A handle that is not a bitmap leaves the view empty.
    void setBitmap(CWBitmap bitmap);
    const QImage& picture() const { return FPicture; }
    bool hasPicture() const { return !FPicture.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage FPicture; // wraps the bitmap's pixels; its cleanup deletes the handle
};
