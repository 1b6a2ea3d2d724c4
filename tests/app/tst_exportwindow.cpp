// Export from the window: the save that comes first, the dialog, the report,
// and every way it can end.
#include "tests/app/formfixture.h"

#include "store/messagetext.h"

#include "toolkit/bitbtn.h"
#include "toolkit/dbedit.h"

#include "tests/support/systemfiles.h"

using Answer = toolkit::MessageBoxAnswer;

using store::ClientDataSet;

namespace {

QByteArray line(const QString &naziv)
{
    return "\"\";\"\";\"" + naziv.toLatin1()
        + "\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\"\r\n";
}

// Every entry under `folder` (links not followed): its kind and, for a
// regular file, its bytes.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> out;
    QDir dir(folder);
    const auto names
        = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        const QFileInfo info(path);
        if (info.isSymLink()) {
            out[name] = "link to " + QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            for (auto [inner, bytes] : snapshot(path).asKeyValueRange())
                out[name + "/" + inner] = bytes;
        } else if (info.isFile()) {
            out[name] = readFile(path);
        } else {
            const testsupport::FileStamp st = testsupport::stampOf(path);
            out[name]
                = "special " + QByteArray::number(st.mode, 8) + " " + QByteArray::number(st.rdev);
        }
    }
    return out;
}

const QString RegisterItself = QStringLiteral("to je sam registar, datoteka \"Baza.xml\".");
const QString RegisterHelper = QStringLiteral(
    "to je pomoćna datoteka registra (zaključavanje, podaci za oporavak ili spremljena kopija).");

} // namespace

class TestExportWindow : public QObject
{
    Q_OBJECT

private slots:
    void exportsWhatTheSaveLeaves()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Ljekarna", "L" } }, { { "Naziv", "B" } } });
        TForm1 *form = fx.start();
        // A change still being typed is posted by the save and exported.
        form->DBEditNaziv->setFocus();
        typeText(form->DBEditNaziv, "2");
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Edit);
        fx.shown.clear();
        fx.saveAnswers = { fx.path("out.txt") };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);

        QCOMPARE(readFile(fx.path("out.txt")), line("A") + line("B2"));
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B2" }));
        QCOMPARE(fx.captions(), QStringList { "Poruka" });
        QCOMPARE(fx.shown[0].text,
            "Baza eksportirana u " + QDir::toNativeSeparators(fx.path("out.txt")));
        QCOMPARE(fx.shown[0].style, toolkit::MessageBoxStyle::Ok);
        QCOMPARE(form->lblNumOfRecords->text(), QStringLiteral("2"));
    }

    // The walk leaves the table on its last record; by the time the next
    // thing is shown (the dialog, the closing message) the boxes and the grid
    // show that record, not the one the export started from.
    void boxesShowWhereTheWalkEnded()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" }, { "Mjesto", "Split" } }, { { "Naziv", "B" } },
            { { "Naziv", "C" }, { "Mjesto", "Osijek" } } });
        TForm1 *form = fx.start();
        form->CDSetLijekovi->first();
        QCOMPARE(form->DBEditMjesto->text(), QStringLiteral("Split"));
        QStringList seen;
        fx.onMessage = [&](const toolkit::MessageBoxCall &) {
            seen << form->DBEditNaziv->text() + QLatin1Char('/') + form->DBEditMjesto->text();
        };
        fx.saveAnswers = { fx.path("out.txt") };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(readFile(fx.path("out.txt")).count("\r\n"), 3);
        QCOMPARE(seen, QStringList { "C/Osijek" });
        QCOMPARE(form->DBGridLijekovi->currentIndex().row(), form->CDSetLijekovi->currentRow());
    }

    void namelessRecordWithDataEndsTheExportOnNo()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Pacijent", "Ana" } } });
        const QByteArray before = readFile(fx.dataFile());
        TForm1 *form = fx.start();
        fx.shown.clear();
        fx.answers = { Answer::No };
        fx.saveAnswers = { fx.path("out.txt") };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(fx.captions(), QStringList { "Pažnja!" });
        QVERIFY(fx.offeredNames.isEmpty());
        QVERIFY(!QFileInfo::exists(fx.path("out.txt")));
        QCOMPARE(readFile(fx.dataFile()), before);
        QCOMPARE(form->CDSetLijekovi->recordCount(), 2);
        QCOMPARE(form->CDSetLijekovi->currentRow(), 1);
    }

    void cancelWritesNoFileButSavesTheRegister()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Valuta", "EUR" } }, { { "Naziv", "B" } },
            { { "Naziv", "C" } } });
        TForm1 *form = fx.start();
        form->CDSetLijekovi->first();
        fx.shown.clear();
        fx.saveAnswers = { std::nullopt };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QVERIFY(fx.shown.empty());
        QCOMPARE(QDir(fx.path(".")).entryList(QStringList { "*.txt" }), QStringList {});
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B", "C" }));
        QVERIFY(form->CDSetLijekovi->eof());
        QCOMPARE(form->DBEditNaziv->text(), QStringLiteral("C"));
    }

    void emptyRegisterGivesAnEmptyFile()
    {
        FormFixture fx;
        TForm1 *form = fx.start(); // a blank new record is pending: the save drops it
        fx.shown.clear();
        fx.saveAnswers = { fx.path("prazno.txt") };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(readFile(fx.path("prazno.txt")), QByteArray());
        QCOMPARE(fx.captions(), QStringList { "Poruka" });
    }

    void dialogOffersTheLastNameAndAddsTheExtension()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        fx.saveAnswers = { fx.path("izvoz"), std::nullopt, fx.path("drugi.txt") };
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(fx.offeredNames,
            (QStringList { "lijekovi.txt", fx.path("izvoz.txt"), fx.path("izvoz.txt") }));
        QCOMPARE(readFile(fx.path("izvoz.txt")), line("A"));
        QCOMPARE(form->SaveDialog1->fileName(), fx.path("drugi.txt"));
    }

    void existingFileIsReplacedWithoutAQuestion()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        QFile old(fx.path("out.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'x'));
        old.close();
        TForm1 *form = fx.start();
        fx.shown.clear();
        fx.saveAnswers = { fx.path("out.txt") };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(readFile(fx.path("out.txt")), line("A"));
        QCOMPARE(fx.captions(), QStringList { "Poruka" });
    }

    void unwritableTargetShowsTheReasonAndNothingElse()
    {
        FormFixture fx;
        fx.writeRegister(10000);
        TForm1 *form = fx.start();
        QVERIFY(QDir(fx.path(".")).mkpath("zauzeto.txt/unutra"));
        fx.shown.clear();
        fx.saveAnswers = { fx.path("zauzeto.txt") };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        // The system's reason, and neither the report nor the limit check.
        QCOMPARE(fx.captions(), QStringList { "Greška" });
        QVERIFY2(fx.shown[0].text.contains(store::shownPath(fx.path("zauzeto.txt"))),
            qPrintable(fx.shown[0].text));
        QVERIFY(!fx.texts().contains(limitMessage));
        QCOMPARE(form->CDSetLijekovi->recordCount(), 10000);
    }

    void limitMessageComesLast_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("confirmed") << true;
        QTest::newRow("cancelled") << false;
    }

    void limitMessageComesLast()
    {
        QFETCH(bool, confirm);
        FormFixture fx;
        fx.writeRegister(10000);
        TForm1 *form = fx.start();
        fx.shown.clear();
        fx.saveAnswers = { confirm ? std::optional<QString>(fx.path("sve.txt")) : std::nullopt };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QStringList expected;
        if (confirm)
            expected << "Baza eksportirana u " + QDir::toNativeSeparators(fx.path("sve.txt"));
        expected << limitMessage;
        QCOMPARE(fx.texts(), expected);
        if (confirm)
            QCOMPARE(readFile(fx.path("sve.txt")).count("\r\n"), 10000);
    }

    void failedRegisterSaveComesBeforeTheDialog()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } } });
        TForm1 *form = fx.start();
        QVERIFY(QFile::remove(fx.dataFile()));
        QVERIFY(QDir(fx.path(".")).mkpath("Baza.xml/unutra"));
        fx.shown.clear();
        int shownWhenDialogOpened = -1;
        toolkit::SaveDialog::setHandler([&](const toolkit::SaveDialog &) -> std::optional<QString> {
            shownWhenDialogOpened = int(fx.shown.size());
            return fx.path("out.txt");
        });
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(shownWhenDialogOpened, 1);
        QCOMPARE(fx.captions(), (QStringList { "Greška", "Poruka" }));
        // The rows in memory are exported all the same.
        QCOMPARE(readFile(fx.path("out.txt")), line("A"));
    }

    // An export never lands on the register's own files, however the name
    // reaches them, nor on anything that is not a regular file. It is
    // refused after the dialog, before anything is written.
    void exportOntoTheRegistersFilesOrNoFileIsRefused_data()
    {
        QTest::addColumn<QString>("target"); // relative to the register's folder
        QTest::addColumn<QString>("setup"); // what is there before
        QTest::addColumn<QString>("reason"); // empty: the export is written

        QTest::newRow("the register") << "Baza.xml"
                                      << "" << RegisterItself;
        QTest::newRow("its lock") << ".Baza.xml.lock"
                                  << "file" << RegisterHelper;
        QTest::newRow("its recovery data") << ".Baza.xml.recovery"
                                           << "file" << RegisterHelper;
        QTest::newRow("a recovery copy not yet there") << ".Baza.xml.recovery-20261210-143055"
                                                       << "" << RegisterHelper;
        QTest::newRow("a copy kept beside it") << "Baza.xml.20261210-143055"
                                               << "file" << RegisterHelper;
        QTest::newRow("a save's temporary file") << ".Baza.xml.lijekovi-Ab3x9Q"
                                                 << "file" << RegisterHelper;
        QTest::newRow("the register through a link to its folder")
            << "veza/Baza.xml"
            << "link to folder" << RegisterItself;
        QTest::newRow("a link elsewhere to the register") << "drugdje/izvoz.txt"
                                                          << "link to Baza.xml" << RegisterItself;
        QTest::newRow("a link elsewhere to recovery data not yet there")
            << "drugdje/izvoz.txt"
            << "link to .Baza.xml.recovery" << RegisterHelper;
        QTest::newRow("a second name of the lock elsewhere")
            << "drugdje/izvoz.txt"
            << "hard link to .Baza.xml.lock" << RegisterHelper;
        QTest::newRow("a FIFO") << "cijev.txt"
                                << "fifo"
                                << "to nije obična datoteka, nego imenovana cijev (FIFO).";
        QTest::newRow("a link to a FIFO")
            << "drugdje/izvoz.txt"
            << "link to FIFO"
            << "to nije obična datoteka, nego imenovana cijev (FIFO).";
        QTest::newRow("a folder") << "mapa.txt"
                                  << "folder"
                                  << "to nije obična datoteka, nego mapa.";
        QTest::newRow("a device node") << "uredaj.txt"
                                       << "device"
                                       << "to nije obična datoteka, nego datoteka uređaja.";
        // Names merely like the register's, or elsewhere, are the user's.
        QTest::newRow("another file in the register's folder") << "lijekovi.txt"
                                                               << "file"
                                                               << "";
        QTest::newRow("a register's name in another folder") << "drugdje/Baza.xml"
                                                             << "file"
                                                             << "";
    }

    void exportOntoTheRegistersFilesOrNoFileIsRefused()
    {
        QFETCH(QString, target);
        QFETCH(QString, setup);
        QFETCH(QString, reason);
        if (setup.startsWith("link to ") || setup == "fifo" || setup == "device")
            LIJEKOVI_POSIX_ONLY("symbolic links, FIFOs and device nodes");
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "A" } }, { { "Naziv", "B" } } });
        QVERIFY(QDir(fx.path(".")).mkdir("drugdje"));
        const QString path = fx.path(target);
        if (setup == "file") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("staro " + target.toUtf8());
        } else if (setup == "link to folder") {
            QVERIFY(QFile::link(fx.path("."), fx.path("veza")));
        } else if (setup.startsWith("link to FIFO")) {
            QVERIFY(testsupport::makeFifo(fx.path("drugdje/cijev")));
            QVERIFY(QFile::link(fx.path("drugdje/cijev"), path));
        } else if (setup.startsWith("link to ")) {
            QVERIFY(QFile::link(fx.path(setup.mid(8)), path));
        } else if (setup.startsWith("hard link to ")) {
            QFile lock(fx.path(setup.mid(13)));
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write("123\nlijekovi\nhost\n");
            lock.close();
            QVERIFY(testsupport::makeHardLink(lock.fileName(), path));
        } else if (setup == "fifo") {
            QVERIFY(testsupport::makeFifo(path));
        } else if (setup == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (setup == "device") {
            if (!testsupport::makeNullDevice(path))
                QSKIP("making a device node needs the superuser");
        }

        TForm1 *form = fx.start();
        // The save before the dialog writes the same register again.
        const auto before = snapshot(fx.path("."));
        fx.shown.clear();
        fx.saveAnswers = { path };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);

        QCOMPARE(fx.offeredNames.size(), 1);
        if (reason.isEmpty()) {
            QCOMPARE(fx.captions(), QStringList { "Poruka" });
            QCOMPARE(readFile(path), line("A") + line("B"));
            return;
        }
        QCOMPARE(fx.captions(), QStringList { "Greška" });
        QCOMPARE(fx.shown[0].text,
            QStringLiteral("Izvoz se ne može spremiti u \"%1\": %2\nNišta nije zapisano. %3")
                .arg(QDir::toNativeSeparators(path), reason,
                    reason.startsWith("to nije")
                        ? QStringLiteral("Odaberite ime obične datoteke.")
                        : QStringLiteral("Odaberite drugo ime ili drugu mapu.")));
        QCOMPARE(snapshot(fx.path(".")), before);
        QCOMPARE(fx.savedNames(), (QStringList { "A", "B" }));
    }
};

QTEST_MAIN(TestExportWindow)
#include "tst_exportwindow.moc"
