#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "NompackError.h"
#include "QBMisc.h"

class TestQBMisc : public QObject {
  Q_OBJECT

  static void Touch(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
  }

 private slots:
  void deleteFolderTree() {
    QTemporaryDir tmp;
    const QString root = tmp.filePath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/sub/deeper")));
    Touch(root + QStringLiteral("/a.txt"));
    Touch(root + QStringLiteral("/.hidden"));
    Touch(root + QStringLiteral("/sub/deeper/b.txt"));
    Touch(root + QStringLiteral("/readonly.txt"));
    QFile::setPermissions(root + QStringLiteral("/readonly.txt"), QFileDevice::ReadOwner);
    QVERIFY(DeleteFolder(root + QLatin1Char('/')));  // a trailing separator is fine
    QVERIFY(!QFileInfo::exists(root));
  }

  void deleteFolderStopsAtFirstFailure() {
    QTemporaryDir tmp;
    const QString root = tmp.filePath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(root));
    for (int i = 0; i < 6; ++i) Touch(root + QStringLiteral("/f%1.txt").arg(i));
    // One entry nobody may delete: immutable for root (chattr), a folder
    // without write permission for other users.
    const QString victim = root + QStringLiteral("/f3.txt");
    const bool asRoot = geteuid() == 0;
    if (asRoot) {
      if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), victim}) != 0)
        QSKIP("chattr +i is not available here");
    } else {
      QFile::setPermissions(root, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    const QStringList before = QDir(root).entryList(QDir::Files, QDir::Unsorted);
    const bool result = DeleteFolder(root);
    const QStringList after = QDir(root).entryList(QDir::Files, QDir::Unsorted);
    if (asRoot) {
      QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), victim});
    } else {
      QFile::setPermissions(
          root, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QVERIFY(!result);
    QVERIFY(QFileInfo::exists(root));
    if (asRoot) {
      // What was listed before the undeletable entry is gone; it and all
      // listed after it stay in place.
      QCOMPARE(after, before.mid(before.indexOf(QStringLiteral("f3.txt"))));
    } else {
      QCOMPARE(after, before);
    }
  }

  void deleteMissingFolder() {
    QTemporaryDir tmp;
    QVERIFY(!DeleteFolder(tmp.filePath(QStringLiteral("nothing-here"))));
  }

  void forceDeleteReadOnly() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("ro.txt"));
    Touch(path);
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    QVERIFY(ForceDeleteFile(path));
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(!ForceDeleteFile(path));
  }

  void runAndWait() {
    QTemporaryDir tmp;
    QCOMPARE(RunAndWait(QStringLiteral("/no/such/program --x"), false, QString()), qint64(-1));
    QCOMPARE(RunAndWait(QStringLiteral("sh -c \"exit 7\""), true, QString()), qint64(7));
    // The working folder is the one given; quotes group a path with spaces.
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("with space"))));
    QCOMPARE(RunAndWait(QStringLiteral("sh -c \"touch made.txt\""), false,
                        tmp.filePath(QStringLiteral("with space"))),
             qint64(0));
    QVERIFY(QFileInfo::exists(tmp.filePath(QStringLiteral("with space/made.txt"))));
    QCOMPARE(RunAndWait(QStringLiteral("sh -c \"kill -9 $$\""), false, QString()), qint64(-2));
  }

  void lastCharPos_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("skip");
    QTest::addColumn<int>("pos");
    QTest::newRow("last") << "VTR_ENV_VARS" << 0 << 8;
    QTest::newRow("one before") << "VTR_ENV_VARS" << 1 << 4;
    QTest::newRow("not enough") << "VTR_ENV_VARS" << 2 << 0;
    QTest::newRow("empty") << "" << 0 << 0;
    QTest::newRow("first char") << "_42" << 0 << 1;
  }
  void lastCharPos() {
    QFETCH(QString, text);
    QFETCH(int, skip);
    QFETCH(int, pos);
    QCOMPARE(LastCharPos(QLatin1Char('_'), text, skip), pos);
  }

  void isDigits_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("digits");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("digits") << "0123456789" << true;
    QTest::newRow("leading space") << " 1" << false;
    QTest::newRow("minus") << "-1" << false;
    QTest::newRow("decimal") << "1.5" << false;
    QTest::newRow("arabic-indic digit") << QString(QChar(0x0663)) << false;
  }
  void isDigits() {
    QFETCH(QString, text);
    QFETCH(bool, digits);
    QCOMPARE(IsDigits(text), digits);
  }

  void varToDef() {
    QCOMPARE(VarToIntDef(Variant::Null(), 5), 5);
    QCOMPARE(VarToIntDef(Variant(), 5), 0);
    QCOMPARE(VarToIntDef(Variant::FromString(QStringLiteral("12")), 5), 12);
    QCOMPARE(VarToInt64Def(Variant::FromInt64(9223372036854775807LL), 0), 9223372036854775807LL);
    QCOMPARE(VarToFloatDef(Variant::Null(), 2.5), 2.5);
    QCOMPARE(VarToFloatDef(Variant::FromString(QStringLiteral("2.25")), 0), 2.25);
    QVERIFY_THROWS_EXCEPTION(ENompackError,
                             VarToIntDef(Variant::FromString(QStringLiteral("abc")), 0));
    QVERIFY_THROWS_EXCEPTION(ENompackError, VarToIntDef(Variant::FromInt64(1LL << 40), 0));
  }

  void rnd_data() {
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("result");
    QTest::newRow("2.5 half up") << 1 << 0 << "2.5"
                                 << "3";
    QTest::newRow("-2.5 half away") << 1 << 0 << "-2.5"
                                    << "-3";
    QTest::newRow("2.4999 down") << 1 << 0 << "2.4999"
                                 << "2";
    QTest::newRow("2.45 to tenths") << 10 << 0 << "2.45"
                                    << "2.5";
    QTest::newRow("-2.45 to tenths") << 10 << 0 << "-2.45"
                                     << "-2.5";
    QTest::newRow("already at precision") << 100 << 0 << "12.34"
                                          << "12.34";
    QTest::newRow("zero") << 100 << 0 << "0"
                          << "0";
    QTest::newRow("cents half") << 100 << 0 << "1.005"
                                << "1.01";
    QTest::newRow("four decimals unchanged") << 10000 << 0 << "1.2345"
                                             << "1.2345";
    QTest::newRow("away 2.01") << 1 << 1 << "2.01"
                               << "3";
    QTest::newRow("away -2.01") << 1 << 1 << "-2.01"
                                << "-3";
    QTest::newRow("away exact") << 1 << 1 << "2"
                                << "2";
    QTest::newRow("away tenths") << 10 << 1 << "2.41"
                                 << "2.5";
    QTest::newRow("towards 2.99") << 1 << 2 << "2.99"
                                  << "2";
    QTest::newRow("towards -2.99") << 1 << 2 << "-2.99"
                                   << "-2";
    QTest::newRow("towards cents") << 100 << 2 << "1.2399"
                                   << "1.23";
  }
  void rnd() {
    QFETCH(int, unit);
    QFETCH(int, mode);
    QFETCH(QString, value);
    QFETCH(QString, result);
    QCOMPARE(RND(unit, mode, Currency::FromString(value)).ToString(), result);
  }

  void rndFailures() {
    try {
      RND(100000, 0, Currency::FromString(QStringLiteral("1")));
      QFAIL("no assertion");
    } catch (const ENompackError& e) {
      QCOMPARE(e.Message(),
               QStringLiteral("More than 4 decimal places not allowed in function RND."));
      QCOMPARE(e.ErrorKind(), ENompackError::Kind::Assertion);
    }
    try {
      RND(10000, 1, Currency::FromRaw(9000000000000000000LL));
      QFAIL("no overflow");
    } catch (const ENompackError& e) {
      QVERIFY2(e.Message().startsWith(QStringLiteral("Overflow on rounding ")),
               qPrintable(e.Message()));
      QVERIFY(e.Message().endsWith(QStringLiteral(" with a factor of 10000.")));
    }
  }
};

QTEST_GUILESS_MAIN(TestQBMisc)
#include "test_qbmisc.moc"
