// The export of one table, against each source kind: MariaDB, Firebird,
// and the ODBC layer through the SQLite driver (the MSSQL statements run
// there for real).
#include <QTemporaryDir>
#include <QtTest>

#include "Cp1251.h"
#include "Exporter.h"
#include "GenTestSupport.h"
#include "RecorderView.h"

using namespace GenTest;

namespace {

const QString kDbName = QStringLiteral("nompack_gen_export");

QString RowName(int id) {
  return QStringLiteral("Аналгин №%1 „Ъгъл“ юя").arg(id);
}

// Tables of `rows` rows: Cyrillic names, a NULL note on every third row.
void CreateRowsTable(IConnection& con, const QString& table, int rows) {
  con.Execute(QStringLiteral("CREATE TABLE %1 (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(60), "
                             "NOTE VARCHAR(60), PRICE NUMERIC(15,2))")
                  .arg(table));
  if (con.SupportsTransactions()) con.CommitRetaining();  // Firebird: DDL before its use
  for (int id = 1; id <= rows; ++id) {
    const QString note = id % 3 == 0 ? QStringLiteral("NULL") : QStringLiteral("'бел. %1'").arg(id);
    con.Execute(
        QStringLiteral("INSERT INTO %1 (ID, NAME, NOTE, PRICE) VALUES (%2, '%3', %4, %5.25)")
            .arg(table)
            .arg(id)
            .arg(RowName(id), note)
            .arg(id));
  }
}

void CreateTables(int kind, const QString& target) {
  CreateEmptyDatabase(kind, target);
  auto con = Connect(kind, target);
  CreateRowsTable(*con, QStringLiteral("T120"), 120);
  CreateRowsTable(*con, QStringLiteral("T100"), 100);
  CreateRowsTable(*con, QStringLiteral("T0"), 0);
  CreateRowsTable(*con, QStringLiteral("TDEL"), 120);
  CreateRowsTable(*con, QStringLiteral("TINS"), 120);
  if (kind == kODBC) {
    con->Execute(QStringLiteral("CREATE TABLE COLS_AIB (A VARCHAR(10), id INTEGER, B INTEGER)"));
    for (int i = 1; i <= 3; ++i)
      con->Execute(QStringLiteral("INSERT INTO COLS_AIB VALUES ('а%1', %2, %3)")
                       .arg(i)
                       .arg(4 - i)
                       .arg(i * 10));
    con->Execute(QStringLiteral("CREATE TABLE NOID (A INTEGER, B VARCHAR(10))"));
    if (con->SupportsTransactions()) con->CommitRetaining();
    con->Execute(QStringLiteral("INSERT INTO NOID VALUES (1, 'x')"));
  }
  if (con->SupportsTransactions()) con->Commit();
}

// The statement of a kind for the n-th page (from 0) of 50 rows, as chunk
// files were once read page by page: the files of one read must not differ.
QString PageStatement(int kind, const QString& table, int page) {
  switch (kind) {
    case kFireBird:
      return QStringLiteral("SELECT FIRST 50 SKIP %1 T.* FROM %2 T").arg(page * 50).arg(table);
    case kMySQL:
      return QStringLiteral("SELECT T.* FROM %1 T LIMIT %2, 50;").arg(table).arg(page * 50);
    default:
      return QStringLiteral(
                 "select seq.ID, seq.NAME, seq.NOTE, seq.PRICE from \r\n( \r\nselect \r\n  T.*, "
                 "ROW_NUMBER() OVER (ORDER BY ID) rownum \r\nfrom %1 T \r\n) seq \r\nWHERE "
                 "seq.rownum between %2 and %3 ")
          .arg(table)
          .arg(page * 50 + 1)
          .arg(page * 50 + 50);
  }
}

}  // namespace

class TestExport : public QObject {
  Q_OBJECT

  QTemporaryDir FTemp;
  QString FFolder;  // a fresh packet folder per test row
  QMap<int, QString> FUnreachable;
  std::unique_ptr<RecorderView> FView;
  std::unique_ptr<TDM> FDM;
  QStringList FStatements;

  void AddKindRows() {
    QTest::newRow("mysql") << int(kMySQL);
    QTest::newRow("firebird") << int(kFireBird);
    QTest::newRow("odbc") << int(kODBC);
  }

  // A data module connected to the kind's scratch database, and an exporter
  // on it that records its page statements.
  std::unique_ptr<TExporter> Start(int kind) {
    FView = std::make_unique<RecorderView>();
    FDM = std::make_unique<TDM>(*FView);
    QString error;
    bool ok = false;
    const QString target = Target(kind, kDbName);
    switch (kind) {
      case kMySQL:
        ok = FDM->MySQLConnect(QStringLiteral("127.0.0.1"), target, QStringLiteral("root"),
                               QString(), error);
        break;
      case kFireBird:
        ok = FDM->FBConnect(QStringLiteral("127.0.0.1:") + target);
        break;
      default:
        ok = FDM->MSSQLConnect(QStringLiteral("127.0.0.1"), target, QStringLiteral("sa"), QString(),
                               error);
        break;
    }
    if (!ok) qWarning("connect failed: %s", qPrintable(error));
    auto exporter = std::make_unique<TExporter>(*FDM, *FView);
    FStatements.clear();
    exporter->SetPageStatementObserver([this](const QString& sql) { FStatements.append(sql); });
    return ok ? std::move(exporter) : nullptr;
  }

  void Export(TExporter& exporter, int kind, const QString& table, int& rows) {
    switch (kind) {
      case kMySQL:
        exporter.ExportMySQLTable(table, FFolder, 50, rows);
        break;
      case kFireBird:
        exporter.ExportFBTable(table, FFolder, 50, rows);
        break;
      default:
        exporter.ExportMSSQLTable(table, FFolder, 50, rows);
        break;
    }
  }

#define START_OR_SKIP(kind)                                                       \
  NOMPACK_REQUIRE_SERVER(!FUnreachable.contains(kind), FUnreachable.value(kind)); \
  auto exporter = Start(kind);                                                    \
  QVERIFY(exporter)

 private slots:
  void initTestCase() {
    UseSQLiteODBCDriver();
    QVERIFY(FTemp.isValid());
    const QString error = PrepareReachableKinds(FUnreachable, [](int kind) {
      try {
        CreateTables(kind, Target(kind, kDbName));
      } catch (const ENompackError& e) {
        return KindName(kind) + QStringLiteral(": ") + e.FullText();
      }
      return QString();
    });
    if (!error.isEmpty()) QFAIL(qPrintable(error));
  }

  void cleanupTestCase() {
    for (int kind : {int(kMySQL), int(kFireBird), int(kODBC)})
      if (!FUnreachable.contains(kind)) DropDatabase(kind, Target(kind, kDbName));
  }

  void init() {
    static int n = 0;
    FFolder = FTemp.path() + QStringLiteral("/packet %1/").arg(++n);
    QVERIFY(QDir().mkpath(FFolder));
  }

  void cleanup() {
    FDM.reset();
    FView.reset();
  }

  void chunksStatementsAndProgress_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QList<int>>("chunks");
    for (int kind : {int(kMySQL), int(kFireBird), int(kODBC)}) {
      const QString k = KindName(kind);
      QTest::addRow("%s 120 rows", qPrintable(k)) << kind << "T120" << QList<int>{50, 50, 20};
      QTest::addRow("%s 100 rows", qPrintable(k)) << kind << "T100" << QList<int>{50, 50};
      QTest::addRow("%s empty", qPrintable(k)) << kind << "T0" << QList<int>{};
    }
  }
  void chunksStatementsAndProgress() {
    QFETCH(int, kind);
    QFETCH(QString, table);
    QFETCH(QList<int>, chunks);
    START_OR_SKIP(kind);
    int total = 0;
    for (int c : chunks) total += c;

    int rows = -1;
    Export(*exporter, kind, table, rows);
    QCOMPARE(rows, total);

    // One statement reads the whole table.
    QCOMPARE(FStatements.size(), 1);
    QVERIFY2(!FStatements[0].contains(QStringLiteral("LIMIT")) &&
                 !FStatements[0].contains(QStringLiteral("SKIP")) &&
                 !FStatements[0].contains(QStringLiteral("between")),
             qPrintable(FStatements[0]));

    QCOMPARE(ChunkRowCounts(FFolder, table), chunks);
    QStringList names;
    for (int i = 1; i <= chunks.size(); ++i) names.append(PacketLayout::ChunkFileName(table, i));
    QCOMPARE(FilesIn(FFolder), [&] {
      names.sort();
      return names;
    }());

    QList<QPair<int, int>> progress;
    for (const auto& call : FView->Calls) {
      QCOMPARE(call.Kind, QStringLiteral("table"));
      progress.append({call.Done, call.Total});
    }
    QList<QPair<int, int>> expectedProgress;
    int done = 0;
    for (int c : chunks) expectedProgress.append({done += c, total});
    QCOMPARE(progress, expectedProgress);

    // Byte for byte the chunk files of one statement per page (the table's
    // key gives both reads the same order).
    auto con = Connect(kind, Target(kind, kDbName));
    for (int page = 0;; ++page) {
      const auto ds = con->Open(PageStatement(kind, table, page));
      if (ds->IsEmpty()) {
        QCOMPARE(page, chunks.size());
        break;
      }
      const QString name = PacketLayout::ChunkFileName(table, page + 1);
      const QString pagedFile = FTemp.path() + QStringLiteral("/paged-") + name;
      SaveDataSetToXML(*ds, pagedFile);
      QFile paged(pagedFile), read(FFolder + name);
      QVERIFY(paged.open(QIODevice::ReadOnly) && read.open(QIODevice::ReadOnly));
      QVERIFY2(paged.readAll() == read.readAll(), qPrintable(name));
    }

    // The rows themselves: Cyrillic text and NULLs as in the source.
    QCOMPARE(ChunkRows(FFolder, table), SourceRows(*con, table));
    if (total > 0) {
      TClientDataSet last;
      last.LoadFromFile(FFolder + PacketLayout::ChunkFileName(table, chunks.size()));
      last.Last();
      const int id = last.FieldByName(QStringLiteral("ID")).ToInt32();
      QCOMPARE(last.FieldByName(QStringLiteral("NAME")).ToString(), RowName(id));
      int nulls = 0;
      for (const auto& row : last.Rows())
        nulls += row.at(last.FieldIndex(QStringLiteral("NOTE"))).IsNull();
      QVERIFY(nulls > 0);
      // Single-byte chunk files: the name is there in Windows-1251.
      QFile file(FFolder + PacketLayout::ChunkFileName(table, chunks.size()));
      QVERIFY(file.open(QIODevice::ReadOnly));
      QVERIFY(file.readAll().contains(Cp1251::Encode(RowName(id))));
    }
  }

  void mssqlPageTemplate() {
    START_OR_SKIP(int(kODBC));
    QCOMPARE(exporter->GetMSSQLFieldNames(QStringLiteral("COLS_AIB")),
             (QStringList{QStringLiteral("A"), QStringLiteral("id"), QStringLiteral("B")}));
    QVERIFY(exporter->MSSQLTableHasID(QStringLiteral("COLS_AIB")));
    QCOMPARE(exporter->BuildMSSQLPageQuery(QStringLiteral("COLS_AIB")),
             QStringLiteral("select seq.A, seq.id, seq.B from \r\n( \r\nselect \r\n  T.*, "
                            "ROW_NUMBER() OVER (ORDER BY ID) rownum \r\nfrom COLS_AIB T \r\n) seq "
                            "\r\nWHERE seq.rownum between %d and %d "));
    // Rows numbered by id; the row number never reaches the chunk file.
    int rows = 0;
    Export(*exporter, kODBC, QStringLiteral("COLS_AIB"), rows);
    QCOMPARE(rows, 3);
    TClientDataSet ds;
    ds.LoadFromFile(FFolder + QStringLiteral("COLS_AIB[1].xml"));
    QStringList fields;
    for (const auto& def : ds.FieldDefs()) fields.append(def.Name);
    QCOMPARE(fields, (QStringList{QStringLiteral("A"), QStringLiteral("id"), QStringLiteral("B")}));
    QCOMPARE(ds.FieldByName(QStringLiteral("A")).ToString(), QStringLiteral("а3"));

    QVERIFY(!exporter->MSSQLTableHasID(QStringLiteral("NOID")));
    QCOMPARE(exporter->BuildMSSQLPageQuery(QStringLiteral("NOID")), QString());
    QVERIFY_THROWS_EXCEPTION(ENompackError, Export(*exporter, kODBC, QStringLiteral("NOID"), rows));
    QVERIFY(!QFile::exists(FFolder + QStringLiteral("NOID[1].xml")));
  }

  void chunkWriteAttempts_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("failures");
    for (int kind : {int(kMySQL), int(kFireBird), int(kODBC)}) {
      QTest::addRow("%s: ten failures, then written", qPrintable(KindName(kind))) << kind << 10;
      QTest::addRow("%s: eleven failures", qPrintable(KindName(kind))) << kind << 11;
    }
  }
  void chunkWriteAttempts() {
    QFETCH(int, kind);
    QFETCH(int, failures);
    START_OR_SKIP(kind);
    // The second chunk of T120 cannot be written `failures` times.
    QMap<QString, int> attempts;
    exporter->SetChunkWriter([&](const TClientDataSet& page, const QString& file) {
      const int n = ++attempts[QFileInfo(file).fileName()];
      if (file.endsWith(QStringLiteral("T120[2].xml")) && n <= failures)
        throw ENompackError(QStringLiteral("Cannot create file \"%1\". Disk busy").arg(file),
                            ENompackError::Kind::File)
            .AddContext(QStringLiteral("attempt %1").arg(n));
      return SaveDataSetToXML(page, file);
    });
    int rows = 0;
    if (failures < TExporter::kWriteAttempts) {
      Export(*exporter, kind, QStringLiteral("T120"), rows);
      QCOMPARE(attempts.value(QStringLiteral("T120[2].xml")), failures + 1);
      QCOMPARE(ChunkRowCounts(FFolder, QStringLiteral("T120")), (QList<int>{50, 50, 20}));
      QCOMPARE(FView->Calls.size(), 3);
      // The checksums come from the bytes written, the retried chunk's
      // from its last attempt: each must be that of the file on disk.
      QCOMPARE(exporter->WrittenChunks().size(), 3);
      for (const TManifestChunk& chunk : exporter->WrittenChunks())
        QCOMPARE(chunk.Checksum, FileChecksum(FFolder + chunk.FileName));
      return;
    }
    try {
      Export(*exporter, kind, QStringLiteral("T120"), rows);
      QFAIL("the eleventh failure must propagate");
    } catch (const ENompackError& e) {
      QCOMPARE(e.Message(),
               QStringLiteral("Cannot create file \"%1T120[2].xml\". Disk busy").arg(FFolder));
      QVERIFY2(e.FullText().contains(QStringLiteral("T120, chunk 2")), qPrintable(e.FullText()));
      // The last failure travels on whole: its kind and the writer's own
      // context, then where the export was.
      QCOMPARE(e.ErrorKind(), ENompackError::Kind::File);
      QCOMPARE(e.Context(), (QStringList{QStringLiteral("attempt 11"),
                                         QStringLiteral("exporting T120, chunk 2")}));
    }
    QCOMPARE(attempts.value(QStringLiteral("T120[2].xml")), TExporter::kWriteAttempts);
    QCOMPARE(FilesIn(FFolder), QStringList{QStringLiteral("T120[1].xml")});
    QCOMPARE(FView->Calls.size(), 1);
  }

  void refusesNamesThatAreNoIdentifier_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("table");
    const QStringList names = {QStringLiteral("T100; DROP TABLE T100"),
                               QStringLiteral("T100 T"),
                               QString(),
                               QStringLiteral("1T"),
                               QStringLiteral("T100--"),
                               QStringLiteral("Т100"),
                               QStringLiteral("`T100`")};
    for (int kind : {int(kMySQL), int(kFireBird), int(kODBC)})
      for (const QString& name : names)
        QTest::addRow("%s [%s]", qPrintable(KindName(kind)), qPrintable(name)) << kind << name;
  }
  void refusesNamesThatAreNoIdentifier() {
    QFETCH(int, kind);
    QFETCH(QString, table);
    START_OR_SKIP(kind);
    int rows = 7;
    QVERIFY_THROWS_EXCEPTION(ENompackError, Export(*exporter, kind, table, rows));
    QCOMPARE(rows, 0);
    QVERIFY_THROWS_EXCEPTION(ENompackError, exporter->GetMySQLRowCount(table));
    QVERIFY_THROWS_EXCEPTION(ENompackError, exporter->BuildMSSQLPageQuery(table));
    QCOMPARE(FStatements, QStringList());
    QCOMPARE(FilesIn(FFolder), QStringList());
    auto con = Connect(kind, Target(kind, kDbName));
    QCOMPARE(SourceCount(*con, QStringLiteral("T100")), 100);
  }

  void missingTableFailsBeforeAnyFile_data() {
    QTest::addColumn<int>("kind");
    AddKindRows();
  }
  void missingTableFailsBeforeAnyFile() {
    QFETCH(int, kind);
    START_OR_SKIP(kind);
    int rows = 0;
    try {
      Export(*exporter, kind, QStringLiteral("NO_SUCH_TABLE"), rows);
      QFAIL("a missing table must fail");
    } catch (const ENompackError& e) {
      QVERIFY2(e.Message().contains(QStringLiteral("NO_SUCH_TABLE"), Qt::CaseInsensitive),
               qPrintable(e.FullText()));
      QVERIFY2(e.FullText().contains(QStringLiteral("counting the rows of NO_SUCH_TABLE")),
               qPrintable(e.FullText()));
    }
    QCOMPARE(FStatements, QStringList());
    QCOMPARE(FilesIn(FFolder), QStringList());
    QCOMPARE(FView->Calls.size(), 0);
  }

  // Another session deletes and inserts rows while the export is between
  // chunks: the chunk files hold the table as it was when its read began,
  // not half of either, and the after-check has nothing to say.
  void changesDuringTheExportAreNotSeen_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("rowsAfter");
    for (int kind : {int(kMySQL), int(kFireBird)}) {
      QTest::addRow("%s: rows of chunks 1 and 3 deleted", qPrintable(KindName(kind)))
          << kind << "TDEL"
          << "DELETE FROM TDEL WHERE ID IN (1, 110)" << 118;
      QTest::addRow("%s: rows inserted before and after", qPrintable(KindName(kind)))
          << kind << "TINS"
          << "INSERT INTO TINS (ID, NAME) SELECT ID + 1000, NAME FROM TINS WHERE ID <= 2" << 122;
    }
  }
  void changesDuringTheExportAreNotSeen() {
    QFETCH(int, kind);
    QFETCH(QString, table);
    QFETCH(QString, statement);
    QFETCH(int, rowsAfter);
    START_OR_SKIP(kind);
    auto other = Connect(kind, Target(kind, kDbName));
    const auto before = SourceRows(*other, table);
    QCOMPARE(before.size(), 120);
    // The recorder's progress call comes after each chunk is on disk.
    int changes = 0;
    FView->OnProgress = [&] {
      if (changes++ != 0) return;
      other->Execute(statement);
      if (other->SupportsTransactions()) other->CommitRetaining();
    };
    int rows = 0;
    try {
      Export(*exporter, kind, table, rows);
    } catch (const ENompackError& e) {
      QFAIL(qPrintable(e.FullText()));
    }
    QCOMPARE(rows, 120);
    QCOMPARE(ChunkRowCounts(FFolder, table), (QList<int>{50, 50, 20}));
    QCOMPARE(ChunkRows(FFolder, table), before);
    auto fresh = Connect(kind, Target(kind, kDbName));
    QCOMPARE(SourceCount(*fresh, table), rowsAfter);
  }
};

QTEST_GUILESS_MAIN(TestExport)
#include "test_export.moc"
