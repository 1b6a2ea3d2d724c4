#include "toolkit/dbedit.h"

#include "toolkit/exitwatcher.h"
#include "toolkit/fieldvalidator.h"
#include "toolkit/handlers.h"

#include "store/clientdataset.h"
#include "store/exception.h"
#include "store/schema.h"

#include <QFocusEvent>
#include <QScopedValueRollback>

namespace toolkit {

DBEdit::DBEdit(QWidget *parent)
    : QLineEdit(parent)
{
    m_validator = new FieldValidator(FieldValidator::Kind::Text, false, this);
    m_validator->attachTo(this);
    connect(this, &QLineEdit::textEdited, this, &DBEdit::onTextEdited);
    connect(new ExitWatcher(this), &ExitWatcher::exited, this, &DBEdit::exited);
}

DBEdit::~DBEdit()
{
    if (m_source)
        m_source->removeLink(this);
}

void DBEdit::setDataSource(DataSource *source)
{
    if (source == m_source)
        return;
    if (m_source) {
        m_source->removeLink(this);
        disconnect(m_dataChange);
    }
    setPending(false);
    m_source = source;
    if (source) {
        source->addLink(this);
        m_dataChange = connect(source, &DataSource::controlsChange, this, &DBEdit::refresh);
    }
    refresh();
}

void DBEdit::setDataField(const QString &name)
{
    setPending(false);
    m_fieldName = name;
    m_fieldIndex = store::fieldIndex(name);
    if (m_fieldIndex < 0 && !name.isEmpty())
        qWarning("DBEdit %s: no field named \"%s\"", qPrintable(objectName()), qPrintable(name));
    configure();
    refresh();
}

void DBEdit::setCharCase(CharCase charCase)
{
    m_charCase = charCase;
    m_validator->setUpperCase(charCase == Upper);
    if (!m_pending)
        refresh();
}

void DBEdit::configure()
{
    const bool number = m_fieldIndex >= 0
        && store::importRecordFields()[size_t(m_fieldIndex)].type == store::FieldType::Float;
    if (number != (m_validator->kind() == FieldValidator::Kind::Number)) {
        auto *old = m_validator;
        m_validator
            = new FieldValidator(number ? FieldValidator::Kind::Number : FieldValidator::Kind::Text,
                m_charCase == Upper, this);
        m_validator->attachTo(this);
        delete old;
    }
    int length = 32767; // QLineEdit's own limit
    if (m_fieldIndex >= 0 && !number) {
        const int size = store::importRecordFields()[size_t(m_fieldIndex)].size;
        if (size > 0)
            length = size;
    }
    setMaxLength(length);
}

store::ClientDataSet *DBEdit::dataSet() const { return m_source ? m_source->dataSet() : nullptr; }

store::Field *DBEdit::field() const
{
    store::ClientDataSet *ds = dataSet();
    return ds && m_fieldIndex >= 0 ? ds->fields(m_fieldIndex) : nullptr;
}

bool DBEdit::holdsPending() const
{
    const store::ClientDataSet *ds = dataSet();
    return m_pending && ds
        && (ds->state() == store::ClientDataSet::Edit
            || ds->state() == store::ClientDataSet::Insert)
        && ds->currentRow() == m_pendingRow;
}

void DBEdit::refresh()
{
    if (m_writing)
        return;
    // Text that is not a number yet stays while its record is still open;
    // once the record was posted, cancelled or left, the record speaks again.
    if (holdsPending())
        return;
    setPending(false);
    const store::Field *f = field();
    // A closed table takes no typing: what was typed would go nowhere.
    const store::ClientDataSet *ds = dataSet();
    setReadOnly(!ds || !ds->active());
    const QString value = f ? f->displayText() : QString();
    m_validator->setStoredText(value);
    // Another record: setText() also starts the undo history anew, even for
    // the same value, so that Ctrl+Z never brings text typed into one
    // record into another. Within the record only a real difference is
    // shown: setText() puts the cursor at the end, and another field's
    // change must not move it in this box.
    const std::optional<quint64> generation
        = ds ? std::optional<quint64>(ds->recordGeneration()) : std::nullopt;
    if (generation != m_recordGeneration || m_validator->shown(value) != text()) {
        m_recordGeneration = generation;
        setText(value);
    }
}

void DBEdit::onTextEdited(const QString &text)
{
    bool stored = false;
    {
        const QScopedValueRollback<bool> writing(m_writing, true);
        runHandler([&] {
            store::Field *f = field();
            if (!f || !m_source->startEdit())
                return;
            try {
                f->setAsString(text);
                setPending(false);
                m_source->dropPendingText(m_fieldIndex, this);
            } catch (const store::Exception &) {
                if (f->dataType() != store::FieldType::Float)
                    throw;
                // Not a number yet; the user may be half way through one.
                dataSet()->markModified();
                m_pendingRow = dataSet()->currentRow();
                m_pending = true;
                // Every character typed changes what the grid must show.
                m_source->announcePendingText();
            }
            stored = true;
        });
    }
    // Nothing could take the text (no open table, or starting to edit
    // failed): show what the record really holds.
    if (!stored)
        refresh();
}

void DBEdit::updateRecord()
{
    if (!holdsPending())
        return;
    const QScopedValueRollback<bool> writing(m_writing, true);
    // Throws when the text still is not a number: the post is refused.
    field()->setAsString(text());
    setPending(false);
}

void DBEdit::setPending(bool pending)
{
    if (pending == m_pending)
        return;
    m_pending = pending;
    if (m_source)
        m_source->announcePendingText();
}

std::optional<QString> DBEdit::pendingText(int field) const
{
    if (field != m_fieldIndex || !holdsPending())
        return std::nullopt;
    return text();
}

void DBEdit::dropPendingText(int field)
{
    if (field != m_fieldIndex || !m_pending)
        return;
    setPending(false);
    refresh();
}

void DBEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    // Typed "1e3" is stored as 1000: on leaving the box, show the value as
    // the record has it. Not when the window merely loses activation.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason
        && !m_pending)
        refresh();
}

} // namespace toolkit
