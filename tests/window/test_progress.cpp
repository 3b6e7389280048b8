#include <QtTest>

#include "Progress.h"

class TestProgress : public QObject {
  Q_OBJECT
 private slots:
  void position_data() {
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("position");
    QTest::newRow("1/37") << 1 << 37 << 2;
    QTest::newRow("36/37") << 36 << 37 << 97;
    QTest::newRow("37/37") << 37 << 37 << 100;
    QTest::newRow("0/100") << 0 << 100 << 0;
    QTest::newRow("1/100") << 1 << 100 << 0;
    QTest::newRow("2/100") << 2 << 100 << 1;
    QTest::newRow("7/100") << 7 << 100 << 6;
    QTest::newRow("49/100") << 49 << 100 << 49;
    QTest::newRow("50/100") << 50 << 100 << 50;
    QTest::newRow("120/120") << 120 << 120 << 100;
    QTest::newRow("53/120") << 53 << 120 << 44;
    QTest::newRow("not clamped") << 150 << 100 << 150;
  }
  void position() {
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(int, position);
    QCOMPARE(ProgressPosition(done, total), position);
  }

  // The bar starts empty, never moves back, and shows full only when the last
  // item is done: a rounding step where the position truncates would show
  // 100 one item early (99.99... rounds up), and a formula that loses the
  // extended precision would step back somewhere along the way.
  void barIsMonotoneAndFullOnlyAtTheEnd() {
    for (int total = 1; total <= 1500; ++total) {
      int previous = ProgressPosition(0, total);
      QCOMPARE(previous, 0);
      for (int done = 1; done <= total; ++done) {
        const int position = ProgressPosition(done, total);
        if (position < previous)
          QFAIL(qPrintable(QStringLiteral("%1/%2 gives %3 after %4")
                               .arg(done)
                               .arg(total)
                               .arg(position)
                               .arg(previous)));
        if (done < total && position >= 100)
          QFAIL(qPrintable(
              QStringLiteral("%1/%2 already shows %3").arg(done).arg(total).arg(position)));
        previous = position;
      }
      QCOMPARE(previous, 100);
    }
  }
};

QTEST_GUILESS_MAIN(TestProgress)
#include "test_progress.moc"
