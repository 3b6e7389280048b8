#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include "../explorer/MessageBoxAnswerer.h"
#include "ClientDataSet.h"
#include "DataModule.h"
#include "MainFormTestSupport.h"
#include "MainFrm.h"
#include "NompackError.h"
#include "OpenDialog.h"
#include "PacketLayout.h"
#include "QBDialogs.h"
#include "QBEdit.h"
#include "QBObjectComboBox.h"
#include "XMLExplorerFrm.h"

using namespace MainFormTest;

namespace {

const QStringList kActions{
    QStringLiteral("acBrowseFBDB"),          QStringLiteral("acBrowseExportFolder"),
    QStringLiteral("acGenerateExport"),      QStringLiteral("acInstallPacket"),
    QStringLiteral("acBrowseInstallPacket"), QStringLiteral("acExploreXML")};

QString Text(QWidget& form, const QString& name) {
  QWidget* widget = Find<QWidget>(form, name);
  if (auto* l = qobject_cast<QLabel*>(widget)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(widget)) return e->text();
  if (auto* b = qobject_cast<QPushButton*>(widget)) return b->text();
  if (auto* c = qobject_cast<QComboBox*>(widget)) return c->currentText();
  return QStringLiteral("<no %1>").arg(name);
}

void SetText(QWidget& form, const QString& name, const QString& text) {
  Find<QLineEdit>(form, name)->setText(text);
}

QStringList LogLines(QWidget& form) {
  const QString text = Find<QPlainTextEdit>(form, QStringLiteral("memLog"))->toPlainText();
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

int Bar(QWidget& form, const QString& name) {
  return Find<QProgressBar>(form, name)->value();
}

QList<bool> ActionStates(QWidget& form) {
  QList<bool> states;
  for (const QString& name : kActions) states.append(Find<QAction>(form, name)->isEnabled());
  return states;
}

}  // namespace

class TestMainForm : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    TMainForm::SetUpApplication();
    // Boxes of the controls' errors are answered by the tests themselves.
    SetErrorReportHook({});
  }

  void windowAndAreas() {
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), kCaption);
    QCOMPARE(form.size(), QSize(722, 532));
    QCOMPARE(form.font().pointSize(), 8);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(qAbs(form.frameGeometry().center().x() - screen.center().x()) <= 1,
             qPrintable(QStringLiteral("%1 %2")
                            .arg(form.frameGeometry().center().x())
                            .arg(screen.center().x())));
    QVERIFY2(qAbs(form.frameGeometry().center().y() - screen.center().y()) <= 1,
             qPrintable(QStringLiteral("%1 %2")
                            .arg(form.frameGeometry().center().y())
                            .arg(screen.center().y())));

    // Stacked from the top, full width, in this order and with these heights.
    const QList<QPair<QString, int>> areas{{QStringLiteral("panDBType"), 33},
                                           {QStringLiteral("panTypeSettingsContainer"), 72},
                                           {QStringLiteral("panExport"), 88},
                                           {QStringLiteral("panInstall"), 104}};
    QWidget* client = form.centralWidget();
    int y = 0;
    for (const auto& [name, height] : areas) {
      QWidget* area = Find<QWidget>(form, name);
      QVERIFY2(area, qPrintable(name));
      const QRect r(area->mapTo(client, QPoint(0, 0)), area->size());
      QCOMPARE(r, QRect(0, y, client->width(), height));
      y += height;
    }
    auto* log = Find<QPlainTextEdit>(form, QStringLiteral("memLog"));
    QCOMPARE(log->geometry(), QRect(0, y, client->width(), client->height() - y));
    QCOMPARE(log->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(Find<QWidget>(form, QStringLiteral("panMySQL"))->height(), 65);
    QCOMPARE(Find<QWidget>(form, QStringLiteral("panFireBird"))->height(), 72);
    // Browse buttons are 21 x 21.
    for (const char* name : {"btnBrowseFBDB", "btnBrowseExportFolder", "btnBrowseInstallFile"})
      QCOMPARE(Find<QPushButton>(form, QString::fromLatin1(name))->size(), QSize(21, 21));
  }

  void controlDefaults_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const QList<QPair<const char*, QString>> rows{
        {"lblDataBaseType", QStringLiteral("Тип база данни :")},
        {"cbDataBaseType", QStringLiteral("MySQL")},
        {"btnExploreXML", QStringLiteral("XML")},
        {"lblFBDBHost", QStringLiteral("Сървър :")},
        {"edFBDBHost", QStringLiteral("127.0.0.1")},
        {"lblFBDBFullPath", QStringLiteral("Път до БД :")},
        {"edFBDBFullPath",
         QStringLiteral("C:\\Program Files\\Quenby\\Veltrona2\\Data\\Veltrona2.gdb")},
        {"btnBrowseFBDB", QStringLiteral("...")},
        {"lblFBUserName", QStringLiteral("Потребител :")},
        {"edFBUserName", QStringLiteral("SYSDBA")},
        {"lblFBPassword", QStringLiteral("Парола :")},
        {"edFBPassword", QStringLiteral("pondglass")},
        {"lblMySQLDBHost", QStringLiteral("Сървър :")},
        {"edMySQLDBHost", QStringLiteral("127.0.0.1")},
        {"lblMySQLDBName", QStringLiteral("База Данни :")},
        {"edMySQLDBName", QStringLiteral("quillmarsh1")},
        {"lblMySQLUserName", QStringLiteral("Потребител :")},
        {"edMySQLUserName", QStringLiteral("root")},
        {"lblMySQLPassword", QStringLiteral("Парола :")},
        {"edMySQLPassword", QString()},
        {"lblExportFolderName", QStringLiteral("Път за експорт :")},
        {"btnBrowseExportFolder", QStringLiteral("...")},
        {"btnGenerateExport", QStringLiteral("Генерирай")},
        {"lblExtractTableName", QStringLiteral("...")},
        {"lblInstallFile", QStringLiteral("Инст. файл :")},
        {"edInstallFile", QString()},
        {"btnBrowseInstallFile", QStringLiteral("...")},
        {"btnInstallNomPacket", QStringLiteral("Инсталирай")},
        {"lblInstallProgress", QStringLiteral("...")},
    };
    for (const auto& [name, text] : rows) QTest::newRow(name) << QString::fromLatin1(name) << text;
  }
  void controlDefaults() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    TMainForm form;
    QCOMPARE(Text(form, name), text);
    if (name.startsWith(QLatin1String("ed"))) {
      auto* edit = Find<TQBEdit>(form, name);
      QCOMPARE(edit->EditDataType(), etString);
      QCOMPARE(edit->echoMode(),
               name.endsWith(QLatin1String("Password")) ? QLineEdit::Password : QLineEdit::Normal);
    }
  }

  void progressAreaAtStart() {
    TMainForm form;
    for (const char* name : {"pbMain", "pbCurrentTable", "pbInstallProgress"}) {
      auto* bar = Find<QProgressBar>(form, QString::fromLatin1(name));
      QCOMPARE(bar->minimum(), 0);
      QCOMPARE(bar->maximum(), 100);
      QCOMPARE(bar->value(), 0);
    }
    QVERIFY(LogLines(form).isEmpty());
  }

  void actions_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("button");
    QTest::newRow("acBrowseFBDB") << kActions[0] << QStringLiteral("...")
                                  << QStringLiteral("btnBrowseFBDB");
    QTest::newRow("acBrowseExportFolder")
        << kActions[1] << QStringLiteral("...") << QStringLiteral("btnBrowseExportFolder");
    QTest::newRow("acGenerateExport")
        << kActions[2] << QStringLiteral("Генерирай") << QStringLiteral("btnGenerateExport");
    QTest::newRow("acInstallPacket")
        << kActions[3] << QStringLiteral("Инсталирай") << QStringLiteral("btnInstallNomPacket");
    QTest::newRow("acBrowseInstallPacket")
        << kActions[4] << QStringLiteral("...") << QStringLiteral("btnBrowseInstallFile");
    QTest::newRow("acExploreXML") << kActions[5] << QStringLiteral("XML")
                                  << QStringLiteral("btnExploreXML");
  }
  void actions() {
    QFETCH(QString, action);
    QFETCH(QString, caption);
    QFETCH(QString, button);
    TMainForm form;
    form.show();
    auto* a = Find<QAction>(form, action);
    QVERIFY(a);
    QCOMPARE(a->text(), caption);
    // The button runs its action and follows its enabled state.
    int runs = 0;
    QMetaObject::Connection counter = connect(a, &QAction::triggered, this, [&runs] { ++runs; });
    a->setEnabled(false);
    auto* b = Find<QPushButton>(form, button);
    QVERIFY(!b->isEnabled());
    QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(runs, 0);
    a->setEnabled(true);
    QVERIFY(b->isEnabled());
    disconnect(counter);
  }

  void formCreate() {
    TMainForm form;
    form.show();
    auto* combo = Find<TQBObjectComboBox>(form, QStringLiteral("cbDataBaseType"));
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(combo->KeyValue(), 0);
    QCOMPARE(combo->KeyValues(),
             (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")}));
    QVERIFY(Find<QWidget>(form, QStringLiteral("panMySQL"))->isVisible());
    QVERIFY(!Find<QWidget>(form, QStringLiteral("panFireBird"))->isVisible());
    const QString programFolder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    QCOMPARE(Text(form, QStringLiteral("edExportFolderName")), programFolder + QDir::separator());
    QVERIFY(form.PacketFolder().isEmpty());
    QCOMPARE(form.OpenDialog().Filter(), QStringLiteral("*.gdb (*.gdb)"));
  }

  void kindSwitch() {
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QWidget* fb = Find<QWidget>(form, QStringLiteral("panFireBird"));
    QWidget* my = Find<QWidget>(form, QStringLiteral("panMySQL"));
    QWidget* container = Find<QWidget>(form, QStringLiteral("panTypeSettingsContainer"));
    QWidget* exportArea = Find<QWidget>(form, QStringLiteral("panExport"));
    SetText(form, QStringLiteral("edMySQLUserName"), QStringLiteral("typed"));
    SetText(form, QStringLiteral("edMySQLDBName"), QStringLiteral("pharmacy"));

    const QRect mySQLHost = Find<QWidget>(form, QStringLiteral("edMySQLDBHost"))->geometry();
    const QRect mySQLUser = Find<QWidget>(form, QStringLiteral("edMySQLUserName"))->geometry();
    ChooseKind(form, 1);  // FireBird: the MySQL fields stay as they were
    QVERIFY(fb->isVisible());
    // The two panels' fields line up: switching moves no column.
    const QRect fbHost = Find<QWidget>(form, QStringLiteral("edFBDBHost"))->geometry();
    const QRect fbUser = Find<QWidget>(form, QStringLiteral("edFBUserName"))->geometry();
    QCOMPARE(QPair(fbHost.x(), fbHost.width()), QPair(mySQLHost.x(), mySQLHost.width()));
    QCOMPARE(QPair(fbUser.x(), fbUser.width()), QPair(mySQLUser.x(), mySQLUser.width()));
    QVERIFY(!my->isVisible());
    QCOMPARE(Text(form, QStringLiteral("edMySQLUserName")), QStringLiteral("typed"));
    QCOMPARE(Text(form, QStringLiteral("edMySQLDBName")), QStringLiteral("pharmacy"));
    QCOMPARE(exportArea->y(), container->y() + container->height());

    ChooseKind(form, 2);  // MSSQL: the same panel, user name sa
    QVERIFY(!fb->isVisible());
    QVERIFY(my->isVisible());
    QCOMPARE(Text(form, QStringLiteral("edMySQLUserName")), QStringLiteral("sa"));
    QCOMPARE(form.CurrentSettings().DataBaseType, DataBaseType::MSSQL);

    SetText(form, QStringLiteral("edMySQLUserName"), QStringLiteral("typed again"));
    ChooseKind(form, 0);  // back to MySQL: root, over what was typed
    QCOMPARE(Text(form, QStringLiteral("edMySQLUserName")), QStringLiteral("root"));
    QCOMPARE(Text(form, QStringLiteral("edMySQLDBName")), QStringLiteral("pharmacy"));
    QVERIFY(my->isVisible());
    QCOMPARE(exportArea->y(), container->y() + container->height());
  }

  void settingsReadAtTheMomentOfAsking() {
    TMainForm form;
    SetText(form, QStringLiteral("edFBDBHost"), QStringLiteral(" "));
    SetText(form, QStringLiteral("edInstallFile"), QStringLiteral("/tmp/x.fpd"));
    SetText(form, QStringLiteral("edMySQLPassword"), QStringLiteral("secret"));
    const TRunSettings settings = form.CurrentSettings();
    QCOMPARE(settings.FBDBHost, QStringLiteral(" "));
    QCOMPARE(settings.InstallFile, QStringLiteral("/tmp/x.fpd"));
    QCOMPARE(settings.Password, QStringLiteral("secret"));
    QCOMPARE(settings.UserName, QStringLiteral("root"));
  }

  void openDialogFilters_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("outcome");  // confirm, cancel, error
    QTest::addColumn<QString>("field");
    const QString install = QStringLiteral("acBrowseInstallPacket");
    const QString fbdb = QStringLiteral("acBrowseFBDB");
    const QString installField = QStringLiteral("edInstallFile");
    const QString fbField = QStringLiteral("edFBDBFullPath");
    QTest::newRow("MySQL target: FireBird packets")
        << 0 << install << QStringLiteral("*.fpd (*.fpd)") << QStringLiteral("confirm")
        << installField;
    QTest::newRow("FireBird target: MySQL packets")
        << 1 << install << QStringLiteral("*.mpd (*.mpd)") << QStringLiteral("confirm")
        << installField;
    QTest::newRow("MSSQL target") << 2 << install << QStringLiteral("*.mspd (*.mspd)")
                                  << QStringLiteral("confirm") << installField;
    QTest::newRow("packet dialog cancelled") << 0 << install << QStringLiteral("*.fpd (*.fpd)")
                                             << QStringLiteral("cancel") << installField;
    QTest::newRow("packet dialog failed") << 1 << install << QStringLiteral("*.mpd (*.mpd)")
                                          << QStringLiteral("error") << installField;
    QTest::newRow("FireBird database")
        << 1 << fbdb << QStringLiteral("*.gdb (*.gdb)") << QStringLiteral("confirm") << fbField;
    QTest::newRow("FireBird database cancelled")
        << 1 << fbdb << QStringLiteral("*.gdb (*.gdb)") << QStringLiteral("cancel") << fbField;
    QTest::newRow("chunk file cancelled")
        << 0 << QStringLiteral("acExploreXML") << QStringLiteral("*.xml (*.xml)")
        << QStringLiteral("cancel") << QString();
    QTest::newRow("chunk file dialog failed")
        << 0 << QStringLiteral("acExploreXML") << QStringLiteral("*.xml (*.xml)")
        << QStringLiteral("error") << QString();
  }
  void openDialogFilters() {
    QFETCH(int, kind);
    QFETCH(QString, action);
    QFETCH(QString, filter);
    QFETCH(QString, outcome);
    QFETCH(QString, field);
    TMainForm form;
    form.show();
    ChooseKind(form, kind);
    const QString before = field.isEmpty() ? QString() : Text(form, field);
    QString seen;
    form.OpenDialog().OnExecute = [&](TOpenDialog& dialog) {
      seen = dialog.Filter();
      if (outcome == QLatin1String("error"))
        throw ENompackError(QStringLiteral("Диалогът не може да се отвори"));
      dialog.SetFileName(QStringLiteral("/srv/data/chosen file.bin"));
      return outcome == QLatin1String("confirm");
    };
    MessageBoxAnswerer answerer;
    Find<QAction>(form, action)->trigger();
    QCOMPARE(seen, filter);
    QCOMPARE(form.OpenDialog().Filter(), QStringLiteral("*.gdb (*.gdb)"));
    if (!field.isEmpty()) {
      QCOMPARE(Text(form, field), outcome == QLatin1String("confirm")
                                      ? QStringLiteral("/srv/data/chosen file.bin")
                                      : before);
    }
    if (outcome == QLatin1String("error")) {
      QCOMPARE(answerer.Texts(), QStringList{QStringLiteral("Диалогът не може да се отвори.")});
      QCOMPARE(answerer.Boxes[0].Title, kCaption);
      QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Critical);
    } else {
      QVERIFY(answerer.Boxes.isEmpty());
    }
    QCOMPARE(ActionStates(form), QList<bool>(6, true));
  }

  void exploreXMLOpensTheExplorerModally() {
    QTemporaryDir dir;
    const QString chunk = dir.filePath(QStringLiteral("UNIT[1].xml"));
    TClientDataSet ds;
    ds.AddFieldDef({QStringLiteral("NAME"), ftString, 20});
    ds.AppendRow({Variant::FromString(QStringLiteral("кутия"))});
    ds.SaveToFile(chunk, TDataPacketFormat::SingleByte);

    TMainForm form;
    form.show();
    form.OpenDialog().OnExecute = [&](TOpenDialog& dialog) {
      dialog.SetFileName(chunk);
      return true;
    };
    QString title;
    QWidget* owner = nullptr;
    bool filterWhileOpen = false;
    QTimer closer;
    closer.setSingleShot(true);
    connect(&closer, &QTimer::timeout, this, [&] {
      auto* explorer = qobject_cast<TXMLExplorerForm*>(QApplication::activeModalWidget());
      if (!explorer) return;
      title = explorer->windowTitle();
      owner = explorer->parentWidget();
      filterWhileOpen = form.OpenDialog().Filter() == QLatin1String("*.xml (*.xml)");
      explorer->close();
    });
    closer.start(100);
    QTest::mouseClick(Find<QPushButton>(form, QStringLiteral("btnExploreXML")), Qt::LeftButton);
    QCOMPARE(title, chunk + QStringLiteral(" 1"));
    QCOMPARE(owner, &form);
    QVERIFY(filterWhileOpen);
    QCOMPARE(form.OpenDialog().Filter(), QStringLiteral("*.gdb (*.gdb)"));
    QVERIFY(form.findChildren<TXMLExplorerForm*>().isEmpty());
  }

  void exploreXMLBrokenFileShowsTheTopLevelError() {
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("BROKEN[1].xml"));
    {
      QFile file(broken);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"A\"");
    }
    TMainForm form;
    form.show();
    form.OpenDialog().OnExecute = [&](TOpenDialog& dialog) {
      dialog.SetFileName(broken);
      return true;
    };
    QString filterAtError;
    MessageBoxAnswerer answerer;
    answerer.OnBox = [&](QMessageBox*) { filterAtError = form.OpenDialog().Filter(); };
    Find<QAction>(form, QStringLiteral("acExploreXML"))->trigger();
    QCOMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Title, kCaption);
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Critical);
    QVERIFY2(answerer.Boxes[0].Text.contains(broken), qPrintable(answerer.Boxes[0].Text));
    QCOMPARE(filterAtError, QStringLiteral("*.gdb (*.gdb)"));  // restored before the box
    QVERIFY(form.findChildren<TXMLExplorerForm*>().isEmpty());
    // The window goes on working.
    ChooseKind(form, 2);
    QCOMPARE(Text(form, QStringLiteral("edMySQLUserName")), QStringLiteral("sa"));
  }

  void progressBars_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<QString>("bar");
    QTest::addColumn<int>("value");
    QTest::newRow("main 1/37") << QStringLiteral("main") << 1 << 37 << QStringLiteral("pbMain")
                               << 2;
    QTest::newRow("main 36/37") << QStringLiteral("main") << 36 << 37 << QStringLiteral("pbMain")
                                << 97;
    QTest::newRow("main 37/37") << QStringLiteral("main") << 37 << 37 << QStringLiteral("pbMain")
                                << 100;
    QTest::newRow("table 1/100") << QStringLiteral("table") << 1 << 100
                                 << QStringLiteral("pbCurrentTable") << 0;
    QTest::newRow("table 7/100") << QStringLiteral("table") << 7 << 100
                                 << QStringLiteral("pbCurrentTable") << 6;
    QTest::newRow("table 50/100") << QStringLiteral("table") << 50 << 100
                                  << QStringLiteral("pbCurrentTable") << 50;
    QTest::newRow("install 2/100")
        << QStringLiteral("install") << 2 << 100 << QStringLiteral("pbInstallProgress") << 1;
    QTest::newRow("install 49/100")
        << QStringLiteral("install") << 49 << 100 << QStringLiteral("pbInstallProgress") << 49;
  }
  void progressBars() {
    QFETCH(QString, operation);
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(QString, bar);
    QFETCH(int, value);
    TMainForm form;
    // Each operation lets queued events run before it returns.
    bool queuedRan = false;
    QMetaObject::invokeMethod(
        this, [&queuedRan] { queuedRan = true; }, Qt::QueuedConnection);
    const QString caption = QStringLiteral("ARTICLE_SUPPLIER");
    if (operation == QLatin1String("main")) {
      form.ShowMainProgress(caption, done, total);
      QCOMPARE(Text(form, QStringLiteral("lblExtractTableName")), caption);
    } else if (operation == QLatin1String("table")) {
      form.ShowTableProgress(done, total);
      QCOMPARE(Text(form, QStringLiteral("lblExtractTableName")), QStringLiteral("..."));
    } else {
      form.ShowInstallProgress(caption, done, total);
      QCOMPARE(Text(form, QStringLiteral("lblInstallProgress")), caption);
    }
    QVERIFY(queuedRan);
    QCOMPARE(Bar(form, bar), value);
  }

  void installProgressLogsStages() {
    TMainForm form;
    form.ShowInstallProgress(QStringLiteral("Изтриване на данни"), 0, 37);
    form.ShowInstallProgress(QStringLiteral("Изтриване на данни"), 5, 37);
    form.ShowInstallProgress(QStringLiteral("ARTICLE"), 0, 120);
    form.AppendLog(QStringLiteral("ARTICLE: отказан ред 7"));
    form.ShowInstallProgress(QStringLiteral("ARTICLE"), 120, 120);
    form.ShowInstallProgress(QStringLiteral("..."), 0, 100);
    QCOMPARE(LogLines(form),
             (QStringList{QStringLiteral("Изтриване на данни"), QStringLiteral("ARTICLE"),
                          QStringLiteral("ARTICLE: отказан ред 7"), QStringLiteral("...")}));
    QCOMPARE(Bar(form, QStringLiteral("pbInstallProgress")), 0);
    QCOMPARE(Text(form, QStringLiteral("lblInstallProgress")), QStringLiteral("..."));
  }

  void resetExportProgress() {
    TMainForm form;
    form.ShowMainProgress(QStringLiteral("PARCEL"), 20, 37);
    form.ShowTableProgress(3, 4);
    QCOMPARE(Bar(form, QStringLiteral("pbMain")), 54);
    QCOMPARE(Bar(form, QStringLiteral("pbCurrentTable")), 75);
    static_cast<IAppView&>(form).ResetExportProgress();
    QCOMPARE(Bar(form, QStringLiteral("pbMain")), 0);
    QCOMPARE(Bar(form, QStringLiteral("pbCurrentTable")), 0);
    QCOMPARE(Text(form, QStringLiteral("lblExtractTableName")), QStringLiteral("..."));
  }

  void viewBoxes() {
    TMainForm form;
    MessageBoxAnswerer answerer;
    answerer.Answers =
        QStringList{QString(), QString(), QStringLiteral("&Дa"), QStringLiteral("&Не")};
    form.ShowError(QStringLiteral("Грешка при свързването!"));
    form.ShowNotice(QStringLiteral("Процесът приключи успешно!"));
    const bool yes = form.AskConfirm(
        QStringLiteral("Вече съществува разархивиран пакет с инсталационни данни.\r\n"
                       "Желаете ли да ги използвате и да пропуснете процеса на разархивиране"));
    const bool no = form.AskConfirm(QStringLiteral("Наистина ли?"));
    QVERIFY(yes);
    QVERIFY(!no);
    QCOMPARE(answerer.Boxes.size(), 4);
    QCOMPARE(answerer.Boxes[0].Title, QStringLiteral("Грешка"));
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Critical);
    QCOMPARE(answerer.Boxes[0].Buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(answerer.Boxes[1].Title, kCaption);  // plain: the application's title, no icon
    QCOMPARE(answerer.Boxes[1].Icon, QMessageBox::NoIcon);
    QCOMPARE(answerer.Boxes[1].Buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(answerer.Boxes[2].Title, QStringLiteral("Потвърждение"));
    QVERIFY(answerer.Boxes[2].Text.endsWith(QStringLiteral("разархивиране?")));
    QCOMPARE(answerer.Boxes[3].Text, QStringLiteral("Наистина ли?"));
  }

  void actionsDisabledWhileARunShowsItsError_data() {
    QTest::addColumn<QString>("installFile");
    QTest::addColumn<QString>("message");
    QTest::newRow("no file") << QStringLiteral("  ") << QStringLiteral("Изберете файл!");
    QTest::newRow("missing file")
        << QStringLiteral("/nonexistent/nompack_fbdb_20240307-091502.fpd")
        << QStringLiteral(
               "Файлът \"/nonexistent/nompack_fbdb_20240307-091502.fpd\" не съществува!");
  }
  void actionsDisabledWhileARunShowsItsError() {
    QFETCH(QString, installFile);
    QFETCH(QString, message);
    TMainForm form;
    TDM dm(form);
    form.SetDataModule(&dm);
    form.show();
    SetText(form, QStringLiteral("edInstallFile"), installFile);
    QList<bool> duringRun;
    bool buttonEnabled = true;
    bool running = false;
    MessageBoxAnswerer answerer;
    answerer.OnBox = [&](QMessageBox*) {
      duringRun = ActionStates(form);
      buttonEnabled = Find<QPushButton>(form, QStringLiteral("btnGenerateExport"))->isEnabled();
      running = form.Running();
    };
    QTest::mouseClick(Find<QPushButton>(form, QStringLiteral("btnInstallNomPacket")),
                      Qt::LeftButton);
    QCOMPARE(answerer.Texts(), QStringList{message});
    QCOMPARE(answerer.Boxes[0].Title, QStringLiteral("Грешка"));
    QCOMPARE(duringRun, QList<bool>(6, false));
    QVERIFY(!buttonEnabled);
    QVERIFY(running);
    QCOMPARE(ActionStates(form), QList<bool>(6, true));
    QVERIFY(!form.Running());
    form.SetDataModule(nullptr);
  }
};

QTEST_MAIN(TestMainForm)
#include "test_mainform.moc"
