#pragma once

// The panel's labels as laid out for the designed font: caption, place,
// width and the control each one names. Every label is 13 high.
struct DesignedLabel
{
    const char *name;
    const char *caption;
    int x, y, width;
    const char *buddy;
};

inline constexpr int DesignedLabelHeight = 13;

inline constexpr DesignedLabel designedLabels[] = {
    { "Label6", "Tarifni broj : ", 48, 30, 58, "DBEditTar_br" },
    { "Label19", "Broj zapisa: ", 247, 33, 57, "lblNumOfRecords" },
    { "Label1", "Ljekarna ili dobavljač :", 1, 55, 105, "DBEditLjekarna" },
    { "Label2", "Naziv lijeka :", 46, 79, 60, "DBEditNaziv" },
    { "Label11", "Generičko ime :", 32, 103, 74, "DBEditGen_ime" },
    { "Label12", " ATK :", 76, 129, 30, "DBEdit1" },
    { "Label5", "Proizvođač :", 254, 132, 60, "DBEditProizvodjac" },
    { "Label4", "Pacijent ili korisnik :", 14, 151, 92, "DBEditPacijent" },
    { "Label13", "Protokol :", 61, 175, 45, "DBEditProtokol" },
    { "Label10", "(samo za klinička ispitivanja )", 400, 176, 136, "" },
    { "Label7", " Jedinica mjere :", 30, 199, 76, "DBEditJed_mjere" },
    { "Label8", "Valuta : ", 427, 203, 39, "DBEditValuta" },
    { "Label3", "Količina :", 239, 204, 43, "DBEditKolicina" },
    { "Label9", "Cijena : ", 582, 204, 38, "DBEditCijena" },
    { "Label14", "Propisivač :", 51, 223, 55, "DBEditPropisivac" },
    { "Label15", "Ustanova :", 327, 223, 52, "DBEditUstanova" },
    { "Label16", "Poštanski broj :", 34, 250, 72, "DBEditHpbroj" },
    { "Label17", "Mjesto :", 245, 250, 37, "DBEditMjesto" },
    { "Label18", "Adresa :", 479, 250, 39, "DBEditAdresa" },
};
