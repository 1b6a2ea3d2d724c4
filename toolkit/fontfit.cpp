#include "toolkit/fontfit.h"

#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QVariant>

#include <algorithm>
#include <optional>

namespace toolkit {

namespace {

// Space kept between a label and any other control.
constexpr int Gap = 3;

// What a label looked like before it was first fitted; kept on the label so
// that a later fit starts again from the design, not from the last fit.
constexpr char DesignedGeometry[] = "toolkitDesignedGeometry";
constexpr char DesignedFont[] = "toolkitDesignedFont";

// The size a label needs to show its caption in `font`: the text's advance
// and line height, plus the frame, margins and indent QLabel draws inside.
QSize captionSize(const QLabel *label, const QFont &font)
{
    const QFontMetrics fm(font);
    const QMargins margins = label->contentsMargins();
    const int frame = label->frameWidth();
    int indent = label->indent();
    if (indent < 0)
        indent = frame > 0 ? fm.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    const int around = 2 * frame + 2 * label->margin();
    return { fm.horizontalAdvance(label->text()) + around + margins.left() + margins.right()
            + indent,
        fm.height() + around + margins.top() + margins.bottom() };
}

// Where a label of `size` stands on its designed row, or nothing when the
// free space there is too small. `others` are the container's other controls.
std::optional<QRect> place(const QRect &designed, QSize size, bool keepRightEdge,
    const QRect &bounds, const QList<QWidget *> &others)
{
    const int height = std::max(size.height(), designed.height());
    const int top = designed.top() - (height - designed.height()) / 2;
    const int bottom = top + height - 1;
    if (top < bounds.top() || bottom > bounds.bottom())
        return std::nullopt;

    // The free span of the row: from the nearest control on the left to the
    // nearest on the right, each kept Gap pixels away.
    int first = bounds.left();
    int last = bounds.right();
    for (const QWidget *other : others) {
        const QRect r = other->geometry();
        if (r.bottom() + Gap < top || r.top() - Gap > bottom)
            continue; // above or below the row
        if (r.right() < designed.left())
            first = std::max(first, r.right() + Gap + 1);
        else if (r.left() > designed.right())
            last = std::min(last, r.left() - Gap - 1);
        else
            return std::nullopt; // a control over or under the label, in reach of its line
    }
    if (last - first + 1 < size.width())
        return std::nullopt;

    int left = keepRightEdge ? designed.right() + 1 - size.width() : designed.left();
    left = std::clamp(left, first, last + 1 - size.width());
    return QRect(left, top, size.width(), height);
}

} // namespace

void substituteClassicFonts()
{
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
        { QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial"),
            QStringLiteral("DejaVu Sans") });
}

void fitLabel(QLabel *label)
{
    QWidget *container = label->parentWidget();
    if (!container)
        return;
    if (!label->property(DesignedGeometry).isValid()) {
        label->setProperty(DesignedGeometry, label->geometry());
        if (label->testAttribute(Qt::WA_SetFont))
            label->setProperty(DesignedFont, label->font());
    }
    const QRect designed = label->property(DesignedGeometry).toRect();
    const QVariant ownFont = label->property(DesignedFont);
    // An empty font makes the label take its container's again.
    label->setFont(ownFont.isValid() ? ownFont.value<QFont>() : QFont());

    QList<QWidget *> others;
    for (QWidget *w : container->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w != label && !w->isWindow())
            others << w;
    }
    const QRect bounds = container->contentsRect();
    const bool keepRightEdge = label->buddy() != nullptr;

    QFont font = label->font();
    int pixels = QFontInfo(font).pixelSize();
    for (;;) {
        if (const auto rect
            = place(designed, captionSize(label, font), keepRightEdge, bounds, others)) {
            if (font != label->font())
                label->setFont(font);
            label->setGeometry(*rect);
            return;
        }
        if (--pixels < 1)
            break;
        font.setPixelSize(pixels);
    }
    // No size fits: the layout itself leaves this label no room. Keep it as
    // designed rather than guess.
    label->setGeometry(designed);
}

void fitLabels(QWidget *container)
{
    // The container's own size bounds the labels: lay the window out first,
    // as it will be shown.
    if (QLayout *layout = container->window()->layout())
        layout->activate();
    for (QLabel *label : container->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
        fitLabel(label);
}

} // namespace toolkit
