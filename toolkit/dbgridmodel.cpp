#include "toolkit/dbgridmodel.h"

#include "toolkit/datasource.h"
#include "toolkit/handlers.h"

#include "store/clientdataset.h"
#include "store/schema.h"

namespace toolkit {

DBGridModel::DBGridModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

store::ClientDataSet *DBGridModel::dataSet() const { return m_dataSet; }

void DBGridModel::setDataSource(DataSource *source)
{
    if (source == m_source)
        return;
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    beginResetModel();
    detach();
    m_source = source;
    attach();
    endResetModel();
    if (source) {
        connect(source, &DataSource::pendingTextChange, this, [this] {
            const int row = m_dataSet ? m_dataSet->currentRow() : -1;
            if (row >= 0 && row < m_rows && !m_columns.isEmpty())
                emit dataChanged(index(row, 0), index(row, int(m_columns.size()) - 1));
        });
        connect(source, &DataSource::dataSetChanged, this, [this] {
            beginResetModel();
            detach();
            attach();
            endResetModel();
        });
        connect(source, &QObject::destroyed, this, [this] {
            beginResetModel();
            detach();
            m_source = nullptr;
            endResetModel();
        });
    }
}

int DBGridModel::tableRows() const
{
    return m_dataSet && m_dataSet->active() ? m_dataSet->rowCount() : 0;
}

void DBGridModel::detach()
{
    for (const auto &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_dataSet = nullptr;
    m_rows = 0;
    m_changing = false;
}

void DBGridModel::attach()
{
    m_dataSet = m_source ? m_source->dataSet() : nullptr;
    m_rows = tableRows();
    store::ClientDataSet *ds = m_dataSet;
    if (!ds)
        return;
    using DS = store::ClientDataSet;
    m_connections << connect(ds, &DS::aboutToReset, this, [this] {
        m_changing = true;
        beginResetModel();
    });
    m_connections << connect(ds, &DS::reset, this, [this] {
        m_rows = tableRows();
        endResetModel();
        m_changing = false;
    });
    m_connections << connect(ds, &DS::rowAboutToBeInserted, this, [this](int row) {
        m_changing = true;
        beginInsertRows(QModelIndex(), row, row);
    });
    m_connections << connect(ds, &DS::rowInserted, this, [this](int) {
        ++m_rows;
        endInsertRows();
        m_changing = false;
    });
    m_connections << connect(ds, &DS::rowAboutToBeRemoved, this, [this](int row) {
        m_changing = true;
        beginRemoveRows(QModelIndex(), row, row);
    });
    m_connections << connect(ds, &DS::rowRemoved, this, [this](int) {
        --m_rows;
        endRemoveRows();
        m_changing = false;
    });
    m_connections << connect(ds, &DS::rowChanged, this, [this](int row) {
        if (row >= 0 && row < m_rows && !m_columns.isEmpty())
            emit dataChanged(index(row, 0), index(row, int(m_columns.size()) - 1));
    });
    m_connections << connect(ds, &QObject::destroyed, this, [this] {
        beginResetModel();
        for (const auto &c : std::as_const(m_connections))
            disconnect(c);
        m_connections.clear();
        m_rows = 0;
        m_changing = false;
        endResetModel();
    });
}

void DBGridModel::setColumns(const QList<DBGridColumn> &columns)
{
    beginResetModel();
    m_columns = columns;
    m_fields.clear();
    for (const auto &column : columns) {
        const int field = store::fieldIndex(column.fieldName);
        if (field < 0)
            qWarning("DBGrid: no field named \"%s\"", qPrintable(column.fieldName));
        m_fields.append(field);
    }
    endResetModel();
}

int DBGridModel::fieldOfColumn(int column) const
{
    return column >= 0 && column < m_fields.size() ? m_fields[column] : -1;
}

int DBGridModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_rows; }

int DBGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DBGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || !m_dataSet)
        return {};
    const int field = fieldOfColumn(index.column());
    if (field < 0)
        return {};
    const store::FieldDef &def = store::importRecordFields()[size_t(field)];
    const bool number = def.type == store::FieldType::Float;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        if (index.row() >= m_dataSet->rowCount())
            return {};
        // A box holding text that is not a number yet: the cell shows that
        // text, not the value it is about to replace, and post refuses both.
        if (number && index.row() == m_dataSet->currentRow() && m_source) {
            if (auto pending = m_source->pendingText(field))
                return *pending;
        }
        const store::Record &record = m_dataSet->rowRecord(index.row());
        if (!number)
            return record.text(field);
        const auto value = record.number(field);
        if (!value)
            return QString();
        // The grid shows a number to its precision and edits it in full.
        return store::floatToText(*value, role == Qt::DisplayRole ? def.precision : 15);
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(
            number ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section >= 0 && section < m_rows ? QVariant(section + 1) : QVariant();
    if (section < 0 || section >= m_columns.size())
        return {};
    const DBGridColumn &column = m_columns[section];
    return column.title.isEmpty() ? column.fieldName : column.title;
}

Qt::ItemFlags DBGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (fieldOfColumn(index.column()) >= 0)
        f |= Qt::ItemIsEditable;
    return f;
}

bool DBGridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= m_rows || !m_dataSet
        || !m_source)
        return false;
    const int field = fieldOfColumn(index.column());
    if (field < 0)
        return false;
    // Only the current record is edited: a cell of another row reaching here
    // is a late commit from an editor the cursor has already left.
    if (index.row() != m_dataSet->currentRow())
        return false;
    const QString text = value.toString();
    if (text == data(index, Qt::EditRole).toString())
        return true;
    bool stored = false;
    runHandler([&] {
        if (!m_source->startEdit())
            return;
        m_dataSet->fields(field)->setAsString(text);
        stored = true;
        // The value typed here is the newest: a box's unfinished text for
        // the field would otherwise come back at post and overrule it.
        m_source->dropPendingText(field, nullptr);
    });
    return stored;
}

} // namespace toolkit
