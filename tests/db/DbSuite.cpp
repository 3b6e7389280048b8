// One database suite, run against each server through its test context:
// every mapped type stored with named parameters and read back exactly, the
// field definitions, the catalogue, errors, (Firebird) the transaction, the
// streaming cursor against Open, read snapshots and batched inserts.
#include <QCryptographicHash>
#include <QMap>
#include <QtTest>
#include <limits>

#include "DbTestContext.h"
#include "NompackError.h"
#include "TestEnv.h"

namespace {

using Row = QMap<QString, Variant>;

// 100 rows doubled five times.
constexpr int kBigRows = 3200;

QString Describe(const Variant& v) {
  if (v.VarType() == Variant::Type::Bytes)
    return QStringLiteral("Bytes[%1 %2]")
        .arg(v.BytesRef().size())
        .arg(QString::fromLatin1(
            QCryptographicHash::hash(v.BytesRef(), QCryptographicHash::Md5).toHex()));
  QString text =
      v.VarType() == Variant::Type::Double ? QString::number(v.ToDouble(), 'g', 17) : v.ToString();
  if (v.VarType() == Variant::Type::DateTime)
    text += QStringLiteral(" (%1)").arg(v.ToDouble(), 0, 'g', 17);
  if (text.size() > 80) text = text.left(40) + QStringLiteral("...(%1 chars)").arg(text.size());
  return Variant::TypeName(v.VarType()) + QLatin1Char(':') + text;
}

Variant Dec(const char* text) {
  return Variant::FromDecimal(QString::fromLatin1(text));
}
Variant Stamp(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return Variant::FromDateTime(DateTimeConv::Compose(QDate(y, mo, d), QTime(h, mi, s, ms)));
}
Variant TimeOf(int h, int mi, int s, int ms) {
  return Variant::FromDateTime(DateTimeConv::FromTime(QTime(h, mi, s, ms)));
}
Variant Str(const QString& s) {
  return Variant::FromString(s);
}

QByteArray AllBytes(int repeat) {
  QByteArray b;
  for (int r = 0; r < repeat; ++r)
    for (int i = 0; i < 256; ++i) b.append(static_cast<char>(i));
  return b;
}

QString LongMemo() {
  QString s;
  while (s.size() < 70000)
    s += QStringLiteral("Листовка: приемайте по 1 таблетка 3 пъти дневно; „Здраве“ №%1. ")
             .arg(s.size());
  return s;
}

// The rows the suite stores, by ID. Row 3 is all NULL; row 5 repeats row 1
// with every parameter's type left to the value.
QMap<int, Row> TestRows() {
  QMap<int, Row> rows;
  rows[1] =
      Row{{QStringLiteral("I"), Variant::FromInt(2147483647)},
          {QStringLiteral("SI"), Variant::FromInt(-32768, Variant::Type::Int16)},
          {QStringLiteral("TI"), Variant::FromInt(127, Variant::Type::Int16)},
          {QStringLiteral("BI"), Variant::FromInt64(std::numeric_limits<qint64>::max())},
          {QStringLiteral("V"), Str(QStringLiteral("Аспирин 500 мг „Здраве“ Ёё №7"))},
          {QStringLiteral("C"), Str(QStringLiteral("АБ"))},
          {QStringLiteral("N"), Dec("1234567890123.45")},
          {QStringLiteral("N4"), Dec("-12.34")},
          {QStringLiteral("N9"), Dec("123456.789")},
          {QStringLiteral("F"), Variant::FromDouble(0.1)},
          {QStringLiteral("D"), Stamp(1850, 3, 4)},
          {QStringLiteral("DT"), Stamp(1850, 3, 4, 12, 34, 56, 789)},
          {QStringLiteral("TM"), TimeOf(23, 59, 59, 999)},
          {QStringLiteral("M"), Str(LongMemo())},
          {QStringLiteral("B"), Variant::FromBytes(AllBytes(300))},
          {QStringLiteral("BO"), Variant::FromBool(true)},
          {QStringLiteral("VB"), Variant::FromBytes(QByteArray("\x00\x01\x7f\x80\xfe\xff", 6))}};
  rows[2] = Row{{QStringLiteral("I"), Variant::FromInt(std::numeric_limits<qint32>::min())},
                {QStringLiteral("SI"), Variant::FromInt(32767, Variant::Type::Int16)},
                {QStringLiteral("TI"), Variant::FromInt(-128, Variant::Type::Int16)},
                {QStringLiteral("BI"), Variant::FromInt64(std::numeric_limits<qint64>::min())},
                {QStringLiteral("V"), Str(QString())},
                {QStringLiteral("C"), Str(QStringLiteral("яЯ"))},
                {QStringLiteral("N"), Dec("-9999999999999.99")},
                {QStringLiteral("N4"), Dec("99.99")},
                {QStringLiteral("N9"), Dec("-999999.999")},
                {QStringLiteral("F"), Variant::FromDouble(-1.5e300)},
                {QStringLiteral("D"), Stamp(1601, 1, 1)},
                {QStringLiteral("DT"), Stamp(1700, 2, 28, 0, 0, 0, 1)},
                {QStringLiteral("TM"), TimeOf(0, 0, 0, 0)},
                {QStringLiteral("M"), Str(QStringLiteral("ред 1\r\nред 2\n\tкрай"))},
                {QStringLiteral("B"), Variant::FromBytes(QByteArray(1, '\0'))},
                {QStringLiteral("BO"), Variant::FromBool(false)},
                {QStringLiteral("VB"), Variant::FromBytes(QByteArray(16, '\xff'))}};
  rows[3] = Row{};
  rows[4] = Row{{QStringLiteral("I"), Variant::FromInt(0)},
                {QStringLiteral("BI"), Variant::FromInt64(4294967296LL)},
                {QStringLiteral("V"), Str(QStringLiteral("quote ' dq \" backslash \\ colon :X"))},
                {QStringLiteral("N"), Dec("0.01")},
                {QStringLiteral("N9"), Dec("0")},
                {QStringLiteral("F"), Variant::FromDouble(3.141592653589793)},
                {QStringLiteral("D"), Stamp(2024, 2, 29)},
                {QStringLiteral("DT"), Stamp(2024, 2, 29, 23, 59, 59, 999)},
                {QStringLiteral("TM"), TimeOf(12, 0, 0, 500)},
                {QStringLiteral("M"), Str(QString())}};
  rows[5] = rows[1];
  return rows;
}

}  // namespace

class DbSuite : public QObject {
  Q_OBJECT

  std::unique_ptr<DbTestContext> FContext = MakeDbTestContext();
  std::unique_ptr<IConnection> FCon;
  QVector<TTestColumn> FColumns;
  QMap<int, Row> FRows = TestRows();

  QString InsertSql() const {
    QStringList names{QStringLiteral("ID")}, markers{QStringLiteral(":ID")};
    for (const TTestColumn& c : FColumns) {
      names << c.Name;
      markers << QLatin1Char(':') + c.Name;
    }
    return QStringLiteral("INSERT INTO DBT_ALL (%1) VALUES (%2)")
        .arg(names.join(QStringLiteral(", ")), markers.join(QStringLiteral(", ")));
  }

  TParams ParamsOf(int id, bool declared) const {
    TParams params{{QStringLiteral("ID"), ftInteger, Variant::FromInt(id)}};
    const Row& row = FRows[id];
    for (const TTestColumn& c : FColumns)
      params.append(
          {c.Name, declared ? c.BindAs : ftUnknown, row.value(c.ValueOf, Variant::Null())});
    return params;
  }

  void CommitIfTransactional(IConnection& con) {
    if (con.SupportsTransactions()) con.CommitRetaining();
  }

  qint64 Count(IConnection& con, const QString& where) {
    const auto ds =
        con.Open(QStringLiteral("SELECT COUNT(*) AS CNT FROM DBT_SMALL WHERE ") + where);
    return ds->Value(0).ToInt64();
  }

  qint64 CountIn(IConnection& con, const QString& table) {
    return con.Open(QStringLiteral("SELECT COUNT(*) AS CNT FROM ") + table)->Value(0).ToInt64();
  }

  // Every row of a cursor, fetched `perFetch` rows at a time as the export
  // takes them.
  static std::unique_ptr<TClientDataSet> ReadAll(ICursor& cursor, int perFetch,
                                                 int* fetches = nullptr) {
    auto all = std::make_unique<TClientDataSet>();
    for (const TFieldDef& def : cursor.FieldDefs()) all->AddFieldDef(def);
    for (;;) {
      const auto part = cursor.FetchDataSet(perFetch);
      if (part->FieldDefs() != cursor.FieldDefs()) throw std::logic_error("fields changed");
      if (part->IsEmpty()) break;
      if (fetches) ++*fetches;
      for (const auto& row : part->Rows()) all->MutableRows().append(row);
    }
    all->Open();
    return all;
  }

  // The first difference of two results, empty when they are the same in
  // field definitions, value types and values.
  static QString Difference(const TClientDataSet& expected, const TClientDataSet& actual) {
    if (expected.FieldDefs() != actual.FieldDefs()) return QStringLiteral("field definitions");
    if (expected.RecordCount() != actual.RecordCount())
      return QStringLiteral("%1 rows, expected %2")
          .arg(actual.RecordCount())
          .arg(expected.RecordCount());
    for (int r = 0; r < expected.RecordCount(); ++r)
      for (int f = 0; f < expected.FieldCount(); ++f) {
        const Variant& e = expected.Rows()[r][f];
        const Variant& a = actual.Rows()[r][f];
        if (!(e == a) || Describe(e) != Describe(a))
          return QStringLiteral("row %1 %2: got %3, expected %4")
              .arg(r + 1)
              .arg(expected.FieldDef(f).Name, Describe(a), Describe(e));
      }
    return QString();
  }

  // Ends a transaction of the session: Firebird keeps its own running,
  // MySQL's is one the test began by statement.
  void CommitWork(IConnection& con, bool mysqlTransaction) {
    if (con.SupportsTransactions())
      con.CommitRetaining();
    else if (mysqlTransaction)
      con.Execute(QStringLiteral("COMMIT"));
  }

  // MySQL runs each statement on its own unless a transaction is begun.
  bool BeginWorkIfMySQL(IConnection& con) {
    if (!FContext->ServerName().startsWith(QLatin1String("MariaDB"))) return false;
    con.Execute(QStringLiteral("START TRANSACTION"));
    return true;
  }

  TParams SmallRow(int id, const Variant& name) const {
    return {{QStringLiteral("ID"), ftInteger, Variant::FromInt(id)},
            {QStringLiteral("NAME"), ftString, name},
            {QStringLiteral("AMOUNT"), ftBCD, Variant::FromDecimal(QString::number(id) + ".25")}};
  }

 private slots:
  void initTestCase() {
    GUARDED(
        QString whyNot; FCon = FContext->Connect(whyNot); NOMPACK_REQUIRE_SERVER(
            FCon != nullptr, FContext->ServerName() + QStringLiteral(": ") + whyNot);
        FColumns = FContext->Columns();
        QStringList defs{QStringLiteral("ID ") + FContext->IdType()};
        for (const TTestColumn& c
             : FColumns) defs
        << c.Name + QLatin1Char(' ') + c.SqlType;
        FCon->Execute(QStringLiteral("CREATE TABLE DBT_ALL (%1)%2")
                          .arg(defs.join(QStringLiteral(", ")), FContext->TableSuffix()));
        FCon->Execute(QStringLiteral("CREATE TABLE DBT_SMALL (ID %1, NAME VARCHAR(20))%2")
                          .arg(FContext->IdType(), FContext->TableSuffix()));
        FCon->Execute(
            QStringLiteral("CREATE TABLE DBTXALL (ID %1, OTHER INTEGER)").arg(FContext->IdType()));
        FCon->Execute(QStringLiteral("CREATE VIEW DBT_VIEW AS SELECT ID, V FROM DBT_ALL"));
        FCon->Execute(QStringLiteral("CREATE TABLE DBT_COPY (%1)%2")
                          .arg(defs.join(QStringLiteral(", ")), FContext->TableSuffix()));
        for (const QString& name
             : {QStringLiteral("DBT_BIG"), QStringLiteral("DBT_SNAP"), QStringLiteral("DBT_BATCH")})
            FCon->Execute(
                QStringLiteral("CREATE TABLE %1 (ID %2, NAME VARCHAR(100) NOT NULL, AMOUNT "
                               "NUMERIC(15,2))%3")
                    .arg(name, FContext->IdType(), FContext->TableSuffix()));
        CommitIfTransactional(*FCon);

        // Rows 1-3 through one-off statements, 4 and 5 through one prepared statement.
        for (int id
             : {1, 2, 3}) FCon->Execute(InsertSql(), ParamsOf(id, true));
        const auto insert = FCon->Prepare(InsertSql()); insert->Execute(ParamsOf(4, true));
        insert->Execute(ParamsOf(5, false)); CommitIfTransactional(*FCon);

        // DBT_BIG: kBigRows rows, more than one fetch buffer holds.
        const auto big = FCon->Prepare(
            QStringLiteral("INSERT INTO DBT_BIG (ID, NAME, AMOUNT) VALUES (:ID, :NAME, :AMOUNT)"));
        for (int id = 1; id <= 100; ++id) big->Execute(SmallRow(
            id, Str(QStringLiteral("Парацетамол 500 мг таблетки №%1 „Здраве“ Ёё").arg(id))));
        for (int n = 100; n < kBigRows; n *= 2) FCon->Execute(
            QStringLiteral("INSERT INTO DBT_BIG (ID, NAME, AMOUNT) SELECT ID + %1, NAME, AMOUNT + "
                           "%1 FROM DBT_BIG")
                .arg(n));
        CommitIfTransactional(*FCon);)
  }

  void cleanupTestCase() {
    GUARDED(if (!FCon) return; FCon->Close(); FCon.reset(); FContext->DropDatabase();)
  }

  void roundTrip_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("withParams");
    for (int id : FRows.keys()) {
      QTest::addRow("row %d, plain statement", id) << id << false;
      QTest::addRow("row %d, with parameters", id) << id << true;
    }
  }

  void roundTrip() {
    GUARDED(QFETCH(int, id); QFETCH(bool, withParams); QStringList names{QStringLiteral("ID")};
            for (const TTestColumn& c
                 : FColumns) names
            << c.Name;
            const QString select = QStringLiteral("SELECT %1 FROM DBT_ALL WHERE ID = ")
                                       .arg(names.join(QStringLiteral(", ")));
            const auto ds =
                withParams ? FCon->Open(select + QStringLiteral(":ID"),
                                        {{QStringLiteral("id"), ftInteger, Variant::FromInt(id)}})
                           : FCon->Open(select + QString::number(id));
            QCOMPARE(ds->RecordCount(), 1);
            QCOMPARE(ds->FieldByName(QStringLiteral("ID")).ToInt32(), id);
            const Row& row = FRows[id]; for (const TTestColumn& c
                                             : FColumns) {
              const Variant expected =
                  FContext->ExpectedValue(c, row.value(c.ValueOf, Variant::Null()));
              const Variant& actual = ds->FieldByName(c.Name);
              QVERIFY2(actual == expected,
                       qPrintable(QStringLiteral("column %1: got %2, expected %3")
                                      .arg(c.Name, Describe(actual), Describe(expected))));
              // Values come back in the form their field type holds.
              QVERIFY2(
                  actual == CoerceToFieldType(actual, ds->FieldDef(ds->FieldIndex(c.Name))),
                  qPrintable(QStringLiteral("column %1 holds %2").arg(c.Name, Describe(actual))));
            })
  }

  void fieldDefinitions() {
    GUARDED(
        const auto ds = FCon->Open(QStringLiteral("SELECT * FROM DBT_ALL WHERE ID = 1"));
        QCOMPARE(ds->FieldCount(), FColumns.size() + 1);
        QCOMPARE(ds->FieldDef(0).DataType, ftInteger); for (const TTestColumn& c
                                                            : FColumns) {
          const TFieldDef& def = ds->FieldDef(ds->FieldIndex(c.Name));
          QCOMPARE(def.Name, c.Name);
          QVERIFY2(
              def.DataType == c.Expected.DataType && def.Size == c.Expected.Size &&
                  def.Precision == c.Expected.Precision,
              qPrintable(QStringLiteral(
                             "%1 %2: got %3 size %4 precision %5, expected %6 size %7 precision %8")
                             .arg(c.Name, c.SqlType, FieldTypeName(def.DataType))
                             .arg(def.Size)
                             .arg(def.Precision)
                             .arg(FieldTypeName(c.Expected.DataType))
                             .arg(c.Expected.Size)
                             .arg(c.Expected.Precision)));
        })
  }

  void emptyResultKeepsFields() {
    GUARDED(const auto ds = FCon->Open(QStringLiteral("SELECT ID, V FROM DBT_ALL WHERE ID < 0"));
            QCOMPARE(ds->RecordCount(), 0); QVERIFY(ds->Eof()); QCOMPARE(ds->FieldCount(), 2);
            QCOMPARE(ds->FieldDef(1).DataType, ftString);)
  }

  void cursorReadsWhatOpenReads_data() {
    QTest::addColumn<QString>("select");
    QTest::addColumn<int>("perFetch");
    QTest::addColumn<bool>("withParams");
    QTest::addRow("every type, one row a fetch")
        << QStringLiteral("SELECT * FROM DBT_ALL ORDER BY ID") << 1 << false;
    QTest::addRow("every type, all rows in one fetch")
        << QStringLiteral("SELECT * FROM DBT_ALL ORDER BY ID") << 50 << false;
    QTest::addRow("every type, with parameters")
        << QStringLiteral("SELECT * FROM DBT_ALL WHERE ID >= :LO ORDER BY ID") << 2 << true;
    QTest::addRow("no rows") << QStringLiteral("SELECT ID, V FROM DBT_ALL WHERE ID < 0") << 50
                             << false;
    QTest::addRow("bigger than one fetch buffer")
        << QStringLiteral("SELECT * FROM DBT_BIG ORDER BY ID") << 50 << false;
  }

  void cursorReadsWhatOpenReads() {
    GUARDED(
        QFETCH(QString, select); QFETCH(int, perFetch); QFETCH(bool, withParams);
        const TParams params = withParams
                                   ? TParams{{QStringLiteral("LO"), ftInteger, Variant::FromInt(2)}}
                                   : TParams{};
        const auto opened = FCon->Open(select, params);
        auto cursor = FCon->OpenCursor(select, params);
        QCOMPARE(cursor->FieldDefs(), opened->FieldDefs()); int fetches = 0;
        const auto read = ReadAll(*cursor, perFetch, &fetches);
        const QString difference = Difference(*opened, *read);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QCOMPARE(fetches, (opened->RecordCount() + perFetch - 1) / perFetch);
        // Past its end a cursor stays at its end, and the session is free.
        QVector<Variant> values; QVERIFY(!cursor->Next(values)); cursor->Close(); QCOMPARE(
            FCon->Open(QStringLiteral("SELECT ID FROM DBT_ALL WHERE ID = 1"))->RecordCount(), 1);)
  }

  void cursorClosedEarlyFreesTheSession() {
    GUARDED(auto cursor = FCon->OpenCursor(QStringLiteral("SELECT * FROM DBT_BIG ORDER BY ID"));
            const auto first = cursor->FetchDataSet(10); QCOMPARE(first->RecordCount(), 10);
            QCOMPARE(first->Value(0).ToInt32(), 1);
            // A MySQL session streams one result at a time: another statement
            // meanwhile is refused in plain words, not with the session's
            // protocol broken.
            if (FContext->ServerName().startsWith(QLatin1String("MariaDB"))) {
              try {
                FCon->Open(QStringLiteral("SELECT COUNT(*) FROM DBT_BIG"));
                QFAIL("a statement ran while a result was streaming");
              } catch (const ENompackError& e) {
                QVERIFY2(e.Message().contains(QStringLiteral("open cursor")),
                         qPrintable(e.Message()));
              }
            } cursor->Close();
            QVERIFY(cursor->FetchDataSet(10)->IsEmpty());
            QCOMPARE(CountIn(*FCon, QStringLiteral("DBT_BIG")), qint64(kBigRows));
            // A cursor left open when its session closes is released with it.
            auto other = FContext->ConnectAgain();
            auto orphan = other->OpenCursor(QStringLiteral("SELECT * FROM DBT_BIG"));
            QVERIFY(!orphan->FetchDataSet(5)->IsEmpty()); other->Close(); orphan.reset();)
  }

  void readSnapshot_data() {
    QTest::addColumn<bool>("changeWhileReading");
    QTest::addRow("changed before the first read") << false;
    QTest::addRow("changed while the rows stream") << true;
  }

  // Another session deletes the last rows and adds new ones after the read
  // began: every read of the snapshot sees the table as it was.
  void readSnapshot() {
    GUARDED(
        QFETCH(bool, changeWhileReading); auto other = FContext->ConnectAgain();
        other->Execute(QStringLiteral("DELETE FROM DBT_SNAP"));
        other->Execute(QStringLiteral("INSERT INTO DBT_SNAP SELECT ID, NAME, AMOUNT FROM DBT_BIG"));
        CommitIfTransactional(*other); CommitIfTransactional(*FCon);
        const auto before = FCon->Open(QStringLiteral("SELECT * FROM DBT_SNAP ORDER BY ID"));
        auto change =
            [&] {
              other->Execute(QStringLiteral("DELETE FROM DBT_SNAP WHERE ID > 3000"));
              other->Execute(QStringLiteral(
                  "INSERT INTO DBT_SNAP (ID, NAME, AMOUNT) VALUES (9001, 'нов', 1)"));
              CommitIfTransactional(*other);
            };
        if (!FCon->BeginReadSnapshot()) {
          QVERIFY(!FCon->InReadSnapshot());
          QSKIP("this connection gives no read snapshot");
        } QVERIFY(FCon->InReadSnapshot());
        auto cursor = FCon->OpenCursor(QStringLiteral("SELECT * FROM DBT_SNAP ORDER BY ID"));
        auto read = std::make_unique<TClientDataSet>(); if (changeWhileReading) {
          const auto head = cursor->FetchDataSet(10);
          QCOMPARE(head->RecordCount(), 10);
          change();
          const auto rest = ReadAll(*cursor, 50);
          for (const TFieldDef& def : head->FieldDefs()) read->AddFieldDef(def);
          read->MutableRows() = head->Rows() + rest->Rows();
          read->Open();
        } else {
          change();
          read = ReadAll(*cursor, 50);
        } QString difference = Difference(*before, *read);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        // A second table read later in the same snapshot: still as it was.
        auto again = FCon->OpenCursor(QStringLiteral("SELECT * FROM DBT_SNAP ORDER BY ID"));
        difference = Difference(*before, *ReadAll(*again, 50));
        QVERIFY2(difference.isEmpty(), qPrintable(difference)); FCon->EndReadSnapshot();
        QVERIFY(!FCon->InReadSnapshot()); CommitIfTransactional(*FCon);
        auto after = FCon->OpenCursor(QStringLiteral("SELECT ID FROM DBT_SNAP ORDER BY ID"));
        const auto now = ReadAll(*after, 1000); QCOMPARE(now->RecordCount(), 3001);
        QCOMPARE(now->Rows().last()[0].ToInt32(), 9001);)
  }

  void batchInsertStoresEveryType() {
    GUARDED(
        QStringList columns{QStringLiteral("ID")}; for (const TTestColumn& c
                                                        : FColumns) columns
                                                   << c.Name;
        auto batch = FCon->PrepareBatchInsert(QStringLiteral("DBT_COPY"), columns, 100);
        QVERIFY(batch->MaxBatchRows() >= 1); QVector<TParams> rows;
        for (int id = 1; id <= 5; ++id) {
          TParams row = ParamsOf(id, true);
          rows.append(row);
          if (rows.size() == batch->MaxBatchRows()) {
            batch->ExecuteBatch(rows);
            rows.clear();
          }
        } batch->ExecuteBatch(rows);
        CommitIfTransactional(*FCon);
        const QString select = QStringLiteral("SELECT %1 FROM %2 WHERE ID <= 5 ORDER BY ID");
        const auto original =
            FCon->Open(select.arg(columns.join(QStringLiteral(", ")), QStringLiteral("DBT_ALL")));
        const auto copy =
            FCon->Open(select.arg(columns.join(QStringLiteral(", ")), QStringLiteral("DBT_COPY")));
        const QString difference = Difference(*original, *copy);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));

        // A row whose values are not in column order would land in the wrong
        // columns: it is refused before anything is sent.
        TParams swapped = ParamsOf(1, true);
        swapped[0].Value = Variant::FromInt(99); std::swap(swapped[1], swapped[2]); try {
          batch->ExecuteBatch({swapped});
          QFAIL("a row out of column order was sent");
        } catch (const ENompackError& e) {
          QCOMPARE(e.ErrorKind(), ENompackError::Kind::Assertion);
        } QCOMPARE(FCon->Open(QStringLiteral("SELECT ID FROM DBT_COPY WHERE ID = 99"))
                       ->RecordCount(),
                   0);)
  }

  void refusedBatchUndoesOnlyItself_data() {
    QTest::addColumn<int>("refusal");
    QTest::addRow("a key that is there already") << 0;
    QTest::addRow("NULL for a required column") << 1;
  }

  // Inside one transaction: a batch with one bad row in its middle stores
  // none of its rows; the batches before and after it stay.
  void refusedBatchUndoesOnlyItself() {
    GUARDED(
        QFETCH(int, refusal); FCon->Execute(QStringLiteral("DELETE FROM DBT_BATCH"));
        CommitIfTransactional(*FCon);
        auto batch = FCon->PrepareBatchInsert(
            QStringLiteral("DBT_BATCH"),
            {QStringLiteral("ID"), QStringLiteral("NAME"), QStringLiteral("AMOUNT")}, 10);
        const int size = batch->MaxBatchRows(); QVERIFY(size == 10 || size == 1);
        auto rowsFrom =
            [&](int first) {
              QVector<TParams> rows;
              for (int id = first; id < first + size; ++id)
                rows.append(SmallRow(id, Str(QStringLiteral("ред %1").arg(id))));
              return rows;
            };
        const bool mysqlTransaction = BeginWorkIfMySQL(*FCon); batch->ExecuteBatch(rowsFrom(1));
        QVector<TParams> bad = rowsFrom(size + 1);
        TParam& badParam = refusal == 0 ? bad[size / 2][0] : bad[size / 2][1];
        badParam.Value = refusal == 0 ? Variant::FromInt(1) : Variant::Null(); try {
          batch->ExecuteBatch(bad);
          QFAIL("the server took a bad row");
        } catch (const ENompackError& e) {
          QCOMPARE(e.ErrorKind(), ENompackError::Kind::Server);
        } batch->ExecuteBatch(rowsFrom(2 * size + 1));
        CommitWork(*FCon, mysqlTransaction); auto other = FContext->ConnectAgain();
        const auto stored =
            other->Open(QStringLiteral("SELECT ID, NAME FROM DBT_BATCH ORDER BY ID"));
        QCOMPARE(stored->RecordCount(), 2 * size); for (int i = 0; i < 2 * size; ++i) {
          const int id = i < size ? i + 1 : size + i + 1;
          QCOMPARE(stored->Rows()[i][0].ToInt32(), id);
          QCOMPARE(stored->Rows()[i][1].ToString(), QStringLiteral("ред %1").arg(id));
        })
  }

  void catalogue() {
    GUARDED(const auto tables = FCon->Tables();
            auto typeOf =
                [&](const QString& name) {
                  for (const auto& t : tables)
                    if (t.Name.compare(name, Qt::CaseInsensitive) == 0) return t.Type;
                  return QStringLiteral("<missing>");
                };
            QCOMPARE(typeOf(QStringLiteral("DBT_ALL")), QStringLiteral("TABLE"));
            QCOMPARE(typeOf(QStringLiteral("DBT_VIEW")), QStringLiteral("VIEW"));
            QStringList expected{QStringLiteral("ID")}; for (const TTestColumn& c
                                                             : FColumns) expected
                                                        << c.Name;
            // DBTXALL matches the name DBT_ALL as a search pattern; its columns must stay out.
            QCOMPARE(FCon->ColumnNames(QStringLiteral("DBT_ALL")), expected);
            QCOMPARE(FCon->ColumnNames(QStringLiteral("DBT_VIEW")),
                     (QStringList{QStringLiteral("ID"), QStringLiteral("V")}));
            QCOMPARE(FCon->ColumnNames(QStringLiteral("NO_SUCH_TABLE")), QStringList());)
  }

  void declaredTextIsConvertedByTheServer() {
    GUARDED(FCon->Execute(QStringLiteral("INSERT INTO DBT_ALL (ID, I, F) VALUES (:ID, :I, :F)"),
                          {{QStringLiteral("ID"), ftInteger, Variant::FromInt(10)},
                           {QStringLiteral("I"), ftString, Str(QStringLiteral("42"))},
                           {QStringLiteral("F"), ftString, Str(QStringLiteral("2.5"))}});
            const auto ds = FCon->Open(QStringLiteral("SELECT I, F FROM DBT_ALL WHERE ID = 10"));
            QCOMPARE(Describe(ds->Value(0)), Describe(Variant::FromInt(42)));
            QCOMPARE(Describe(ds->Value(1)), Describe(Variant::FromDouble(2.5)));)
  }

  void textWithoutWindows1251Form() {
    GUARDED(
        const TParams params{{QStringLiteral("ID"), ftInteger, Variant::FromInt(11)},
                             {QStringLiteral("V"), ftString, Str(QStringLiteral("中文 ā"))}};
        const QString sql = QStringLiteral("INSERT INTO DBT_ALL (ID, V) VALUES (:ID, :V)");
        if (!FContext->TextIsCp1251()) {
          FCon->Execute(sql, params);
          const auto ds = FCon->Open(QStringLiteral("SELECT V FROM DBT_ALL WHERE ID = 11"));
          QCOMPARE(ds->Value(0).ToString(), QStringLiteral("中文 ā"));
          return;
        } try {
          FCon->Execute(sql, params);
          QFAIL("text without a Windows-1251 form was sent");
        } catch (const ENompackError& e) {
          QCOMPARE(e.ErrorKind(), ENompackError::Kind::Conversion);
          QVERIFY2(e.Message().contains(QStringLiteral("V")) &&
                       e.Message().contains(QStringLiteral("U+4e2d")),
                   qPrintable(e.Message()));
        })
  }

  void serverErrors() {
    GUARDED(
        try {
          FCon->Open(QStringLiteral("SELECT NOPE FROM NO_SUCH_TABLE"));
          QFAIL("a missing table was not reported");
        } catch (const ENompackError& e) {
          QCOMPARE(e.ErrorKind(), ENompackError::Kind::Server);
          QVERIFY2(e.Message().contains(QStringLiteral("NO_SUCH_TABLE")), qPrintable(e.Message()));
          QCOMPARE(e.ServerText(), e.Message());
          QVERIFY(e.NativeCode() != 0);
        }
        // The session goes on after the error.
        QCOMPARE(FCon->Open(QStringLiteral("SELECT ID FROM DBT_ALL WHERE ID = 1"))->RecordCount(),
                 1);)
  }

  void missingParameter() {
    GUARDED(
        try {
          FCon->Execute(QStringLiteral("INSERT INTO DBT_SMALL (ID, NAME) VALUES (:ID, :NAME)"),
                        {{QStringLiteral("ID"), ftInteger, Variant::FromInt(1)}});
          QFAIL("a missing parameter was not reported");
        } catch (const ENompackError& e) {
          QVERIFY2(e.Message().contains(QStringLiteral("'NAME'")), qPrintable(e.Message()));
        })
  }

  void literalsAndCommentsKeepTheirColons() {
    GUARDED(
        const auto ds = FCon->Open(QStringLiteral("SELECT ID, ':NOTAPARAM 10:30' AS LIT FROM "
                                                  "DBT_ALL /* :ALSO */ WHERE ID = :ID -- :NOR\n"),
                                   {{QStringLiteral("ID"), ftInteger, Variant::FromInt(1)}});
        QCOMPARE(ds->RecordCount(), 1); QCOMPARE(ds->FieldByName(QStringLiteral("LIT")).ToString(),
                                                 QStringLiteral(":NOTAPARAM 10:30"));)
  }

  void preparedStatement() {
    GUARDED(
        const auto insert =
            FCon->Prepare(QStringLiteral("INSERT INTO DBT_SMALL (ID, NAME) VALUES (:ID, :Name)"));
        QCOMPARE(insert->ParamNames(), (QStringList{QStringLiteral("ID"), QStringLiteral("Name")}));
        for (int id = 1; id <= 3; ++id) insert->Execute(
            {{QStringLiteral("NAME"), ftString, Str(QStringLiteral("ред %1").arg(id))},
             {QStringLiteral("id"), ftInteger, Variant::FromInt(id)}});
        // A name that occurs twice is bound at both places.
        const auto ds = FCon->Open(
            QStringLiteral(
                "SELECT COUNT(*) AS CNT FROM DBT_SMALL WHERE ID >= :LO AND ID <= :LO + 1"),
            {{QStringLiteral("LO"), ftInteger, Variant::FromInt(2)}});
        QCOMPARE(ds->Value(0).ToInt64(), 2);
        QCOMPARE(Count(*FCon, QStringLiteral("NAME = 'ред 3'")), 1);
        FCon->Execute(QStringLiteral("DELETE FROM DBT_SMALL")); CommitIfTransactional(*FCon);)
  }

  void statementOutlivesItsConnection() {
    GUARDED(auto other = FContext->ConnectAgain();
            auto statement = other->Prepare(
                QStringLiteral("INSERT INTO DBT_SMALL (ID, NAME) VALUES (:ID, :NAME)"));
            other->Close(); QVERIFY(!other->IsConnected()); QVERIFY_THROWS_EXCEPTION(
                ENompackError,
                statement->Execute({{QStringLiteral("ID"), ftInteger, Variant::FromInt(9)},
                                    {QStringLiteral("NAME"), ftString, Str(QString())}}));
            QVERIFY_THROWS_EXCEPTION(ENompackError,
                                     other->Open(QStringLiteral("SELECT 1 FROM DBT_SMALL")));
            statement.reset(); other.reset();)
  }

  void transactions() {
    GUARDED(
        if (!FCon->SupportsTransactions()) {
          // Without transactions every statement takes effect at once.
          QVERIFY(!FCon->InTransaction());
          auto other = FContext->ConnectAgain();
          FCon->Execute(QStringLiteral("INSERT INTO DBT_SMALL (ID, NAME) VALUES (200, 'x')"));
          QCOMPARE(Count(*other, QStringLiteral("ID = 200")), 1);
          return;
        } QVERIFY(FCon->InTransaction());
        auto insert =
            [&](int id) {
              FCon->Execute(QStringLiteral("INSERT INTO DBT_SMALL (ID, NAME) VALUES (:ID, 'x')"),
                            {{QStringLiteral("ID"), ftInteger, Variant::FromInt(id)}});
            };
        insert(100); QCOMPARE(Count(*FCon, QStringLiteral("ID = 100")), 1);
        FCon->RollbackRetaining(); QVERIFY(FCon->InTransaction());
        QCOMPARE(Count(*FCon, QStringLiteral("ID = 100")), 0);

        insert(101); auto other = FContext->ConnectAgain();
        QCOMPARE(Count(*other, QStringLiteral("ID = 101")), 0); FCon->CommitRetaining();
        QVERIFY(FCon->InTransaction()); QCOMPARE(Count(*other, QStringLiteral("ID = 101")), 1);

        // A refused statement undoes only itself.
        insert(102); try {
          insert(101);
          QFAIL("a duplicate key was accepted");
        } catch (const ENompackError& e) {
          QCOMPARE(e.ErrorKind(), ENompackError::Kind::Server);
          QVERIFY(!e.Context().isEmpty() &&
                  e.Context().first().startsWith(QStringLiteral("SQLCODE -")));
        } FCon->CommitRetaining();
        QCOMPARE(Count(*other, QStringLiteral("ID = 102")), 1);

        FCon->Commit(); QVERIFY(!FCon->InTransaction()); try {
          insert(103);
          QFAIL("a statement ran without a transaction");
        } catch (const ENompackError& e) {
          QCOMPARE(e.ErrorKind(), ENompackError::Kind::Database);
        } FCon->StartTransaction();
        QCOMPARE(Count(*FCon, QStringLiteral("ID >= 100")), 2);)
  }
};

QTEST_GUILESS_MAIN(DbSuite)
#include "DbSuite.moc"
