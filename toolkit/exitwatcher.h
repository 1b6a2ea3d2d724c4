#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace toolkit {

// Tells when the keyboard focus leaves a widget (or anything inside it, such
// as a grid's cell editor) for another widget of the same window: by Tab,
// Shift+Tab, a click or setFocus(). The window losing activation (a modal
// box, another program, focus going nowhere) is not leaving.
class ExitWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ExitWatcher(QWidget *watched);

    // Gives `target` the keyboard focus, at once or, when its window is not
    // active, when the window is next activated, without any watcher of
    // that window counting it as leaving: a jump the program makes on the
    // user's behalf (to a found entry) is not the user moving on.
    static void moveFocusQuietly(QWidget *target);

signals:
    void exited();

private:
    bool contains(const QWidget *w) const;
    void onFocusChanged(QWidget *old);

    QPointer<QWidget> m_watched;
    bool m_hadFocus = false;
    static int s_quiet;
};

} // namespace toolkit
