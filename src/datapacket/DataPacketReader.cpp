// Reads one XML data packet (a chunk file) into a dataset. The reader is
// tolerant in the ways files from other tools need (the encoding they
// declare, letter case of metadata names, raw control characters, change-log
// files) and strict about what would lose data: anything it cannot read
// throws, naming the file, the field and the row, and leaves the dataset
// empty.

#include <QHash>
#include <algorithm>
#include <cstring>

#include "ClientDataSet.h"
#include "Cp1251.h"
#include "DataPacketTypes.h"
#include "DataPacketValues.h"
#include "NompackError.h"
#include "PacketScanner.h"
#include "PacketTextDecoder.h"

namespace {

// RowState bits of change-log files.
constexpr int kRowOriginal = 1;
constexpr int kRowModified = 8;
constexpr int kRowNotCurrent = 1 | 2 | 32;  // original, deleted, unused

struct TReadColumn {
  QByteArray AttrName;  // as ROW attributes spell it, in the file's encoding
  TPacketValueKind Kind = TPacketValueKind::Unsupported;
  TFieldType Type = ftUnknown;
  qint64 Low = 0, High = 0;
  bool Blob = false;  // omitted in a modified row: unchanged
  QString TypeText;   // fieldtype as the file has it, for messages
};

[[noreturn]] void FailFile(const QString& message) {
  throw ENompackError(message, ENompackError::Kind::File);
}

bool IsBlobType(TFieldType type) {
  switch (type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return true;
    default:
      return false;
  }
}

class TPacketReader {
 public:
  TPacketReader(QByteArrayView data, qsizetype bomLength, bool utf8)
      : FScanner(data.data() + bomLength, data.data() + data.size()), FText(utf8) {}

  void Read(QVector<TFieldDef>& fields, QVector<QVector<Variant>>& rows);

 private:
  TPacketScanner FScanner;
  TPacketTextDecoder FText;
  QVector<TFieldDef> FFields;
  QVector<TReadColumn> FColumns;
  QVector<QVector<Variant>> FRows;
  int FRowNumber = 0;       // ROW elements so far, in file order
  QVector<int> FSeenInRow;  // per field: the row that last gave it a value
  // Change log: RowState per row, the omitted blobs of modified rows, and
  // which row a modified row replaces.
  bool FHasRowStates = false;
  QVector<int> FRowStates;
  QHash<int, QVector<int>> FOmittedBlobs;  // row index -> field indexes
  QHash<int, int> FOriginalOf;             // row number -> row number (1-based)

  void ExpectEnd(const char* name);
  void ReadMetadata();
  void ReadFields();
  void ReadField();
  void ReadParams();
  void ReadRows();
  void ReadRow(int rowNumber);
  int FindColumn(QByteArrayView name, int expected) const;
  Variant ReadValue(const TReadColumn& column, QByteArrayView raw, int field, int rowNumber) const;
  [[noreturn]] void FailValue(QByteArrayView raw, int field, int rowNumber) const;
  void ApplyChangeLog();
};

void TPacketReader::ExpectEnd(const char* name) {
  if (!FScanner.NameIs(name)) {
    FailFile(QStringLiteral("елементът <%1> е затворен с </%2> на байт %3")
                 .arg(QLatin1String(name), QString::fromLatin1(FScanner.Name().toByteArray()))
                 .arg(FScanner.TagOffset()));
  }
}

void TPacketReader::Read(QVector<TFieldDef>& fields, QVector<QVector<Variant>>& rows) {
  using TToken = TPacketScanner::TToken;
  if (FScanner.Next() != TToken::StartTag || !FScanner.NameIs("DATAPACKET"))
    FailFile(QStringLiteral("файлът не е пакет с данни (няма елемент DATAPACKET)"));
  bool metadata = false;
  if (!FScanner.SelfClosing()) {
    for (bool done = false; !done;) {
      switch (FScanner.Next()) {
        case TToken::StartTag:
          if (FScanner.NameIs("METADATA")) {
            // Rows already read are as wide as the first field list.
            if (metadata)
              FailFile(QStringLiteral("пакетът с данни има повече от един елемент METADATA"));
            ReadMetadata();
            metadata = true;
          } else if (FScanner.NameIs("ROWDATA")) {
            if (!metadata)
              FailFile(QStringLiteral("пакетът с данни няма елемент METADATA преди редовете си"));
            ReadRows();
          } else {
            FScanner.SkipElement();
          }
          break;
        case TToken::EndTag:
          ExpectEnd("DATAPACKET");
          done = true;
          break;
        case TToken::End:
          FailFile(QStringLiteral("файлът свършва преди края на пакета с данни (отрязан ли е?)"));
      }
    }
  }
  if (!metadata) FailFile(QStringLiteral("пакетът с данни няма елемент METADATA"));
  ApplyChangeLog();
  fields = std::move(FFields);
  rows = std::move(FRows);
}

void TPacketReader::ReadMetadata() {
  using TToken = TPacketScanner::TToken;
  bool fieldsSeen = false;
  if (!FScanner.SelfClosing()) {
    for (bool done = false; !done;) {
      switch (FScanner.Next()) {
        case TToken::StartTag:
          if (FScanner.NameIs("FIELDS")) {
            if (fieldsSeen)
              FailFile(QStringLiteral("пакетът с данни има повече от един елемент FIELDS"));
            ReadFields();
            fieldsSeen = true;
          } else if (FScanner.NameIs("PARAMS")) {
            ReadParams();
          } else {
            FScanner.SkipElement();
          }
          break;
        case TToken::EndTag:
          ExpectEnd("METADATA");
          done = true;
          break;
        case TToken::End:
          FailFile(QStringLiteral("файлът свършва вътре в METADATA (отрязан ли е?)"));
      }
    }
  }
  if (!fieldsSeen) FailFile(QStringLiteral("пакетът с данни няма елемент FIELDS"));
}

void TPacketReader::ReadFields() {
  using TToken = TPacketScanner::TToken;
  FFields.clear();
  FColumns.clear();
  if (!FScanner.SelfClosing()) {
    for (bool done = false; !done;) {
      switch (FScanner.Next()) {
        case TToken::StartTag:
          if (FScanner.NameIs("FIELD")) ReadField();
          FScanner.SkipElement();
          break;
        case TToken::EndTag:
          ExpectEnd("FIELDS");
          done = true;
          break;
        case TToken::End:
          FailFile(QStringLiteral("файлът свършва вътре във FIELDS (отрязан ли е?)"));
      }
    }
  }
  // The loaders find fields by name ignoring case: two names that differ only
  // in case, or two fields on one attribute, cannot both be reached.
  QHash<QString, int> names;
  for (int i = 0; i < FFields.size(); ++i) {
    const QString key = FFields.at(i).Name.toLower();
    if (names.contains(key))
      FailFile(QStringLiteral("името на поле \"%1\" се среща два пъти").arg(FFields.at(i).Name));
    names.insert(key, i);
    for (int k = 0; k < i; ++k) {
      if (EqualsIgnoringCase(FColumns.at(k).AttrName, FColumns.at(i).AttrName.constData()))
        FailFile(QStringLiteral("името на атрибута на поле \"%1\" се среща два пъти")
                     .arg(FFields.at(i).Name));
    }
  }
  FSeenInRow.fill(0, FFields.size());
}

void TPacketReader::ReadField() {
  QString attrName, fieldName, fieldType, subType;
  bool hasAttrName = false, hasFieldName = false, hasType = false;
  QByteArrayView width, decimals;
  bool readOnly = false, required = false;
  for (const TPacketScanner::TAttr& attr : FScanner.Attrs()) {
    if (EqualsIgnoringCase(attr.Name, "attrname")) {
      attrName = FText.Decode(attr.Value);
      hasAttrName = true;
    } else if (EqualsIgnoringCase(attr.Name, "fieldname")) {
      fieldName = FText.Decode(attr.Value);
      hasFieldName = true;
    } else if (EqualsIgnoringCase(attr.Name, "fieldtype")) {
      fieldType = FText.Decode(attr.Value).trimmed();
      hasType = true;
    } else if (EqualsIgnoringCase(attr.Name, "SUBTYPE")) {
      subType = FText.Decode(attr.Value).trimmed();
    } else if (EqualsIgnoringCase(attr.Name, "WIDTH")) {
      width = attr.Value.trimmed();
    } else if (EqualsIgnoringCase(attr.Name, "DECIMALS")) {
      decimals = attr.Value.trimmed();
    } else if (EqualsIgnoringCase(attr.Name, "readonly")) {
      DataPacketValues::ParseBoolean(attr.Value.data(), attr.Value.size(), readOnly);
    } else if (EqualsIgnoringCase(attr.Name, "required")) {
      DataPacketValues::ParseBoolean(attr.Value.data(), attr.Value.size(), required);
    }
  }
  const int number = FFields.size() + 1;
  if (!hasAttrName) FailFile(QStringLiteral("поле %1 няма attrname").arg(number));
  TFieldDef def;
  def.Name = hasFieldName ? fieldName : attrName;
  if (!hasType) FailFile(QStringLiteral("поле \"%1\" няма fieldtype").arg(def.Name));
  if (fieldType.compare(QLatin1String("nested"), Qt::CaseInsensitive) == 0) {
    FailFile(
        QStringLiteral(
            "поле \"%1\" е вложен набор от данни (nested), а файловете с части не съдържат такива")
            .arg(def.Name));
  }
  const DataPacketTypes::TReadType type = DataPacketTypes::FromPacket(fieldType, subType);
  if (type.Type == ftUnknown)
    FailFile(QStringLiteral("поле \"%1\" е от непознат тип \"%2\"").arg(def.Name, fieldType));
  auto numberOf = [&](QByteArrayView text, const char* what) -> int {
    if (text.isEmpty()) return 0;
    qint64 n = 0;
    if (!DataPacketValues::ParseInteger(text.data(), text.size(), n) || n < 0 || n > 0x7FFFFFFF) {
      FailFile(QStringLiteral("поле \"%1\" има невалиден %2 \"%3\"")
                   .arg(def.Name, QLatin1String(what), FText.Decode(text)));
    }
    return static_cast<int>(n);
  };
  const int widthValue = numberOf(width, "WIDTH");
  const int decimalsValue = numberOf(decimals, "DECIMALS");
  def.DataType = type.Type;
  def.ReadOnly = readOnly;
  def.Required = required;
  const TPacketValueKind kind = DataPacketTypes::ValueKind(type.Type);
  if (kind == TPacketValueKind::Bcd) {
    def.Size = decimalsValue;
    def.Precision = widthValue;
  } else if (type.Type == ftCurrency) {
    def.Precision = widthValue != 0 ? widthValue : 15;
  } else if (type.WidthInBytes) {
    def.Size = widthValue / 2;
  } else if (kind == TPacketValueKind::Text || kind == TPacketValueKind::Binary ||
             kind == TPacketValueKind::EncodedText) {
    def.Size = widthValue;
  }
  TReadColumn column;
  column.AttrName = FText.Encode(attrName);
  column.Kind = kind;
  column.Type = type.Type;
  column.Blob = IsBlobType(type.Type);
  column.TypeText = fieldType;
  DataPacketTypes::IntegerRange(type.Type, column.Low, column.High);
  FFields.append(def);
  FColumns.append(column);
}

void TPacketReader::ReadParams() {
  for (const TPacketScanner::TAttr& attr : FScanner.Attrs()) {
    if (!EqualsIgnoringCase(attr.Name, "CHANGE_LOG")) continue;
    // Triples "row previous state"; a modified row names the row it replaces.
    const QList<QByteArrayView> numbers = [&] {
      QList<QByteArrayView> parts;
      const char* p = attr.Value.data();
      const char* end = p + attr.Value.size();
      while (p < end) {
        while (p < end && IsMarkupSpace(*p)) ++p;
        const char* start = p;
        while (p < end && !IsMarkupSpace(*p)) ++p;
        if (p > start) parts.append(QByteArrayView(start, p - start));
      }
      return parts;
    }();
    for (qsizetype i = 0; i + 2 < numbers.size(); i += 3) {
      qint64 row = 0, previous = 0, state = 0;
      if (!DataPacketValues::ParseInteger(numbers[i].data(), numbers[i].size(), row) ||
          !DataPacketValues::ParseInteger(numbers[i + 1].data(), numbers[i + 1].size(), previous) ||
          !DataPacketValues::ParseInteger(numbers[i + 2].data(), numbers[i + 2].size(), state))
        break;
      if ((state & kRowModified) && previous > 0 && row <= 0x7FFFFFFF && previous <= 0x7FFFFFFF)
        FOriginalOf.insert(static_cast<int>(row), static_cast<int>(previous));
    }
  }
  FScanner.SkipElement();
}

void TPacketReader::ReadRows() {
  using TToken = TPacketScanner::TToken;
  if (FScanner.SelfClosing()) return;
  for (;;) {
    switch (FScanner.Next()) {
      case TToken::StartTag:
        if (FScanner.NameIs("ROW")) ReadRow(++FRowNumber);
        FScanner.SkipElement();
        break;
      case TToken::EndTag:
        ExpectEnd("ROWDATA");
        return;
      case TToken::End:
        FailFile(QStringLiteral("файлът свършва след ред %1, вътре в ROWDATA (отрязан ли е?)")
                     .arg(FRowNumber));
    }
  }
}

int TPacketReader::FindColumn(QByteArrayView name, int expected) const {
  // Rows list their values in field order, so the next field is the usual hit.
  const int n = FColumns.size();
  if (expected < n && FColumns.at(expected).AttrName == name) return expected;
  for (int i = 0; i < n; ++i) {
    if (FColumns.at(i).AttrName == name) return i;
  }
  for (int i = 0; i < n; ++i) {
    if (EqualsIgnoringCase(name, FColumns.at(i).AttrName.constData())) return i;
  }
  return -1;
}

void TPacketReader::ReadRow(int rowNumber) {
  static const Variant kNull = Variant::Null();
  QVector<Variant> values(FFields.size(), kNull);
  int rowState = 0;
  int expected = 0;
  for (const TPacketScanner::TAttr& attr : FScanner.Attrs()) {
    const int field = FindColumn(attr.Name, expected);
    if (field < 0) {
      if (EqualsIgnoringCase(attr.Name, "RowState")) {
        qint64 state = 0;
        const QByteArrayView text = attr.Value.trimmed();
        if (!DataPacketValues::ParseInteger(text.data(), text.size(), state))
          FailFile(QStringLiteral("ред %1 има невалиден RowState \"%2\"")
                       .arg(rowNumber)
                       .arg(FText.Decode(text)));
        rowState = static_cast<int>(state);
        FHasRowStates = true;
        continue;
      }
      FailFile(QStringLiteral("ред %1 има атрибут \"%2\", който не е име на поле")
                   .arg(rowNumber)
                   .arg(FText.Decode(attr.Name)));
    }
    if (FSeenInRow.at(field) == rowNumber)
      FailFile(QStringLiteral("ред %1 задава поле \"%2\" два пъти")
                   .arg(rowNumber)
                   .arg(FFields.at(field).Name));
    FSeenInRow[field] = rowNumber;
    values[field] = ReadValue(FColumns.at(field), attr.Value, field, rowNumber);
    expected = field + 1;
  }
  if (rowState & kRowModified) {
    QVector<int> omitted;
    for (int i = 0; i < FColumns.size(); ++i) {
      if (FColumns.at(i).Blob && FSeenInRow.at(i) != rowNumber) omitted.append(i);
    }
    if (!omitted.isEmpty()) FOmittedBlobs.insert(FRows.size(), omitted);
  }
  if (FHasRowStates) FRowStates.resize(FRows.size(), 0);
  if (FHasRowStates) FRowStates.append(rowState);
  FRows.append(std::move(values));
}

void TPacketReader::FailValue(QByteArrayView raw, int field, int rowNumber) const {
  throw ENompackError(
      QStringLiteral("стойността \"%1\" на поле \"%2\" (%3) на ред %4 е невалидна")
          .arg(FText.Decode(raw), FFields.at(field).Name, FColumns.at(field).TypeText)
          .arg(rowNumber),
      ENompackError::Kind::Conversion);
}

Variant TPacketReader::ReadValue(const TReadColumn& column, QByteArrayView raw, int field,
                                 int rowNumber) const {
  using T = Variant::Type;
  switch (column.Kind) {
    case TPacketValueKind::Text:
    case TPacketValueKind::WideText:
      return Variant::FromString(FText.Decode(raw));
    case TPacketValueKind::Binary:
    case TPacketValueKind::EncodedText: {
      QByteArray base64;
      base64.reserve(raw.size());
      QByteArray decoded;
      QByteArrayView source = raw;
      if (raw.contains('&')) {
        decoded = FText.Decode(raw).toLatin1();
        source = decoded;
      }
      for (const char c : source) {
        if (!IsMarkupSpace(c)) base64.append(c);
      }
      auto result = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
      if (!result) FailValue(raw, field, rowNumber);
      if (column.Kind == TPacketValueKind::EncodedText)
        return Variant::FromString(Cp1251::Decode(*result));
      return Variant::FromBytes(*result);
    }
    default:
      break;
  }
  QByteArray decoded;
  QByteArrayView text = raw;
  if (raw.contains('&')) {
    decoded = FText.Decode(raw).toUtf8();
    text = decoded;
  }
  text = text.trimmed();
  // An empty number, date or Boolean is no value.
  if (text.isEmpty()) return Variant::Null();
  const char* p = text.data();
  const qsizetype n = text.size();
  switch (column.Kind) {
    case TPacketValueKind::Integer: {
      qint64 value = 0;
      if (!DataPacketValues::ParseInteger(p, n, value) || value < column.Low || value > column.High)
        FailValue(raw, field, rowNumber);
      switch (column.Type) {
        case ftSmallint:
          return Variant::FromInt(value, T::Int16);
        case ftWord:
          return Variant::FromUInt(static_cast<quint64>(value), T::UInt16);
        case ftLargeint:
          return Variant::FromInt64(value);
        default:
          return Variant::FromInt(value, T::Int32);
      }
    }
    case TPacketValueKind::Boolean: {
      bool value = false;
      if (!DataPacketValues::ParseBoolean(p, n, value)) FailValue(raw, field, rowNumber);
      return Variant::FromBool(value);
    }
    case TPacketValueKind::Float: {
      double value = 0;
      if (!DataPacketValues::ParseDouble(p, n, value)) FailValue(raw, field, rowNumber);
      return Variant::FromDouble(value);
    }
    case TPacketValueKind::Bcd: {
      QString value;
      if (!DataPacketValues::ParseDecimal(p, n, value)) FailValue(raw, field, rowNumber);
      return Variant::FromDecimal(value);
    }
    case TPacketValueKind::Date:
    case TPacketValueKind::Time:
    case TPacketValueKind::DateTime: {
      TDateTime value = 0;
      if (!DataPacketValues::ParseDateTime(p, n, value)) FailValue(raw, field, rowNumber);
      return Variant::FromDateTime(value);
    }
    default:
      FailValue(raw, field, rowNumber);
  }
}

void TPacketReader::ApplyChangeLog() {
  if (!FHasRowStates) return;
  FRowStates.resize(FRows.size(), 0);
  const int count = FRows.size();
  // The row each row replaces: the one the change log names, or else, for a
  // modified row the log leaves out, the nearest original before it that no
  // other row replaces.
  QVector<int> previous(count, -1);
  QVector<bool> replaced(count, false);
  for (int i = 0; i < count; ++i) {
    const int logged = FOriginalOf.value(i + 1, 0) - 1;
    if (logged < 0 || logged >= count || logged == i) continue;
    previous[i] = logged;
    replaced[logged] = true;
  }
  for (int i = 0; i < count; ++i) {
    if (previous.at(i) >= 0 || (FRowStates.at(i) & kRowModified) == 0) continue;
    for (int k = i - 1; k >= 0; --k) {
      if ((FRowStates.at(k) & kRowOriginal) && !replaced.at(k)) {
        previous[i] = k;
        replaced[k] = true;
        break;
      }
    }
  }
  // A modified row leaves out the blobs it did not change: they are those of
  // the row it replaces. Rows are resolved in file order, so a chain of edits
  // carries the blob through.
  for (int i = 0; i < count; ++i) {
    const auto omitted = FOmittedBlobs.constFind(i);
    if (omitted == FOmittedBlobs.constEnd() || previous.at(i) < 0) continue;
    for (const int field : *omitted) FRows[i][field] = FRows.at(previous.at(i)).at(field);
  }
  // An edited row is saved after all the others, but it stands where the
  // first version of its chain stood: the loader inserts rows in this order,
  // parents before the children that refer to them. Versions come after the
  // rows they replace, so the chain is mostly known already; a damaged log
  // that runs in a circle stops after as many steps as there are rows.
  QVector<int> place(count);
  for (int i = 0; i < count; ++i) {
    const int before = previous.at(i);
    if (before < 0) {
      place[i] = i;
    } else if (before < i) {
      place[i] = place.at(before);
    } else {
      int first = i;
      for (int steps = 0; previous.at(first) >= 0 && steps < count; ++steps)
        first = previous.at(first);
      place[i] = first;
    }
  }
  QVector<int> current;
  current.reserve(count);
  for (int i = 0; i < count; ++i) {
    if ((FRowStates.at(i) & kRowNotCurrent) == 0) current.append(i);
  }
  std::stable_sort(current.begin(), current.end(),
                   [&](int a, int b) { return place.at(a) < place.at(b); });
  QVector<QVector<Variant>> rows;
  rows.reserve(current.size());
  for (const int i : current) rows.append(std::move(FRows[i]));
  FRows = std::move(rows);
}

}  // namespace

void TClientDataSet::LoadFromBytes(const QByteArray& data, const QString& sourceName) {
  Clear();
  // Encoding failures carry their own message, naming the file and the encoding.
  const TPacketBytes bytes = TPacketTextDecoder::Prepare(data, sourceName);
  QVector<TFieldDef> fields;
  QVector<QVector<Variant>> rows;
  try {
    TPacketReader reader(bytes.Data, bytes.Start, bytes.Utf8);
    reader.Read(fields, rows);
  } catch (const ENompackError& e) {
    Clear();
    const QString text =
        sourceName.isEmpty()
            ? QStringLiteral("Пакетът с данни не може да бъде зареден: %1").arg(e.Message())
            : QStringLiteral("Файлът \"%1\" не може да бъде зареден: %2")
                  .arg(sourceName, e.Message());
    throw ENompackError(text, e.ErrorKind());
  } catch (...) {
    Clear();
    throw;
  }
  FFields = std::move(fields);
  FRows = std::move(rows);
  Open();
}
