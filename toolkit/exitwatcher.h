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

signals:
    void exited();

private:
    bool contains(const QWidget *w) const;
    void onFocusChanged(QWidget *old);

    QPointer<QWidget> m_watched;
    bool m_hadFocus = false;
};

} // namespace toolkit
