#pragma once

#include "store/record.h"
#include "store/schema.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace store {

class ClientDataSet;

// A persistent field of the dataset; reads and writes the current record.
class Field : public QObject
{
    Q_OBJECT
public:
    Field(ClientDataSet *dataSet, int index);

    int index() const { return m_index; }
    const FieldDef &def() const;
    QString fieldName() const;
    FieldType dataType() const { return def().type; }
    int size() const { return def().size; }
    int displayWidth() const { return def().displayWidth; }

    // The stored text; for a float its general form with up to 15
    // significant digits in the user's locale, no grouping; "" when null.
    QString asString() const;
    // Text for display: a float with at most its precision (10) digits.
    QString displayText() const;
    // Stores text; a float field converts it (empty text makes it null) and
    // throws store::Exception when the text is not a number.
    void setAsString(const QString &text);

    bool isNull() const;
    std::optional<double> asFloat() const;
    void setAsFloat(std::optional<double> value);

private:
    ClientDataSet *m_dataSet;
    int m_index;
};

// Float text conversions shared by the fields, the grid and the edit boxes.
QString floatToText(double value, int significantDigits);
// How a number the user typed reads in the user's locale. Grouping
// characters are refused, never skipped: skipped, "1,5" under a decimal
// point would be read as 15. Under a decimal comma a point typed out of
// habit is read as the decimal separator ("1.5" is 1,5), except where the
// text also reads as thousands grouped by points ("1.000", "12.500",
// "1.000.000"): that is one thousand to some and one to others, and is
// taken as neither.
struct NumberReading
{
    std::optional<double> value; // the number; nothing when the text is none
    bool ambiguous = false; // the text reads as grouped thousands too
    double grouped = 0; // the grouped reading, when ambiguous ("1.000": 1000)
    std::optional<double> decimal; // the point as a decimal point ("1.000": 1)
};
NumberReading readNumberText(const QString &text);
// The number, or nothing when the text is not one or is ambiguous.
std::optional<double> textToFloat(const QString &text);
// The refusal of text that does not read as one number, for a field.
QString numberRefusal(int field, const QString &text);

// One change to the posted records, in the terms a journal needs to replay
// it on a copy of the table taken before.
struct TableChange
{
    enum Kind {
        Posted, // `record` stored at `row`; appended when `row` was one past the end
        Deleted, // the record at `row` removed; `record` is what it held
        Purged, // the records at `rows` (ascending, positions before the purge) removed
        Reset, // the table emptied and filled with `rows` of `all` (created or loaded)
        Inserted, // `record` put in at `row`, the records from there on one further
    };
    Kind kind;
    int row = -1;
    const Record *record = nullptr;
    std::vector<int> rows;
    const std::vector<Record> *all = nullptr;
};

// The in-memory table that holds the register: an ordered list of posted
// records, a cursor, an editing state and the events a form hangs its
// handlers on.
class ClientDataSet : public QObject
{
    Q_OBJECT
public:
    enum State { Inactive = 0, Browse = 1, Edit = 2, Insert = 3 };
    Q_ENUM(State)

    explicit ClientDataSet(QObject *parent = nullptr);
    ~ClientDataSet() override;

    // --- fields
    int getFieldCount() const { return FieldCount; }
    Field *fields(int index) const;
    // Throws store::Exception for an unknown name.
    Field *fieldByName(const QString &name) const;

    // --- lifecycle
    void createDataSet();
    void close();
    void open();
    // Replaces every record, as a load does; the cursor goes to the first.
    // The table knows no file: what reads or writes one hands it its rows.
    void assignRecords(std::vector<Record> rows);

    // --- navigation and editing; all throw on an inactive table
    void first();
    void prior();
    void next();
    void last();
    void insert();
    void edit();
    void post();
    void cancel();
    void deleteRecord();
    // Marks the record being edited or inserted as changed without writing a
    // field: a bound control holding text it cannot store yet (a half-typed
    // number) makes the record count as modified, so it is posted, not dropped.
    void markModified();

    // Removes every posted record for which `unwanted` is true in one pass
    // and leaves the cursor where a first-to-last walk would: on the last
    // record with end-of-table set. Completes the current record first.
    int deleteWhere(const std::function<bool(const Record &)> &unwanted);

    // Puts `record` back among the posted records at `row` (at most
    // recordCount()), the records from there on one further, and makes it
    // the current record. Completes the current record first. Raises no
    // insert or post event: the record is stored as given, as a load
    // stores what it reads.
    void insertRecordAt(int row, Record record);

    // --- queries
    int recordCount() const { return int(m_rows.size()); }
    State state() const { return m_state; }
    bool active() const { return m_state != Inactive; }
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    bool modified() const { return m_modified; }
    // Rows the grid shows: the posted records plus a pending new one.
    int rowCount() const { return int(m_rows.size()) + (m_state == Insert ? 1 : 0); }
    // Row of the current record in rowCount() terms, or -1 when there is none.
    int currentRow() const { return m_current; }
    // Moves to `row` (0 <= row < rowCount()), completing the current record first.
    void moveTo(int row);
    // The values of `row` as the grid shows them (the edit buffer for the current row).
    const Record &rowRecord(int row) const;
    const std::vector<Record> &records() const { return m_rows; }
    // The current record's values, or nullptr when there is none.
    const Record *currentRecord() const;
    // Changes whenever the current record becomes another one: a move, a new
    // record started, one dropped or deleted, the table reloaded or closed.
    // Not when the same record is edited or posted. A bound box's undo
    // history belongs to one record and ends when this changes.
    quint64 recordGeneration() const { return m_recordGeneration; }

    // Field access used by Field.
    QString fieldText(int field) const;
    void setFieldText(int field, const QString &text);
    std::optional<double> fieldNumber(int field) const;
    void setFieldNumber(int field, std::optional<double> value);

    // --- events, delivered synchronously; a handler may throw, and the
    // exception leaves the operation that raised the event.
    std::function<void()> afterInsert;
    std::function<void()> beforePost;
    std::function<void()> afterPost;
    // Called first by post(): bound controls write their pending text into the record.
    std::function<void()> updateRecord;
    // Called after every change to the posted records, before the operation
    // that made it returns. May throw; the change stays made.
    std::function<void(const TableChange &)> afterChange;

signals:
    // Structural changes, for models over the table.
    void aboutToReset();
    void reset();
    void rowAboutToBeInserted(int row);
    void rowInserted(int row);
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);
    void rowChanged(int row);
    // Something the bound controls show changed: the cursor moved, the table
    // opened, closed or was reloaded, or a field of the current record changed.
    void dataChanged();
    void stateChanged(store::ClientDataSet::State state);
    // A change to the posted records, as afterChange hears of it and just
    // before it does, for whatever follows the table besides the window.
    void changed(const store::TableChange &change);

private:
    void checkActive() const;
    void completeRecord();
    void setState(State state);
    Record &writableCurrent();
    void replaceRows(std::vector<Record> rows);
    void reportChange(const TableChange &change);

    std::vector<Record> m_rows;
    Record m_buffer; // the record being edited or inserted
    State m_state = Inactive;
    int m_current = -1;
    int m_currentBeforeInsert = -1;
    bool m_eof = true;
    bool m_bof = true;
    bool m_modified = false;
    quint64 m_recordGeneration = 0;
    std::vector<std::unique_ptr<Field>> m_fields;
};

} // namespace store
