// Feeds arbitrary bytes to the data file reader. Besides the sanitizers'
// findings, it stops on a refusal that does not name the file, and on a
// packet that does not write back to the same rows and the same bytes.

#include "datapacket.h"
#include "exception.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fault(const char *what)
{
    std::fprintf(stderr, "fuzz_datapacket: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString source = QStringLiteral("fuzz.xml");
    std::vector<store::Record> rows;
    try {
        rows = store::parseDataPacket(bytes, source);
    } catch (const store::Exception &e) {
        if (!e.message().startsWith(QStringLiteral("Datoteka \"fuzz.xml\" ")))
            fault(e.what());
        return 0;
    }

    // Whatever was read must be savable and must read back unchanged.
    QByteArray written;
    try {
        written = store::serializeDataPacket(rows);
    } catch (const store::Exception &e) {
        fault(e.what());
    }
    std::vector<store::Record> again;
    try {
        again = store::parseDataPacket(written, source);
    } catch (const store::Exception &e) {
        fault(e.what());
    }
    if (again != rows)
        fault("the rows changed on their way through a save");
    if (store::serializeDataPacket(again) != written)
        fault("saving the same rows twice gave different bytes");
    return 0;
}
