#include "ClientDataSet.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>

#include "NompackError.h"

void TClientDataSet::Clear() {
  FFields.clear();
  FRows.clear();
  FPending.clear();
  FCurrent = 0;
  FEof = FBof = true;
  FState = State::Inactive;
}

void TClientDataSet::AddFieldDef(const TFieldDef& def) {
  FFields.append(def);
  for (auto& row : FRows) row.append(Variant::Null());
}

int TClientDataSet::FindField(const QString& name) const {
  for (int i = 0; i < FFields.size(); ++i) {
    if (FFields[i].Name.compare(name, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

int TClientDataSet::FieldIndex(const QString& name) const {
  const int index = FindField(name);
  if (index < 0) throw ENompackError(QStringLiteral("Field '%1' not found").arg(name));
  return index;
}

void TClientDataSet::AppendRow(QVector<Variant> values) {
  values.resize(FFields.size(), Variant::Null());
  FRows.append(std::move(values));
  if (FState == State::Inactive) FState = State::Browse;
  FCurrent = FRows.size() - 1;
  FEof = FBof = false;
}

void TClientDataSet::Open() {
  FState = State::Browse;
  First();
}

void TClientDataSet::Close() {
  Clear();
}

void TClientDataSet::CheckActive() const {
  if (FState == State::Inactive)
    throw ENompackError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void TClientDataSet::First() {
  if (FState == State::Edit || FState == State::Insert) Post();
  FCurrent = 0;
  FEof = FBof = FRows.isEmpty();
  FBof = true;
}

void TClientDataSet::Next() {
  if (FState == State::Edit || FState == State::Insert) Post();
  FBof = false;
  if (FCurrent + 1 < FRows.size()) {
    ++FCurrent;
  } else {
    FEof = true;
  }
}

void TClientDataSet::Prior() {
  if (FState == State::Edit || FState == State::Insert) Post();
  FEof = false;
  if (FCurrent > 0) {
    --FCurrent;
  } else {
    FBof = true;
  }
}

void TClientDataSet::Last() {
  if (FState == State::Edit || FState == State::Insert) Post();
  FCurrent = FRows.isEmpty() ? 0 : FRows.size() - 1;
  FEof = true;
  FBof = FRows.isEmpty();
}

bool TClientDataSet::Eof() const {
  return FRows.isEmpty() || FEof;
}
bool TClientDataSet::Bof() const {
  return FRows.isEmpty() || FBof;
}

int TClientDataSet::RecNo() const {
  if (FRows.isEmpty()) return 0;
  if (FState == State::Insert) return FRows.size() + 1;
  return FCurrent + 1;
}

void TClientDataSet::SetRecNo(int recNo) {
  if (FState == State::Edit || FState == State::Insert) Post();
  if (recNo < 1 || recNo > FRows.size()) return;
  FCurrent = recNo - 1;
  FEof = FBof = false;
}

const Variant& TClientDataSet::Value(int field) const {
  static const Variant null = Variant::Null();
  if (field < 0 || field >= FFields.size())
    throw ENompackError(QStringLiteral("Field index %1 out of range").arg(field));
  if (FState == State::Edit || FState == State::Insert) return FPending.at(field);
  if (FRows.isEmpty()) return null;
  return FRows.at(FCurrent).at(field);
}

void TClientDataSet::Edit() {
  CheckActive();
  if (FState == State::Edit || FState == State::Insert) return;
  if (FRows.isEmpty()) {
    Append();
    return;
  }
  FPending = FRows.at(FCurrent);
  FState = State::Edit;
}

void TClientDataSet::Append() {
  CheckActive();
  if (FState == State::Edit || FState == State::Insert) Post();
  FPending = QVector<Variant>(FFields.size(), Variant::Null());
  FState = State::Insert;
}

void TClientDataSet::SetValue(int field, const Variant& value) {
  if (FState != State::Edit && FState != State::Insert)
    throw ENompackError(QStringLiteral("Dataset not in edit or insert mode"));
  if (field < 0 || field >= FFields.size())
    throw ENompackError(QStringLiteral("Field index %1 out of range").arg(field));
  FPending[field] = CoerceToFieldType(value, FFields.at(field));
}

void TClientDataSet::Post() {
  if (FState == State::Edit) {
    FRows[FCurrent] = FPending;
  } else if (FState == State::Insert) {
    FRows.append(FPending);
    FCurrent = FRows.size() - 1;
    FEof = FBof = false;
  } else {
    return;
  }
  FPending.clear();
  FState = State::Browse;
}

void TClientDataSet::Cancel() {
  if (FState == State::Edit || FState == State::Insert) {
    FPending.clear();
    FState = State::Browse;
  }
}

void TClientDataSet::LoadFromFile(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) {
    Clear();
    throw ENompackError(
        QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()),
        ENompackError::Kind::File);
  }
  LoadFromBytes(file.readAll(), fileName);
}

namespace {

// A file without any write permission is read-only for everyone, as the
// read-only attribute is elsewhere; the rename below would replace it
// whenever the folder is writable (and always as root). WriteUser is left
// out: Qt asks the system whether we may write, which root always may.
void RequireWritable(const QString& fileName) {
  const QFileInfo info(fileName);
  const QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
  if (info.exists() && !(info.permissions() & anyWrite)) {
    throw ENompackError(
        QStringLiteral("Cannot create file \"%1\". The file is read-only").arg(fileName),
        ENompackError::Kind::File);
  }
}

[[noreturn]] void FailCreate(const QString& fileName, const QString& why) {
  throw ENompackError(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, why),
                      ENompackError::Kind::File);
}

}  // namespace

void TClientDataSet::SaveToFile(const QString& fileName, TDataPacketFormat format) const {
  const QByteArray data = SaveToBytes(format);
  RequireWritable(fileName);
  // Written beside the target and renamed over it, so a failed write never
  // leaves half a chunk file in place of a good one.
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
    FailCreate(fileName, file.errorString());
}

QByteArray TClientDataSet::SaveToWorkFile(const QString& fileName, TDataPacketFormat format) const {
  const QByteArray data = SaveToBytes(format);
  WriteWorkFile(fileName, data);
  return data;
}

void TClientDataSet::WriteWorkFile(const QString& fileName, const QByteArray& data) {
  RequireWritable(fileName);
  QFile file(fileName);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    FailCreate(fileName, file.errorString());
  const bool written = file.write(data) == data.size() && file.flush();
  file.close();
  if (!written || file.error() != QFileDevice::NoError) {
    const QString why = file.errorString();
    file.remove();
    FailCreate(fileName, why);
  }
}

Variant CoerceToFieldType(const Variant& value, const TFieldDef& def) {
  if (value.IsNull()) return value;
  using T = Variant::Type;
  if (IsTextFieldType(def.DataType))
    return value.VarType() == T::String ? value : Variant::FromString(value.ToString());
  switch (def.DataType) {
    case ftSmallint: {
      // Out of range is an error, not a wrap-around: a value must never
      // silently turn into another one.
      const qint32 n = value.ToInt32();
      if (n < std::numeric_limits<qint16>::min() || n > std::numeric_limits<qint16>::max())
        throw ENompackError(QStringLiteral("%1 is not a valid SmallInt value").arg(n),
                            ENompackError::Kind::Conversion);
      return Variant::FromInt(n, T::Int16);
    }
    case ftInteger:
    case ftAutoInc:
      return Variant::FromInt(value.ToInt32(), T::Int32);
    case ftLargeint:
      return Variant::FromInt64(value.ToInt64());
    case ftWord: {
      const qint64 n = value.ToInt64();
      if (n < 0 || n > std::numeric_limits<quint16>::max())
        throw ENompackError(QStringLiteral("%1 is not a valid Word value").arg(n),
                            ENompackError::Kind::Conversion);
      return Variant::FromUInt(static_cast<quint64>(n), T::UInt16);
    }
    case ftBoolean:
      return Variant::FromBool(value.ToBool());
    case ftFloat:
    case ftCurrency:
      return Variant::FromDouble(value.ToDouble());
    case ftBCD:
    case ftFMTBcd:
      return Variant::FromDecimal(value.ToDecimalText());
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp:
      return Variant::FromDateTime(value.ToDateTime());
    default:
      if (IsBinaryFieldType(def.DataType)) return Variant::FromBytes(value.ToBytes());
      return value;
  }
}
