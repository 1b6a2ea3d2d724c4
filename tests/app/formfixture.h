#pragma once

#include "app/unit1.h"

#include "store/clientdataset.h"
#include "store/datapacket.h"
#include "toolkit/messagebox.h"
#include "toolkit/savedialog.h"

#include "tests/support/files.h"
#include "tests/support/scriptedmessageboxes.h"
#include "tests/support/typing.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <deque>
#include <memory>
#include <optional>

// A register of a few named fields per record, for fixtures.
using Values = QList<QPair<QString, QString>>;

inline std::vector<store::Record> makeRecords(const QList<Values> &records)
{
    std::vector<store::Record> rows;
    for (const Values &values : records) {
        store::Record r;
        for (const auto &[name, text] : values) {
            const int f = store::fieldIndex(name);
            if (store::textSlot(f) >= 0)
                r.setText(f, text);
            else
                r.setNumber(f, text.toDouble());
        }
        rows.push_back(r);
    }
    return rows;
}

using testsupport::readFile;
using testsupport::typeText;

// The user switches to another program and back: the window is deactivated
// and activated again, and no control's focus changes inside it.
inline void switchAwayAndBack(QWidget *window)
{
    QWidget other;
    other.show();
    other.activateWindow();
    QApplication::processEvents();
    window->activateWindow();
    QApplication::processEvents();
}

// Each test runs in a folder of its own, made the current directory as a
// user's start folder would be, with every message box and the save dialog
// answered by the test instead of a person.
class FormFixture
{
public:
    using Shown = toolkit::MessageBoxCall;

    FormFixture()
    {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        toolkit::SaveDialog::setHandler(
            [this](const toolkit::SaveDialog &dialog) -> std::optional<QString> {
                offeredNames << dialog.fileName();
                if (saveAnswers.empty())
                    return std::nullopt;
                const std::optional<QString> a = saveAnswers.front();
                saveAnswers.pop_front();
                return a;
            });
    }

    ~FormFixture()
    {
        form.reset();
        toolkit::SaveDialog::setHandler({});
        QDir::setCurrent(m_oldDir);
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString dataFile() const { return path(QStringLiteral("Baza.xml")); }

    void writeRegister(const QList<Values> &records)
    {
        store::saveDataPacketFile(dataFile(), makeRecords(records));
    }

    void writeRegister(int count)
    {
        std::vector<store::Record> rows(static_cast<size_t>(count));
        const int naziv = store::fieldIndex(u"Naziv");
        for (int i = 0; i < count; ++i)
            rows[size_t(i)].setText(naziv, QStringLiteral("Lijek %1").arg(i + 1));
        store::saveDataPacketFile(dataFile(), rows);
    }

    // Creates the window as the program does, shows it and lets the first
    // activation run. `Form` may be a test's subclass of the window.
    template <class Form = TForm1> Form *start()
    {
        auto *made = new Form;
        form.reset(made);
        form->FormCreate();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qWarning("window not exposed");
        QApplication::processEvents();
        form->activateWindow();
        QApplication::processEvents();
        return made;
    }

    QStringList captions() const { return boxes.captions(); }
    QStringList texts() const { return boxes.texts(); }

    // The register as saved in the data file, one Naziv per record.
    QStringList savedNames() const
    {
        QStringList names;
        for (const store::Record &r : store::loadDataPacketFile(dataFile()))
            names << r.text(store::fieldIndex(u"Naziv"));
        return names;
    }

    // Every message box asked for, and the answers to its questions.
    testsupport::ScriptedMessageBoxes boxes;
    std::vector<Shown> &shown = boxes.shown;
    std::deque<toolkit::MessageBoxAnswer> &answers = boxes.answers;
    std::function<void(const toolkit::MessageBoxCall &)> &onMessage = boxes.onMessage;
    std::unique_ptr<TForm1> form;
    std::deque<std::optional<QString>> saveAnswers;
    QStringList offeredNames;

private:
    QTemporaryDir m_dir;
    QString m_oldDir;
};

inline const QString greetingCaption = QStringLiteral("Pozdrav");
inline const QString limitMessage
    = QStringLiteral("Maksimalan broj zapisa je 10000.\nDaljnje dodavanje nije moguće.");
