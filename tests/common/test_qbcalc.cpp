#include <QLocale>
#include <QtTest>

#include "QBCalc.h"

class TestQBCalc : public QObject {
  Q_OBJECT

 private slots:
  void evaluates_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expr");
    QTest::addColumn<double>("expected");
    QTest::newRow("sum") << "en_US"
                         << "1+2" << 3.0;
    QTest::newRow("precedence") << "en_US"
                                << "2*3+4*5" << 26.0;
    QTest::newRow("parentheses") << "en_US"
                                 << "2*(3+4)" << 14.0;
    QTest::newRow("nested") << "en_US"
                            << "((1+2)*(3-1))/4" << 1.5;
    QTest::newRow("left to right -") << "en_US"
                                     << "10-2-3" << 5.0;
    QTest::newRow("left to right /") << "en_US"
                                     << "8/4/2" << 1.0;
    QTest::newRow("unary minus") << "en_US"
                                 << "-3+5" << 2.0;
    QTest::newRow("double minus") << "en_US"
                                  << "2--3" << 5.0;
    QTest::newRow("minus group") << "en_US"
                                 << "-(2+3)*2" << -10.0;
    QTest::newRow("unary plus") << "en_US"
                                << "+4" << 4.0;
    QTest::newRow("blanks") << "en_US"
                            << "  1 +\t2 * 3  " << 7.0;
    QTest::newRow("decimal") << "en_US"
                             << "2.5*2" << 5.0;
    QTest::newRow("leading point") << "en_US"
                                   << ".5+1" << 1.5;
    QTest::newRow("exponent") << "en_US"
                              << "1.5e3" << 1500.0;
    QTest::newRow("negative exponent") << "en_US"
                                       << "25E-2" << 0.25;
    QTest::newRow("bg comma") << "bg_BG"
                              << "1,5+1" << 2.5;
    QTest::newRow("bg point too") << "bg_BG"
                                  << "1.5+1" << 2.5;
    QTest::newRow("de comma") << "de_DE"
                              << "3,25*4" << 13.0;
  }
  void evaluates() {
    QFETCH(QString, locale);
    QFETCH(QString, expr);
    QFETCH(double, expected);
    QLocale::setDefault(QLocale(locale));
    QCOMPARE(static_cast<double>(CalcValue(expr)), expected);
    QCOMPARE(static_cast<double>(CalcValueEx(expr, 0, 0, 0)), expected);
  }

  void fails_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expr");
    QTest::addColumn<QString>("message");
    QTest::newRow("division by zero") << "en_US"
                                      << "1/0"
                                      << "Division by zero at position 2";
    QTest::newRow("division by zero sum") << "en_US"
                                          << "4 / (2-2)"
                                          << "Division by zero at position 3";
    QTest::newRow("empty") << "en_US"
                           << ""
                           << "Empty expression";
    QTest::newRow("blank") << "en_US"
                           << "   "
                           << "Empty expression";
    QTest::newRow("dangling operator") << "en_US"
                                       << "1+"
                                       << "Syntax error at position 3";
    QTest::newRow("two numbers") << "en_US"
                                 << "1 2"
                                 << "Syntax error at position 3";
    QTest::newRow("letters") << "en_US"
                             << "abc"
                             << "Syntax error at position 1";
    QTest::newRow("unclosed") << "en_US"
                              << "(1+2"
                              << "Syntax error at position 5";
    QTest::newRow("stray close") << "en_US"
                                 << "1+2)"
                                 << "Syntax error at position 4";
    QTest::newRow("two points") << "en_US"
                                << "1.2.3"
                                << "Syntax error at position 4";
    QTest::newRow("lone point") << "en_US"
                                << "."
                                << "Syntax error at position 1";
    QTest::newRow("bad exponent") << "en_US"
                                  << "1e+"
                                  << "Syntax error at position 4";
    QTest::newRow("comma in en_US") << "en_US"
                                    << "1,5"
                                    << "Syntax error at position 2";
    QTest::newRow("overflow") << "en_US"
                              << "1e4000*1e4000"
                              << "Floating point overflow";
  }
  void fails() {
    QFETCH(QString, locale);
    QFETCH(QString, expr);
    QFETCH(QString, message);
    QLocale::setDefault(QLocale(locale));
    try {
      CalcValue(expr);
      QFAIL("no error");
    } catch (const ECalcError& e) {
      QCOMPARE(e.Message(), message);
      QCOMPARE(e.ErrorKind(), ENompackError::Kind::Conversion);
    }
  }
};

QTEST_GUILESS_MAIN(TestQBCalc)
#include "test_qbcalc.moc"
