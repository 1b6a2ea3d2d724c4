#pragma once

#include <QObject>

class TForm1;

namespace store {
class ValueIndex;
}

// Faster entry in the window's boxes: every box of a text field offers,
// while it is typed in, the values its field already holds in the
// register (toolkit::SuggestionList over a store::ValueIndex). And a
// medicine taken from the list of "Naziv lijeka" that the register knows
// fills in what the register says of it: the generic name, the ATK code,
// the manufacturer and the unit, from the last record of that name, in the
// boxes the user has not typed into. A user who takes nothing from a list
// gets exactly what the window gives without them.
class EntrySuggestions : public QObject
{
    Q_OBJECT
public:
    explicit EntrySuggestions(TForm1 *form);
    ~EntrySuggestions() override;

    // How many values a list shows at most.
    static constexpr int ListRows = 8;

    const store::ValueIndex &index() const { return *m_index; }

private:
    void fillInMedicine();

    TForm1 *m_form;
    store::ValueIndex *m_index;
};
