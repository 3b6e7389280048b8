#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>
#include <QtTest>

#include "ControlTestSupport.h"
#include "DateTime.h"
#include "NompackError.h"
#include "QBEdit.h"

Q_DECLARE_METATYPE(Variant)

namespace {

QString U(const char16_t* text) {
  return QString::fromUtf16(text);
}

Variant Int32(qint64 n) {
  return Variant::FromInt(n, Variant::Type::Int32);
}
Variant Day(int y, int m, int d) {
  return Variant::FromDateTime(DateTimeConv::FromDate(QDate(y, m, d)));
}
Variant Stamp(int y, int m, int d, int h, int mi, int s) {
  return Variant::FromDateTime(DateTimeConv::Compose(QDate(y, m, d), QTime(h, mi, s)));
}
Variant Clock(int h, int mi, int s) {
  return Variant::FromDateTime(DateTimeConv::FromTime(QTime(h, mi, s)));
}

QString Describe(const Variant& v) {
  return Variant::TypeName(v.VarType()) + QLatin1Char(':') + v.ToString();
}

// A window with three edits in tab order; the first is the one under test.
struct TForm {
  QWidget Window;
  TQBEdit* Edit;
  TQBEdit* Second;
  QLineEdit* Third;
  TForm() {
    auto* layout = new QVBoxLayout(&Window);
    Edit = new TQBEdit(&Window);
    Second = new TQBEdit(&Window);
    Third = new QLineEdit(&Window);
    Edit->setObjectName(QStringLiteral("edFirst"));
    Second->setObjectName(QStringLiteral("edSecond"));
    Second->SetEditDataType(etString);
    layout->addWidget(Edit);
    layout->addWidget(Second);
    layout->addWidget(Third);
  }
  bool Show() {
    if (!ShowActive(Window)) return false;
    Third->setFocus();
    return Third->hasFocus();
  }
  void Enter() { Edit->setFocus(); }
  void Leave() {
    Third->setFocus();
    QCoreApplication::processEvents();
  }
  void Retype(const QString& text) {
    Edit->selectAll();
    QTest::keyClicks(Edit, text);
    if (text.isEmpty()) QTest::keyClick(Edit, Qt::Key_Delete);
  }
};

}  // namespace

class TestQBEdit : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  // Typed text → value on leaving the edit, through real focus events.
  void textToValue_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Variant>("expected");
    QTest::addColumn<QString>("error");  // empty: converts
    const Variant none;
    QTest::newRow("string keeps blanks") << "en_US" << int(etString) << "  abc "
                                         << Variant::FromString(QStringLiteral("  abc ")) << "";
    QTest::newRow("integer") << "en_US" << int(etInteger) << "12" << Int32(12) << "";
    QTest::newRow("integer negative") << "en_US" << int(etInteger) << "-7" << Int32(-7) << "";
    QTest::newRow("integer decimal")
        << "en_US" << int(etInteger) << "1.5" << none << "'1.5' is not a valid integer value";
    QTest::newRow("integer too big") << "en_US" << int(etInteger) << "3000000000" << none
                                     << "'3000000000' is not a valid integer value";
    QTest::newRow("largeint 2.5") << "en_US" << int(etLargeInt) << "2.5" << Variant::FromInt64(3)
                                  << "";
    QTest::newRow("largeint -2.5")
        << "en_US" << int(etLargeInt) << "-2.5" << Variant::FromInt64(-3) << "";
    QTest::newRow("largeint 2.49")
        << "en_US" << int(etLargeInt) << "2.49" << Variant::FromInt64(2) << "";
    QTest::newRow("largeint 7") << "en_US" << int(etLargeInt) << "7" << Variant::FromInt64(7) << "";
    QTest::newRow("largeint big") << "en_US" << int(etLargeInt) << "900000000000001"
                                  << Variant::FromInt64(900000000000001) << "";
    QTest::newRow("largeint bg comma")
        << "bg_BG" << int(etLargeInt) << "-2,5" << Variant::FromInt64(-3) << "";
    QTest::newRow("largeint en comma") << "en_US" << int(etLargeInt) << "1,5" << none
                                       << "'1,5' is not a valid floating point value";
    QTest::newRow("largeint text") << "en_US" << int(etLargeInt) << "abc" << none
                                   << "'abc' is not a valid floating point value";
    QTest::newRow("float expression")
        << "en_US" << int(etFloat) << "2.5*2" << Variant::FromDouble(5) << "";
    QTest::newRow("float bg") << "bg_BG" << int(etFloat) << "1,5+1" << Variant::FromDouble(2.5)
                              << "";
    QTest::newRow("float division by zero")
        << "en_US" << int(etFloat) << "1/0" << none << "Division by zero at position 2";
    QTest::newRow("float syntax") << "en_US" << int(etFloat) << "2+" << none
                                  << "Syntax error at position 3";
    QTest::newRow("boolean 1") << "en_US" << int(etBoolean) << "1" << Variant::FromBool(true) << "";
    QTest::newRow("boolean 0") << "en_US" << int(etBoolean) << "0" << Variant::FromBool(false)
                               << "";
    QTest::newRow("boolean -2") << "en_US" << int(etBoolean) << "-2" << Variant::FromBool(true)
                                << "";
    QTest::newRow("boolean true") << "en_US" << int(etBoolean) << "tRuE" << Variant::FromBool(true)
                                  << "";
    QTest::newRow("boolean FALSE")
        << "en_US" << int(etBoolean) << "FALSE" << Variant::FromBool(false) << "";
    QTest::newRow("boolean yes") << "en_US" << int(etBoolean) << "yes" << none
                                 << "'yes' is not a valid boolean value";
    QTest::newRow("date en") << "en_US" << int(etDate) << "3/15/2024" << Day(2024, 3, 15) << "";
    QTest::newRow("date bg") << "bg_BG" << int(etDate) << "15.03.2024" << Day(2024, 3, 15) << "";
    QTest::newRow("date bg with suffix")
        << "bg_BG" << int(etDate) << U(u"15.03.2024 г.") << Day(2024, 3, 15) << "";
    QTest::newRow("date base") << "bg_BG" << int(etDate) << "30.12.1899" << Variant::FromDateTime(0)
                               << "";
    QTest::newRow("date before base")
        << "bg_BG" << int(etDate) << "1.1.1800" << Day(1800, 1, 1) << "";
    QTest::newRow("date no year") << "de_DE" << int(etDate) << "1.2."
                                  << Day(QDate::currentDate().year(), 2, 1) << "";
    QTest::newRow("date invalid") << "bg_BG" << int(etDate) << "31.02.2024" << none
                                  << "'31.02.2024' is not a valid date";
    QTest::newRow("date text") << "bg_BG" << int(etDate) << "abc" << none
                               << "'abc' is not a valid date";
    QTest::newRow("time en") << "en_US" << int(etTime) << "2:05:30 PM" << Clock(14, 5, 30) << "";
    QTest::newRow("time en 12 AM") << "en_US" << int(etTime) << "12:00 AM" << Clock(0, 0, 0) << "";
    QTest::newRow("time bg") << "bg_BG" << int(etTime) << U(u"14:05:30 ч.") << Clock(14, 5, 30)
                             << "";
    QTest::newRow("time invalid") << "bg_BG" << int(etTime) << "25:00" << none
                                  << "'25:00' is not a valid time";
    QTest::newRow("datetime bg") << "bg_BG" << int(etDateTime) << "15.03.2024 14:05"
                                 << Stamp(2024, 3, 15, 14, 5, 0) << "";
    QTest::newRow("datetime date only")
        << "bg_BG" << int(etDateTime) << "15.03.2024" << Day(2024, 3, 15) << "";
    QTest::newRow("datetime en") << "en_US" << int(etDateTime) << "3/15/2024 2:05:00 PM"
                                 << Stamp(2024, 3, 15, 14, 5, 0) << "";
    QTest::newRow("datetime before base")
        << "bg_BG" << int(etDateTime) << "29.12.1899 06:00" << Variant::FromDateTime(-1.25) << "";
    QTest::newRow("unknown") << "en_US" << int(etUnknown) << "x" << none
                             << "Cannot convert string to etUnknown. EditDataType not specified.";
    QTest::newRow("blank integer") << "en_US" << int(etInteger) << "   " << Variant::Null() << "";
    QTest::newRow("blank date") << "en_US" << int(etDate) << " " << Variant::Null() << "";
    QTest::newRow("blank unknown") << "en_US" << int(etUnknown) << "  " << Variant::Null() << "";
  }
  void textToValue() {
    QFETCH(QString, locale);
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(Variant, expected);
    QFETCH(QString, error);
    QLocale::setDefault(QLocale(locale));
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(static_cast<TQBEditDataType>(type));
    form.Enter();
    form.Edit->setText(text);
    form.Leave();
    if (error.isEmpty()) {
      QVERIFY(form.Third->hasFocus());
      QCOMPARE(Describe(form.Edit->Value()), Describe(expected));
      QVERIFY(form.Edit->Value() == expected);
      QVERIFY(errors.Errors.isEmpty());
    } else {
      QTRY_COMPARE(errors.Errors, QStringList{error});
      QVERIFY(form.Edit->hasFocus());
      QCOMPARE(form.Edit->selectedText(), text);
      QVERIFY(form.Edit->Value().IsNull());  // the stored value keeps its earlier content
      QCOMPARE(form.Edit->palette().color(QPalette::Base), form.Edit->FocusColor());
    }
  }

  void variantFollowsPreviousValue_data() {
    QTest::addColumn<Variant>("previous");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Variant>("expected");
    QTest::newRow("null, integer") << Variant::Null() << "12" << Int32(12);
    QTest::newRow("null, decimal") << Variant::Null() << "1.5" << Variant::FromDouble(1.5);
    QTest::newRow("null, text") << Variant::Null() << "abc"
                                << Variant::FromString(QStringLiteral("abc"));
    QTest::newRow("empty, integer") << Variant() << "7" << Int32(7);
    QTest::newRow("boolean, yes") << Variant::FromBool(false) << "yes"
                                  << Variant::FromString(QStringLiteral("yes"));
    QTest::newRow("boolean, true") << Variant::FromBool(false) << "true" << Variant::FromBool(true);
    QTest::newRow("int16, number")
        << Variant::FromInt(1, Variant::Type::Int16) << "40000" << Int32(40000);
    QTest::newRow("int64, decimal")
        << Variant::FromInt64(1) << "1.5" << Variant::FromString(QStringLiteral("1.5"));
    QTest::newRow("currency, decimal")
        << Variant::FromCurrency(Currency{10000}) << "2.25" << Variant::FromDouble(2.25);
    QTest::newRow("double, text") << Variant::FromDouble(1) << "x"
                                  << Variant::FromString(QStringLiteral("x"));
    QTest::newRow("date, date") << Day(2000, 1, 1) << "3/15/2024" << Day(2024, 3, 15);
    QTest::newRow("string, number") << Variant::FromString(QStringLiteral("a")) << "12"
                                    << Variant::FromString(QStringLiteral("12"));
  }
  void variantFollowsPreviousValue() {
    QFETCH(Variant, previous);
    QFETCH(QString, text);
    QFETCH(Variant, expected);
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etVariant);
    try {
      form.Edit->SetValue(previous);
    } catch (const ENompackError&) {
    }
    form.Enter();
    form.Edit->setText(text);
    form.Leave();
    QCOMPARE(Describe(form.Edit->Value()), Describe(expected));
    QVERIFY(errors.Errors.isEmpty());
  }

  void valueToText_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("format");
    QTest::addColumn<Variant>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("pattern 0.00") << "en_US" << int(etFloat) << "0.00" << Variant::FromDouble(2.5)
                                  << "2.50";
    QTest::newRow("pattern 000") << "en_US" << int(etInteger) << "000" << Int32(7) << "007";
    QTest::newRow("pattern grouped")
        << "en_US" << int(etFloat) << "#,##0.00" << Variant::FromDouble(1234.5) << "1,234.50";
    QTest::newRow("pattern grouped de") << "de_DE" << int(etFloat) << "#,##0.00"
                                        << Variant::FromDouble(1234567.5) << "1.234.567,50";
    QTest::newRow("pattern rounds half away")
        << "en_US" << int(etFloat) << "0" << Variant::FromDouble(2.5) << "3";
    QTest::newRow("pattern rounds negative")
        << "en_US" << int(etFloat) << "0" << Variant::FromDouble(-2.5) << "-3";
    QTest::newRow("pattern optional decimals")
        << "en_US" << int(etFloat) << "0.##" << Variant::FromDouble(1.5) << "1.5";
    QTest::newRow("pattern negative zero")
        << "en_US" << int(etFloat) << "0.00" << Variant::FromDouble(-0.001) << "0.00";
    QTest::newRow("pattern hash zero") << "en_US" << int(etInteger) << "#" << Int32(0) << "";
    QTest::newRow("pattern sections neg")
        << "en_US" << int(etFloat) << "0.0;(0.0);nil" << Variant::FromDouble(-5) << "(5.0)";
    QTest::newRow("pattern sections zero")
        << "en_US" << int(etFloat) << "0.0;(0.0);nil" << Variant::FromDouble(0) << "nil";
    QTest::newRow("pattern literals")
        << "en_US" << int(etFloat) << "'$'0.00' lv'" << Variant::FromDouble(3) << "$3.00 lv";
    QTest::newRow("pattern largeint exact")
        << "en_US" << int(etLargeInt) << "#,##0" << Variant::FromInt64(9007199254740993)
        << "9,007,199,254,740,993";
    QTest::newRow("largeint plain") << "en_US" << int(etLargeInt) << ""
                                    << Variant::FromInt64(-9007199254740993) << "-9007199254740993";
    QTest::newRow("integer plain") << "en_US" << int(etInteger) << "" << Int32(-12345) << "-12345";
    QTest::newRow("float general")
        << "en_US" << int(etFloat) << "" << Variant::FromDouble(0.1 + 0.2) << "0.3";
    QTest::newRow("float general bg")
        << "bg_BG" << int(etFloat) << "" << Variant::FromDouble(1234.5) << "1234,5";
    QTest::newRow("float from int") << "en_US" << int(etFloat) << "" << Int32(3) << "3";
    QTest::newRow("boolean") << "en_US" << int(etBoolean) << "0.00" << Variant::FromBool(true)
                             << "True";
    QTest::newRow("boolean from int") << "en_US" << int(etBoolean) << "" << Int32(0) << "False";
    QTest::newRow("string") << "en_US" << int(etString) << "0.00"
                            << Variant::FromString(QStringLiteral(" x ")) << " x ";
    QTest::newRow("string from double bg")
        << "bg_BG" << int(etString) << "" << Variant::FromDouble(2.5) << "2,5";
    QTest::newRow("variant integer") << "en_US" << int(etVariant) << "000" << Int32(7) << "7";
    QTest::newRow("date en") << "en_US" << int(etDate) << "" << Day(2024, 3, 15) << "3/15/2024";
    QTest::newRow("date bg") << "bg_BG" << int(etDate) << "" << Day(2024, 3, 15)
                             << U(u"15.03.2024 г.");
    QTest::newRow("date base four digits")
        << "de_DE" << int(etDate) << "" << Variant::FromDateTime(0) << "30.12.1899";
    QTest::newRow("date before base")
        << "de_DE" << int(etDate) << "" << Variant::FromDateTime(-1) << "29.12.1899";
    QTest::newRow("time en") << "en_US" << int(etTime) << "" << Clock(14, 5, 30) << "2:05:30 PM";
    QTest::newRow("time bg") << "bg_BG" << int(etTime) << "" << Clock(14, 5, 30)
                             << U(u"14:05:30 ч.");
    QTest::newRow("datetime midnight")
        << "de_DE" << int(etDateTime) << "" << Day(2024, 3, 15) << "15.03.2024";
    QTest::newRow("datetime") << "de_DE" << int(etDateTime) << "" << Stamp(2024, 3, 15, 8, 0, 1)
                              << "15.03.2024 08:00:01";
    QTest::newRow("date pattern") << "en_US" << int(etDate) << "dd.MM.yyyy" << Day(2024, 3, 5)
                                  << "05.03.2024";
    QTest::newRow("datetime pattern") << "bg_BG" << int(etDateTime) << "d MMMM yyyy, HH:mm"
                                      << Stamp(2024, 3, 5, 9, 7, 0) << U(u"5 март 2024, 09:07");
    QTest::newRow("null") << "en_US" << int(etInteger) << "000" << Variant::Null() << "";
    QTest::newRow("null unknown") << "en_US" << int(etUnknown) << "" << Variant::Null() << "";
  }
  void valueToText() {
    QFETCH(QString, locale);
    QFETCH(int, type);
    QFETCH(QString, format);
    QFETCH(Variant, value);
    QFETCH(QString, text);
    QLocale::setDefault(QLocale(locale));
    TQBEdit edit;
    edit.setText(QStringLiteral("before"));
    edit.SetEditDataType(static_cast<TQBEditDataType>(type));
    edit.SetDisplayFormat(format);
    edit.SetValue(value);
    QCOMPARE(edit.text(), text);
  }

  void valueWhileUnknownIsStoredButNotShown() {
    TQBEdit edit;
    edit.setText(QStringLiteral("before"));
    try {
      edit.SetValue(Int32(5));
      QFAIL("no error");
    } catch (const ENompackError& e) {
      QCOMPARE(e.Message(),
               QStringLiteral("Cannot convert etUnknown to string. EditDataType not specified."));
      QCOMPARE(e.ErrorKind(), ENompackError::Kind::Conversion);
    }
    QCOMPARE(edit.text(), QStringLiteral("before"));
    QVERIFY(edit.Value() == Int32(5));
  }

  // A value set by the program and left untouched comes back unchanged and
  // reports no change; dates keep their century.
  void roundTripWithoutTyping_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("type");
    QTest::addColumn<Variant>("value");
    QTest::newRow("date base de") << "de_DE" << int(etDate) << Variant::FromDateTime(0);
    QTest::newRow("date base en") << "en_US" << int(etDate) << Variant::FromDateTime(0);
    QTest::newRow("date 1950 bg") << "bg_BG" << int(etDate) << Day(1950, 6, 1);
    QTest::newRow("datetime before base")
        << "bg_BG" << int(etDateTime) << Variant::FromDateTime(-1.25);
    QTest::newRow("time en") << "en_US" << int(etTime) << Clock(23, 59, 58);
    QTest::newRow("float bg") << "bg_BG" << int(etFloat) << Variant::FromDouble(-1234.0625);
    QTest::newRow("float tiny") << "en_US" << int(etFloat) << Variant::FromDouble(1.5e-10);
    QTest::newRow("largeint") << "en_US" << int(etLargeInt) << Variant::FromInt64(-900000000000001);
    QTest::newRow("boolean") << "en_US" << int(etBoolean) << Variant::FromBool(true);
    QTest::newRow("variant double bg") << "bg_BG" << int(etVariant) << Variant::FromDouble(2.5);
  }
  void roundTripWithoutTyping() {
    QFETCH(QString, locale);
    QFETCH(int, type);
    QFETCH(Variant, value);
    QLocale::setDefault(QLocale(locale));
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    int changes = 0;
    form.Edit->OnValueChanged = [&](TQBCustomEdit*, const Variant&, const Variant&) { ++changes; };
    form.Edit->SetEditDataType(static_cast<TQBEditDataType>(type));
    form.Enter();
    form.Edit->SetValue(value);  // while focused, before any typing
    form.Leave();
    QVERIFY2(errors.Errors.isEmpty(), qPrintable(errors.Errors.join(QLatin1Char('\n'))));
    QCOMPARE(Describe(form.Edit->Value()), Describe(value));
    QCOMPARE(changes, 0);
  }

  void valueChangedReportsTypedChanges() {
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etInteger);
    form.Edit->SetValue(Int32(5));
    QList<std::pair<Variant, Variant>> changes;
    form.Edit->OnValueChanged = [&](TQBCustomEdit* sender, const Variant& oldValue,
                                    const Variant& newValue) {
      QCOMPARE(sender, form.Edit);
      changes.append({oldValue, newValue});
    };

    form.Enter();
    form.Retype(QStringLiteral("6"));
    form.Leave();
    QCOMPARE(changes.size(), 1);
    QVERIFY(changes[0].first == Int32(5));
    QVERIFY(changes[0].second == Int32(6));
    QVERIFY(form.Edit->OldValue() == Int32(5));

    // Typing, then restoring the text of the entry: converted, not reported.
    form.Enter();
    form.Retype(QStringLiteral("61"));
    QTest::keyClick(form.Edit, Qt::Key_Backspace);
    QCOMPARE(form.Edit->text(), QStringLiteral("6"));
    form.Leave();
    QCOMPARE(changes.size(), 1);

    // A value set after the user typed leaves the entry text alone.
    form.Enter();
    form.Retype(QStringLiteral("8"));
    form.Edit->SetValue(Int32(6));
    form.Edit->setText(QStringLiteral("9"));
    form.Leave();
    QCOMPARE(changes.size(), 2);
    QVERIFY(changes[1].second == Int32(9));
    QVERIFY(errors.Errors.isEmpty());
  }

  void focusColour() {
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etString);
    const QColor normal = form.Edit->palette().color(QPalette::Base);
    QCOMPARE(form.Edit->FocusColor(), form.Edit->palette().color(QPalette::ToolTipBase));
    QVERIFY(form.Edit->FocusColor() != normal);
    form.Enter();
    QCOMPARE(form.Edit->palette().color(QPalette::Base), form.Edit->FocusColor());
    form.Leave();
    QCOMPARE(form.Edit->palette().color(QPalette::Base), normal);

    // A colour the form sets is the one restored once Loaded has taken it.
    QPalette p = form.Edit->palette();
    p.setColor(QPalette::Base, Qt::green);
    form.Edit->setPalette(p);
    form.Edit->Loaded();
    form.Edit->SetFocusColor(Qt::cyan);
    form.Enter();
    QCOMPARE(form.Edit->palette().color(QPalette::Base), QColor(Qt::cyan));
    form.Leave();
    QCOMPARE(form.Edit->palette().color(QPalette::Base), QColor(Qt::green));
  }

  void requiredRefusesBlank() {
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etInteger);
    form.Edit->SetRequired(true);
    form.Edit->SetValue(Int32(4));
    form.Enter();
    form.Retype(QStringLiteral("  "));
    form.Leave();
    QTRY_COMPARE(errors.Errors, QStringList{U(u"Въведете стойност за полето!")});
    QVERIFY(form.Edit->hasFocus());
    QVERIFY(form.Edit->Value() == Int32(4));
    QCOMPARE(form.Edit->selectedText(), QStringLiteral("  "));

    // Once the text converts the edit can be left, and the change counts
    // from the original entry.
    int changes = 0;
    form.Edit->OnValueChanged = [&](TQBCustomEdit*, const Variant&, const Variant&) { ++changes; };
    form.Retype(QStringLiteral("9"));
    form.Leave();
    QVERIFY(form.Third->hasFocus());
    QVERIFY(form.Edit->Value() == Int32(9));
    QCOMPARE(changes, 1);
    QCOMPARE(errors.Errors.size(), 1);
  }

  // Two edits that both refuse blank text: leaving one into the other keeps
  // the focus in the first and reports once, without the second joining in.
  void refusalDoesNotPingPong() {
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etString);
    form.Edit->SetRequired(true);
    form.Second->SetRequired(true);
    int secondExits = 0;
    form.Second->OnExit = [&](TQBCustomEdit*) { ++secondExits; };
    form.Enter();
    form.Second->setFocus();
    QTRY_VERIFY(form.Edit->hasFocus());
    QTest::qWait(50);
    QCOMPARE(errors.Errors.size(), 1);
    QVERIFY(form.Edit->hasFocus());
    QCOMPARE(secondExits, 0);
    QCOMPARE(form.Second->palette().color(QPalette::Base), form.Second->NormalColor());
  }

  // The standard error box takes the activation from the window; that is no
  // exit from the edit and must not report again.
  void errorBoxDoesNotRetrigger() {
    SetErrorReportHook(nullptr);
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etInteger);
    QStringList shown;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&]() {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        shown.append(box->text());
        box->close();
      }
    });
    closer.start(10);
    form.Enter();
    form.Edit->setText(QStringLiteral("x"));
    form.Leave();
    QTRY_COMPARE(shown.size(), 1);
    // What the window manager does once the box is gone (offscreen has none).
    QApplication::setActiveWindow(&form.Window);
    QVERIFY(QTest::qWaitForWindowActive(&form.Window));
    QTest::qWait(100);
    QCOMPARE(shown, QStringList{QStringLiteral("'x' is not a valid integer value.")});
    QVERIFY(form.Edit->hasFocus());
    QCOMPARE(form.Edit->palette().color(QPalette::Base), form.Edit->FocusColor());
  }

  void onConvertReplacesBuiltIn() {
    TErrorRecorder errors;
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etInteger);
    form.Edit->SetRequired(true);
    form.Edit->SetValue(Int32(1));
    QString seenText;
    Variant seenValue;
    form.Edit->OnConvert = [&](TQBCustomEdit*, const QString& text, Variant& value) {
      seenText = text;
      seenValue = value;
      value = Variant::FromString(QStringLiteral("converted:") + text);
    };
    form.Enter();
    form.Retype(QString());
    form.Leave();
    QVERIFY(errors.Errors.isEmpty());  // no Required check
    QVERIFY(form.Third->hasFocus());
    QCOMPARE(seenText, QString());
    QVERIFY(seenValue == Int32(1));
    QVERIFY(form.Edit->Value() == Variant::FromString(QStringLiteral("converted:")));

    // A handler that throws keeps the focus like a failed conversion.
    form.Edit->OnConvert = [](TQBCustomEdit*, const QString&, Variant&) {
      throw ENompackError(QStringLiteral("handler refused"));
    };
    form.Enter();
    form.Leave();
    QTRY_COMPARE(errors.Errors, QStringList{QStringLiteral("handler refused")});
    QVERIFY(form.Edit->hasFocus());
  }

  // A popup (the context menu, say) takes the focus for a while: no exit.
  void popupIsNoExit() {
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etString);
    int exits = 0;
    form.Edit->OnExit = [&](TQBCustomEdit*) { ++exits; };
    form.Enter();
    QMenu menu(&form.Window);
    menu.addAction(QStringLiteral("item"));
    menu.popup(form.Edit->mapToGlobal(QPoint(0, 0)));
    QTRY_VERIFY(menu.isVisible());
    menu.close();
    QTRY_VERIFY(!menu.isVisible());
    QCOMPARE(exits, 0);
    QVERIFY(form.Edit->hasFocus());
    QCOMPARE(form.Edit->palette().color(QPalette::Base), form.Edit->FocusColor());
    form.Leave();
    QCOMPARE(exits, 1);
  }

  void enterMovesLikeTab() {
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etString);
    form.Enter();
    QTest::keyClick(form.Edit, Qt::Key_Return);
    QVERIFY(form.Second->hasFocus());
    QTest::keyClick(form.Second, Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(form.Edit->hasFocus());
    QTest::keyClick(form.Edit, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(form.Second->hasFocus());
    form.Edit->setFocus();
    QTest::keyClick(form.Edit, Qt::Key_Return, Qt::ControlModifier);  // not Enter alone
    QVERIFY(form.Edit->hasFocus());

    form.Edit->SetEnterAsTab(false);
    form.Edit->setText(QStringLiteral("abc"));
    QTest::keyClick(form.Edit, Qt::Key_Return);
    QVERIFY(form.Edit->hasFocus());
    QCOMPARE(form.Edit->text(), QStringLiteral("abc"));
  }

  void ctrlASelectsAll() {
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etString);
    form.Enter();
    form.Edit->setText(QStringLiteral("hello"));
    form.Edit->setCursorPosition(2);
    QTest::keyClick(form.Edit, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(form.Edit->selectedText(), QString());
    QCOMPARE(form.Edit->text(), QStringLiteral("hello"));
    QTest::keyClick(form.Edit, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(form.Edit->selectedText(), QStringLiteral("hello"));
  }

  void clickSelectsAll() {
    TForm form;
    QVERIFY(form.Show());
    form.Edit->SetEditDataType(etString);
    form.Edit->setText(QStringLiteral("hello world"));
    QTest::mouseClick(form.Edit, Qt::LeftButton, {}, QPoint(5, form.Edit->height() / 2));
    QVERIFY(form.Edit->hasFocus());
    QCOMPARE(form.Edit->selectedText(), QStringLiteral("hello world"));
  }
};

QTEST_MAIN(TestQBEdit)
#include "test_qbedit.moc"
