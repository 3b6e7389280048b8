#include "PacketScanner.h"

#include <cstring>

#include "NompackError.h"

namespace {

inline char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace

bool EqualsIgnoringCase(QByteArrayView a, const char* b) {
  const auto n = static_cast<qsizetype>(std::strlen(b));
  if (a.size() != n) return false;
  for (qsizetype i = 0; i < n; ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool TPacketScanner::NameIs(const char* name) const {
  return EqualsIgnoringCase(FName, name);
}

void TPacketScanner::FailTruncated() const {
  throw ENompackError(
      QStringLiteral("файлът свършва по средата на маркировката си (отрязан ли е?)"),
      ENompackError::Kind::File);
}

void TPacketScanner::FailMalformed(const char* at) const {
  throw ENompackError(QStringLiteral("неправилна маркировка на байт %1").arg(at - FBegin),
                      ENompackError::Kind::File);
}

void TPacketScanner::SkipPast(const char* terminator) {
  const auto n = static_cast<qsizetype>(std::strlen(terminator));
  const QByteArrayView rest(FPos, FEnd - FPos);
  const qsizetype at = rest.indexOf(QByteArrayView(terminator, n));
  if (at < 0) FailTruncated();
  FPos += at + n;
}

void TPacketScanner::SkipSpace() {
  while (FPos < FEnd && IsMarkupSpace(*FPos)) ++FPos;
}

TPacketScanner::TToken TPacketScanner::Next() {
  for (;;) {
    const auto* lt =
        FPos < FEnd ? static_cast<const char*>(std::memchr(FPos, '<', FEnd - FPos)) : nullptr;
    if (!lt) {
      FPos = FEnd;
      return TToken::End;
    }
    FTagStart = lt;
    FPos = lt + 1;
    if (FPos >= FEnd) FailTruncated();
    const char c = *FPos;
    if (c == '?') {
      SkipPast("?>");
      continue;
    }
    if (c == '!') {
      const QByteArrayView rest(FPos, FEnd - FPos);
      if (rest.startsWith("!--")) {
        FPos += 3;
        SkipPast("-->");
      } else if (rest.startsWith("![CDATA[")) {
        SkipPast("]]>");
      } else {
        // A doctype, possibly with an internal subset in brackets.
        int depth = 0;
        for (; FPos < FEnd; ++FPos) {
          if (*FPos == '[') ++depth;
          if (*FPos == ']') --depth;
          if (*FPos == '>' && depth <= 0) break;
        }
        if (FPos >= FEnd) FailTruncated();
        ++FPos;
      }
      continue;
    }
    FAttrs.clear();
    FSelfClosing = false;
    const bool endTag = c == '/';
    if (endTag) ++FPos;
    const char* name = FPos;
    while (FPos < FEnd && !IsMarkupSpace(*FPos) && *FPos != '>' && *FPos != '/' && *FPos != '<')
      ++FPos;
    if (FPos >= FEnd) FailTruncated();
    if (FPos == name) FailMalformed(FTagStart);
    FName = QByteArrayView(name, FPos - name);
    if (endTag) {
      SkipSpace();
      if (FPos >= FEnd) FailTruncated();
      if (*FPos != '>') FailMalformed(FPos);
      ++FPos;
      return TToken::EndTag;
    }
    for (;;) {
      SkipSpace();
      if (FPos >= FEnd) FailTruncated();
      if (*FPos == '>') {
        ++FPos;
        return TToken::StartTag;
      }
      if (*FPos == '/') {
        if (FPos + 1 >= FEnd) FailTruncated();
        if (FPos[1] != '>') FailMalformed(FPos);
        FPos += 2;
        FSelfClosing = true;
        return TToken::StartTag;
      }
      const char* attrName = FPos;
      while (FPos < FEnd && !IsMarkupSpace(*FPos) && *FPos != '=' && *FPos != '>' && *FPos != '/' &&
             *FPos != '<')
        ++FPos;
      if (FPos >= FEnd) FailTruncated();
      if (FPos == attrName) FailMalformed(FPos);
      const QByteArrayView attrNameView(attrName, FPos - attrName);
      SkipSpace();
      if (FPos >= FEnd) FailTruncated();
      if (*FPos != '=') FailMalformed(FPos);
      ++FPos;
      SkipSpace();
      if (FPos >= FEnd) FailTruncated();
      const char quote = *FPos;
      if (quote != '"' && quote != '\'') FailMalformed(FPos);
      const char* value = FPos + 1;
      const auto* close = static_cast<const char*>(std::memchr(value, quote, FEnd - value));
      if (!close) FailTruncated();
      FAttrs.append(TAttr{attrNameView, QByteArrayView(value, close - value)});
      FPos = close + 1;
    }
  }
}

void TPacketScanner::SkipElement() {
  if (FSelfClosing) return;
  int depth = 1;
  while (depth > 0) {
    switch (Next()) {
      case TToken::StartTag:
        if (!FSelfClosing) ++depth;
        break;
      case TToken::EndTag:
        --depth;
        break;
      case TToken::End:
        FailTruncated();
    }
  }
}
