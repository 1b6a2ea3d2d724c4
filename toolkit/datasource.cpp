#include "toolkit/datasource.h"

#include "store/clientdataset.h"

namespace toolkit {

// The table's updateRecord hook while a data source is attached. It keeps the
// hook that was there before and calls it after the controls, so two sources
// on one table both work; once its source is detached or gone it only passes
// the call on.
struct DataSource::UpdateRecordHook
{
    QPointer<DataSource> source;
    store::ClientDataSet *dataSet;
    std::function<void()> previous;

    void operator()() const
    {
        if (source && source->m_dataSet == dataSet)
            source->updateLinks();
        if (previous)
            previous();
    }
};

DataSource::DataSource(QObject *parent)
    : QObject(parent)
{
}

DataSource::~DataSource() { detach(); }

void DataSource::detach()
{
    for (const auto &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    if (m_dataSet) {
        // Unhook only when ours is still the outermost hook; deeper in a chain
        // it has become a plain pass-through (see UpdateRecordHook).
        const auto *hook = m_dataSet->updateRecord.target<UpdateRecordHook>();
        if (hook && hook->source == this) {
            auto previous = hook->previous;
            m_dataSet->updateRecord = std::move(previous);
        }
    }
    m_dataSet = nullptr;
}

void DataSource::setDataSet(store::ClientDataSet *dataSet)
{
    if (dataSet == m_dataSet)
        return;
    detach();
    m_dataSet = dataSet;
    if (dataSet) {
        // The table signals dataChanged() after every move, state change,
        // reload and field write, each operation once; following that one
        // signal keeps a single move from reaching the controls many times.
        m_connections << connect(
            dataSet, &store::ClientDataSet::dataChanged, this, &DataSource::notify);
        m_connections << connect(
            dataSet, &store::ClientDataSet::stateChanged, this, &DataSource::stateChange);
        m_connections << connect(dataSet, &QObject::destroyed, this, [this] {
            // The table is gone with its hook; nothing to restore.
            for (const auto &c : std::as_const(m_connections))
                disconnect(c);
            m_connections.clear();
            emit dataSetChanged();
            notify();
        });
        dataSet->updateRecord
            = UpdateRecordHook { this, dataSet, std::move(dataSet->updateRecord) };
    }
    emit dataSetChanged();
    notify();
}

void DataSource::notify()
{
    if (m_disabled == 0)
        emit controlsChange();
    emit dataChange();
}

void DataSource::disableControls() { ++m_disabled; }

void DataSource::enableControls()
{
    if (m_disabled == 0)
        return;
    if (--m_disabled == 0)
        emit controlsChange();
}

bool DataSource::startEdit()
{
    if (!m_dataSet || !m_dataSet->active())
        return false;
    switch (m_dataSet->state()) {
    case store::ClientDataSet::Edit:
    case store::ClientDataSet::Insert:
        return true;
    case store::ClientDataSet::Browse:
        if (m_dataSet->currentRow() < 0)
            m_dataSet->insert();
        else
            m_dataSet->edit();
        return true;
    case store::ClientDataSet::Inactive:
        break;
    }
    return false;
}

void DataSource::addLink(DataLink *link)
{
    if (link && !m_links.contains(link))
        m_links.append(link);
}

void DataSource::removeLink(DataLink *link) { m_links.removeAll(link); }

std::optional<QString> DataSource::pendingText(int field) const
{
    for (const DataLink *link : m_links) {
        if (auto text = link->pendingText(field))
            return text;
    }
    return std::nullopt;
}

void DataSource::announcePendingText() { emit pendingTextChange(); }

void DataSource::dropPendingText(int field, const DataLink *writer)
{
    const QList<DataLink *> links = m_links;
    for (DataLink *link : links) {
        if (link != writer && m_links.contains(link))
            link->dropPendingText(field);
    }
}

void DataSource::updateLinks()
{
    // A copy: writing a field notifies the controls, and one of them could
    // unbind itself in response.
    const QList<DataLink *> links = m_links;
    for (DataLink *link : links) {
        if (m_links.contains(link))
            link->updateRecord();
    }
}

} // namespace toolkit
