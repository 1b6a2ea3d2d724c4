#pragma once

#include "toolkit/datasource.h"
#include "toolkit/dbgridmodel.h"

#include <QPersistentModelIndex>
#include <QPointer>
#include <QTableView>
#include <QTimer>

#include <optional>
#include <utility>

class QLineEdit;

namespace toolkit {

// A grid over the table: one row per record, the table's cursor as the
// current row (both ways), cells editable like edit boxes.
class DBGrid : public QTableView, public DataLink
{
    Q_OBJECT
public:
    explicit DBGrid(QWidget *parent = nullptr);
    ~DBGrid() override;

    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return m_source; }
    void setColumns(const QList<DBGridColumn> &columns);
    QList<DBGridColumn> columns() const { return m_model->columns(); }
    DBGridModel *gridModel() const { return m_model; }

    // Width a column gets when it asks for none: the field's display width in
    // average characters of the grid font, or its title if that is wider,
    // plus a little padding.
    int defaultColumnWidth(const DBGridColumn &column) const;

    void updateRecord() override;
    // The field and the text of an open cell editor on the current record
    // that holds typing the record has not been given yet.
    std::optional<std::pair<int, QString>> uncommittedCell() const;

signals:
    // The user typed into a cell editor; the text reaches the record only
    // when the cell is left.
    void cellTextEdited();
    // The focus went from the grid (or its cell editor) to another widget
    // of the same window.
    void exited();

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void changeEvent(QEvent *event) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    friend class DBGridDelegate;
    void followTable();
    void scrollToCurrent();
    void applyColumnWidths();
    void editorOpened(QLineEdit *editor, const QModelIndex &index);
    void editorEdited();

    DBGridModel *m_model;
    QPointer<DataSource> m_source;
    QMetaObject::Connection m_dataChange;
    // Set while the view is being moved to the table's cursor.
    bool m_following = false;
    QTimer m_scrollTimer;
    QPointer<QLineEdit> m_editor;
    QPersistentModelIndex m_editorIndex;
    // The open cell editor holds text the user typed and the record lacks.
    bool m_editorDirty = false;
};

} // namespace toolkit
