#include "FBConnection.h"

#include "BatchInsert.h"
#include "ClientDataSet.h"
#include "Connections.h"
#include "Cp1251.h"
#include "DbValues.h"
#include "FBBatchInsert.h"
#include "FBCursor.h"
#include "FBStatement.h"
#include "NompackError.h"

QByteArray TFBCodec::Encode(const QString& paramName, const QString& text) const {
  return Utf8 ? text.toUtf8() : DbValues::EncodeParamText(paramName, text);
}

QByteArray TFBCodec::EncodeSql(const QString& sql) const {
  return Utf8 ? sql.toUtf8() : Cp1251::Encode(sql);
}

QString TFBCodec::Decode(const char* data, qsizetype size) const {
  return Utf8 ? QString::fromUtf8(data, size) : Cp1251::Decode(data, size);
}

void ThrowFBError(const ISC_STATUS* status, const TFBCodec& codec) {
  QStringList lines;
  char buffer[1024];
  const ISC_STATUS* cursor = status;
  while (fb_interpret(buffer, sizeof buffer, &cursor) > 0)
    lines.append(codec.Decode(buffer, qstrlen(buffer)));
  const QString text = lines.join(QLatin1Char('\n'));
  const ISC_LONG sqlCode = isc_sqlcode(status);
  ENompackError error(text, ENompackError::Kind::Server, text, status[1]);
  error.AddContext(QStringLiteral("SQLCODE %1").arg(sqlCode));
  throw error;
}

namespace {

[[noreturn]] void FailParameter(const QString& what, const QString& line) {
  throw ENompackError(QStringLiteral("Unknown %1 parameter \"%2\"").arg(what, line),
                      ENompackError::Kind::Database);
}

// An attachment line "name = value": the name in lower case, both trimmed;
// everything after the first "=" is the value.
void SplitDpbLine(const QString& line, QString& name, QString& value) {
  const qsizetype eq = line.indexOf(QLatin1Char('='));
  name = (eq < 0 ? line : line.left(eq)).trimmed().toLower();
  value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
}

void AppendString(QByteArray& dpb, char item, const QByteArray& value) {
  if (value.size() > 255) FailParameter(QStringLiteral("attachment"), QString::fromLatin1(value));
  dpb.append(item);
  dpb.append(static_cast<char>(value.size()));
  dpb.append(value);
}

QByteArray BuildTpb(const QStringList& lines) {
  struct Item {
    const char* Name;
    char Code;
  };
  static constexpr Item kItems[] = {
      {"read_committed", isc_tpb_read_committed},
      {"rec_version", isc_tpb_rec_version},
      {"no_rec_version", isc_tpb_no_rec_version},
      {"wait", isc_tpb_wait},
      {"nowait", isc_tpb_nowait},
      {"concurrency", isc_tpb_concurrency},
      {"consistency", isc_tpb_consistency},
      {"read", isc_tpb_read},
      {"write", isc_tpb_write},
  };
  QByteArray tpb(1, static_cast<char>(isc_tpb_version3));
  for (const QString& raw : lines) {
    const QString line = raw.trimmed();
    if (line.isEmpty()) continue;
    // "lock_timeout=N": a waiting statement gives up after N seconds instead
    // of waiting for the other transaction to end.
    if (line.startsWith(QLatin1String("lock_timeout="), Qt::CaseInsensitive)) {
      bool ok = false;
      const int seconds = line.mid(line.indexOf(QLatin1Char('=')) + 1).toInt(&ok);
      if (!ok || seconds < 1) FailParameter(QStringLiteral("transaction"), line);
      tpb.append(static_cast<char>(isc_tpb_lock_timeout));
      tpb.append(static_cast<char>(sizeof(ISC_LONG)));
      for (unsigned i = 0; i < sizeof(ISC_LONG); ++i)
        tpb.append(static_cast<char>((static_cast<quint32>(seconds) >> (8 * i)) & 0xFF));
      continue;
    }
    bool found = false;
    for (const Item& item : kItems) {
      if (line.compare(QLatin1String(item.Name), Qt::CaseInsensitive) == 0) {
        tpb.append(item.Code);
        found = true;
      }
    }
    if (!found) FailParameter(QStringLiteral("transaction"), line);
  }
  return tpb;
}

}  // namespace

QByteArray BuildFBDpb(const QStringList& lines, TFBCodec* codec) {
  QByteArray dpb(1, static_cast<char>(isc_dpb_version1));
  for (const QString& raw : lines) {
    const QString line = raw.trimmed();
    if (line.isEmpty()) continue;
    QString name, value;
    SplitDpbLine(line, name, value);
    if (name == QLatin1String("user_name")) {
      AppendString(dpb, isc_dpb_user_name, value.toUtf8());
    } else if (name == QLatin1String("password")) {
      AppendString(dpb, isc_dpb_password, value.toUtf8());
    } else if (name == QLatin1String("lc_ctype")) {
      AppendString(dpb, isc_dpb_lc_ctype, value.toLatin1());
      if (codec) {
        codec->Utf8 = value.compare(QLatin1String("UTF8"), Qt::CaseInsensitive) == 0;
        codec->BytesPerChar = codec->Utf8 ? 4 : 1;
        codec->Charset = value.toUpper();
      }
    } else if (name == QLatin1String("sql_role_name")) {
      AppendString(dpb, isc_dpb_sql_role_name, value.toUtf8());
    } else {
      FailParameter(QStringLiteral("attachment"), line);
    }
  }
  return dpb;
}

TFBConnection::TFBConnection(const QString& database, const QStringList& dpbLines,
                             const QStringList& tpbLines)
    : FTpb(BuildTpb(tpbLines)) {
  const QByteArray dpb = BuildFBDpb(dpbLines, &FCodec);
  const QByteArray name = database.toUtf8();
  ISC_STATUS_ARRAY status;
  isc_attach_database(status, static_cast<short>(name.size()), name.constData(), &FDb,
                      static_cast<short>(dpb.size()), dpb.constData());
  if (status[0] == 1 && status[1]) {
    FDb = 0;
    ThrowFBError(status, FCodec);
  }
}

TFBConnection::~TFBConnection() {
  try {
    Close();
  } catch (...) {
    // A lost attachment cannot be closed any further.
  }
}

void TFBConnection::Close() {
  const auto statements = FStatements;
  for (TFBStatement* s : statements) s->Invalidate();
  FStatements.clear();
  ISC_STATUS_ARRAY status;
  if (FSnapshotTr) {
    isc_rollback_transaction(status, &FSnapshotTr);
    FSnapshotTr = 0;
  }
  if (FTr) {
    isc_rollback_transaction(status, &FTr);
    FTr = 0;
  }
  if (FDb) {
    isc_detach_database(status, &FDb);
    FDb = 0;
    CheckFB(status, FCodec);
  }
}

isc_db_handle* TFBConnection::DbHandle() {
  if (!FDb)
    throw ENompackError(QStringLiteral("The Firebird database is not attached"),
                        ENompackError::Kind::Database);
  return &FDb;
}

isc_tr_handle* TFBConnection::TrHandle() {
  DbHandle();
  if (!FTr)
    throw ENompackError(QStringLiteral("Transaction is not active"), ENompackError::Kind::Database);
  return &FTr;
}

isc_tr_handle* TFBConnection::SnapshotHandle() {
  DbHandle();
  if (!FSnapshotTr)
    throw ENompackError(QStringLiteral("The read snapshot is not active"),
                        ENompackError::Kind::Database);
  return &FSnapshotTr;
}

bool TFBConnection::BeginReadSnapshot() {
  if (FSnapshotTr)
    throw ENompackError(QStringLiteral("A read snapshot is already active"),
                        ENompackError::Kind::Database);
  // Concurrency: every read of the transaction sees the database as it was
  // when the transaction started. Read only: it holds back no one's writes.
  static const char kTpb[] = {isc_tpb_version3, isc_tpb_concurrency, isc_tpb_read, isc_tpb_wait};
  ISC_STATUS_ARRAY status;
  isc_start_transaction(status, &FSnapshotTr, 1, DbHandle(),
                        static_cast<unsigned short>(sizeof kTpb), kTpb);
  if (status[0] == 1 && status[1]) {
    FSnapshotTr = 0;
    ThrowFBError(status, FCodec);
  }
  return true;
}

void TFBConnection::EndReadSnapshot() {
  if (!FSnapshotTr) return;
  for (TFBStatement* s : FStatements)
    if (s->InReadSnapshot()) s->CloseCursor();
  ISC_STATUS_ARRAY status;
  // Nothing was written in it: committing only ends it.
  isc_commit_transaction(status, &FSnapshotTr);
  if (status[0] == 1 && status[1]) {
    ISC_STATUS_ARRAY ignored;
    isc_rollback_transaction(ignored, &FSnapshotTr);
    FSnapshotTr = 0;
    ThrowFBError(status, FCodec);
  }
  FSnapshotTr = 0;
}

void TFBConnection::StartTransaction() {
  if (FTr)
    throw ENompackError(QStringLiteral("Transaction is already active"),
                        ENompackError::Kind::Database);
  ISC_STATUS_ARRAY status;
  isc_start_transaction(status, &FTr, 1, DbHandle(), static_cast<unsigned short>(FTpb.size()),
                        FTpb.constData());
  if (status[0] == 1 && status[1]) {
    FTr = 0;
    ThrowFBError(status, FCodec);
  }
}

void TFBConnection::Commit() {
  ISC_STATUS_ARRAY status;
  // Open cursors belong to the transaction that ends; the read snapshot's
  // go on.
  for (TFBStatement* s : FStatements)
    if (!s->InReadSnapshot()) s->CloseCursor();
  isc_commit_transaction(status, TrHandle());
  CheckFB(status, FCodec);
  FTr = 0;
}

void TFBConnection::CommitRetaining() {
  ISC_STATUS_ARRAY status;
  isc_commit_retaining(status, TrHandle());
  CheckFB(status, FCodec);
}

void TFBConnection::RollbackRetaining() {
  ISC_STATUS_ARRAY status;
  isc_rollback_retaining(status, TrHandle());
  CheckFB(status, FCodec);
  // Undone DDL may have changed what the catalogue says.
  ForgetCatalogue();
}

void TFBConnection::Execute(const QString& sql, const TParams& params) {
  TFBStatement statement(*this, sql);
  statement.Execute(params);
}

std::unique_ptr<TClientDataSet> TFBConnection::Open(const QString& sql, const TParams& params) {
  TFBStatement statement(*this, sql);
  return statement.Fetch(params);
}

std::unique_ptr<IStatement> TFBConnection::Prepare(const QString& sql) {
  return std::make_unique<TFBStatement>(*this, sql);
}

std::unique_ptr<ICursor> TFBConnection::OpenCursor(const QString& sql, const TParams& params) {
  auto statement = std::make_unique<TFBStatement>(*this, sql, FSnapshotTr != 0);
  statement->InlineShortMemos();
  return std::make_unique<TFBCursor>(std::move(statement), params);
}

namespace {

// The character set of the short parameter of a text memo column stored in
// `charset`; empty where the values keep going as blobs (sets of more bytes
// a character than UTF8's, and OCTETS text, whose blobs take text as the
// session's bytes).
QString ShortMemoCharset(const QString& charset) {
  const bool known = charset == QLatin1String("UTF8") || charset == QLatin1String("UNICODE_FSS") ||
                     charset == QLatin1String("NONE") || charset == QLatin1String("ASCII") ||
                     charset.startsWith(QLatin1String("WIN125")) ||
                     charset.startsWith(QLatin1String("ISO8859_")) ||
                     charset.startsWith(QLatin1String("DOS")) ||
                     charset.startsWith(QLatin1String("KOI8"));
  return known ? charset : QString();
}

}  // namespace

std::unique_ptr<IBatchInsert> TFBConnection::PrepareBatchInsert(const QString& table,
                                                                const QStringList& columns,
                                                                int maxRows) {
  RequireBatchIdentifier(table);
  for (const QString& c : columns) RequireBatchIdentifier(c);
  // One block of n inserts, each row's values as input parameters of the
  // block typed as their columns: the server converts them as it would for
  // a plain insert, and a refused insert ends the block with everything it
  // did undone. A memo column's short value comes in a VARCHAR of the
  // column's character set beside it; the insert takes whichever is set.
  const QString insert =
      QStringLiteral("INSERT INTO %1 (%2) VALUES (").arg(table, columns.join(QStringLiteral(", ")));
  auto parsedFor = [table, columns, insert](int rows, const QStringList& shortTypes) {
    TParsedSql parsed;
    QStringList inputs;
    QString body;
    int n = 0;
    for (int r = 0; r < rows; ++r) {
      QStringList values;
      for (int c = 0; c < columns.size(); ++c) {
        const QString& column = columns[c];
        const QString var = QStringLiteral("P%1").arg(n++);
        inputs << QStringLiteral("%1 TYPE OF COLUMN %2.%3 = ?").arg(var, table, column);
        parsed.Markers << column;
        if (shortTypes.isEmpty() || shortTypes[c].isEmpty()) {
          values << QLatin1Char(':') + var;
          continue;
        }
        const QString shortVar = QStringLiteral("S%1").arg(n - 1);
        inputs << QStringLiteral("%1 %2 = ?").arg(shortVar, shortTypes[c]);
        parsed.Markers << TFBBatchInsert::ShortParamName(column);
        values << QStringLiteral("COALESCE(:%1, :%2)").arg(var, shortVar);
      }
      body += insert + values.join(QStringLiteral(", ")) + QStringLiteral(");\n");
    }
    parsed.Sql = QStringLiteral("EXECUTE BLOCK (") + inputs.join(QStringLiteral(", ")) +
                 QStringLiteral(") AS BEGIN\n") + body + QStringLiteral("END");
    parsed.Names = parsed.Markers.mid(0, parsed.Markers.size() / qMax(rows, 1));
    return parsed;
  };
  // The parameters of one execution travel in one message; the server
  // takes messages well beyond 64 KB, but the batches stay within that, as
  // the values of ordinary columns are sized. The short memo values are left
  // out of the sum: the loader cuts a batch by the size of its values.
  constexpr int kMessageLimit = 65535;
  const TFBStatement single(*this, parsedFor(1, {}), false);
  const int rowBytes = single.InputMessageBytes();
  const int fit = qMax(1, (kMessageLimit - 64) / qMax(rowBytes, 1));
  const int rows = qMin(maxRows, fit);

  QStringList shortTypes;
  QVector<bool> memos;
  QStringList markers;
  bool anyMemo = false;
  for (int c = 0; c < columns.size(); ++c) {
    const XSQLVAR& v = single.DescribedParams()[c];
    QString type;
    if ((v.sqltype & ~1) == SQL_BLOB && v.sqlsubtype == 0) {
      type =
          QStringLiteral("VARCHAR(%1) CHARACTER SET OCTETS").arg(TFBBatchInsert::ShortMemoLength);
    } else if ((v.sqltype & ~1) == SQL_BLOB && v.sqlsubtype == 1) {
      const QString charset =
          ShortMemoCharset(DeclaredCharset(table.toUpper(), columns[c].toUpper()));
      // NONE counts bytes, and the session's take up to this many a
      // character; the other sets count characters.
      const int length = TFBBatchInsert::ShortMemoLength *
                         (charset == QLatin1String("NONE") ? FCodec.BytesPerChar : 1);
      if (!charset.isEmpty())
        type = QStringLiteral("VARCHAR(%1) CHARACTER SET %2").arg(length).arg(charset);
    }
    shortTypes << type;
    memos << !type.isEmpty();
    markers << columns[c];
    if (!type.isEmpty()) {
      markers << TFBBatchInsert::ShortParamName(columns[c]);
      anyMemo = true;
    }
  }
  if (!anyMemo)
    return std::make_unique<TBatchInsert>(columns, rows, [this, parsedFor](int n) {
      return std::make_unique<TFBStatement>(*this, parsedFor(n, {}), false);
    });
  auto inner = std::make_unique<TBatchInsert>(markers, rows, [this, parsedFor, shortTypes](int n) {
    return std::make_unique<TFBStatement>(*this, parsedFor(n, shortTypes), false);
  });
  return std::make_unique<TFBBatchInsert>(columns, memos, std::move(inner));
}

int TFBConnection::DeclaredPrecision(const QString& relation, const QString& field, int fallback) {
  if (relation.isEmpty() || field.isEmpty()) return fallback;
  const QString key = relation + QLatin1Char('.') + field;
  const auto it = FPrecisions.constFind(key);
  if (it != FPrecisions.constEnd()) return *it;
  TParams params{{QStringLiteral("REL"), ftString, Variant::FromString(relation)},
                 {QStringLiteral("FLD"), ftString, Variant::FromString(field)}};
  const auto ds =
      Open(QStringLiteral("SELECT F.RDB$FIELD_PRECISION FROM RDB$RELATION_FIELDS RF "
                          "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                          "WHERE RF.RDB$RELATION_NAME = :REL AND RF.RDB$FIELD_NAME = :FLD"),
           params);
  int precision = fallback;
  if (!ds->IsEmpty() && !ds->Value(0).IsNull() && ds->Value(0).ToInt32() > 0)
    precision = ds->Value(0).ToInt32();
  FPrecisions.insert(key, precision);
  return precision;
}

QString TFBConnection::DeclaredCharset(const QString& relation, const QString& field) {
  if (relation.isEmpty() || field.isEmpty()) return QString();
  const QString key = relation + QLatin1Char('.') + field;
  const auto it = FCharsets.constFind(key);
  if (it != FCharsets.constEnd()) return *it;
  TParams params{{QStringLiteral("REL"), ftString, Variant::FromString(relation)},
                 {QStringLiteral("FLD"), ftString, Variant::FromString(field)}};
  const auto ds =
      Open(QStringLiteral("SELECT TRIM(CS.RDB$CHARACTER_SET_NAME) FROM RDB$RELATION_FIELDS RF "
                          "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                          "JOIN RDB$CHARACTER_SETS CS "
                          "ON CS.RDB$CHARACTER_SET_ID = F.RDB$CHARACTER_SET_ID "
                          "WHERE RF.RDB$RELATION_NAME = :REL AND RF.RDB$FIELD_NAME = :FLD"),
           params);
  const QString name =
      ds->IsEmpty() || ds->Value(0).IsNull() ? QString() : ds->Value(0).ToString().toUpper();
  FCharsets.insert(key, name);
  return name;
}

QVector<IConnection::TableEntry> TFBConnection::Tables() {
  const auto ds =
      Open(QStringLiteral("SELECT TRIM(R.RDB$RELATION_NAME), R.RDB$VIEW_BLR IS NOT NULL, "
                          "COALESCE(R.RDB$SYSTEM_FLAG, 0) "
                          "FROM RDB$RELATIONS R ORDER BY R.RDB$RELATION_NAME"));
  QVector<TableEntry> out;
  for (const auto& row : ds->Rows()) {
    QString kind = row[1].ToBool() ? QStringLiteral("VIEW") : QStringLiteral("TABLE");
    if (row[2].ToInt32() != 0) kind = QStringLiteral("SYSTEM TABLE");
    out.append({row[0].ToString(), kind});
  }
  return out;
}

QStringList TFBConnection::ColumnNames(const QString& table) {
  TParams params{{QStringLiteral("REL"), ftString, Variant::FromString(table)}};
  const auto ds =
      Open(QStringLiteral("SELECT TRIM(RF.RDB$FIELD_NAME) FROM RDB$RELATION_FIELDS RF "
                          "WHERE RF.RDB$RELATION_NAME = :REL ORDER BY RF.RDB$FIELD_POSITION"),
           params);
  QStringList out;
  for (const auto& row : ds->Rows()) out.append(row[0].ToString());
  return out;
}

std::unique_ptr<IConnection> OpenFirebird(const QString& database, const QStringList& dpbLines,
                                          const QStringList& tpbLines) {
  return std::make_unique<TFBConnection>(database, dpbLines, tpbLines);
}

void CreateFirebirdDatabase(const QString& database, const QStringList& dpbLines,
                            const QString& defaultCharset) {
  QString user, password;
  for (const QString& line : dpbLines) {
    QString name, value;
    SplitDpbLine(line, name, value);
    if (name == QLatin1String("user_name")) user = value;
    if (name == QLatin1String("password")) password = value;
  }
  QString sql = QStringLiteral("CREATE DATABASE '%1' USER '%2' PASSWORD '%3' PAGE_SIZE 8192")
                    .arg(QString(database).replace(QLatin1Char('\''), QStringLiteral("''")),
                         user.replace(QLatin1Char('\''), QStringLiteral("''")),
                         password.replace(QLatin1Char('\''), QStringLiteral("''")));
  if (!defaultCharset.isEmpty()) sql += QStringLiteral(" DEFAULT CHARACTER SET ") + defaultCharset;
  const QByteArray text = sql.toUtf8();
  ISC_STATUS_ARRAY status;
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
  isc_dsql_execute_immediate(status, &db, &tr, static_cast<unsigned short>(text.size()),
                             text.constData(), 3, nullptr);
  TFBCodec codec;
  CheckFB(status, codec);
  isc_detach_database(status, &db);
  CheckFB(status, codec);
}

void DropFirebirdDatabase(const QString& database, const QStringList& dpbLines) {
  TFBCodec codec;
  const QByteArray dpb = BuildFBDpb(dpbLines, &codec);
  const QByteArray name = database.toUtf8();
  ISC_STATUS_ARRAY status;
  isc_db_handle db = 0;
  isc_attach_database(status, static_cast<short>(name.size()), name.constData(), &db,
                      static_cast<short>(dpb.size()), dpb.constData());
  CheckFB(status, codec);
  isc_drop_database(status, &db);
  CheckFB(status, codec);
}
