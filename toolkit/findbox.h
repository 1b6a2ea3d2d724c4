#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace toolkit {

// A small modeless find box, "Traži": one text field, "Traži dalje" and
// "Zatvori". Enter in the field (or F3) asks for the next match, Shift+F3
// for the one before; Escape or "Zatvori" hides the box, which keeps its
// text for the next time. It knows nothing of what is searched: whoever
// shows it answers findNext() and findPrevious().
class FindBox : public QDialog
{
    Q_OBJECT
public:
    explicit FindBox(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);

    // Shows the box, or brings it to the front, with the focus in its field
    // and the text there selected, so that typing replaces it.
    void popUp();

    QLineEdit *field() const { return m_field; }
    QPushButton *findNextButton() const { return m_findNext; }
    QPushButton *closeButton() const { return m_close; }

signals:
    void findNext();
    void findPrevious();

private:
    void ask(bool backward);

    QLabel *m_label;
    QLineEdit *m_field;
    QPushButton *m_findNext;
    QPushButton *m_close;
};

} // namespace toolkit
