#include "FBStatement.h"

#include <cstring>

#include "ClientDataSet.h"
#include "DbValues.h"
#include "FBConnection.h"
#include "NamedParams.h"
#include "NompackError.h"

namespace {

constexpr unsigned short kDialect = 3;

// Bytes of the value buffer of a variable of that type.
int BufferSize(const XSQLVAR& v) {
  switch (v.sqltype & ~1) {
    case SQL_TEXT:
      return v.sqllen;
    case SQL_VARYING:
      return v.sqllen + 2;
    case SQL_SHORT:
      return 2;
    case SQL_LONG:
    case SQL_FLOAT:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
      return 4;
    case SQL_BOOLEAN:
      return 1;
    default:
      return 8;
  }
}

qint64 RawInt(const XSQLVAR& v) {
  switch (v.sqltype & ~1) {
    case SQL_SHORT: {
      short s;
      std::memcpy(&s, v.sqldata, sizeof s);
      return s;
    }
    case SQL_LONG: {
      ISC_LONG l;
      std::memcpy(&l, v.sqldata, sizeof l);
      return l;
    }
    default: {
      ISC_INT64 i;
      std::memcpy(&i, v.sqldata, sizeof i);
      return i;
    }
  }
}

// Sets `data` to the value's bytes. A parameter's buffer is set anew for
// every row of every batch: its storage is kept.
template <typename T>
void SetRaw(QByteArray& data, const T& value) {
  data.resize(sizeof value);
  std::memcpy(data.data(), &value, sizeof value);
}

// Text of a value for a text parameter; date-times in the form the server reads.
QString TextOf(const Variant& value) {
  if (value.VarType() == Variant::Type::DateTime)
    return DateTimeConv::ToQDateTime(value.ToDateTime())
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
  return value.ToString();
}

}  // namespace

void TFBSqlDa::Resize(int count) {
  if (count < 1) count = 1;
  FMemory = std::make_unique<char[]>(XSQLDA_LENGTH(count));
  std::memset(FMemory.get(), 0, XSQLDA_LENGTH(count));
  Get()->version = SQLDA_VERSION1;
  Get()->sqln = static_cast<ISC_SHORT>(count);
}

TFBStatement::TFBStatement(TFBConnection& connection, const QString& sql, bool inReadSnapshot)
    : TFBStatement(connection, ParseNamedParams(sql, TSqlDialect::Firebird), inReadSnapshot) {}

TFBStatement::TFBStatement(TFBConnection& connection, const TParsedSql& parsed, bool inReadSnapshot)
    : FConnection(&connection), FInReadSnapshot(inReadSnapshot) {
  connection.Attach(this);
  try {
    Prepare(parsed);
  } catch (...) {
    Invalidate();
    throw;
  }
}

TFBStatement::~TFBStatement() {
  Invalidate();
}

void TFBStatement::Invalidate() {
  if (FStmt && FConnection && FConnection->IsConnected()) {
    ISC_STATUS_ARRAY status;
    isc_dsql_free_statement(status, &FStmt, DSQL_drop);
  }
  FStmt = 0;
  FCursorOpen = false;
  if (FConnection) {
    FConnection->Detach(this);
    FConnection = nullptr;
  }
}

isc_stmt_handle* TFBStatement::Handle() {
  if (!FStmt || !FConnection)
    throw ENompackError(QStringLiteral("The Firebird attachment of this statement is closed"),
                        ENompackError::Kind::Database);
  return &FStmt;
}

isc_tr_handle* TFBStatement::Transaction() {
  Handle();
  return FInReadSnapshot ? FConnection->SnapshotHandle() : FConnection->TrHandle();
}

void TFBStatement::CloseCursor() {
  FProcedureRowPending = false;
  if (!FCursorOpen || !FStmt) return;
  FCursorOpen = false;
  ISC_STATUS_ARRAY status;
  isc_dsql_free_statement(status, &FStmt, DSQL_close);
}

void TFBStatement::Prepare(const TParsedSql& parsed) {
  const TFBCodec& codec = FConnection->Codec();
  FParsed = parsed;
  FMarkers = parsed.Markers;
  FNames = parsed.Names;
  const QByteArray text = codec.EncodeSql(parsed.Sql);
  ISC_STATUS_ARRAY status;
  isc_dsql_allocate_statement(status, FConnection->DbHandle(), &FStmt);
  CheckFB(status, codec);
  FOut.Resize(32);
  isc_dsql_prepare(status, Transaction(), &FStmt, 0, text.constData(), kDialect, FOut.Get());
  CheckFB(status, codec);

  const char item = isc_info_sql_stmt_type;
  char info[16] = {};
  isc_dsql_sql_info(status, &FStmt, 1, &item, sizeof info, info);
  CheckFB(status, codec);
  if (info[0] == isc_info_sql_stmt_type) {
    const short len = static_cast<short>(isc_vax_integer(info + 1, 2));
    FType = isc_vax_integer(info + 3, len);
  }

  FIn.Resize(qMax<int>(1, FMarkers.size()));
  isc_dsql_describe_bind(status, &FStmt, kDialect, FIn.Get());
  CheckFB(status, codec);
  if (FIn.Count() > FIn.Get()->sqln) {
    FIn.Resize(FIn.Count());
    isc_dsql_describe_bind(status, &FStmt, kDialect, FIn.Get());
    CheckFB(status, codec);
  }
  if (FIn.Count() != FMarkers.size())
    throw ENompackError(
        QStringLiteral("The statement holds %1 parameter markers where %2 were expected")
            .arg(FIn.Count())
            .arg(FMarkers.size()),
        ENompackError::Kind::Database);
  FDescribedIn.resize(FIn.Count());
  for (int i = 0; i < FIn.Count(); ++i) FDescribedIn[i] = FIn.Var(i);
  FInBuffers.resize(FIn.Count());
  DescribeOutput();
}

void TFBStatement::ResizeOutput() {
  if (FOut.Count() <= FOut.Get()->sqln) return;
  ISC_STATUS_ARRAY status;
  FOut.Resize(FOut.Count());
  isc_dsql_describe(status, &FStmt, kDialect, FOut.Get());
  CheckFB(status, FConnection->Codec());
}

void TFBStatement::AllocateOutput() {
  const int count = FOut.Count();
  int total = 0;
  for (int i = 0; i < count; ++i) total += (BufferSize(FOut.Var(i)) + 7) & ~7;
  FOutData.resize(total);
  FOutNulls.resize(count);
  int offset = 0;
  for (int i = 0; i < count; ++i) {
    XSQLVAR& v = FOut.Var(i);
    v.sqldata = FOutData.data() + offset;
    v.sqlind = &FOutNulls[i];
    v.sqltype |= 1;  // every column may come back NULL
    offset += (BufferSize(v) + 7) & ~7;
  }
}

void TFBStatement::DescribeOutput() {
  ResizeOutput();
  AllocateOutput();
  const int count = FOut.Count();
  FColumns.resize(count);
  FInlineVars.fill(-1, count);
  const TFBCodec& codec = FConnection->Codec();
  for (int i = 0; i < count; ++i) {
    const XSQLVAR& v = FOut.Var(i);
    TFBColumn& col = FColumns[i];
    col = DescribeFBColumn(v, codec.BytesPerChar);
    col.Def.Name = codec.Decode(v.aliasname, v.aliasname_length);
    if (col.NeedsPrecision) {
      col.Def.Precision = FConnection->DeclaredPrecision(codec.Decode(v.relname, v.relname_length),
                                                         codec.Decode(v.sqlname, v.sqlname_length),
                                                         col.Def.Precision);
    }
  }
}

QString TFBStatement::InlineMemoExpression(int column, int bytes) {
  const XSQLVAR& v = FOut.Var(column);
  const TFBCodec& codec = FConnection->Codec();
  const QString octets = QStringLiteral("OCTETS");
  QString charset = octets;
  int length = bytes;
  if (FColumns[column].Read == TFBRead::BlobText) {
    const QString stored = FConnection->DeclaredCharset(codec.Decode(v.relname, v.relname_length),
                                                        codec.Decode(v.sqlname, v.sqlname_length));
    if (stored.isEmpty()) return QString();
    // A blob is read as stored where the session's character set is that
    // of the column or no conversion applies; otherwise the server converts
    // it to the session's, and the short value is converted the same way.
    const QString session = codec.Charset;
    const bool asStored = session.isEmpty() || session == QLatin1String("NONE") ||
                          stored == QLatin1String("NONE") || stored == octets || stored == session;
    if (!asStored) {
      for (const QChar c : session)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_')) return QString();
      charset = session;
      length = bytes / qMax(1, codec.BytesPerChar);
    }
  }
  // Whatever fits the length in bytes as stored fits it in characters.
  return QStringLiteral(
             "CASE WHEN OCTET_LENGTH(Q.C%1) <= %2 THEN CAST(Q.C%1 AS VARCHAR(%2) "
             "CHARACTER SET %3) END")
      .arg(column + 1)
      .arg(length)
      .arg(charset);
}

void TFBStatement::InlineShortMemos() {
  // Statements with parameters are left as they are: the rewritten one would
  // need its parameters described again.
  if (FType != isc_info_sql_stmt_select || FCursorOpen || !FMarkers.isEmpty() || !FStmt) return;
  const int count = FColumns.size();
  QVector<int> memos;
  for (int i = 0; i < count; ++i) {
    const TFBRead read = FColumns[i].Read;
    if (read == TFBRead::BlobText || (read == TFBRead::BlobBinary && FOut.Var(i).sqlsubtype == 0))
      memos.append(i);
  }
  if (memos.isEmpty()) return;
  // The bytes every row may bring inline: the client library sizes its
  // fetch buffers by the longest row, so rows with memos still come many
  // to a round trip.
  constexpr int kInlineBytesPerRow = 8000;
  constexpr int kLeastInlineBytes = 512;
  const int bytes = qMax(kLeastInlineBytes, kInlineBytesPerRow / int(memos.size()));
  QStringList expressions;
  QVector<int> inlined;
  try {
    for (int i : memos) {
      const QString expression = InlineMemoExpression(i, bytes);
      if (expression.isEmpty()) continue;
      expressions.append(expression);
      inlined.append(i);
    }
  } catch (const ENompackError&) {
    // The catalogue could not say how a column is stored: its values are
    // read as blobs, as they always were.
    return;
  }
  if (inlined.isEmpty()) return;
  QStringList names;
  for (int i = 0; i < count; ++i) names.append(QStringLiteral("C%1").arg(i + 1));
  QString inner = FParsed.Sql.trimmed();
  while (inner.endsWith(QLatin1Char(';'))) inner = inner.chopped(1).trimmed();
  // The derived table's column list names every column, whatever the
  // statement calls them; a comment at its end stays on its own line.
  const QString sql =
      QStringLiteral("SELECT Q.*, %1 FROM (\n%2\n) Q (%3)")
          .arg(expressions.join(QStringLiteral(", ")), inner, names.join(QStringLiteral(", ")));

  const TFBCodec& codec = FConnection->Codec();
  const QByteArray text = codec.EncodeSql(sql);
  TFBSqlDa out(count + int(inlined.size()));
  ISC_STATUS_ARRAY status;
  isc_stmt_handle handle = 0;
  isc_dsql_allocate_statement(status, FConnection->DbHandle(), &handle);
  if (status[0] == 1 && status[1]) return;
  isc_dsql_prepare(status, Transaction(), &handle, 0, text.constData(), kDialect, out.Get());
  bool same = !(status[0] == 1 && status[1]) && out.Count() == count + inlined.size();
  // The rows' own columns come as they did.
  for (int i = 0; same && i < count; ++i) {
    const XSQLVAR& was = FOut.Var(i);
    const XSQLVAR& now = out.Var(i);
    same = (was.sqltype & ~1) == (now.sqltype & ~1) && was.sqllen == now.sqllen &&
           was.sqlscale == now.sqlscale && was.sqlsubtype == now.sqlsubtype;
  }
  for (int k = 0; same && k < inlined.size(); ++k)
    same = (out.Var(count + k).sqltype & ~1) == SQL_VARYING;
  if (!same) {
    ISC_STATUS_ARRAY ignored;
    isc_dsql_free_statement(ignored, &handle, DSQL_drop);
    return;
  }
  isc_dsql_free_statement(status, &FStmt, DSQL_drop);
  FStmt = handle;
  FOut = std::move(out);
  AllocateOutput();
  for (int k = 0; k < inlined.size(); ++k) FInlineVars[inlined[k]] = count + k;
}

void TFBStatement::BindOne(int index, const TParam& param) {
  const XSQLVAR& described = FDescribedIn[index];
  XSQLVAR& v = FIn.Var(index);
  ParamBuffer& buf = FInBuffers[index];
  v = described;
  const Variant value = DbValues::BindValue(param);
  if (value.IsNull()) {
    buf.Data.fill('\0', qMax(BufferSize(described), 8));
    buf.Null = -1;
    v.sqltype = static_cast<short>(described.sqltype | 1);
    v.sqldata = buf.Data.data();
    v.sqlind = &buf.Null;
    return;
  }
  buf.Null = 0;
  TFBSend send = FBSendFor(described);
  const TFieldType type = DbValues::BindType(param);
  // Text the caller declared goes as text where the server wants no text or
  // blob: the server converts it (or refuses it, as it would a stored value).
  if (IsTextFieldType(type) && send != TFBSend::BlobText && send != TFBSend::BlobBinary &&
      send != TFBSend::Octets)
    send = TFBSend::Text;
  const TFBCodec& codec = FConnection->Codec();
  short sqltype = SQL_TEXT;
  switch (send) {
    case TFBSend::Text:
      buf.Data = codec.Encode(param.Name, TextOf(value));
      if ((described.sqltype & ~1) != SQL_TEXT && (described.sqltype & ~1) != SQL_VARYING)
        v.sqlsubtype = codec.Utf8 ? 4 : 52;  // the session's character set: UTF8 or WIN1251
      v.sqlscale = 0;
      break;
    case TFBSend::Octets:
      buf.Data = value.ToBytes();
      v.sqlsubtype = 1;
      break;
    case TFBSend::Scaled: {
      const int scale = -described.sqlscale;
      qint64 scaled = 0;
      if (value.VarType() == Variant::Type::Boolean) {
        scaled = value.ToBool() ? 1 : 0;
        for (int i = 0; i < scale; ++i) scaled *= 10;
      } else {
        QString text;
        try {
          text = value.ToDecimalText();
        } catch (const ENompackError& e) {
          DbValues::FailParam(param.Name, e.Message());
        }
        if (!DbValues::DecimalToScaled(text, scale, scaled))
          DbValues::FailParam(param.Name, QStringLiteral("%1 does not fit in 64 bits").arg(text));
      }
      SetRaw<ISC_INT64>(buf.Data, scaled);
      sqltype = SQL_INT64;
      break;
    }
    case TFBSend::Double:
      SetRaw<double>(buf.Data, value.ToDouble());
      sqltype = SQL_DOUBLE;
      v.sqlscale = 0;
      break;
    case TFBSend::Date:
    case TFBSend::Time:
    case TFBSend::TimeStamp: {
      const DateTimeConv::TimeStamp ts = DateTimeConv::ToTimeStamp(value.ToDateTime());
      ISC_TIMESTAMP stamp;
      stamp.timestamp_date = static_cast<ISC_DATE>(ts.Day + kFBDateOffset);
      stamp.timestamp_time = static_cast<ISC_TIME>(ts.MSec) * 10;
      if (send == TFBSend::Date) {
        SetRaw(buf.Data, stamp.timestamp_date);
        sqltype = SQL_TYPE_DATE;
      } else if (send == TFBSend::Time) {
        SetRaw(buf.Data, stamp.timestamp_time);
        sqltype = SQL_TYPE_TIME;
      } else {
        SetRaw(buf.Data, stamp);
        sqltype = SQL_TIMESTAMP;
      }
      break;
    }
    case TFBSend::BlobText:
    case TFBSend::BlobBinary: {
      const QByteArray data = send == TFBSend::BlobText && !IsBinaryFieldType(type)
                                  ? codec.Encode(param.Name, value.ToString())
                                  : value.ToBytes();
      SetRaw(buf.Data, WriteBlob(data));
      sqltype = SQL_BLOB;
      break;
    }
    case TFBSend::Boolean:
      SetRaw<FB_BOOLEAN>(buf.Data, value.ToBool() ? 1 : 0);
      sqltype = SQL_BOOLEAN;
      break;
  }
  if (send == TFBSend::Octets) sqltype = SQL_TEXT;
  if (buf.Data.size() > 32767 && sqltype == SQL_TEXT)
    DbValues::FailParam(param.Name,
                        QStringLiteral("text of %1 bytes is too long").arg(buf.Data.size()));
  if (buf.Data.isEmpty()) buf.Data.reserve(1);
  v.sqltype = static_cast<short>(sqltype | 1);
  v.sqllen = static_cast<short>(buf.Data.size());
  v.sqldata = buf.Data.data();
  v.sqlind = &buf.Null;
}

void TFBStatement::Bind(const TParams& params) {
  Handle();
  for (int i = 0; i < FMarkers.size(); ++i) BindOne(i, ParamForMarker(params, FMarkers[i], i));
}

void TFBStatement::Run() {
  ISC_STATUS_ARRAY status;
  CloseCursor();
  XSQLDA* in = FMarkers.isEmpty() ? nullptr : FIn.Get();
  if (FType == isc_info_sql_stmt_exec_procedure && FOut.Count() > 0) {
    isc_dsql_execute2(status, Transaction(), Handle(), kDialect, in, FOut.Get());
  } else {
    isc_dsql_execute(status, Transaction(), Handle(), kDialect, in);
  }
  CheckFB(status, FConnection->Codec());
  if (FType == isc_info_sql_stmt_select || FType == isc_info_sql_stmt_select_for_upd)
    FCursorOpen = true;
  if (FType == isc_info_sql_stmt_ddl) FConnection->ForgetCatalogue();
}

void TFBStatement::Execute(const TParams& params) {
  Bind(params);
  Run();
  CloseCursor();
}

std::unique_ptr<TClientDataSet> TFBStatement::Fetch(const TParams& params) {
  auto ds = std::make_unique<TClientDataSet>();
  if (OpenRows(params)) {
    for (const TFBColumn& col : FColumns) ds->AddFieldDef(col.Def);
    auto& rows = ds->MutableRows();
    QVector<Variant> values;
    while (NextRow(values)) rows.append(std::move(values));
  }
  ds->Open();
  return ds;
}

bool TFBStatement::OpenRows(const TParams& params) {
  Bind(params);
  Run();
  // A procedure's output comes with the execution, as its one row.
  FProcedureRowPending = FType == isc_info_sql_stmt_exec_procedure && FOut.Count() > 0;
  return FCursorOpen || FType == isc_info_sql_stmt_exec_procedure;
}

bool TFBStatement::NextRow(QVector<Variant>& values) {
  const int count = FColumns.size();
  auto readRow = [&] {
    values.clear();
    values.reserve(count);
    for (int i = 0; i < count; ++i) values.append(ReadColumn(i));
  };
  if (FProcedureRowPending) {
    FProcedureRowPending = false;
    readRow();
    return true;
  }
  if (!FCursorOpen) return false;
  try {
    ISC_STATUS_ARRAY status;
    const ISC_STATUS rc = isc_dsql_fetch(status, &FStmt, kDialect, FOut.Get());
    if (rc == 100) {
      CloseCursor();
      return false;
    }
    CheckFB(status, FConnection->Codec());
    readRow();
  } catch (...) {
    CloseCursor();
    throw;
  }
  return true;
}

int TFBStatement::InputMessageBytes() const {
  // Each value aligned to its size, then its NULL indicator.
  int total = 0;
  for (const XSQLVAR& v : FDescribedIn) {
    const int size = BufferSize(v);
    const int align = qMin(size, 8);
    total = (total + align - 1) / align * align + size;
    total = (total + 1) / 2 * 2 + 2;
  }
  return total;
}

Variant TFBStatement::ReadColumn(int index) {
  const XSQLVAR& v = FOut.Var(index);
  const TFBColumn& col = FColumns[index];
  if (*v.sqlind < 0) return Variant::Null();
  const TFBCodec& codec = FConnection->Codec();
  switch (col.Read) {
    case TFBRead::Int: {
      const qint64 n = RawInt(v);
      if (col.Def.DataType == ftSmallint) return Variant::FromInt(n, Variant::Type::Int16);
      if (col.Def.DataType == ftInteger) return Variant::FromInt(n, Variant::Type::Int32);
      return Variant::FromInt64(n);
    }
    case TFBRead::Scaled:
      return Variant::FromDecimal(DbValues::ScaledToDecimal(RawInt(v), col.Scale));
    case TFBRead::Double: {
      if ((v.sqltype & ~1) == SQL_FLOAT) {
        float f;
        std::memcpy(&f, v.sqldata, sizeof f);
        return Variant::FromDouble(f);
      }
      double d;
      std::memcpy(&d, v.sqldata, sizeof d);
      return Variant::FromDouble(d);
    }
    case TFBRead::Date: {
      ISC_DATE d;
      std::memcpy(&d, v.sqldata, sizeof d);
      return Variant::FromDateTime(DateTimeConv::FromTimeStamp({qint64(d) - kFBDateOffset, 0}));
    }
    case TFBRead::Time: {
      ISC_TIME t;
      std::memcpy(&t, v.sqldata, sizeof t);
      return Variant::FromDateTime(DateTimeConv::FromTimeStamp({0, static_cast<int>(t / 10)}));
    }
    case TFBRead::TimeStamp: {
      ISC_TIMESTAMP ts;
      std::memcpy(&ts, v.sqldata, sizeof ts);
      return Variant::FromDateTime(DateTimeConv::FromTimeStamp(
          {qint64(ts.timestamp_date) - kFBDateOffset, static_cast<int>(ts.timestamp_time / 10)}));
    }
    case TFBRead::Text:
    case TFBRead::Octets: {
      const char* data = v.sqldata;
      qsizetype size = v.sqllen;
      if (col.Varying) {
        short len;
        std::memcpy(&len, data, sizeof len);
        data += 2;
        size = len;
      }
      if (col.Read == TFBRead::Octets) return Variant::FromBytes(QByteArray(data, size));
      return Variant::FromString(codec.Decode(data, size));
    }
    case TFBRead::BlobText:
    case TFBRead::BlobBinary: {
      const int inlineVar = FInlineVars.value(index, -1);
      if (inlineVar >= 0 && *FOut.Var(inlineVar).sqlind >= 0) {
        const char* data = FOut.Var(inlineVar).sqldata;
        short len;
        std::memcpy(&len, data, sizeof len);
        if (col.Read == TFBRead::BlobBinary) return Variant::FromBytes(QByteArray(data + 2, len));
        return Variant::FromString(codec.Decode(data + 2, len));
      }
      ISC_QUAD id;
      std::memcpy(&id, v.sqldata, sizeof id);
      const QByteArray data = ReadBlob(id);
      if (col.Read == TFBRead::BlobBinary) return Variant::FromBytes(data);
      return Variant::FromString(codec.Decode(data.constData(), data.size()));
    }
    case TFBRead::Boolean:
      return Variant::FromBool(*reinterpret_cast<const FB_BOOLEAN*>(v.sqldata) != 0);
    case TFBRead::Unsupported:
      break;
  }
  throw ENompackError(QStringLiteral("Column %1: values of SQL type %2 cannot be read")
                          .arg(col.Def.Name)
                          .arg(v.sqltype & ~1),
                      ENompackError::Kind::Database);
}

QByteArray TFBStatement::ReadBlob(ISC_QUAD id) {
  const TFBCodec& codec = FConnection->Codec();
  ISC_STATUS_ARRAY status;
  isc_blob_handle blob = 0;
  isc_open_blob2(status, FConnection->DbHandle(), Transaction(), &blob, &id, 0, nullptr);
  CheckFB(status, codec);
  QByteArray out;
  // Under 32 KB: for a request of 64 KB the client library maps a buffer of
  // its own per blob and unmaps it at the close, which cost more than a
  // millisecond a row in a table with a memo column.
  char segment[32000];
  for (;;) {
    unsigned short got = 0;
    const ISC_STATUS rc = isc_get_segment(status, &blob, &got, sizeof segment, segment);
    if (rc == isc_segstr_eof) break;
    if (rc != 0 && rc != isc_segment) {
      ISC_STATUS_ARRAY ignored;
      isc_close_blob(ignored, &blob);
      ThrowFBError(status, codec);
    }
    out.append(segment, got);
  }
  isc_close_blob(status, &blob);
  CheckFB(status, codec);
  return out;
}

ISC_QUAD TFBStatement::WriteBlob(const QByteArray& data) {
  const TFBCodec& codec = FConnection->Codec();
  ISC_STATUS_ARRAY status;
  isc_blob_handle blob = 0;
  ISC_QUAD id{};
  isc_create_blob2(status, FConnection->DbHandle(), Transaction(), &blob, &id, 0, nullptr);
  CheckFB(status, codec);
  constexpr qsizetype kSegment = 32768;
  for (qsizetype pos = 0; pos < data.size(); pos += kSegment) {
    const auto len = static_cast<unsigned short>(qMin(kSegment, data.size() - pos));
    isc_put_segment(status, &blob, len, data.constData() + pos);
    if (status[0] == 1 && status[1]) {
      ISC_STATUS_ARRAY ignored;
      isc_cancel_blob(ignored, &blob);
      ThrowFBError(status, codec);
    }
  }
  isc_close_blob(status, &blob);
  CheckFB(status, codec);
  return id;
}
