#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>
#include <algorithm>

#include "ControlTestSupport.h"
#include "NompackError.h"
#include "QBBrowseFolderDialog.h"
#include "QBDialogs.h"

Q_DECLARE_METATYPE(TMsgDlgButtons)

namespace {

QString U(const char16_t* text) {
  return QString::fromUtf16(text);
}

// The buttons of a shown box, left to right.
QList<QAbstractButton*> ButtonsInOrder(QMessageBox* box) {
  QList<QAbstractButton*> buttons = box->buttons();
  std::sort(buttons.begin(), buttons.end(),
            [](QAbstractButton* a, QAbstractButton* b) { return a->x() < b->x(); });
  return buttons;
}

QAbstractButton* ButtonByText(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons())
    if (b->text() == text) return b;
  return nullptr;
}

// The close box; a box that refuses to close is ended anyway, so that a
// failing test cannot hang in the modal loop.
bool CloseBox(QMessageBox* box) {
  box->close();
  if (!box->isVisible()) return true;
  box->done(0);
  return false;
}

const TMsgDlgButtons kAll = mbYes | mbNo | mbOK | mbCancel | mbAbort | mbRetry | mbIgnore | mbAll |
                            mbNoToAll | mbYesToAll | mbHelp;

// Records the refresh events a widget receives, by object name.
class TRefreshRecorder : public QObject {
 public:
  QStringList Seen;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == DataRefreshEventType()) Seen.append(watched->objectName());
    return false;
  }
};

}  // namespace

class TestQBDialogs : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationDisplayName(QStringLiteral("nompack-test")); }

  void buttonCaptionsInSetOrder() {
    QStringList captions;
    auto ran = WhenModal<QMessageBox>([&](QMessageBox* box) {
      for (QAbstractButton* b : ButtonsInOrder(box)) captions.append(b->text());
      CloseBox(box);
    });
    MsgDlg(QStringLiteral("text"), mtCustom, kAll);
    QVERIFY(*ran);
    const QStringList expected = {U(u"&Дa"),         U(u"&Не"),     QStringLiteral("OK"),
                                  U(u"&Отказ"),      U(u"От&каз"),  U(u"О&тново"),
                                  U(u"&Игнориране"), U(u"&Всички"), U(u"Н&е за вс."),
                                  U(u"Д&а за вс."),  U(u"&Помощ")};
    QCOMPARE(captions, expected);
    // The Yes caption ends in the Latin a, not the Cyrillic one.
    QCOMPARE(captions.first().back().unicode(), char16_t(0x61));
  }

  void buttonResults_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("result");
    QTest::newRow("Yes") << U(u"&Дa") << 6;
    QTest::newRow("No") << U(u"&Не") << 7;
    QTest::newRow("OK") << QStringLiteral("OK") << 1;
    QTest::newRow("Cancel") << U(u"&Отказ") << 2;
    QTest::newRow("Abort") << U(u"От&каз") << 3;
    QTest::newRow("Retry") << U(u"О&тново") << 4;
    QTest::newRow("Ignore") << U(u"&Игнориране") << 5;
    QTest::newRow("All") << U(u"&Всички") << 8;
    QTest::newRow("NoToAll") << U(u"Н&е за вс.") << 9;
    QTest::newRow("YesToAll") << U(u"Д&а за вс.") << 10;
  }
  void buttonResults() {
    QFETCH(QString, caption);
    QFETCH(int, result);
    bool found = false;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      QAbstractButton* b = ButtonByText(box, caption);
      found = b != nullptr;
      if (b)
        b->click();
      else
        CloseBox(box);
    });
    QCOMPARE(MsgDlg(QStringLiteral("text"), mtWarning, kAll), result);
    QVERIFY(found);
  }

  void helpDoesNotClose() {
    bool stillVisible = false;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      ButtonByText(box, U(u"&Помощ"))->click();
      QCoreApplication::processEvents();
      stillVisible = box->isVisible();
      ButtonByText(box, QStringLiteral("OK"))->click();
    });
    QCOMPARE(MsgDlg(QStringLiteral("text"), mtInformation, mbOK | mbHelp), 1);
    QVERIFY(stillVisible);
  }

  // Escape presses the escape button (Cancel, else No, else OK); without one
  // it does nothing and the close box ends the dialog with 2.
  void defaultAndEscape_data() {
    QTest::addColumn<TMsgDlgButtons>("buttons");
    QTest::addColumn<QString>("defaultCaption");
    QTest::addColumn<int>("escapeResult");
    QTest::newRow("OK") << TMsgDlgButtons(mbOK) << "OK" << 1;
    QTest::newRow("Yes No") << (mbYes | mbNo) << U(u"&Дa") << 7;
    QTest::newRow("Yes No Cancel") << (mbYes | mbNo | mbCancel) << U(u"&Дa") << 2;
    QTest::newRow("OK Cancel") << (mbOK | mbCancel) << "OK" << 2;
    QTest::newRow("Yes OK") << (mbYes | mbOK) << "OK" << 1;
    QTest::newRow("Abort Retry Ignore") << (mbAbort | mbRetry | mbIgnore) << U(u"О&тново") << -1;
    QTest::newRow("Yes alone") << TMsgDlgButtons(mbYes) << U(u"&Дa") << -1;
  }
  void defaultAndEscape() {
    QFETCH(TMsgDlgButtons, buttons);
    QFETCH(QString, defaultCaption);
    QFETCH(int, escapeResult);
    QString shownDefault;
    bool openAfterEscape = false;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      if (box->defaultButton()) shownDefault = box->defaultButton()->text();
      QTest::keyClick(box, Qt::Key_Escape);
      QCoreApplication::processEvents();
      openAfterEscape = box->isVisible();
      if (openAfterEscape) QVERIFY(CloseBox(box));
    });
    const int result = MsgDlg(QStringLiteral("text"), mtConfirmation, buttons);
    QCOMPARE(shownDefault, defaultCaption);
    QCOMPARE(openAfterEscape, escapeResult == -1);
    QCOMPARE(result, escapeResult == -1 ? 2 : escapeResult);
  }

  void enterPressesDefault() {
    WhenModal<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    QCOMPARE(MsgDlg(QStringLiteral("text"), mtConfirmation, mbNo | mbYes), 6);
  }

  void closeBoxGivesCancel_data() {
    QTest::addColumn<TMsgDlgButtons>("buttons");
    QTest::newRow("OK") << TMsgDlgButtons(mbOK);
    QTest::newRow("Yes No") << (mbYes | mbNo);
    QTest::newRow("Retry") << TMsgDlgButtons(mbRetry);
  }
  void closeBoxGivesCancel() {
    QFETCH(TMsgDlgButtons, buttons);
    bool refused = false;
    WhenModal<QMessageBox>([&](QMessageBox* box) { refused = !CloseBox(box); });
    QCOMPARE(MsgDlg(QStringLiteral("text"), mtWarning, buttons), 2);
    QVERIFY(!refused);
  }

  void captionAndIconByKind_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("icon");
    QTest::newRow("warning") << int(mtWarning) << U(u"Предупреждение") << int(QMessageBox::Warning);
    QTest::newRow("error") << int(mtError) << U(u"Грешка") << int(QMessageBox::Critical);
    QTest::newRow("information") << int(mtInformation) << U(u"Информация")
                                 << int(QMessageBox::Information);
    QTest::newRow("confirmation") << int(mtConfirmation) << U(u"Потвърждение")
                                  << int(QMessageBox::Question);
    QTest::newRow("custom") << int(mtCustom) << "nompack-test" << int(QMessageBox::NoIcon);
  }
  void captionAndIconByKind() {
    QFETCH(int, kind);
    QFETCH(QString, caption);
    QFETCH(int, icon);
    QString title, text;
    int shownIcon = -1;
    Qt::WindowFlags flags;
    Qt::WindowModality modality = Qt::NonModal;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      title = box->windowTitle();
      text = box->text();
      shownIcon = box->icon();
      flags = box->windowFlags();
      modality = box->windowModality();
      CloseBox(box);
    });
    MsgDlg(QStringLiteral("<b>plain</b>"), static_cast<TMsgDlgType>(kind), mbOK);
    QCOMPARE(title, caption);
    QCOMPARE(shownIcon, icon);
    QCOMPARE(text, QStringLiteral("<b>plain</b>"));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(modality, Qt::ApplicationModal);
  }

  void showErrorIsAnErrorBoxWithOK() {
    QString title;
    QStringList captions;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      title = box->windowTitle();
      for (QAbstractButton* b : ButtonsInOrder(box)) captions.append(b->text());
      ButtonByText(box, QStringLiteral("OK"))->click();
    });
    ShowError(QStringLiteral("failed"));
    QCOMPARE(title, U(u"Грешка"));
    QCOMPARE(captions, QStringList{QStringLiteral("OK")});
  }

  void askConfirm_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("action");  // Yes, No, Escape, Close
    QTest::addColumn<bool>("result");
    const QString q = U(u"Да продължа ли");
    QTest::newRow("appends ?, yes") << q << q + QLatin1Char('?') << "Yes" << true;
    QTest::newRow("keeps ?, yes") << q + QLatin1Char('?') << q + QLatin1Char('?') << "Yes" << true;
    QTest::newRow("no") << q << q + QLatin1Char('?') << "No" << false;
    QTest::newRow("escape") << q << q + QLatin1Char('?') << "Escape" << false;
    QTest::newRow("close box") << q << q + QLatin1Char('?') << "Close" << false;
    QTest::newRow("? inside only")
        << QStringLiteral("a?b") << QStringLiteral("a?b?") << "Yes" << true;
  }
  void askConfirm() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QString, action);
    QFETCH(bool, result);
    QString shownText, title;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      shownText = box->text();
      title = box->windowTitle();
      if (action == QLatin1String("Yes")) ButtonByText(box, U(u"&Дa"))->click();
      if (action == QLatin1String("No")) ButtonByText(box, U(u"&Не"))->click();
      if (action == QLatin1String("Escape")) QTest::keyClick(box, Qt::Key_Escape);
      if (action == QLatin1String("Close")) QVERIFY(CloseBox(box));
    });
    QCOMPARE(AskConfirm(text), result);
    QCOMPARE(shownText, shown);
    QCOMPARE(title, U(u"Потвърждение"));
  }

  void reportErrorDefaultBox() {
    SetErrorReportHook(nullptr);
    QString title, text;
    int icon = -1;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      CloseBox(box);
    });
    ReportError(QStringLiteral("Connection lost"));
    QCOMPARE(title, QStringLiteral("nompack-test"));
    QCOMPARE(text, QStringLiteral("Connection lost."));
    QCOMPARE(icon, int(QMessageBox::Critical));
    QCOMPARE(LastReportedError(), QStringLiteral("Connection lost"));
  }

  void reportErrorHook() {
    TErrorRecorder recorder;
    ReportError(QStringLiteral("first"));
    ReportError(QStringLiteral("second"));
    QCOMPARE(recorder.Errors, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    QCOMPARE(LastReportedError(), QStringLiteral("second"));
  }

  void refreshReachesEveryControlDepthFirst() {
    QCOMPARE(int(DataRefreshEventType()), 0xBBFF);
    QWidget form;
    form.setObjectName(QStringLiteral("form"));
    auto make = [](QWidget* parent, const char* name) {
      auto* w = new QWidget(parent);
      w->setObjectName(QString::fromLatin1(name));
      return w;
    };
    QWidget* a = make(&form, "a");
    make(a, "a1");
    QWidget* a2 = make(a, "a2");
    make(a2, "a2x");
    QWidget* b = make(&form, "b");
    make(b, "b1");
    auto* owned = new QDialog(&form);  // a window of its own, not a control of the form
    owned->setObjectName(QStringLiteral("dialog"));
    make(owned, "inDialog");

    TRefreshRecorder recorder;
    const QList<QWidget*> all = form.findChildren<QWidget*>();
    form.installEventFilter(&recorder);
    for (QWidget* w : all) w->installEventFilter(&recorder);
    RefreshFormControls(&form);
    QCOMPARE(recorder.Seen,
             (QStringList{QStringLiteral("form"), QStringLiteral("a"), QStringLiteral("a1"),
                          QStringLiteral("a2"), QStringLiteral("a2x"), QStringLiteral("b"),
                          QStringLiteral("b1")}));
  }

  void browseFolder() {
    QTemporaryDir tmp;
    const QString first = tmp.filePath(QStringLiteral("first"));
    const QString second = tmp.filePath(QStringLiteral("second"));
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));

    TQBBrowseFolderDialog dialog;
    dialog.SetTitle(QStringLiteral("Изберете папка"));
    QString title;
    bool dirsOnly = false;
    int mode = -1;
    WhenModal<QFileDialog>([&](QFileDialog* d) {
      title = d->windowTitle();
      dirsOnly = d->testOption(QFileDialog::ShowDirsOnly);
      mode = d->fileMode();
      d->setDirectory(first);
      static_cast<QDialog*>(d)->accept();  // the dialog's own accept, as its button does
    });
    QVERIFY(dialog.Execute());
    QCOMPARE(title, QStringLiteral("Изберете папка"));
    QVERIFY(dirsOnly);
    QCOMPARE(mode, int(QFileDialog::Directory));
    QCOMPARE(dialog.Folder(), QDir::toNativeSeparators(first));

    // The next run starts on the folder chosen last; cancelling keeps it.
    QString startedOn;
    WhenModal<QFileDialog>([&](QFileDialog* d) {
      startedOn = d->directory().absolutePath();
      d->setDirectory(second);
      d->reject();
    });
    QVERIFY(!dialog.Execute());
    QCOMPARE(QDir::toNativeSeparators(startedOn), QDir::toNativeSeparators(first));
    QCOMPARE(dialog.Folder(), QDir::toNativeSeparators(first));

    // Confirming again replaces it.
    WhenModal<QFileDialog>([&](QFileDialog* d) {
      d->setDirectory(second);
      static_cast<QDialog*>(d)->accept();  // the dialog's own accept, as its button does
    });
    QVERIFY(dialog.Execute());
    QCOMPARE(dialog.Folder(), QDir::toNativeSeparators(second));
  }
};

QTEST_MAIN(TestQBDialogs)
#include "test_qbdialogs.moc"
