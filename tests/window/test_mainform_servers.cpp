// The main window driven as a user drives it, against the test servers: a
// generation from the sample MySQL database, then the installation of the
// packet it made into a FireBird target database.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "../explorer/MessageBoxAnswerer.h"
#include "../explorer/TypeText.h"
#include "DataModule.h"
#include "GenerationRun.h"
#include "InstallLog.h"
#include "InstallationRun.h"
#include "MainFormTestSupport.h"
#include "MainFrm.h"
#include "PacketLayout.h"
#include "QBDialogs.h"
#include "QBEdit.h"
#include "QBObjectComboBox.h"
#include "TestEnv.h"

using namespace MainFormTest;

namespace {

const QString kSourceDB = QStringLiteral("nompack_win_src");
const QString kTargetFdb = QStringLiteral("/tmp/nompack-fb/nompack_win_target.fdb");

bool PortOpen(quint16 port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return open;
}

qint64 Count(IConnection& connection, const QString& sql) {
  std::unique_ptr<TClientDataSet> rows = connection.Open(sql);
  rows->First();
  return rows->Value(0).ToInt64();
}

QString FirstText(IConnection& connection, const QString& sql) {
  std::unique_ptr<TClientDataSet> rows = connection.Open(sql);
  rows->First();
  return rows->Value(0).ToString();
}

}  // namespace

class TestMainFormServers : public QObject {
  Q_OBJECT

  // Focus into the field, select everything, type the new text, Tab away.
  void TypeInto(TMainForm& form, const QString& name, const QString& text) {
    auto* edit = Find<TQBEdit>(form, name);
    edit->setFocus(Qt::TabFocusReason);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    TypeText(edit, text);
    QTest::keyClick(edit, Qt::Key_Tab);
    QCOMPARE(edit->text(), text);
  }

  void Click(TMainForm& form, const QString& button) {
    QTest::mouseClick(Find<QPushButton>(form, button), Qt::LeftButton);
  }

 private slots:
  void initTestCase() {
    TMainForm::SetUpApplication();
    SetErrorReportHook({});
    NOMPACK_REQUIRE_SERVER(PortOpen(3306) && PortOpen(3050),
                           QStringLiteral("MariaDB 127.0.0.1:3306 and Firebird 127.0.0.1:3050 "
                                          "(scripts/test-servers.sh start)"));
    const QString script = SourceDir() + QStringLiteral("/scripts/sample-db.sh");
    QString failure = RunScript({script, QStringLiteral("mysql"), kSourceDB});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    failure = RunScript({script, QStringLiteral("firebird"), kTargetFdb, QStringLiteral("--role"),
                         QStringLiteral("target")});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
  }

  void generateThenInstall() {
    QTemporaryDir out;
    QVERIFY(out.isValid());
    TMainForm form;
    TDM dm(form);
    form.SetDataModule(&dm);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Generation from the MySQL sample.
    ChooseKind(form, 2);
    QCOMPARE(Find<TQBEdit>(form, QStringLiteral("edMySQLUserName"))->text(), QStringLiteral("sa"));
    ChooseKind(form, 0);
    QCOMPARE(Find<TQBEdit>(form, QStringLiteral("edMySQLUserName"))->text(),
             QStringLiteral("root"));
    TypeInto(form, QStringLiteral("edMySQLDBName"), kSourceDB);
    TypeInto(form, QStringLiteral("edExportFolderName"), QDir::toNativeSeparators(out.path()));

    MessageBoxAnswerer answerer;
    bool actionsOffDuringRun = false;
    int mainBarAtNotice = -1;
    answerer.OnBox = [&](QMessageBox*) {
      actionsOffDuringRun =
          !Find<QAction>(form, QStringLiteral("acInstallPacket"))->isEnabled() &&
          !Find<QPushButton>(form, QStringLiteral("btnGenerateExport"))->isEnabled();
      mainBarAtNotice = Find<QProgressBar>(form, QStringLiteral("pbMain"))->value();
    };
    Click(form, QStringLiteral("btnGenerateExport"));
    QCOMPARE(answerer.Texts(), QStringList{QStringLiteral("Процесът приключи успешно!")});
    QCOMPARE(answerer.Boxes[0].Title, kCaption);
    QVERIFY(actionsOffDuringRun);
    QCOMPARE(mainBarAtNotice, 100);  // the last table's position, before the reset
    const QStringList packets =
        QDir(out.path()).entryList({QStringLiteral("nompack_mydb_*.mpd")}, QDir::Files);
    QCOMPARE(packets.size(), 1);
    const QString packet = QDir::toNativeSeparators(QDir(out.path()).filePath(packets[0]));
    QCOMPARE(form.GenerationRun()->LastPacketFile(), packet);
    QVERIFY(form.PacketFolder().startsWith(QDir::toNativeSeparators(out.path())));
    QVERIFY(form.PacketFolder().endsWith(QDir::separator()));
    QVERIFY(!QDir(form.PacketFolder()).exists());
    // The summary in the log window, and the log saved beside the packet.
    const QStringList summary = Find<QPlainTextEdit>(form, QStringLiteral("memLog"))
                                    ->toPlainText()
                                    .split(QLatin1Char('\n'));
    QVERIFY2(summary.contains(QStringLiteral("Пакетът е записан във файла: ") + packet),
             qPrintable(summary.join(QLatin1Char('\n'))));
    QCOMPARE(summary.filter(QRegularExpression(QStringLiteral("^  ARTICLE: [1-9][0-9]*$"))).size(),
             1);
    QFile savedLog(packet + QStringLiteral(".log"));
    QVERIFY(savedLog.open(QIODevice::ReadOnly));
    QVERIFY(
        QString::fromUtf8(savedLog.readAll())
            .contains(QStringLiteral("Процесът приключи успешно!\nПакетът е записан във файла: ") +
                      packet + QLatin1Char('\n')));
    QCOMPARE(Find<QProgressBar>(form, QStringLiteral("pbMain"))->value(), 0);
    QCOMPARE(Find<QProgressBar>(form, QStringLiteral("pbCurrentTable"))->value(), 0);
    QCOMPARE(Find<QLabel>(form, QStringLiteral("lblExtractTableName"))->text(),
             QStringLiteral("..."));
    QVERIFY(Find<QAction>(form, QStringLiteral("acGenerateExport"))->isEnabled());

    // Installation of that MySQL packet into the FireBird target.
    ChooseKind(form, 1);
    QVERIFY(Find<QWidget>(form, QStringLiteral("panFireBird"))->isVisible());
    TypeInto(form, QStringLiteral("edFBDBFullPath"), kTargetFdb);
    TypeInto(form, QStringLiteral("edInstallFile"), packet);
    answerer.Clear();
    answerer.OnBox = nullptr;
    Click(form, QStringLiteral("btnInstallNomPacket"));
    QVERIFY2(answerer.Boxes.isEmpty(), qPrintable(answerer.Texts().join(QStringLiteral(" | "))));
    QVERIFY(form.InstallationRun()->LastRunCompleted());
    QCOMPARE(form.PacketFolder(), PacketLayout::UnpackFolder(packet));
    const QStringList log = Find<QPlainTextEdit>(form, QStringLiteral("memLog"))
                                ->toPlainText()
                                .split(QLatin1Char('\n'));
    // One line per stage, the last from the install driver, then the
    // summary with its verdict.
    QVERIFY2(log.size() >= 2, qPrintable(log.join(QLatin1Char('\n'))));
    qInfo().noquote() << "installation log:" << log.join(QStringLiteral(" | "));
    QCOMPARE(WithoutSummaries(log).last(), QStringLiteral("..."));
    QVERIFY2(log.last().startsWith(QStringLiteral("Инсталацията завърши успешно: ")),
             qPrintable(log.last()));
    QCOMPARE(Find<QLabel>(form, QStringLiteral("lblInstallProgress"))->text(),
             QStringLiteral("..."));
    QVERIFY(Find<QAction>(form, QStringLiteral("acInstallPacket"))->isEnabled());

    // The target holds the source's nomenclature: same counts, none of its
    // own rows (IDs from 9001) left, Cyrillic names intact.
    QVERIFY(dm.FBIsConnected());  // left open by the run
    QString error;
    QVERIFY2(dm.MySQLConnect(QStringLiteral("127.0.0.1"), kSourceDB, QStringLiteral("root"),
                             QString(), error),
             qPrintable(error));
    IConnection& source = dm.MySQLCon();
    IConnection& target = dm.FBMainDatabase();
    for (const char* table : {"ARTICLE", "PARCEL", "PRODUCER", "SUPPLIER"}) {
      const QString sql = QStringLiteral("SELECT COUNT(*) FROM %1").arg(QString::fromLatin1(table));
      QCOMPARE(Count(target, sql), Count(source, sql));
    }
    QCOMPARE(Count(target, QStringLiteral("SELECT COUNT(*) FROM ARTICLE WHERE ID > 9000")),
             qint64(0));
    const QString nameSql =
        QStringLiteral("SELECT NAME FROM ARTICLE WHERE ID = (SELECT MIN(ID) FROM ARTICLE)");
    const QString sourceName = FirstText(source, nameSql);
    QVERIFY(sourceName.contains(QRegularExpression(QStringLiteral("[А-Яа-я]"))));
    QCOMPARE(FirstText(target, nameSql), sourceName);
    dm.MySQLDisconnect();
    dm.FBDisconnect();
    form.SetDataModule(nullptr);
  }

  void generationFailureReachesTheTopLevelBox() {
    // An export folder below a plain file: the packet folder cannot be made,
    // so writing the descriptor fails after the connection is open.
    QTemporaryDir out;
    const QString blocker = QDir(out.path()).filePath(QStringLiteral("not-a-folder"));
    {
      QFile file(blocker);
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
    TMainForm form;
    TDM dm(form);
    form.SetDataModule(&dm);
    form.show();
    TypeInto(form, QStringLiteral("edMySQLDBName"), kSourceDB);
    TypeInto(form, QStringLiteral("edExportFolderName"), QDir::toNativeSeparators(blocker));
    MessageBoxAnswerer answerer;
    Click(form, QStringLiteral("btnGenerateExport"));
    QCOMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Title, kCaption);
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Critical);
    QVERIFY(!answerer.Boxes[0].Text.contains(QStringLiteral("успешно")));
    QVERIFY(form.GenerationRun()->LastPacketFile().isEmpty());
    QVERIFY(!dm.MySQLIsConnected());  // closed at the end of the failed block
    QCOMPARE(Find<QLabel>(form, QStringLiteral("lblExtractTableName"))->text(),
             QStringLiteral("..."));
    for (const char* name : {"acBrowseFBDB", "acBrowseExportFolder", "acGenerateExport",
                             "acInstallPacket", "acBrowseInstallPacket", "acExploreXML"})
      QVERIFY2(Find<QAction>(form, QString::fromLatin1(name))->isEnabled(), name);
    form.SetDataModule(nullptr);
  }

  // A source without the schema version table: the run's error carries
  // where it happened, which the box leaves out and the log shows.
  void generationFailureContextReachesTheLog() {
    QTemporaryDir out;
    TMainForm form;
    TDM dm(form);
    form.SetDataModule(&dm);
    form.show();
    TypeInto(form, QStringLiteral("edMySQLDBName"), QStringLiteral("mysql"));
    TypeInto(form, QStringLiteral("edExportFolderName"), QDir::toNativeSeparators(out.path()));
    auto* log = Find<QPlainTextEdit>(form, QStringLiteral("memLog"));
    log->clear();
    MessageBoxAnswerer answerer;
    Click(form, QStringLiteral("btnGenerateExport"));
    QCOMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Critical);
    QVERIFY2(answerer.Boxes[0].Text.contains(QStringLiteral("COMPANY_DATA"), Qt::CaseInsensitive),
             qPrintable(answerer.Boxes[0].Text));
    QVERIFY2(!answerer.Boxes[0].Text.contains(QStringLiteral("reading the schema version")),
             qPrintable(answerer.Boxes[0].Text));
    QCOMPARE(log->toPlainText().split(QLatin1Char('\n')).last(),
             QStringLiteral("(reading the schema version)"));
    QVERIFY(!dm.MySQLIsConnected());
    form.SetDataModule(nullptr);
  }
};

QTEST_MAIN(TestMainFormServers)
#include "test_mainform_servers.moc"
