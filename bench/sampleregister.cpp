#include "bench/sampleregister.h"

#include "store/codepage.h"
#include "store/datapacket.h"
#include "store/exception.h"
#include "store/schema.h"

#include <QFile>
#include <QStringList>

#include <cmath>
#include <cstdint>

namespace bench {

namespace {

// Small and fixed, so every run and every machine gets the same register.
class Random
{
public:
    explicit Random(std::uint64_t seed)
        : m_state(seed * 0x9E3779B97F4A7C15ull + 1)
    {
    }
    std::uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return std::uint32_t(m_state >> 16);
    }
    int below(int n) { return int(next() % std::uint32_t(n)); }
    const QString &pick(const QStringList &list) { return list[below(int(list.size()))]; }

private:
    std::uint64_t m_state;
};

struct Medicine
{
    const char16_t *name;
    const char16_t *generic;
    const char16_t *atk;
    const char16_t *maker;
};

const Medicine medicines[] = {
    { u"Keppra 500 mg tbl.", u"levetiracetam", u"N03AX14", u"UCB Pharma S.A." },
    { u"Sabril 500 mg gran.", u"vigabatrin", u"N03AG04", u"Sanofi-Aventis" },
    { u"Diacomit 250 mg kaps.", u"stiripentol", u"N03AX17", u"Biocodex" },
    { u"Fycompa 4 mg tbl.", u"perampanel", u"N03AX22", u"Eisai GmbH" },
    { u"Cystadane 1 g prašak", u"betain", u"A16AA06", u"Recordati" },
    { u"Orfadin 10 mg kaps.", u"nitizinon", u"A16AX04", u"Sobi AB" },
    { u"Luminaletten 15 mg", u"fenobarbital", u"N03AA02", u"Desitin" },
    { u"Frisium 10 mg tbl.", u"klobazam", u"N05BA09", u"Sanofi-Aventis" },
    { u"Ospolot 200 mg tbl.", u"sultiam", u"N03AX03", u"Desitin" },
    { u"Buccolam 5 mg otop.", u"midazolam", u"N05CD08", u"Neuraxpharm" },
};

const QStringList pharmacies = {
    QStringLiteral("Ljekarna Čakovec"),
    QStringLiteral("Gradska ljekarna Zagreb"),
    QStringLiteral("Ljekarne Šibenik"),
    QStringLiteral("Ljekarna Đakovo"),
    QStringLiteral("Medika d.d."),
    QStringLiteral("Phoenix Farmacija"),
};

const QStringList firstNames = {
    QStringLiteral("Ivana"),
    QStringLiteral("Željko"),
    QStringLiteral("Đurđica"),
    QStringLiteral("Mišo"),
    QStringLiteral("Anđela"),
    QStringLiteral("Tomislav"),
    QStringLiteral("Snježana"),
    QStringLiteral("Božidar"),
    QStringLiteral("Lucija"),
    QStringLiteral("Matej"),
    QStringLiteral("Ružica"),
    QStringLiteral("Krešimir"),
};

const QStringList surnames = {
    QStringLiteral("Kovačić"),
    QStringLiteral("Horvat"),
    QStringLiteral("Babić"),
    QStringLiteral("Šarić"),
    QStringLiteral("Jurić"),
    QStringLiteral("Marić"),
    QStringLiteral("Perić"),
    QStringLiteral("Radić"),
    QStringLiteral("Knežević"),
    QStringLiteral("Đurić"),
    QStringLiteral("Božić"),
    QStringLiteral("Novak"),
    QStringLiteral("Vuković"),
    QStringLiteral("Tomić"),
    QStringLiteral("Ćosić"),
};

const QStringList institutions = {
    QStringLiteral("KBC Zagreb"),
    QStringLiteral("KBC Split"),
    QStringLiteral("KB Sveti Duh"),
    QStringLiteral("OB Čakovec"),
    QStringLiteral("KBC Osijek"),
    QStringLiteral("KBC Rijeka"),
    QStringLiteral("OB Šibenik"),
    QStringLiteral("DZ Požega"),
};

struct Place
{
    const char16_t *postcode;
    const char16_t *name;
};

const Place places[] = {
    { u"10000", u"Zagreb" },
    { u"21000", u"Split" },
    { u"31000", u"Osijek" },
    { u"51000", u"Rijeka" },
    { u"40000", u"Čakovec" },
    { u"22000", u"Šibenik" },
    { u"23000", u"Zadar" },
    { u"42000", u"Varaždin" },
    { u"34000", u"Požega" },
    { u"31400", u"Đakovo" },
    { u"20000", u"Dubrovnik" },
};

const QStringList streets = {
    QStringLiteral("Vukovarska"),
    QStringLiteral("Šetalište Baćvice"),
    QStringLiteral("Ilica"),
    QStringLiteral("Trg Ante Starčevića"),
    QStringLiteral("Đakovačka"),
    QStringLiteral("Križanićeva"),
    QStringLiteral("Zvonimirova"),
    QStringLiteral("Šubićeva"),
};

const QStringList tariffs = {
    QStringLiteral("3004.90.00"),
    QStringLiteral("3004.20.00"),
    QStringLiteral("3004.39.00"),
};

const QStringList units = {
    QStringLiteral("kutija"),
    QStringLiteral("bočica"),
    QStringLiteral("ampula"),
    QStringLiteral("pak."),
};

const QStringList currencies = {
    QStringLiteral("EUR"),
    QStringLiteral("EUR"),
    QStringLiteral("CHF"),
    QStringLiteral("USD"),
};

} // namespace

std::vector<store::Record> sampleRegister(int count)
{
    const auto field = [](const char16_t *name) { return store::fieldIndex(QStringView(name)); };
    const int tarBr = field(u"Tar_br"), ljekarna = field(u"Ljekarna"), naziv = field(u"Naziv"),
              genIme = field(u"Gen_ime"), atk = field(u"ATK"), proizvodjac = field(u"Proizvodjac"),
              kolicina = field(u"Kolicina"), pacijent = field(u"Pacijent"),
              jedMjere = field(u"Jed_mjere"), valuta = field(u"Valuta"), cijena = field(u"Cijena"),
              protokol = field(u"Protokol"), propisivac = field(u"Propisivac"),
              ustanova = field(u"Ustanova"), hpbroj = field(u"Hpbroj"), mjesto = field(u"Mjesto"),
              adresa = field(u"Adresa");

    Random random(std::uint64_t(count) + 2024);
    std::vector<store::Record> rows(size_t(std::max(count, 0)));
    store::RecordBuilder r;
    const auto text = [&r](int f, QStringView value) { r.setTextUtf8(f, value.toUtf8()); };
    for (int i = 0; i < count; ++i) {
        const Medicine &m = medicines[random.below(int(std::size(medicines)))];
        const Place &place = places[random.below(int(std::size(places)))];
        const QString person = random.pick(firstNames) + u' ' + random.pick(surnames);

        text(tarBr, random.pick(tariffs));
        text(ljekarna, random.pick(pharmacies));
        // Every twentieth entry was started and never named.
        if (i % 20 != 7)
            text(naziv, QStringView(m.name));
        text(genIme, QStringView(m.generic));
        text(atk, QStringView(m.atk));
        text(proizvodjac, QStringView(m.maker));
        r.setNumber(kolicina, 1 + random.below(12));
        text(pacijent, person);
        text(jedMjere, random.pick(units));
        text(valuta, random.pick(currencies));
        r.setNumber(cijena, std::round(500.0 + random.below(150000)) / 100.0);
        text(protokol, QStringLiteral("KI-%1").arg(100 + random.below(900)));
        text(propisivac, QStringLiteral("dr. ") + random.pick(surnames));
        text(ustanova, random.pick(institutions));
        text(hpbroj, QStringView(place.postcode));
        text(mjesto, QStringView(place.name));
        text(adresa, random.pick(streets) + u' ' + QString::number(1 + random.below(120)));
        rows[size_t(i)] = r.take();
    }
    return rows;
}

void writeSampleRegister(int count, const QString &path)
{
    store::saveDataPacketFile(path, sampleRegister(count));
}

QByteArray olderProgramsBytes(const QByteArray &own)
{
    QByteArray old;
    old.reserve(own.size());
    for (qsizetype i = 0; i < own.size(); ++i) {
        if (own[i] == '&' && i + 2 < own.size() && own[i + 1] == '#') {
            const qsizetype end = own.indexOf(';', i);
            bool ok = false;
            const uint cp = own.mid(i + 2, end - i - 2).toUInt(&ok);
            if (ok && cp >= 0x80 && cp < 0x10000 && store::codepage::holds(QChar(cp))) {
                old += store::codepage::encode(QString(QChar(cp)));
                i = end;
                continue;
            }
        }
        old += own[i];
    }
    return old;
}

void writeOlderProgramsFile(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        throw store::Exception(QStringLiteral("cannot read %1").arg(from));
    const QByteArray old = olderProgramsBytes(in.readAll());
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(old) != old.size())
        throw store::Exception(QStringLiteral("cannot write %1").arg(to));
}

} // namespace bench
