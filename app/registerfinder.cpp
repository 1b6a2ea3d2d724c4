#include "app/registerfinder.h"

#include "toolkit/datasource.h"
#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"
#include "toolkit/exitwatcher.h"
#include "toolkit/findbox.h"
#include "toolkit/handlers.h"
#include "toolkit/messagebox.h"

#include "store/clientdataset.h"
#include "store/schema.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QShortcut>

using store::SearchDirection;

namespace {

// Between the find box and the edges of the grid it stands over.
constexpr int BoxMargin = 8;

} // namespace

RegisterFinder::RegisterFinder(QWidget *window, toolkit::DataSource *source)
    : QObject(window)
    , m_window(window)
    , m_source(source)
{
    setObjectName(QStringLiteral("RegisterFinder"));
    // Window shortcuts: they work wherever the focus is in the window, the
    // grid and its cell editor included, and no box or grid uses these keys.
    const auto shortcut = [this](const QKeySequence &keys, auto slot) {
        auto *s = new QShortcut(keys, m_window);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { openFindBox(); });
    shortcut(QKeySequence(Qt::Key_F3), [this] { find(SearchDirection::Forward); });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { find(SearchDirection::Backward); });
    m_window->installEventFilter(this);
}

void RegisterFinder::openFindBox()
{
    if (!m_box) {
        // Made at the first Ctrl+F: a window that is never searched has none.
        m_box = new toolkit::FindBox(m_window);
        connect(
            m_box, &toolkit::FindBox::findNext, this, [this] { find(SearchDirection::Forward); });
        connect(m_box, &toolkit::FindBox::findPrevious, this,
            [this] { find(SearchDirection::Backward); });
        connect(m_box, &QDialog::rejected, this, &RegisterFinder::returnToOrigin);
        placeFindBox();
    }
    if (!m_box->isVisible() || !m_origin)
        captureOrigin();
    m_box->popUp();
}

void RegisterFinder::captureOrigin()
{
    const store::ClientDataSet *table = m_source ? m_source->dataSet() : nullptr;
    if (!table || !table->active())
        return;
    Origin origin;
    origin.widget = m_window->focusWidget();
    origin.row = table->currentRow();
    origin.wasNew = table->state() == store::ClientDataSet::Insert;
    if (auto *edit = qobject_cast<QLineEdit *>(origin.widget.data())) {
        origin.cursor = edit->cursorPosition();
        origin.selectionStart = edit->selectionStart();
        origin.selectionLength = int(edit->selectedText().size());
    }
    // A cell editor belongs to the grid; the grid is where to come back to.
    for (QWidget *w = origin.widget; w && w != m_window; w = w->parentWidget()) {
        if (auto *grid = qobject_cast<toolkit::DBGrid *>(w)) {
            origin.widget = grid;
            origin.column = grid->currentIndex().column();
            origin.cursor = -1;
            break;
        }
    }
    m_origin = origin;
    // Clicks and keys anywhere in the window tell that the user took over.
    qApp->installEventFilter(this);
}

void RegisterFinder::returnToOrigin()
{
    const std::optional<Origin> origin = std::exchange(m_origin, std::nullopt);
    qApp->removeEventFilter(this);
    store::ClientDataSet *table = m_source ? m_source->dataSet() : nullptr;
    if (!origin || !table || !table->active())
        return;
    toolkit::runHandler([&] {
        // The record being typed was posted by the move, at the row it was
        // begun at; one nothing was typed into was dropped, and a new one
        // takes its place as Add would make it.
        if (origin->row >= 0 && origin->row < table->rowCount()) {
            table->moveTo(origin->row);
        } else if (origin->wasNew) {
            table->insert();
        }
        QWidget *widget = origin->widget;
        if (!widget || !widget->isEnabled() || !widget->isVisibleTo(m_window))
            return;
        if (auto *grid = qobject_cast<toolkit::DBGrid *>(widget); grid && origin->column >= 0) {
            const QModelIndex cell = grid->gridModel()->index(table->currentRow(), origin->column);
            if (cell.isValid())
                grid->setCurrentIndex(cell);
        }
        m_window->activateWindow();
        toolkit::ExitWatcher::moveFocusQuietly(widget);
        if (auto *edit = qobject_cast<QLineEdit *>(widget); edit && origin->cursor >= 0) {
            if (origin->selectionStart >= 0 && origin->selectionLength > 0) {
                edit->setSelection(origin->selectionStart, origin->selectionLength);
            } else {
                edit->deselect();
                edit->setCursorPosition(origin->cursor);
            }
        }
    });
}

// Over the top right corner of the grid, where it hides no edit box and
// the fewest columns.
void RegisterFinder::placeFindBox()
{
    auto *grid = m_window->findChild<toolkit::DBGrid *>();
    if (!grid)
        return;
    m_box->adjustSize();
    const QWidget *viewport = grid->viewport();
    const QPoint corner = viewport->mapToGlobal(QPoint(viewport->width(), 0));
    m_box->move(corner.x() - m_box->width() - BoxMargin, corner.y() + BoxMargin);
    keepCurrentRowInSight();
}

// A find box over the grid's current row is moved to the grid's other end,
// the row scrolled to the end away from it if need be, so that the row
// found stays in sight. A box the user put elsewhere stays there.
void RegisterFinder::keepCurrentRowInSight()
{
    auto *grid = m_window->findChild<toolkit::DBGrid *>();
    const QModelIndex current = grid ? grid->currentIndex() : QModelIndex();
    if (!current.isValid())
        return;
    const QWidget *viewport = grid->viewport();
    const auto rowOnScreen = [&] {
        const QRect cell = grid->visualRect(current);
        return QRect(
            viewport->mapToGlobal(QPoint(0, cell.top())), QSize(viewport->width(), cell.height()));
    };
    grid->scrollTo(current);
    const QRect box = m_box->frameGeometry();
    if (!box.intersects(rowOnScreen()))
        return;
    const int top = viewport->mapToGlobal(QPoint(0, 0)).y() + BoxMargin;
    const int bottom
        = viewport->mapToGlobal(QPoint(0, viewport->height())).y() - BoxMargin - box.height();
    const struct
    {
        int y;
        QAbstractItemView::ScrollHint scroll;
    } places[] = { { top, QAbstractItemView::PositionAtBottom },
        { bottom, QAbstractItemView::PositionAtTop } };
    for (const bool scroll : { false, true }) {
        for (const auto &place : places) {
            if (scroll)
                grid->scrollTo(current, place.scroll);
            if (!box.translated(0, place.y - box.top()).intersects(rowOnScreen())) {
                m_box->move(box.left(), place.y);
                return;
            }
        }
    }
    grid->scrollTo(current);
}

void RegisterFinder::find(SearchDirection direction)
{
    const QString text = m_box ? m_box->text() : QString();
    if (text.isEmpty()) {
        openFindBox();
        return;
    }
    toolkit::runHandler([&] {
        store::ClientDataSet *table = m_source ? m_source->dataSet() : nullptr;
        const auto hit
            = table ? store::findRecord(*table, store::SearchText(text), direction) : std::nullopt;
        if (!hit) {
            toolkit::messageBox(QStringLiteral("Nije pronađeno: „%1“.").arg(text),
                toolkit::caption::notice(), toolkit::MessageBoxStyle::Ok);
            return;
        }
        // As a click on the row in the grid: throws, and stays, when the
        // record being typed cannot be posted.
        table->moveTo(hit->row);
        if (table->currentRow() == hit->row)
            showMatch(*hit);
    });
}

void RegisterFinder::showMatch(const store::SearchHit &hit)
{
    const QString fieldName = QLatin1String(store::importRecordFields()[size_t(hit.field)].name);

    if (auto *grid = m_window->findChild<toolkit::DBGrid *>()) {
        const toolkit::DBGridModel *model = grid->gridModel();
        for (int column = 0; column < model->columnCount(); ++column) {
            if (model->fieldOfColumn(column) == hit.field) {
                grid->setCurrentIndex(model->index(hit.row, column));
                break;
            }
        }
    }

    // Every field has its box, the five without a grid column too.
    for (toolkit::DBEdit *box : m_window->findChildren<toolkit::DBEdit *>()) {
        if (box->dataSource() != m_source || box->dataField() != fieldName)
            continue;
        // The find box, when open, keeps the keyboard so that Enter goes on
        // searching; the edit box takes it when the window is active again.
        toolkit::ExitWatcher::moveFocusQuietly(box);
        const qsizetype start = std::min<qsizetype>(hit.span.start, box->text().size());
        const qsizetype length = std::min<qsizetype>(hit.span.length, box->text().size() - start);
        box->setSelection(int(start), int(length));
        break;
    }
    if (m_box && m_box->isVisible())
        keepCurrentRowInSight();
}

bool RegisterFinder::eventFilter(QObject *watched, QEvent *event)
{
    // A click or a key in the window while the find box is open: the user
    // works on what is shown there, and closing the box leaves it so.
    if (m_origin && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress)
        && watched->isWidgetType()) {
        const QWidget *target = static_cast<QWidget *>(watched);
        if (target->window() == m_window && m_box && m_box->isVisible()) {
            m_origin.reset();
            qApp->removeEventFilter(this);
        }
    }
    // The box goes with the window it searches when the program closes or
    // hides it. (Minimised, the window is hidden by the window system,
    // which takes its boxes along itself.)
    if (watched == m_window && event->type() == QEvent::Hide && !event->spontaneous() && m_box)
        m_box->hide();
    return QObject::eventFilter(watched, event);
}
