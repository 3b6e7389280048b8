// The row loader, column reconciliation and identity reset against real
// MariaDB and Firebird targets: per-row progress, refused rows (one log line,
// nothing else lost), PHARM_ID, NULLs, values that do not fit, 64-bit and
// exact decimal values, added columns and identity counters.
#include <QTemporaryDir>
#include <QtTest>

#include "AppMiscQueries.h"
#include "ColumnReconciliation.h"
#include "DataModule.h"
#include "RecorderView.h"
#include "RowLoader.h"
#include "test_install_support.h"

using namespace InstallTest;

namespace {

const QString kMySQLDb = QStringLiteral("nompack_t_loader");

QVector<TFieldDef> ArticleFields() {
  return {Field("ID", ftInteger), Field("NAME", ftString, 20), Field("PRICE", ftBCD, 2, 15)};
}

// `count` rows with IDs from `firstId`: NAME "Име <id>", PRICE <id>.25.
QVector<QVector<Variant>> ArticleRows(int firstId, int count) {
  QVector<QVector<Variant>> rows;
  for (int id = firstId; id < firstId + count; ++id)
    rows.append({I(id), S(QStringLiteral("Име %1").arg(id)),
                 Variant::FromDecimal(QStringLiteral("%1.25").arg(id))});
  return rows;
}

QStringList Ids(IConnection& con, const QString& table) {
  QStringList ids;
  const auto ds = con.Open(QStringLiteral("SELECT ID FROM %1 ORDER BY ID").arg(table));
  for (const auto& row : ds->Rows()) ids.append(row[0].ToString());
  return ids;
}

QStringList Range(int from, int to, QList<int> except = {}) {
  QStringList ids;
  for (int i = from; i <= to; ++i)
    if (!except.contains(i)) ids.append(QString::number(i));
  return ids;
}

// The rows as ARTICLE chunks of 50 rows in the folder; their names, in order.
QStringList WriteArticleChunks(const QString& folder, const QVector<QVector<Variant>>& rows) {
  QStringList files;
  for (int first = 0, chunkNo = 1; first < rows.size(); first += 50, ++chunkNo) {
    WriteChunk(folder, "ARTICLE", chunkNo, ArticleFields(), rows.mid(first, 50));
    files.append(QString("ARTICLE[%1].xml").arg(chunkNo));
  }
  return files;
}

// ARTICLE rows 1..rows as chunks, NAME left NULL (which the target
// refuses) in the rows of the `refused` IDs; the chunks' names, in order.
QStringList WriteRefusingArticleChunks(const QString& folder, int rows, const QList<int>& refused) {
  auto all = ArticleRows(1, rows);
  for (int id : refused) all[id - 1][1] = Null();
  return WriteArticleChunks(folder, all);
}

// Empty when the log holds exactly one refusal line for each of the
// `refused` rows (as WriteRefusingArticleChunks makes them), in order; else
// what differs.
QString RefusalLogMismatch(const QStringList& log, const QList<int>& refused) {
  if (log.size() != refused.size())
    return QString("%1 log lines for %2 refused rows").arg(log.size()).arg(refused.size());
  for (int i = 0; i < refused.size(); ++i) {
    const QString suffix = QString(" table: ARTICLE> %1  %1.25 ").arg(refused[i]);
    if (!log[i].endsWith(suffix)) return log[i];
  }
  return QString();
}

// The test server of the kind, or the test skips (fails on CI).
#define REQUIRE_ARTICLE_SERVER(firebird)                        \
  do {                                                          \
    if (firebird)                                               \
      NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");   \
    else                                                        \
      NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306"); \
  } while (0)

// An empty ARTICLE table (NAME required) in a scratch database of either
// kind, the chunk folder, and a recorder with an attachment to the table;
// the attachment goes before the scratch database.
struct TArticleTarget {
  TArticleTarget(bool firebird, const QString& folder) : Firebird(firebird), Folder(folder) {}
  // Makes the table and attaches; the error, empty when done.
  QString Open() {
    const QString create =
        "CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) NOT NULL, "
        "PRICE NUMERIC(15,2))";
    if (Firebird) {
      Fb = std::make_unique<TScratchFB>("inst_loader");
      Fb->Exec(create);
      return DM.FBConnect(Fb->Database()) ? QString() : QStringLiteral("no Firebird attachment");
    }
    My = std::make_unique<TScratchMySQL>(kMySQLDb);
    My->Exec(create);
    return My->ConnectedBy(DM);
  }
  // The chunks through the kind's loader.
  void Load(TRowLoader& loader, QStringList& files, int knownTotalRows = -1) {
    if (Firebird)
      loader.LoadFBChunks(Folder, files, "ARTICLE", knownTotalRows);
    else
      loader.LoadMySQLChunks(Folder, files, "ARTICLE", knownTotalRows);
  }

  const bool Firebird;
  const QString Folder;
  std::unique_ptr<TScratchMySQL> My;
  std::unique_ptr<TScratchFB> Fb;
  RecorderView View;
  TDM DM{View};
};

}  // namespace

class TestLoader : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    FMySQL = MySQLReachable();
    FFB = FBReachable();
  }

  void init() { QVERIFY(FDir.isValid()); }
  void cleanup() {
    for (const QString& f : QDir(FDir.path()).entryList(QDir::Files))
      QFile::remove(FDir.filePath(f));
  }

  void getMySQLColumnType_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("precision");
    QTest::addColumn<QString>("text");
    QTest::newRow("ftString") << int(ftString) << 40 << 0 << "varchar(40)";
    QTest::newRow("ftWideString") << int(ftWideString) << 7 << 0 << "varchar(7)";
    QTest::newRow("ftFixedChar") << int(ftFixedChar) << 3 << 0 << "char(3)";
    QTest::newRow("ftSmallint") << int(ftSmallint) << 0 << 0 << "smallint";
    QTest::newRow("ftInteger") << int(ftInteger) << 0 << 0 << "int";
    QTest::newRow("ftWord") << int(ftWord) << 0 << 0 << "int";
    QTest::newRow("ftLargeint holds 64 bits") << int(ftLargeint) << 0 << 0 << "bigint";
    QTest::newRow("ftBoolean") << int(ftBoolean) << 0 << 0 << "bit";
    QTest::newRow("ftFloat") << int(ftFloat) << 0 << 0 << "double precision";
    QTest::newRow("ftCurrency as its fixed point") << int(ftCurrency) << 0 << 15 << "decimal(19,4)";
    QTest::newRow("ftBCD precision then scale") << int(ftBCD) << 2 << 15 << "numeric(15,2)";
    QTest::newRow("ftDate") << int(ftDate) << 0 << 0 << "datetime";
    QTest::newRow("ftTime") << int(ftTime) << 0 << 0 << "datetime";
    QTest::newRow("ftDateTime") << int(ftDateTime) << 0 << 0 << "datetime";
    QTest::newRow("ftBlob holds the whole value") << int(ftBlob) << 0 << 0 << "longblob";
    QTest::newRow("ftGraphic") << int(ftGraphic) << 0 << 0 << "longblob";
    QTest::newRow("ftMemo") << int(ftMemo) << 0 << 0 << "text";
    QTest::newRow("ftFmtMemo") << int(ftFmtMemo) << 0 << 0 << "text";
    for (int t : {0, 12, 13, 14, 19, 20, 21, 22, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37})
      QTest::newRow(qPrintable(FieldTypeName(TFieldType(t))))
          << t << 10 << 5 << "unsupported field type";
  }
  void getMySQLColumnType() {
    QFETCH(int, type);
    QFETCH(int, size);
    QFETCH(int, precision);
    QFETCH(QString, text);
    QCOMPARE(
        TColumnReconciliation::GetMySQLColumnType(Field("X", TFieldType(type), size, precision)),
        text);
  }

  // MySQL ----------------------------------------------------------------

  // Row 3 of chunk 2 after a chunk of 50 is position 53 of the table's total;
  // the chunks load in index order whatever the list's order.
  void mysqlProgressAndOrder() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(kMySQLDb);
    db.Exec(
        "CREATE TABLE ARTICLE (ID INT NOT NULL PRIMARY KEY, NAME VARCHAR(20), PRICE "
        "DECIMAL(15,2))");
    WriteChunk(Folder(), "ARTICLE", 1, ArticleFields(), ArticleRows(1, 50));
    WriteChunk(Folder(), "ARTICLE", 2, ArticleFields(), ArticleRows(51, 7));
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TRowLoader loader(dm, view);
    QStringList files = {"ARTICLE[2].xml", "ARTICLE[1].xml"};
    loader.LoadMySQLChunks(Folder(), files, "ARTICLE");
    QCOMPARE(files, QStringList({"ARTICLE[1].xml", "ARTICLE[2].xml"}));
    // One batch holds the table: one call, at its end.
    const auto progress = view.CallsOf("install");
    QCOMPARE(progress.size(), 1);
    QCOMPARE(progress[0].Done, 57);
    QCOMPARE(progress[0].Total, 57);
    QCOMPARE(progress[0].Text, QString("Зареждане на данни за таблица ARTICLE"));
    QVERIFY(view.Log.isEmpty());
    QVERIFY(view.Errors.isEmpty());
    QCOMPARE(Ids(db.Con(), "ARTICLE"), Range(1, 57));
    QCOMPARE(db.Con().Open("SELECT NAME, PRICE FROM ARTICLE WHERE ID = 53")->Value(0).ToString(),
             QString("Име 53"));
    QCOMPARE(loader.RefusedRows(), 0);
  }

  // One refused row in the middle: exactly one line in the described form,
  // every other row in the table.
  void mysqlRefusedRow() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(kMySQLDb);
    db.Exec(
        "CREATE TABLE ARTICLE (ID INT NOT NULL PRIMARY KEY, NAME VARCHAR(20) NOT NULL, PRICE "
        "DECIMAL(15,2))");
    auto rows = ArticleRows(1, 40);
    rows[19][1] = Null();  // ID 20: NAME NULL, refused by NOT NULL
    rows[19][2] = Null();
    WriteChunk(Folder(), "ARTICLE", 1, ArticleFields(), rows);
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TRowLoader loader(dm, view);
    QStringList files = {"ARTICLE[1].xml"};
    loader.LoadMySQLChunks(Folder(), files, "ARTICLE");
    QCOMPARE(view.Log.size(), 1);
    // The server's text, " table: ", the table, "> ", every value and a blank.
    const QString suffix = " table: ARTICLE> 20   ";
    QVERIFY2(view.Log[0].endsWith(suffix), qPrintable(view.Log[0]));
    const QString message = view.Log[0].chopped(suffix.size());
    QVERIFY2(message.contains("NAME") && !message.contains(" table: "), qPrintable(message));
    QCOMPARE(Ids(db.Con(), "ARTICLE"), Range(1, 40, {20}));
    QCOMPARE(loader.RefusedRows(), 1);
    QVERIFY(view.Errors.isEmpty());
  }

  // Values that cannot go in as they are: a character without a
  // Windows-1251 form, text longer than the column, a number outside its
  // range. Each row gets a line naming the column; nothing is cut.
  void mysqlValuesThatDoNotFit() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(kMySQLDb);
    db.Exec(
        "CREATE TABLE T (ID INT NOT NULL AUTO_INCREMENT PRIMARY KEY, NAME VARCHAR(5), QTY "
        "SMALLINT, "
        "PRICE DECIMAL(5,2))");
    const QVector<TFieldDef> fields = {Field("ID", ftInteger), Field("NAME", ftString, 20),
                                       Field("QTY", ftInteger), Field("PRICE", ftBCD, 2, 15)};
    WriteChunk(Folder(), "T", 1, fields,
               {{I(1), S("Аз"), I(1), Variant::FromDecimal("1.5")},
                {I(2), S("中文"), I(2), Null()},
                {I(3), S("твърде дълго"), I(3), Null()},
                {I(4), S("ок"), I(70000), Null()},
                {I(5), S("ок"), I(5), Variant::FromDecimal("12345.5")},
                {I(6), S("Край"), Null(), Null()},
                {I(7), S("ок"), I(7), Variant::FromDecimal("999.995")}});
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TRowLoader loader(dm, view);
    QStringList files = {"T[1].xml"};
    loader.LoadMySQLChunks(Folder(), files, "T");
    QCOMPARE(view.Log.size(), 5);
    QVERIFY2(view.Log[0].contains("NAME") && view.Log[0].contains("Windows-1251") &&
                 view.Log[0].endsWith(" table: T> 2 中文 2  "),
             qPrintable(view.Log[0]));
    QVERIFY2(view.Log[1].contains("NAME") && view.Log[1].endsWith(" table: T> 3 твърде дълго 3  "),
             qPrintable(view.Log[1]));
    QVERIFY2(view.Log[2].contains("QTY") && view.Log[2].contains("70000"), qPrintable(view.Log[2]));
    QVERIFY2(view.Log[3].contains("PRICE") && view.Log[3].contains("12345.5"),
             qPrintable(view.Log[3]));
    QCOMPARE(Ids(db.Con(), "T"), QStringList({"1", "6"}));
    QCOMPARE(db.Con().Open("SELECT NAME FROM T WHERE ID = 6")->Value(0).ToString(),
             QString("Край"));
    QCOMPARE(loader.RefusedRows(), 5);
  }

  // A target with PHARM_ID gets 0 in every row, named once also when the
  // chunk carries its own PHARM_ID (in any letter case).
  void mysqlPharmId_data() {
    QTest::addColumn<QString>("chunkColumn");
    QTest::newRow("chunk without PHARM_ID") << QString();
    QTest::newRow("chunk with PHARM_ID") << "PHARM_ID";
    QTest::newRow("chunk with pharm_id") << "pharm_id";
  }
  void mysqlPharmId() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    QFETCH(QString, chunkColumn);
    TScratchMySQL db(kMySQLDb);
    db.Exec("CREATE TABLE SHELF (ID INT NOT NULL PRIMARY KEY, NAME VARCHAR(20), Pharm_Id INT)");
    QVector<TFieldDef> fields = {Field("ID", ftInteger), Field("NAME", ftString, 20)};
    QVector<QVector<Variant>> rows = {{I(1), S("А")}, {I(2), Null()}, {I(3), S("В")}};
    if (!chunkColumn.isEmpty()) {
      fields.insert(1, Field(chunkColumn, ftInteger));
      rows[0].insert(1, I(17));
      rows[1].insert(1, Null());
      rows[2].insert(1, I(18));
    }
    WriteChunk(Folder(), "SHELF", 1, fields, rows);
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TRowLoader loader(dm, view);
    QVERIFY(loader.MySQLTableHasPharmId("SHELF"));
    QStringList files = {"SHELF[1].xml"};
    loader.LoadMySQLChunks(Folder(), files, "SHELF");
    QVERIFY2(view.Log.isEmpty(), qPrintable(view.Log.join('\n')));
    QVERIFY(view.Errors.isEmpty());
    QCOMPARE(CanonicalRows(db.Con(), "SHELF"),
             QStringList({"ID=1|NAME='А'|PHARM_ID=0", "ID=2|NAME=NULL|PHARM_ID=0",
                          "ID=3|NAME='В'|PHARM_ID=0"}));
  }

  // Missing columns are added with their types before the first row; a
  // column of a type without one gets one error box and every row of the
  // table is refused.
  void mysqlReconciliation() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(kMySQLDb);
    db.Exec("CREATE TABLE T (ID INT NOT NULL PRIMARY KEY)");
    const QVector<TFieldDef> fields = {Field("ID", ftInteger), Field("NAME", ftString, 40),
                                       Field("PRICE", ftBCD, 2, 15), Field("BARCODE", ftLargeint),
                                       Field("AMOUNT", ftCurrency, 0, 15)};
    WriteChunk(Folder(), "T", 1, fields, {});  // an empty first chunk is not examined
    WriteChunk(
        Folder(), "T", 2, fields,
        {{I(1), S("Първи"), Variant::FromDecimal("-1500.25"), Variant::FromInt64(1234567890123LL),
          Variant::FromCurrency(Currency::FromString("12.3456"))}});
    // A column only the third chunk has is not looked for again.
    WriteChunk(Folder(), "T", 3, fields + QVector<TFieldDef>{Field("LATE", ftInteger)},
               {{I(2), S("Втори"), Null(), Null(), Null(), I(5)}});
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TRowLoader loader(dm, view);
    QStringList files = {"T[1].xml", "T[2].xml", "T[3].xml"};
    loader.LoadMySQLChunks(Folder(), files, "T");
    QVERIFY(view.Errors.isEmpty());
    const auto types = db.Con().Open(
        "SELECT COLUMN_NAME, COLUMN_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = "
        "DATABASE() "
        "AND TABLE_NAME = 'T' ORDER BY ORDINAL_POSITION");
    QStringList columns;
    for (const auto& row : types->Rows())
      columns.append(row[0].ToString() + " " + row[1].ToString());
    QCOMPARE(columns, QStringList({"ID int(11)", "NAME varchar(40)", "PRICE decimal(15,2)",
                                   "BARCODE bigint(20)", "AMOUNT decimal(19,4)"}));
    QCOMPARE(
        CanonicalRows(db.Con(), "T"),
        QStringList({"ID=1|NAME='Първи'|PRICE=-1500.25|BARCODE=1234567890123|AMOUNT=12.3456"}));
    QCOMPARE(view.Log.size(), 1);
    QVERIFY2(view.Log[0].contains("LATE") && view.Log[0].endsWith(" table: T> 2 Втори    5 "),
             qPrintable(view.Log[0]));
  }

  void mysqlUnsupportedColumnType() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(kMySQLDb);
    db.Exec("CREATE TABLE T (ID INT NOT NULL PRIMARY KEY)");
    WriteChunk(Folder(), "T", 1, {Field("ID", ftInteger), Field("SEQ", ftAutoInc)},
               {{I(1), I(1)}, {I(2), I(2)}, {I(3), I(3)}});
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TRowLoader loader(dm, view);
    QStringList files = {"T[1].xml"};
    loader.LoadMySQLChunks(Folder(), files, "T");
    QCOMPARE(view.Errors.size(), 1);
    QVERIFY2(view.Errors[0].contains("unsupported"), qPrintable(view.Errors[0]));
    QCOMPARE(view.Log.size(), 3);
    QCOMPARE(db.Count("T"), 0);
  }

  // The counter ends at the largest ID (the next row gets 124); a table
  // without counter gets no SQL mode and no reset; an empty table's counter
  // goes to the start; ID 0 stays 0.
  void mysqlIdentityReset() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(kMySQLDb);
    db.Exec(
        "CREATE TABLE PLAIN (ID INT NOT NULL PRIMARY KEY, NAME VARCHAR(20), PRICE DECIMAL(15,2))");
    db.Exec(
        "CREATE TABLE ARTICLE (ID INT NOT NULL AUTO_INCREMENT PRIMARY KEY, NAME VARCHAR(20), "
        "PRICE DECIMAL(15,2)) AUTO_INCREMENT=5000");
    db.Exec(
        "CREATE TABLE EMPTY_T (ID INT NOT NULL AUTO_INCREMENT PRIMARY KEY, NAME VARCHAR(20)) "
        "AUTO_INCREMENT=900");
    auto rows = ArticleRows(100, 24);  // IDs 100..123
    rows.append({I(0), S("нула"), Null()});
    WriteChunk(Folder(), "ARTICLE", 1, ArticleFields(), rows);
    WriteChunk(Folder(), "PLAIN", 1, ArticleFields(), ArticleRows(1, 3));
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TRowLoader loader(dm, view);
    const QString modeBefore = OpenMySQLQuery(dm, "SELECT @@sql_mode M")->Fields(0).AsString();
    QVERIFY(!loader.Identity().MySQLHasAutoIncrement("PLAIN"));
    QStringList plainFiles = {"PLAIN[1].xml"};
    loader.LoadMySQLChunks(Folder(), plainFiles, "PLAIN");
    QCOMPARE(OpenMySQLQuery(dm, "SELECT @@sql_mode M")->Fields(0).AsString(), modeBefore);
    QVERIFY(loader.Identity().MySQLHasAutoIncrement("ARTICLE"));
    QStringList files = {"ARTICLE[1].xml"};
    loader.LoadMySQLChunks(Folder(), files, "ARTICLE");
    QStringList none;
    loader.LoadMySQLChunks(Folder(), none, "EMPTY_T");
    QCOMPARE(OpenMySQLQuery(dm, "SELECT @@sql_mode M")->Fields(0).AsString(),
             QString("NO_AUTO_VALUE_ON_ZERO"));
    QVERIFY(view.Errors.isEmpty());
    QVERIFY(view.Log.isEmpty());
    QCOMPARE(loader.Identity().GetMySQLMaxId("ARTICLE"), 123);
    QCOMPARE(loader.Identity().GetMySQLMaxId("EMPTY_T"), 0);
    QCOMPARE(db.Count("ARTICLE"), 25);
    QCOMPARE(db.Con().Open("SELECT NAME FROM ARTICLE WHERE ID = 0")->Value(0).ToString(),
             QString("нула"));
    db.Exec("INSERT INTO ARTICLE (NAME) VALUES ('нов')");
    QCOMPARE(db.Con().Open("SELECT MAX(ID) FROM ARTICLE")->Value(0).ToInt32(), 124);
    db.Exec("INSERT INTO EMPTY_T (NAME) VALUES ('нов')");
    QCOMPARE(db.Con().Open("SELECT MAX(ID) FROM EMPTY_T")->Value(0).ToInt32(), 1);
  }

  // Both servers -----------------------------------------------------------

  // Rows go in batches (500 on MySQL, 50 on Firebird); a batch the server
  // refuses is sent again row by row, so exactly the refused rows are
  // missing, each with one line, in packet order, whatever batch they fell
  // in. Sizes around the chunk and batch boundaries load exactly.
  void batchesLoadExactly_data() {
    QTest::addColumn<bool>("firebird");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("refused");  // IDs whose NAME is NULL
    for (bool fb : {false, true}) {
      const char* k = fb ? "firebird" : "mysql";
      for (int n : {0, 1, 49, 50, 51}) QTest::addRow("%s %d rows", k, n) << fb << n << QList<int>{};
      QTest::addRow("%s refused in the middle of a batch", k) << fb << 120 << QList<int>{20};
      QTest::addRow("%s refused first and last", k) << fb << 51 << QList<int>{1, 51};
    }
    QTest::addRow("mysql refused in two batches") << false << 1100 << QList<int>{250, 800};
    QTest::addRow("firebird refused in two batches") << true << 120 << QList<int>{20, 75};
    QTest::addRow("mysql a whole batch refused") << false << 60 << QList<int>{1, 2, 3, 60};
  }
  void batchesLoadExactly() {
    QFETCH(bool, firebird);
    QFETCH(int, rows);
    QFETCH(QList<int>, refused);
    QStringList files = WriteRefusingArticleChunks(Folder(), rows, refused);
    REQUIRE_ARTICLE_SERVER(firebird);
    TArticleTarget target(firebird, Folder());
    QCOMPARE(target.Open(), QString());
    RecorderView& view = target.View;
    TRowLoader loader(target.DM, view);
    try {
      target.Load(loader, files);
      if (firebird) target.DM.FBCommitRetaining();
    } catch (const ENompackError& e) {
      QFAIL(qPrintable(e.FullText()));
    }
    if (target.Fb) target.Fb->Reattach();
    IConnection& con = target.Fb ? target.Fb->Con() : target.My->Con();
    QStringList expected;
    for (int id = 1; id <= rows; ++id)
      if (!refused.contains(id)) expected.append(QString::number(id));
    QCOMPARE(Ids(con, "ARTICLE"), expected);
    QCOMPARE(RefusalLogMismatch(view.Log, refused), QString());
    QCOMPARE(loader.RefusedRows(), refused.size());
    // The bar moves forward to the total, never through 0 (which would log
    // the caption).
    const auto progress = view.CallsOf("install");
    int last = 0;
    for (const auto& call : progress) {
      QVERIFY(call.Done > last);
      QCOMPARE(call.Total, rows);
      last = call.Done;
    }
    QCOMPARE(last, rows);
  }

  // Rows with long memos go in batches the server takes whole: a server
  // whose statements may be 1 MiB at most still loads 40 rows of 60,000
  // characters (2.4 MB, far fewer than a batch's 500 rows).
  void mysqlLargeValuesInSmallerBatches() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    auto my = std::make_unique<TScratchMySQL>(kMySQLDb);
    my->Exec("CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, NOTE MEDIUMTEXT)");
    const QString before =
        my->Con().Open("SELECT @@GLOBAL.max_allowed_packet")->Value(0).ToString();
    // Connections made from here on get the small limit; it goes back
    // whatever the test's outcome.
    my->Exec("SET GLOBAL max_allowed_packet = 1048576");
    struct TRestore {
      TScratchMySQL& Db;
      QString Value;
      ~TRestore() { Db.Exec(QStringLiteral("SET GLOBAL max_allowed_packet = %1").arg(Value)); }
    } restore{*my, before};

    QVector<QVector<Variant>> rows;
    for (int id = 1; id <= 40; ++id)
      rows.append({I(id), S(QString(60000, QChar(0x0410 + id % 32)))});
    WriteChunk(Folder(), "ARTICLE", 1, {Field("ID", ftInteger), Field("NOTE", ftMemo)}, rows);
    QStringList files{"ARTICLE[1].xml"};

    RecorderView view;
    TDM dm(view);
    QCOMPARE(my->ConnectedBy(dm), QString());
    TRowLoader loader(dm, view);
    try {
      loader.LoadMySQLChunks(Folder(), files, "ARTICLE");
    } catch (const ENompackError& e) {
      QFAIL(qPrintable(e.FullText()));
    }
    QCOMPARE(view.Log, QStringList());
    QCOMPARE(Ids(my->Con(), "ARTICLE"), Range(1, 40));
    const auto lengths =
        my->Con().Open("SELECT COUNT(*) FROM ARTICLE WHERE CHAR_LENGTH(NOTE) = 60000");
    QCOMPARE(lengths->Value(0).ToInt32(), 40);
  }

  // FireBird -------------------------------------------------------------

  void fbMemosInBatches_data() {
    QTest::addColumn<QList<int>>("refused");  // IDs whose NAME is NULL
    QTest::newRow("none refused") << QList<int>{};
    QTest::newRow("refused in the middle of a batch") << QList<int>{20};
    QTest::newRow("refused in two batches, beside long memos") << QList<int>{7, 61};
  }

  // Memo values short and long (the long ones beyond what goes with the
  // row), NULL and empty, in batches with refused rows: exactly the refused
  // rows are missing, each logged once in packet order, and every other
  // memo is stored as it came.
  void fbMemosInBatches() {
    NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    QFETCH(QList<int>, refused);
    const int rows = 120;
    auto memo = [](int id) -> Variant {
      if (id % 10 == 3) return Null();
      if (id % 10 == 4) return S(QString());
      const int length = id % 7 == 0 ? 8001 + id : id % 5 == 0 ? 8000 : id * 37;
      QString text;
      while (text.size() < length) text += QStringLiteral("Листовка %1; ").arg(id);
      return S(text.left(length));
    };
    const QVector<TFieldDef> fields = {Field("ID", ftInteger), Field("NAME", ftString, 20),
                                       Field("NOTE", ftMemo)};
    QVector<QVector<Variant>> all;
    for (int id = 1; id <= rows; ++id)
      all.append({I(id), refused.contains(id) ? Null() : S(QString("Име %1").arg(id)), memo(id)});
    QStringList files;
    for (int first = 0, chunkNo = 1; first < rows; first += 50, ++chunkNo) {
      WriteChunk(Folder(), "ARTICLE", chunkNo, fields, all.mid(first, 50));
      files.append(QString("ARTICLE[%1].xml").arg(chunkNo));
    }
    TScratchFB db("inst_loader");
    db.Exec(
        "CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) NOT NULL, "
        "NOTE BLOB SUB_TYPE TEXT)");
    RecorderView view;
    TDM dm(view);
    QVERIFY(dm.FBConnect(db.Database()));
    TRowLoader loader(dm, view);
    try {
      loader.LoadFBChunks(Folder(), files, "ARTICLE");
    } catch (const ENompackError& e) {
      QFAIL(qPrintable(e.FullText()));
    }
    dm.FBCommitRetaining();
    QCOMPARE(view.Log.size(), refused.size());
    for (int i = 0; i < refused.size(); ++i) {
      const QString head = QString(" table: ARTICLE> %1  ").arg(refused[i]);
      QVERIFY2(view.Log[i].contains(head), qPrintable(view.Log[i].left(200)));
    }
    QCOMPARE(loader.RefusedRows(), refused.size());
    db.Reattach();
    const auto stored = db.Con().Open("SELECT ID, NOTE FROM ARTICLE ORDER BY ID");
    QCOMPARE(stored->RecordCount(), rows - refused.size());
    for (const auto& row : stored->Rows()) {
      const int id = row[0].ToInt32();
      QVERIFY(!refused.contains(id));
      // The loader stores an empty memo as NULL, as it always has.
      const Variant expected = memo(id);
      QVERIFY2(row[1].IsNull() == expected.IsNullOrEmpty() &&
                   row[1].ToString() == (expected.IsNull() ? QString() : expected.ToString()),
               qPrintable(QString("ID %1: %2 characters").arg(id).arg(row[1].ToString().size())));
    }
  }

  // A refused row in the middle: one line, and the rows before it stay
  // (a failed statement undoes only itself).
  void fbRefusedRowAndProgress() {
    NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    TScratchFB db("inst_loader");
    db.Exec(
        "CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) NOT NULL, "
        "PRICE NUMERIC(15,2))");
    auto first = ArticleRows(1, 50);
    first[29][1] = Null();  // ID 30 refused by NOT NULL
    first[29][2] = Null();
    WriteChunk(Folder(), "ARTICLE", 1, ArticleFields(), first);
    WriteChunk(Folder(), "ARTICLE", 2, ArticleFields(), ArticleRows(51, 10));
    RecorderView view;
    TDM dm(view);
    QVERIFY(dm.FBConnect(db.Database()));
    TRowLoader loader(dm, view);
    QStringList files = {"ARTICLE[1].xml", "ARTICLE[2].xml"};
    try {
      loader.LoadFBChunks(Folder(), files, "ARTICLE");
    } catch (const ENompackError& e) {
      QFAIL(qPrintable(e.FullText()));
    }
    dm.FBCommitRetaining();
    // Per batch of 50 rows.
    const auto progress = view.CallsOf("install");
    QCOMPARE(progress.size(), 2);
    QCOMPARE(progress[0].Done, 50);
    QCOMPARE(progress[1].Done, 60);
    QCOMPARE(progress[1].Total, 60);
    QCOMPARE(view.Log.size(), 1);
    const QString suffix = " table: ARTICLE> 30   ";
    QVERIFY2(view.Log[0].endsWith(suffix), qPrintable(view.Log[0]));
    QVERIFY2(view.Log[0].contains("NAME"), qPrintable(view.Log[0]));
    db.Reattach();
    QCOMPARE(Ids(db.Con(), "ARTICLE"), Range(1, 60, {30}));
    QCOMPARE(loader.RefusedRows(), 1);
  }

  // PHARM_ID (exactly so) is not loaded into FireBird; pharm_id is. 64-bit
  // integers and decimals with more than four places arrive exactly; NULLs
  // stay NULL; text that does not fit names its column.
  void fbValues() {
    NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    TScratchFB db("inst_loader");
    db.Exec(
        "CREATE TABLE PARCEL (ID INTEGER NOT NULL PRIMARY KEY, PHARM_ID INTEGER, BARCODE BIGINT, "
        "RATE NUMERIC(18,6), NAME VARCHAR(5), QTY SMALLINT, MADE TIMESTAMP, NOTE BLOB SUB_TYPE "
        "TEXT)");
    const QVector<TFieldDef> fields = {Field("ID", ftInteger),       Field("PHARM_ID", ftInteger),
                                       Field("BARCODE", ftLargeint), Field("RATE", ftBCD, 6, 18),
                                       Field("NAME", ftString, 20),  Field("QTY", ftSmallint),
                                       Field("MADE", ftDateTime),    Field("NOTE", ftMemo)};
    const TDateTime made = DateTimeConv::Compose(QDate(1800, 1, 1), QTime(9, 15, 2));
    WriteChunk(Folder(), "PARCEL", 1, fields,
               {{I(1), I(17), Variant::FromInt64(3000000000123LL), Variant::FromDecimal("1.234567"),
                 S("Аб"), I(7), Variant::FromDateTime(made), S("ред 1\r\nред 2")},
                {I(2), Null(), Null(), Null(), Null(), Null(), Null(), Null()},
                {I(3), I(17), Null(), Null(), S("твърде дълго"), Null(), Null(), Null()},
                {I(4), I(17), Null(), Null(), S("中"), Null(), Null(), Null()}});
    WriteChunk(Folder(), "LOWER_T", 1, {Field("ID", ftInteger), Field("pharm_id", ftInteger)},
               {{I(1), I(17)}});
    db.Exec("CREATE TABLE LOWER_T (ID INTEGER NOT NULL PRIMARY KEY, PHARM_ID INTEGER)");
    RecorderView view;
    TDM dm(view);
    QVERIFY(dm.FBConnect(db.Database()));
    TRowLoader loader(dm, view);
    QStringList files = {"PARCEL[1].xml"};
    QStringList lower = {"LOWER_T[1].xml"};
    try {
      loader.LoadFBChunks(Folder(), files, "PARCEL");
      loader.LoadFBChunks(Folder(), lower, "LOWER_T");
    } catch (const ENompackError& e) {
      QFAIL(qPrintable(e.FullText()));
    }
    dm.FBCommitRetaining();
    QCOMPARE(view.Log.size(), 2);
    QVERIFY2(view.Log[0].contains("NAME") &&
                 view.Log[0].endsWith(" table: PARCEL> 3 17   твърде дълго    "),
             qPrintable(view.Log[0]));
    QVERIFY2(view.Log[1].contains("NAME") && view.Log[1].contains("Windows-1251"),
             qPrintable(view.Log[1]));
    db.Reattach();
    QCOMPARE(
        CanonicalRows(db.Con(), "PARCEL"),
        QStringList(
            {"ID=1|PHARM_ID=NULL|BARCODE=3000000000123|RATE=1.234567|NAME='Аб'|QTY=7|"
             "MADE=1800-01-01 09:15:02.000|NOTE='ред 1\r\nред 2'",
             "ID=2|PHARM_ID=NULL|BARCODE=NULL|RATE=NULL|NAME=NULL|QTY=NULL|MADE=NULL|NOTE=NULL"}));
    QCOMPARE(CanonicalRows(db.Con(), "LOWER_T"), QStringList({"ID=1|PHARM_ID=17"}));
  }

  // The generator ends at the largest ID the transaction sees; a table
  // without generator touches none; an empty table's goes to 0.
  void fbIdentityReset() {
    NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    TScratchFB db("inst_loader");
    db.Exec(
        "CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), PRICE "
        "NUMERIC(15,2))");
    db.Exec("CREATE TABLE EMPTY_T (ID INTEGER NOT NULL PRIMARY KEY)");
    db.Exec(
        "CREATE TABLE PLAIN (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), PRICE "
        "NUMERIC(15,2))");
    db.Exec("CREATE GENERATOR ARTICLE_ID");
    db.Exec("CREATE GENERATOR EMPTY_T_ID");
    db.Exec("CREATE GENERATOR OTHER_ID");
    db.Exec("SET GENERATOR ARTICLE_ID TO 9000");
    db.Exec("SET GENERATOR EMPTY_T_ID TO 55");
    db.Exec("SET GENERATOR OTHER_ID TO 77");
    WriteChunk(Folder(), "ARTICLE", 1, ArticleFields(), ArticleRows(100, 24));
    WriteChunk(Folder(), "PLAIN", 1, ArticleFields(), ArticleRows(1, 500 / 100));
    RecorderView view;
    TDM dm(view);
    QVERIFY(dm.FBConnect(db.Database()));
    TRowLoader loader(dm, view);
    QVERIFY(loader.Identity().FBGeneratorExists("ARTICLE"));
    QVERIFY(!loader.Identity().FBGeneratorExists("PLAIN"));
    QStringList files = {"ARTICLE[1].xml"};
    loader.LoadFBChunks(Folder(), files, "ARTICLE");
    QStringList plain = {"PLAIN[1].xml"};
    loader.LoadFBChunks(Folder(), plain, "PLAIN");
    QStringList none;
    loader.LoadFBChunks(Folder(), none, "EMPTY_T");
    dm.FBCommitRetaining();
    db.Reattach();
    QCOMPARE(db.Generator("ARTICLE_ID"), 123);
    QCOMPARE(db.Generator("EMPTY_T_ID"), 0);
    QCOMPARE(db.Generator("OTHER_ID"), 77);
  }

  // A failure half-way (a chunk that is no data packet) still sets the
  // generator to what was loaded before it travels on.
  void fbResetBeforeFailure() {
    NOMPACK_REQUIRE_SERVER(FFB, "Firebird 127.0.0.1:3050");
    TScratchFB db("inst_loader");
    db.Exec(
        "CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), PRICE "
        "NUMERIC(15,2))");
    db.Exec("CREATE GENERATOR ARTICLE_ID");
    WriteChunk(Folder(), "ARTICLE", 1, ArticleFields(), ArticleRows(1, 50));
    WriteText(Folder() + "ARTICLE[2].xml", "<not a data packet");
    RecorderView view;
    TDM dm(view);
    QVERIFY(dm.FBConnect(db.Database()));
    TRowLoader loader(dm, view);
    QStringList files = {"ARTICLE[1].xml", "ARTICLE[2].xml"};
    bool failed = false;
    try {
      loader.LoadFBChunks(Folder(), files, "ARTICLE", 50);
    } catch (const ENompackError& e) {
      failed = true;
      QVERIFY2(e.Message().contains("ARTICLE[2].xml"), qPrintable(e.Message()));
    }
    QVERIFY(failed);
    QCOMPARE(
        OpenFBQuery(dm, "SELECT GEN_ID(ARTICLE_ID, 0) G FROM RDB$DATABASE")->Fields(0).AsInteger(),
        50);
  }

  // A chunk that cannot be read while the two batches before it are still
  // with the sender, each with a row the server refuses: they are completed
  // first, in order, as if each had been sent alone (stored, the refused
  // rows logged, the bar moved), and then the chunk's failure travels on.
  void failureWhileBatchesAreInFlight_data() {
    QTest::addColumn<bool>("firebird");
    QTest::addColumn<int>("batch");
    QTest::addRow("firebird") << true << 50;
    QTest::addRow("mysql") << false << 500;
  }
  void failureWhileBatchesAreInFlight() {
    QFETCH(bool, firebird);
    QFETCH(int, batch);
    // Two batches, a few rows more that wait for the next one, then the
    // unreadable chunk.
    const int rows = 2 * batch + 30;
    const QList<int> refused = {20, batch + 20};
    QStringList files = WriteRefusingArticleChunks(Folder(), rows, refused);
    const QString broken = QString("ARTICLE[%1].xml").arg(files.size() + 1);
    WriteText(Folder() + broken, "<not a data packet");
    files.append(broken);
    REQUIRE_ARTICLE_SERVER(firebird);
    TArticleTarget target(firebird, Folder());
    QCOMPARE(target.Open(), QString());
    RecorderView& view = target.View;
    TDM& dm = target.DM;
    TRowLoader loader(dm, view);
    QString failure;
    try {
      target.Load(loader, files, rows);
    } catch (const ENompackError& e) {
      failure = e.Message();
    }
    QVERIFY2(failure.contains(broken), qPrintable(failure));
    QStringList ids;
    const auto stored = firebird ? OpenFBQuery(dm, "SELECT ID FROM ARTICLE ORDER BY ID")
                                 : OpenMySQLQuery(dm, "SELECT ID FROM ARTICLE ORDER BY ID");
    for (; !stored->Eof(); stored->Next()) ids.append(stored->Fields(0).AsString());
    QCOMPARE(ids, Range(1, 2 * batch, refused));
    QCOMPARE(RefusalLogMismatch(view.Log, refused), QString());
    QCOMPARE(loader.TableLoads().last().Loaded, 2 * batch - 2);
    QCOMPARE(view.CallsOf("install").last().Done, 2 * batch);
  }

  // A table name that is no plain identifier never reaches SQL.
  void craftedTableName() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    TScratchMySQL db(kMySQLDb);
    RecorderView view;
    TDM dm(view);
    QCOMPARE(db.ConnectedBy(dm), QString());
    TRowLoader loader(dm, view);
    QStringList none;
    QVERIFY_THROWS_EXCEPTION(ENompackError,
                             loader.LoadMySQLChunks(Folder(), none, "T` (ID) SELECT 1; --"));
  }

 private:
  bool FMySQL = false;
  bool FFB = false;
  QTemporaryDir FDir;
  QString Folder() const { return FDir.path() + "/"; }
};

QTEST_GUILESS_MAIN(TestLoader)
#include "test_loader.moc"
