// Stopping a run from the main window, as a user does: Escape during a
// generation or an installation asks whether to stop; No lets the run go on,
// Yes stops it. A stopped generation leaves no packet; a stopped
// installation leaves the MySQL and Firebird targets as they were.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "../explorer/MessageBoxAnswerer.h"
#include "AppView.h"
#include "Cleanup.h"
#include "DataModule.h"
#include "GenerationRun.h"
#include "InstallDriver.h"
#include "InstallationRun.h"
#include "MainFormTestSupport.h"
#include "MainFrm.h"
#include "QBDialogs.h"
#include "QBEdit.h"
#include "RecorderView.h"
#include "RowLoader.h"
#include "test_install_support.h"

using namespace MainFormTest;

namespace {

const QString kSourceDB = QStringLiteral("nompack_win_stop_src");
const QString kTargetDB = QStringLiteral("nompack_win_stop_tgt");
const QString kTargetFdb = QStringLiteral("/tmp/nompack-fb/nompack_win_stop_target.fdb");
const QString kYes = QString::fromUtf16(u"&\u0414a");  // the Yes caption ends in a Latin 'a'
const QString kNo = QStringLiteral("&Не");
const QString kQuestion = QStringLiteral("Да се спре ли процесът?");
const QString kGenerationStopped =
    QStringLiteral("Генерирането е спряно; незавършеният пакет е изтрит.");
const QString kSuccess = QStringLiteral("Процесът приключи успешно!");

enum TKind { kMySQL = 0, kFireBird = 1 };

// What another session sees committed in the target. The MySQL replica
// tables are left out: they are dropped before the transaction, as the
// README says, and no rollback brings them back.
QStringList TargetDump(int kind) {
  std::unique_ptr<IConnection> con;
  if (kind == kMySQL) {
    con = OpenMySQL(InstallTest::MySQLParams(kTargetDB));
  } else {
    con = OpenFirebird(QStringLiteral("127.0.0.1:") + kTargetFdb, TDM::FBAttachmentParams(),
                       TDM::FBTransactionParams());
    con->StartTransaction();
  }
  QStringList dump;
  bool skipping = false;
  for (const QString& line : InstallTest::DumpDatabase(*con, kind == kMySQL)) {
    if (line.startsWith(QStringLiteral("TABLE ")) || line.startsWith(QStringLiteral("COUNTER ")))
      skipping = kind == kMySQL && TCleanup::IsReplicaTableName(line.section(QLatin1Char(' '), 1));
    if (!skipping) dump.append(line);
  }
  return dump;
}

// Runs `action` once at the first moment `when` holds while the window's
// run lets events through (its progress calls).
class TDuringRun : public QObject {
 public:
  TDuringRun(std::function<bool()> when, std::function<void()> action)
      : FWhen(std::move(when)), FAction(std::move(action)) {
    FTimer.setInterval(0);
    QObject::connect(&FTimer, &QTimer::timeout, this, [this] {
      if (Done || !FWhen()) return;
      Done = true;
      FAction();
    });
    FTimer.start();
  }
  bool Done = false;

 private:
  QTimer FTimer;
  std::function<bool()> FWhen;
  std::function<void()> FAction;
};

}  // namespace

class TestMainFormStop : public QObject {
  Q_OBJECT

  QTemporaryDir FTemp;
  QString FPacket;  // generated from the source in initTestCase

  void TypeInto(TMainForm& form, const QString& name, const QString& text) {
    auto* edit = Find<TQBEdit>(form, name);
    edit->setFocus(Qt::TabFocusReason);
    edit->setText(text);
    QCOMPARE(edit->text(), text);
  }

  void Click(TMainForm& form, const QString& button) {
    QTest::mouseClick(Find<QPushButton>(form, button), Qt::LeftButton);
  }

  // Escape as a user presses it: to the widget that has the focus.
  static void PressEscape(TMainForm& form) {
    QWidget* target = QApplication::focusWidget();
    if (!target || target->window() != &form) target = &form;
    QTest::keyClick(target, Qt::Key_Escape);
  }

  static void VerifyActionsBack(TMainForm& form) {
    for (const char* name : {"acBrowseFBDB", "acBrowseExportFolder", "acGenerateExport",
                             "acInstallPacket", "acBrowseInstallPacket", "acExploreXML"})
      QVERIFY2(Find<QAction>(form, QString::fromLatin1(name))->isEnabled(), name);
    QVERIFY(!Find<QAction>(form, QStringLiteral("acStopRun"))->isEnabled());
    QVERIFY(!form.Running());
  }

  static QStringList LogLines(TMainForm& form) {
    return Find<QPlainTextEdit>(form, QStringLiteral("memLog"))
        ->toPlainText()
        .split(QLatin1Char('\n'));
  }

  // A window shown and active, with the data module and the source's fields.
  void Open(TMainForm& form, TDM& dm, const QString& exportFolder) {
    form.SetDataModule(&dm);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    TypeInto(form, QStringLiteral("edMySQLDBName"), kSourceDB);
    TypeInto(form, QStringLiteral("edExportFolderName"), QDir::toNativeSeparators(exportFolder));
  }

  // Escape after the first chunk of ARTICLE during a generation.
  static std::unique_ptr<TDuringRun> EscapeInArticle(TMainForm& form) {
    return std::make_unique<TDuringRun>(
        [&form] {
          return form.Running() &&
                 Find<QLabel>(form, QStringLiteral("lblExtractTableName"))->text() ==
                     QLatin1String("ARTICLE") &&
                 Find<QProgressBar>(form, QStringLiteral("pbCurrentTable"))->value() > 0;
        },
        [&form] { PressEscape(form); });
  }

  QStringList ExportEntries(const QString& folder) const {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  }

 private slots:
  void initTestCase() {
    TMainForm::SetUpApplication();
    SetErrorReportHook({});
    NOMPACK_REQUIRE_SERVER(InstallTest::MySQLReachable() && InstallTest::FBReachable(),
                           QStringLiteral("MariaDB 127.0.0.1:3306 and Firebird 127.0.0.1:3050 "
                                          "(scripts/test-servers.sh start)"));
    QVERIFY(FTemp.isValid());
    const QString failure = RunScript({SourceDir() + QStringLiteral("/scripts/sample-db.sh"),
                                       QStringLiteral("mysql"), kSourceDB});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // The packet the installations load, made without the window.
    RecorderView view;
    TDM dm(view);
    TRunSettings settings;
    settings.DBName = kSourceDB;
    settings.ExportFolder = FTemp.path() + QStringLiteral("/packet/");
    QVERIFY(QDir().mkpath(settings.ExportFolder));
    TRunContext context{dm, view, [settings] { return settings; }, QString(),
                        FTemp.path() + QStringLiteral("/no program/")};
    TGenerationRun run(context);
    run.GenerateExport();
    FPacket = run.LastPacketFile();
    QVERIFY2(!FPacket.isEmpty(), qPrintable(view.Errors.join(QLatin1Char('\n'))));
  }

  // Outside a run Escape asks nothing.
  void escapeOutsideARunDoesNothing() {
    TMainForm form;
    TDM dm(form);
    Open(form, dm, FTemp.path());
    MessageBoxAnswerer answerer;
    PressEscape(form);
    QTest::keyClick(&form, Qt::Key_Escape);
    QTest::qWait(100);
    QCOMPARE(answerer.Texts(), QStringList());
    QVERIFY(!form.StopRequested());
    VerifyActionsBack(form);
    form.SetDataModule(nullptr);
  }

  // No: the run goes on to its success notice. A second Escape, and the
  // action itself, while the question is open open no second question.
  void escapeNoLetsTheGenerationGoOn() {
    const QString out = FTemp.path() + QStringLiteral("/no");
    QVERIFY(QDir().mkpath(out));
    TMainForm form;
    TDM dm(form);
    Open(form, dm, out);
    MessageBoxAnswerer answerer;
    answerer.Answers = QStringList{kNo};
    int nestedQuestions = 0;
    answerer.OnBox = [&form, &nestedQuestions](QMessageBox* box) {
      if (!box->text().endsWith(kQuestion)) return;
      // A question opened from here would wait inside this call, where the
      // first answerer cannot reach it; a second one answers it and counts.
      MessageBoxAnswerer nested;
      nested.Answers = QStringList{kNo};
      PressEscape(form);
      QTest::keyClick(&form, Qt::Key_Escape);
      Find<QAction>(form, QStringLiteral("acStopRun"))->trigger();
      nestedQuestions += int(nested.Boxes.size());
    };
    const auto escape = EscapeInArticle(form);
    Click(form, QStringLiteral("btnGenerateExport"));
    QVERIFY(escape->Done);
    QCOMPARE(nestedQuestions, 0);
    QCOMPARE(answerer.Boxes.size(), 2);
    QCOMPARE(answerer.Boxes[0].Text,
             QStringLiteral("Генерирането ще бъде спряно и незавършеният пакет ще бъде "
                            "изтрит.\r\nДа се спре ли процесът?"));
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Question);
    QCOMPARE(answerer.Boxes[0].Buttons, (QStringList{kYes, kNo}));
    QCOMPARE(answerer.Boxes[1].Text, kSuccess);
    const QString packet = form.GenerationRun()->LastPacketFile();
    QVERIFY(QFileInfo(packet).isFile());
    QCOMPARE(ExportEntries(out),
             (QStringList{QFileInfo(packet).fileName(), QFileInfo(packet).fileName() + ".log"}));
    VerifyActionsBack(form);
    form.SetDataModule(nullptr);
  }

  // Yes: the generation stops after the chunk, removes its packet folder and
  // says so in the log and a box; no success notice. The next run starts
  // without the request and makes its packet.
  void escapeYesStopsTheGeneration() {
    const QString out = FTemp.path() + QStringLiteral("/yes");
    QVERIFY(QDir().mkpath(out));
    TMainForm form;
    TDM dm(form);
    Open(form, dm, out);
    MessageBoxAnswerer answerer;
    answerer.Answers = QStringList{kYes};
    {
      const auto escape = EscapeInArticle(form);
      Click(form, QStringLiteral("btnGenerateExport"));
      QVERIFY(escape->Done);
    }
    QCOMPARE(answerer.Boxes.size(), 2);
    QVERIFY(answerer.Boxes[0].Text.endsWith(kQuestion));
    QCOMPARE(answerer.Boxes[1].Text,
             QStringLiteral("Процесът е прекъснат от потребителя.\r\n") + kGenerationStopped);
    QCOMPARE(answerer.Boxes[1].Icon, QMessageBox::Critical);
    QVERIFY(form.GenerationRun()->LastPacketFile().isEmpty());
    QVERIFY(!dm.MySQLIsConnected());
    const QStringList entries = ExportEntries(out);
    QCOMPARE(entries.size(), 1);
    QVERIFY2(entries.first().endsWith(QStringLiteral(".mpd.log")), qPrintable(entries.first()));
    QVERIFY(!QFileInfo::exists(form.PacketFolder()));
    QCOMPARE(LogLines(form).last(), kGenerationStopped);
    VerifyActionsBack(form);

    answerer.Clear();
    Click(form, QStringLiteral("btnGenerateExport"));
    QCOMPARE(answerer.Texts(), QStringList{kSuccess});
    QVERIFY(QFileInfo(form.GenerationRun()->LastPacketFile()).isFile());
    form.SetDataModule(nullptr);
  }

  // Yes half-way through an installation (in ARTICLE, after the cleanup and
  // the tables before it): everything rolls back, the box and the log say
  // the target is as it was, and the actions come back.
  void escapeYesStopsTheInstallation_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("mysql") << int(kMySQL);
    QTest::newRow("firebird") << int(kFireBird);
  }
  void escapeYesStopsTheInstallation() {
    QFETCH(int, kind);
    const QString script = SourceDir() + QStringLiteral("/scripts/sample-db.sh");
    const QString failure =
        RunScript({script, kind == kMySQL ? QStringLiteral("mysql") : QStringLiteral("firebird"),
                   kind == kMySQL ? kTargetDB : kTargetFdb, QStringLiteral("--role"),
                   QStringLiteral("target")});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QStringList before = TargetDump(kind);
    QVERIFY(before.size() > 100);
    // A copy of its own, so that no unpacked folder from before is offered.
    const QString folder = FTemp.path() + QStringLiteral("/install %1").arg(kind);
    QVERIFY(QDir().mkpath(folder));
    const QString packet = folder + QLatin1Char('/') + QFileInfo(FPacket).fileName();
    QVERIFY(QFile::copy(FPacket, packet));

    TMainForm form;
    TDM dm(form);
    Open(form, dm, folder);
    ChooseKind(form, kind);
    if (kind == kMySQL)
      TypeInto(form, QStringLiteral("edMySQLDBName"), kTargetDB);
    else
      TypeInto(form, QStringLiteral("edFBDBFullPath"), kTargetFdb);
    TypeInto(form, QStringLiteral("edInstallFile"), packet);
    MessageBoxAnswerer answerer;
    answerer.Answers = QStringList{kYes};
    const QString articleCaption = TRowLoader::ProgressCaption(QStringLiteral("ARTICLE"));
    TDuringRun escape(
        [&] {
          return form.Running() &&
                 Find<QLabel>(form, QStringLiteral("lblInstallProgress"))->text() ==
                     articleCaption &&
                 Find<QProgressBar>(form, QStringLiteral("pbInstallProgress"))->value() > 0;
        },
        [&] { PressEscape(form); });
    Click(form, QStringLiteral("btnInstallNomPacket"));
    QVERIFY(escape.Done);
    QCOMPARE(answerer.Boxes.size(), 2);
    QCOMPARE(answerer.Boxes[0].Text,
             QStringLiteral("Инсталирането ще бъде спряно и промените в базата данни ще бъдат "
                            "отменени.\r\nДа се спре ли процесът?"));
    QCOMPARE(answerer.Boxes[1].Text, QStringLiteral("Процесът е прекъснат от потребителя.\r\n") +
                                         TInstallDriver::UnchangedText());
    QVERIFY(!form.InstallationRun()->LastRunCompleted());
    // The log shows the loading stage that was stopped, then what became of
    // the target.
    const QStringList log = LogLines(form);
    QVERIFY2(log.contains(QStringLiteral("Зареждане на данни за номенклатури...")),
             qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(log.last(), TInstallDriver::UnchangedText());
    VerifyActionsBack(form);
    dm.MySQLDisconnect();
    dm.FBDisconnect();
    form.SetDataModule(nullptr);

    const QStringList after = TargetDump(kind);
    QVERIFY2(after == before, qPrintable(InstallTest::FirstDifference(before, after)));
  }
};

QTEST_MAIN(TestMainFormStop)
#include "test_mainform_stop.moc"
