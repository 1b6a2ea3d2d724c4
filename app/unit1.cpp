#include "app/unit1.h"

#include "app/deleteundo.h"
#include "app/entrysuggestions.h"
#include "app/registerfinder.h"
#include "export/textexport.h"
#include "register/registerpaths.h"
#include "register/registersession.h"
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
#include <utility>

using toolkit::BitBtn;
using toolkit::DataSource;
using toolkit::DBEdit;
using toolkit::DBGridColumn;
using toolkit::SaveDialog;

namespace {

// What is typed is recorded this long after the typing stops, and at least
// this often while it goes on.
constexpr int DraftDelayMs = 2000;
// How long an ending by signal waits for open boxes and dialogs to close.
constexpr int EndingGraceMs = 3000;
// and how often it looks again meanwhile.
constexpr int EndingPollMs = 50;

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

// The session's questions and reports, as the window's message boxes.
class TForm1::Dialogue : public RegisterDialogue
{
public:
    explicit Dialogue(TForm1 *form)
        : m_form(form)
    {
    }
    bool attended() const override { return !toolkit::unattended(); }
    bool ask(Question question, const QString &text) override
    {
        // Only a journal offered back over the very file it began from has
        // Yes as its default; everything else defaults to what loses nothing.
        const auto style = question == Question::Recover ? toolkit::MessageBoxStyle::YesNo
                                                         : toolkit::MessageBoxStyle::YesNoDefaultNo;
        return toolkit::messageBox(text, toolkit::caption::warning(), style)
            == toolkit::MessageBoxAnswer::Yes;
    }
    void reportError(const QString &message) override
    {
        toolkit::messageBox(message, toolkit::caption::error(), toolkit::MessageBoxStyle::Ok);
    }
    void notify(const QString &message) override
    {
        toolkit::messageBox(message, toolkit::caption::notice(), toolkit::MessageBoxStyle::Ok);
    }
    void reportJournalFailure(const QString &message) override
    {
        // After the change that failed has finished: the table must not be
        // left half way.
        QMetaObject::invokeMethod(
            m_form,
            [message] {
                toolkit::messageBox(
                    message, toolkit::caption::error(), toolkit::MessageBoxStyle::Ok);
            },
            Qt::QueuedConnection);
    }

private:
    TForm1 *m_form;
};

// The artwork is compiled into the window's static library; a static
// library's resources are registered by hand.
static void initArtwork() { Q_INIT_RESOURCE(artwork); }

TForm1::TForm1(QWidget *parent)
    : QWidget(parent)
{
    initArtwork();
    toolkit::substituteClassicFonts();
    createComponents();
    m_dialogue = std::make_unique<Dialogue>(this);
    m_session = std::make_unique<RegisterSession>(QDir::currentPath(), *CDSetLijekovi, *m_dialogue);
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

    DataFileName = RegisterPaths::dataFileName();
    DataFilePath = m_session->paths().dataFile();

    m_draftTimer.setSingleShot(true);
    connect(&m_draftTimer, &QTimer::timeout, this, &TForm1::recordDraft);
}

QString TForm1::recoveryFilePath() const { return m_session->paths().recoveryFile(); }

QString TForm1::journalFilePath() const { return m_session->journalFile(); }

bool TForm1::lockRegister() { return m_session->lock() != RegisterSession::Access::Refused; }

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
    // Each field component bound by its field's name, as the layout binds
    // the controls.
    const std::pair<store::Field **, const char *> fields[] = {
        { &CDSetLijekoviTar_br, "Tar_br" },
        { &StringField1, "Ljekarna" },
        { &StringField2, "Naziv" },
        { &CDSetLijekoviGen_ime, "Gen_ime" },
        { &CDSetLijekoviATK, "ATK" },
        { &StringField3, "Proizvodjac" },
        { &CDSetLijekoviKolicina, "Kolicina" },
        { &StringField4, "Pacijent" },
        { &CDSetLijekoviJed_mjere, "Jed_mjere" },
        { &CDSetLijekoviValuta, "Valuta" },
        { &CDSetLijekoviCijena, "Cijena" },
        { &CDSetLijekoviProtokol, "Protokol" },
        { &CDSetLijekoviPropisivac, "Propisivac" },
        { &CDSetLijekoviUstanova, "Ustanova" },
        { &CDSetLijekoviHpbroj, "Hpbroj" },
        { &CDSetLijekoviMjesto, "Mjesto" },
        { &CDSetLijekoviAdresa, "Adresa" },
    };
    for (const auto &[component, name] : fields)
        *component = CDSetLijekovi->fieldByName(QLatin1StringView(name));

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
        = [this](const store::TableChange &change) { m_session->recordChange(change); };
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
        if (m_session->dataFileExists()) {
            try {
                m_session->load(DataFilePath);
            } catch (const store::Exception &e) {
                // The file stays as it is: only Erase may replace it.
                throw store::Exception(e.message()
                    + QStringLiteral("\n\nRegistar nije otvoren i datoteka se neće mijenjati."));
            }
            CDSetLijekovi->last();
        } else {
            CreateEmptyDatabase(DataFileName);
        }
        m_session->offerRecovery();
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
    RegisterSession::SaveResult save;
    toolkit::runHandler([&] { SaveDatabase(&save); });
    // Nobody can answer: the journal keeps everything for the next start.
    if (save.saved() || toolkit::unattended())
        return;
    // The user chose to look at the records before they go.
    if (save.outcome == RegisterSession::SaveOutcome::NamelessKept) {
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
              toolkit::caption::warning(), toolkit::MessageBoxStyle::YesNoDefaultNo)
        != toolkit::MessageBoxAnswer::Yes;
    if (!m_closeRefused)
        m_session->closedWithoutSaving();
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
        toolkit::caption::error(), toolkit::MessageBoxStyle::Ok);
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
    m_session->write(fileName, CDSetLijekovi->records());
    CDSetLijekovi->open();
}

void TForm1::PurgeUnnamedRecords() { m_session->purgeUnnamed(); }

bool TForm1::SaveDatabase(RegisterSession::SaveResult *result)
{
    // A pending record takes part in the purge; completing it may refuse a
    // number that is not one, which stops the save.
    if (result)
        *result = {};
    completePendingRecord();
    const RegisterSession::SaveResult save = m_session->save();
    if (result)
        *result = save;
    if (save.outcome == RegisterSession::SaveOutcome::NamelessKept) {
        CDSetLijekovi->moveTo(save.firstNameless);
        DBEditNaziv->setFocus();
    }
    return save.saved();
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
        if (toolkit::messageBox(QStringLiteral("Praznim baze?"), toolkit::caption::warning(),
                toolkit::MessageBoxStyle::YesNoDefaultNo)
                == toolkit::MessageBoxAnswer::Yes
            && toolkit::messageBox(QStringLiteral("Jeste li SIGURNI?\nNakon ovog nema povratka!"),
                   toolkit::caption::warning(), toolkit::MessageBoxStyle::YesNoDefaultNo)
                == toolkit::MessageBoxAnswer::Yes
            // Both questions were about this register, not a file another
            // program has put in its place since.
            && m_session->checkFile(DataFileName, CDSetLijekovi->records())
                == RegisterSession::FileCheck::MayWrite) {
            CreateEmptyDatabase(DataFileName);
            m_session->load(DataFileName);
            CDSetLijekovi->last();
            m_session->saved(CDSetLijekovi->records());
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
        RegisterSession::SaveResult save;
        SaveDatabase(&save);
        // The user kept a file another program put in the register's place:
        // the export of a register that is not on disk ends here too.
        if (save.outcome == RegisterSession::SaveOutcome::NamelessKept
            || save.outcome == RegisterSession::SaveOutcome::FileKept)
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
                toolkit::caption::notice(), toolkit::MessageBoxStyle::Ok);
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

void TForm1::scheduleDraft()
{
    const auto state = CDSetLijekovi->state();
    if (state != store::ClientDataSet::Edit && state != store::ClientDataSet::Insert) {
        m_draftTimer.stop();
        m_draftPendingSince.invalidate();
        // The record being typed was posted or dropped; a post has already
        // superseded what was recorded of it, a drop must be recorded.
        if (m_session->hasDraft())
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
    const store::Record *buffer = CDSetLijekovi->currentRecord();
    std::optional<store::Record> typed;
    if (buffer)
        typed = withUnstoredText(*buffer);
    m_session->recordTyping(typed ? &*typed : nullptr);
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
        QTimer::singleShot(EndingPollMs, this, &TForm1::finishEnding);
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
