// widgets.cpp - Memo, SpeedButton, RadioGroup and ImageView.
#include "widgets.h"

#include <QButtonGroup>
#include <QPainter>
#include <QPaintEvent>
#include <QRadioButton>
#include <QStyleOptionToolButton>
#include <QStylePainter>

// ---- Memo ------------------------------------------------------------------

Memo::Memo(QWidget* parent) : QPlainTextEdit(parent)
{
    // Whatever else changes the text (typing, pasting) ends the special case.
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        if (!document()->isEmpty())
            FOneEmptyLine = false;
    });
}

void Memo::appendLines(const QString& text)
{
    if (!document()->isEmpty()) {
        appendPlainText(text);
        return;
    }
    // An empty document holds no line or one empty one; appendPlainText
    // would treat both as "no line".
    QPlainTextEdit::setPlainText(FOneEmptyLine ? QStringLiteral("\n") + text : text);
    FOneEmptyLine = document()->isEmpty();
    moveCursor(QTextCursor::End);
}

QStringList Memo::lines() const
{
    if (document()->isEmpty())
        return FOneEmptyLine ? QStringList{QString()} : QStringList{};
    // The raw text: toPlainText() would turn non-breaking spaces into
    // blanks. Paragraphs are lines, and so are soft breaks (Shift+Enter).
    QString text = document()->toRawText();
    text.replace(QChar::LineSeparator, QChar::ParagraphSeparator);
    return text.split(QChar::ParagraphSeparator);
}

QString Memo::rawText() const { return document()->toRawText(); }

void Memo::clear()
{
    FOneEmptyLine = false;
    QPlainTextEdit::clear();
}

void Memo::setPlainText(const QString& text)
{
    FOneEmptyLine = false;
    QPlainTextEdit::setPlainText(text);
}

// ---- SpeedButton -----------------------------------------------------------

SpeedButton::SpeedButton(const QImage& glyphStrip, int glyphCount, QWidget* parent)
    : QToolButton(parent), FStrip(glyphStrip), FGlyphCount(glyphCount > 0 ? glyphCount : 1)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
}

SpeedButton::GlyphState SpeedButton::glyphState(bool enabled, bool pressed, bool checked)
{
    if (!enabled)
        return Disabled;
    if (pressed)
        return Clicked;
    return checked ? Down : Up;
}

SpeedButton::GlyphState SpeedButton::currentGlyphState() const
{
    return glyphState(isEnabled(), isDown(), isChecked());
}

void SpeedButton::paintEvent(QPaintEvent* /*event*/)
{
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    // Flat: the panel shows only while the mouse is over it or it is down.
    if (isEnabled() && (isDown() || isChecked() || underMouse()))
        painter.drawPrimitive(QStyle::PE_PanelButtonTool, option);
    const int width = FStrip.width() / FGlyphCount;
    const int index = static_cast<int>(currentGlyphState());
    const QRect source(index * width, 0, width, FStrip.height());
    QPoint at((this->width() - width) / 2, (height() - FStrip.height()) / 2);
    if (isDown())
        at += QPoint(1, 1); // a pressed speed button's glyph sinks by a pixel
    painter.setClipRect(rect().adjusted(1, 1, -1, -1));
    painter.drawImage(at, FStrip, source);
}

// ---- RadioGroup ------------------------------------------------------------

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, int columns,
                       QWidget* parent)
    : QGroupBox(caption, parent), FGroup(new QButtonGroup(this)), FColumns(columns > 0 ? columns : 1)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items.at(i), this);
        FGroup->addButton(button, static_cast<int>(i));
        FItems.push_back(button);
    }
    layoutItems();
}

int RadioGroup::ItemIndex() const { return FGroup->checkedId(); }

void RadioGroup::setItemIndex(int index)
{
    if (index >= 0 && index < itemCount()) {
        FItems[static_cast<size_t>(index)]->setChecked(true);
    } else {
        // An exclusive group refuses to uncheck its checked button.
        FGroup->setExclusive(false);
        for (QRadioButton* button : FItems)
            button->setChecked(false);
        FGroup->setExclusive(true);
    }
    // The group is one tab stop, entered at its checked item (the first when
    // none is). Qt keeps Tab on the button that last had focus, so only that
    // one may take it until the user moves into the group.
    const int entry = ItemIndex() >= 0 ? ItemIndex() : 0;
    for (int i = 0; i < itemCount(); ++i)
        FItems[static_cast<size_t>(i)]->setFocusPolicy(i == entry ? Qt::StrongFocus : Qt::ClickFocus);
}

QRadioButton* RadioGroup::item(int index) const
{
    return index >= 0 && index < itemCount() ? FItems[static_cast<size_t>(index)] : nullptr;
}

void RadioGroup::resizeEvent(QResizeEvent* event)
{
    QGroupBox::resizeEvent(event);
    layoutItems();
}

int RadioGroup::titleHeight() const { return fontMetrics().height(); }

QRect RadioGroup::itemArea() const
{
    // Below the caption, inside the frame.
    return QRect(8, titleHeight(), qMax(1, width() - 16), qMax(1, height() - titleHeight() - 2));
}

void RadioGroup::paintEvent(QPaintEvent* /*event*/)
{
    // The framework's group: the frame from half the caption's height down,
    // the caption written over the frame's top line.
    QPainter painter(this);
    const QRect frame = rect().adjusted(0, titleHeight() / 2, -1, -1);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(frame);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1).adjusted(0, 0, -1, -1));
    const QRect caption(6, 0, fontMetrics().horizontalAdvance(title()) + 4, titleHeight());
    painter.fillRect(caption, palette().window());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter, title());
}

void RadioGroup::layoutItems()
{
    // Like the framework's radio group: the area under the title is split
    // into equal columns, items filled column by column.
    if (FItems.empty())
        return;
    const int count = itemCount();
    const int rows = (count + FColumns - 1) / FColumns;
    const QRect area = itemArea();
    const int rowHeight = qMax(1, area.height() / rows);
    const int columnWidth = qMax(1, area.width() / FColumns);
    for (int i = 0; i < count; ++i) {
        const int column = i / rows;
        const int row = i % rows;
        FItems[static_cast<size_t>(i)]->setGeometry(area.left() + column * columnWidth,
                                                    area.top() + row * rowHeight, columnWidth, rowHeight);
    }
}

// ---- ImageView -------------------------------------------------------------

namespace {

void deleteBitmap(void* info) { cw_bitmap_delete(reinterpret_cast<CWBitmap>(info)); }

} // namespace

ImageView::ImageView(QWidget* parent) : QWidget(parent) {}

void ImageView::setBitmap(CWBitmap bitmap)
{
    uint32_t* pixels = cw_bitmap_pixels(bitmap);
    const int32_t width = cw_bitmap_width(bitmap);
    const int32_t height = cw_bitmap_height(bitmap);
    const int32_t stride = cw_bitmap_stride(bitmap);
    // The QImage shares the pixels; the last copy of it to go deletes the
    // handle, so the replaced bitmap is freed right here.
    QImage picture;
    if (pixels != nullptr)
        picture = QImage(reinterpret_cast<uchar*>(pixels), width, height, stride, QImage::Format_ARGB32,
                         &deleteBitmap, reinterpret_cast<void*>(bitmap));
    if (picture.isNull()) {
        // Not a bitmap Qt can show (no pixels, a bad size or stride): Qt
        // did not take the handle, so it is deleted here.
        cw_bitmap_delete(bitmap);
    }
    FPicture = picture;
    resize(FPicture.size());
    update();
}

void ImageView::paintEvent(QPaintEvent* event)
{
    if (FPicture.isNull())
        return;
    QPainter painter(this);
    const QRect area = event->rect().intersected(FPicture.rect());
    painter.drawImage(area.topLeft(), FPicture, area);
}
