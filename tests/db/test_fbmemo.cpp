// Firebird memo values (text blobs of three character sets, binary blobs)
// read by a cursor, where short values come with their row and long ones as
// blobs, and written by a batch insert: the same values, byte for byte, as
// one statement per row reads and writes them, over both session character
// sets, at and around the lengths where a value stops coming with its row.
#include <QCoreApplication>
#include <QFile>
#include <QtTest>

#include "ClientDataSet.h"
#include "Connections.h"
#include "NompackError.h"
#include "TestEnv.h"

namespace {

const QString kServer = QStringLiteral("Firebird 127.0.0.1:3050");

QStringList Dpb(const QString& charset) {
  return {QStringLiteral("user_name=sysdba"), QStringLiteral("password=pondglass"),
          QStringLiteral("lc_ctype=") + charset};
}
const QStringList kTpb = {QStringLiteral("read_committed"), QStringLiteral("rec_version"),
                          QStringLiteral("wait")};

// Byte lengths around every limit a memo column can have: 8000 bytes for a
// table's only memo, 2000 for one of four, a quarter of either where the
// server converts the value to a UTF8 session; a value far beyond them all.
const QList<int> kLengths = {0, 1, 499, 500, 501, 1999, 2000, 2001, 7999, 8000, 8001, 9000, 40000};

QString Text(int length, bool cyrillic) {
  const QString pattern = cyrillic ? QStringLiteral("Аспирин „Здраве“ №7 ёЯ\r\n")
                                   : QStringLiteral("Aspirin 500 mg; tabl.\r\n");
  QString s;
  while (s.size() < length) s += pattern;
  return s.left(length);
}

QByteArray Bytes(int length) {
  QByteArray b(length, '\0');
  for (int i = 0; i < length; ++i) b[i] = static_cast<char>((i * 7 + length) % 256);
  return b;
}

// The table's rows by ID: every length in Cyrillic and in ASCII, a row of
// NULLs and one of empty values.
struct TMemoRow {
  int Id;
  Variant Text;
  Variant Binary;
};
QVector<TMemoRow> MemoRows() {
  QVector<TMemoRow> rows;
  int id = 0;
  for (bool cyrillic : {true, false})
    for (int length : kLengths)
      rows.append(
          {++id, Variant::FromString(Text(length, cyrillic)), Variant::FromBytes(Bytes(length))});
  rows.append({++id, Variant::Null(), Variant::Null()});
  rows.append({++id, Variant::FromString(QString()), Variant::FromBytes(QByteArray())});
  return rows;
}

QString Describe(const Variant& v) {
  if (v.IsNull()) return QStringLiteral("NULL");
  if (v.VarType() == Variant::Type::Bytes)
    return QStringLiteral("%1 bytes").arg(v.BytesRef().size());
  const QString s = v.ToString();
  return QStringLiteral("%1 chars \"%2\"").arg(s.size()).arg(s.left(20));
}

// The first difference of two results (field definitions, types, values).
QString Difference(const TClientDataSet& expected, const TClientDataSet& actual) {
  if (expected.FieldDefs() != actual.FieldDefs()) return QStringLiteral("field definitions");
  if (expected.RecordCount() != actual.RecordCount())
    return QStringLiteral("%1 rows, expected %2")
        .arg(actual.RecordCount())
        .arg(expected.RecordCount());
  for (int r = 0; r < expected.RecordCount(); ++r)
    for (int f = 0; f < expected.FieldCount(); ++f) {
      const Variant& e = expected.Rows()[r][f];
      const Variant& a = actual.Rows()[r][f];
      if (!(e == a) || e.VarType() != a.VarType() || e.IsNull() != a.IsNull())
        return QStringLiteral("row %1 %2: got %3, expected %4")
            .arg(r + 1)
            .arg(expected.FieldDef(f).Name, Describe(a), Describe(e));
    }
  return QString();
}

std::unique_ptr<TClientDataSet> ReadAll(ICursor& cursor) {
  auto all = std::make_unique<TClientDataSet>();
  for (const TFieldDef& def : cursor.FieldDefs()) all->AddFieldDef(def);
  QVector<Variant> values;
  while (cursor.Next(values)) all->MutableRows().append(values);
  all->Open();
  return all;
}

}  // namespace

class TestFBMemo : public QObject {
  Q_OBJECT

  QString FDatabase;
  QString FWhyNot;

  std::unique_ptr<IConnection> Connect(const QString& charset) {
    auto con = OpenFirebird(FDatabase, Dpb(charset), kTpb);
    con->StartTransaction();
    return con;
  }

  // The rows through one plain insert per row (each blob written on its
  // own).
  void Fill(IConnection& con, const QString& table, bool fourMemos) {
    const QString sql =
        fourMemos
            ? QStringLiteral("INSERT INTO %1 (ID, M, MU, MN, B) VALUES (:ID, :M, :MU, :MN, :B)")
            : QStringLiteral("INSERT INTO %1 (ID, M) VALUES (:ID, :M)");
    for (const TMemoRow& row : MemoRows()) {
      TParams params{{QStringLiteral("ID"), ftInteger, Variant::FromInt(row.Id)},
                     {QStringLiteral("M"), ftMemo, row.Text}};
      if (fourMemos)
        params << TParam{QStringLiteral("MU"), ftMemo, row.Text}
               << TParam{QStringLiteral("MN"), ftMemo, row.Text}
               << TParam{QStringLiteral("B"), ftBlob, row.Binary};
      con.Execute(sql.arg(table), params);
    }
  }

 private slots:
  void initTestCase() {
    const QString file =
        QStringLiteral("/tmp/nompack-fb/fbmemo-%1.fdb").arg(QCoreApplication::applicationPid());
    FDatabase = QStringLiteral("127.0.0.1:") + file;
    GUARDED(
        try {
          if (QFile::exists(file)) DropFirebirdDatabase(FDatabase, Dpb(QStringLiteral("WIN1251")));
          CreateFirebirdDatabase(FDatabase, Dpb(QStringLiteral("WIN1251")),
                                 QStringLiteral("WIN1251"));
        } catch (const ENompackError& e) {
          FWhyNot = e.Message();
          FDatabase.clear();
        } if (FDatabase.isEmpty()) return;
        auto con = Connect(QStringLiteral("WIN1251")); con->Execute(QStringLiteral(
            "CREATE TABLE FBM (ID INTEGER NOT NULL PRIMARY KEY, M BLOB SUB_TYPE TEXT, "
            "MU BLOB SUB_TYPE TEXT CHARACTER SET UTF8, MN BLOB SUB_TYPE TEXT CHARACTER SET "
            "NONE, B BLOB SUB_TYPE BINARY, V VARCHAR(20))"));
        con->Execute(QStringLiteral(
            "CREATE TABLE FBM1 (ID INTEGER NOT NULL PRIMARY KEY, M BLOB SUB_TYPE TEXT)"));
        con->CommitRetaining(); Fill(*con, QStringLiteral("FBM"), true);
        Fill(*con, QStringLiteral("FBM1"), false); con->Commit();)
  }

  // What the server holds of a table, byte for byte: per memo column whether
  // it is NULL, its length in bytes and a hash of them.
  static QStringList Stored(IConnection& con, const QString& table) {
    QStringList columns;
    for (const char* c : {"M", "MU", "MN", "B"})
      columns << QStringLiteral("IIF(%1 IS NULL, 'NULL', OCTET_LENGTH(%1) || '/' || HASH(%1))")
                     .arg(QString::fromLatin1(c));
    const auto ds = con.Open(QStringLiteral("SELECT ID, %1 FROM %2 ORDER BY ID")
                                 .arg(columns.join(QStringLiteral(", ")), table));
    QStringList rows;
    for (const auto& row : ds->Rows()) {
      QStringList values;
      for (const Variant& v : row) values << v.ToString();
      rows << values.join(QLatin1Char('|'));
    }
    return rows;
  }

  void cleanupTestCase() {
    if (!FDatabase.isEmpty()) DropFirebirdDatabase(FDatabase, Dpb(QStringLiteral("WIN1251")));
  }

  void cursorReadsMemosAsOneStatementPerRow_data() {
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QString>("select");
    QTest::addColumn<bool>("rewritten");
    for (const char* charset : {"WIN1251", "UTF8"}) {
      const QString cs = QString::fromLatin1(charset);
      QTest::addRow("%s, four memo columns", charset)
          << cs << QStringLiteral("SELECT T.* FROM FBM T") << true;
      QTest::addRow("%s, one memo column", charset)
          << cs << QStringLiteral("SELECT T.* FROM FBM1 T") << true;
      QTest::addRow("%s, ordered, ending in a semicolon", charset)
          << cs << QStringLiteral("SELECT ID, B, M FROM FBM ORDER BY ID DESC;") << true;
      QTest::addRow("%s, ending in a comment", charset)
          << cs << QStringLiteral("SELECT ID, MU FROM FBM ORDER BY ID -- oldest first") << true;
      QTest::addRow("%s, a common table expression", charset)
          << cs << QStringLiteral("WITH X AS (SELECT ID, M FROM FBM1) SELECT * FROM X") << true;
      // Statements the rewrite leaves alone read their memos as blobs.
      QTest::addRow("%s, a memo computed by the statement", charset)
          << cs << QStringLiteral("SELECT ID, M || '' AS E FROM FBM1") << false;
      QTest::addRow("%s, a comment after the semicolon", charset)
          << cs << QStringLiteral("SELECT ID, M FROM FBM1; -- all") << false;
      QTest::addRow("%s, for update", charset)
          << cs << QStringLiteral("SELECT ID, M FROM FBM1 FOR UPDATE") << false;
    }
  }

  // The rows a cursor reads are the rows one statement reading every blob
  // on its own gives; the server runs the rewritten statement.
  void cursorReadsMemosAsOneStatementPerRow() {
    NOMPACK_REQUIRE_SERVER(!FDatabase.isEmpty(), kServer + QStringLiteral(": ") + FWhyNot);
    QFETCH(QString, charset);
    QFETCH(QString, select);
    QFETCH(bool, rewritten);
    GUARDED(
        auto con = Connect(charset); const auto expected = con->Open(select);
        QCOMPARE(expected->RecordCount(), MemoRows().size()); auto cursor = con->OpenCursor(select);
        QCOMPARE(cursor->FieldDefs(), expected->FieldDefs()); QVector<Variant> first;
        QVERIFY(cursor->Next(first));
        // Every statement the session holds prepared is listed, the one that
        // asks among them: its own text must not match.
        const auto running = con->Open(QStringLiteral(
            "SELECT COUNT(*) FROM MON$STATEMENTS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION "
            "AND MON$SQL_TEXT CONTAINING 'OCTET' || '_LENGTH'"));
        QCOMPARE(running->Value(0).ToInt32(), rewritten ? 1 : 0); auto read = ReadAll(*cursor);
        read->MutableRows().prepend(first); const QString difference = Difference(*expected, *read);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));)
  }

  // The values themselves, as stored: what a cursor reads of every length is
  // the text and the bytes inserted (the Windows-1251 and UTF8 columns in
  // either session; the NONE column holds the bytes of the session that
  // wrote it).
  void cursorReadsTheStoredValues_data() {
    QTest::addColumn<QString>("charset");
    QTest::newRow("WIN1251") << QStringLiteral("WIN1251");
    QTest::newRow("UTF8") << QStringLiteral("UTF8");
  }
  void cursorReadsTheStoredValues() {
    NOMPACK_REQUIRE_SERVER(!FDatabase.isEmpty(), kServer + QStringLiteral(": ") + FWhyNot);
    QFETCH(QString, charset);
    GUARDED(auto con = Connect(charset);
            auto cursor = con->OpenCursor(QStringLiteral("SELECT ID, M, MU, MN, B FROM FBM"));
            const auto read = ReadAll(*cursor); const QVector<TMemoRow> rows = MemoRows();
            QCOMPARE(read->RecordCount(), rows.size()); for (const auto& values
                                                             : read->Rows()) {
              const TMemoRow& row = rows[values[0].ToInt32() - 1];
              for (int c : {1, 2}) {
                QVERIFY2(values[c].IsNull() == row.Text.IsNull() &&
                             values[c].ToString() == row.Text.ToString(),
                         qPrintable(QStringLiteral("ID %1 column %2: %3, expected %4")
                                        .arg(row.Id)
                                        .arg(c)
                                        .arg(Describe(values[c]), Describe(row.Text))));
              }
              if (charset == QLatin1String("WIN1251")) QCOMPARE(values[3], values[1]);
              QCOMPARE(values[4].IsNull(), row.Binary.IsNull());
              if (!row.Binary.IsNull()) QCOMPARE(values[4].ToBytes(), row.Binary.ToBytes());
            })
  }
  void batchWritesMemosAsOneStatementPerRow_data() {
    QTest::addColumn<QString>("charset");
    QTest::addColumn<int>("batchRows");
    for (const char* charset : {"WIN1251", "UTF8"}) {
      const QString cs = QString::fromLatin1(charset);
      QTest::addRow("%s, one batch", charset) << cs << 50;
      QTest::addRow("%s, batches of 10 and a shorter last one", charset) << cs << 10;
    }
  }

  // A batch stores the memo values one insert per row stores, in the same
  // session: short values through their VARCHAR parameter, longer ones as
  // blobs, NULL and empty apart, Cyrillic converted to each column's set.
  void batchWritesMemosAsOneStatementPerRow() {
    NOMPACK_REQUIRE_SERVER(!FDatabase.isEmpty(), kServer + QStringLiteral(": ") + FWhyNot);
    QFETCH(QString, charset);
    QFETCH(int, batchRows);
    GUARDED(
        auto con = Connect(charset); const QString one = QStringLiteral("FBW_ONE_") + charset;
        const QString batched = QStringLiteral("FBW_BATCH_%1_%2").arg(charset).arg(batchRows);
        for (const QString& table
             : {one, batched}) {
          con->Execute(QStringLiteral("RECREATE TABLE %1 (ID INTEGER NOT NULL PRIMARY KEY, "
                                      "M BLOB SUB_TYPE TEXT, MU BLOB SUB_TYPE TEXT CHARACTER SET "
                                      "UTF8, MN BLOB SUB_TYPE TEXT CHARACTER SET NONE, "
                                      "B BLOB SUB_TYPE BINARY)")
                           .arg(table));
        } con->CommitRetaining();
        Fill(*con, one, true);
        const QStringList columns{QStringLiteral("ID"), QStringLiteral("M"), QStringLiteral("MU"),
                                  QStringLiteral("MN"), QStringLiteral("B")};
        auto batch = con->PrepareBatchInsert(batched, columns, batchRows);
        QCOMPARE(batch->MaxBatchRows(), batchRows); QVector<TParams> rows; for (const TMemoRow& row
                                                                                : MemoRows()) {
          rows.append({{QStringLiteral("ID"), ftInteger, Variant::FromInt(row.Id)},
                       {QStringLiteral("M"), ftMemo, row.Text},
                       {QStringLiteral("MU"), ftMemo, row.Text},
                       {QStringLiteral("MN"), ftMemo, row.Text},
                       {QStringLiteral("B"), ftBlob, row.Binary}});
          if (rows.size() == batchRows) {
            batch->ExecuteBatch(rows);
            rows.clear();
          }
        } batch->ExecuteBatch(rows);
        con->Commit(); auto reader = Connect(QStringLiteral("WIN1251"));
        const QStringList expected = Stored(*reader, one);
        QCOMPARE(expected.size(), MemoRows().size()); QCOMPARE(Stored(*reader, batched), expected);
        // And as the session reads them back.
        const QString select = QStringLiteral("SELECT M, MU, MN, B FROM %1 ORDER BY ID");
        auto again = Connect(charset);
        const QString difference =
            Difference(*again->Open(select.arg(one)), *again->Open(select.arg(batched)));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));)
  }

  // A row the server refuses in a batch of memos refuses the batch alone:
  // the batches before and after it keep their values.
  void refusedBatchWithMemos() {
    NOMPACK_REQUIRE_SERVER(!FDatabase.isEmpty(), kServer + QStringLiteral(": ") + FWhyNot);
    GUARDED(
        auto con = Connect(QStringLiteral("WIN1251"));
        con->Execute(QStringLiteral("RECREATE TABLE FBW_REFUSED (ID INTEGER NOT NULL PRIMARY KEY, "
                                    "M BLOB SUB_TYPE TEXT NOT NULL)"));
        con->CommitRetaining();
        auto batch = con->PrepareBatchInsert(QStringLiteral("FBW_REFUSED"),
                                             {QStringLiteral("ID"), QStringLiteral("M")}, 3);
        auto rowOf =
            [](int id, const Variant& memo) {
              return TParams{{QStringLiteral("ID"), ftInteger, Variant::FromInt(id)},
                             {QStringLiteral("M"), ftMemo, memo}};
            };
        const Variant shortMemo = Variant::FromString(Text(300, true));
        const Variant longMemo = Variant::FromString(Text(9000, true));
        batch->ExecuteBatch({rowOf(1, shortMemo), rowOf(2, longMemo), rowOf(3, shortMemo)}); try {
          batch->ExecuteBatch({rowOf(4, shortMemo), rowOf(5, Variant::Null()), rowOf(6, longMemo)});
          QFAIL("the server took a NULL memo for a required column");
        } catch (const ENompackError& e) {
          QCOMPARE(e.ErrorKind(), ENompackError::Kind::Server);
        } batch->ExecuteBatch({rowOf(7, longMemo), rowOf(8, shortMemo)});
        con->Commit(); auto reader = Connect(QStringLiteral("WIN1251"));
        const auto stored =
            reader->Open(QStringLiteral("SELECT ID, CHAR_LENGTH(M) FROM FBW_REFUSED ORDER BY ID"));
        QStringList got; for (const auto& row
                              : stored->Rows()) got
                         << row[0].ToString() + QLatin1Char(':') + row[1].ToString();
        QCOMPARE(got, QStringList({"1:300", "2:9000", "3:300", "7:9000", "8:300"}));)
  }
  // A wide table: a block of over 40 rows of 60 columns, three of them
  // memos, is a statement of over 150 KB with thousands of parameters; the
  // server takes it whole, with the values in it.
  void batchOfAWideTable() {
    NOMPACK_REQUIRE_SERVER(!FDatabase.isEmpty(), kServer + QStringLiteral(": ") + FWhyNot);
    GUARDED(
        auto con = Connect(QStringLiteral("WIN1251")); QStringList columns{QStringLiteral("ID")};
        QStringList ddl{QStringLiteral("ID INTEGER NOT NULL PRIMARY KEY")};
        for (int c = 1; c < 60; ++c) {
          const QString name = QStringLiteral("COLUMN_WITH_A_LONG_NAME_%1").arg(c);
          columns << name;
          ddl << name + (c % 20 == 0 ? QStringLiteral(" BLOB SUB_TYPE TEXT")
                                     : QStringLiteral(" VARCHAR(20)"));
        } con->Execute(QStringLiteral("RECREATE TABLE FBW_WIDE (%1)")
                           .arg(ddl.join(QStringLiteral(", "))));
        con->CommitRetaining();
        auto batch = con->PrepareBatchInsert(QStringLiteral("FBW_WIDE"), columns, 50);
        const int n = batch->MaxBatchRows(); QVERIFY(n > 40); QVector<TParams> rows;
        for (int id = 1; id <= n; ++id) {
          TParams row{{QStringLiteral("ID"), ftInteger, Variant::FromInt(id)}};
          for (int c = 1; c < 60; ++c)
            row.append({columns[c], c % 20 == 0 ? ftMemo : ftString,
                        Variant::FromString(c % 20 == 0 ? Text(id * 200, true)
                                                        : QStringLiteral("ред %1").arg(id))});
          rows.append(row);
        } batch->ExecuteBatch(rows);
        con->Commit(); auto reader = Connect(QStringLiteral("WIN1251"));
        const auto stored = reader->Open(QStringLiteral(
            "SELECT COUNT(*), SUM(CHAR_LENGTH(COLUMN_WITH_A_LONG_NAME_40)) FROM FBW_WIDE"));
        QCOMPARE(stored->Rows()[0][0].ToInt32(), n);
        QCOMPARE(stored->Rows()[0][1].ToInt64(), qint64(200) * n * (n + 1) / 2);)
  }
};

QTEST_GUILESS_MAIN(TestFBMemo)
#include "test_fbmemo.moc"
