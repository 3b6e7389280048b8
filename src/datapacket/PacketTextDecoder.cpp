#include "PacketTextDecoder.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "Cp1251.h"
#include "NompackError.h"
#include "PacketScanner.h"

namespace {

// The character an entity or reference stands for; false when the text at
// `p` is none of them, and then the '&' stays as it is.
bool ParseEntity(const char* p, const char* end, char32_t& code, qsizetype& length) {
  const auto* semicolon =
      static_cast<const char*>(std::memchr(p, ';', std::min<qsizetype>(end - p, 12)));
  if (!semicolon) return false;
  const QByteArrayView body(p + 1, semicolon - p - 1);
  length = semicolon - p + 1;
  if (body == "lt")
    code = '<';
  else if (body == "gt")
    code = '>';
  else if (body == "amp")
    code = '&';
  else if (body == "quot")
    code = '"';
  else if (body == "apos")
    code = '\'';
  else if (body.size() >= 2 && body[0] == '#') {
    const bool hex = body[1] == 'x' || body[1] == 'X';
    qsizetype i = hex ? 2 : 1;
    if (i >= body.size()) return false;
    char32_t value = 0;
    for (; i < body.size(); ++i) {
      const char c = body[i];
      unsigned digit = 0;
      if (c >= '0' && c <= '9')
        digit = static_cast<unsigned>(c - '0');
      else if (hex && c >= 'a' && c <= 'f')
        digit = static_cast<unsigned>(c - 'a' + 10);
      else if (hex && c >= 'A' && c <= 'F')
        digit = static_cast<unsigned>(c - 'A' + 10);
      else
        return false;
      value = value * (hex ? 16 : 10) + digit;
      if (value > 0x10FFFF) return false;
    }
    code = value;
  } else {
    return false;
  }
  return true;
}

}  // namespace

void TPacketTextDecoder::AppendPlain(QString& out, const char* p, qsizetype n) const {
  if (n <= 0) return;
  if (FUtf8)
    out += QString::fromUtf8(p, n);
  else
    out += Cp1251::Decode(p, n);
}

QString TPacketTextDecoder::Decode(QByteArrayView raw) const {
  const char* p = raw.data();
  const qsizetype n = raw.size();
  bool ascii = true;
  bool entities = false;
  for (qsizetype i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    if (c >= 0x80) ascii = false;
    if (c == '&') entities = true;
  }
  if (!entities) {
    if (ascii) return QString::fromLatin1(p, n);
    return FUtf8 ? QString::fromUtf8(p, n) : Cp1251::Decode(p, n);
  }
  QString out;
  out.reserve(n);
  const char* end = p + n;
  const char* plain = p;
  for (const char* q = p; q < end;) {
    q = static_cast<const char*>(std::memchr(q, '&', end - q));
    if (!q) break;
    char32_t code = 0;
    qsizetype length = 0;
    if (!ParseEntity(q, end, code, length)) {
      ++q;
      continue;
    }
    AppendPlain(out, plain, q - plain);
    // References in the surrogate range stand for one UTF-16 unit each, as
    // text with characters beyond U+FFFF is written unit by unit.
    if (code > 0xFFFF) {
      out += QChar(QChar::highSurrogate(code));
      out += QChar(QChar::lowSurrogate(code));
    } else {
      out += QChar(static_cast<char16_t>(code));
    }
    q += length;
    plain = q;
  }
  AppendPlain(out, plain, end - plain);
  return out;
}

QByteArray TPacketTextDecoder::Encode(const QString& text) const {
  if (FUtf8) return text.toUtf8();
  QByteArray out;
  if (Cp1251::TryEncode(text, out)) return out;
  return text.toUtf8();  // matches no attribute name of this file, as it should not
}

qsizetype TPacketTextDecoder::FirstInvalidUtf8Byte(QByteArrayView data) {
  const auto* begin = reinterpret_cast<const unsigned char*>(data.data());
  const auto* p = begin;
  const auto* end = p + data.size();
  while (p < end) {
    if (*p < 0x80) {
      // Runs of ASCII eight bytes at a time.
      while (end - p >= 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ULL) break;
        p += 8;
      }
      while (p < end && *p < 0x80) ++p;
      continue;
    }
    const unsigned char c = *p;
    int extra = 0;
    char32_t min = 0;
    char32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      min = 0x80;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      min = 0x800;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      min = 0x10000;
      code = c & 0x07;
    } else {
      return p - begin;
    }
    if (end - p <= extra) return p - begin;
    for (int k = 1; k <= extra; ++k) {
      if ((p[k] & 0xC0) != 0x80) return p - begin;
      code = (code << 6) | (p[k] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return p - begin;
    p += extra + 1;
  }
  return -1;
}

namespace {

// The value of the encoding attribute of the XML declaration, as written;
// empty when the file has no declaration or the declaration names none. The
// declaration is ASCII in every encoding the file may declare.
QByteArray DeclaredEncoding(QByteArrayView data) {
  if (!data.startsWith("<?")) return QByteArray();
  const qsizetype close = data.indexOf("?>");
  if (close < 0) return QByteArray();
  const QByteArrayView declaration = data.first(close);
  const qsizetype at = declaration.toByteArray().toLower().indexOf("encoding");
  if (at < 0) return QByteArray();
  qsizetype i = at + 8;
  while (i < declaration.size() && (IsMarkupSpace(declaration[i]) || declaration[i] == '=')) ++i;
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\''))
    return QByteArray();
  const char quote = declaration[i];
  const qsizetype valueEnd = declaration.indexOf(quote, i + 1);
  if (valueEnd < 0) return QByteArray();
  return declaration.sliced(i + 1, valueEnd - i - 1).trimmed().toByteArray();
}

bool IsOneOf(const QByteArray& lowerName, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (lowerName == name) return true;
  }
  return false;
}

QString FileText(const QString& sourceName) {
  return sourceName.isEmpty() ? QStringLiteral("Пакетът с данни")
                              : QStringLiteral("Файлът \"%1\"").arg(sourceName);
}

[[noreturn]] void FailUnknownEncoding(const QString& sourceName, const QByteArray& encoding) {
  throw ENompackError(QStringLiteral("%1 е в кодировка \"%2\", която програмата не познава.")
                          .arg(FileText(sourceName), QString::fromLatin1(encoding)),
                      ENompackError::Kind::File);
}

[[noreturn]] void FailInvalidBytes(const QString& sourceName, const QByteArray& encoding,
                                   qsizetype offset) {
  throw ENompackError(
      QStringLiteral("%1 съдържа байт, който не е валиден в кодировка \"%2\" (позиция %3).")
          .arg(FileText(sourceName), QString::fromLatin1(encoding))
          .arg(offset),
      ENompackError::Kind::File);
}

// Where a converter first reports an error: fed one byte at a time, it
// reports it at the byte that breaks the sequence. Only on the failing path.
qsizetype FirstUndecodableByte(const QByteArray& name, QByteArrayView data) {
  QStringDecoder decoder(name.constData());
  for (qsizetype i = 0; i < data.size(); ++i) {
    // decode() only converts when its result becomes a string.
    const QString piece = decoder.decode(data.sliced(i, 1));
    if (decoder.hasError()) return i;
  }
  return data.size();
}

// The text of a file in an encoding Qt knows (through ICU for most), as
// UTF-8 for the scanner. The markup must read the same as ASCII: an
// encoding that spells "<?xml" otherwise cannot be the one this file uses.
TPacketBytes Transcode(const QByteArray& data, qsizetype start, const QByteArray& name,
                       const QString& sourceName) {
  // Stateless: a sequence cut off at the end of the file is an error too.
  QStringDecoder decoder(name.constData(), QStringDecoder::Flag::Stateless);
  if (!decoder.isValid()) FailUnknownEncoding(sourceName, name);
  const QByteArrayView body = QByteArrayView(data).sliced(start);
  if (start == 0) {
    const QByteArrayView declaration = body.first(body.indexOf("?>") + 2);
    QStringDecoder probe(name.constData());
    const QString read = probe.decode(declaration);
    if (probe.hasError() || read != QString::fromLatin1(declaration))
      FailInvalidBytes(sourceName, name, 0);
  }
  const QString text = decoder.decode(body);
  if (decoder.hasError())
    FailInvalidBytes(sourceName, name, start + FirstUndecodableByte(name, body));
  return TPacketBytes{text.toUtf8(), 0, true};
}

}  // namespace

TPacketBytes TPacketTextDecoder::Prepare(const QByteArray& data, const QString& sourceName) {
  const QByteArray utf8Name = QByteArrayLiteral("UTF-8");
  if (data.startsWith("\xEF\xBB\xBF")) {
    const qsizetype bad = FirstInvalidUtf8Byte(QByteArrayView(data).sliced(3));
    if (bad >= 0) FailInvalidBytes(sourceName, utf8Name, bad + 3);
    return TPacketBytes{data, 3, true};
  }
  // A byte-order mark of UTF-16 (a text editor's "Unicode"); never one of
  // UTF-32, whose little-endian mark starts the same way, in a data packet.
  if (data.startsWith("\xFF\xFE"))
    return Transcode(data, 2, QByteArrayLiteral("UTF-16LE"), sourceName);
  if (data.startsWith("\xFE\xFF"))
    return Transcode(data, 2, QByteArrayLiteral("UTF-16BE"), sourceName);
  const QByteArray declared = DeclaredEncoding(data);
  const QByteArray name = declared.toLower();
  if (declared.isEmpty()) {
    // Windows-1251 text of Cyrillic letters is never valid UTF-8 in practice,
    // while a program that saved UTF-8 without saying so leaves exactly that.
    const bool multiByte = std::any_of(
        data.cbegin(), data.cend(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return TPacketBytes{data, 0, multiByte && FirstInvalidUtf8Byte(data) < 0};
  }
  if (IsOneOf(name, {"utf-8", "utf8"})) {
    const qsizetype bad = FirstInvalidUtf8Byte(data);
    if (bad >= 0) FailInvalidBytes(sourceName, declared, bad);
    return TPacketBytes{data, 0, true};
  }
  // Our own table, as the single-byte files are written with it.
  if (IsOneOf(name, {"windows-1251", "cp1251", "x-cp1251", "win1251"}))
    return TPacketBytes{data, 0, false};
  return Transcode(data, 0, declared, sourceName);
}
