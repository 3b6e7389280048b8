// The command line's live bar: its text (rate, time left, none before there
// is enough to go on, a caption that gives way), and the view that measures
// each stage from its own start on a clock the test turns.
#include <stdio.h>

#include <QtTest>

#include "CliProgressBar.h"
#include "CliView.h"
#include "RowLoader.h"

namespace {

// A stream into memory, read back as text.
class TMemoryStream {
 public:
  TMemoryStream() : FStream(open_memstream(&FBuffer, &FSize)) {}
  ~TMemoryStream() {
    std::fclose(FStream);
    std::free(FBuffer);
  }
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  std::FILE* Stream() const { return FStream; }
  QString Text() {
    std::fflush(FStream);
    return QString::fromUtf8(FBuffer, qsizetype(FSize));
  }
  // What the terminal shows on the bar's line: the text after the last
  // carriage return, without the spaces that cover a longer line before.
  QString Bar() {
    const QString text = Text();
    const qsizetype cr = text.lastIndexOf(QLatin1Char('\r'));
    if (cr < 0) return QString();
    QString bar = text.mid(cr + 1);
    while (bar.endsWith(QLatin1Char(' '))) bar.chop(1);
    return bar;
  }

 private:
  char* FBuffer = nullptr;
  size_t FSize = 0;
  std::FILE* FStream;
};

}  // namespace

class TestCliProgress : public QObject {
  Q_OBJECT

 private slots:
  void text_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");
    const QString rows = QStringLiteral("ред/с");
    QTest::newRow("at the start no estimate") << "ARTICLE" << 0 << 57400 << qint64(0) << rows << 79
                                              << "[                    ]   0% ARTICLE";
    QTest::newRow("rows but under a second: no estimate")
        << "ARTICLE" << 5000 << 57400 << qint64(999) << rows << 79
        << "[#                   ]   8% ARTICLE";
    QTest::newRow("a second and no row: no estimate")
        << "ARTICLE" << 0 << 57400 << qint64(5000) << rows << 79
        << "[                    ]   0% ARTICLE";
    QTest::newRow("rate and time left, rounded up")
        << "ARTICLE" << 24690 << 57400 << qint64(2000) << rows << 79
        << "[########            ]  43% ARTICLE  12 345 ред/с, остават 0:03";
    QTest::newRow("a table done: the rate alone")
        << "ARTICLE" << 57400 << 57400 << qint64(4650) << rows << 79
        << "[####################] 100% ARTICLE  12 344 ред/с";
    QTest::newRow("hours left")
        << "ARTICLE" << 1000 << 10000000 << qint64(10000) << rows << 79
        << "[                    ]   0% ARTICLE  100 ред/с, остават 27:46:30";
    QTest::newRow("no unit: the time left alone")
        << "Проверка на пакета..." << 30 << 120 << qint64(1500) << QString() << 79
        << "[#####               ]  25% Проверка на пакета...  остават 0:05";
    QTest::newRow("a narrow terminal shortens the caption from the front")
        << "Зареждане на данни за таблица ARTICLE" << 24690 << 57400 << qint64(2000) << rows << 72
        << "[########            ]  43% …таблица ARTICLE  12 345 ред/с, остават 0:03";
    QTest::newRow("never below a few characters of the caption")
        << "Зареждане на данни за таблица ARTICLE" << 24690 << 57400 << qint64(2000) << rows << 40
        << "[########            ]  43% …ARTICLE  12 345 ред/с, остават 0:03";
    QTest::newRow("a caption that fits exactly stays whole")
        << "ARTICLE" << 24690 << 57400 << qint64(2000) << rows << 63
        << "[########            ]  43% ARTICLE  12 345 ред/с, остават 0:03";
  }
  void text() {
    QFETCH(QString, caption);
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, unit);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(CliProgressBar::Text(caption, done, total, elapsedMs, unit, width), expected);
  }

  void numbers_data() {
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("grouped");
    QTest::newRow("zero") << qint64(0) << "0";
    QTest::newRow("three digits") << qint64(999) << "999";
    QTest::newRow("four digits") << qint64(1000) << "1 000";
    QTest::newRow("seven digits") << qint64(1234567) << "1 234 567";
    QTest::newRow("negative") << qint64(-12345) << "-12 345";
  }
  void numbers() {
    QFETCH(qint64, value);
    QFETCH(QString, grouped);
    QCOMPARE(CliProgressBar::GroupedNumber(value), grouped);
  }

  void timeLeft_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << qint64(0) << "0:00";
    QTest::newRow("seconds") << qint64(7) << "0:07";
    QTest::newRow("a minute less one") << qint64(59) << "0:59";
    QTest::newRow("a minute") << qint64(60) << "1:00";
    QTest::newRow("minutes") << qint64(754) << "12:34";
    QTest::newRow("an hour") << qint64(3600) << "1:00:00";
    QTest::newRow("hours") << qint64(3723) << "1:02:03";
    QTest::newRow("a negative estimate") << qint64(-5) << "0:00";
  }
  void timeLeft() {
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(CliProgressBar::TimeLeftText(seconds), text);
  }

  // Each generation table is measured from its own line, not from the run's
  // start: the second table has no estimate at first, however long the run.
  void generationMeasuresEachTable() {
    TMemoryStream out, err;
    TCliView view(false, out.Stream(), err.Stream());
    qint64 now = 1000;
    view.SetLiveBar([&now] { return now; }, 100);
    view.ShowMainProgress(QStringLiteral("ARTICLE"), 21, 37);
    now = 1200;
    view.ShowTableProgress(50, 57400);
    QCOMPARE(err.Bar(), QStringLiteral("[                    ]   0% ARTICLE"));
    now = 3000;
    view.ShowTableProgress(24690, 57400);
    QCOMPARE(err.Bar(),
             QStringLiteral("[########            ]  43% ARTICLE  12 345 ред/с, остават 0:03"));
    now = 10000;
    view.ShowMainProgress(QStringLiteral("PRODUCER"), 22, 37);
    now = 10500;
    view.ShowTableProgress(100, 200);
    QCOMPARE(err.Bar(), QStringLiteral("[##########          ]  50% PRODUCER"));
    now = 12000;
    view.ShowTableProgress(150, 200);
    QCOMPARE(err.Bar(),
             QStringLiteral("[###############     ]  75% PRODUCER  75 ред/с, остават 0:01"));
    // The table lines stand on their own lines, before their bars.
    const QString text = err.Text();
    QVERIFY(text.startsWith(QStringLiteral("[21/37] ARTICLE\n\r")));
    QVERIFY2(text.contains(QStringLiteral("\n[22/37] PRODUCER\n\r")), qPrintable(text));
    QCOMPARE(out.Text(), QString());
  }

  // An installation reports a table after its first batch: the table's time
  // runs from the call before. Its bar shows the table's name; stages that
  // count files get the time left without a rate of rows.
  void installationMeasuresFromTheCallBefore() {
    TMemoryStream out, err;
    TCliView view(false, out.Stream(), err.Stream());
    qint64 now = 0;
    view.SetLiveBar([&now] { return now; }, 100);
    view.ShowInstallProgress(QStringLiteral("Проверка на пакета..."), 1, 120);
    now = 1500;
    view.ShowInstallProgress(QStringLiteral("Проверка на пакета..."), 30, 120);
    QCOMPARE(err.Bar(),
             QStringLiteral("[#####               ]  25% Проверка на пакета...  остават 0:05"));
    view.ShowInstallProgress(QStringLiteral("Зареждане на данни за номенклатури..."), 0, 100);
    now = 4500;
    view.ShowInstallProgress(TRowLoader::ProgressCaption(QStringLiteral("ARTICLE")), 3000, 9000);
    QCOMPARE(err.Bar(),
             QStringLiteral("[######              ]  33% ARTICLE  1 000 ред/с, остават 0:06"));
    now = 5500;
    view.ShowInstallProgress(TRowLoader::ProgressCaption(QStringLiteral("SHELF")), 500, 1000);
    QCOMPARE(err.Bar(),
             QStringLiteral("[##########          ]  50% SHELF  500 ред/с, остават 0:01"));
    // The stage line went to the log, on its own line after the check's bar.
    QCOMPARE(out.Text(), QStringLiteral("Зареждане на данни за номенклатури...\n"));
  }

  // The bar is redrawn when it moves; a bar that stands still is redrawn for
  // its estimate only now and then, and a line that follows starts anew.
  void redrawsAndLineEnds() {
    TMemoryStream out, err;
    TCliView view(false, out.Stream(), err.Stream());
    qint64 now = 0;
    view.SetLiveBar([&now] { return now; }, 100);
    view.ShowMainProgress(QStringLiteral("ARTICLE"), 1, 37);
    now = 2000;
    view.ShowTableProgress(1500, 100000);
    const qsizetype drawn = err.Text().count(QLatin1Char('\r'));
    now = 2100;
    view.ShowTableProgress(1510, 100000);  // the same 1%, soon after
    QCOMPARE(err.Text().count(QLatin1Char('\r')), drawn);
    now = 2400;
    view.ShowTableProgress(1520, 100000);
    QCOMPARE(err.Text().count(QLatin1Char('\r')), drawn + 1);
    view.ShowError(QStringLiteral("няма връзка"));
    QVERIFY2(err.Text().endsWith(QStringLiteral("\nГрешка: няма връзка\n")),
             qPrintable(err.Text()));
  }

  // Without a terminal (and without the tests' clock) no bar is drawn.
  void noTerminalNoBar() {
    TMemoryStream out, err;
    TCliView view(false, out.Stream(), err.Stream());
    view.ShowMainProgress(QStringLiteral("ARTICLE"), 1, 37);
    view.ShowTableProgress(50, 120);
    view.ShowInstallProgress(TRowLoader::ProgressCaption(QStringLiteral("ARTICLE")), 50, 120);
    QCOMPARE(err.Text(), QStringLiteral("[1/37] ARTICLE\n"));
  }
};

QTEST_GUILESS_MAIN(TestCliProgress)
#include "test_cli_progress.moc"
