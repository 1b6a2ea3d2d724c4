#include "unit1.h"

#include "bitbtn.h"
#include "clientdataset.h"
#include "datasource.h"
#include "dbedit.h"
#include "dbgrid.h"
#include "exception.h"
#include "handlers.h"
#include "messagebox.h"
#include "registerfinder.h"
#include "savedialog.h"
#include "textexport.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>

using toolkit::BitBtn;
using toolkit::DataSource;
using toolkit::DBEdit;
using toolkit::DBGridColumn;
using toolkit::SaveDialog;

namespace {

constexpr int RecordLimit = 10000;

const QString Greska = QStringLiteral("Greška");
const QString Paznja = QStringLiteral("Pažnja!");

QString greeting()
{
    return QStringLiteral("Tervalis\n\n")
        + QStringLiteral("Primjerna ulica 12\n10000 Zagreb, Hrvatska\n\n")
        + QStringLiteral("Tel: +385 1 555 0100\nFax: +385 1 555 0101\nE-mail: info@tervalis.example\n\n")
        + QStringLiteral("Web: www.tervalis.example\n\n")
        + QStringLiteral("v2.1");
}

// The layout gives each label the width its caption has in the designed
// font. Another font has other widths, so a label is re-fitted to its
// caption and keeps the edge that matters: the right one when it labels a
// box (so it never runs under the box), the left one otherwise. A caption
// too wide to end there without leaving the panel starts at the panel's
// edge and uses part of the gap before its box instead.
void fitLabels(QFrame *panel)
{
    const int inner = panel->frameWidth();
    const auto labels = panel->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    for (QLabel *label : labels) {
        const QRect designed = label->geometry();
        const int width = label->sizeHint().width();
        int left = designed.x();
        if (label->buddy())
            left = std::max(inner, designed.x() + designed.width() - width);
        label->setGeometry(left, designed.y(), width, designed.height());
    }
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
static void initArtwork()
{
    Q_INIT_RESOURCE(artwork);
}

TForm1::TForm1(QWidget *parent) : QWidget(parent)
{
    initArtwork();
    // The designed font is not on Linux; a sans serif of like metrics stands in.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                QStringLiteral("DejaVu Sans")});
    createComponents();
    setupUi(this);
    fitLabels(Panel1);
    bindComponents();
    // Ctrl+F, F3, Shift+F3: an addition that changes nothing of the layout.
    new RegisterFinder(this, DataSourceLijekovi);

    MaxRecords = RecordLimit;
    DataFileName = QStringLiteral("Baza.xml");
    DataFilePath = QDir::currentPath() + QDir::separator() + DataFileName;
}

TForm1::~TForm1()
{
    // The data-aware controls are destroyed before the dataset they show.
    CDSetLijekovi->afterInsert = nullptr;
    CDSetLijekovi->beforePost = nullptr;
    CDSetLijekovi->afterPost = nullptr;
    disconnect(DataSourceLijekovi, nullptr, this, nullptr);
    delete DBGridLijekovi;
    delete Panel1;
}

void TForm1::createComponents()
{
    CDSetLijekovi = new store::ClientDataSet(this);
    CDSetLijekovi->setObjectName(QStringLiteral("CDSetLijekovi"));
    store::Field **fields[] = {
        &CDSetLijekoviTar_br, &StringField1, &StringField2, &CDSetLijekoviGen_ime,
        &CDSetLijekoviATK, &StringField3, &CDSetLijekoviKolicina, &StringField4,
        &CDSetLijekoviJed_mjere, &CDSetLijekoviValuta, &CDSetLijekoviCijena,
        &CDSetLijekoviProtokol, &CDSetLijekoviPropisivac, &CDSetLijekoviUstanova,
        &CDSetLijekoviHpbroj, &CDSetLijekoviMjesto, &CDSetLijekoviAdresa,
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
    connect(DataSourceLijekovi, &DataSource::dataChange, this, &TForm1::DataSourceLijekoviDataChange);
}

// ------------------------------------------------------------- lifecycle

void TForm1::FormCreate()
{
    toolkit::runHandler([this] {
        toolkit::messageBox(greeting(), QStringLiteral("Pozdrav"), 0);
        if (QFileInfo::exists(DataFileName)) {
            try {
                CDSetLijekovi->loadFromFile(DataFilePath);
            } catch (const store::Exception &e) {
                // The file stays as it is: only Erase may replace it.
                throw store::Exception(
                    e.message()
                    + QStringLiteral("\n\nRegistar nije otvoren i datoteka se neće mijenjati."));
            }
            CDSetLijekovi->last();
        } else {
            CreateEmptyDatabase(DataFileName);
            CDSetLijekovi->open();
        }
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
        QMetaObject::invokeMethod(this, &TForm1::FormActivate, Qt::QueuedConnection);
    }
}

void TForm1::FormActivate()
{
    toolkit::runHandler([this] { CheckRecordLimit(); });
}

void TForm1::FormClose()
{
    toolkit::runHandler([this] { SaveDatabase(); });
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (closeAllowed())
        event->accept();
    else
        event->ignore();
}

bool TForm1::closeAllowed()
{
    // A register that could not be loaded is never written over on close.
    if (!CDSetLijekovi->active())
        return true;
    bool saved = false;
    toolkit::runHandler([&] { saved = SaveDatabase(); });
    if (saved)
        return true;
    // Closing now would lose every entry since the last save; the user may
    // rather free space or fix the folder and close again.
    return toolkit::messageBox(QStringLiteral("Podaci nisu spremljeni.\nZatvoriti program bez spremanja?"),
                               Paznja, 4)
        == 6;
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
    toolkit::messageBox(QStringLiteral("Maksimalan broj zapisa je %1.\nDaljnje dodavanje nije moguće.")
                            .arg(MaxRecords),
                        Greska, 0);
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
    CDSetLijekovi->saveToFile(fileName);
    CDSetLijekovi->open();
}

void TForm1::PurgeUnnamedRecords()
{
    // One pass over the table rather than a delete per record: the register
    // may hold thousands of nameless entries.
    const int naziv = StringField2->index();
    CDSetLijekovi->deleteWhere([naziv](const store::Record &record) { return record.isEmpty(naziv); });
}

bool TForm1::SaveDatabase()
{
    PurgeUnnamedRecords();
    try {
        if (CDSetLijekovi->state() == store::ClientDataSet::Edit)
            CDSetLijekovi->post();
        CDSetLijekovi->mergeChangeLog();
        CDSetLijekovi->saveToFile(DataFilePath);
        return true;
    } catch (const store::Exception &e) {
        toolkit::messageBox(e.message(), Greska, 0);
        return false;
    }
}

void TForm1::requireOpenRegister() const
{
    if (!CDSetLijekovi->active()) {
        throw store::Exception(
            QStringLiteral("Registar nije otvoren jer se datoteka \"%1\" nije mogla učitati.\n"
                           "Ništa nije promijenjeno.")
                .arg(QDir::toNativeSeparators(DataFilePath)));
    }
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

void TForm1::browse(void (store::ClientDataSet::*move)())
{
    toolkit::runHandler([this, move] {
        if (CDSetLijekovi->active())
            (CDSetLijekovi->*move)();
    });
}

void TForm1::BitBtnFirstClick()
{
    browse(&store::ClientDataSet::first);
}

void TForm1::BitBtnPrevClick()
{
    browse(&store::ClientDataSet::prior);
}

void TForm1::BitBtnNextClick()
{
    browse(&store::ClientDataSet::next);
}

void TForm1::BitBtnLastClick()
{
    browse(&store::ClientDataSet::last);
}

void TForm1::BitBtnEraseClick()
{
    toolkit::runHandler([this] {
        if (toolkit::messageBox(QStringLiteral("Praznim baze?"), Paznja, 4) == 6
            && toolkit::messageBox(QStringLiteral("Jeste li SIGURNI?\nNakon ovog nema povratka!"),
                                   Paznja, 4)
                == 6) {
            CreateEmptyDatabase(DataFileName);
            CDSetLijekovi->loadFromFile(DataFileName);
            CDSetLijekovi->last();
            toolkit::messageBox(QStringLiteral("Baze prezne!"), QString(), 0);
        }
        CheckRecordLimit();
        DBEditTar_br->setFocus();
    });
}

void TForm1::BitBtnExportClick()
{
    toolkit::runHandler([this] {
        requireOpenRegister();
        SaveDatabase();
        const QStringList lines = textexport::buildLines(*CDSetLijekovi);
        if (SaveDialog1->execute(this)) {
            textexport::saveLines(SaveDialog1->fileName(), lines);
            toolkit::messageBox(QStringLiteral("Baza eksportirana u ")
                                    + QDir::toNativeSeparators(SaveDialog1->fileName()),
                                QStringLiteral("Poruka"), 0);
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

void TForm1::CDSetLijekoviAfterPost()
{
    if (CDSetLijekovi->recordCount() > 0)
        BitBtnDel->setEnabled(true);
}

void TForm1::DataSourceLijekoviDataChange()
{
    lblNumOfRecords->setText(QString::asprintf("%i", CDSetLijekovi->recordCount()));
    lblNumOfRecords->adjustSize();
}
