#include "toolkit/findbox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace toolkit {

FindBox::FindBox(QWidget *parent)
    : QDialog(parent)
    , m_label(new QLabel(QStringLiteral("Traženi tekst:"), this))
    , m_field(new QLineEdit(this))
    , m_findNext(new QPushButton(QStringLiteral("Traži dalje"), this))
    , m_close(new QPushButton(QStringLiteral("Zatvori"), this))
{
    setObjectName(QStringLiteral("FindBox"));
    setWindowTitle(QStringLiteral("Traži"));
    setModal(false);
    m_field->setObjectName(QStringLiteral("FindText"));
    m_findNext->setObjectName(QStringLiteral("FindNext"));
    m_close->setObjectName(QStringLiteral("FindClose"));
    // The label names the field, for a screen reader too.
    m_label->setBuddy(m_field);
    // Enter in the field means "Traži dalje"; on a button that has the
    // focus it presses that one. Escape closes (QDialog's own).
    m_findNext->setDefault(true);
    m_findNext->setEnabled(false);
    m_close->setAutoDefault(true);

    // One row, as low as it can be: it stands over the list it searches.
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_findNext);
    layout->addWidget(m_close);
    m_field->setMinimumWidth(m_field->fontMetrics().averageCharWidth() * 24);
    setFixedHeight(sizeHint().height());

    connect(m_field, &QLineEdit::textChanged, this,
        [this](const QString &text) { m_findNext->setEnabled(!text.isEmpty()); });
    connect(m_findNext, &QPushButton::clicked, this, [this] { ask(false); });
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    // The same keys as in the window the box serves.
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this,
        [this] { ask(false); });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this), &QShortcut::activated, this,
        [this] { ask(true); });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this), &QShortcut::activated, this,
        &FindBox::popUp);
}

QString FindBox::text() const { return m_field->text(); }

void FindBox::setText(const QString &text) { m_field->setText(text); }

void FindBox::popUp()
{
    show();
    raise();
    activateWindow();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindBox::ask(bool backward)
{
    if (m_field->text().isEmpty())
        return;
    if (backward)
        emit findPrevious();
    else
        emit findNext();
}

} // namespace toolkit
