#pragma once

#include "clientdataset.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

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
    // The text this control holds for `field` of the current record and
    // could not store yet (a number box's "2,5,5"), if any.
    virtual std::optional<QString> pendingText(int field) const
    {
        Q_UNUSED(field);
        return std::nullopt;
    }
    // Another control has stored a value in `field`: that value is newer
    // than this control's pending text for it, which is dropped.
    virtual void dropPendingText(int field) { Q_UNUSED(field); }
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

    // What a bound control holds for `field` of the current record without
    // having stored it (see DataLink::pendingText()), so that other controls
    // show the same as that one rather than the value it is replacing.
    std::optional<QString> pendingText(int field) const;
    // A control calls this when its pending text began, changed or ended.
    void announcePendingText();
    // A control stored `field`; pending text for it in the others is dropped.
    void dropPendingText(int field, const DataLink *writer);

    // Brings controls left behind by a burst of changes (see
    // controlsChange()) up to date now. A bound control calls this before it
    // handles any event, so it never acts on what it showed before the burst.
    void catchUpControls();
    // True while a burst of changes has left the controls behind: a control
    // that must still follow every change (the grid's current row) can leave
    // what nobody sees before the loop runs, its picture, until then.
    bool inBurst() const { return m_controlsBehind; }

signals:
    // What the bound controls show may have changed: the cursor moved, the
    // table was opened, closed or reloaded, its state changed, or a field of
    // the current record changed. Once per change, always.
    void dataChange();
    // The same for the bound controls to follow, with one difference: when
    // code changes the table many times before the event loop runs again
    // (the export walks every record), the controls are told once, when the
    // loop next runs, rather than at every step, which would lay out every
    // box's text once per record.
    void controlsChange();
    void stateChange();
    // Some control's pending text began, changed or ended.
    void pendingTextChange();
    // Another table (or none) was attached.
    void dataSetChanged();

private:
    struct UpdateRecordHook;
    void detach();
    void updateLinks();
    void notify();
    void endBurst();

    QPointer<store::ClientDataSet> m_dataSet;
    QList<DataLink *> m_links;
    QList<QMetaObject::Connection> m_connections;
    // Changes since the event loop last ran, and whether the controls missed some.
    int m_burst = 0;
    bool m_endOfBurstQueued = false;
    bool m_controlsBehind = false;
};

} // namespace toolkit
