#include "ODBCStatement.h"

#include <cstring>

#include "ClientDataSet.h"
#include "DbValues.h"
#include "NamedParams.h"
#include "NompackError.h"
#include "ODBCConnection.h"
#include "ODBCTypeMap.h"

namespace {

template <typename T>
QByteArray Raw(const T& value) {
  return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

// "HH:MM:SS[.fffffff]" as milliseconds of the day, or -1. A date in front
// (drivers that store times as text keep what they were given) is passed over.
int ParseTimeText(const QString& text) {
  QString t = text.trimmed();
  if (t.contains(QLatin1Char(' '))) t = t.section(QLatin1Char(' '), -1);
  const QStringList parts = t.section(QLatin1Char('.'), 0, 0).split(QLatin1Char(':'));
  if (parts.size() != 3) return -1;
  bool okH = false, okM = false, okS = false;
  const int h = parts[0].toInt(&okH), m = parts[1].toInt(&okM), s = parts[2].toInt(&okS);
  if (!okH || !okM || !okS) return -1;
  QString fraction = t.contains(QLatin1Char('.')) ? t.section(QLatin1Char('.'), 1) : QString();
  fraction = (fraction + QStringLiteral("000")).left(3);
  bool okF = false;
  const int ms = fraction.toInt(&okF);
  if (!okF) return -1;
  return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

}  // namespace

TODBCStatement::TODBCStatement(TODBCConnection& connection) : FConnection(&connection) {
  Allocate();
}

TODBCStatement::TODBCStatement(TODBCConnection& connection, const QString& sql)
    : FConnection(&connection) {
  Allocate();
  try {
    const TParsedSql parsed = ParseNamedParams(sql, TSqlDialect::ODBC);
    FMarkers = parsed.Markers;
    FNames = parsed.Names;
    if (FConnection->WideCalls()) {
      Check(SQLPrepareW(FStmt, ODBCWide(parsed.Sql), SQL_NTS));
    } else {
      QByteArray text = ODBCNarrow(parsed.Sql);
      Check(SQLPrepare(FStmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS));
    }
    FBuffers.resize(FMarkers.size());
  } catch (...) {
    Invalidate();
    throw;
  }
}

TODBCStatement::~TODBCStatement() {
  Invalidate();
}

void TODBCStatement::Allocate() {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, FConnection->Handle(), &FStmt))) {
    FStmt = SQL_NULL_HSTMT;
    ThrowODBCError(SQL_HANDLE_DBC, FConnection->Handle(), FConnection->WideCalls(),
                   QStringLiteral("Cannot allocate an ODBC statement"));
  }
  FConnection->Attach(this);
}

void TODBCStatement::Invalidate() {
  if (FStmt != SQL_NULL_HSTMT) {
    SQLFreeHandle(SQL_HANDLE_STMT, FStmt);
    FStmt = SQL_NULL_HSTMT;
  }
  if (FConnection) {
    FConnection->Detach(this);
    FConnection = nullptr;
  }
}

SQLHSTMT TODBCStatement::Handle() const {
  if (FStmt == SQL_NULL_HSTMT)
    throw ENompackError(QStringLiteral("The ODBC connection of this statement is closed"),
                        ENompackError::Kind::Database);
  return FStmt;
}

void TODBCStatement::Check(SQLRETURN rc) const {
  if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
  ThrowODBCError(SQL_HANDLE_STMT, FStmt, FConnection && FConnection->WideCalls(),
                 QStringLiteral("The ODBC statement failed"));
}

void TODBCStatement::CloseCursor() {
  FRowsOpen = false;
  if (FStmt != SQL_NULL_HSTMT) SQLFreeStmt(FStmt, SQL_CLOSE);
}

void TODBCStatement::BindOne(int index, const TParam& param) {
  ParamBuffer& buf = FBuffers[index];
  const Variant value = DbValues::BindValue(param);
  const TFieldType type = DbValues::BindType(param);
  TODBCSend send = ODBCSendFor(type);
  if (send == TODBCSend::None && !value.IsNull())
    DbValues::FailParam(
        param.Name, QStringLiteral("a value of type %1 cannot be sent").arg(FieldTypeName(type)));
  SQLSMALLINT cType = SQL_C_CHAR, sqlType = SQL_VARCHAR, digits = 0;
  SQLULEN columnSize = 1;
  buf.Data.clear();
  if (!value.IsNull()) {
    switch (send) {
      case TODBCSend::Text: {
        const QString text = value.ToString();
        buf.Data = QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        cType = SQL_C_WCHAR;
        sqlType = text.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        columnSize = qMax<SQLULEN>(1, text.size());
        break;
      }
      case TODBCSend::Int16:
        buf.Data = Raw<SQLSMALLINT>(static_cast<SQLSMALLINT>(value.ToInt32()));
        cType = SQL_C_SSHORT;
        sqlType = SQL_SMALLINT;
        columnSize = 5;
        break;
      case TODBCSend::Int32:
        buf.Data = Raw<SQLINTEGER>(value.ToInt32());
        cType = SQL_C_SLONG;
        sqlType = SQL_INTEGER;
        columnSize = 10;
        break;
      case TODBCSend::Int64:
        buf.Data = Raw<SQLBIGINT>(value.ToInt64());
        cType = SQL_C_SBIGINT;
        sqlType = SQL_BIGINT;
        columnSize = 19;
        break;
      case TODBCSend::Bit:
        buf.Data = Raw<unsigned char>(value.ToBool() ? 1 : 0);
        cType = SQL_C_BIT;
        sqlType = SQL_BIT;
        break;
      case TODBCSend::Double:
        buf.Data = Raw<double>(value.ToDouble());
        cType = SQL_C_DOUBLE;
        sqlType = SQL_DOUBLE;
        columnSize = 15;
        break;
      case TODBCSend::Decimal: {
        const QString text = value.ToDecimalText();
        buf.Data = text.toLatin1();
        cType = SQL_C_CHAR;
        sqlType = SQL_DECIMAL;
        const qsizetype point = text.indexOf(QLatin1Char('.'));
        digits = static_cast<SQLSMALLINT>(point < 0 ? 0 : text.size() - point - 1);
        qsizetype allDigits = 0;
        for (QChar c : text) allDigits += c.isDigit() ? 1 : 0;
        columnSize = static_cast<SQLULEN>(qMax<qsizetype>(allDigits, 1));
        break;
      }
      case TODBCSend::Date: {
        const DbValues::TDateParts p = DbValues::SplitDateTime(value.ToDateTime());
        SQL_DATE_STRUCT d{static_cast<SQLSMALLINT>(p.Year), static_cast<SQLUSMALLINT>(p.Month),
                          static_cast<SQLUSMALLINT>(p.Day)};
        buf.Data = Raw(d);
        cType = SQL_C_TYPE_DATE;
        sqlType = SQL_TYPE_DATE;
        columnSize = 10;
        break;
      }
      case TODBCSend::Time: {
        // As text: the time structure of ODBC has no fraction of a second.
        const QTime t = DateTimeConv::ToTime(value.ToDateTime());
        buf.Data = t.toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
        cType = SQL_C_CHAR;
        sqlType = SQL_TYPE_TIME;
        columnSize = 12;
        digits = 3;
        break;
      }
      case TODBCSend::TimeStamp: {
        const DbValues::TDateParts p = DbValues::SplitDateTime(value.ToDateTime());
        SQL_TIMESTAMP_STRUCT ts{
            static_cast<SQLSMALLINT>(p.Year),           static_cast<SQLUSMALLINT>(p.Month),
            static_cast<SQLUSMALLINT>(p.Day),           static_cast<SQLUSMALLINT>(p.Hour),
            static_cast<SQLUSMALLINT>(p.Minute),        static_cast<SQLUSMALLINT>(p.Second),
            static_cast<SQLUINTEGER>(p.MSec) * 1000000u};
        buf.Data = Raw(ts);
        cType = SQL_C_TYPE_TIMESTAMP;
        sqlType = SQL_TYPE_TIMESTAMP;
        columnSize = 23;
        digits = 3;
        break;
      }
      case TODBCSend::Binary:
        buf.Data = value.ToBytes();
        cType = SQL_C_BINARY;
        sqlType = buf.Data.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
        columnSize = qMax<SQLULEN>(1, buf.Data.size());
        break;
      case TODBCSend::None:
        break;
    }
    buf.Indicator = buf.Data.size();
  } else {
    buf.Indicator = SQL_NULL_DATA;
  }
  if (buf.Data.isEmpty()) buf.Data.reserve(2);
  Check(SQLBindParameter(FStmt, static_cast<SQLUSMALLINT>(index + 1), SQL_PARAM_INPUT, cType,
                         sqlType, columnSize, digits, buf.Data.data(), buf.Data.size(),
                         &buf.Indicator));
}

void TODBCStatement::BindAndExecute(const TParams& params) {
  Handle();
  CloseCursor();
  SQLFreeStmt(FStmt, SQL_RESET_PARAMS);
  for (int i = 0; i < FMarkers.size(); ++i) BindOne(i, ParamForMarker(params, FMarkers[i], i));
  Check(SQLExecute(FStmt));
}

void TODBCStatement::Execute(const TParams& params) {
  BindAndExecute(params);
  // Every result of the statement is passed over so the connection is free.
  while (SQLMoreResults(FStmt) == SQL_SUCCESS) {
  }
  CloseCursor();
}

std::unique_ptr<TClientDataSet> TODBCStatement::Fetch(const TParams& params) {
  BindAndExecute(params);
  return ReadResult();
}

std::unique_ptr<TClientDataSet> TODBCStatement::Catalogue(TCatalogue kind, const QString& table) {
  Handle();
  const bool wide = FConnection->WideCalls();
  if (kind == TCatalogue::Tables) {
    Check(wide ? SQLTablesW(FStmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0)
               : SQLTables(FStmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
    return ReadResult();
  }
  // The table argument is a search pattern: "_" and "%" in a name are escaped.
  SQLCHAR escape[8] = {};
  SQLSMALLINT escapeLength = 0;
  SQLGetInfo(FConnection->Handle(), SQL_SEARCH_PATTERN_ESCAPE, escape, sizeof escape,
             &escapeLength);
  const QString esc = QString::fromLatin1(reinterpret_cast<const char*>(escape));
  QString pattern = table;
  if (!esc.isEmpty()) {
    pattern.replace(esc, esc + esc);
    pattern.replace(QLatin1Char('_'), esc + QLatin1Char('_'));
    pattern.replace(QLatin1Char('%'), esc + QLatin1Char('%'));
  }
  auto columns = [&](const QString& name) {
    CloseCursor();
    if (wide) {
      Check(SQLColumnsW(FStmt, nullptr, 0, nullptr, 0, ODBCWide(name), SQL_NTS, nullptr, 0));
    } else {
      QByteArray text = ODBCNarrow(name);
      Check(SQLColumns(FStmt, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(text.data()),
                       SQL_NTS, nullptr, 0));
    }
    return ReadResult();
  };
  auto ds = columns(pattern);
  // Drivers that take the argument literally find nothing for the escaped form.
  if (ds->IsEmpty() && pattern != table) ds = columns(table);
  return ds;
}

std::unique_ptr<TClientDataSet> TODBCStatement::ReadResult() {
  auto ds = std::make_unique<TClientDataSet>();
  if (DescribeResult()) {
    for (const TODBCColumn& col : FColumns) ds->AddFieldDef(col.Def);
    auto& rows = ds->MutableRows();
    QVector<Variant> values;
    while (NextRow(values)) rows.append(std::move(values));
  }
  ds->Open();
  return ds;
}

bool TODBCStatement::OpenRows(const TParams& params) {
  BindAndExecute(params);
  return DescribeResult();
}

bool TODBCStatement::DescribeResult() {
  FColumns.clear();
  FRowsOpen = false;
  SQLSMALLINT count = 0;
  Check(SQLNumResultCols(FStmt, &count));
  if (count == 0) {
    CloseCursor();
    return false;
  }
  const bool wide = FConnection->WideCalls();
  QVector<TODBCColumn> columns(count);
  for (SQLSMALLINT i = 0; i < count; ++i) {
    SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    QString name;
    if (wide) {
      SQLWCHAR buffer[256];
      Check(SQLDescribeColW(FStmt, i + 1, buffer, 256, &nameLength, &type, &size, &digits,
                            &nullable));
      name =
          QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), qMin<int>(nameLength, 255));
    } else {
      SQLCHAR buffer[512];
      Check(
          SQLDescribeCol(FStmt, i + 1, buffer, 512, &nameLength, &type, &size, &digits, &nullable));
      name = QString::fromUtf8(reinterpret_cast<const char*>(buffer), qMin<int>(nameLength, 511));
    }
    columns[i] = DescribeODBCColumn(type, size, digits);
    columns[i].Def.Name = name;
    columns[i].Def.Required = nullable == SQL_NO_NULLS;
  }
  FColumns = columns;
  FRowsOpen = true;
  return true;
}

bool TODBCStatement::NextRow(QVector<Variant>& values) {
  if (!FRowsOpen) return false;
  const SQLSMALLINT count = static_cast<SQLSMALLINT>(FColumns.size());
  // Variable-length data in pieces: a piece that does not fit is continued
  // by the next call.
  auto readLong = [&](SQLUSMALLINT col, SQLSMALLINT cType, int terminator, bool& isNull) {
    QByteArray out;
    char piece[16384];
    isNull = false;
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(FStmt, col, cType, piece, sizeof piece, &indicator);
      if (rc == SQL_NO_DATA) break;
      Check(rc);
      if (indicator == SQL_NULL_DATA) {
        isNull = true;
        return out;
      }
      const SQLLEN room = static_cast<SQLLEN>(sizeof piece) - terminator;
      if (indicator == SQL_NO_TOTAL || indicator > room) {
        out.append(piece, room);
        continue;
      }
      out.append(piece, indicator);
      break;
    }
    return out;
  };
  try {
    {
      const SQLRETURN rc = SQLFetch(FStmt);
      if (rc == SQL_NO_DATA) {
        CloseCursor();
        return false;
      }
      Check(rc);
      values.clear();
      values.reserve(count);
      for (SQLSMALLINT i = 0; i < count; ++i) {
        const TODBCColumn& col = FColumns[i];
        const SQLUSMALLINT n = static_cast<SQLUSMALLINT>(i + 1);
        SQLLEN indicator = 0;
        auto fixed = [&](SQLSMALLINT cType, void* target, SQLLEN size) {
          Check(SQLGetData(FStmt, n, cType, target, size, &indicator));
          return indicator != SQL_NULL_DATA;
        };
        switch (col.Read) {
          case TODBCRead::Int: {
            SQLBIGINT v = 0;
            if (!fixed(SQL_C_SBIGINT, &v, sizeof v)) break;
            if (col.Def.DataType == ftSmallint)
              values.append(Variant::FromInt(v, Variant::Type::Int16));
            else if (col.Def.DataType == ftInteger)
              values.append(Variant::FromInt(v, Variant::Type::Int32));
            else
              values.append(Variant::FromInt64(v));
            continue;
          }
          case TODBCRead::Bit: {
            unsigned char v = 0;
            if (!fixed(SQL_C_BIT, &v, sizeof v)) break;
            values.append(Variant::FromBool(v != 0));
            continue;
          }
          case TODBCRead::Double: {
            double v = 0;
            if (!fixed(SQL_C_DOUBLE, &v, sizeof v)) break;
            values.append(Variant::FromDouble(v));
            continue;
          }
          case TODBCRead::Decimal: {
            char text[128] = {};
            if (!fixed(SQL_C_CHAR, text, sizeof text)) break;
            values.append(Variant::FromDecimal(
                DbValues::NumberTextToDecimal(QString::fromLatin1(text), qMax(col.Def.Size, 0))));
            continue;
          }
          case TODBCRead::Date: {
            SQL_DATE_STRUCT d{};
            if (!fixed(SQL_C_TYPE_DATE, &d, sizeof d)) break;
            DbValues::TDateParts p;
            p.Year = d.year;
            p.Month = d.month;
            p.Day = d.day;
            values.append(Variant::FromDateTime(DbValues::JoinDateTime(p)));
            continue;
          }
          case TODBCRead::Time: {
            char text[64] = {};
            if (!fixed(SQL_C_CHAR, text, sizeof text)) break;
            const int ms = ParseTimeText(QString::fromLatin1(text));
            if (ms < 0)
              throw ENompackError(QStringLiteral("Column %1: '%2' is no time")
                                      .arg(col.Def.Name, QString::fromLatin1(text)),
                                  ENompackError::Kind::Conversion);
            values.append(Variant::FromDateTime(DbValues::TimeFromMSecs(ms)));
            continue;
          }
          case TODBCRead::TimeStamp: {
            SQL_TIMESTAMP_STRUCT ts{};
            if (!fixed(SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts)) break;
            DbValues::TDateParts p;
            p.Year = ts.year;
            p.Month = ts.month;
            p.Day = ts.day;
            p.Hour = ts.hour;
            p.Minute = ts.minute;
            p.Second = ts.second;
            p.MSec = static_cast<int>(ts.fraction / 1000000u);
            values.append(Variant::FromDateTime(DbValues::JoinDateTime(p)));
            continue;
          }
          case TODBCRead::Text: {
            bool isNull = false;
            const QByteArray data = readLong(n, SQL_C_WCHAR, 2, isNull);
            if (isNull) break;
            values.append(Variant::FromString(QString::fromUtf16(
                reinterpret_cast<const char16_t*>(data.constData()), data.size() / 2)));
            continue;
          }
          case TODBCRead::Bytes: {
            bool isNull = false;
            const QByteArray data = readLong(n, SQL_C_BINARY, 0, isNull);
            if (isNull) break;
            values.append(Variant::FromBytes(data));
            continue;
          }
        }
        values.append(Variant::Null());
      }
    }
  } catch (...) {
    CloseCursor();
    throw;
  }
  return true;
}
