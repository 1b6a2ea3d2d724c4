#include "toolkit/suggestionlist.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>

#include <algorithm>

namespace toolkit {

SuggestionList::SuggestionList(QLineEdit *edit, Source source)
    : QObject(edit)
    , m_edit(edit)
    , m_source(std::move(source))
{
    setObjectName(QStringLiteral("suggestions"));
    // A tool tip's kind of window: shown where it is put, above the
    // window, and never given the keyboard, by a click neither. It has no
    // parent: nothing of the designed window gains a child.
    m_view = new QListWidget;
    m_view->setObjectName(edit->objectName() + QStringLiteral("Suggestions"));
    m_view->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    m_view->setAttribute(Qt::WA_ShowWithoutActivating);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->viewport()->setFocusPolicy(Qt::NoFocus);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setUniformItemSizes(true);
    m_view->setTextElideMode(Qt::ElideRight);
    m_view->setFont(edit->font());
    // The list's window is never the active one; its highlight must still
    // read as the one the keys move.
    QPalette palette = edit->palette();
    for (const auto role : { QPalette::Highlight, QPalette::HighlightedText }) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    m_view->setPalette(palette);
    m_view->hide();

    connect(m_view, &QListWidget::itemClicked, this,
        [this](QListWidgetItem *item) { take(m_view->row(item)); });
    connect(edit, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (!m_taking)
            offer(text);
    });
    // Set by the program (another record shown): not typed, nothing to offer.
    connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text != m_offeredFor)
            close();
    });
    edit->installEventFilter(this);
}

SuggestionList::~SuggestionList() { delete m_view; }

SuggestionList *SuggestionList::of(const QLineEdit *edit)
{
    return edit ? edit->findChild<SuggestionList *>(
               QStringLiteral("suggestions"), Qt::FindDirectChildrenOnly)
                : nullptr;
}

bool SuggestionList::isShown() const { return m_view->isVisible(); }

QStringList SuggestionList::values() const
{
    QStringList out;
    for (int i = 0; i < m_view->count(); ++i)
        out << m_view->item(i)->text();
    return out;
}

int SuggestionList::highlighted() const
{
    return m_view->isVisible() && !m_view->selectedItems().isEmpty() ? m_view->currentRow() : -1;
}

void SuggestionList::offer(const QString &typed)
{
    m_offeredFor = typed;
    QStringList values;
    if (!typed.isEmpty() && m_source)
        values = m_source(typed).mid(0, MaxRows);
    // Nothing to choose: no match, or only what the box already holds.
    if (values.isEmpty() || (values.size() == 1 && values.first() == typed)) {
        close();
        return;
    }
    if (values != this->values()) {
        m_view->clear();
        m_view->addItems(values);
    }
    highlight(-1);
    place();
    if (!m_view->isVisible()) {
        m_view->show();
        // Watched only while shown: a move or a switch away closes the list.
        m_window = m_edit->window();
        m_window->installEventFilter(this);
    }
}

void SuggestionList::place()
{
    const int rows = m_view->count();
    const int rowHeight = std::max(m_view->sizeHintForRow(0), m_edit->fontMetrics().height());
    const int frame = m_view->frameWidth();
    const QSize size(m_edit->width(), rows * rowHeight + 2 * frame);
    QPoint at = m_edit->mapToGlobal(QPoint(0, m_edit->height()));
    if (const QScreen *screen = m_edit->screen()) {
        const QRect room = screen->availableGeometry();
        // Above the box when there is no room under it.
        if (at.y() + size.height() > room.bottom() + 1)
            at.setY(m_edit->mapToGlobal(QPoint(0, 0)).y() - size.height());
        at.setX(std::clamp(
            at.x(), room.left(), std::max(room.left(), room.right() + 1 - size.width())));
    }
    m_view->setGeometry(QRect(at, size));
}

void SuggestionList::highlight(int row)
{
    if (row < 0) {
        m_view->clearSelection();
        m_view->setCurrentRow(-1);
        return;
    }
    m_view->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

void SuggestionList::take(int row)
{
    if (row < 0 || row >= m_view->count())
        return;
    const QString value = m_view->item(row)->text();
    close();
    m_taking = true;
    // As typing does it: the box's rules apply, textEdited tells the
    // record, and the box's undo can take it back.
    m_edit->selectAll();
    m_edit->insert(value);
    m_offeredFor = m_edit->text();
    m_taking = false;
    emit taken(value);
}

void SuggestionList::close()
{
    if (m_window) {
        m_window->removeEventFilter(this);
        m_window = nullptr;
    }
    if (m_view->isVisible())
        m_view->hide();
}

bool SuggestionList::handleKey(QEvent *event)
{
    auto *key = static_cast<QKeyEvent *>(event);
    const int row = highlighted();
    switch (key->key()) {
    case Qt::Key_Down:
        highlight(std::min(row + 1, m_view->count() - 1));
        return true;
    case Qt::Key_Up:
        highlight(row - 1);
        return true;
    case Qt::Key_Escape:
        close();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (row < 0) {
            close();
            return false;
        }
        take(row);
        return true;
    case Qt::Key_Tab:
        // Takes the value and goes on to the next box, as Tab does.
        if (row >= 0 && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            take(row);
        close();
        return false;
    case Qt::Key_Backtab:
        close();
        return false;
    default:
        return false;
    }
}

bool SuggestionList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit) {
        switch (event->type()) {
        case QEvent::KeyPress:
            if (m_view->isVisible())
                return handleKey(event);
            break;
        case QEvent::FocusOut:
        case QEvent::Hide:
            close();
            break;
        default:
            break;
        }
    } else if (watched == m_window) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowDeactivate:
        case QEvent::Hide:
            close();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace toolkit
