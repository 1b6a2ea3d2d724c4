#include "toolkit/exitwatcher.h"

#include "toolkit/handlers.h"

#include <QApplication>
#include <QWidget>

namespace toolkit {

int ExitWatcher::s_quiet = 0;

ExitWatcher::ExitWatcher(QWidget *watched)
    : QObject(watched)
    , m_watched(watched)
{
    connect(qApp, &QApplication::focusChanged, this,
        [this](QWidget *old, QWidget *) { onFocusChanged(old); });
}

bool ExitWatcher::contains(const QWidget *w) const
{
    return w && m_watched && (w == m_watched || m_watched->isAncestorOf(w));
}

void ExitWatcher::onFocusChanged(QWidget *old)
{
    if (!m_watched)
        return;
    // The focus as it is now, not as the signal says: a handler of an earlier
    // exit may already have moved it on, and this call then arrives late.
    QWidget *now = QApplication::focusWidget();
    if (!now || now->window() != m_watched->window())
        return;
    const bool inside = contains(now);
    // Remembering where the focus was in this window also catches a move made
    // while the window was inactive, which is reported with no old widget.
    const bool left = !inside && (m_hadFocus || contains(old));
    m_hadFocus = inside;
    if (s_quiet > 0)
        return;
    // The form's exit handlers run from Qt's focus machinery, which no
    // exception may cross.
    if (left)
        runHandler([this] { emit exited(); });
}

void ExitWatcher::moveFocusQuietly(QWidget *target)
{
    // Each watcher takes the focus to be where it is going already, so the
    // move is not a leaving when it happens later, on the window's
    // activation; one made now is let through in silence.
    for (ExitWatcher *watcher : target->window()->findChildren<ExitWatcher *>())
        watcher->m_hadFocus = watcher->contains(target);
    ++s_quiet;
    target->setFocus(Qt::OtherFocusReason);
    --s_quiet;
}

} // namespace toolkit
