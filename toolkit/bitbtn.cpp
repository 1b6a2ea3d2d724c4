#include "toolkit/bitbtn.h"

#include <QKeyEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace toolkit {

namespace {

// The picture with every pixel of its bottom-left pixel's colour made clear.
QImage withTransparency(const QImage &source)
{
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    const QRgb key = image.pixel(0, image.height() - 1) & 0x00ffffff;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] & 0x00ffffff) == key)
                line[x] = 0;
        }
    }
    return image;
}

// A disabled look for a single picture: its shapes in grey, lightened so
// they read as inactive next to the greyed caption.
QImage greyed(const QImage &image)
{
    QImage out = image;
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int alpha = qAlpha(line[x]);
            if (alpha == 0)
                continue;
            const int grey = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, alpha);
        }
    }
    return out;
}

} // namespace

BitBtn::BitBtn(QWidget *parent)
    : QPushButton(parent)
{
    QPushButton::setAutoDefault(false);
    QPushButton::setDefault(false);
}

void BitBtn::setText(const QString &text)
{
    QPushButton::setText(text);
    // QAbstractButton made an access key of the first '&'; drop it.
    setShortcut(QKeySequence());
}

void BitBtn::setGlyph(const QImage &glyph)
{
    m_glyph = glyph;
    prepareGlyphs();
}

void BitBtn::setNumGlyphs(int count)
{
    m_numGlyphs = count == 2 ? 2 : 1;
    prepareGlyphs();
}

void BitBtn::prepareGlyphs()
{
    m_enabled = QPixmap();
    m_disabled = QPixmap();
    if (m_glyph.isNull()) {
        updateGeometry();
        update();
        return;
    }
    // The key colour is the bottom-left pixel of the whole bitmap, for both
    // halves of a two-picture glyph.
    const QImage clear = withTransparency(m_glyph);
    if (m_numGlyphs == 2 && clear.width() >= 2) {
        const int half = clear.width() / 2;
        m_enabled = QPixmap::fromImage(clear.copy(0, 0, half, clear.height()));
        m_disabled = QPixmap::fromImage(clear.copy(half, 0, half, clear.height()));
    } else {
        m_enabled = QPixmap::fromImage(clear);
        m_disabled = QPixmap::fromImage(greyed(clear));
    }
    updateGeometry();
    update();
}

QSize BitBtn::glyphSize() const { return m_enabled.isNull() ? QSize() : m_enabled.size(); }

QSize BitBtn::sizeHint() const
{
    ensurePolished();
    const QSize glyph = glyphSize();
    const QString caption = text();
    const QSize label
        = caption.isEmpty() ? QSize() : fontMetrics().size(Qt::TextSingleLine, caption);
    int width = glyph.width() + label.width();
    if (!glyph.isEmpty() && !label.isEmpty())
        width += Spacing;
    const int height = std::max({ glyph.height(), label.height(), fontMetrics().height() });
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, QSize(width, height), this);
}

QSize BitBtn::minimumSizeHint() const { return sizeHint(); }

void BitBtn::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    if (option.state & (QStyle::State_Sunken | QStyle::State_On)) {
        contents.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
            style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
    }

    const QPixmap &glyph = isEnabled() ? m_enabled : m_disabled;
    const int textWidth = caption.isEmpty() ? 0 : fontMetrics().horizontalAdvance(caption);
    int total = textWidth;
    if (!glyph.isNull())
        total += glyph.width() + (caption.isEmpty() ? 0 : Spacing);
    // Picture and caption are centred together, as one block.
    int x = contents.left() + (contents.width() - total) / 2;
    if (!glyph.isNull()) {
        const int y = contents.top() + (contents.height() - glyph.height()) / 2;
        painter.drawPixmap(x, y, glyph);
        x += glyph.width() + Spacing;
    }
    if (!caption.isEmpty()) {
        // No Qt::TextShowMnemonic: an '&' is just a character here.
        const QRect textRect(x, contents.top(), contents.right() - x + 1, contents.height());
        style()->drawItemText(&painter, textRect, Qt::AlignLeft | Qt::AlignVCenter, option.palette,
            isEnabled(), caption, QPalette::ButtonText);
    }

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

void BitBtn::keyPressEvent(QKeyEvent *event)
{
    // No button is the window's default: Enter in a box presses none. On
    // the button that has the focus Enter presses that one, as Space does,
    // the way buttons answer on the desktop the window was made for.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

bool BitBtn::event(QEvent *event)
{
    // A caller that reached QAbstractButton::setText() directly got the
    // caption's access key registered; it still presses nothing. A shortcut
    // set on purpose with setShortcut() keeps working.
    if (event->type() == QEvent::Shortcut && !shortcut().isEmpty()
        && shortcut() == QKeySequence::mnemonic(text()))
        return true;
    return QPushButton::event(event);
}

} // namespace toolkit
