// Target cleanup against real servers: the MySQL phases (replica tables,
// documents, the descriptor's tables in reverse order, one error box per
// failed statement) and the FireBird steps (lock table and cleanup procedure,
// EXPENSE_TYPE children first, a commit per table, stop at the first failure).
#include <QTemporaryDir>
#include <QtTest>

#include "AppMiscQueries.h"
#include "Cleanup.h"
#include "DataModule.h"
#include "Identifiers.h"
#include "RecorderView.h"
#include "test_install_support.h"

using namespace InstallTest;

namespace {

const QStringList kCaptions = {QStringLiteral("Изтриване на таблици с репл.данни от обекти..."),
                               QStringLiteral("Изтриване на таблици с документи..."),
                               QStringLiteral("Изтриване на таблици с номенклатури...")};

QStringList DocumentTables() {
  return TCleanup::DocumentTables().split(QStringLiteral("\r\n"));
}

void CreateNomenclature(TScratchMySQL& db) {
  db.Exec("CREATE TABLE N_GROUP (ID INT NOT NULL PRIMARY KEY, NAME VARCHAR(20)) ENGINE=InnoDB");
  db.Exec(
      "CREATE TABLE ARTICLE (ID INT NOT NULL PRIMARY KEY, GROUP_ID INT, "
      "FOREIGN KEY (GROUP_ID) REFERENCES N_GROUP (ID)) ENGINE=InnoDB");
  db.Exec("INSERT INTO N_GROUP VALUES (1, 'а'), (2, 'б')");
  db.Exec("INSERT INTO ARTICLE VALUES (1, 1), (2, 2)");
}

void CreateFBSchema(TScratchFB& db, bool withProcedure = true) {
  db.Exec("CREATE TABLE ARTICLE_CENTRAL_LOCK (ID INTEGER NOT NULL PRIMARY KEY, NOTE VARCHAR(20))");
  db.Exec("CREATE TABLE DOC1 (ID INTEGER NOT NULL PRIMARY KEY)");
  db.Exec("CREATE TABLE N_GROUP (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
  db.Exec(
      "CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, GROUP_ID INTEGER REFERENCES "
      "N_GROUP (ID))");
  db.Exec(
      "CREATE TABLE EXPENSE_TYPE (ID INTEGER NOT NULL PRIMARY KEY, PARENT_ID INTEGER "
      "REFERENCES EXPENSE_TYPE (ID), NAME VARCHAR(20))");
  if (withProcedure) db.Exec("CREATE PROCEDURE SP_CLEANUP_DB AS BEGIN DELETE FROM DOC1; END");
  db.Exec("INSERT INTO ARTICLE_CENTRAL_LOCK VALUES (1, 'x')");
  db.Exec("INSERT INTO DOC1 VALUES (1)");
  db.Exec("INSERT INTO N_GROUP VALUES (1, 'а')");
  db.Exec("INSERT INTO N_GROUP VALUES (2, 'б')");
  db.Exec("INSERT INTO ARTICLE VALUES (1, 1)");
  db.Exec("INSERT INTO ARTICLE VALUES (2, 2)");
  db.Exec("INSERT INTO EXPENSE_TYPE VALUES (1, NULL, 'Наем')");
  db.Exec("INSERT INTO EXPENSE_TYPE VALUES (2, NULL, 'Заплати')");
  db.Exec("INSERT INTO EXPENSE_TYPE VALUES (3, 1, 'Офис')");
  db.Exec("INSERT INTO EXPENSE_TYPE VALUES (4, 2, 'Бонуси')");
}

}  // namespace

class TestCleanup : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    FMySQL = MySQLReachable();
    FFB = FBReachable();
  }

  // The clearing list: 26 distinct plain names, every referencing table
  // emptied before the one it references (a wrong order is refused by a
  // target with the references), and nothing of the list forgotten.
  void documentTables() {
    const QStringList tables = DocumentTables();
    QCOMPARE(tables.size(), 26);
    QCOMPARE(QSet<QString>(tables.cbegin(), tables.cend()).size(), 26);
    for (const QString& t : tables) QVERIFY2(IsPlainIdentifier(t), qPrintable(t));
    const QMap<QString, QString> parents = DocumentParents();
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
      QVERIFY2(tables.contains(it.key()) && tables.contains(it.value()), qPrintable(it.key()));
      QVERIFY2(tables.indexOf(it.key()) < tables.indexOf(it.value()), qPrintable(it.key()));
    }
    QStringList expected = DocumentTableNames();
    QStringList actual = tables;
    expected.sort();
    actual.sort();
    QCOMPARE(actual, expected);
  }

  void isReplicaTableName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("replica");
    QTest::newRow("digits after the last _") << "SALE_12" << true;
    QTest::newRow("only the last part counts") << "ARTICLE_5_7" << true;
    QTest::newRow("words") << "SALE_ITEM" << false;
    QTest::newRow("digits and a letter") << "STOCK_12A" << false;
    QTest::newRow("no underscore") << "PARCEL" << false;
    QTest::newRow("ends with _") << "TEMP_" << true;
    QTest::newRow("only _ and digits") << "_42" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("digits without _") << "SALE12" << false;
    QTest::newRow("digits before the last _") << "SALE_12_X" << false;
    QTest::newRow("Cyrillic digits-like letters") << "SALE_１２" << false;
  }
  void isReplicaTableName() {
    QFETCH(QString, name);
    QFETCH(bool, replica);
    QCOMPARE(TCleanup::IsReplicaTableName(name), replica);
  }

  // Replica tables (and a replica-named view, which the server refuses to
  // drop as a table) go, the look-alike stays, documents and the listed
  // tables are emptied; only the view gives an error box.
  void mysqlFullCleanup() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(QStringLiteral("nompack_t_cleanup"));
    CreateDocuments(db);
    CreateNomenclature(db);
    for (const QString& t : {QStringLiteral("SALE_12"), QStringLiteral("STOCK_3"),
                             QStringLiteral("TEMP_"), QStringLiteral("STOCK_12A")}) {
      db.Exec(QStringLiteral("CREATE TABLE %1 (ID INT)").arg(t));
      db.Exec(QStringLiteral("INSERT INTO %1 VALUES (1)").arg(t));
    }
    db.Exec("CREATE VIEW V_7 AS SELECT ID FROM STOCK_12A");
    QTemporaryDir dir;
    WriteDescriptor(dir.path() + "/", {"{2.1.0.15}", "N_GROUP", "ARTICLE", "PARCEL"});

    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TCleanup cleanup(dm, view);
    QString error = "untouched";
    QVERIFY(cleanup.PrepareMySQLTarget(dir.path() + "/tables.descr", error));
    QCOMPARE(error, QString("untouched"));

    QCOMPARE(view.Errors.size(), 1);
    QVERIFY2(view.Errors[0].contains("V_7"), qPrintable(view.Errors[0]));
    for (const char* t : {"SALE_12", "STOCK_3", "TEMP_"})
      QVERIFY2(!db.TableExists(t), qPrintable(t));
    QVERIFY(db.TableExists("STOCK_12A"));
    QCOMPARE(db.Count("STOCK_12A"), 1);
    QVERIFY(db.TableExists("V_7"));
    for (const QString& t : DocumentTables()) QVERIFY2(db.Count(t) == 0, qPrintable(t));
    QCOMPARE(db.Count("N_GROUP"), 0);
    QCOMPARE(db.Count("ARTICLE"), 0);
    QCOMPARE(view.Log, kCaptions);
    QCOMPARE(view.InstallBar, 0);
  }

  // Every document table missing: 26 boxes in the list's order, and the
  // cleanup still succeeds.
  void mysqlMissingDocuments() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(QStringLiteral("nompack_t_cleanup"));
    CreateNomenclature(db);
    QTemporaryDir dir;
    WriteDescriptor(dir.path() + "/", {"{2.1.0.15}", "N_GROUP", "ARTICLE"});
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    QString error;
    QVERIFY(TCleanup(dm, view).PrepareMySQLTarget(dir.path() + "/tables.descr", error));
    const QStringList docs = DocumentTables();
    QCOMPARE(view.Errors.size(), 26);
    for (int i = 0; i < 26; ++i)
      QVERIFY2(view.Errors[i].contains("." + docs[i] + "'"), qPrintable(view.Errors[i]));
    QCOMPARE(db.Count("ARTICLE"), 0);
    QCOMPARE(view.Log, kCaptions);
  }

  void mysqlDescriptorCases_data() {
    QTest::addColumn<QStringList>("descriptor");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<int>("groupRows");
    QTest::addColumn<int>("articleRows");
    QTest::addColumn<int>("boxes");
    QTest::newRow("empty file") << QStringList() << false << "Празен файл с описание!" << 2 << 2
                                << 0;
    QTest::newRow("version only") << QStringList{"{2.1.0.15}"} << true << "" << 2 << 2 << 0;
    // Without a version line the first line is a table too.
    QTest::newRow("first line without {")
        << QStringList{"N_GROUP", "ARTICLE"} << true << "" << 0 << 0 << 0;
    // Names that would change the statement never reach the server; an
    // empty line neither. Each gets its box and the next line follows.
    QTest::newRow("crafted and empty names")
        << QStringList{"{1}", "N_GROUP", "STOCK_12A WHERE 1=1", "", "ARTICLE"} << true << "" << 0
        << 0 << 2;
  }
  void mysqlDescriptorCases() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    QFETCH(QStringList, descriptor);
    QFETCH(bool, result);
    QFETCH(QString, errorText);
    QFETCH(int, groupRows);
    QFETCH(int, articleRows);
    QFETCH(int, boxes);
    TScratchMySQL db(QStringLiteral("nompack_t_cleanup"));
    CreateDocuments(db);
    CreateNomenclature(db);
    db.Exec("CREATE TABLE SALE_12 (ID INT)");
    db.Exec("CREATE TABLE STOCK_12A (ID INT)");
    db.Exec("INSERT INTO STOCK_12A VALUES (1)");
    QTemporaryDir dir;
    WriteDescriptor(dir.path() + "/", descriptor);
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    QString error;
    QCOMPARE(TCleanup(dm, view).PrepareMySQLTarget(dir.path() + "/tables.descr", error), result);
    QCOMPARE(error, errorText);
    QCOMPARE(view.Errors.size(), boxes);
    for (const QString& e : view.Errors)
      QVERIFY2(e.startsWith("Невалидно име на таблица"), qPrintable(e));
    // The first two phases ran whatever the descriptor held.
    QVERIFY(!db.TableExists("SALE_12"));
    QCOMPARE(db.Count("DENIAL"), 0);
    QCOMPARE(db.Count("STOCK_12A"), 1);
    QCOMPARE(db.Count("N_GROUP"), groupRows);
    QCOMPARE(db.Count("ARTICLE"), articleRows);
    QCOMPARE(view.Log, kCaptions);
  }

  void mysqlMissingDescriptor() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(QStringLiteral("nompack_t_cleanup"));
    CreateDocuments(db);
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    QString error;
    QVERIFY(!TCleanup(dm, view).PrepareMySQLTarget("/nonexistent/tables.descr", error));
    QVERIFY2(error.contains("/nonexistent/tables.descr"), qPrintable(error));
    QCOMPARE(db.Count("DENIAL"), 0);
  }

  // FireBird -------------------------------------------------------------

  void fbPrepareTarget() {
    NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    TScratchFB db(QStringLiteral("inst_cleanup"));
    CreateFBSchema(db);
    RecorderView view;
    TDM dm(view);
    QVERIFY(dm.FBConnect(db.Database()));
    QString error = "untouched";
    QVERIFY(TCleanup(dm, view).PrepareFBTarget(error));
    QCOMPARE(error, QString("untouched"));
    // Committed: another attachment sees it.
    db.Reattach();
    QCOMPARE(db.Count("ARTICLE_CENTRAL_LOCK"), 0);
    QCOMPARE(db.Count("DOC1"), 0);
    QVERIFY(view.Calls.isEmpty());
  }

  // Without the procedure the lock table's deletion is undone too.
  void fbPrepareTargetFails() {
    NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    TScratchFB db(QStringLiteral("inst_cleanup"));
    CreateFBSchema(db, false);
    RecorderView view;
    TDM dm(view);
    QVERIFY(dm.FBConnect(db.Database()));
    QString error;
    QVERIFY(!TCleanup(dm, view).PrepareFBTarget(error));
    QVERIFY2(error.contains("SP_CLEANUP_DB"), qPrintable(error));
    QCOMPARE(OpenFBQuery(dm, "SELECT COUNT(*) C FROM ARTICLE_CENTRAL_LOCK")->Fields(0).AsInteger(),
             1);
    dm.FBDisconnect();
    db.Reattach();
    QCOMPARE(db.Count("ARTICLE_CENTRAL_LOCK"), 1);
    QVERIFY(view.Calls.isEmpty());
  }

  void fbClearNomenclature_data() {
    QTest::addColumn<QStringList>("descriptor");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("errorPart");
    QTest::addColumn<int>("groupRows");
    QTest::addColumn<int>("articleRows");
    QTest::addColumn<int>("expenseRows");
    const QStringList all = {"{2.1.0.15}", "N_GROUP", "ARTICLE", "EXPENSE_TYPE"};
    // Reverse order (ARTICLE before the group it references) and the
    // children of EXPENSE_TYPE before their parents.
    QTest::newRow("all") << all << true << "" << 0 << 0 << 0;
    QTest::newRow("version only") << QStringList{"{2.1.0.15}"} << true << "" << 2 << 2 << 4;
    QTest::newRow("first line without {")
        << QStringList{"N_GROUP", "ARTICLE"} << true << "" << 0 << 0 << 4;
    QTest::newRow("empty file") << QStringList() << false << "Празен файл с описание!" << 2 << 2
                                << 4;
    // Stops at the first failing statement: the table after it in the
    // descriptor is cleared (and committed) before, the one before it not.
    QTest::newRow("missing table") << QStringList{"{1}", "N_GROUP", "NO_SUCH_TABLE", "ARTICLE"}
                                   << false << "NO_SUCH_TABLE" << 2 << 0 << 4;
    // Another letter case gets no child-row delete first: the parents are
    // still referenced.
    QTest::newRow("expense_type in lower case")
        << QStringList{"{1}", "expense_type"} << false << "FOREIGN KEY" << 2 << 2 << 4;
    QTest::newRow("crafted name") << QStringList{"{1}", "N_GROUP", "ARTICLE WHERE 1=1"} << false
                                  << "Невалидно име на таблица \"ARTICLE WHERE 1=1\"" << 2 << 2
                                  << 4;
    QTest::newRow("empty line") << QStringList{"{1}", "N_GROUP", "", "ARTICLE"} << false
                                << "Невалидно име на таблица \"\"" << 2 << 0 << 4;
  }
  void fbClearNomenclature() {
    NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    QFETCH(QStringList, descriptor);
    QFETCH(bool, result);
    QFETCH(QString, errorPart);
    QFETCH(int, groupRows);
    QFETCH(int, articleRows);
    QFETCH(int, expenseRows);
    TScratchFB db(QStringLiteral("inst_cleanup"));
    CreateFBSchema(db);
    QTemporaryDir dir;
    WriteDescriptor(dir.path() + "/", descriptor);
    RecorderView view;
    TDM dm(view);
    QVERIFY(dm.FBConnect(db.Database()));
    QString error;
    QCOMPARE(TCleanup(dm, view).ClearFBNomenclature(dir.path() + "/tables.descr", error), result);
    if (errorPart.isEmpty()) {
      QCOMPARE(error, QString());
    } else {
      QVERIFY2(error.contains(errorPart), qPrintable(error));
    }
    // What another attachment sees is what was committed table by table; the
    // failing statement's own work stays pending in the open transaction.
    db.Reattach();
    QCOMPARE(db.Count("N_GROUP"), groupRows);
    QCOMPARE(db.Count("ARTICLE"), articleRows);
    QCOMPARE(db.Count("EXPENSE_TYPE"), expenseRows);
    QVERIFY(view.Calls.isEmpty());
  }

 private:
  bool FMySQL = false;
  bool FFB = false;
};

QTEST_GUILESS_MAIN(TestCleanup)
#include "test_cleanup.moc"
