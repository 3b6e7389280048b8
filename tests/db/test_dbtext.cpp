// The text-level pieces of the client layers: the named-parameter parser, the
// SQLOLEDB connection string, the ODBC string made of it, exact decimals.
#include <QtTest>

#include "Connections.h"
#include "DbValues.h"
#include "NamedParams.h"
#include "NompackError.h"
#include "OleDbConnectionString.h"

Q_DECLARE_METATYPE(TSqlDialect)

class TestDbText : public QObject {
  Q_OBJECT

 private slots:
  void namedParams_data() {
    QTest::addColumn<TSqlDialect>("dialect");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("positional");
    QTest::addColumn<QStringList>("markers");
    QTest::addColumn<QStringList>("names");
    const auto FB = TSqlDialect::Firebird, MY = TSqlDialect::MySQL, OD = TSqlDialect::ODBC;
    QTest::newRow("plain") << FB << "insert into T (A, B) values (:A, :B);"
                           << "insert into T (A, B) values (?, ?);" << QStringList{"A", "B"}
                           << QStringList{"A", "B"};
    QTest::newRow("repeated, any case")
        << FB << "X = :lo OR Y = :LO OR Z=:Lo"
        << "X = ? OR Y = ? OR Z=?" << QStringList{"lo", "LO", "Lo"} << QStringList{"lo"};
    QTest::newRow("name characters")
        << FB << "(:A_1$x,:_b)"
        << "(?,?)" << QStringList{"A_1$x", "_b"} << QStringList{"A_1$x", "_b"};
    QTest::newRow("cyrillic name") << FB << "v = :Цена"
                                   << "v = ?" << QStringList{"Цена"} << QStringList{"Цена"};
    QTest::newRow("string literal") << FB << "'a :X b' || :Y"
                                    << "'a :X b' || ?" << QStringList{"Y"} << QStringList{"Y"};
    QTest::newRow("doubled quote stays inside")
        << FB << "'it''s :X' = :Y"
        << "'it''s :X' = ?" << QStringList{"Y"} << QStringList{"Y"};
    QTest::newRow("time in literal")
        << FB << "T > '10:30:00' AND U = :U"
        << "T > '10:30:00' AND U = ?" << QStringList{"U"} << QStringList{"U"};
    QTest::newRow("quoted identifier")
        << FB << "SELECT \"A:B\" FROM T WHERE X=:X"
        << "SELECT \"A:B\" FROM T WHERE X=?" << QStringList{"X"} << QStringList{"X"};
    QTest::newRow("line comment") << FB << "A = :A -- :B\nAND C = :C"
                                  << "A = ? -- :B\nAND C = ?" << QStringList{"A", "C"}
                                  << QStringList{"A", "C"};
    QTest::newRow("block comment") << FB << "/* :A\n:B */ :C"
                                   << "/* :A\n:B */ ?" << QStringList{"C"} << QStringList{"C"};
    QTest::newRow("double colon") << FB << "x::int + :P"
                                  << "x::int + ?" << QStringList{"P"} << QStringList{"P"};
    QTest::newRow("colon then digit or blank") << FB << "a :1 b : c"
                                               << "a :1 b : c" << QStringList{} << QStringList{};
    QTest::newRow("quoted parameter name")
        << FB << "v = :\"my name\""
        << "v = ?" << QStringList{"my name"} << QStringList{"my name"};
    QTest::newRow("mysql backquotes")
        << MY << "insert into `a:b` (x) values (:x);"
        << "insert into `a:b` (x) values (?);" << QStringList{"x"} << QStringList{"x"};
    QTest::newRow("mysql backslash escape")
        << MY << "'it\\' :X' = :Y"
        << "'it\\' :X' = ?" << QStringList{"Y"} << QStringList{"Y"};
    QTest::newRow("mysql double-quoted string")
        << MY << "\"a \\\" :X\" = :Y"
        << "\"a \\\" :X\" = ?" << QStringList{"Y"} << QStringList{"Y"};
    QTest::newRow("mysql hash comment")
        << MY << "a = :A # :B\n, :C"
        << "a = ? # :B\n, ?" << QStringList{"A", "C"} << QStringList{"A", "C"};
    QTest::newRow("mysql assignment")
        << MY << "SET @a:=1, @b = :B"
        << "SET @a:=1, @b = ?" << QStringList{"B"} << QStringList{"B"};
    QTest::newRow("firebird backslash is no escape")
        << FB << "'a\\' = :X"
        << "'a\\' = ?" << QStringList{"X"} << QStringList{"X"};
    QTest::newRow("odbc brackets")
        << OD << "select [a:b], :C from T"
        << "select [a:b], ? from T" << QStringList{"C"} << QStringList{"C"};
    QTest::newRow("unterminated literal")
        << FB << "x = :A and 'b :C"
        << "x = ? and 'b :C" << QStringList{"A"} << QStringList{"A"};
    QTest::newRow("information_schema query")
        << MY
        << "SELECT * FROM information_schema.COLUMNS WHERE \r\nTABLE_SCHEMA = DATABASE() AND "
           "TABLE_NAME = :TABLE_NAME AND "
           "COLUMN_NAME = :COLUMN_NAME"
        << "SELECT * FROM information_schema.COLUMNS WHERE \r\nTABLE_SCHEMA = DATABASE() AND "
           "TABLE_NAME = ? AND "
           "COLUMN_NAME = ?"
        << QStringList{"TABLE_NAME", "COLUMN_NAME"} << QStringList{"TABLE_NAME", "COLUMN_NAME"};
  }

  void namedParams() {
    QFETCH(TSqlDialect, dialect);
    QFETCH(QString, sql);
    QFETCH(QString, positional);
    QFETCH(QStringList, markers);
    QFETCH(QStringList, names);
    const TParsedSql parsed = ParseNamedParams(sql, dialect);
    QCOMPARE(parsed.Sql, positional);
    QCOMPARE(parsed.Markers, markers);
    QCOMPARE(parsed.Names, names);
  }

  void paramLookupIgnoresCase() {
    const TParams params{
        {QStringLiteral("Table_Name"), ftString, Variant::FromString(QStringLiteral("X"))}};
    QCOMPARE(FindParam(params, QStringLiteral("TABLE_NAME")), 0);
    QCOMPARE(ParamForMarker(params, QStringLiteral("table_name")).Value.ToString(),
             QStringLiteral("X"));
    QVERIFY_THROWS_EXCEPTION(ENompackError, ParamForMarker(params, QStringLiteral("OTHER")));
  }

  // The position is a guess: a wrong or out-of-range one still finds the
  // parameter by name, and never binds another parameter.
  void paramForMarkerPosition_data() {
    QTest::addColumn<QString>("marker");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("value");
    QTest::newRow("right position") << "b" << 1 << "2";
    QTest::newRow("other parameter's position") << "C" << 0 << "3";
    QTest::newRow("beyond the parameters") << "a" << 7 << "1";
    QTest::newRow("none") << "B" << -1 << "2";
  }
  void paramForMarkerPosition() {
    QFETCH(QString, marker);
    QFETCH(int, position);
    QFETCH(QString, value);
    const TParams params{{QStringLiteral("A"), ftString, Variant::FromString(QStringLiteral("1"))},
                         {QStringLiteral("B"), ftString, Variant::FromString(QStringLiteral("2"))},
                         {QStringLiteral("C"), ftString, Variant::FromString(QStringLiteral("3"))}};
    QCOMPARE(ParamForMarker(params, marker, position).Value.ToString(), value);
    QVERIFY_THROWS_EXCEPTION(ENompackError, ParamForMarker(params, QStringLiteral("D"), 1));
  }

  void oleDbString_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("catalog");
    QTest::addColumn<QString>("source");
    QTest::newRow("plain") << "secret"
                           << "sa"
                           << "quillmarsh"
                           << "SRV\\SQLEXPRESS";
    QTest::newRow("empty password") << ""
                                    << "sa"
                                    << "db"
                                    << "127.0.0.1";
    QTest::newRow("semicolons and equals in values") << "a;b=c;"
                                                     << "us;er"
                                                     << "d=b"
                                                     << "host,1433";
    QTest::newRow("quotes and braces") << "\"pw'{}"
                                       << "'u'"
                                       << "{db}"
                                       << "h";
  }

  void oleDbString() {
    QFETCH(QString, password);
    QFETCH(QString, user);
    QFETCH(QString, catalog);
    QFETCH(QString, source);
    const QString text = QStringLiteral("Provider=SQLOLEDB.1;Password=") + password +
                         QStringLiteral(";Persist Security Info=True;User ID=") + user +
                         QStringLiteral(";Initial Catalog=") + catalog +
                         QStringLiteral(";Data Source=") + source +
                         QStringLiteral(";Connect Timeout=120;Application Name=Tarnwick");
    const TOleDbConnectionString parsed(text);
    QCOMPARE(parsed.Value(QStringLiteral("Password")), password);
    QCOMPARE(parsed.Value(QStringLiteral("user id")), user);
    QCOMPARE(parsed.Value(QStringLiteral("Initial Catalog")), catalog);
    QCOMPARE(parsed.Value(QStringLiteral("Data Source")), source);
    QCOMPARE(parsed.Value(QStringLiteral("Connect Timeout")), QStringLiteral("120"));
    QCOMPARE(parsed.Value(QStringLiteral("Application Name")), QStringLiteral("Tarnwick"));
    QCOMPARE(parsed.Keywords().size(), 8);
  }

  void odbcConnectionString() {
    const QString oleDb = QStringLiteral(
        "Provider=SQLOLEDB.1;Password=p;w}d;Persist Security Info=True;User ID=sa;Initial "
        "Catalog=pharm;"
        "Data Source=db1,1444;Connect Timeout=120;Application Name=Tarnwick");
    QCOMPARE(ODBCConnectionString(oleDb, QStringLiteral("ODBC Driver 18 for SQL Server")),
             QStringLiteral(
                 "DRIVER={ODBC Driver 18 for SQL Server};SERVER=db1,1444;DATABASE=pharm;UID=sa;"
                 "PWD={p;w}}d};APP=Tarnwick;Encrypt=no;"));
    QCOMPARE(ODBCConnectionString(oleDb, QStringLiteral("FreeTDS")),
             QStringLiteral("DRIVER={FreeTDS};SERVER=db1;PORT=1444;DATABASE=pharm;UID=sa;PWD={p;w}}"
                            "d};APP=Tarnwick;"));
    QCOMPARE(ODBCConnectionString(oleDb, QStringLiteral("SQLite3")),
             QStringLiteral("DRIVER={SQLite3};Database=pharm;"));
  }

  void decimals_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("scale");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<qint64>("scaled");
    QTest::addColumn<QString>("back");
    QTest::newRow("15 digits") << "1234567890123.45" << 2 << true << Q_INT64_C(123456789012345)
                               << "1234567890123.45";
    QTest::newRow("padded scale") << "-12.5" << 3 << true << Q_INT64_C(-12500) << "-12.5";
    QTest::newRow("half rounds away") << "0.125" << 2 << true << Q_INT64_C(13) << "0.13";
    QTest::newRow("negative half") << "-0.125" << 2 << true << Q_INT64_C(-13) << "-0.13";
    QTest::newRow("below half") << "2.3449" << 2 << true << Q_INT64_C(234) << "2.34";
    QTest::newRow("int64 max") << "9223372036854775807" << 0 << true
                               << std::numeric_limits<qint64>::max() << "9223372036854775807";
    QTest::newRow("int64 min") << "-9223372036854775808" << 0 << true
                               << std::numeric_limits<qint64>::min() << "-9223372036854775808";
    QTest::newRow("overflow") << "9223372036854775808" << 0 << false << Q_INT64_C(0) << "";
    QTest::newRow("overflow by scale")
        << "92233720368547758.07" << 4 << false << Q_INT64_C(0) << "";
    QTest::newRow("small fraction") << "0.0001" << 4 << true << Q_INT64_C(1) << "0.0001";
    QTest::newRow("not a number") << "12a" << 2 << false << Q_INT64_C(0) << "";
  }

  void decimals() {
    QFETCH(QString, text);
    QFETCH(int, scale);
    QFETCH(bool, fits);
    QFETCH(qint64, scaled);
    QFETCH(QString, back);
    qint64 out = 0;
    QCOMPARE(DbValues::DecimalToScaled(text, scale, out), fits);
    if (!fits) return;
    QCOMPARE(out, scaled);
    QCOMPARE(DbValues::ScaledToDecimal(out, scale), back);
  }

  void dateParts() {
    // Dates before 1899 with a time of day, both ways.
    const TDateTime v = DateTimeConv::Compose(QDate(1850, 3, 4), QTime(12, 34, 56, 789));
    const DbValues::TDateParts p = DbValues::SplitDateTime(v);
    QCOMPARE(p.Year, 1850);
    QCOMPARE(p.Month, 3);
    QCOMPARE(p.Day, 4);
    QCOMPARE(p.Hour, 12);
    QCOMPARE(p.MSec, 789);
    QCOMPARE(DbValues::JoinDateTime(p), v);
    DbValues::TDateParts bad = p;
    bad.Month = 2;
    bad.Day = 30;
    QVERIFY_THROWS_EXCEPTION(ENompackError, DbValues::JoinDateTime(bad));
  }
};

QTEST_GUILESS_MAIN(TestDbText)
#include "test_dbtext.moc"
