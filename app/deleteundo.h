#pragma once

#include "store/record.h"

#include <QObject>

#include <vector>

class TForm1;

namespace store {
struct TableChange;
}

// Ctrl+Z after Izbriši brings the deleted record back, at its place, as
// the current record; again and again, back through the deletes made one
// after another. The deleted records are held here, in memory only (the
// recovery journal has them as every change); any other change to the
// register (an entry posted, the purge before a save, Erase, a load) ends
// what can be brought back, since the places no longer hold.
//
// Ctrl+Z is the window's only where no edit box takes it: a box that has
// something of its own to undo keeps the key, as before.
class DeleteUndo : public QObject
{
    Q_OBJECT
public:
    explicit DeleteUndo(TForm1 *form);
    ~DeleteUndo() override;

    // How many deletes Ctrl+Z can bring back now.
    int available() const { return int(m_deleted.size()); }

    // Brings the last deleted record back, if there is one.
    void undo();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Deleted
    {
        int row;
        store::Record record;
    };

    void follow(const store::TableChange &change);

    TForm1 *m_form;
    std::vector<Deleted> m_deleted;
    bool m_restoring = false;
};
