#include <QAbstractItemView>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>

#include "ControlTestSupport.h"
#include "NompackError.h"
#include "QBObjectComboBox.h"

// An object to bind to, with properties of several kinds.
class TBoundObject : public QObject {
  Q_OBJECT
  Q_PROPERTY(int Kind READ Kind WRITE SetKind)
  Q_PROPERTY(qlonglong Big READ Big WRITE SetBig)
  Q_PROPERTY(int Fixed READ Fixed)
  Q_PROPERTY(QString Name READ Name WRITE SetName)

 public:
  int FKind = 20;
  qlonglong FBig = 30;
  int FFixed = 10;
  int Writes = 0;
  int Kind() const { return FKind; }
  void SetKind(int v) {
    FKind = v;
    ++Writes;
  }
  qlonglong Big() const { return FBig; }
  void SetBig(qlonglong v) {
    FBig = v;
    ++Writes;
  }
  int Fixed() const { return FFixed; }
  QString Name() const { return QStringLiteral("n"); }
  void SetName(const QString&) {}
};

namespace {

// A window with two keyed combo boxes and a plain edit, in tab order.
struct TForm {
  QWidget Window;
  TQBObjectComboBox* Combo;
  TQBObjectComboBox* Twin;
  QLineEdit* Other;
  TForm() {
    auto* layout = new QVBoxLayout(&Window);
    Combo = new TQBObjectComboBox(&Window);
    Twin = new TQBObjectComboBox(&Window);
    Other = new QLineEdit(&Window);
    Combo->setObjectName(QStringLiteral("cbKind"));
    Twin->setObjectName(QStringLiteral("cbTwin"));
    for (TQBObjectComboBox* c : {Combo, Twin}) {
      c->addItems({QStringLiteral("MySQL"), QStringLiteral("FireBird"), QStringLiteral("MSSQL")});
      c->SetKeyValues({QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30")});
    }
    layout->addWidget(Combo);
    layout->addWidget(Twin);
    layout->addWidget(Other);
  }
  bool Show() {
    if (!ShowActive(Window)) return false;
    Other->setFocus();
    return Other->hasFocus();
  }
  void Leave() {
    Other->setFocus();
    QCoreApplication::processEvents();
  }
};

// The message of the error `action` throws, with its kind in `kind`.
QString Message(const std::function<void()>& action, ENompackError::Kind* kind = nullptr) {
  try {
    action();
  } catch (const ENompackError& e) {
    if (kind) *kind = e.ErrorKind();
    return e.Message();
  }
  return QStringLiteral("<no error>");
}

}  // namespace

class TestQBCombo : public QObject {
  Q_OBJECT

 private slots:
  void keySetterSelects_data() {
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("index");
    const QStringList plain = {QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30")};
    QTest::newRow("known key") << plain << 20 << 1;
    QTest::newRow("unknown key clears") << plain << 99 << -1;
    QTest::newRow("leading zero never matches")
        << QStringList{QStringLiteral("01"), QStringLiteral("2"), QStringLiteral("3")} << 1 << -1;
    QTest::newRow("duplicate takes first")
        << QStringList{QStringLiteral("5"), QStringLiteral("5"), QStringLiteral("6")} << 5 << 0;
    QTest::newRow("negative") << QStringList{QStringLiteral("-1"), QStringLiteral("0"),
                                             QStringLiteral("1")}
                              << -1 << 0;
  }
  void keySetterSelects() {
    QFETCH(QStringList, keys);
    QFETCH(int, key);
    QFETCH(int, index);
    TQBObjectComboBox combo;
    combo.addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    combo.SetKeyValues(keys);
    combo.setCurrentIndex(2);
    combo.SetKeyValue(key);
    QCOMPARE(combo.currentIndex(), index);
    QCOMPARE(combo.KeyValue(), key);  // kept even when no line holds it
  }

  void inconsistentListsLeaveSelection() {
    TQBObjectComboBox combo;
    combo.addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    combo.SetKeyValues({QStringLiteral("1"), QStringLiteral("2")});
    combo.setCurrentIndex(2);
    combo.SetKeyValue(1);
    QCOMPARE(combo.currentIndex(), 2);
    QCOMPARE(combo.KeyValue(), 1);
    QCOMPARE(TQBObjectComboBox().KeyValue(), -1);
  }

  // The key after a user pick (arrow keys on the closed list).
  void userPickGivesKey_data() {
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("key");  // after moving down to the second item
    QTest::newRow("plain") << QStringList{QStringLiteral("10"), QStringLiteral("20"),
                                          QStringLiteral("30")}
                           << 20;
    QTest::newRow("leading zero") << QStringList{QStringLiteral("1"), QStringLiteral("02"),
                                                 QStringLiteral("3")}
                                  << 2;
    QTest::newRow("more items than keys")
        << QStringList{QStringLiteral("1"), QStringLiteral("2")} << -1;
    QTest::newRow("more keys than items") << QStringList{QStringLiteral("1"), QStringLiteral("2"),
                                                         QStringLiteral("3"), QStringLiteral("4")}
                                          << -1;
  }
  void userPickGivesKey() {
    QFETCH(QStringList, keys);
    QFETCH(int, key);
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    form.Combo->SetKeyValues(keys);
    form.Combo->setCurrentIndex(0);
    int changes = 0;
    form.Combo->OnChange = [&](TQBObjectComboBox*) { ++changes; };
    form.Combo->setFocus();
    QTest::keyClick(form.Combo, Qt::Key_Down);
    QCOMPARE(form.Combo->currentIndex(), 1);
    QCOMPARE(form.Combo->KeyValue(), key);
    QCOMPARE(changes, 1);
    QVERIFY(errors.Errors.isEmpty());
  }

  void keyLineNotIntegerIsAnError() {
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    form.Combo->SetKeyValues({QStringLiteral("1"), QStringLiteral("x2"), QStringLiteral("3")});
    form.Combo->setCurrentIndex(0);
    form.Combo->setFocus();
    QTest::keyClick(form.Combo, Qt::Key_Down);
    QTRY_COMPARE(errors.Errors, QStringList{QStringLiteral("'x2' is not a valid integer value")});
  }

  void typedTextMustMatchAnItem() {
    TErrorRecorder errors;
    TForm form;
    form.Combo->setEditable(true);
    QVERIFY(form.Show());
    form.Combo->SetKeyValue(20);
    form.Combo->setFocus();
    form.Combo->lineEdit()->selectAll();
    QTest::keyClicks(form.Combo, QStringLiteral("Oracle"));
    QCOMPARE(form.Combo->KeyValue(), -1);
    QCOMPARE(form.Combo->currentIndex(), 1);
    // Typing an item's text, in any letter case, gives that item's key.
    form.Combo->lineEdit()->selectAll();
    QTest::keyClicks(form.Combo, QStringLiteral("mssql"));
    QCOMPARE(form.Combo->KeyValue(), 30);
    // Enter adds no item to the list, also without the Tab behaviour.
    form.Combo->SetEnterAsTab(false);
    QTest::keyClick(form.Combo, Qt::Key_Return);
    QCOMPARE(form.Combo->count(), 3);
    QVERIFY(errors.Errors.isEmpty());
  }

  void keyChangeReportedOnExitOnly() {
    TForm form;
    QVERIFY(form.Show());
    form.Combo->SetKeyValue(10);
    QList<std::pair<int, int>> changes;
    form.Combo->OnKeyValueChanged = [&](TQBObjectComboBox*, int oldKey, int newKey) {
      changes.append({oldKey, newKey});
    };
    form.Combo->setFocus();
    QTest::keyClick(form.Combo, Qt::Key_Down);
    QTest::keyClick(form.Combo, Qt::Key_Down);
    QTest::keyClick(form.Combo, Qt::Key_Up);
    QTest::keyClick(form.Combo, Qt::Key_Up);  // back where it started
    form.Leave();
    QVERIFY(changes.isEmpty());

    form.Combo->setFocus();
    QTest::keyClick(form.Combo, Qt::Key_Down);
    QTest::keyClick(form.Combo, Qt::Key_Down);
    QVERIFY(changes.isEmpty());
    form.Leave();
    QCOMPARE(changes, (QList<std::pair<int, int>>{{10, 30}}));
  }

  // Opening the list is no exit: a key picked in it counts from the entry.
  void pickFromDroppedDownList() {
    TForm form;
    QVERIFY(form.Show());
    form.Combo->SetKeyValue(10);
    QList<std::pair<int, int>> changes;
    form.Combo->OnKeyValueChanged = [&](TQBObjectComboBox*, int oldKey, int newKey) {
      changes.append({oldKey, newKey});
    };
    int exits = 0, entries = 0;
    form.Combo->OnExit = [&](TQBObjectComboBox*) { ++exits; };
    form.Combo->OnEnter = [&](TQBObjectComboBox*) { ++entries; };
    form.Combo->setFocus();
    QCOMPARE(entries, 1);
    // The open list takes the focus (PopupFocusReason) and gives it back.
    form.Combo->showPopup();
    QVERIFY(form.Combo->IsDroppedDown());
    QTest::keyClick(form.Combo->view(), Qt::Key_Down);
    QTest::keyClick(form.Combo->view(), Qt::Key_Return);
    QTRY_VERIFY(!form.Combo->IsDroppedDown());
    QCOMPARE(form.Combo->KeyValue(), 20);
    QVERIFY(changes.isEmpty());
    QCOMPARE(exits, 0);
    QCOMPARE(entries, 1);
    QCOMPARE(form.Combo->palette().color(QPalette::Base), form.Combo->FocusColor());
    form.Leave();
    QCOMPARE(changes, (QList<std::pair<int, int>>{{10, 20}}));
    QCOMPARE(exits, 1);
  }

  void focusAndDropDownColour() {
    TForm form;
    QVERIFY(form.Show());
    const QColor normal = form.Combo->palette().color(QPalette::Base);
    const QColor normalButton = form.Combo->palette().color(QPalette::Button);
    QCOMPARE(form.Combo->FocusColor(), form.Combo->palette().color(QPalette::ToolTipBase));
    form.Combo->setFocus();
    QCOMPARE(form.Combo->palette().color(QPalette::Base), form.Combo->FocusColor());
    QCOMPARE(form.Combo->palette().color(QPalette::Button), form.Combo->FocusColor());
    form.Leave();
    QCOMPARE(form.Combo->palette().color(QPalette::Base), normal);
    QCOMPARE(form.Combo->palette().color(QPalette::Button), normalButton);
    form.Combo->SetFocusColor(Qt::cyan);
    form.Combo->showPopup();
    QVERIFY(form.Combo->IsDroppedDown());
    QCOMPARE(form.Combo->palette().color(QPalette::Base), QColor(Qt::cyan));
    form.Combo->hidePopup();
  }

  void enterMovesLikeTab() {
    TForm form;
    QVERIFY(form.Show());
    form.Combo->setFocus();
    QTest::keyClick(form.Combo, Qt::Key_Return);
    QVERIFY(form.Twin->hasFocus());
    QTest::keyClick(form.Twin, Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(form.Combo->hasFocus());

    form.Combo->showPopup();
    QVERIFY(form.Combo->IsDroppedDown());
    QTest::keyClick(form.Combo, Qt::Key_Return);  // left to the list
    QVERIFY(!form.Twin->hasFocus());
    form.Combo->hidePopup();

    form.Combo->setFocus();
    form.Combo->SetEnterAsTab(false);
    QTest::keyClick(form.Combo, Qt::Key_Return);
    QVERIFY(form.Combo->hasFocus());
  }

  void ctrlASelectsText() {
    TForm form;
    form.Combo->setEditable(true);
    QVERIFY(form.Show());
    form.Combo->SetKeyValue(30);
    form.Combo->setFocus();
    form.Combo->lineEdit()->setCursorPosition(1);
    QTest::keyClick(form.Combo, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(form.Combo->lineEdit()->selectedText(), QString());
    QCOMPARE(form.Combo->currentText(), QStringLiteral("MSSQL"));
    QTest::keyClick(form.Combo, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(form.Combo->lineEdit()->selectedText(), QStringLiteral("MSSQL"));
  }

  void bindingReadsAndWrites() {
    TForm form;
    TBoundObject object;
    form.Combo->SetDataObject(&object);
    form.Combo->SetDataProperty(QStringLiteral("Kind"));
    QCOMPARE(form.Combo->KeyValue(), 20);
    QCOMPARE(form.Combo->currentIndex(), 1);
    form.Twin->SetDataObject(&object);
    form.Twin->SetDataProperty(QStringLiteral("kind"));  // names match regardless of case
    QCOMPARE(object.Writes, 0);

    // A refresh re-reads without writing back.
    object.FKind = 30;
    RefreshFormControls(&form.Window);
    QCOMPARE(form.Combo->currentIndex(), 2);
    QCOMPARE(form.Twin->currentIndex(), 2);
    QCOMPARE(object.Writes, 0);

    // A key set by the program is written and the form refreshed.
    form.Combo->SetKeyValue(10);
    QCOMPARE(object.FKind, 10);
    QCOMPARE(object.Writes, 1);
    QCOMPARE(form.Twin->KeyValue(), 10);
    QCOMPARE(form.Twin->currentIndex(), 0);

    // A 64-bit property binds as well.
    form.Twin->SetDataProperty(QStringLiteral("Big"));
    QCOMPARE(form.Twin->KeyValue(), 30);
    object.FBig = qlonglong(1) << 40;  // does not fit a key
    TErrorRecorder errors;
    RefreshFormControls(&form.Window);
    QTRY_COMPARE(errors.Errors,
                 QStringList{QStringLiteral(
                     "Could not convert variant of type (qlonglong) into type (Integer)")});
  }

  void userChangeWrittenOnExit() {
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    TBoundObject object;
    form.Combo->SetDataObject(&object);
    form.Combo->SetDataProperty(QStringLiteral("Kind"));
    form.Twin->SetDataObject(&object);
    form.Twin->SetDataProperty(QStringLiteral("Kind"));
    form.Combo->setFocus();
    QTest::keyClick(form.Combo, Qt::Key_Down);
    QCOMPARE(object.FKind, 20);  // nothing written while the focus stays
    form.Leave();
    QCOMPARE(object.FKind, 30);
    QCOMPARE(object.Writes, 1);
    QCOMPARE(form.Twin->currentIndex(), 2);
    QVERIFY(errors.Errors.isEmpty());
  }

  void bindingErrors() {
    TForm form;
    TBoundObject object;
    // Unbound: the name is only stored.
    form.Combo->SetDataProperty(QStringLiteral("Missing"));
    QCOMPARE(form.Combo->DataProperty(), QStringLiteral("Missing"));
    QVERIFY(!form.Combo->IsBound());
    form.Combo->SetDataProperty(QString());
    form.Combo->SetDataObject(&object);

    ENompackError::Kind kind = ENompackError::Kind::General;
    auto message = [&](const QString& property) {
      return Message([&] { form.Combo->SetDataProperty(property); }, &kind);
    };
    QCOMPARE(
        message(QStringLiteral("Missing")),
        QStringLiteral(
            "Control: cbKind [Class TBoundObject does not define a property named: Missing!]"));
    QCOMPARE(kind, ENompackError::Kind::Conversion);
    QCOMPARE(message(QStringLiteral("Name")),
             QStringLiteral("Control: cbKind [Property must be of type Integer.]"));
    QCOMPARE(kind, ENompackError::Kind::Conversion);

    // Read-only: read, but a key set by the program is refused.
    QCOMPARE(message(QStringLiteral("Fixed")), QStringLiteral("<no error>"));
    QVERIFY(form.Combo->ReadOnlyProperty());
    QCOMPARE(form.Combo->KeyValue(), 10);
    QCOMPARE(Message([&] { form.Combo->SetKeyValue(20); }),
             QStringLiteral(
                 "Control: cbKind [Can't set property. DataProperty is a readonly property!]"));
    QCOMPARE(object.FFixed, 10);

    // Binding follows the object's life.
    auto* shortLived = new TBoundObject;
    form.Twin->SetDataObject(shortLived);
    form.Twin->SetDataProperty(QStringLiteral("Kind"));
    delete shortLived;
    QVERIFY(!form.Twin->IsBound());
    form.Twin->SetKeyValue(30);
    QCOMPARE(form.Twin->currentIndex(), 2);
  }

  void readOnlyKeepsFocusOnExit() {
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    TBoundObject object;
    form.Combo->SetDataObject(&object);
    form.Combo->SetDataProperty(QStringLiteral("Fixed"));
    int exits = 0;
    form.Combo->OnExit = [&](TQBObjectComboBox*) { ++exits; };
    form.Combo->setFocus();
    QTest::keyClick(form.Combo, Qt::Key_Down);
    form.Leave();
    QTRY_COMPARE(
        errors.Errors,
        QStringList{QStringLiteral(
            "Control: cbKind [Can't set property. DataProperty is a readonly property!]")});
    QVERIFY(form.Combo->hasFocus());
    QCOMPARE(exits, 0);
    QCOMPARE(form.Combo->palette().color(QPalette::Base), form.Combo->FocusColor());

    // Back on the key of the entry, the control can be left.
    QTest::keyClick(form.Combo, Qt::Key_Up);
    form.Leave();
    QVERIFY(form.Other->hasFocus());
    QCOMPARE(exits, 1);
    QCOMPARE(errors.Errors.size(), 1);
  }
};

QTEST_MAIN(TestQBCombo)
#include "test_qbcombo.moc"
