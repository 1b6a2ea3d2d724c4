#include "app/entrysuggestions.h"

#include "app/unit1.h"

#include "store/clientdataset.h"
#include "store/schema.h"
#include "store/valueindex.h"
#include "toolkit/dbedit.h"
#include "toolkit/suggestionlist.h"

EntrySuggestions::EntrySuggestions(TForm1 *form)
    : QObject(form)
    , m_form(form)
    , m_index(new store::ValueIndex(form->CDSetLijekovi, this))
{
    setObjectName(QStringLiteral("EntrySuggestions"));
    for (toolkit::DBEdit *box : form->Panel1->findChildren<toolkit::DBEdit *>()) {
        const int field = store::fieldIndex(box->dataField());
        if (field < 0 || store::textSlot(field) < 0)
            continue; // the two numbers
        const store::ValueIndex *index = m_index;
        auto *list = new toolkit::SuggestionList(box, [index, field](const QString &typed) {
            return index->startingWith(field, typed, ListRows);
        });
        if (box == form->DBEditNaziv)
            connect(list, &toolkit::SuggestionList::taken, this, &EntrySuggestions::fillInMedicine);
    }
}

EntrySuggestions::~EntrySuggestions() = default;

void EntrySuggestions::fillInMedicine()
{
    store::ClientDataSet *table = m_form->CDSetLijekovi;
    const auto state = table->state();
    if (state != store::ClientDataSet::Edit && state != store::ClientDataSet::Insert)
        return;
    const int naziv = m_form->StringField2->index();
    const QByteArray name = m_form->DBEditNaziv->text().toUtf8();
    // The last record of that name, other than the one being typed.
    const auto &rows = table->records();
    const int current = state == store::ClientDataSet::Edit ? table->currentRow() : -1;
    const store::Record *known = nullptr;
    for (int row = int(rows.size()) - 1; row >= 0 && !known; --row) {
        if (row != current && rows[size_t(row)].textUtf8(naziv) == QByteArrayView(name))
            known = &rows[size_t(row)];
    }
    if (!known)
        return;
    const store::Record source = *known; // filling the boxes may change the table
    toolkit::DBEdit *const boxes[] = { m_form->DBEditGen_ime, m_form->DBEdit1,
        m_form->DBEditProizvodjac, m_form->DBEditJed_mjere };
    for (toolkit::DBEdit *box : boxes) {
        const store::Field *field = box->field();
        if (!field)
            continue;
        const QString now = field->asString();
        // What the user typed into this entry stays; what it started with
        // (nothing, or the value carried over from the last entry) may go.
        const bool untouched = now.isEmpty()
            || (state == store::ClientDataSet::Insert
                && now == m_form->carriedOver(field->index()));
        const QString value = source.text(field->index());
        if (!untouched || value.isEmpty() || value == now)
            continue;
        // As typed: the box's rules apply and it tells the record itself.
        box->selectAll();
        box->insert(value);
    }
}
