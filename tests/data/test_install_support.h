#pragma once

// Shared by the installation tests: scratch databases on the test servers,
// chunk files and packets built by hand, and canonical row dumps.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "AppMiscFiles.h"
#include "ClientDataSet.h"
#include "Connections.h"
#include "DataModule.h"
#include "DateTime.h"
#include "NompackError.h"
#include "PacketLayout.h"
#include "TestEnv.h"

namespace InstallTest {

// The two kinds of target the installation tests run against.
enum TKind { kMySQL = 0, kFireBird = 1 };

inline const QString kFBFolder = QStringLiteral("/tmp/nompack-fb/");

inline QStringList FBDpb() {
  return TDM::FBAttachmentParams();
}

inline MySQLConnectParams MySQLParams(const QString& database = QString()) {
  MySQLConnectParams p;
  p.Host = QStringLiteral("127.0.0.1");
  p.UserName = QStringLiteral("root");
  p.Database = database;
  return p;
}

inline bool MySQLReachable() {
  try {
    OpenMySQL(MySQLParams());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

inline bool FBReachable() {
  const QString db = QStringLiteral("127.0.0.1:") + kFBFolder + QStringLiteral("inst_probe.fdb");
  try {
    try {
      DropFirebirdDatabase(db, FBDpb());
    } catch (const std::exception&) {
    }
    CreateFirebirdDatabase(db, FBDpb(), QStringLiteral("WIN1251"));
    DropFirebirdDatabase(db, FBDpb());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// A scratch MySQL database, made empty on construction and dropped at the
// end. Statements go through a connection of its own, in Windows-1251.
class TScratchMySQL {
 public:
  explicit TScratchMySQL(const QString& name) : FName(name) {
    FAdmin = OpenMySQL(MySQLParams());
    FAdmin->Execute(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(name));
    FAdmin->Execute(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET cp1251").arg(name));
    FCon = OpenMySQL(MySQLParams(name));
    FCon->Execute(QStringLiteral("SET NAMES CP1251"));
  }
  ~TScratchMySQL() {
    try {
      FCon.reset();
      if (!qEnvironmentVariableIsSet("NOMPACK_KEEP_TEST_DB"))
        FAdmin->Execute(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(FName));
    } catch (const std::exception&) {
    }
  }
  const QString& Name() const { return FName; }
  IConnection& Con() { return *FCon; }
  void Exec(const QString& sql) { FCon->Execute(sql); }
  int Count(const QString& table) {
    return FCon->Open(QStringLiteral("SELECT COUNT(*) FROM `%1`").arg(table))->Value(0).ToInt32();
  }
  bool TableExists(const QString& table) {
    TParams p{{QStringLiteral("T"), ftString, Variant::FromString(table)}};
    return FCon->Open(QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE "
                                     "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = :T"),
                      p)
               ->Value(0)
               .ToInt32() > 0;
  }
  // The AUTO_INCREMENT the catalogue reports (fresh statistics).
  qint64 AutoIncrement(const QString& table) {
    FCon->Execute(QStringLiteral("ANALYZE TABLE `%1`").arg(table));
    TParams p{{QStringLiteral("T"), ftString, Variant::FromString(table)}};
    const auto ds =
        FCon->Open(QStringLiteral("SELECT AUTO_INCREMENT FROM information_schema.TABLES "
                                  "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = :T"),
                   p);
    return ds->Value(0).IsNull() ? -1 : ds->Value(0).ToInt64();
  }
  QString ConnectedBy(TDM& dm) {
    QString error;
    if (!dm.MySQLConnect(QStringLiteral("127.0.0.1"), FName, QStringLiteral("root"), QString(),
                         error))
      return error.isEmpty() ? QStringLiteral("connect failed") : error;
    return QString();
  }

 private:
  QString FName;
  std::unique_ptr<IConnection> FAdmin;
  std::unique_ptr<IConnection> FCon;
};

// A scratch Firebird database (WIN1251), created afresh and dropped at the
// end. `Con()` is an attachment of its own: every statement there commits.
class TScratchFB {
 public:
  explicit TScratchFB(const QString& name)
      : FPath(kFBFolder + name + QStringLiteral(".fdb")),
        FDatabase(QStringLiteral("127.0.0.1:") + FPath) {
    try {
      DropFirebirdDatabase(FDatabase, FBDpb());
    } catch (const std::exception&) {
    }
    CreateFirebirdDatabase(FDatabase, FBDpb(), QStringLiteral("WIN1251"));
    Reattach();
  }
  ~TScratchFB() {
    try {
      FCon.reset();
      if (!qEnvironmentVariableIsSet("NOMPACK_KEEP_TEST_DB"))
        DropFirebirdDatabase(FDatabase, FBDpb());
    } catch (const std::exception&) {
    }
  }
  const QString& Database() const { return FDatabase; }
  const QString& Path() const { return FPath; }
  IConnection& Con() { return *FCon; }
  // A fresh attachment sees what other attachments committed.
  void Reattach() {
    FCon.reset();
    FCon = OpenFirebird(FDatabase, FBDpb(), TDM::FBTransactionParams());
    FCon->StartTransaction();
  }
  void Exec(const QString& sql) {
    FCon->Execute(sql);
    FCon->CommitRetaining();
  }
  int Count(const QString& table) {
    FCon->CommitRetaining();
    return FCon->Open(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table))->Value(0).ToInt32();
  }
  qint64 Generator(const QString& name) {
    FCon->CommitRetaining();
    return FCon->Open(QStringLiteral("SELECT GEN_ID(%1, 0) FROM RDB$DATABASE").arg(name))
        ->Value(0)
        .ToInt64();
  }

 private:
  QString FPath;
  QString FDatabase;
  std::unique_ptr<IConnection> FCon;
};

// The 26 document tables with one row each; a few reference each other the
// way the real ones do, so a wrong clearing order would be refused.
inline QStringList DocumentTableNames() {
  return QStringLiteral(
             "DENIAL CONSIGN_REPORT PRESCRIPTION_ITEM PRESCRIPTION SALE_COR_ITEM SALE_COR "
             "SALE_PAYMENT SALE_ITEM PRESCRIPTION_SALE SALE DRUG_SALE PAYMENT INVENTORY_FULL_INFO "
             "SALE_PRICE_COR_ITEM SALE_PRICE_COR INV_COR_ITEM INV_COR DELIVERY_ORDER_ITEM "
             "DELIVERY_ORDER DELIVERY_ITEM DELIVERY PARCEL EXPENSE RZOK_COR_INVOICE RZOK_INVOICE "
             "DELETED_ITEM")
      .split(QLatin1Char(' '));
}

// Document tables that reference another one, with the one they reference.
inline QMap<QString, QString> DocumentParents() {
  return {{"PRESCRIPTION_ITEM", "PRESCRIPTION"},
          {"SALE_COR_ITEM", "SALE_COR"},
          {"SALE_ITEM", "SALE"},
          {"DELIVERY_ITEM", "DELIVERY"},
          {"RZOK_COR_INVOICE", "RZOK_INVOICE"}};
}

inline void CreateDocuments(TScratchMySQL& db) {
  const QMap<QString, QString> parents = DocumentParents();
  const QStringList docs = DocumentTableNames();
  for (auto it = docs.crbegin(); it != docs.crend(); ++it) {
    QString ddl =
        QStringLiteral("CREATE TABLE %1 (ID INT NOT NULL PRIMARY KEY, REF_ID INT").arg(*it);
    if (parents.contains(*it))
      ddl += QStringLiteral(", FOREIGN KEY (REF_ID) REFERENCES %1 (ID)").arg(parents[*it]);
    db.Exec(ddl + QStringLiteral(") ENGINE=InnoDB"));
    db.Exec(QStringLiteral("INSERT INTO %1 VALUES (1, %2)")
                .arg(*it, parents.contains(*it) ? QStringLiteral("1") : QStringLiteral("NULL")));
  }
}

inline void WriteText(const QString& path, const QByteArray& data) {
  QFile f(path);
  QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
  f.write(data);
}

inline void WriteDescriptor(const QString& folder, const QStringList& lines) {
  SaveStringList(lines, folder + PacketLayout::kDescriptorFileName);
}

inline TFieldDef Field(const QString& name, TFieldType type, int size = 0, int precision = 0) {
  TFieldDef def;
  def.Name = name;
  def.DataType = type;
  def.Size = size;
  def.Precision = precision;
  return def;
}

// Writes one chunk file "<table>[<n>].xml" into the folder.
inline void WriteChunk(const QString& folder, const QString& table, int chunkNo,
                       const QVector<TFieldDef>& fields, const QVector<QVector<Variant>>& rows) {
  TClientDataSet ds;
  for (const TFieldDef& f : fields) ds.AddFieldDef(f);
  for (const auto& row : rows) ds.AppendRow(row);
  ds.SaveToFile(folder + PacketLayout::ChunkFileName(table, chunkNo),
                TDataPacketFormat::SingleByte);
}

inline Variant I(qint64 v) {
  return Variant::FromInt(v);
}
inline Variant S(const QString& v) {
  return Variant::FromString(v);
}
inline Variant Null() {
  return Variant::Null();
}

// Packs every file of the folder into a ZIP packet under bare names.
inline bool PackFolder(const QString& folder, const QString& packetFile) {
  const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
  QProcess p;
  p.setWorkingDirectory(folder);
  p.start(QStringLiteral("bsdtar"), QStringList{QStringLiteral("--format"), QStringLiteral("zip"),
                                                QStringLiteral("-cf"), packetFile} +
                                        files);
  p.waitForFinished(-1);
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// One value in a form both servers agree on: numbers as plain decimals
// (doubles as their shortest text), dates as ISO text, NULL as "NULL".
inline QString Canonical(const Variant& v) {
  using T = Variant::Type;
  switch (v.VarType()) {
    case T::Null:
    case T::Empty:
      return QStringLiteral("NULL");
    case T::String:
      return QStringLiteral("'") + v.StringRef() + QStringLiteral("'");
    case T::DateTime: {
      const DateTimeConv::TimeStamp ts = DateTimeConv::ToTimeStamp(v.ToDateTime());
      const QDate d = DateTimeConv::BaseDate().addDays(ts.Day);
      return d.toString(Qt::ISODate) + QLatin1Char(' ') +
             QTime::fromMSecsSinceStartOfDay(ts.MSec).toString(QStringLiteral("HH:mm:ss.zzz"));
    }
    case T::Single:
    case T::Double:
      return QString::number(v.ToDouble(), 'g', 17);
    case T::Bytes:
      return QString::fromLatin1(v.ToBytes().toHex());
    case T::Boolean:
      return v.ToBool() ? QStringLiteral("1") : QStringLiteral("0");
    default:
      break;
  }
  if (v.IsInteger()) return v.ToString();
  QString text = v.ToDecimalText();
  if (text.contains(QLatin1Char('.'))) {
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  }
  return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

// Every row of the table as "COL=value|COL=value", ordered by ID; the
// columns of `only` when given (upper case), else all but `skip`.
inline QStringList CanonicalRows(IConnection& con, const QString& table,
                                 const QStringList& skip = {}, bool quoteMySQL = false) {
  const QString name = quoteMySQL ? QStringLiteral("`%1`").arg(table) : table;
  const auto ds = con.Open(QStringLiteral("SELECT * FROM %1 ORDER BY ID").arg(name));
  QStringList out;
  for (const auto& row : ds->Rows()) {
    QStringList cells;
    for (int c = 0; c < ds->FieldCount(); ++c) {
      const QString col = ds->FieldDef(c).Name.toUpper();
      if (skip.contains(col)) continue;
      cells.append(col + QLatin1Char('=') + Canonical(row[c]));
    }
    out.append(cells.join(QLatin1Char('|')));
  }
  return out;
}

// The first difference of two row dumps, for failure messages.
inline QString FirstDifference(const QStringList& expected, const QStringList& actual) {
  for (int i = 0; i < std::min(expected.size(), actual.size()); ++i) {
    if (expected[i] != actual[i])
      return QStringLiteral("row %1:\n  expected %2\n  actual   %3")
          .arg(i)
          .arg(expected[i], actual[i]);
  }
  if (expected.size() != actual.size())
    return QStringLiteral("%1 rows expected, %2 found").arg(expected.size()).arg(actual.size());
  return QString();
}

// Everything a target holds that an installation may change: every table's
// rows (sorted, so that no order is assumed), which tables exist, and the
// identity counters (MySQL AUTO_INCREMENT, Firebird generators). A run that
// must leave the target as it was is checked by comparing two dumps.
// `mysql` picks the catalogue queries; `con` must see committed data (a
// fresh Firebird attachment, or one whose transaction was just committed).
inline QStringList DumpDatabase(IConnection& con, bool mysql) {
  QStringList out;
  QStringList tables;
  for (const IConnection::TableEntry& t : con.Tables())
    if (t.Type == QLatin1String("TABLE")) tables.append(t.Name);
  tables.sort();
  for (const QString& table : tables) {
    out.append(QStringLiteral("TABLE ") + table);
    const QString name = mysql ? QStringLiteral("`%1`").arg(table) : table;
    const auto ds = con.Open(QStringLiteral("SELECT * FROM %1").arg(name));
    QStringList rows;
    for (const auto& row : ds->Rows()) {
      QStringList cells;
      for (int c = 0; c < ds->FieldCount(); ++c)
        cells.append(ds->FieldDef(c).Name.toUpper() + QLatin1Char('=') + Canonical(row[c]));
      rows.append(cells.join(QLatin1Char('|')));
    }
    rows.sort();
    out += rows;
  }
  const auto counters =
      mysql ? con.Open(
                  QStringLiteral("SELECT TABLE_NAME, AUTO_INCREMENT FROM information_schema.TABLES "
                                 "WHERE TABLE_SCHEMA = DATABASE() AND AUTO_INCREMENT IS NOT NULL "
                                 "ORDER BY TABLE_NAME"))
            : con.Open(QStringLiteral("SELECT TRIM(RDB$GENERATOR_NAME), 0 FROM RDB$GENERATORS "
                                      "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1"));
  for (const auto& row : counters->Rows()) {
    const QString name = row[0].ToString();
    const QString value =
        mysql ? row[1].ToString()
              : con.Open(QStringLiteral("SELECT GEN_ID(%1, 0) FROM RDB$DATABASE").arg(name))
                    ->Value(0)
                    .ToString();
    out.append(QStringLiteral("COUNTER ") + name + QLatin1Char('=') + value);
  }
  return out;
}

}  // namespace InstallTest

// Skips (fails in CI) the test function when the kind's server is away; the
// test class holds FMySQL and FFB, whether each server answered.
#define REQUIRE_KIND_SERVER(kind)                               \
  do {                                                          \
    if ((kind) == kMySQL)                                       \
      NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306"); \
    else                                                        \
      NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");   \
  } while (0)
