// Feeds arbitrary bytes to the data file's readers: as they are, as the rows
// of a packet with the program's own head, and as the values of one row.
// Besides the sanitizers' findings, it stops on
// - a refusal that does not name the file;
// - the scan of the program's own packets taking a file that the XML reader
//   refuses or reads to other records, or refusing one in other words;
// - a packet that does not write back to the same rows and the same bytes,
//   or that, once written, the scan does not take or takes differently from
//   the XML reader.
// A file over one of the readers' bounds is refused like any other.

#include "store/datapacket.h"
#include "store/datapacket_p.h"
#include "store/exception.h"
#include "store/schema.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

[[noreturn]] void fault(const char *what)
{
    std::fprintf(stderr, "fuzz_datapacket: %s\n", what);
    std::abort();
}

void check(const QByteArray &bytes)
{
    const QString source = QStringLiteral("fuzz.xml");

    std::optional<std::vector<store::Record>> read;
    QString refusal;
    try {
        read = store::packet::readXml(bytes, source);
    } catch (const store::Exception &e) {
        refusal = e.message();
        if (!refusal.startsWith(QStringLiteral("Datoteka \"fuzz.xml\" ")))
            fault(e.what());
    }
    try {
        const std::optional<std::vector<store::Record>> scanned
            = store::packet::scanOwnPacket(bytes, source);
        if (scanned && !read)
            fault("the scan took a file the XML reader refuses");
        if (scanned && *scanned != *read)
            fault("the scan and the XML reader read different records");
    } catch (const store::Exception &e) {
        if (e.message() != refusal)
            fault("the scan refused a file in other words than the XML reader");
    }
    if (!read)
        return;

    // What the program's entry point reads must be what the XML reader read,
    // savable, and read back unchanged.
    std::vector<store::Record> rows;
    QByteArray written;
    std::vector<store::Record> again;
    try {
        rows = store::parseDataPacket(bytes, source);
        if (rows != *read)
            fault("the entry point read other records than the XML reader");
        written = store::serializeDataPacket(rows);
        const auto scanned = store::packet::scanOwnPacket(written, source);
        if (!scanned)
            fault("the scan left a packet the program wrote");
        again = *scanned;
        if (store::packet::readXml(written, source) != again)
            fault("the scan and the XML reader read a written packet differently");
    } catch (const store::Exception &e) {
        fault(e.what());
    }
    if (again != rows)
        fault("the rows changed on their way through a save");
    if (store::serializeDataPacket(again) != written)
        fault("saving the same rows twice gave different bytes");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    check(bytes);
    // The same bytes as the rows of a packet with the program's own head and
    // tail: the files where the scan and the XML reader both have a say.
    static const QByteArray head = store::packet::ownHead();
    check(head + bytes + store::packet::ownTail);
    // The same bytes as the values of one row, a line each, in field order,
    // without the quotes and '<' that would end or break a value: the
    // references, numbers and characters where the two readers' rules meet.
    QByteArray row = "<ROW";
    const QList<QByteArray> values = bytes.split('\n');
    for (int f = 0; f < store::FieldCount && f < values.size(); ++f) {
        row += ' ';
        row += store::importRecordFields()[size_t(f)].name;
        row += "=\"" + QByteArray(values[f]).replace('"', "").replace('<', "") + '"';
    }
    check(head + row + "/>\n" + store::packet::ownTail);
    return 0;
}
