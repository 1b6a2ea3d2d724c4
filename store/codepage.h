#pragma once

#include <QByteArray>
#include <QString>

namespace store {

// Windows-1250, the program's 8-bit code page, whatever the machine's locale.
namespace codepage {

// True when the code page has a byte for `c`.
bool holds(QChar c);
// Encodes `text`; each character the code page cannot hold (a surrogate
// pair counts as one) becomes `replacement`.
QByteArray encode(QStringView text, char replacement = '?');
// Windows-1250 bytes as text; every byte has a character.
QString decode(QByteArrayView bytes);
// The character of one byte. The five bytes the code page leaves undefined
// give the C1 controls of the same value, as Windows does.
char16_t toUnicode(uchar byte);

} // namespace codepage
} // namespace store
