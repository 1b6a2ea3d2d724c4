#pragma once

#include "store/search.h"

#include "toolkit/datasource.h"
#include "toolkit/findbox.h"

#include <QObject>
#include <QPointer>

#include <optional>

class QWidget;

// Finding an entry from the main window: Ctrl+F opens the find box, F3 and
// Shift+F3 search again, forward and back, with the box closed too. A match
// moves the table's cursor the way a click in the grid does (a record being
// typed is completed first by the table's usual rules), and the edit box of
// the matching field gets the focus with the match selected. The search
// itself is the store's; this only asks it and moves.
//
// A look-up in the middle of an entry must not leave the keyboard in an old
// record: closing the find box (Escape, "Zatvori") brings the cursor back
// to the record and the box where Ctrl+F was pressed, the caret where it
// was. A user who clicks or types into the window while a match is shown
// has chosen to work on the match, and it stays.
class RegisterFinder : public QObject
{
    Q_OBJECT
public:
    // `window` holds the grid and the edit boxes bound to `source`.
    RegisterFinder(QWidget *window, toolkit::DataSource *source);

    // The find box, once Ctrl+F has made it.
    toolkit::FindBox *findBox() const { return m_box; }

    void openFindBox();
    // Searches for the find box's text; with none yet, opens the box.
    void find(store::SearchDirection direction);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Where the keyboard was when the find box opened.
    struct Origin
    {
        QPointer<QWidget> widget;
        int row = -1;
        bool wasNew = false; // a new record being typed
        int column = -1; // in the grid
        int cursor = -1; // in an edit box
        int selectionStart = -1;
        int selectionLength = 0;
    };

    void captureOrigin();
    void returnToOrigin();
    void showMatch(const store::SearchHit &hit);
    void placeFindBox();
    void keepCurrentRowInSight();

    QWidget *m_window;
    QPointer<toolkit::DataSource> m_source;
    QPointer<toolkit::FindBox> m_box;
    std::optional<Origin> m_origin;
};
