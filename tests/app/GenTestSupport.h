#pragma once

// Shared by the export and generation tests: source databases of the three
// kinds on the test servers (the sample pharmacy database or scratch tables),
// sessions of their own to check them, packets unpacked with bsdtar and
// chunk files read back.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "AppMiscFiles.h"
#include "ClientDataSet.h"
#include "Connections.h"
#include "DataModule.h"
#include "NompackError.h"
#include "PacketLayout.h"
#include "RunContext.h"
#include "TestEnv.h"

namespace GenTest {

enum Kind { kMySQL = 0, kFireBird = 1, kODBC = 2 };

inline const QString kFBFolder = QStringLiteral("/tmp/nompack-fb/");

inline QString KindName(int kind) {
  switch (kind) {
    case kMySQL:
      return QStringLiteral("mysql");
    case kFireBird:
      return QStringLiteral("firebird");
    default:
      return QStringLiteral("sqlite");
  }
}

// The ODBC layer reaches SQLite through this driver in every test.
inline void UseSQLiteODBCDriver() {
  qputenv("NOMPACK_MSSQL_ODBC_DRIVER", "SQLite3");
}

// Where a database of that kind and name lives: a MySQL database name, a
// Firebird file on the server, an SQLite file.
inline QString Target(int kind, const QString& name) {
  switch (kind) {
    case kMySQL:
      return name;
    case kFireBird:
      return kFBFolder + name + QStringLiteral(".fdb");
    default:
      return QDir::temp().filePath(name + QStringLiteral(".sqlite"));
  }
}

inline QString SqloledbString(const QString& file) {
  return QStringLiteral(
             "Provider=SQLOLEDB.1;Password=;Persist Security Info=True;User ID=sa;"
             "Initial Catalog=%1;Data Source=127.0.0.1;Connect Timeout=120;"
             "Application Name=Tarnwick")
      .arg(file);
}

// A session of the test's own on the database (statements of the check,
// never the data module's connections). Throws ENompackError.
inline std::unique_ptr<IConnection> Connect(int kind, const QString& target) {
  std::unique_ptr<IConnection> con;
  switch (kind) {
    case kMySQL: {
      MySQLConnectParams p;
      p.Host = QStringLiteral("127.0.0.1");
      p.UserName = QStringLiteral("root");
      p.Database = target;
      con = OpenMySQL(p);
      con->Execute(QStringLiteral("SET NAMES CP1251"));
      break;
    }
    case kFireBird:
      con = OpenFirebird(QStringLiteral("127.0.0.1:") + target, TDM::FBAttachmentParams(),
                         TDM::FBTransactionParams());
      con->StartTransaction();
      break;
    default:
      UseSQLiteODBCDriver();
      con = OpenODBC(SqloledbString(target));
      break;
  }
  return con;
}

inline bool Reachable(int kind, QString& whyNot) {
  try {
    switch (kind) {
      case kMySQL:
        Connect(kMySQL, QString());
        return true;
      case kFireBird: {
        const QString db =
            QStringLiteral("127.0.0.1:") + kFBFolder + QStringLiteral("gen_probe.fdb");
        try {
          DropFirebirdDatabase(db, TDM::FBAttachmentParams());
        } catch (const std::exception&) {
        }
        CreateFirebirdDatabase(db, TDM::FBAttachmentParams(), QStringLiteral("WIN1251"));
        DropFirebirdDatabase(db, TDM::FBAttachmentParams());
        return true;
      }
      default:
        UseSQLiteODBCDriver();
        if (ChooseODBCDriver() != QLatin1String("SQLite3")) {
          whyNot = QStringLiteral("the SQLite3 ODBC driver is not installed");
          return false;
        }
        return true;
    }
  } catch (const ENompackError& e) {
    whyNot = e.Message();
    return false;
  }
}

// Notes in `unreachable` each kind whose server cannot be reached, with the
// reason, and readies the others with prepare(kind), which returns an error
// text. The first error stops the round and is returned; empty when all went.
template <typename Prepare>
QString PrepareReachableKinds(QMap<int, QString>& unreachable, Prepare&& prepare) {
  for (int kind : {int(kMySQL), int(kFireBird), int(kODBC)}) {
    QString whyNot;
    if (!Reachable(kind, whyNot)) {
      unreachable.insert(kind, KindName(kind) + QStringLiteral(": ") + whyNot);
      continue;
    }
    const QString error = prepare(kind);
    if (!error.isEmpty()) return error;
  }
  return QString();
}

// An empty scratch database of that kind (dropped and made anew).
inline void CreateEmptyDatabase(int kind, const QString& target) {
  switch (kind) {
    case kMySQL: {
      auto admin = Connect(kMySQL, QString());
      admin->Execute(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(target));
      admin->Execute(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET cp1251").arg(target));
      break;
    }
    case kFireBird:
      try {
        DropFirebirdDatabase(QStringLiteral("127.0.0.1:") + target, TDM::FBAttachmentParams());
      } catch (const std::exception&) {
      }
      CreateFirebirdDatabase(QStringLiteral("127.0.0.1:") + target, TDM::FBAttachmentParams(),
                             QStringLiteral("WIN1251"));
      break;
    default:
      QFile::remove(target);
      break;
  }
}

// Drops a database the tests made, unless NOMPACK_KEEP_TEST_DB is set.
inline void DropDatabase(int kind, const QString& target) {
  if (qEnvironmentVariableIsSet("NOMPACK_KEEP_TEST_DB")) return;
  try {
    switch (kind) {
      case kMySQL:
        Connect(kMySQL, QString())
            ->Execute(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(target));
        break;
      case kFireBird:
        if (QFileInfo::exists(target))
          DropFirebirdDatabase(QStringLiteral("127.0.0.1:") + target, TDM::FBAttachmentParams());
        break;
      default:
        QFile::remove(target);
        break;
    }
  } catch (const std::exception&) {
  }
}

// The sample pharmacy database made afresh by the project's script; the
// script's complaint when it fails.
inline QString CreateSample(int kind, const QString& target, int scale = 1) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(QStringLiteral("bash"),
          {SourceDir() + QStringLiteral("/scripts/sample-db.sh"), KindName(kind), target,
           QStringLiteral("--scale"), QString::number(scale)});
  if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return QStringLiteral("sample-db.sh %1 %2 failed: %3")
        .arg(KindName(kind), target, QString::fromUtf8(p.readAll()));
  return QString();
}

// The window's fields for a source of that kind.
inline TRunSettings SourceSettings(int kind, const QString& target, const QString& exportFolder) {
  TRunSettings s;
  s.DataBaseType = DataBaseTypeFromIndex(kind);
  s.ExportFolder = exportFolder;
  switch (kind) {
    case kMySQL:
      s.DBName = target;
      break;
    case kFireBird:
      s.FBDBFullPath = target;
      break;
    default:
      s.DBName = target;
      s.UserName = QStringLiteral("sa");
      break;
  }
  return s;
}

// Runs a program and waits; exit code, -1 when it did not run normally.
inline int Run(const QString& program, const QStringList& args, const QString& cwd = QString(),
               QByteArray* out = nullptr, QByteArray* err = nullptr) {
  QProcess p;
  if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
  p.start(program, args);
  if (!p.waitForFinished(600000)) return -1;
  if (out) *out = p.readAllStandardOutput();
  if (err) *err = p.readAllStandardError();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The packet unpacked with a standard tool into `folder`.
inline bool UnpackWithBsdtar(const QString& packet, const QString& folder) {
  QDir(folder).removeRecursively();
  QDir().mkpath(folder);
  return Run(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), packet}, folder) == 0;
}

inline QStringList FilesIn(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Chunk files of a table in chunk order, and their row counts.
inline QStringList ChunkFiles(const QString& folder, const QString& table) {
  QStringList files = GetFileList(AddTrailingBackslash(folder), PacketLayout::ChunkFileMask(table));
  SortChunkFiles(files);
  return files;
}

inline QList<int> ChunkRowCounts(const QString& folder, const QString& table) {
  QList<int> counts;
  for (const QString& file : ChunkFiles(folder, table)) {
    TClientDataSet ds;
    ds.LoadFromFile(AddTrailingBackslash(folder) + file);
    counts.append(ds.RecordCount());
  }
  return counts;
}

// A row as comparable text: NULL stays apart from every value.
inline QString RowText(const TClientDataSet& ds, const QVector<Variant>& row) {
  QStringList cells;
  for (int i = 0; i < ds.FieldCount(); ++i) {
    const Variant& v = row.at(i);
    cells.append(ds.FieldDef(i).Name.toUpper() + QLatin1Char('=') +
                 (v.IsNull() ? QStringLiteral("<NULL>") : v.ToString()));
  }
  return cells.join(QLatin1Char('|'));
}

// The rows of all chunk files of a table, each as text, sorted.
inline QStringList ChunkRows(const QString& folder, const QString& table) {
  QStringList rows;
  for (const QString& file : ChunkFiles(folder, table)) {
    TClientDataSet ds;
    ds.LoadFromFile(AddTrailingBackslash(folder) + file);
    for (const auto& row : ds.Rows()) rows.append(RowText(ds, row));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

inline QStringList SourceRows(IConnection& con, const QString& table) {
  QStringList rows;
  auto ds = con.Open(QStringLiteral("SELECT * FROM %1").arg(table));
  for (const auto& row : ds->Rows()) rows.append(RowText(*ds, row));
  std::sort(rows.begin(), rows.end());
  return rows;
}

inline int SourceCount(IConnection& con, const QString& table) {
  auto ds = con.Open(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table));
  return ds->Value(0).ToInt32();
}

}  // namespace GenTest
