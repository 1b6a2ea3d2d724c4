#include "app/unit1.h"

#include "app/deleteundo.h"
#include "app/entrysuggestions.h"
#include "app/registerfinder.h"
#include "export/textexport.h"
#include "store/clientdataset.h"
#include "store/datapacket.h"
#include "store/exception.h"
#include "store/journal.h"
#include "store/messagetext.h"
#include "store/safefile.h"
#include "toolkit/bitbtn.h"
#include "toolkit/datasource.h"
#include "toolkit/dbedit.h"
#include "toolkit/dbgrid.h"
#include "toolkit/fontfit.h"
#include "toolkit/handlers.h"
#include "toolkit/messagebox.h"
#include "toolkit/savedialog.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSessionManager>
#include <QWindow>

#include <algorithm>
#include <iterator>
#include <optional>

using toolkit::BitBtn;
using toolkit::DataSource;
using toolkit::DBEdit;
using toolkit::DBGridColumn;
using toolkit::SaveDialog;

namespace {

constexpr int RecordLimit = 10000;

const QString Greska = QStringLiteral("Greška");
const QString Paznja = QStringLiteral("Pažnja!");
const QString Poruka = QStringLiteral("Poruka");

// What is typed is recorded this long after the typing stops, and at least
// this often while it goes on.
constexpr int DraftDelayMs = 2000;
// How long an ending by signal waits for open boxes and dialogs to close.
constexpr int EndingGraceMs = 3000;

QString greeting()
{
    return QStringLiteral("Tervalis\n\n")
        + QStringLiteral("Primjerna ulica 12\n10000 Zagreb, Hrvatska\n\n")
        + QStringLiteral(
            "Tel: +385 1 555 0100\nFax: +385 1 555 0101\nE-mail: info@tervalis.example\n\n")
        + QStringLiteral("Web: www.tervalis.example\n\n") + QStringLiteral("v2.1");
}

// The panel's controls keep their designed places at any window size, so a
// narrower or lower window would cut off the right-hand boxes and buttons,
// and then the grid, with no way to reach them. The smallest window shows
// all of the panel and the grid's header with three rows under it.
QSize smallestUsableSize(const QFrame *panel, const QTableView *grid)
{
    constexpr int gridRows = 3;
    constexpr int rightMargin = 8;
    const int width = panel->childrenRect().right() + 1 + panel->frameWidth() + rightMargin;
    const int gridHeight = 2 * grid->frameWidth() + grid->horizontalHeader()->sizeHint().height()
        + gridRows * grid->verticalHeader()->defaultSectionSize()
        + grid->horizontalScrollBar()->sizeHint().height();
    return { width, panel->minimumHeight() + gridHeight };
}

QList<DBGridColumn> gridColumns(const QStringList &description)
{
    // "field:title:width", an empty title meaning the field's name and an
    // empty width the grid's default for the field.
    QList<DBGridColumn> columns;
    for (const QString &entry : description) {
        const QStringList parts = entry.split(QLatin1Char(':'));
        DBGridColumn column;
        column.fieldName = parts.value(0);
        column.title = parts.value(1).isEmpty() ? column.fieldName : parts.value(1);
        bool ok = false;
        const int width = parts.value(2).toInt(&ok);
        column.width = ok ? width : -1;
        columns << column;
    }
    return columns;
}

} // namespace

// The artwork is compiled into the window's static library; a static
// library's resources are registered by hand.
static void initArtwork() { Q_INIT_RESOURCE(artwork); }

TForm1::TForm1(QWidget *parent)
    : QWidget(parent)
{
    initArtwork();
    toolkit::substituteClassicFonts();
    createComponents();
    setupUi(this);
    toolkit::fitLabels(Panel1);
    bindComponents();
    setMinimumSize(smallestUsableSize(Panel1, DBGridLijekovi));
    fitToScreen();
    // A control reached by Tab or by a command is scrolled into sight when
    // the panel scrolls.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (m_panelScroller && now && Panel1->isAncestorOf(now))
            m_panelScroller->ensureWidgetVisible(now);
    });
    // Ctrl+F, F3, Shift+F3: an addition that changes nothing of the layout.
    new RegisterFinder(this, DataSourceLijekovi);
    // Values offered while typing, and Ctrl+Z after Izbriši: additions too.
    new EntrySuggestions(this);
    new DeleteUndo(this);

    MaxRecords = RecordLimit;
    DataFileName = QStringLiteral("Baza.xml");
    DataFilePath = QDir::currentPath() + QDir::separator() + DataFileName;

    m_journal = std::make_unique<store::RecoveryJournal>(recoveryFilePath());
    m_draftTimer.setSingleShot(true);
    connect(&m_draftTimer, &QTimer::timeout, this, &TForm1::recordDraft);
}

QString TForm1::recoveryFilePath() const
{
    return QFileInfo(DataFilePath).absolutePath() + QStringLiteral("/.") + DataFileName
        + QStringLiteral(".recovery");
}

QString TForm1::journalFilePath() const { return m_journal->path(); }

void TForm1::setRecoveryAllowed(bool allowed)
{
    m_recoveryAllowed = allowed;
    // Another copy may be writing the journal of the register: this one
    // keeps its own, named so that it cannot meet another's.
    m_journal = std::make_unique<store::RecoveryJournal>(
        allowed ? recoveryFilePath() : store::RecoveryJournal::privateName(recoveryFilePath()));
}

TForm1::~TForm1()
{
    // The data-aware controls are destroyed before the dataset they show.
    CDSetLijekovi->afterInsert = nullptr;
    CDSetLijekovi->beforePost = nullptr;
    CDSetLijekovi->afterPost = nullptr;
    CDSetLijekovi->afterChange = nullptr;
    disconnect(DataSourceLijekovi, nullptr, this, nullptr);
    // Destroying the controls moves the focus; this window is no longer
    // one to scroll them into sight.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    delete DBGridLijekovi;
    delete Panel1;
}

void TForm1::createComponents()
{
    CDSetLijekovi = new store::ClientDataSet(this);
    CDSetLijekovi->setObjectName(QStringLiteral("CDSetLijekovi"));
    store::Field **fields[] = {
        &CDSetLijekoviTar_br,
        &StringField1,
        &StringField2,
        &CDSetLijekoviGen_ime,
        &CDSetLijekoviATK,
        &StringField3,
        &CDSetLijekoviKolicina,
        &StringField4,
        &CDSetLijekoviJed_mjere,
        &CDSetLijekoviValuta,
        &CDSetLijekoviCijena,
        &CDSetLijekoviProtokol,
        &CDSetLijekoviPropisivac,
        &CDSetLijekoviUstanova,
        &CDSetLijekoviHpbroj,
        &CDSetLijekoviMjesto,
        &CDSetLijekoviAdresa,
    };
    for (int i = 0; i < CDSetLijekovi->getFieldCount(); ++i)
        *fields[i] = CDSetLijekovi->fields(i);

    DataSourceLijekovi = new DataSource(this);
    DataSourceLijekovi->setObjectName(QStringLiteral("DataSourceLijekovi"));
    DataSourceLijekovi->setDataSet(CDSetLijekovi);

    SaveDialog1 = new SaveDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setDefaultExt(QStringLiteral("txt"));
    SaveDialog1->setFileName(QStringLiteral("lijekovi.txt"));
    SaveDialog1->setFilter(QStringLiteral("Tekst (*.txt)|*.txt"));
}

void TForm1::bindComponents()
{
    // The layout names each control's data source and field; resolve them.
    const auto source = [this](const QObject *control) {
        return findChild<DataSource *>(control->property("dataSource").toString());
    };
    DBGridLijekovi->setDataSource(source(DBGridLijekovi));
    DBGridLijekovi->setColumns(gridColumns(DBGridLijekovi->property("columns").toStringList()));
    for (DBEdit *edit : Panel1->findChildren<DBEdit *>()) {
        edit->setDataSource(source(edit));
    }
    for (BitBtn *button : Panel1->findChildren<BitBtn *>()) {
        button->setNumGlyphs(button->property("numGlyphs").toInt());
        button->setGlyph(QImage(button->property("glyph").toString()));
    }

    // Events of the components the layout cannot hold.
    CDSetLijekovi->afterInsert = [this] { CDSetLijekoviAfterInsert(); };
    CDSetLijekovi->beforePost = [this] { CDSetLijekoviBeforePost(); };
    CDSetLijekovi->afterPost = [this] { CDSetLijekoviAfterPost(); };
    connect(
        DataSourceLijekovi, &DataSource::dataChange, this, &TForm1::DataSourceLijekoviDataChange);

    // The crash-recovery journal follows every change, and what is typed.
    CDSetLijekovi->afterChange
        = [this](const store::TableChange &change) { journalChange(change); };
    connect(DataSourceLijekovi, &DataSource::dataChange, this, &TForm1::scheduleDraft);
    for (DBEdit *edit : Panel1->findChildren<DBEdit *>())
        connect(edit, &QLineEdit::textEdited, this, &TForm1::scheduleDraft);
    connect(DBGridLijekovi, &toolkit::DBGrid::cellTextEdited, this, &TForm1::scheduleDraft);
}

// ------------------------------------------------------------- lifecycle

void TForm1::FormCreate()
{
    toolkit::runHandler([this] {
        toolkit::messageBox(greeting(), QStringLiteral("Pozdrav"), toolkit::MessageBoxStyle::Ok);
        // A link whose file is gone is not made anew: where it leads was
        // never this program's register.
        if (QFileInfo::exists(DataFileName) || QFileInfo(DataFileName).isSymLink()) {
            try {
                loadRegister(DataFilePath);
            } catch (const store::Exception &e) {
                // The file stays as it is: only Erase may replace it.
                throw store::Exception(e.message()
                    + QStringLiteral("\n\nRegistar nije otvoren i datoteka se neće mijenjati."));
            }
            CDSetLijekovi->last();
        } else {
            CreateEmptyDatabase(DataFileName);
            CDSetLijekovi->open();
        }
        offerRecovery();
        if (CDSetLijekovi->recordCount() == 0)
            BitBtnDel->setEnabled(false);
    });
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Qt re-activates the window after every message box and every switch
    // back from another program; the record-limit check belongs to the
    // first showing only.
    if (!m_activated) {
        m_activated = true;
        // The window's frame is known now, and the window may move to
        // another screen later.
        fitToScreen();
        if (QWindow *window = windowHandle())
            connect(window, &QWindow::screenChanged, this, &TForm1::fitToScreen);
        QMetaObject::invokeMethod(this, &TForm1::FormActivate, Qt::QueuedConnection);
    }
}

void TForm1::fitToScreen()
{
    const QScreen *screen = this->screen();
    if (!screen)
        return;
    QSize room = screen->availableGeometry().size();
    if (const QWindow *window = windowHandle()) {
        const QMargins frame = window->frameMargins();
        room -= QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    }
    const QSize designed = smallestUsableSize(Panel1, DBGridLijekovi);
    if (designed.width() <= room.width() && designed.height() <= room.height()) {
        // The designed window, exactly.
        if (m_panelScroller) {
            auto *box = static_cast<QBoxLayout *>(layout());
            const int at = box->indexOf(m_panelScroller);
            m_panelScroller->takeWidget();
            Panel1->setMinimumWidth(0);
            box->insertWidget(at, Panel1);
            delete m_panelScroller;
            m_panelScroller = nullptr;
        }
        setMinimumSize(designed);
        return;
    }
    // A screen smaller than the window's smallest size (a small one, or a
    // large desktop scale): the panel keeps its designed places and
    // scrolls inside the window, which takes no more than the screen has.
    const int panelWidth = designed.width();
    const int panelHeight = Panel1->minimumHeight();
    if (!m_panelScroller) {
        auto *box = static_cast<QBoxLayout *>(layout());
        const int at = box->indexOf(Panel1);
        box->removeWidget(Panel1);
        m_panelScroller = new QScrollArea(this);
        m_panelScroller->setObjectName(QStringLiteral("Panel1Scroller"));
        m_panelScroller->setFrameShape(QFrame::NoFrame);
        m_panelScroller->setWidgetResizable(true);
        m_panelScroller->setWidget(Panel1);
        box->insertWidget(at, m_panelScroller);
    }
    Panel1->setMinimumWidth(panelWidth);
    const int gridHeight = designed.height() - panelHeight;
    const int scrollBar = m_panelScroller->horizontalScrollBar()->sizeHint().height();
    const int panelRoom = panelHeight + (panelWidth > room.width() ? scrollBar : 0);
    const int scrollerHeight
        = std::min(panelRoom, std::max(scrollBar * 3, room.height() - gridHeight));
    m_panelScroller->setFixedHeight(scrollerHeight);
    setMinimumSize(QSize(
        std::min(panelWidth, room.width()), std::min(gridHeight + scrollerHeight, room.height())));
    resize(size().boundedTo(room));
}

void TForm1::FormActivate()
{
    toolkit::runHandler([this] { CheckRecordLimit(); });
}

void TForm1::closeEvent(QCloseEvent *event)
{
    FormClose();
    if (m_closeRefused)
        event->ignore();
    else
        event->accept();
}

void TForm1::FormClose()
{
    m_closeRefused = false;
    // A register that could not be loaded is never written over on close.
    if (!CDSetLijekovi->active())
        return;
    bool saved = false;
    toolkit::runHandler([&] { saved = SaveDatabase(); });
    // Nobody can answer: the journal keeps everything for the next start.
    if (saved || toolkit::unattended())
        return;
    // The user chose to look at the records before they go.
    if (m_saveDeclined) {
        m_closeRefused = true;
        return;
    }
    // Closing now would lose every entry since the last save; the user may
    // rather free space or fix the folder and close again. No is the
    // default: Enter pressed by reflex on the error box just before must not
    // throw the entries away.
    m_closeRefused
        = toolkit::messageBox(
              QStringLiteral("Podaci nisu spremljeni.\nDa: program se zatvara bez spremanja.\nNe: "
                             "program ostaje otvoren.\nZatvoriti program bez spremanja?"),
              Paznja, toolkit::MessageBoxStyle::YesNoDefaultNo)
        != toolkit::MessageBoxAnswer::Yes;
    // The entries stay in the journal (the save failed: they may exist
    // nowhere else), but the next start is told this was no crash.
    if (!m_closeRefused && m_journalling) {
        try {
            m_journal->markClosedWithoutSaving(CDSetLijekovi->records());
        } catch (const store::Exception &e) {
            qWarning("%ls", qUtf16Printable(e.message()));
        }
    }
}

void TForm1::BitBtnExitClick()
{
    toolkit::runHandler([this] { close(); });
}

bool TForm1::CheckRecordLimit()
{
    if (CDSetLijekovi->recordCount() < MaxRecords) {
        BitBtnAdd->setEnabled(true);
        return false;
    }
    BitBtnAdd->setEnabled(false);
    toolkit::messageBox(
        QStringLiteral("Maksimalan broj zapisa je %1.\nDaljnje dodavanje nije moguće.")
            .arg(MaxRecords),
        Greska, toolkit::MessageBoxStyle::Ok);
    return true;
}

void TForm1::CreateEmptyDatabase(const QString &fileName)
{
    LastLjekarna.clear();
    LastProizvodjac.clear();
    LastValuta.clear();
    LastJed_mjere.clear();
    CDSetLijekovi->close();
    CDSetLijekovi->createDataSet();
    CDSetLijekovi->insert();
    writeRegisterFile(fileName, CDSetLijekovi->records());
    CDSetLijekovi->open();
}

void TForm1::PurgeUnnamedRecords()
{
    // One pass over the table rather than a delete per record: the register
    // may hold thousands of nameless entries.
    const int naziv = StringField2->index();
    CDSetLijekovi->deleteWhere(
        [naziv](const store::Record &record) { return record.isEmpty(naziv); });
}

bool TForm1::SaveDatabase()
{
    m_saveDeclined = false;
    // A pending record takes part in the purge below; completing it may
    // refuse a number that is not one, which stops the save.
    completePendingRecord();

    const int naziv = StringField2->index();
    const auto typedButNameless = [this, naziv](const store::Record &record) {
        return record.isEmpty(naziv) && holdsTypedData(record);
    };
    const auto &records = CDSetLijekovi->records();
    const auto firstTyped = std::find_if(records.begin(), records.end(), typedButNameless);
    const int typed = int(std::count_if(firstTyped, records.end(), typedButNameless));
    std::vector<store::Record> keptForRecovery;
    if (typed > 0 && toolkit::unattended()) {
        // Nobody can be asked whether these may go: they are left out of
        // the file and stay in the journal, so the next start offers them.
        std::copy_if(
            firstTyped, records.end(), std::back_inserter(keptForRecovery), typedButNameless);
        CDSetLijekovi->deleteWhere([naziv, typedButNameless](const store::Record &record) {
            return record.isEmpty(naziv) && !typedButNameless(record);
        });
    } else if (typed > 0) {
        // Said plainly: what is wrong, which entry it is, and what each
        // answer does; No is the default and loses nothing.
        const int firstRow = int(firstTyped - records.begin());
        const QString patient = firstTyped->text(StringField4->index()).trimmed();
        const QString first = patient.isEmpty()
            ? QStringLiteral("redak %1").arg(firstRow + 1)
            : QStringLiteral("redak %1, pacijent „%2“").arg(firstRow + 1).arg(patient);
        const QString question
            = QStringLiteral("Bez naziva lijeka, a s drugim upisanim podacima: %1 (prvi: %2).\n"
                             "Zapis bez naziva lijeka ne može se spremiti.\n"
                             "Da: ti se zapisi brišu, a ostali se spremaju.\n"
                             "Ne: ništa se ne briše ni ne sprema, a kursor ide u naziv lijeka "
                             "prvoga od njih.\nObrisati ih?")
                  .arg(store::entryCount(typed), first);
        if (toolkit::messageBox(question, Paznja, toolkit::MessageBoxStyle::YesNoDefaultNo)
            != toolkit::MessageBoxAnswer::Yes) {
            m_saveDeclined = true;
            CDSetLijekovi->moveTo(firstRow);
            DBEditNaziv->setFocus();
            return false;
        }
    }
    if (keptForRecovery.empty())
        PurgeUnnamedRecords();

    std::vector<store::Record> saved;
    try {
        if (CDSetLijekovi->state() == store::ClientDataSet::Edit)
            CDSetLijekovi->post();
        CDSetLijekovi->mergeChangeLog();
        if (keptForRecovery.empty()) {
            saved = CDSetLijekovi->records();
        } else {
            std::copy_if(records.begin(), records.end(), std::back_inserter(saved),
                [naziv](const store::Record &record) { return !record.isEmpty(naziv); });
        }
        if (!registerFileMayBeWritten(DataFilePath, saved))
            return false;
        writeRegisterFile(DataFilePath, saved);
    } catch (const store::Exception &e) {
        toolkit::messageBox(e.message(), Greska, toolkit::MessageBoxStyle::Ok);
        return false;
    }
    journalSaved(saved);
    return true;
}

void TForm1::requireOpenRegister() const
{
    if (!CDSetLijekovi->active()) {
        throw store::Exception(
            QStringLiteral("Registar nije otvoren jer se datoteka \"%1\" nije mogla učitati.\n"
                           "Ništa nije promijenjeno.")
                .arg(store::shownPath(DataFilePath)));
    }
}

// ------------------------------------------------------ the register's file

void TForm1::loadRegister(const QString &fileName)
{
    const store::FileIdentity before = store::identifyFile(fileName);
    // Remembered even when the load fails: Erase may replace that file, and
    // only that one.
    const auto remember = qScopeGuard([&] { m_registerFile.loaded(fileName, before); });
    CDSetLijekovi->loadFromFile(fileName);
}

bool TForm1::registerFileMayBeWritten(
    const QString &fileName, const std::vector<store::Record> &rows)
{
    m_registerFileKept = false;
    const RegisterFileGuard::Finding found = m_registerFile.check(fileName);
    if (found.change == RegisterFileGuard::Change::None) {
        m_registerFile.approve(found.current);
        return true;
    }
    if (toolkit::unattended()) {
        writeRegisterBeside(fileName, rows);
        return false;
    }
    // The file found is not this program's: a Yes replaces it only after
    // keeping it beside, under the name the question gives.
    const QString keepAs
        = found.current.exists ? RegisterFileGuard::copyPathFor(fileName) : QString();
    if (toolkit::messageBox(
            found.question(keepAs), Paznja, toolkit::MessageBoxStyle::YesNoDefaultNo)
        != toolkit::MessageBoxAnswer::Yes) {
        m_registerFileKept = true;
        return false;
    }
    m_registerFile.approve(found.current, keepAs);
    return true;
}

void TForm1::writeRegisterFile(const QString &fileName, const std::vector<store::Record> &rows)
{
    // The write itself checks once more, just before its rename, that the
    // file there is the one approved.
    store::ReplaceCheck check(
        fileName, store::ReplaceCheck::ReplaceExpected, m_registerFile.expected());
    check.keepReplacedAs(m_registerFile.keepAs(fileName));
    store::saveDataPacketFile(fileName, rows);
    if (check.written())
        m_registerFile.written(fileName, *check.written());
}

void TForm1::writeRegisterBeside(const QString &fileName, const std::vector<store::Record> &rows)
{
    // Nobody can say whether the file found may go: it stays, and the
    // register is kept next to it under a new name.
    const QString base = fileName + QLatin1Char('.')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n <= 100; ++n) {
        const QString name = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        store::ReplaceCheck check(name, store::ReplaceCheck::CreateOnly);
        try {
            store::saveDataPacketFile(name, rows);
            qWarning("%ls was changed by another program and is kept; the register is saved "
                     "beside it as %ls.",
                qUtf16Printable(QDir::toNativeSeparators(fileName)),
                qUtf16Printable(QDir::toNativeSeparators(name)));
            return;
        } catch (const store::Exception &) {
            if (!check.nameTaken())
                throw;
        }
    }
    throw store::Exception(QStringLiteral("Datoteka \"%1\" ne može se spremiti: sva su imena "
                                          "za kopiju pored nje zauzeta.")
                               .arg(store::shownPath(base)));
}

QStringList TForm1::registerFolders() const
{
    // The folder of the path, and the folder the program started in, which
    // it keeps even when that is renamed: its lock is there.
    return { QFileInfo(DataFilePath).absolutePath(), QDir::currentPath() };
}

// -------------------------------------------------------------- commands

void TForm1::BitBtnAddClick()
{
    toolkit::runHandler([this] {
        requireOpenRegister();
        CDSetLijekovi->insert();
        DBEditTar_br->setFocus();
        CheckRecordLimit();
    });
}

void TForm1::BitBtnDelClick()
{
    toolkit::runHandler([this] {
        requireOpenRegister();
        if (CDSetLijekovi->recordCount() > 0)
            CDSetLijekovi->deleteRecord();
        if (CDSetLijekovi->recordCount() == 0) {
            BitBtnDel->setEnabled(false);
            CDSetLijekovi->last();
            CDSetLijekovi->insert();
        }
        CheckRecordLimit();
        DBEditTar_br->setFocus();
    });
}

void TForm1::browse(void (store::ClientDataSet::*step)())
{
    toolkit::runHandler([this, step] {
        if (CDSetLijekovi->active())
            (CDSetLijekovi->*step)();
    });
}

void TForm1::BitBtnFirstClick() { browse(&store::ClientDataSet::first); }

void TForm1::BitBtnPrevClick() { browse(&store::ClientDataSet::prior); }

void TForm1::BitBtnNextClick() { browse(&store::ClientDataSet::next); }

void TForm1::BitBtnLastClick() { browse(&store::ClientDataSet::last); }

void TForm1::BitBtnEraseClick()
{
    toolkit::runHandler([this] {
        // A file that could not be loaded is not this program's to empty.
        requireOpenRegister();
        // Both questions default to No: Enter pressed twice by reflex must
        // not empty the register.
        if (toolkit::messageBox(
                QStringLiteral("Praznim baze?"), Paznja, toolkit::MessageBoxStyle::YesNoDefaultNo)
                == toolkit::MessageBoxAnswer::Yes
            && toolkit::messageBox(QStringLiteral("Jeste li SIGURNI?\nNakon ovog nema povratka!"),
                   Paznja, toolkit::MessageBoxStyle::YesNoDefaultNo)
                == toolkit::MessageBoxAnswer::Yes
            // Both questions were about this register, not a file another
            // program has put in its place since.
            && registerFileMayBeWritten(DataFileName, CDSetLijekovi->records())) {
            CreateEmptyDatabase(DataFileName);
            loadRegister(DataFileName);
            CDSetLijekovi->last();
            journalSaved(CDSetLijekovi->records());
            toolkit::messageBox(
                QStringLiteral("Baze prezne!"), QString(), toolkit::MessageBoxStyle::Ok);
        }
        CheckRecordLimit();
        DBEditTar_br->setFocus();
    });
}

void TForm1::BitBtnExportClick()
{
    toolkit::runHandler([this] {
        requireOpenRegister();
        m_registerFileKept = false;
        SaveDatabase();
        // The user kept a file another program put in the register's place:
        // the export of a register that is not on disk ends here too.
        if (m_saveDeclined || m_registerFileKept)
            return;
        QStringList lines;
        {
            // The walk visits every record: the boxes and the grid's picture
            // stay still meanwhile and show where it ended once it is done.
            const toolkit::ControlsDisabled quiet(*DataSourceLijekovi);
            lines = textexport::buildLines(*CDSetLijekovi);
        }
        if (SaveDialog1->execute(this)) {
            checkExportTarget(SaveDialog1->fileName(), registerFolders());
            textexport::saveLines(SaveDialog1->fileName(), lines);
            toolkit::messageBox(
                QStringLiteral("Baza eksportirana u ") + store::shownPath(SaveDialog1->fileName()),
                QStringLiteral("Poruka"), toolkit::MessageBoxStyle::Ok);
        }
        CheckRecordLimit();
    });
}

void TForm1::DBGridLijekoviExit()
{
    toolkit::runHandler([this] {
        if (CDSetLijekovi->state() == store::ClientDataSet::Edit)
            CDSetLijekovi->post();
    });
}

void TForm1::DBEditAdresaExit()
{
    toolkit::runHandler([this] {
        if (!CheckRecordLimit()) {
            CDSetLijekovi->insert();
            DBEditTar_br->setFocus();
        }
    });
}

// ---------------------------------------------------------- data events

void TForm1::CDSetLijekoviBeforePost()
{
    LastLjekarna = StringField1->asString();
    LastProizvodjac = StringField3->asString();
    LastValuta = CDSetLijekoviValuta->asString();
    LastJed_mjere = CDSetLijekoviJed_mjere->asString();
}

void TForm1::CDSetLijekoviAfterInsert()
{
    StringField1->setAsString(LastLjekarna);
    StringField3->setAsString(LastProizvodjac);
    CDSetLijekoviValuta->setAsString(LastValuta);
    CDSetLijekoviJed_mjere->setAsString(LastJed_mjere);
}

QString TForm1::carriedOver(int field) const
{
    if (field == StringField1->index())
        return LastLjekarna;
    if (field == StringField3->index())
        return LastProizvodjac;
    if (field == CDSetLijekoviValuta->index())
        return LastValuta;
    if (field == CDSetLijekoviJed_mjere->index())
        return LastJed_mjere;
    return QString();
}

void TForm1::CDSetLijekoviAfterPost()
{
    if (CDSetLijekovi->recordCount() > 0)
        BitBtnDel->setEnabled(true);
}

void TForm1::DataSourceLijekoviDataChange()
{
    // Runs at every move through the table; the count changes far more rarely.
    const QString count = QString::asprintf("%i", CDSetLijekovi->recordCount());
    if (count != lblNumOfRecords->text()) {
        lblNumOfRecords->setText(count);
        toolkit::fitLabel(lblNumOfRecords);
    }
}

// ------------------------------------------------------ crash recovery

bool TForm1::holdsTypedData(const store::Record &record) const
{
    // The four carried-over values are what every new record starts with;
    // anything else was typed.
    const int carried[] = { StringField1->index(), StringField3->index(),
        CDSetLijekoviValuta->index(), CDSetLijekoviJed_mjere->index() };
    for (int f = 0; f < CDSetLijekovi->getFieldCount(); ++f) {
        if (std::find(std::begin(carried), std::end(carried), f) == std::end(carried)
            && !record.isEmpty(f))
            return true;
    }
    return false;
}

void TForm1::completePendingRecord()
{
    const auto state = CDSetLijekovi->state();
    if (state != store::ClientDataSet::Edit && state != store::ClientDataSet::Insert)
        return;
    if (CDSetLijekovi->modified())
        CDSetLijekovi->post();
    else
        CDSetLijekovi->cancel();
}

QString TForm1::setAside(const QString &path) const
{
    return store::RecoveryJournal::setAside(path, recoveryFilePath());
}

void TForm1::offerRecovery()
{
    std::vector<store::Record> loaded = CDSetLijekovi->records();
    // Nobody is there to answer (the program is being ended): every journal
    // stays as it is for the next start.
    if (toolkit::unattended())
        return;
    // Without the lock another copy may be writing any of them.
    if (m_recoveryAllowed) {
        for (const QString &file : store::RecoveryJournal::leftBehind(recoveryFilePath())) {
            if (!offerRecoveryFrom(file, loaded))
                return;
        }
    }
    m_journal->setBase(std::move(loaded));
    m_journalling = true;
}

// False when the start must look at no further journal: one was recovered,
// or nobody answered.
bool TForm1::offerRecoveryFrom(const QString &file, const std::vector<store::Record> &loaded)
{
    const QString shown = store::shownPath(file);
    const QString registerShown
        = QStringLiteral("\nRegistar \"%1\" nije mijenjan.").arg(store::shownPath(DataFilePath));
    std::optional<store::Recovery> recovery;
    try {
        recovery = store::RecoveryJournal::read(file);
    } catch (const store::Exception &e) {
        // Kept for whoever wants to look; it never stops the start.
        const QString aside = setAside(file);
        toolkit::messageBox(e.message() + QStringLiteral("\n\n")
                + (aside.isEmpty() ? QStringLiteral("Datoteka je ostavljena kako jest.")
                                   : QStringLiteral("Datoteka je premještena u \"%1\".")
                                         .arg(store::shownPath(aside)))
                + registerShown,
            Greska, toolkit::MessageBoxStyle::Ok);
        return true;
    }
    const bool damaged = !recovery->damage.isEmpty();
    if (recovery->changes == 0 && !damaged) {
        QFile::remove(file);
        return true;
    }
    if (recovery->changes == 0) {
        // Damaged before its first change: nothing to offer, all of it kept.
        const QString aside = setAside(file);
        toolkit::messageBox(QStringLiteral("Datoteka za oporavak \"%1\" nije ispravna: %2.\n\n")
                                .arg(shown, recovery->damage)
                + (aside.isEmpty() ? QStringLiteral("Datoteka je ostavljena kako jest.")
                                   : QStringLiteral("Datoteka je premještena u \"%1\".")
                                         .arg(store::shownPath(aside)))
                + registerShown,
            Greska, toolkit::MessageBoxStyle::Ok);
        return true;
    }

    const bool closed = recovery->closedWithoutSaving;
    const QString opening = closed ? QStringLiteral("Program je zatvoren bez spremanja")
                                   : QStringLiteral("Program nije ispravno zatvoren");
    const QString count = damaged
        ? QStringLiteral("Datoteka za oporavak \"%1\" oštećena je (%2) i nije pročitana do "
                         "kraja.\nBroj pročitanih promjena: %3.\n")
              .arg(shown, recovery->damage)
              .arg(recovery->changes)
        : QStringLiteral("Broj nespremljenih promjena: %1.\n").arg(recovery->changes);
    QString question;
    auto style = toolkit::MessageBoxStyle::YesNo;
    if (recovery->base == loaded) {
        question = opening + QStringLiteral(".\n") + count + QStringLiteral("Vratiti ih?");
    } else {
        // Never apply changes to a file they were not made on without the
        // user's word; leaving both alone is the default.
        const QString when = closed ? QStringLiteral("zatvoren") : QStringLiteral("prekinut");
        question = opening
            + QStringLiteral(", a registar \"%1\" je u međuvremenu promijenio drugi program ili "
                             "drugi korisnik.\nU datoteci na disku sada je %2, a u registru "
                             "kakav je bio kad je program %3 %4.\n")
                  .arg(store::shownPath(DataFilePath), store::entryCount(qsizetype(loaded.size())),
                      when, store::entryCount(qsizetype(recovery->rows.size())))
            + count
            + QStringLiteral("Vratiti registar kakav je bio kad je program %1? Datoteka koja je "
                             "sada na disku neće se izgubiti: prije prvog spremanja sačuvat će "
                             "se pored registra pod imenom \"%2.<datum>-<vrijeme>\".")
                  .arg(when, DataFileName);
        style = toolkit::MessageBoxStyle::YesNoDefaultNo;
    }
    const bool yes = toolkit::messageBox(question, Paznja, style) == toolkit::MessageBoxAnswer::Yes;
    // A question nobody answered (a signal ended the program meanwhile)
    // changes nothing: the next start asks again.
    if (toolkit::unattended())
        return false;
    if (yes) {
        // The file on disk is not the one the journal began from: the first
        // save keeps it beside before replacing it.
        if (recovery->base != loaded)
            m_registerFile.keepBeforeReplacing();
        // A damaged journal is kept whole: what could not be read is there.
        const QString aside = damaged ? setAside(file) : QString();
        m_journal->setBase(loaded);
        if (!damaged)
            m_journal->adopt(file, *recovery);
        m_journalling = true;
        // Rewrites the journal from the file's records and the recovered
        // ones, replacing the one read in one atomic step.
        CDSetLijekovi->assignRecords(std::move(recovery->rows));
        CDSetLijekovi->last();
        if (damaged) {
            toolkit::messageBox(aside.isEmpty()
                    ? QStringLiteral("Pročitane promjene su vraćene. Ostatak je ostao u datoteci "
                                     "\"%1\".")
                          .arg(shown)
                    : QStringLiteral("Pročitane promjene su vraćene. Ostatak je sačuvan u "
                                     "datoteci \"%1\".")
                          .arg(store::shownPath(aside)),
                Poruka, toolkit::MessageBoxStyle::Ok);
        }
        return false;
    }
    const QString aside = setAside(file);
    toolkit::messageBox(aside.isEmpty()
            ? QStringLiteral("Nespremljene promjene nisu vraćene i ostaju u datoteci \"%1\".")
                  .arg(shown)
            : QStringLiteral("Nespremljene promjene nisu vraćene. Sačuvane su u datoteci \"%1\".")
                  .arg(store::shownPath(aside)),
        Poruka, toolkit::MessageBoxStyle::Ok);
    return true;
}

void TForm1::journalChange(const store::TableChange &change)
{
    if (!m_journalling)
        return;
    try {
        m_journal->record(change, CDSetLijekovi->records());
        m_journalFailureShown = false;
    } catch (const store::Exception &e) {
        reportJournalFailure(e.message());
    }
}

void TForm1::reportJournalFailure(const QString &message)
{
    // Shown once until the journal works again, and after the change that
    // failed has finished: the table must not be left half way.
    if (m_journalFailureShown)
        return;
    m_journalFailureShown = true;
    const QString text = message
        + QStringLiteral("\n\nUpisani podaci još su u programu. Ako se program sada sruši, "
                         "promjene od zadnjeg spremanja bit će izgubljene.");
    QMetaObject::invokeMethod(
        this, [text] { toolkit::messageBox(text, Greska, toolkit::MessageBoxStyle::Ok); },
        Qt::QueuedConnection);
}

void TForm1::journalSaved(const std::vector<store::Record> &saved)
{
    if (!m_journalling)
        return;
    m_journal->discard();
    m_journal->setBase(saved);
    if (CDSetLijekovi->records() != saved) {
        // What the file was not given (nameless records nobody could be
        // asked about) stays in a new journal.
        journalChange({ store::TableChange::Reset, -1, nullptr, {}, &CDSetLijekovi->records() });
    }
}

void TForm1::scheduleDraft()
{
    const auto state = CDSetLijekovi->state();
    if (state != store::ClientDataSet::Edit && state != store::ClientDataSet::Insert) {
        m_draftTimer.stop();
        m_draftPendingSince.invalidate();
        // The record being typed was posted or dropped; a post has already
        // superseded what was recorded of it, a drop must be recorded.
        if (m_journal->hasDraft())
            QMetaObject::invokeMethod(this, &TForm1::recordDraft, Qt::QueuedConnection);
        return;
    }
    if (!m_draftPendingSince.isValid())
        m_draftPendingSince.start();
    // Restarted by every keystroke, but never put off for longer than the
    // delay: a user who types on without a pause is recorded too.
    const qint64 left = DraftDelayMs - m_draftPendingSince.elapsed();
    m_draftTimer.start(int(std::max<qint64>(0, std::min<qint64>(DraftDelayMs, left))));
}

store::Record TForm1::withUnstoredText(store::Record record) const
{
    // What a control shows but has not stored yet (an open grid cell, a
    // number still being typed) is typing too; what does not read as a
    // number yet stays out.
    const auto put = [&record](int field, const QString &text) {
        if (store::textSlot(field) >= 0) {
            record.setText(field, text);
        } else if (text.trimmed().isEmpty()) {
            record.setNumber(field, std::nullopt);
        } else if (const auto number = store::textToFloat(text)) {
            record.setNumber(field, number);
        }
    };
    for (int f = 0; f < CDSetLijekovi->getFieldCount(); ++f) {
        if (const auto text = DataSourceLijekovi->pendingText(f))
            put(f, *text);
    }
    if (const auto cell = DBGridLijekovi->uncommittedCell())
        put(cell->first, cell->second);
    return record;
}

void TForm1::recordDraft()
{
    m_draftPendingSince.invalidate();
    if (!m_journalling)
        return;
    try {
        const auto state = CDSetLijekovi->state();
        const store::Record *buffer = CDSetLijekovi->currentRecord();
        const auto &rows = CDSetLijekovi->records();
        std::optional<store::Record> typed;
        if (buffer)
            typed = withUnstoredText(*buffer);
        const store::Record *current = typed ? &*typed : nullptr;
        if (state == store::ClientDataSet::Insert && current && holdsTypedData(*current)) {
            m_journal->recordDraft(-1, *current, rows);
        } else if (state == store::ClientDataSet::Edit && current
            && *current != rows[size_t(CDSetLijekovi->currentRow())]) {
            m_journal->recordDraft(CDSetLijekovi->currentRow(), *current, rows);
        } else {
            m_journal->clearDraft(rows);
        }
        m_journalFailureShown = false;
    } catch (const store::Exception &e) {
        reportJournalFailure(e.message());
    }
}

// ------------------------------------------------ ending without a user

void TForm1::endUnattended()
{
    if (m_ending)
        return;
    m_ending = true;
    m_endingSince.start();
    toolkit::setUnattended(true);
    finishEnding();
}

void TForm1::finishEnding()
{
    // Answer whatever box or dialog is open, the safe way (No, Cancel), and
    // let the handler that opened it finish before the window closes.
    while (QWidget *modal = QApplication::activeModalWidget()) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            break;
    }
    if (toolkit::runningHandlers() > 0 && m_endingSince.elapsed() < EndingGraceMs) {
        QTimer::singleShot(50, this, &TForm1::finishEnding);
        return;
    }
    close();
    QCoreApplication::exit(0);
}

void TForm1::saveForSession(QSessionManager &manager)
{
    Q_UNUSED(manager);
    saveUnattended();
}

bool TForm1::saveUnattended()
{
    const bool was = toolkit::unattended();
    toolkit::setUnattended(true);
    bool saved = false;
    toolkit::runHandler([&] {
        if (CDSetLijekovi->active())
            saved = SaveDatabase();
    });
    toolkit::setUnattended(was);
    return saved;
}
