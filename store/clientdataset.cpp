#include "store/clientdataset.h"

#include "store/exception.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace store {

// ---------------------------------------------------------------- Field

Field::Field(ClientDataSet *dataSet, int index)
    : QObject(dataSet)
    , m_dataSet(dataSet)
    , m_index(index)
{
    setObjectName(QLatin1StringView(def().component));
}

const FieldDef &Field::def() const { return importRecordFields()[size_t(m_index)]; }

QString Field::fieldName() const { return QLatin1StringView(def().name); }

QString Field::asString() const { return m_dataSet->fieldText(m_index); }

QString Field::displayText() const
{
    if (dataType() == FieldType::Float) {
        const auto value = m_dataSet->fieldNumber(m_index);
        return value ? floatToText(*value, def().precision) : QString();
    }
    return m_dataSet->fieldText(m_index);
}

void Field::setAsString(const QString &text) { m_dataSet->setFieldText(m_index, text); }

bool Field::isNull() const
{
    if (dataType() == FieldType::Float)
        return !m_dataSet->fieldNumber(m_index).has_value();
    return m_dataSet->fieldText(m_index).isEmpty();
}

std::optional<double> Field::asFloat() const
{
    if (dataType() == FieldType::Float)
        return m_dataSet->fieldNumber(m_index);
    return textToFloat(asString());
}

void Field::setAsFloat(std::optional<double> value)
{
    if (dataType() == FieldType::Float)
        m_dataSet->setFieldNumber(m_index, value);
    else
        m_dataSet->setFieldText(m_index, value ? floatToText(*value, 15) : QString());
}

// ------------------------------------------------------- float conversion

namespace {

// The default locale is the user's (QLocale::system()) unless a test sets
// another with QLocale::setDefault().
QLocale userLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

} // namespace

QString floatToText(double value, int significantDigits)
{
    const QLocale locale = userLocale();
    QString text = locale.toString(value, 'g', significantDigits);
    // Some locales, Croatian among them, write the minus as U+2212, which
    // Windows-1250 lacks: the export would turn it into '?'. The ASCII sign
    // reads back under every locale.
    const QString minus = locale.negativeSign();
    if (minus != QLatin1String("-"))
        text.replace(minus, QLatin1String("-"));
    return text;
}

namespace {

std::optional<double> parseInLocale(const QLocale &locale, const QString &text)
{
    bool ok = false;
    const double value = locale.toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

NumberReading readNumberText(const QString &typed)
{
    const QLocale locale = userLocale();
    const QString text = typed.trimmed();
    NumberReading reading;
    if (locale.decimalPoint() != QLatin1String(",") || !text.contains(u'.')
        || text.contains(u',')) {
        reading.value = parseInLocale(locale, text);
        return reading;
    }
    // One to three digits without a leading zero, then groups of a point
    // and three digits: how thousands are written here by hand.
    static const QRegularExpression grouping(
        QStringLiteral("^([-+\\x{2212}]?)([1-9][0-9]{0,2}(?:\\.[0-9]{3})+)$"));
    const QRegularExpressionMatch match = grouping.match(text);
    QString asDecimal = text;
    asDecimal.replace(u'.', u',');
    if (match.hasMatch()) {
        reading.ambiguous = true;
        const bool negative = !match.captured(1).isEmpty() && match.captured(1) != u"+";
        const double digits = match.captured(2).remove(u'.').toDouble();
        reading.grouped = negative ? -digits : digits;
        reading.decimal = parseInLocale(locale, asDecimal);
        return reading;
    }
    reading.value = parseInLocale(locale, asDecimal);
    return reading;
}

std::optional<double> textToFloat(const QString &text) { return readNumberText(text).value; }

QString numberRefusal(int field, const QString &text)
{
    const QString label = QString::fromUtf8(importRecordFields()[size_t(field)].label);
    const NumberReading reading = readNumberText(text);
    if (!reading.ambiguous) {
        return QStringLiteral("Neispravan broj u polju \"%1\": \"%2\".").arg(label, text);
    }
    const QString grouped = floatToText(reading.grouped, 15);
    if (!reading.decimal) {
        return QStringLiteral("%1 \"%2\": brojevi se upisuju bez točaka između tisuća; "
                              "za %3 upišite %3.")
            .arg(label, text.trimmed(), grouped);
    }
    QString typedDecimal = text.trimmed();
    typedDecimal.replace(u'.', u',');
    return QStringLiteral("%1 \"%2\": za %3 upišite %3, a za %4 upišite %5.")
        .arg(label, text.trimmed(), grouped, floatToText(*reading.decimal, 15), typedDecimal);
}

// --------------------------------------------------------- ClientDataSet

ClientDataSet::ClientDataSet(QObject *parent)
    : QObject(parent)
{
    m_fields.reserve(FieldCount);
    for (int i = 0; i < FieldCount; ++i)
        m_fields.push_back(std::make_unique<Field>(this, i));
}

ClientDataSet::~ClientDataSet()
{
    // The fields are children only for their names; the vector owns them.
    for (auto &field : m_fields)
        field->setParent(nullptr);
}

Field *ClientDataSet::fields(int index) const
{
    if (index < 0 || index >= FieldCount)
        throw Exception(QStringLiteral("Polje broj %1 ne postoji.").arg(index));
    return m_fields[size_t(index)].get();
}

Field *ClientDataSet::fieldByName(const QString &name) const
{
    const int index = fieldIndex(name);
    if (index < 0)
        throw Exception(QStringLiteral("Polje \"%1\" ne postoji.").arg(name));
    return m_fields[size_t(index)].get();
}

void ClientDataSet::checkActive() const
{
    if (m_state == Inactive)
        throw Exception(QStringLiteral("Operacija nije moguća: tablica nije otvorena."));
}

void ClientDataSet::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void ClientDataSet::replaceRows(std::vector<Record> rows)
{
    emit aboutToReset();
    m_rows = std::move(rows);
    m_buffer = Record();
    m_modified = false;
    m_currentBeforeInsert = -1;
    m_state = Browse;
    m_current = m_rows.empty() ? -1 : 0;
    ++m_recordGeneration;
    m_bof = true;
    m_eof = m_rows.empty();
    emit reset();
    emit stateChanged(m_state);
    emit dataChanged();
    reportChange({ TableChange::Reset, -1, nullptr, {}, &m_rows });
}

void ClientDataSet::reportChange(const TableChange &change)
{
    emit changed(change);
    if (afterChange)
        afterChange(change);
}

void ClientDataSet::createDataSet() { replaceRows({}); }

void ClientDataSet::close()
{
    if (m_state == Inactive)
        return;
    emit aboutToReset();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_buffer = Record();
    m_modified = false;
    m_current = -1;
    ++m_recordGeneration;
    m_bof = m_eof = true;
    m_state = Inactive;
    emit reset();
    emit stateChanged(m_state);
    emit dataChanged();
}

void ClientDataSet::open()
{
    if (m_state != Inactive)
        return;
    createDataSet();
}

void ClientDataSet::assignRecords(std::vector<Record> rows) { replaceRows(std::move(rows)); }

void ClientDataSet::completeRecord()
{
    if (m_state == Edit || m_state == Insert) {
        if (m_modified)
            post();
        else
            cancel();
    }
}

void ClientDataSet::first()
{
    checkActive();
    completeRecord();
    m_current = m_rows.empty() ? -1 : 0;
    ++m_recordGeneration;
    m_bof = true;
    m_eof = m_rows.empty();
    emit dataChanged();
}

void ClientDataSet::last()
{
    checkActive();
    completeRecord();
    m_current = int(m_rows.size()) - 1;
    ++m_recordGeneration;
    m_bof = m_rows.empty();
    m_eof = true;
    emit dataChanged();
}

void ClientDataSet::next()
{
    checkActive();
    completeRecord();
    if (m_current + 1 < int(m_rows.size())) {
        ++m_current;
        ++m_recordGeneration;
        m_bof = false;
        m_eof = false;
        emit dataChanged();
    } else {
        m_bof = false;
        m_eof = true;
    }
}

void ClientDataSet::prior()
{
    checkActive();
    completeRecord();
    if (m_current > 0) {
        --m_current;
        ++m_recordGeneration;
        m_bof = false;
        m_eof = false;
        emit dataChanged();
    } else {
        m_bof = true;
        m_eof = m_rows.empty();
    }
}

void ClientDataSet::moveTo(int row)
{
    checkActive();
    if (row == m_current)
        return;
    completeRecord();
    // Completing may have dropped a pending row that came after `row`; the
    // posted rows before it keep their positions.
    if (row < 0 || row >= int(m_rows.size()))
        return;
    m_current = row;
    ++m_recordGeneration;
    m_bof = false;
    m_eof = false;
    emit dataChanged();
}

void ClientDataSet::insert()
{
    checkActive();
    completeRecord();
    const int row = int(m_rows.size());
    emit rowAboutToBeInserted(row);
    m_currentBeforeInsert = m_current;
    m_buffer = Record();
    m_modified = false;
    m_current = row;
    ++m_recordGeneration;
    m_bof = m_eof = false;
    m_state = Insert;
    emit rowInserted(row);
    emit stateChanged(m_state);
    emit dataChanged();
    if (afterInsert)
        afterInsert();
}

void ClientDataSet::edit()
{
    checkActive();
    if (m_state != Browse)
        return;
    if (m_current < 0) {
        insert();
        return;
    }
    m_buffer = m_rows[size_t(m_current)];
    m_modified = false;
    setState(Edit);
    emit dataChanged();
}

void ClientDataSet::markModified()
{
    if (m_state == Edit || m_state == Insert)
        m_modified = true;
}

void ClientDataSet::post()
{
    checkActive();
    if (m_state != Edit && m_state != Insert)
        return;
    if (updateRecord)
        updateRecord();
    if (beforePost)
        beforePost();
    const int row = m_current;
    if (m_state == Insert)
        m_rows.push_back(m_buffer);
    else
        m_rows[size_t(row)] = m_buffer;
    m_buffer = Record();
    m_modified = false;
    setState(Browse);
    emit rowChanged(row);
    emit dataChanged();
    reportChange({ TableChange::Posted, row, &m_rows[size_t(row)], {}, nullptr });
    if (afterPost)
        afterPost();
}

void ClientDataSet::cancel()
{
    checkActive();
    if (m_state == Insert) {
        const int row = m_current;
        emit rowAboutToBeRemoved(row);
        m_buffer = Record();
        m_modified = false;
        m_state = Browse;
        m_current = m_currentBeforeInsert;
        if (m_current >= int(m_rows.size()))
            m_current = int(m_rows.size()) - 1;
        ++m_recordGeneration;
        m_bof = m_current <= 0;
        m_eof = m_rows.empty();
        emit rowRemoved(row);
        emit stateChanged(m_state);
        emit dataChanged();
    } else if (m_state == Edit) {
        const int row = m_current;
        // The record goes back to what it held: what was typed into it is
        // no longer there to undo.
        ++m_recordGeneration;
        m_buffer = Record();
        m_modified = false;
        setState(Browse);
        emit rowChanged(row);
        emit dataChanged();
    }
}

void ClientDataSet::deleteRecord()
{
    checkActive();
    if (m_state == Insert) {
        cancel();
        return;
    }
    if (m_state == Edit)
        cancel();
    if (m_current < 0 || m_current >= int(m_rows.size()))
        throw Exception(QStringLiteral("Nema zapisa za brisanje."));
    const int row = m_current;
    emit rowAboutToBeRemoved(row);
    const Record removed = std::move(m_rows[size_t(row)]);
    m_rows.erase(m_rows.begin() + row);
    if (m_current >= int(m_rows.size()))
        m_current = int(m_rows.size()) - 1;
    ++m_recordGeneration;
    m_bof = m_current <= 0;
    m_eof = m_rows.empty();
    emit rowRemoved(row);
    emit dataChanged();
    reportChange({ TableChange::Deleted, row, &removed, {}, nullptr });
}

void ClientDataSet::insertRecordAt(int row, Record record)
{
    checkActive();
    completeRecord();
    row = std::clamp(row, 0, int(m_rows.size()));
    emit rowAboutToBeInserted(row);
    m_rows.insert(m_rows.begin() + row, std::move(record));
    m_current = row;
    m_bof = false;
    m_eof = false;
    emit rowInserted(row);
    emit dataChanged();
    reportChange({ TableChange::Inserted, row, &m_rows[size_t(row)], {}, nullptr });
}

int ClientDataSet::deleteWhere(const std::function<bool(const Record &)> &unwanted)
{
    checkActive();
    first();
    // The positions are noted first, for whoever replays the change. What
    // stays keeps its order and moves at most once, in place; a partition
    // would also keep what goes, through a buffer as large again.
    std::vector<int> gone;
    std::vector<char> drop(m_rows.size());
    for (size_t i = 0; i < m_rows.size(); ++i) {
        drop[i] = unwanted(m_rows[i]);
        if (drop[i])
            gone.push_back(int(i));
    }
    const int removed = int(gone.size());
    if (removed > 0) {
        emit aboutToReset();
        size_t out = 0;
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (!drop[i]) {
                if (out != i)
                    m_rows[out] = std::move(m_rows[i]);
                ++out;
            }
        }
        m_rows.erase(m_rows.begin() + qsizetype(out), m_rows.end());
        emit reset();
    }
    m_current = int(m_rows.size()) - 1;
    ++m_recordGeneration;
    m_bof = m_rows.empty();
    m_eof = true;
    emit dataChanged();
    if (removed > 0)
        reportChange({ TableChange::Purged, -1, nullptr, std::move(gone), nullptr });
    return removed;
}

const Record *ClientDataSet::currentRecord() const
{
    if (m_state == Edit || m_state == Insert)
        return &m_buffer;
    if (m_current < 0 || m_current >= int(m_rows.size()))
        return nullptr;
    return &m_rows[size_t(m_current)];
}

const Record &ClientDataSet::rowRecord(int row) const
{
    if (row == m_current && (m_state == Edit || m_state == Insert))
        return m_buffer;
    return m_rows.at(size_t(row));
}

Record &ClientDataSet::writableCurrent()
{
    checkActive();
    if (m_state != Edit && m_state != Insert)
        throw Exception(QStringLiteral("Zapis nije otvoren za uređivanje."));
    return m_buffer;
}

QString ClientDataSet::fieldText(int field) const
{
    const Record *record = currentRecord();
    if (!record)
        return QString();
    if (textSlot(field) >= 0)
        return record->text(field);
    const auto value = record->number(field);
    return value ? floatToText(*value, 15) : QString();
}

std::optional<double> ClientDataSet::fieldNumber(int field) const
{
    const Record *record = currentRecord();
    if (!record || floatSlot(field) < 0)
        return std::nullopt;
    return record->number(field);
}

void ClientDataSet::setFieldText(int field, const QString &text)
{
    if (textSlot(field) >= 0) {
        Record &record = writableCurrent();
        record.setText(field, text);
        m_modified = true;
        emit rowChanged(m_current);
        emit dataChanged();
        return;
    }
    std::optional<double> value;
    if (!text.trimmed().isEmpty()) {
        value = textToFloat(text);
        if (!value)
            throw Exception(numberRefusal(field, text));
    }
    setFieldNumber(field, value);
}

void ClientDataSet::setFieldNumber(int field, std::optional<double> value)
{
    Record &record = writableCurrent();
    if (floatSlot(field) >= 0) {
        record.setNumber(field, value);
    } else {
        record.setText(field, value ? floatToText(*value, 15) : QString());
    }
    m_modified = true;
    emit rowChanged(m_current);
    emit dataChanged();
}

} // namespace store
