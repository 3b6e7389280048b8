#include "PacketTextDecoder.h"

#include <cstring>

#include "Cp1251.h"

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

bool TPacketTextDecoder::IsValidUtf8(QByteArrayView data) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
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
      return false;
    }
    if (end - p <= extra) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[k] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    p += extra + 1;
  }
  return true;
}

bool TPacketTextDecoder::DetectUtf8(QByteArrayView data, qsizetype& bomLength) {
  bomLength = 0;
  if (data.startsWith("\xEF\xBB\xBF")) {
    bomLength = 3;
    return true;
  }
  if (!data.startsWith("<?")) return false;
  const qsizetype close = data.indexOf("?>");
  if (close < 0) return false;
  // The declaration is ASCII in either encoding; look for encoding="UTF-8".
  const QByteArray declaration = data.first(close).toByteArray().toLower();
  const qsizetype at = declaration.indexOf("encoding");
  if (at < 0) return false;
  qsizetype i = at + 8;
  while (i < declaration.size() && (declaration[i] == ' ' || declaration[i] == '=')) ++i;
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) return false;
  const char quote = declaration[i];
  const qsizetype valueEnd = declaration.indexOf(quote, i + 1);
  if (valueEnd < 0) return false;
  const QByteArray encoding = declaration.mid(i + 1, valueEnd - i - 1).trimmed();
  if (encoding != "utf-8" && encoding != "utf8") return false;
  return IsValidUtf8(data);
}
