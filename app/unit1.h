#pragma once

#include "registerfiles.h"
#include "ui_unit1.h"

#include <QString>
#include <QWidget>

namespace store {
class ClientDataSet;
class Field;
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

    // The record limit and the data file, fixed at construction.
    int maxRecords() const { return MaxRecords; }
    const QString &dataFileName() const { return DataFileName; }
    const QString &dataFilePath() const { return DataFilePath; }

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

    // Routines the handlers share.
    bool CheckRecordLimit();
    void CreateEmptyDatabase(const QString &fileName);
    void PurgeUnnamedRecords();
    bool SaveDatabase();

public slots:
    // Event handlers, bound by name in the layout or in bindComponents().
    void FormCreate();
    void FormActivate();
    void FormClose();
    void BitBtnExitClick();
    void BitBtnAddClick();
    void BitBtnDelClick();
    void BitBtnFirstClick();
    void BitBtnPrevClick();
    void BitBtnNextClick();
    void BitBtnLastClick();
    void BitBtnEraseClick();
    void BitBtnExportClick();
    void DBGridLijekoviExit();
    void DBEditAdresaExit();
    void DataSourceLijekoviDataChange();
    void CDSetLijekoviAfterInsert();
    void CDSetLijekoviBeforePost();
    void CDSetLijekoviAfterPost();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createComponents();
    void bindComponents();
    void requireOpenRegister() const;
    // The navigation buttons: a move on an open table, nothing on a closed one.
    void browse(void (store::ClientDataSet::*move)());
    // Whether the close now under way may go ahead; false keeps the window open.
    bool closeAllowed();

    // The register's file: loaded, and written only over the file loaded or
    // written last, unless the user agrees to replace another.
    void loadRegister(const QString &fileName);
    bool registerFileMayBeWritten(const QString &fileName);
    void writeRegisterFile(const QString &fileName);
    void writeRegisterBeside(const QString &fileName);
    QStringList registerFolders() const;

    int MaxRecords = 0;
    QString DataFileName;
    QString DataFilePath;
    QString LastLjekarna;
    QString LastProizvodjac;
    QString LastValuta;
    QString LastJed_mjere;

    bool m_activated = false;
    RegisterFileGuard m_registerFile;
    // The last check found another file and the user kept it.
    bool m_registerFileKept = false;
};
