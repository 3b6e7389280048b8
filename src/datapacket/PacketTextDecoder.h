#pragma once

#include <QByteArrayView>
#include <QString>

// Turns raw attribute values of a data packet into text: the file's encoding
// (UTF-8 or Windows-1251) and the entities and character references.
class TPacketTextDecoder {
 public:
  explicit TPacketTextDecoder(bool utf8) : FUtf8(utf8) {}

  QString Decode(QByteArrayView raw) const;
  // The bytes a name has in the file's encoding (to match attribute names).
  QByteArray Encode(const QString& text) const;

  // Which encoding a whole file is in: UTF-8 when it starts with its
  // byte-order mark (`bomLength` 3), or declares UTF-8 and is valid UTF-8;
  // otherwise Windows-1251.
  static bool DetectUtf8(QByteArrayView data, qsizetype& bomLength);
  static bool IsValidUtf8(QByteArrayView data);

 private:
  bool FUtf8;

  void AppendPlain(QString& out, const char* p, qsizetype n) const;
};
