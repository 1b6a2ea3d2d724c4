#include "toolkit/dbgrid.h"

#include "toolkit/exitwatcher.h"
#include "toolkit/fieldvalidator.h"
#include "toolkit/handlers.h"

#include "store/clientdataset.h"
#include "store/schema.h"

#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>
#include <QTimer>

namespace toolkit {

namespace {

constexpr int ColumnPadding = 4;
// A column's width as the layout gives it, whatever the style's own floor
// (Windows' header style keeps room for a sort mark no column here shows);
// a user dragging a column narrower still sees its edge.
constexpr int MinimumColumnWidth = 8;

} // namespace

// Cell editors filter characters and limit length exactly as edit boxes do.
class DBGridDelegate : public QStyledItemDelegate
{
public:
    explicit DBGridDelegate(DBGrid *grid)
        : QStyledItemDelegate(grid)
        , m_grid(grid)
    {
    }

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override
    {
        auto *editor = new QLineEdit(parent);
        editor->setFrame(false);
        editor->setAlignment(Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()));
        const int field = m_grid->m_model->fieldOfColumn(index.column());
        const store::FieldDef *def
            = field >= 0 ? &store::importRecordFields()[size_t(field)] : nullptr;
        const bool number = def && def->type == store::FieldType::Float;
        auto *validator = new FieldValidator(
            number ? FieldValidator::Kind::Number : FieldValidator::Kind::Text, false, editor);
        validator->setStoredText(index.data(Qt::EditRole).toString());
        validator->attachTo(editor);
        if (def && !number && def->size > 0)
            editor->setMaxLength(def->size);
        Q_UNUSED(option);
        m_grid->editorOpened(editor, index);
        return editor;
    }

    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        // A change of the record while the user types in the cell must not
        // wipe what was typed.
        if (editor == m_grid->m_editor && m_grid->m_editorDirty)
            return;
        QStyledItemDelegate::setEditorData(editor, index);
    }

private:
    DBGrid *m_grid;
};

DBGrid::DBGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new DBGridModel(this))
{
    setModel(m_model);
    setItemDelegate(new DBGridDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed);
    setWordWrap(false);
    // Tab leaves the grid for the next box, as in the rest of the window;
    // the arrow keys move between cells.
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    // Fixed row heights keep scrolling to a row cheap in a long register.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(MinimumColumnWidth);
    m_scrollTimer.setSingleShot(true);
    m_scrollTimer.setInterval(0);
    connect(&m_scrollTimer, &QTimer::timeout, this, &DBGrid::scrollToCurrent);
    connect(new ExitWatcher(this), &ExitWatcher::exited, this, &DBGrid::exited);
}

DBGrid::~DBGrid()
{
    if (m_source)
        m_source->removeLink(this);
}

void DBGrid::setDataSource(DataSource *source)
{
    if (source == m_source)
        return;
    if (m_source) {
        m_source->removeLink(this);
        disconnect(m_dataChange);
    }
    m_source = source;
    m_model->setDataSource(source);
    if (source) {
        source->addLink(this);
        m_dataChange = connect(source, &DataSource::dataChange, this, &DBGrid::followTable);
    }
    followTable();
}

void DBGrid::setColumns(const QList<DBGridColumn> &columns)
{
    m_model->setColumns(columns);
    applyColumnWidths();
    followTable();
}

int DBGrid::defaultColumnWidth(const DBGridColumn &column) const
{
    const int field = store::fieldIndex(column.fieldName);
    const int chars = field >= 0 ? store::importRecordFields()[size_t(field)].displayWidth : 0;
    const QString title = column.title.isEmpty() ? column.fieldName : column.title;
    const int titleWidth = horizontalHeader()->fontMetrics().horizontalAdvance(title);
    return std::max(chars * fontMetrics().averageCharWidth(), titleWidth) + ColumnPadding;
}

void DBGrid::applyColumnWidths()
{
    const auto &columns = m_model->columns();
    for (int i = 0; i < columns.size(); ++i) {
        const int width = columns[i].width >= 0 ? columns[i].width : defaultColumnWidth(columns[i]);
        horizontalHeader()->resizeSection(i, width);
    }
}

void DBGrid::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
        applyColumnWidths();
    }
}

void DBGrid::followTable()
{
    const store::ClientDataSet *ds = m_model->dataSet();
    const int row = ds && ds->active() ? ds->currentRow() : -1;
    const QModelIndex current = currentIndex();

    // An editor left open on a record the cursor has left, or on one that was
    // posted or cancelled meanwhile, belongs to nothing now: post wrote its
    // text (updateRecord), cancel dropped it.
    if (m_editor && m_editorIndex.isValid()
        && (m_editorIndex.row() != row
            || (m_editorDirty && ds->state() == store::ClientDataSet::Browse))) {
        closeEditor(m_editor, QAbstractItemDelegate::NoHint);
    }

    if (row < 0 || row >= m_model->rowCount()) {
        if (current.isValid()) {
            const QScopedValueRollback<bool> following(m_following, true);
            selectionModel()->clear();
        }
        return;
    }
    if (current.isValid() && current.row() == row) {
        // A click the table refused may have selected the row it aimed at.
        if (!selectionModel()->isRowSelected(row, QModelIndex())) {
            const QScopedValueRollback<bool> following(m_following, true);
            selectionModel()->select(
                current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
        return;
    }
    int column = current.isValid() ? current.column() : 0;
    if (column >= m_model->columnCount())
        column = 0;
    if (m_model->columnCount() == 0)
        return;
    const QScopedValueRollback<bool> following(m_following, true);
    // Scrolling to each row of a walk over the whole register (an export)
    // would move the grid's picture as many times; it scrolls once, when the
    // event loop runs again.
    const bool autoScroll = hasAutoScroll();
    setAutoScroll(false);
    const QModelIndex target = m_model->index(row, column);
    const auto command = QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    if (m_source && m_source->controlsDisabled()) {
        // While the controls are held still for a walk the view need not
        // work out, row by row, which cells to repaint: it repaints whole
        // afterwards. The current row and the selection still follow at
        // every step.
        const QSignalBlocker quiet(selectionModel());
        selectionModel()->setCurrentIndex(target, command);
        viewport()->update();
    } else {
        selectionModel()->setCurrentIndex(target, command);
    }
    setAutoScroll(autoScroll);
    if (autoScroll && !m_scrollTimer.isActive())
        m_scrollTimer.start();
}

void DBGrid::scrollToCurrent()
{
    const QModelIndex current = currentIndex();
    if (current.isValid())
        scrollTo(current);
}

void DBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // First the view's own work, which commits an open editor into the
    // record it was opened on; the table's cursor is still there.
    QTableView::currentChanged(current, previous);
    if (m_following || m_model->isChangingRows() || !current.isValid())
        return;
    store::ClientDataSet *ds = m_model->dataSet();
    if (!ds || !ds->active() || current.row() == ds->currentRow())
        return;
    bool moved = false;
    runHandler([&] {
        ds->moveTo(current.row());
        moved = true;
    });
    if (!moved) {
        // The record could not be left (it failed to post): back to it. Again
        // once the click or key that started this has finished its own
        // selection work.
        followTable();
        QTimer::singleShot(0, this, &DBGrid::followTable);
    }
}

void DBGrid::editorOpened(QLineEdit *editor, const QModelIndex &index)
{
    m_editor = editor;
    m_editorIndex = index;
    m_editorDirty = false;
    connect(editor, &QLineEdit::textEdited, this, &DBGrid::editorEdited);
}

void DBGrid::editorEdited()
{
    m_editorDirty = true;
    // Typing into a cell opens the record for editing, and counts as a change
    // so that moving away posts it (and with it the cell's text).
    runHandler([&] {
        if (m_source && m_source->startEdit())
            m_model->dataSet()->markModified();
    });
    emit cellTextEdited();
}

std::optional<std::pair<int, QString>> DBGrid::uncommittedCell() const
{
    const store::ClientDataSet *ds = m_model->dataSet();
    if (!m_editor || !m_editorDirty || !ds || !m_editorIndex.isValid()
        || m_editorIndex.row() != ds->currentRow())
        return std::nullopt;
    const int field = m_model->fieldOfColumn(m_editorIndex.column());
    if (field < 0)
        return std::nullopt;
    return std::make_pair(field, m_editor->text());
}

void DBGrid::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    if (editor == m_editor) {
        m_editor = nullptr;
        m_editorIndex = QPersistentModelIndex();
        m_editorDirty = false;
    }
    QTableView::closeEditor(editor, hint);
}

void DBGrid::updateRecord()
{
    store::ClientDataSet *ds = m_model->dataSet();
    if (!m_editor || !m_editorDirty || !ds || !m_editorIndex.isValid()
        || m_editorIndex.row() != ds->currentRow())
        return;
    const int field = m_model->fieldOfColumn(m_editorIndex.column());
    if (field < 0)
        return;
    // Throws when the cell holds text the field cannot take: no post then.
    ds->fields(field)->setAsString(m_editor->text());
}

} // namespace toolkit
