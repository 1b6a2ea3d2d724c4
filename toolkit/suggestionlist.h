#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QLineEdit;
class QListWidget;

namespace toolkit {

// A list of values offered under an edit box while it is typed in. What
// the box holds changes only when the user takes a value: Down and Up move
// the highlight (none at first), Enter or Tab takes the highlighted value
// (Tab then moves on as it always does), a click takes the value clicked,
// Escape closes the list, and typing on asks for a new list. A taken value
// goes into the box as if typed (the box's own rules, its size and its
// letter case, apply, and undo can take it back), replacing its text.
//
// The list is a window of its own that never takes the keyboard: the box
// keeps the focus, and every key that the list does not use reaches the
// box as before. It closes when the box loses the focus, when the window
// moves or is left, and when the box's text is set other than by typing.
class SuggestionList : public QObject
{
    Q_OBJECT
public:
    // The values to offer for what the box holds, best first.
    using Source = std::function<QStringList(const QString &typed)>;

    static constexpr int MaxRows = 8;

    // Attaches to `edit`, whose child it becomes.
    SuggestionList(QLineEdit *edit, Source source);
    ~SuggestionList() override;

    bool isShown() const;
    QStringList values() const;
    // The highlighted row, or -1.
    int highlighted() const;
    // The list's window.
    QListWidget *view() const { return m_view; }

    // The suggestions attached to `edit`, if any.
    static SuggestionList *of(const QLineEdit *edit);

signals:
    // The user took `value`; the box holds it (as its rules let it).
    void taken(const QString &value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void offer(const QString &typed);
    void highlight(int row);
    void take(int row);
    void close();
    void place();
    bool handleKey(QEvent *event);

    QLineEdit *m_edit;
    Source m_source;
    QListWidget *m_view;
    QPointer<QWidget> m_window;
    // The box's text the list was made for.
    QString m_offeredFor;
    bool m_taking = false;
};

} // namespace toolkit
