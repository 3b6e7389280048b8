#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A whole file as the reader scans it: in UTF-8 or in Windows-1251, the two
// encodings the scanner and the decoder read in place.
struct TPacketBytes {
  QByteArray Data;      // the file, transcoded to UTF-8 when it was in another encoding
  qsizetype Start = 0;  // past a byte-order mark
  bool Utf8 = false;
};

// Turns raw attribute values of a data packet into text: the file's encoding
// (UTF-8 or Windows-1251) and the entities and character references.
class TPacketTextDecoder {
 public:
  explicit TPacketTextDecoder(bool utf8) : FUtf8(utf8) {}

  QString Decode(QByteArrayView raw) const;
  // The bytes a name has in the file's encoding (to match attribute names).
  QByteArray Encode(const QString& text) const;

  // Reads a whole file in the encoding its byte-order mark or declaration
  // names. Without either, the bytes are Windows-1251 unless they are valid
  // UTF-8 with at least one multi-byte sequence (Cyrillic Windows-1251 text
  // practically never is). Throws ENompackError (File), naming `sourceName`
  // and the encoding, when the declared encoding is unknown or the bytes are
  // not valid in it.
  static TPacketBytes Prepare(const QByteArray& data, const QString& sourceName);
  // The offset of the first byte that is not valid UTF-8; -1 when all are.
  static qsizetype FirstInvalidUtf8Byte(QByteArrayView data);

 private:
  bool FUtf8;

  void AppendPlain(QString& out, const char* p, qsizetype n) const;
};
