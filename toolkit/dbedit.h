#pragma once

#include "toolkit/datasource.h"

#include <QLineEdit>
#include <QPointer>

namespace store {
class ClientDataSet;
class Field;
} // namespace store

namespace toolkit {

class FieldValidator;

// An edit box bound to one field of the current record.
class DBEdit : public QLineEdit, public DataLink
{
    Q_OBJECT
    Q_PROPERTY(QString dataField READ dataField WRITE setDataField)
    Q_PROPERTY(CharCase charCase READ charCase WRITE setCharCase)
public:
    enum CharCase { Normal, Upper };
    Q_ENUM(CharCase)

    explicit DBEdit(QWidget *parent = nullptr);
    ~DBEdit() override;

    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return m_source; }
    void setDataField(const QString &name);
    QString dataField() const { return m_fieldName; }
    void setCharCase(CharCase charCase);
    CharCase charCase() const { return m_charCase; }

    // The bound field, or nullptr when there is no table or no such field.
    store::Field *field() const;

    // Shows the current record's value again (unless text is pending).
    void refresh();

    void updateRecord() override;
    std::optional<QString> pendingText(int field) const override;
    void dropPendingText(int field) override;

signals:
    // The focus went from this box to another widget of the same window.
    void exited();

protected:
    void focusOutEvent(QFocusEvent *event) override;

private:
    store::ClientDataSet *dataSet() const;
    void configure();
    void onTextEdited(const QString &text);
    bool holdsPending() const;
    void setPending(bool pending);

    QPointer<DataSource> m_source;
    QMetaObject::Connection m_dataChange;
    QString m_fieldName;
    int m_fieldIndex = -1;
    CharCase m_charCase = Normal;
    FieldValidator *m_validator = nullptr;
    // Set while this box writes into the record, whose change notification
    // must not put the text back under the user's fingers.
    bool m_writing = false;
    // Text typed into a number box that is not a number yet ("1-", "1e"):
    // kept here, and written (or refused) when the record is posted.
    bool m_pending = false;
    // The record whose text the box shows, as recordGeneration() told it.
    std::optional<quint64> m_recordGeneration;
    int m_pendingRow = -1;
};

} // namespace toolkit
