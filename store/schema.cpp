#include "store/schema.h"

#include <QString>

namespace store {

namespace {

constexpr std::array<FieldDef, FieldCount> kFields { {
    { "Tar_br", "CDSetLijekoviTar_br", FieldType::Text, 10, 10, 0, "Tarifni broj" },
    { "Ljekarna", "StringField1", FieldType::Text, 100, 100, 0, "Ljekarna ili dobavljač" },
    { "Naziv", "StringField2", FieldType::Text, 100, 100, 0, "Naziv lijeka" },
    { "Gen_ime", "CDSetLijekoviGen_ime", FieldType::Text, 150, 150, 0, "Generičko ime" },
    { "ATK", "CDSetLijekoviATK", FieldType::Text, 10, 10, 0, "ATK" },
    { "Proizvodjac", "StringField3", FieldType::Text, 150, 150, 0, "Proizvođač" },
    { "Kolicina", "CDSetLijekoviKolicina", FieldType::Float, 0, 10, 10, "Količina" },
    { "Pacijent", "StringField4", FieldType::Text, 255, 255, 0, "Pacijent ili korisnik" },
    { "Jed_mjere", "CDSetLijekoviJed_mjere", FieldType::Text, 10, 10, 0, "Jedinica mjere" },
    { "Valuta", "CDSetLijekoviValuta", FieldType::Text, 3, 3, 0, "Valuta" },
    { "Cijena", "CDSetLijekoviCijena", FieldType::Float, 0, 10, 10, "Cijena" },
    { "Protokol", "CDSetLijekoviProtokol", FieldType::Text, 100, 100, 0, "Protokol" },
    { "Propisivac", "CDSetLijekoviPropisivac", FieldType::Text, 255, 255, 0, "Propisivač" },
    { "Ustanova", "CDSetLijekoviUstanova", FieldType::Text, 255, 255, 0, "Ustanova" },
    { "Hpbroj", "CDSetLijekoviHpbroj", FieldType::Text, 6, 6, 0, "Poštanski broj" },
    { "Mjesto", "CDSetLijekoviMjesto", FieldType::Text, 255, 255, 0, "Mjesto" },
    { "Adresa", "CDSetLijekoviAdresa", FieldType::Text, 255, 255, 0, "Adresa" },
} };

struct Slots
{
    std::array<int, FieldCount> text {};
    std::array<int, FieldCount> number {};
};

constexpr Slots makeSlots()
{
    Slots s;
    int t = 0;
    int n = 0;
    for (int i = 0; i < FieldCount; ++i) {
        if (kFields[i].type == FieldType::Text) {
            s.text[i] = t++;
            s.number[i] = -1;
        } else {
            s.text[i] = -1;
            s.number[i] = n++;
        }
    }
    return s;
}

constexpr Slots kSlots = makeSlots();

} // namespace

const std::array<FieldDef, FieldCount> &importRecordFields() { return kFields; }

int fieldIndex(QStringView name)
{
    // The names with their lengths, so that most fields are passed over by
    // their length alone: the export and the XML reader ask per value.
    static const std::array<QLatin1StringView, FieldCount> names = [] {
        std::array<QLatin1StringView, FieldCount> n;
        for (int i = 0; i < FieldCount; ++i)
            n[size_t(i)] = QLatin1StringView(kFields[size_t(i)].name);
        return n;
    }();
    for (int i = 0; i < FieldCount; ++i) {
        if (name == names[size_t(i)])
            return i;
    }
    return -1;
}

int textSlot(int field) { return kSlots.text[field]; }

int floatSlot(int field) { return kSlots.number[field]; }

} // namespace store
