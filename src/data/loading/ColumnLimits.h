#pragma once

#include <QHash>
#include <QString>
#include <QVector>

#include "FieldType.h"
#include "Variant.h"

class TDM;

// What a target column holds, as far as a value can be checked against it
// before the insert: text length, integer range, digits before the decimal
// point. A value outside gets a refused-row line naming the column instead
// of being cut or clamped (MySQL outside strict mode) or refused with a
// message that names no column (FireBird).
struct TColumnLimit {
  enum class Kind { None, Text, Integer, Decimal };
  Kind LimitKind = Kind::None;
  QString TypeText;      // the column's type as the catalogue spells it
  qint64 MaxLength = 0;  // Text: characters, or bytes when ByteLength
  bool ByteLength = false;
  bool Utf8 = false;        // ByteLength: the column stores UTF-8
  qint64 Min = 0, Max = 0;  // Integer
  bool Unsigned = false;    // Integer: Max counts up to 2^64 - 1
  int IntegerDigits = 0;    // Decimal: precision minus scale
  int Scale = 0;            // Decimal: digits after the point the value is rounded to
};

class TColumnLimits {
 public:
  // The columns of a target table, by upper-cased name. A table the
  // catalogue does not know gets no limits.
  static TColumnLimits ReadMySQL(TDM& dm, const QString& table);
  static TColumnLimits ReadFB(TDM& dm, const QString& table);

  // The limit of a column, nullptr when nothing is checked for it.
  const TColumnLimit* Find(const QString& column) const;

  // Empty when the value may be sent; otherwise the message of the refused
  // row. Text is always checked for a Windows-1251 form, whatever the limit.
  static QString Check(const QString& column, const TColumnLimit* limit, const Variant& value);

 private:
  QHash<QString, TColumnLimit> FLimits;
};

// The limits of one chunk shape, column by column: what the loader checks
// each row against before sending it, and what a dry run checks it against
// instead. One check serves both, so that the dry run refuses exactly what
// the installation would.
class TChunkLimits {
 public:
  TChunkLimits() = default;
  // `loaded[c]` is false for a chunk column the insert leaves out, which is
  // never checked. `limits` must outlive this object.
  TChunkLimits(const TColumnLimits& limits, const QVector<TFieldDef>& fields,
               const QVector<bool>& loaded);

  // Empty when the row may be sent; otherwise the refusal of its first
  // column (in chunk order) whose value the target cannot take.
  QString RowRefusal(const QVector<Variant>& values) const;

 private:
  struct TColumn {
    int Index = 0;
    QString Name;
    const TColumnLimit* Limit = nullptr;
  };
  QVector<TColumn> FColumns;
};
