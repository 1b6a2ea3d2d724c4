#pragma once

#include "store/clientdataset.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>

namespace toolkit {

class DataSource;

struct DBGridColumn
{
    QString fieldName;
    QString title;
    int width = -1; // pixels; -1 asks the grid for the field's default
};

// The table as rows and columns for a view. Follows the table's structural
// signals one for one: the pending new record is the last row while it
// exists, and each change is announced exactly as the table makes it.
class DBGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit DBGridModel(QObject *parent = nullptr);

    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return m_source; }
    store::ClientDataSet *dataSet() const;

    void setColumns(const QList<DBGridColumn> &columns);
    const QList<DBGridColumn> &columns() const { return m_columns; }
    // Field index of a column in the record layout, or -1 for an unknown name.
    int fieldOfColumn(int column) const;

    // True between the table's announcement of a structural change and its
    // completion; the view must not move the table's cursor then.
    bool isChangingRows() const { return m_changing; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Writes into the current record like an edit box does. A value the
    // field cannot take is reported to the user and false returned.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

private:
    void attach();
    void detach();
    int tableRows() const;

    QPointer<DataSource> m_source;
    QPointer<store::ClientDataSet> m_dataSet;
    QList<QMetaObject::Connection> m_connections;
    QList<DBGridColumn> m_columns;
    QList<int> m_fields;
    // The row count the views were last told about.
    int m_rows = 0;
    bool m_changing = false;
};

} // namespace toolkit
