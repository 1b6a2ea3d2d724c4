// Export from the window: the save that comes first, the dialog, the report,
// and every way it can end.
#include "formfixture.h"

#include "bitbtn.h"
#include "dbedit.h"

using store::ClientDataSet;

namespace {

QByteArray line(const QString &naziv)
{
    return "\"\";\"\";\"" + naziv.toLatin1() + "\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\"\r\n";
}

} // namespace

class TestExportWindow : public QObject
{
    Q_OBJECT

private slots:
    void exportsWhatTheSaveLeaves()
    {
        FormFixture fx;
        fx.writeRegister({{{"Naziv", "A"}}, {{"Ljekarna", "L"}}, {{"Naziv", "B"}}});
        TForm1 *form = fx.start();
        // A change still being typed is posted by the save and exported.
        form->DBEditNaziv->setFocus();
        typeText(form->DBEditNaziv, "2");
        QCOMPARE(form->CDSetLijekovi->state(), ClientDataSet::Edit);
        fx.shown.clear();
        fx.saveAnswers = {fx.path("out.txt")};
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);

        QCOMPARE(readFile(fx.path("out.txt")), line("A") + line("B2"));
        QCOMPARE(fx.savedNames(), (QStringList{"A", "B2"}));
        QCOMPARE(fx.captions(), QStringList{"Poruka"});
        QCOMPARE(fx.shown[0].text, "Baza eksportirana u " + QDir::toNativeSeparators(fx.path("out.txt")));
        QCOMPARE(fx.shown[0].style, 0);
        QCOMPARE(form->lblNumOfRecords->text(), QStringLiteral("2"));
    }

    // The walk leaves the table on its last record; by the time the next
    // thing is shown (the dialog, the closing message) the boxes and the grid
    // show that record, not the one the export started from.
    void boxesShowWhereTheWalkEnded()
    {
        FormFixture fx;
        fx.writeRegister({{{"Naziv", "A"}, {"Mjesto", "Split"}}, {{"Naziv", "B"}}, {{"Naziv", "C"}, {"Mjesto", "Osijek"}}});
        TForm1 *form = fx.start();
        form->CDSetLijekovi->first();
        QCOMPARE(form->DBEditMjesto->text(), QStringLiteral("Split"));
        QStringList seen;
        fx.onMessage = [&](const toolkit::MessageBoxCall &) {
            seen << form->DBEditNaziv->text() + QLatin1Char('/') + form->DBEditMjesto->text();
        };
        fx.saveAnswers = {fx.path("out.txt")};
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(readFile(fx.path("out.txt")).count("\r\n"), 3);
        QCOMPARE(seen, QStringList{"C/Osijek"});
        QCOMPARE(form->DBGridLijekovi->currentIndex().row(), form->CDSetLijekovi->currentRow());
    }

    void namelessRecordWithDataEndsTheExportOnNo()
    {
        FormFixture fx;
        fx.writeRegister({{{"Naziv", "A"}}, {{"Pacijent", "Ana"}}});
        const QByteArray before = readFile(fx.dataFile());
        TForm1 *form = fx.start();
        fx.shown.clear();
        fx.answers = {7};
        fx.saveAnswers = {fx.path("out.txt")};
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(fx.captions(), QStringList{"Pažnja!"});
        QVERIFY(fx.offeredNames.isEmpty());
        QVERIFY(!QFileInfo::exists(fx.path("out.txt")));
        QCOMPARE(readFile(fx.dataFile()), before);
        QCOMPARE(form->CDSetLijekovi->recordCount(), 2);
        QCOMPARE(form->CDSetLijekovi->currentRow(), 1);
    }

    void cancelWritesNoFileButSavesTheRegister()
    {
        FormFixture fx;
        fx.writeRegister({{{"Naziv", "A"}}, {{"Valuta", "EUR"}}, {{"Naziv", "B"}}, {{"Naziv", "C"}}});
        TForm1 *form = fx.start();
        form->CDSetLijekovi->first();
        fx.shown.clear();
        fx.saveAnswers = {std::nullopt};
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QVERIFY(fx.shown.empty());
        QCOMPARE(QDir(fx.path(".")).entryList(QStringList{"*.txt"}), QStringList{});
        QCOMPARE(fx.savedNames(), (QStringList{"A", "B", "C"}));
        QVERIFY(form->CDSetLijekovi->eof());
        QCOMPARE(form->DBEditNaziv->text(), QStringLiteral("C"));
    }

    void emptyRegisterGivesAnEmptyFile()
    {
        FormFixture fx;
        TForm1 *form = fx.start(); // a blank new record is pending: the save drops it
        fx.shown.clear();
        fx.saveAnswers = {fx.path("prazno.txt")};
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(readFile(fx.path("prazno.txt")), QByteArray());
        QCOMPARE(fx.captions(), QStringList{"Poruka"});
    }

    void dialogOffersTheLastNameAndAddsTheExtension()
    {
        FormFixture fx;
        fx.writeRegister({{{"Naziv", "A"}}});
        TForm1 *form = fx.start();
        fx.saveAnswers = {fx.path("izvoz"), std::nullopt, fx.path("drugi.txt")};
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(fx.offeredNames,
                 (QStringList{"lijekovi.txt", fx.path("izvoz.txt"), fx.path("izvoz.txt")}));
        QCOMPARE(readFile(fx.path("izvoz.txt")), line("A"));
        QCOMPARE(form->SaveDialog1->fileName(), fx.path("drugi.txt"));
    }

    void existingFileIsReplacedWithoutAQuestion()
    {
        FormFixture fx;
        fx.writeRegister({{{"Naziv", "A"}}});
        QFile old(fx.path("out.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'x'));
        old.close();
        TForm1 *form = fx.start();
        fx.shown.clear();
        fx.saveAnswers = {fx.path("out.txt")};
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(readFile(fx.path("out.txt")), line("A"));
        QCOMPARE(fx.captions(), QStringList{"Poruka"});
    }

    void unwritableTargetShowsTheReasonAndNothingElse()
    {
        FormFixture fx;
        fx.writeRegister(10000);
        TForm1 *form = fx.start();
        QVERIFY(QDir(fx.path(".")).mkpath("zauzeto.txt/unutra"));
        fx.shown.clear();
        fx.saveAnswers = {fx.path("zauzeto.txt")};
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        // The system's reason, and neither the report nor the limit check.
        QCOMPARE(fx.captions(), QStringList{"Greška"});
        QVERIFY2(fx.shown[0].text.contains(fx.path("zauzeto.txt")), qPrintable(fx.shown[0].text));
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
        fx.saveAnswers = {confirm ? std::optional<QString>(fx.path("sve.txt")) : std::nullopt};
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
        fx.writeRegister({{{"Naziv", "A"}}});
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
        QCOMPARE(fx.captions(), (QStringList{"Greška", "Poruka"}));
        // The rows in memory are exported all the same.
        QCOMPARE(readFile(fx.path("out.txt")), line("A"));
    }
};

QTEST_MAIN(TestExportWindow)
#include "tst_exportwindow.moc"
