#pragma once

#include "register/registersession.h"
#include "ui_unit1.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QScrollArea;
class QSessionManager;

namespace store {
class ClientDataSet;
class Field;
class Record;
}
namespace toolkit {
class DataSource;
class SaveDialog;
}

// The program's one window: the register's grid above, the current entry's
// boxes and the commands below. Every control of the layout is a member
// under its own name (through Ui::TForm1); the dataset, its fields, the data
// source and the save dialog are created here.
class TForm1 : public QWidget, public Ui::TForm1
{
    Q_OBJECT

public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // The data file, fixed at construction.
    const QString &dataFilePath() const { return DataFilePath; }
    // The crash-recovery journal beside the data file.
    QString recoveryFilePath() const;
    // The journal this copy writes: recoveryFilePath(), or without the lock
    // a name of its own.
    QString journalFilePath() const;
    // Takes the register's lock before FormCreate, saying through the
    // window's boxes what stands in its way; false when another copy holds
    // the register and the program must end. Only a copy holding the lock
    // recovers journals at start and writes the register's journal.
    bool lockRegister();

    // Non-visual components.
    store::ClientDataSet *CDSetLijekovi = nullptr;
    store::Field *CDSetLijekoviTar_br = nullptr;
    store::Field *StringField1 = nullptr; // Ljekarna
    store::Field *StringField2 = nullptr; // Naziv
    store::Field *CDSetLijekoviGen_ime = nullptr;
    store::Field *CDSetLijekoviATK = nullptr;
    store::Field *StringField3 = nullptr; // Proizvodjac
    store::Field *CDSetLijekoviKolicina = nullptr;
    store::Field *StringField4 = nullptr; // Pacijent
    store::Field *CDSetLijekoviJed_mjere = nullptr;
    store::Field *CDSetLijekoviValuta = nullptr;
    store::Field *CDSetLijekoviCijena = nullptr;
    store::Field *CDSetLijekoviProtokol = nullptr;
    store::Field *CDSetLijekoviPropisivac = nullptr;
    store::Field *CDSetLijekoviUstanova = nullptr;
    store::Field *CDSetLijekoviHpbroj = nullptr;
    store::Field *CDSetLijekoviMjesto = nullptr;
    store::Field *CDSetLijekoviAdresa = nullptr;
    toolkit::DataSource *DataSourceLijekovi = nullptr;
    toolkit::SaveDialog *SaveDialog1 = nullptr;

    // The value a new record gets in `field` from the last record posted,
    // as CDSetLijekoviAfterInsert writes it; "" for a field not carried over.
    QString carriedOver(int field) const;

    // Routines the handlers share.
    bool CheckRecordLimit();
    void CreateEmptyDatabase(const QString &fileName);
    void PurgeUnnamedRecords();
    // With `result`, says how the save ended.
    bool SaveDatabase(RegisterSession::SaveResult *result = nullptr);

public slots:
    // Event handlers, bound by name in the layout or in bindComponents().
    // Virtual, so that a test's subclass can see which of them each event
    // reaches.
    virtual void FormCreate();
    virtual void FormActivate();
    virtual void FormClose();
    virtual void BitBtnExitClick();
    virtual void BitBtnAddClick();
    virtual void BitBtnDelClick();
    virtual void BitBtnFirstClick();
    virtual void BitBtnPrevClick();
    virtual void BitBtnNextClick();
    virtual void BitBtnLastClick();
    virtual void BitBtnEraseClick();
    virtual void BitBtnExportClick();
    virtual void DBGridLijekoviExit();
    virtual void DBEditAdresaExit();
    virtual void DataSourceLijekoviDataChange();
    virtual void CDSetLijekoviAfterInsert();
    virtual void CDSetLijekoviBeforePost();
    virtual void CDSetLijekoviAfterPost();

public:
    // Ends the program as Izlaz does, with nobody there to answer: after a
    // termination signal. Open boxes and dialogs are answered safely first.
    void endUnattended();
    // The desktop session is ending: save without asking.
    void saveForSession(QSessionManager &manager);
    // Saves as the end of a session does, asking nothing; true when the
    // data file was written.
    bool saveUnattended();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createComponents();
    // The window on a screen smaller than its smallest size.
    void fitToScreen();
    void bindComponents();
    void requireOpenRegister() const;
    // The navigation buttons: a move on an open table, nothing on a closed one.
    void browse(void (store::ClientDataSet::*step)());

    QStringList registerFolders() const;
    // What is typed, recorded for crash recovery.
    void scheduleDraft();
    void recordDraft();
    store::Record withUnstoredText(store::Record record) const;
    void completePendingRecord();
    void finishEnding();

    static constexpr int MaxRecords = 10000;
    QString DataFileName;
    QString DataFilePath;
    QString LastLjekarna;
    QString LastProizvodjac;
    QString LastValuta;
    QString LastJed_mjere;

    bool m_activated = false;
    // Holds the panel while it must scroll inside a window the screen
    // cannot give its designed size; none otherwise.
    QScrollArea *m_panelScroller = nullptr;
    // The register's files and the rules for them; its questions are asked
    // through the window's message boxes.
    class Dialogue;
    std::unique_ptr<Dialogue> m_dialogue;
    std::unique_ptr<RegisterSession> m_session;
    QTimer m_draftTimer;
    QElapsedTimer m_draftPendingSince;
    // Set by FormClose when the window must stay open.
    bool m_closeRefused = false;
    bool m_ending = false;
    QElapsedTimer m_endingSince;
};
