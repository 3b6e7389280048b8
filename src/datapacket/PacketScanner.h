#pragma once

#include <QByteArrayView>
#include <QVarLengthArray>

// A tolerant tokenizer of the markup of a data packet, over bytes in either
// encoding: it yields start and end tags with their raw attributes and skips
// declarations, comments, CDATA, doctype and text. Attribute values may hold
// raw control characters and '<'; only their own quote ends them. Malformed or
// cut-off markup throws ENompackError (File).
class TPacketScanner {
 public:
  enum class TToken { StartTag, EndTag, End };

  struct TAttr {
    QByteArrayView Name;
    QByteArrayView Value;  // raw: entities not yet resolved
  };

  TPacketScanner(const char* begin, const char* end) : FBegin(begin), FPos(begin), FEnd(end) {}

  TToken Next();

  QByteArrayView Name() const { return FName; }
  bool NameIs(const char* name) const;  // ignoring ASCII letter case
  bool SelfClosing() const { return FSelfClosing; }
  const QVarLengthArray<TAttr, 32>& Attrs() const { return FAttrs; }
  qsizetype TagOffset() const { return FTagStart - FBegin; }

  // Skips everything up to the end tag that closes the start tag just read.
  void SkipElement();

 private:
  const char* FBegin;
  const char* FPos;
  const char* FEnd;
  const char* FTagStart = nullptr;
  QByteArrayView FName;
  bool FSelfClosing = false;
  QVarLengthArray<TAttr, 32> FAttrs;

  [[noreturn]] void FailTruncated() const;
  [[noreturn]] void FailMalformed(const char* at) const;
  void SkipPast(const char* terminator);
  void SkipSpace();
};

// The blanks of the markup: between attributes and around numbers.
inline bool IsMarkupSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// ASCII comparison ignoring letter case.
bool EqualsIgnoringCase(QByteArrayView a, const char* b);
