#include "MySQLStatement.h"

#include <cstring>

#include "ClientDataSet.h"
#include "Cp1251.h"
#include "DbValues.h"
#include "MySQLConnection.h"
#include "MySQLTypeMap.h"
#include "MySQLValues.h"
#include "NamedParams.h"
#include "NompackError.h"

TMySQLStatement::TMySQLStatement(TMySQLConnection& connection, const QString& sql)
    : FConnection(&connection) {
  const TParsedSql parsed = ParseNamedParams(sql, TSqlDialect::MySQL);
  FMarkers = parsed.Markers;
  FNames = parsed.Names;
  const QByteArray text = Cp1251::Encode(parsed.Sql);
  connection.RequireIdle();
  FStmt = mysql_stmt_init(connection.Handle());
  if (!FStmt) connection.FailLast();
  connection.Attach(this);
  if (mysql_stmt_prepare(FStmt, text.constData(), static_cast<unsigned long>(text.size())) != 0) {
    // The destructor does not run for a constructor that throws.
    const unsigned errorNo = mysql_stmt_errno(FStmt);
    const QByteArray message = mysql_stmt_error(FStmt);
    Invalidate();
    ThrowMySQLError(errorNo, message.constData());
  }
  const unsigned long markers = mysql_stmt_param_count(FStmt);
  if (markers != static_cast<unsigned long>(FMarkers.size())) {
    Invalidate();
    throw ENompackError(
        QStringLiteral("The statement holds %1 parameter markers where %2 were expected")
            .arg(markers)
            .arg(FMarkers.size()),
        ENompackError::Kind::Database);
  }
  FBuffers.resize(FMarkers.size());
  FBinds.resize(FMarkers.size());
}

TMySQLStatement::~TMySQLStatement() {
  Invalidate();
}

void TMySQLStatement::Invalidate() {
  if (FMeta) {
    mysql_free_result(FMeta);
    FMeta = nullptr;
  }
  if (FStmt) {
    mysql_stmt_close(FStmt);
    FStmt = nullptr;
  }
  if (FConnection) {
    FConnection->Detach(this);
    FConnection = nullptr;
  }
}

MYSQL_STMT* TMySQLStatement::Handle() const {
  if (!FStmt)
    throw ENompackError(QStringLiteral("The MySQL connection of this statement is closed"),
                        ENompackError::Kind::Database);
  return FStmt;
}

void TMySQLStatement::Fail() const {
  ThrowMySQLError(mysql_stmt_errno(FStmt), mysql_stmt_error(FStmt));
}

void TMySQLStatement::BindOne(int index, const TParam& param) {
  ParamBuffer& buf = FBuffers[index];
  MYSQL_BIND& bind = FBinds[index];
  std::memset(&bind, 0, sizeof bind);
  const Variant value = DbValues::BindValue(param);
  if (value.IsNull()) {
    bind.buffer_type = MYSQL_TYPE_NULL;
    return;
  }
  const TFieldType type = DbValues::BindType(param);
  const enum_field_types sendAs = MySQLBindType(type);
  bind.buffer_type = sendAs;
  switch (sendAs) {
    case MYSQL_TYPE_STRING:
      buf.Bytes = DbValues::EncodeParamText(param.Name, value.ToString());
      break;
    case MYSQL_TYPE_BLOB:
      buf.Bytes = value.ToBytes();
      break;
    case MYSQL_TYPE_NEWDECIMAL:
      buf.Bytes = value.ToDecimalText().toLatin1();
      break;
    case MYSQL_TYPE_LONGLONG:
      buf.Int = value.ToInt64();
      bind.buffer = &buf.Int;
      return;
    case MYSQL_TYPE_TINY:
      buf.Tiny = value.ToBool() ? 1 : 0;
      bind.buffer = &buf.Tiny;
      return;
    case MYSQL_TYPE_DOUBLE:
      buf.Double = value.ToDouble();
      bind.buffer = &buf.Double;
      return;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_DATETIME:
      buf.Time = MySQLValues::ToTime(value.ToDateTime(), sendAs);
      bind.buffer = &buf.Time;
      bind.buffer_length = sizeof(MYSQL_TIME);
      return;
    default:
      DbValues::FailParam(
          param.Name, QStringLiteral("a value of type %1 cannot be sent").arg(FieldTypeName(type)));
  }
  buf.Length = static_cast<unsigned long>(buf.Bytes.size());
  bind.buffer = buf.Bytes.data();
  bind.buffer_length = buf.Length;
  bind.length = &buf.Length;
}

void TMySQLStatement::BindAndExecute(const TParams& params) {
  MYSQL_STMT* stmt = Handle();
  FConnection->RequireIdle();
  if (FMeta) FreeResult();
  for (int i = 0; i < FMarkers.size(); ++i) BindOne(i, ParamForMarker(params, FMarkers[i], i));
  if (!FBinds.isEmpty() && mysql_stmt_bind_param(stmt, FBinds.data())) Fail();
  if (mysql_stmt_execute(stmt) != 0) Fail();
}

void TMySQLStatement::Execute(const TParams& params) {
  BindAndExecute(params);
  // A statement that returns rows is read to its end so the session is free.
  if (mysql_stmt_field_count(FStmt) != 0 && mysql_stmt_store_result(FStmt) != 0) Fail();
  mysql_stmt_free_result(FStmt);
}

std::unique_ptr<TClientDataSet> TMySQLStatement::Fetch(const TParams& params) {
  auto ds = std::make_unique<TClientDataSet>();
  struct FreeResult {
    TMySQLStatement* Statement;
    ~FreeResult() { Statement->FreeResult(); }
  } freeResult{this};
  if (OpenResult(params, true)) {
    for (const TMySQLColumn& col : FColumns) ds->AddFieldDef(col.Def);
    auto& rows = ds->MutableRows();
    rows.reserve(static_cast<qsizetype>(mysql_stmt_num_rows(FStmt)));
    QVector<Variant> values;
    while (NextRow(values)) rows.append(std::move(values));
  }
  ds->Open();
  return ds;
}

bool TMySQLStatement::OpenResult(const TParams& params, bool buffered) {
  FreeResult();
  BindAndExecute(params);
  MYSQL_RES* meta = mysql_stmt_result_metadata(FStmt);
  if (!meta) {
    if (mysql_stmt_errno(FStmt)) Fail();
    return false;
  }
  FMeta = meta;
  if (buffered) {
    // With the longest value of each column known, one buffer holds any row.
    const my_bool updateMax = 1;
    mysql_stmt_attr_set(FStmt, STMT_ATTR_UPDATE_MAX_LENGTH, &updateMax);
    if (mysql_stmt_store_result(FStmt) != 0) Fail();
  }
  // Unbuffered, rows come off the wire one by one as they are fetched; a
  // value longer than its column's buffer is fetched again whole.
  constexpr unsigned long kStreamBuffer = 65536;

  const unsigned count = mysql_num_fields(meta);
  const MYSQL_FIELD* fields = mysql_fetch_fields(meta);
  const unsigned maxLen = FConnection->CharsetMaxLen();
  FColumns.resize(count);
  FColBuffers.resize(count);
  FResultBinds.resize(count);
  for (unsigned i = 0; i < count; ++i) {
    FColumns[i] = DescribeMySQLColumn(fields[i], maxLen);
    FColumns[i].Def.Name = Cp1251::Decode(fields[i].name, fields[i].name_length);
    MYSQL_BIND& b = FResultBinds[i];
    std::memset(&b, 0, sizeof b);
    ColumnBuffer& buf = FColBuffers[i];
    b.is_null = &buf.IsNull;
    b.error = &buf.Error;
    b.length = &buf.Length;
    switch (FColumns[i].Read) {
      case TMySQLRead::Int:
      case TMySQLRead::UInt:
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.is_unsigned = (fields[i].flags & UNSIGNED_FLAG) != 0;
        b.buffer = &buf.Int;
        break;
      case TMySQLRead::Double:
        b.buffer_type = MYSQL_TYPE_DOUBLE;
        b.buffer = &buf.Double;
        break;
      case TMySQLRead::Date:
      case TMySQLRead::Time:
      case TMySQLRead::DateTime:
        b.buffer_type = fields[i].type;
        b.buffer = &buf.Time;
        b.buffer_length = sizeof(MYSQL_TIME);
        break;
      default: {
        b.buffer_type = FColumns[i].Read == TMySQLRead::Bytes || FColumns[i].Read == TMySQLRead::Bit
                            ? MYSQL_TYPE_BLOB
                            : MYSQL_TYPE_STRING;
        const unsigned long size =
            buffered ? fields[i].max_length : qMin<unsigned long>(fields[i].length, kStreamBuffer);
        buf.Bytes.resize(static_cast<qsizetype>(qMax<unsigned long>(size, 64)));
        b.buffer = buf.Bytes.data();
        b.buffer_length = static_cast<unsigned long>(buf.Bytes.size());
        break;
      }
    }
  }
  if (mysql_stmt_bind_result(FStmt, FResultBinds.data())) Fail();
  return true;
}

bool TMySQLStatement::NextRow(QVector<Variant>& values) {
  if (!FMeta) return false;
  const int rc = mysql_stmt_fetch(FStmt);
  if (rc == MYSQL_NO_DATA) return false;
  if (rc == 1) Fail();
  const int count = FColumns.size();
  values.clear();
  values.reserve(count);
  for (int i = 0; i < count; ++i) {
    const ColumnBuffer& buf = FColBuffers[i];
    const TMySQLColumn& col = FColumns[i];
    if (buf.IsNull) {
      values.append(Variant::Null());
      continue;
    }
    switch (col.Read) {
      case TMySQLRead::Int:
      case TMySQLRead::UInt:
        values.append(MySQLValues::FromInt(col, buf.Int, FResultBinds[i].is_unsigned));
        break;
      case TMySQLRead::Double:
        values.append(Variant::FromDouble(buf.Double));
        break;
      case TMySQLRead::Date:
      case TMySQLRead::Time:
      case TMySQLRead::DateTime:
        values.append(MySQLValues::FromTime(col, buf.Time));
        break;
      default:
        if (buf.Length > static_cast<unsigned long>(buf.Bytes.size())) {
          // Longer than its buffer (MYSQL_DATA_TRUNCATED): the whole value
          // once more, into a buffer of its size.
          QByteArray whole(static_cast<qsizetype>(buf.Length), Qt::Uninitialized);
          MYSQL_BIND b;
          std::memset(&b, 0, sizeof b);
          unsigned long length = 0;
          b.buffer_type = FResultBinds[i].buffer_type;
          b.buffer = whole.data();
          b.buffer_length = buf.Length;
          b.length = &length;
          if (mysql_stmt_fetch_column(FStmt, &b, static_cast<unsigned>(i), 0) != 0) Fail();
          values.append(MySQLValues::FromText(col, whole.constData(), qMin(length, buf.Length)));
          break;
        }
        values.append(MySQLValues::FromText(col, buf.Bytes.constData(), buf.Length));
        break;
    }
  }
  return true;
}

void TMySQLStatement::FreeResult() {
  if (FMeta) {
    mysql_free_result(FMeta);
    FMeta = nullptr;
  }
  // Also reads what is left of an unbuffered result off the wire.
  if (FStmt) mysql_stmt_free_result(FStmt);
}
