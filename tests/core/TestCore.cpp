#include <QtTest>
#include <cmath>
#include <limits>

#include "Cp1251.h"
#include "Currency.h"
#include "DateTime.h"
#include "NompackError.h"
#include "Variant.h"

Q_DECLARE_METATYPE(Variant)

namespace {

// The expected outcome of a conversion: a value, or a failure.
struct Outcome {
  bool Fails = false;
  qint64 Value = 0;
};

}  // namespace

Q_DECLARE_METATYPE(Outcome)

class TestCore : public QObject {
  Q_OBJECT

 private slots:
  void variantNullVersusEmpty();
  void variantToInt32_data();
  void variantToInt32();
  void variantNumberTexts();
  void variantBoolWords_data();
  void variantBoolWords();
  void variantDecimal_data();
  void variantDecimal();

  void currencyFromString_data();
  void currencyFromString();
  void currencyToString_data();
  void currencyToString();
  void currencyFromDouble_data();
  void currencyFromDouble();

  void dateTimeKnownValues_data();
  void dateTimeKnownValues();
  void dateTimeRoundTrip();
  void dateTimeMillisecondRounding();

  void cp1251KnownBytes();
  void cp1251RoundTripAllBytes();
  void cp1251Refuses();

  void topLevelErrorText_data();
  void topLevelErrorText();
};

void TestCore::variantNullVersusEmpty() {
  const Variant empty;
  const Variant null = Variant::Null();
  QVERIFY(empty.IsEmpty() && !empty.IsNull());
  QVERIFY(null.IsNull() && !null.IsEmpty());
  QVERIFY(!(empty == null));
  QCOMPARE(empty.ToString(), QString());
  QCOMPARE(null.ToString(), QString());
  // Empty converts to zero values; Null converts to nothing.
  QCOMPARE(empty.ToInt64(), 0);
  QCOMPARE(empty.ToDouble(), 0.0);
  QCOMPARE(empty.ToBool(), false);
  QVERIFY_THROWS_EXCEPTION(ENompackError, null.ToInt64());
  QVERIFY_THROWS_EXCEPTION(ENompackError, null.ToDouble());
  QVERIFY_THROWS_EXCEPTION(ENompackError, null.ToBool());
  QVERIFY_THROWS_EXCEPTION(ENompackError, null.ToDateTime());
  // An empty text is a value, not Null.
  QVERIFY(!Variant::FromString(QString()).IsNullOrEmpty());
}

void TestCore::variantToInt32_data() {
  QTest::addColumn<Variant>("value");
  QTest::addColumn<Outcome>("expected");
  const Outcome fails{true, 0};
  QTest::newRow("max") << Variant::FromInt64(2147483647) << Outcome{false, 2147483647};
  QTest::newRow("min") << Variant::FromInt64(-2147483648LL) << Outcome{false, -2147483648LL};
  QTest::newRow("above") << Variant::FromInt64(2147483648LL) << fails;
  QTest::newRow("below") << Variant::FromInt64(-2147483649LL) << fails;
  QTest::newRow("unsigned max") << Variant::FromUInt(std::numeric_limits<quint64>::max(),
                                                     Variant::Type::UInt64)
                                << fails;
  QTest::newRow("text") << Variant::FromString(QStringLiteral(" -7 ")) << Outcome{false, -7};
  QTest::newRow("text too big") << Variant::FromString(QStringLiteral("3000000000")) << fails;
  QTest::newRow("text fraction") << Variant::FromString(QStringLiteral("12.4"))
                                 << Outcome{false, 12};
  QTest::newRow("text exponent") << Variant::FromString(QStringLiteral("1e3"))
                                 << Outcome{false, 1000};
  QTest::newRow("no number") << Variant::FromString(QStringLiteral("abc")) << fails;
  QTest::newRow("empty text") << Variant::FromString(QString()) << fails;
  QTest::newRow("double") << Variant::FromDouble(-3.7) << Outcome{false, -4};
  QTest::newRow("double too big") << Variant::FromDouble(1e10) << fails;
  QTest::newRow("infinity") << Variant::FromDouble(std::numeric_limits<double>::infinity())
                            << fails;
  QTest::newRow("currency half") << Variant::FromCurrency(Currency::FromRaw(-25000))
                                 << Outcome{false, -3};
  QTest::newRow("decimal") << Variant::FromDecimal(QStringLiteral("42")) << Outcome{false, 42};
  QTest::newRow("true") << Variant::FromBool(true) << Outcome{false, -1};
  QTest::newRow("bytes") << Variant::FromBytes("1") << fails;
}

void TestCore::variantToInt32() {
  QFETCH(Variant, value);
  QFETCH(Outcome, expected);
  if (expected.Fails) {
    try {
      value.ToInt32();
      QFAIL("converted");
    } catch (const ENompackError& e) {
      QCOMPARE(e.ErrorKind(), ENompackError::Kind::Conversion);
    }
  } else {
    QCOMPARE(qint64(value.ToInt32()), expected.Value);
  }
}

void TestCore::variantNumberTexts() {
  QCOMPARE(Variant::FromString(QStringLiteral("1.5")).ToDouble(), 1.5);
  QCOMPARE(Variant::FromString(QStringLiteral(" -2.25 ")).ToDouble(), -2.25);
  QCOMPARE(Variant::FromString(QStringLiteral("9223372036854775807")).ToInt64(),
           std::numeric_limits<qint64>::max());
  QVERIFY_THROWS_EXCEPTION(ENompackError, Variant::FromString(QStringLiteral("1.5x")).ToDouble());
  QCOMPARE(Variant::FromString(QStringLiteral("1.23456")).ToCurrency(), Currency::FromRaw(12346));
  QCOMPARE(Variant::FromDouble(0.1).ToString(), QStringLiteral("0.1"));
  QCOMPARE(Variant::FromInt(-5).ToString(), QStringLiteral("-5"));
  QCOMPARE(Variant::FromDateTime(-1.25).ToString(), QStringLiteral("29.12.1899 06:00:00"));
  QCOMPARE(Variant::FromString(QStringLiteral("2024-03-07T09:15:02")).ToDateTime(),
           DateTimeConv::Compose(QDate(2024, 3, 7), QTime(9, 15, 2)));
  QCOMPARE(Variant::FromString(QStringLiteral("07.03.2024")).ToDateTime(), 45358.0);
}

void TestCore::variantBoolWords_data() {
  QTest::addColumn<Variant>("value");
  QTest::addColumn<Outcome>("expected");
  const Outcome fails{true, 0};
  QTest::newRow("True") << Variant::FromString(QStringLiteral("True")) << Outcome{false, 1};
  QTest::newRow("FALSE") << Variant::FromString(QStringLiteral("FALSE")) << Outcome{false, 0};
  QTest::newRow("padded true") << Variant::FromString(QStringLiteral(" true "))
                               << Outcome{false, 1};
  QTest::newRow("text 1") << Variant::FromString(QStringLiteral("1")) << Outcome{false, 1};
  QTest::newRow("text 0") << Variant::FromString(QStringLiteral("0")) << Outcome{false, 0};
  QTest::newRow("yes") << Variant::FromString(QStringLiteral("yes")) << fails;
  QTest::newRow("empty text") << Variant::FromString(QString()) << fails;
  QTest::newRow("zero") << Variant::FromInt(0) << Outcome{false, 0};
  QTest::newRow("half") << Variant::FromDouble(0.5) << Outcome{false, 1};
}

void TestCore::variantBoolWords() {
  QFETCH(Variant, value);
  QFETCH(Outcome, expected);
  if (expected.Fails)
    QVERIFY_THROWS_EXCEPTION(ENompackError, value.ToBool());
  else
    QCOMPARE(value.ToBool(), expected.Value != 0);
}

void TestCore::variantDecimal_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("expected");  // null: refused
  QTest::newRow("plain") << QStringLiteral("12.50") << QStringLiteral("12.5");
  QTest::newRow("zeros") << QStringLiteral("-000.000") << QStringLiteral("0");
  QTest::newRow("bare fraction") << QStringLiteral("+.5") << QStringLiteral("0.5");
  QTest::newRow("many digits") << QStringLiteral("-123456789012345678901234567890.0000000001")
                               << QStringLiteral("-123456789012345678901234567890.0000000001");
  QTest::newRow("exponent") << QStringLiteral("1e5") << QString();
  QTest::newRow("two points") << QStringLiteral("1.2.3") << QString();
  QTest::newRow("sign only") << QStringLiteral("-") << QString();
  QTest::newRow("other digits") << QStringLiteral("\u0661\u0662") << QString();
}

void TestCore::variantDecimal() {
  QFETCH(QString, text);
  QFETCH(QString, expected);
  if (expected.isNull()) {
    QVERIFY_THROWS_EXCEPTION(ENompackError, Variant::FromDecimal(text));
  } else {
    QCOMPARE(Variant::FromDecimal(text).ToString(), expected);
    QCOMPARE(Variant::FromDecimal(text).ToDecimalText(), expected);
  }
}

void TestCore::currencyFromString_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<Outcome>("expected");
  const Outcome fails{true, 0};
  QTest::newRow("plain") << QStringLiteral("1.5") << Outcome{false, 15000};
  QTest::newRow("smallest") << QStringLiteral("-0.0001") << Outcome{false, -1};
  QTest::newRow("comma") << QStringLiteral("2,25") << Outcome{false, 22500};
  QTest::newRow("round up") << QStringLiteral("1.23455") << Outcome{false, 12346};
  QTest::newRow("round down") << QStringLiteral("1.234549") << Outcome{false, 12345};
  QTest::newRow("round away") << QStringLiteral("-1.23455") << Outcome{false, -12346};
  QTest::newRow("carry") << QStringLiteral("0.99999") << Outcome{false, 10000};
  QTest::newRow("max") << QStringLiteral("922337203685477.5807")
                       << Outcome{false, std::numeric_limits<qint64>::max()};
  QTest::newRow("min") << QStringLiteral("-922337203685477.5808")
                       << Outcome{false, std::numeric_limits<qint64>::min()};
  QTest::newRow("over max") << QStringLiteral("922337203685477.5808") << fails;
  QTest::newRow("rounds over max") << QStringLiteral("922337203685477.58075") << fails;
  QTest::newRow("huge") << QStringLiteral("99999999999999999999999") << fails;
  QTest::newRow("empty") << QString() << fails;
  QTest::newRow("point only") << QStringLiteral(".") << fails;
  QTest::newRow("letters") << QStringLiteral("12abc") << fails;
}

void TestCore::currencyFromString() {
  QFETCH(QString, text);
  QFETCH(Outcome, expected);
  if (expected.Fails)
    QVERIFY_THROWS_EXCEPTION(ENompackError, Currency::FromString(text));
  else
    QCOMPARE(Currency::FromString(text).Value, expected.Value);
}

void TestCore::currencyToString_data() {
  QTest::addColumn<qint64>("raw");
  QTest::addColumn<QString>("expected");
  QTest::newRow("fraction") << qint64(15000) << QStringLiteral("1.5");
  QTest::newRow("whole") << qint64(120000) << QStringLiteral("12");
  QTest::newRow("smallest") << qint64(-1) << QStringLiteral("-0.0001");
  QTest::newRow("zero") << qint64(0) << QStringLiteral("0");
  QTest::newRow("min") << std::numeric_limits<qint64>::min()
                       << QStringLiteral("-922337203685477.5808");
}

void TestCore::currencyToString() {
  QFETCH(qint64, raw);
  QFETCH(QString, expected);
  QCOMPARE(Currency::FromRaw(raw).ToString(), expected);
  QCOMPARE(Currency::FromString(expected).Value, raw);
}

void TestCore::currencyFromDouble_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<Outcome>("expected");
  const Outcome fails{true, 0};
  // Exact binary fractions, so that the halves are real halves.
  QTest::newRow("half up") << 0.03125 << Outcome{false, 313};
  QTest::newRow("half away from zero") << -0.03125 << Outcome{false, -313};
  QTest::newRow("above half") << std::ldexp(1.0, -14) << Outcome{false, 1};
  QTest::newRow("below half") << std::ldexp(1.0, -15) << Outcome{false, 0};
  QTest::newRow("plain") << 1.5 << Outcome{false, 15000};
  QTest::newRow("large") << 922337203685477.5 << Outcome{false, 9223372036854775000LL};
  QTest::newRow("too large") << 1e15 << fails;
  QTest::newRow("too small") << -1e15 << fails;
  QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << fails;
  QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << fails;
}

void TestCore::currencyFromDouble() {
  QFETCH(double, value);
  QFETCH(Outcome, expected);
  if (expected.Fails)
    QVERIFY_THROWS_EXCEPTION(ENompackError, Currency::FromDouble(value));
  else
    QCOMPARE(Currency::FromDouble(value).Value, expected.Value);
}

void TestCore::dateTimeKnownValues_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QDateTime>("expected");
  QTest::newRow("zero") << 0.0 << QDateTime(QDate(1899, 12, 30), QTime(0, 0));
  QTest::newRow("minus 1.25") << -1.25 << QDateTime(QDate(1899, 12, 29), QTime(6, 0));
  QTest::newRow("plus 1.75") << 1.75 << QDateTime(QDate(1899, 12, 31), QTime(18, 0));
  // The fraction counts forward from midnight also before the base date.
  QTest::newRow("minus 0.25") << -0.25 << QDateTime(QDate(1899, 12, 30), QTime(6, 0));
  QTest::newRow("minus 2.5") << -2.5 << QDateTime(QDate(1899, 12, 28), QTime(12, 0));
  QTest::newRow("1800") << -36522.0 << QDateTime(QDate(1800, 1, 1), QTime(0, 0));
  QTest::newRow("2024") << 45358.0 << QDateTime(QDate(2024, 3, 7), QTime(0, 0));
  QTest::newRow("year 1") << -693593.0 << QDateTime(QDate(1, 1, 1), QTime(0, 0));
  QTest::newRow("year 9999") << 2958465.0 << QDateTime(QDate(9999, 12, 31), QTime(0, 0));
}

void TestCore::dateTimeKnownValues() {
  QFETCH(double, value);
  QFETCH(QDateTime, expected);
  QCOMPARE(DateTimeConv::ToQDateTime(value), expected);
  QCOMPARE(DateTimeConv::ToDate(value), expected.date());
  QCOMPARE(DateTimeConv::ToTime(value), expected.time());
  if (value != -0.25) {  // -0.25 and 0.25 name the same moment; 0.25 is its spelling
    QCOMPARE(DateTimeConv::FromQDateTime(expected), value);
    QCOMPARE(DateTimeConv::Compose(expected.date(), expected.time()), value);
  }
  if (expected.time() == QTime(0, 0)) QCOMPARE(DateTimeConv::FromDate(expected.date()), value);
}

void TestCore::dateTimeRoundTrip() {
  const int times[] = {0, 1, 999, 6 * 3600000, 12 * 3600000 + 34 * 60000 + 56789, 86399999};
  int checked = 0;
  for (qint64 day = -693593; day <= 2958465; day += 997) {
    const QDate date = DateTimeConv::BaseDate().addDays(day);
    for (const int ms : times) {
      const QTime time = QTime::fromMSecsSinceStartOfDay(ms);
      const TDateTime value = DateTimeConv::Compose(date, time);
      const DateTimeConv::TimeStamp ts = DateTimeConv::ToTimeStamp(value);
      QCOMPARE(ts.Day, day);
      QCOMPARE(ts.MSec, ms);
      QCOMPARE(DateTimeConv::ToDate(value), date);
      QCOMPARE(DateTimeConv::ToTime(value), time);
      QCOMPARE(DateTimeConv::FromTimeStamp(ts), value);
      ++checked;
    }
  }
  QVERIFY(checked > 20000);
}

void TestCore::dateTimeMillisecondRounding() {
  const double ms = 1.0 / DateTimeConv::kMSecsPerDay;
  QCOMPARE(DateTimeConv::ToTime(0.5 + 0.4 * ms), QTime(12, 0, 0, 0));
  QCOMPARE(DateTimeConv::ToTime(0.5 + 0.6 * ms), QTime(12, 0, 0, 1));
  // Just short of midnight rounds into the next day, not to 24:00.
  QCOMPARE(DateTimeConv::ToQDateTime(1 - 0.2 * ms), QDateTime(QDate(1899, 12, 31), QTime(0, 0)));
  QCOMPARE(DateTimeConv::ToQDateTime(-2 + 0.2 * ms), QDateTime(QDate(1899, 12, 28), QTime(0, 0)));
  QCOMPARE(DateTimeConv::FromTime(QTime(18, 0)), 0.75);
}

void TestCore::cp1251KnownBytes() {
  QCOMPARE(Cp1251::Encode(QStringLiteral("А")), QByteArray("\xC0"));
  QCOMPARE(Cp1251::Encode(QStringLiteral("я")), QByteArray("\xFF"));
  QCOMPARE(Cp1251::Encode(QStringLiteral("Ё")), QByteArray("\xA8"));
  QCOMPARE(Cp1251::Encode(QStringLiteral("№")), QByteArray("\xB9"));
  QCOMPARE(Cp1251::Encode(QStringLiteral("€")), QByteArray("\x88"));
  QCOMPARE(Cp1251::Encode(QStringLiteral("Ab1 ")), QByteArray("Ab1 "));
  QCOMPARE(Cp1251::Decode(QByteArray("\xC0\xF1\xEF\xE8\xF0\xE8\xED \xB9\xA8\xB8\x88\x96\xAB\xBB")),
           QStringLiteral("Аспирин №Ёё€–«»"));
  QVERIFY(Cp1251::CanEncode(QStringLiteral("Аспирин 500 мг № 10 – €")));
}

void TestCore::cp1251RoundTripAllBytes() {
  QByteArray all;
  for (int i = 0; i < 256; ++i) all.append(static_cast<char>(i));
  const QString text = Cp1251::Decode(all);
  QCOMPARE(text.size(), 256);
  QCOMPARE(Cp1251::Encode(text), all);
}

void TestCore::cp1251Refuses() {
  QByteArray out;
  QChar bad;
  QVERIFY(!Cp1251::TryEncode(QStringLiteral("Аб漢"), out, &bad));
  QCOMPARE(bad, QChar(0x6F22));
  QVERIFY(!Cp1251::CanEncode(QStringLiteral("é")));
  try {
    Cp1251::Encode(QStringLiteral("x漢"));
    QFAIL("encoded");
  } catch (const ENompackError& e) {
    QCOMPARE(e.ErrorKind(), ENompackError::Kind::Conversion);
    QVERIFY2(e.Message().contains(QStringLiteral("漢")), qPrintable(e.Message()));
  }
}

void TestCore::topLevelErrorText_data() {
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("shown");
  QTest::newRow("letter") << QStringLiteral("Грешка") << QStringLiteral("Грешка.");
  QTest::newRow("full stop") << QStringLiteral("Done.") << QStringLiteral("Done.");
  QTest::newRow("question sorts above") << QStringLiteral("Why?") << QStringLiteral("Why?.");
  QTest::newRow("exclamation sorts below") << QStringLiteral("Stop!") << QStringLiteral("Stop!");
  QTest::newRow("empty") << QString() << QString();
}

void TestCore::topLevelErrorText() {
  QFETCH(QString, message);
  QFETCH(QString, shown);
  QCOMPARE(TopLevelErrorText(message), shown);
}

QTEST_GUILESS_MAIN(TestCore)
#include "TestCore.moc"
