#include "app/deleteundo.h"

#include "app/unit1.h"

#include "store/clientdataset.h"
#include "toolkit/handlers.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QShortcut>

DeleteUndo::DeleteUndo(TForm1 *form)
    : QObject(form)
    , m_form(form)
{
    setObjectName(QStringLiteral("DeleteUndo"));
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), form);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, &DeleteUndo::undo);
    connect(form->CDSetLijekovi, &store::ClientDataSet::changed, this, &DeleteUndo::follow);
    // An edit box claims Ctrl+Z before any shortcut is looked at, even with
    // nothing to undo; there it is let through to the window.
    qApp->installEventFilter(this);
}

DeleteUndo::~DeleteUndo() { qApp->removeEventFilter(this); }

void DeleteUndo::follow(const store::TableChange &change)
{
    if (m_restoring)
        return;
    if (change.kind == store::TableChange::Deleted)
        m_deleted.push_back({ change.row, *change.record });
    else
        m_deleted.clear();
}

void DeleteUndo::undo()
{
    if (m_deleted.empty())
        return;
    toolkit::runHandler([this] {
        store::ClientDataSet *table = m_form->CDSetLijekovi;
        if (!table->active())
            return;
        const QScopedValueRollback<bool> restoring(m_restoring, true);
        // The blank record Izbriši starts when it empties the register goes
        // again; one the user typed into is posted first, as any move would.
        if (table->state() == store::ClientDataSet::Insert) {
            const store::Record *pending = table->currentRecord();
            bool typed = false;
            for (int f = 0; pending && f < table->getFieldCount() && !typed; ++f) {
                typed = !pending->isEmpty(f)
                    && table->fields(f)->asString() != m_form->carriedOver(f);
            }
            if (!typed)
                table->cancel();
        }
        const Deleted &last = m_deleted.back();
        // Kept until it is back: a refused completion (a half-typed number)
        // must not lose it.
        table->insertRecordAt(last.row, last.record);
        m_deleted.pop_back();
        // As after a post, and the record limit as after Add.
        m_form->BitBtnDel->setEnabled(true);
        m_form->CheckRecordLimit();
    });
}

bool DeleteUndo::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride && !m_deleted.empty()) {
        auto *edit = qobject_cast<QLineEdit *>(watched);
        if (edit && edit->window() == m_form && !edit->isUndoAvailable()
            && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Undo))
            return true;
    }
    return QObject::eventFilter(watched, event);
}
