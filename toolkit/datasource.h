#pragma once

#include "store/clientdataset.h"

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

    // The bracket around a long walk over the table (the export visits
    // every record): while it is open the controls stop following the
    // table, and when the last one closes they show the current record
    // once. Brackets nest. dataChange() is still emitted at every change:
    // the window's handlers must see every move.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return m_disabled > 0; }

signals:
    // What the bound controls show may have changed: the cursor moved, the
    // table was opened, closed or reloaded, its state changed, or a field of
    // the current record changed. Once per change, always.
    void dataChange();
    // The same for the bound controls to follow, except inside a
    // disableControls() bracket: there the controls are told once, when
    // the bracket closes.
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

    QPointer<store::ClientDataSet> m_dataSet;
    QList<DataLink *> m_links;
    QList<QMetaObject::Connection> m_connections;
    // Open disableControls() brackets.
    int m_disabled = 0;
};

// Keeps the controls of a data source still for as long as it lives (see
// DataSource::disableControls()); also when the walk throws.
class ControlsDisabled
{
public:
    explicit ControlsDisabled(DataSource &source)
        : m_source(&source)
    {
        source.disableControls();
    }
    ~ControlsDisabled()
    {
        if (m_source)
            m_source->enableControls();
    }
    ControlsDisabled(const ControlsDisabled &) = delete;
    ControlsDisabled &operator=(const ControlsDisabled &) = delete;

private:
    QPointer<DataSource> m_source;
};

} // namespace toolkit
