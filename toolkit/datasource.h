#pragma once

#include "clientdataset.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

namespace toolkit {

// A control bound to a data source. Before a record is posted the data source
// asks every bound control to write what it holds but has not stored yet.
class DataLink
{
public:
    virtual ~DataLink() = default;
    // Writes pending text into the record; throws store::Exception when the
    // text cannot be stored (the post is then refused).
    virtual void updateRecord() = 0;
};

// Connects controls to a table: tells them when to show something new and
// is the one path by which they start editing it.
class DataSource : public QObject
{
    Q_OBJECT
public:
    explicit DataSource(QObject *parent = nullptr);
    ~DataSource() override;

    void setDataSet(store::ClientDataSet *dataSet);
    store::ClientDataSet *dataSet() const { return m_dataSet; }

    // Makes the table editable for a control that is about to write into it:
    // a browsing table goes into Edit, or when it has no current record (it
    // is empty) a new record is started, so the form's after-insert handler
    // fills in its defaults. Returns false when there is no open table.
    // Throws what the table throws.
    bool startEdit();

    void addLink(DataLink *link);
    void removeLink(DataLink *link);

signals:
    // What the bound controls show may have changed: the cursor moved, the
    // table was opened, closed or reloaded, its state changed, or a field of
    // the current record changed.
    void dataChange();
    void stateChange();
    // Another table (or none) was attached.
    void dataSetChanged();

private:
    struct UpdateRecordHook;
    void detach();
    void updateLinks();

    QPointer<store::ClientDataSet> m_dataSet;
    QList<DataLink *> m_links;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace toolkit
