#pragma once

#include <QByteArray>
#include <QString>

// Windows-1251, the single-byte code page of the database sessions and of the
// single-byte chunk files. Qt's own codecs do not carry it.
namespace Cp1251 {

QString Decode(const QByteArray& bytes);
QString Decode(const char* data, qsizetype size);

// The byte (0x80..0xFF) of a character from U+0080 up; 0 when the code page
// has none. U+0098 stands for the undefined byte 0x98, as Decode gives it.
unsigned char HighByte(char16_t c);

// Encodes text; returns false (and leaves `out` partly filled) when a character
// has no Windows-1251 form. `badChar` receives the first such character.
bool TryEncode(const QString& text, QByteArray& out, QChar* badChar = nullptr);
// Encodes text or throws ENompackError (Conversion) naming the character.
QByteArray Encode(const QString& text);
bool CanEncode(const QString& text);

}  // namespace Cp1251
