// One database suite, run against each server through its test context:
// every mapped type stored with named parameters and read back exactly, the
// field definitions, the catalogue, errors and (Firebird) the transaction.
#include <QCryptographicHash>
#include <QMap>
#include <QtTest>
#include <limits>

#include "DbTestContext.h"
#include "NompackError.h"
#include "TestEnv.h"

namespace {

using Row = QMap<QString, Variant>;

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

// An exception that leaves a test function would end the whole program.
#define GUARDED(...)                                                                \
  try {                                                                             \
    __VA_ARGS__                                                                     \
  } catch (const ENompackError& e) {                                                \
    QFAIL(qPrintable(QStringLiteral("unexpected ENompackError: ") + e.FullText())); \
  }

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
        CommitIfTransactional(*FCon);

        // Rows 1-3 through one-off statements, 4 and 5 through one prepared statement.
        for (int id
             : {1, 2, 3}) FCon->Execute(InsertSql(), ParamsOf(id, true));
        const auto insert = FCon->Prepare(InsertSql()); insert->Execute(ParamsOf(4, true));
        insert->Execute(ParamsOf(5, false)); CommitIfTransactional(*FCon);)
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
