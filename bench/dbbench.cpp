// Rows per second of the database layer's reads and inserts on the test
// servers: the export's page-by-page read against one streaming cursor, and
// the loader's one insert per row against batches. Not a test: it prints
// the best of several runs, since other builds share the machine.
//
//   nompack-dbbench [rows] [repeats]
//
// Works in its own MySQL database and Firebird file, dropped at the end.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <functional>

#include "ClientDataSet.h"
#include "Connections.h"
#include "NompackError.h"

namespace {

const QString kMySQLDatabase = QStringLiteral("nompack_dbbench");
const QString kFBFile = QStringLiteral("/tmp/nompack-fb/dbbench.fdb");
const QString kFBDatabase = QStringLiteral("127.0.0.1:") + kFBFile;
const QStringList kDpb = {QStringLiteral("user_name=sysdba"), QStringLiteral("password=pondglass"),
                          QStringLiteral("lc_ctype=WIN1251")};
const QStringList kTpb = {QStringLiteral("read_committed"), QStringLiteral("rec_version"),
                          QStringLiteral("wait")};

MySQLConnectParams MySQLParams(const QString& database) {
  MySQLConnectParams p;
  p.Host = QStringLiteral("127.0.0.1");
  p.UserName = QStringLiteral("root");
  p.Database = database;
  return p;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double Wall = 1e99;
  double Cpu = 0;
};

// The best wall time of `repeats` runs, with the client's CPU time of that run.
Timing Best(int repeats, const std::function<void()>& prepare, const std::function<qint64()>& run,
            qint64& rows) {
  Timing best;
  for (int i = 0; i < repeats; ++i) {
    prepare();
    QElapsedTimer timer;
    const double cpu0 = CpuSeconds();
    timer.start();
    rows = run();
    const double wall = timer.nsecsElapsed() / 1e9;
    if (wall < best.Wall) best = {wall, CpuSeconds() - cpu0};
  }
  return best;
}

void Print(const char* server, const QString& what, qint64 rows, const Timing& t) {
  std::printf("%-9s %-44s %7lld rows %8.3f s %9.0f rows/s  client CPU %5.1f%%\n", server,
              qPrintable(what), static_cast<long long>(rows), t.Wall, rows / t.Wall,
              100.0 * t.Cpu / t.Wall);
  std::fflush(stdout);
}

TParams RowParams(int id) {
  return {
      {QStringLiteral("ID"), ftInteger, Variant::FromInt(id)},
      {QStringLiteral("NAME"), ftString,
       Variant::FromString(QStringLiteral("Парацетамол 500 мг таблетки x20 №%1").arg(id))},
      {QStringLiteral("CODE"), ftString, Variant::FromString(QStringLiteral("A%1").arg(id * 7))},
      {QStringLiteral("PRICE"), ftBCD,
       Variant::FromDecimal(
           QStringLiteral("%1.%2").arg(id % 1000).arg(id % 100, 2, 10, QLatin1Char('0')))},
      {QStringLiteral("QTY"), ftInteger, Variant::FromInt(id % 37)},
      {QStringLiteral("VALID_TO"), ftDateTime,
       Variant::FromDateTime(
           DateTimeConv::Compose(QDate(2027, 1 + id % 12, 1 + id % 28), QTime(0, 0)))},
      {QStringLiteral("NOTE"), ftString,
       id % 3 ? Variant::Null()
              : Variant::FromString(QStringLiteral("Съхранява се под 25 °C, далеч от деца"))},
  };
}

const QStringList kColumns = {QStringLiteral("ID"),   QStringLiteral("NAME"),
                              QStringLiteral("CODE"), QStringLiteral("PRICE"),
                              QStringLiteral("QTY"),  QStringLiteral("VALID_TO"),
                              QStringLiteral("NOTE")};

QString CreateTable(const QString& name, bool mysql) {
  return QStringLiteral(
             "CREATE TABLE %1 (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(100) NOT NULL, "
             "CODE VARCHAR(20), PRICE NUMERIC(15,2), QTY INTEGER, VALID_TO %2, NOTE "
             "VARCHAR(255))%3")
      .arg(name, mysql ? QStringLiteral("DATETIME") : QStringLiteral("TIMESTAMP"),
           mysql ? QStringLiteral(" ENGINE=InnoDB DEFAULT CHARSET=cp1251") : QString());
}

// Inserts `rows` rows in batches of `batchRows` (1: today's one prepared
// insert per row) inside one transaction, or each row on its own.
qint64 Insert(IConnection& con, bool mysql, const QString& table, int rows, int batchRows,
              bool oneTransaction) {
  if (mysql && oneTransaction) con.Execute(QStringLiteral("START TRANSACTION"));
  if (batchRows <= 1) {
    const auto insert = con.Prepare(
        QStringLiteral("INSERT INTO %1 (%2) VALUES (:%3)")
            .arg(table, kColumns.join(QStringLiteral(", ")), kColumns.join(QStringLiteral(", :"))));
    for (int id = 1; id <= rows; ++id) {
      insert->Execute(RowParams(id));
      if (!oneTransaction && !mysql) con.CommitRetaining();
    }
  } else {
    const auto batch = con.PrepareBatchInsert(table, kColumns, batchRows);
    QVector<TParams> pending;
    for (int id = 1; id <= rows; ++id) {
      pending.append(RowParams(id));
      if (pending.size() == batch->MaxBatchRows()) {
        batch->ExecuteBatch(pending);
        pending.clear();
      }
    }
    batch->ExecuteBatch(pending);
  }
  if (mysql && oneTransaction) con.Execute(QStringLiteral("COMMIT"));
  if (!mysql) con.CommitRetaining();
  return rows;
}

qint64 ReadPages(IConnection& con, bool mysql, const QString& table) {
  qint64 total = 0;
  for (int offset = 0;; offset += 50) {
    const QString sql =
        mysql ? QStringLiteral("SELECT T.* FROM %1 T LIMIT %2, 50;").arg(table).arg(offset)
              : QStringLiteral("SELECT FIRST 50 SKIP %2 T.* FROM %1 T").arg(table).arg(offset);
    const auto ds = con.Open(sql);
    if (ds->IsEmpty()) break;
    total += ds->RecordCount();
  }
  return total;
}

qint64 ReadCursor(IConnection& con, const QString& table) {
  qint64 total = 0;
  con.BeginReadSnapshot();
  {
    auto cursor = con.OpenCursor(QStringLiteral("SELECT T.* FROM %1 T").arg(table));
    for (;;) {
      const auto ds = cursor->FetchDataSet(50);
      if (ds->IsEmpty()) break;
      total += ds->RecordCount();
    }
  }
  con.EndReadSnapshot();
  return total;
}

void RunServer(const char* name, IConnection& con, bool mysql, int rows, int repeats) {
  auto recreate = [&](const QString& table) {
    try {
      con.Execute(QStringLiteral("DROP TABLE ") + table);
    } catch (const ENompackError&) {
    }
    if (!mysql) con.CommitRetaining();
    con.Execute(CreateTable(table, mysql));
    if (!mysql) con.CommitRetaining();
  };
  qint64 done = 0;
  // Inserts, each variant into an empty table.
  struct Variant_ {
    int Batch;
    bool OneTransaction;
  };
  const Variant_ variants[] = {{1, false}, {1, true},   {10, true},
                               {50, true}, {100, true}, {500, true}};
  for (const auto& v : variants) {
    const int n = v.Batch == 1 && !v.OneTransaction ? qMin(rows, 2000) : rows;
    const Timing t = Best(
        repeats, [&] { recreate(QStringLiteral("BENCH_INS")); },
        [&] {
          return Insert(con, mysql, QStringLiteral("BENCH_INS"), n, v.Batch, v.OneTransaction);
        },
        done);
    Print(name,
          v.Batch == 1 ? QStringLiteral("insert per row, %1")
                             .arg(v.OneTransaction ? QStringLiteral("one transaction")
                                                   : QStringLiteral("each committed"))
                       : QStringLiteral("insert batches of %1, one transaction").arg(v.Batch),
          done, t);
  }
  // Reads of one table of `rows` rows.
  recreate(QStringLiteral("BENCH_READ"));
  Insert(con, mysql, QStringLiteral("BENCH_READ"), rows, 100, true);
  const Timing cursor = Best(
      repeats, [] {}, [&] { return ReadCursor(con, QStringLiteral("BENCH_READ")); }, done);
  Print(name, QStringLiteral("read: one cursor, 50-row datasets"), done, cursor);
  const Timing pages = Best(
      qMin(repeats, 2), [] {}, [&] { return ReadPages(con, mysql, QStringLiteral("BENCH_READ")); },
      done);
  Print(name, QStringLiteral("read: a statement per 50-row page"), done, pages);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 50000;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  try {
    {
      auto admin = OpenMySQL(MySQLParams(QString()));
      const auto settings = admin->Open(
          QStringLiteral("SELECT @@innodb_flush_log_at_trx_commit, @@sync_binlog, @@version"));
      std::printf("MySQL: innodb_flush_log_at_trx_commit=%s sync_binlog=%s version %s\n",
                  qPrintable(settings->Value(0).ToString()),
                  qPrintable(settings->Value(1).ToString()),
                  qPrintable(settings->Value(2).ToString()));
      admin->Execute(QStringLiteral("DROP DATABASE IF EXISTS ") + kMySQLDatabase);
      admin->Execute(QStringLiteral("CREATE DATABASE %1 CHARACTER SET cp1251").arg(kMySQLDatabase));
      auto con = OpenMySQL(MySQLParams(kMySQLDatabase));
      con->Execute(QStringLiteral("SET NAMES CP1251;"));
      RunServer("MySQL", *con, true, rows, repeats);
      con->Close();
      admin->Execute(QStringLiteral("DROP DATABASE IF EXISTS ") + kMySQLDatabase);
    }
    {
      if (QFile::exists(kFBFile)) DropFirebirdDatabase(kFBDatabase, kDpb);
      CreateFirebirdDatabase(kFBDatabase, kDpb, QStringLiteral("WIN1251"));
      auto con = OpenFirebird(kFBDatabase, kDpb, kTpb);
      con->StartTransaction();
      RunServer("Firebird", *con, false, rows, repeats);
      con->Close();
      DropFirebirdDatabase(kFBDatabase, kDpb);
    }
  } catch (const ENompackError& e) {
    std::fprintf(stderr, "%s\n", qPrintable(e.FullText()));
    return 1;
  }
  return 0;
}
