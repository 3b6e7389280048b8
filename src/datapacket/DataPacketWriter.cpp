// Writes a dataset as one XML data packet (a chunk file). The bytes are put
// together by hand: the single-byte variant and the engine's escapes (CR, LF,
// TAB and backslash as references) are beyond what an XML writer produces,
// and the export writes hundreds of thousands of rows through here.

#include <QSet>
#include <cstring>

#include "ClientDataSet.h"
#include "Cp1251.h"
#include "DataPacketTypes.h"
#include "DataPacketValues.h"
#include "NompackError.h"

namespace {

// A growing byte buffer written through raw pointers: Room(n) makes space for
// n bytes at the end, Advance() takes what was written.
class TByteSink {
 public:
  explicit TByteSink(qsizetype expected)
      : FBuffer(std::max<qsizetype>(expected, 256), Qt::Uninitialized) {}

  char* Room(qsizetype n) {
    if (FLength + n > FBuffer.size()) FBuffer.resize(std::max(FBuffer.size() * 2, FLength + n));
    return FBuffer.data() + FLength;
  }
  void Advance(const char* end) { FLength = end - FBuffer.constData(); }
  void Append(const char* text, qsizetype n) {
    std::memcpy(Room(n), text, n);
    FLength += n;
  }
  void Append(const QByteArray& bytes) { Append(bytes.constData(), bytes.size()); }
  template <qsizetype N>
  void AppendLiteral(const char (&text)[N]) {
    Append(text, N - 1);
  }
  QByteArray Take() {
    FBuffer.truncate(FLength);
    return std::move(FBuffer);
  }

 private:
  QByteArray FBuffer;
  qsizetype FLength = 0;
};

enum class TTextMode {
  Utf8,       // characters from U+0080 up in UTF-8
  Cp1251,     // as Windows-1251 bytes, references for what it lacks
  References  // every character from U+0080 up as a reference
};

// "&#NNN;": decimal, at least three digits.
char* WriteReference(char* p, char32_t code) {
  char digits[8];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + code % 10);
    code /= 10;
  } while (code != 0);
  while (n < 3) digits[n++] = '0';
  *p++ = '&';
  *p++ = '#';
  while (n > 0) *p++ = digits[--n];
  *p++ = ';';
  return p;
}

template <qsizetype N>
inline char* Put(char* p, const char (&text)[N]) {
  std::memcpy(p, text, N - 1);
  return p + N - 1;
}

// Escaped text for an attribute value.
void AppendText(TByteSink& sink, const QString& text, TTextMode mode) {
  const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
  const qsizetype n = text.size();
  // Room is made block by block: the longest spelling of one UTF-16 unit is
  // a six-byte escape or a reference to a code point of up to seven digits
  // (a surrogate pair, two units, takes no more than that either).
  constexpr qsizetype kBlock = 4096;
  constexpr qsizetype kMaxPerUnit = 10;
  qsizetype blockEnd = 0;
  char* p = nullptr;
  for (qsizetype i = 0; i < n; ++i) {
    if (i >= blockEnd) {
      if (p) sink.Advance(p);
      blockEnd = std::min(n, i + kBlock);
      p = sink.Room((blockEnd - i) * kMaxPerUnit);
    }
    const char16_t c = s[i];
    if (c < 0x80) {
      switch (c) {
        case '<':
          p = Put(p, "&lt;");
          break;
        case '>':
          p = Put(p, "&gt;");
          break;
        case '"':
          p = Put(p, "&quot;");
          break;
        case '&':
          p = Put(p, "&amp;");
          break;
        case '\'':
          p = Put(p, "&apos;");
          break;
        case '\r':
          p = Put(p, "&#013;");
          break;
        case '\n':
          p = Put(p, "&#010;");
          break;
        case '\t':
          p = Put(p, "&#009;");
          break;
        case '\\':
          p = Put(p, "&#092;");
          break;
        default:
          *p++ = static_cast<char>(c);
      }
      continue;
    }
    if (mode == TTextMode::Cp1251) {
      if (const unsigned char b = Cp1251::HighByte(c)) {
        *p++ = static_cast<char>(b);
        continue;
      }
    }
    char32_t code = c;
    const bool pair = QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(s[i + 1]);
    if (pair) code = QChar::surrogateToUcs4(c, s[i + 1]);
    if (mode == TTextMode::Utf8 && !QChar::isSurrogate(c)) {
      if (c < 0x800) {
        *p++ = static_cast<char>(0xC0 | (c >> 6));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      } else {
        *p++ = static_cast<char>(0xE0 | (c >> 12));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      }
      continue;
    }
    if (mode == TTextMode::Utf8 && pair) {
      *p++ = static_cast<char>(0xF0 | (code >> 18));
      *p++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (code & 0x3F));
      ++i;
      continue;
    }
    // A lone surrogate has no UTF-8 form: a reference to the unit keeps it
    // without making the file invalid UTF-8.
    p = WriteReference(p, code);
    if (pair) ++i;
  }
  if (p) sink.Advance(p);
}

// Attribute names of ROW: the engine's replacements, plus whatever else would
// break the markup; unique, so that no two fields share an attribute. Names
// that need no change keep it; a replaced name that collides gets a number.
QVector<QString> AttributeNames(const QVector<TFieldDef>& fields, TDataPacketFormat format) {
  static const QString kReplaced = QStringLiteral("()#*!$%? =\"'<>&/\\");
  QVector<QString> names;
  QSet<QString> used;
  for (const TFieldDef& def : fields) {
    QString name = def.Name;
    for (QChar& c : name) {
      const bool unfit = c.unicode() < 0x20 || c.isSpace() || kReplaced.contains(c) ||
                         c.isSurrogate() ||
                         (format == TDataPacketFormat::SingleByte && c.unicode() >= 0x80 &&
                          !Cp1251::HighByte(c.unicode()));
      if (unfit) c = QLatin1Char('_');
    }
    if (name.isEmpty()) name = QStringLiteral("_");
    if (name == def.Name) used.insert(name.toLower());
    names.append(name);
  }
  for (int i = 0; i < names.size(); ++i) {
    if (names.at(i) == fields.at(i).Name) continue;
    const QString base = names.at(i);
    QString name = base;
    for (int n = 2; used.contains(name.toLower()); ++n)
      name = base + QLatin1Char('_') + QString::number(n);
    used.insert(name.toLower());
    names[i] = name;
  }
  return names;
}

struct TColumn {
  QByteArray Prefix;  // ` ATTRNAME="`
  TPacketValueKind Kind = TPacketValueKind::Unsupported;
  int Scale = 0;  // ftBCD / ftFMTBcd: fraction digits written at least
  qint64 Low = 0, High = 0;
  TTextMode Mode = TTextMode::Utf8;  // Text / WideText
  // A blank text in a number or date column is no value at all, as the
  // reader takes it too.
  bool BlankIsNoValue = false;
};

class TPacketWriter {
 public:
  TPacketWriter(const QVector<TFieldDef>& fields, TDataPacketFormat format)
      : FFields(fields),
        FFormat(format),
        FTextMode(format == TDataPacketFormat::Utf8 ? TTextMode::Utf8 : TTextMode::Cp1251) {}

  QByteArray Write(const QVector<QVector<Variant>>& rows);

 private:
  const QVector<TFieldDef>& FFields;
  TDataPacketFormat FFormat;
  TTextMode FTextMode;
  QVector<TColumn> FColumns;

  void WriteMetadata(TByteSink& sink);
  void WriteNumberAttribute(TByteSink& sink, const char* name, qint64 value);
  void WriteValue(TByteSink& sink, const TColumn& column, const Variant& value);
  void WriteBcd(TByteSink& sink, const TColumn& column, const Variant& value);
  void WriteDateTime(TByteSink& sink, TPacketValueKind kind, TDateTime value);
};

void TPacketWriter::WriteNumberAttribute(TByteSink& sink, const char* name, qint64 value) {
  sink.Append(name, static_cast<qsizetype>(std::strlen(name)));
  char* p = sink.Room(DataPacketValues::kMaxNumberText + 1);
  p = DataPacketValues::WriteInteger(p, value);
  *p++ = '"';
  sink.Advance(p);
}

void TPacketWriter::WriteMetadata(TByteSink& sink) {
  QSet<QString> seen;
  for (const TFieldDef& def : FFields) {
    const QString key = def.Name.toLower();
    if (seen.contains(key)) {
      throw ENompackError(
          QStringLiteral("The field name \"%1\" occurs more than once").arg(def.Name),
          ENompackError::Kind::General);
    }
    seen.insert(key);
  }
  const QVector<QString> names = AttributeNames(FFields, FFormat);
  sink.AppendLiteral("<METADATA><FIELDS>");
  for (int i = 0; i < FFields.size(); ++i) {
    const TFieldDef& def = FFields.at(i);
    const DataPacketTypes::TPacketType type = DataPacketTypes::ToPacket(def.DataType);
    if (!type.FieldType) {
      throw ENompackError(
          QStringLiteral("The field \"%1\" has the type %2, which a data packet cannot hold")
              .arg(def.Name, FieldTypeName(def.DataType)),
          ENompackError::Kind::Conversion);
    }
    sink.AppendLiteral("<FIELD");
    if (names.at(i) != def.Name) {
      sink.AppendLiteral(" fieldname=\"");
      AppendText(sink, def.Name, FTextMode);
      sink.AppendLiteral("\"");
    }
    sink.AppendLiteral(" attrname=\"");
    AppendText(sink, names.at(i), FTextMode);
    sink.AppendLiteral("\" fieldtype=\"");
    sink.Append(type.FieldType, static_cast<qsizetype>(std::strlen(type.FieldType)));
    sink.AppendLiteral("\"");
    if (def.ReadOnly) sink.AppendLiteral(" readonly=\"true\"");
    if (def.Required) sink.AppendLiteral(" required=\"true\"");
    if (type.SubType) {
      sink.AppendLiteral(" SUBTYPE=\"");
      sink.Append(type.SubType, static_cast<qsizetype>(std::strlen(type.SubType)));
      sink.AppendLiteral("\"");
    }
    const TPacketValueKind kind = DataPacketTypes::ValueKind(def.DataType);
    if (kind == TPacketValueKind::Bcd) {
      if (def.Size != 0) WriteNumberAttribute(sink, " DECIMALS=\"", def.Size);
      WriteNumberAttribute(sink, " WIDTH=\"", def.Precision != 0 ? def.Precision : 32);
    } else if (def.Size != 0 &&
               (kind == TPacketValueKind::Text || kind == TPacketValueKind::Binary ||
                kind == TPacketValueKind::EncodedText)) {
      WriteNumberAttribute(sink, " WIDTH=\"", def.Size);
    } else if (def.Size != 0 && kind == TPacketValueKind::WideText) {
      // string.uni counts bytes of two-byte characters.
      WriteNumberAttribute(sink, " WIDTH=\"", qint64(def.Size) * 2);
    }
    sink.AppendLiteral("/>");

    TColumn column;
    column.Kind = kind;
    column.Scale = kind == TPacketValueKind::Bcd ? std::max(def.Size, 0) : 0;
    DataPacketTypes::IntegerRange(def.DataType, column.Low, column.High);
    column.Mode = kind == TPacketValueKind::WideText ? TTextMode::References : FTextMode;
    column.BlankIsNoValue = kind != TPacketValueKind::Text && kind != TPacketValueKind::WideText &&
                            kind != TPacketValueKind::EncodedText &&
                            kind != TPacketValueKind::Binary;
    TByteSink prefix(64);
    prefix.AppendLiteral(" ");
    AppendText(prefix, names.at(i), FTextMode);
    prefix.AppendLiteral("=\"");
    column.Prefix = prefix.Take();
    FColumns.append(column);
  }
  sink.AppendLiteral("</FIELDS><PARAMS/></METADATA>");
}

QByteArray TPacketWriter::Write(const QVector<QVector<Variant>>& rows) {
  TByteSink sink(4096 + qsizetype(rows.size()) * (32 + FFields.size() * 16));
  if (FFormat == TDataPacketFormat::Utf8)
    sink.AppendLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>");
  else
    sink.AppendLiteral("<?xml version=\"1.0\" standalone=\"yes\"?>");
  sink.AppendLiteral("  <DATAPACKET Version=\"2.0\">");
  WriteMetadata(sink);
  sink.AppendLiteral("<ROWDATA>");
  const int fieldCount = FColumns.size();
  int rowIndex = 0;
  int fieldIndex = 0;
  try {
    for (rowIndex = 0; rowIndex < rows.size(); ++rowIndex) {
      const QVector<Variant>& row = rows.at(rowIndex);
      sink.AppendLiteral("<ROW");
      const int present = std::min<int>(fieldCount, row.size());
      for (fieldIndex = 0; fieldIndex < present; ++fieldIndex) {
        const Variant& value = row.at(fieldIndex);
        if (!value.IsNullOrEmpty()) WriteValue(sink, FColumns.at(fieldIndex), value);
      }
      sink.AppendLiteral("/>");
    }
  } catch (const ENompackError& e) {
    throw ENompackError(QStringLiteral("Cannot write the value of field \"%1\" in row %2: %3")
                            .arg(FFields.at(fieldIndex).Name)
                            .arg(rowIndex + 1)
                            .arg(e.Message()),
                        ENompackError::Kind::Conversion);
  }
  sink.AppendLiteral("</ROWDATA></DATAPACKET>");
  return sink.Take();
}

void TPacketWriter::WriteValue(TByteSink& sink, const TColumn& column, const Variant& value) {
  using T = Variant::Type;
  const TPacketValueKind kind = column.Kind;
  if (column.BlankIsNoValue && value.VarType() == T::String &&
      value.StringRef().trimmed().isEmpty())
    return;
  sink.Append(column.Prefix);
  switch (kind) {
    case TPacketValueKind::Text:
    case TPacketValueKind::WideText:
      if (value.VarType() == T::String)
        AppendText(sink, value.StringRef(), column.Mode);
      else
        AppendText(sink, value.ToString(), column.Mode);
      break;
    case TPacketValueKind::Integer: {
      const qint64 n = value.ToInt64();
      if (n < column.Low || n > column.High)
        throw ENompackError(QStringLiteral("%1 is out of the field's range").arg(n),
                            ENompackError::Kind::Conversion);
      char* p = sink.Room(DataPacketValues::kMaxNumberText);
      sink.Advance(DataPacketValues::WriteInteger(p, n));
      break;
    }
    case TPacketValueKind::Boolean:
      if (value.ToBool())
        sink.AppendLiteral("TRUE");
      else
        sink.AppendLiteral("FALSE");
      break;
    case TPacketValueKind::Float: {
      char* p = sink.Room(DataPacketValues::kMaxNumberText);
      sink.Advance(DataPacketValues::WriteDouble(p, value.ToDouble()));
      break;
    }
    case TPacketValueKind::Bcd:
      WriteBcd(sink, column, value);
      break;
    case TPacketValueKind::Date:
    case TPacketValueKind::Time:
    case TPacketValueKind::DateTime:
      WriteDateTime(sink, kind, value.ToDateTime());
      break;
    case TPacketValueKind::Binary:
      sink.Append(value.VarType() == T::Bytes ? value.BytesRef().toBase64()
                                              : value.ToBytes().toBase64());
      break;
    case TPacketValueKind::EncodedText:
      // Formatted and server-side memos travel as bytes: their Windows-1251 form.
      sink.Append(value.VarType() == T::Bytes ? value.BytesRef().toBase64()
                                              : Cp1251::Encode(value.ToString()).toBase64());
      break;
    case TPacketValueKind::Unsupported:
      break;
  }
  sink.AppendLiteral("\"");
}

void TPacketWriter::WriteBcd(TByteSink& sink, const TColumn& column, const Variant& value) {
  const QString text = value.ToDecimalText();
  const qsizetype n = text.size();
  char* const start = sink.Room(n + column.Scale + 1);
  char* p = start;
  qsizetype fraction = -1;
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = text.at(i).unicode();
    const bool fits = (c >= '0' && c <= '9') || (c == '-' && i == 0) || (c == '.' && fraction < 0);
    if (!fits)
      throw ENompackError(QStringLiteral("'%1' is not a valid BCD value").arg(text),
                          ENompackError::Kind::Conversion);
    if (fraction >= 0) ++fraction;
    if (c == '.') fraction = 0;
    *p++ = static_cast<char>(c);
  }
  // The field's scale shows in the text: 1.5 in a two-decimal field is 1.50.
  if (column.Scale > 0) {
    if (fraction < 0) {
      *p++ = '.';
      fraction = 0;
    }
    for (; fraction < column.Scale; ++fraction) *p++ = '0';
  }
  sink.Advance(p);
}

void TPacketWriter::WriteDateTime(TByteSink& sink, TPacketValueKind kind, TDateTime value) {
  // 1 January 0001 .. 31 December 9999, the range of four-digit years.
  if (!(value > -693594.0 && value < 2958466.0)) {
    throw ENompackError(QStringLiteral("%1 is not a valid date and time").arg(value),
                        ENompackError::Kind::Conversion);
  }
  const DateTimeConv::TimeStamp ts = DateTimeConv::ToTimeStamp(value);
  char* p = sink.Room(DataPacketValues::kDateText + 1 + DataPacketValues::kTimeText);
  if (kind != TPacketValueKind::Time) {
    int year = 0, month = 0, day = 0;
    DateTimeConv::BaseDate().addDays(ts.Day).getDate(&year, &month, &day);
    if (year < 1 || year > 9999)
      throw ENompackError(QStringLiteral("%1 is not a valid date and time").arg(value),
                          ENompackError::Kind::Conversion);
    p = DataPacketValues::WriteDate(p, year, month, day);
  }
  if (kind == TPacketValueKind::Time) {
    p = DataPacketValues::WriteTime(p, ts.MSec);
  } else if (kind == TPacketValueKind::DateTime && ts.MSec != 0) {
    *p++ = 'T';
    p = DataPacketValues::WriteTime(p, ts.MSec);
  }
  sink.Advance(p);
}

}  // namespace

QByteArray TClientDataSet::SaveToBytes(TDataPacketFormat format) const {
  TPacketWriter writer(FFields, format);
  return writer.Write(FRows);
}
