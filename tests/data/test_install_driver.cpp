// The install driver on both back ends: descriptor order, version line or
// none, tables without chunk files, chunk order 1..12, and a bad chunk in
// the third table.
#include <QTemporaryDir>
#include <QtTest>

#include "AppMiscQueries.h"
#include "DataModule.h"
#include "InstallDriver.h"
#include "RecorderView.h"
#include "test_install_support.h"

using namespace InstallTest;

namespace {

const QString kStart = QStringLiteral("Зареждане на данни за номенклатури...");
const QString kTablePrefix = QStringLiteral("Зареждане на данни за таблица ");

const QStringList kDDL = {
    "CREATE TABLE N_NZOK_GROUP (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))",
    "CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))",
    "CREATE TABLE SHELF (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))",
    "CREATE TABLE EMPTY_T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))"};

void WriteTable(const QString& folder, const QString& table, int firstId, int count,
                int chunkNo = 1) {
  QVector<QVector<Variant>> rows;
  for (int id = firstId; id < firstId + count; ++id)
    rows.append({I(id), S(table.toLower() + QString::number(id))});
  WriteChunk(folder, table, chunkNo, {Field("ID", ftInteger), Field("NAME", ftString, 20)}, rows);
}

// The tables in the order their rows were reported.
QStringList LoadedTables(const RecorderView& view) {
  QStringList tables;
  for (const auto& call : view.CallsOf("install")) {
    if (!call.Text.startsWith(kTablePrefix)) continue;
    const QString table = call.Text.mid(kTablePrefix.size());
    if (tables.isEmpty() || tables.last() != table) tables.append(table);
  }
  return tables;
}

// The scratch database of one back end with kDDL run on it; it outlives the
// data module's attachments to it.
struct TScratchTarget {
  std::unique_ptr<TScratchMySQL> My;
  std::unique_ptr<TScratchFB> FB;

  // Makes the database and attaches the data module (the test fails when it
  // cannot).
  void Open(bool firebird, TDM& dm) {
    if (firebird) {
      FB = std::make_unique<TScratchFB>("inst_driver");
      for (const QString& ddl : kDDL) FB->Exec(ddl);
      QVERIFY(dm.FBConnect(FB->Database()));
    } else {
      My = std::make_unique<TScratchMySQL>("nompack_t_driver");
      for (const QString& ddl : kDDL) My->Exec(ddl);
      QCOMPARE(My->ConnectedBy(dm), QString());
    }
  }
  bool Install(TInstallDriver& driver, const QString& folder, QString& error) {
    return FB ? driver.InstallFBData(folder, folder + "tables.descr", error)
              : driver.InstallMySQLData(folder, folder + "tables.descr", error);
  }
  // A fresh attachment on Firebird: what the per-table commits made visible.
  void SeeCommitted() {
    if (FB) FB->Reattach();
  }
  int Count(const QString& table) { return FB ? FB->Count(table) : My->Count(table); }
};

}  // namespace

class TestInstallDriver : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    FMySQL = MySQLReachable();
    FFB = FBReachable();
  }

  void descriptorCases_data() {
    QTest::addColumn<bool>("firebird");
    QTest::addColumn<QStringList>("descriptor");
    QTest::addColumn<QStringList>("loaded");
    for (bool fb : {false, true}) {
      const char* kind = fb ? "FireBird: " : "MySQL: ";
      QTest::addRow("%sversion line, two tables", kind)
          << fb << QStringList{"{2.1.0.15}", "N_NZOK_GROUP", "ARTICLE"}
          << QStringList{"N_NZOK_GROUP", "ARTICLE"};
      QTest::addRow("%sno version line", kind)
          << fb << QStringList{"ARTICLE", "N_NZOK_GROUP"} << QStringList{"ARTICLE", "N_NZOK_GROUP"};
      // A listed table without chunk files loads nothing; the walk goes on.
      QTest::addRow("%stable without chunk files", kind)
          << fb << QStringList{"{1}", "EMPTY_T", "SHELF"} << QStringList{"SHELF"};
    }
  }
  void descriptorCases() {
    QFETCH(bool, firebird);
    QFETCH(QStringList, descriptor);
    QFETCH(QStringList, loaded);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    WriteTable(folder, "N_NZOK_GROUP", 1, 3);
    WriteTable(folder, "ARTICLE", 1, 5);
    WriteTable(folder, "SHELF", 1, 2);
    WriteDescriptor(folder, descriptor);
    TScratchTarget target;
    RecorderView view;
    TDM dm(view);
    if (firebird)
      NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    else
      NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    target.Open(firebird, dm);
    if (QTest::currentTestFailed()) return;
    TInstallDriver driver(dm, view);
    QString error = "stale";
    const bool ok = target.Install(driver, folder, error);
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(error, QString());
    QCOMPARE(LoadedTables(view), loaded);
    QCOMPARE(view.Log, QStringList({kStart, "..."}));
    QCOMPARE(view.InstallBar, 0);
    const QMap<QString, int> sizes = {
        {"N_NZOK_GROUP", 3}, {"ARTICLE", 5}, {"SHELF", 2}, {"EMPTY_T", 0}};
    target.SeeCommitted();
    for (auto it = sizes.cbegin(); it != sizes.cend(); ++it) {
      const bool listed = descriptor.contains(it.key());
      QCOMPARE(target.Count(it.key()), listed ? it.value() : 0);
    }
  }

  // Files listed 1, 10, 11, 12, 2, ..., 9 load as 1..12: the rows get their
  // sequence numbers in that order.
  void chunkOrder() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db("nompack_t_driver");
    db.Exec(
        "CREATE TABLE ARTICLE (SEQ INT NOT NULL AUTO_INCREMENT PRIMARY KEY, ID INT, NAME "
        "VARCHAR(20))");
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    for (int chunk = 1; chunk <= 12; ++chunk) WriteTable(folder, "ARTICLE", chunk, 1, chunk);
    WriteDescriptor(folder, {"{1}", "ARTICLE"});
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TInstallDriver driver(dm, view);
    QString error;
    QVERIFY2(driver.InstallMySQLData(folder, folder + "tables.descr", error), qPrintable(error));
    const auto ds = db.Con().Open("SELECT ID FROM ARTICLE ORDER BY SEQ");
    QStringList ids;
    for (const auto& row : ds->Rows()) ids.append(row[0].ToString());
    QCOMPARE(ids, QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}));
  }

  // The third table's chunk is no data packet: the two before stay loaded
  // (committed on FireBird), the reader's message is the error text, and
  // the log has no final "...".
  void badChunkInThirdTable_data() {
    QTest::addColumn<bool>("firebird");
    QTest::newRow("MySQL") << false;
    QTest::newRow("FireBird") << true;
  }
  void badChunkInThirdTable() {
    QFETCH(bool, firebird);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    WriteTable(folder, "N_NZOK_GROUP", 1, 3);
    WriteTable(folder, "ARTICLE", 1, 5);
    WriteText(folder + "SHELF[1].xml", "<?xml version=\"1.0\"?><DATAPACKET><METADATA>");
    WriteDescriptor(folder, {"{1}", "N_NZOK_GROUP", "ARTICLE", "SHELF", "EMPTY_T"});
    TScratchTarget target;
    RecorderView view;
    TDM dm(view);
    if (firebird)
      NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    else
      NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    target.Open(firebird, dm);
    if (QTest::currentTestFailed()) return;
    TInstallDriver driver(dm, view);
    QString error;
    const bool ok = target.Install(driver, folder, error);
    QVERIFY(!ok);
    QVERIFY2(error.contains("SHELF[1].xml"), qPrintable(error));
    QCOMPARE(view.Log, QStringList({kStart}));
    target.SeeCommitted();
    QCOMPARE(target.Count("N_NZOK_GROUP"), 3);
    QCOMPARE(target.Count("ARTICLE"), 5);
  }

  void emptyDescriptor() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db("nompack_t_driver");
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    WriteDescriptor(folder, {});
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TInstallDriver driver(dm, view);
    QString error;
    QVERIFY(!driver.InstallMySQLData(folder, folder + "tables.descr", error));
    QCOMPARE(error, QString("Празен файл с описание!"));
    QCOMPARE(view.Log, QStringList({kStart}));
  }

 private:
  bool FMySQL = false;
  bool FFB = false;
};

QTEST_GUILESS_MAIN(TestInstallDriver)
#include "test_install_driver.moc"
