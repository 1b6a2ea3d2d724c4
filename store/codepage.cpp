#include "store/codepage.h"

#include <QStringDecoder>

#include <array>

namespace store::codepage {

namespace {

// Byte of each BMP character in Windows-1250, or -1. Derived once from the
// platform's own decoder so it agrees with every other conversion.
struct Tables
{
    std::array<qint16, 0x10000> toByte;
    std::array<char16_t, 256> toChar;

    Tables()
    {
        toByte.fill(-1);
        toChar.fill(0xFFFD);
        QStringDecoder decoder("windows-1250", QStringDecoder::Flag::Stateless);
        for (int b = 0; b < 256; ++b) {
            const char byte = char(b);
            const QString c = decoder.decode(QByteArrayView(&byte, 1));
            if (c.size() == 1 && c[0] != QChar::ReplacementCharacter) {
                toChar[size_t(b)] = c[0].unicode();
                if (toByte[c[0].unicode()] < 0)
                    toByte[c[0].unicode()] = qint16(b);
            }
        }
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

} // namespace

bool holds(QChar c) { return tables().toByte[c.unicode()] >= 0; }

QByteArray encode(QStringView text, char replacement)
{
    const auto &t = tables();
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out.append(replacement);
            ++i;
            continue;
        }
        const qint16 b = t.toByte[c.unicode()];
        out.append(b >= 0 ? char(b) : replacement);
    }
    return out;
}

char16_t toUnicode(uchar byte) { return tables().toChar[byte]; }

QString decode(QByteArrayView bytes)
{
    const auto &t = tables();
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        dst[i] = QChar(t.toChar[uchar(bytes[i])]);
    return out;
}

} // namespace store::codepage
