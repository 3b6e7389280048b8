#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "ClientDataSet.h"
#include "DateTime.h"
#include "FieldText.h"
#include "MessageBoxAnswerer.h"
#include "NompackError.h"
#include "PacketManifest.h"
#include "QBDialogs.h"
#include "TypeText.h"
#include "XMLDataGrid.h"
#include "XMLDataModel.h"
#include "XMLExplorerFrm.h"

Q_DECLARE_METATYPE(Variant)

namespace {

enum Column { cID, cNAME, cPRICE, cEXPIRY, cNOTE, cACTIVE, cQTY, cSTAMP, cCODE };

TDateTime Date(int y, int m, int d) {
  return DateTimeConv::FromDate(QDate(y, m, d));
}

// A chunk like the ones the export writes: a few field types, Cyrillic text,
// NULLs and expiry dates on both sides of 30.12.1899.
void WriteChunk(const QString& fileName, const QList<Variant>& expiryDates,
                const QString& expiryName = QStringLiteral("EXPIRY_DATE"),
                TDataPacketFormat format = TDataPacketFormat::SingleByte) {
  TClientDataSet ds;
  ds.AddFieldDef({QStringLiteral("ID"), ftInteger});
  ds.AddFieldDef({QStringLiteral("NAME"), ftString, 40});
  ds.AddFieldDef({QStringLiteral("PRICE"), ftBCD, 2, 15});
  ds.AddFieldDef({expiryName, ftDateTime});
  ds.AddFieldDef({QStringLiteral("NOTE"), ftMemo});
  ds.AddFieldDef({QStringLiteral("IS_ACTIVE"), ftBoolean});
  ds.AddFieldDef({QStringLiteral("QTY"), ftFloat});
  ds.AddFieldDef({QStringLiteral("STAMP"), ftDate});
  ds.AddFieldDef({QStringLiteral("CODE"), ftSmallint});
  for (int i = 0; i < expiryDates.size(); ++i) {
    ds.AppendRow(
        {Variant::FromInt(i + 1), Variant::FromString(QStringLiteral("Аспирин №%1").arg(i + 1)),
         Variant::FromDecimal(QStringLiteral("1.50")), expiryDates[i],
         i == 0 ? Variant::Null() : Variant::FromString(QStringLiteral("ред 1\r\nред 2")),
         Variant::FromBool(true), Variant::FromDouble(2.25),
         Variant::FromDateTime(Date(2024, 3, 7)), Variant::FromInt(7, Variant::Type::Int16)});
  }
  ds.Open();
  ds.SaveToFile(fileName, format);
}

QByteArray FileBytes(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

const QString kNothingToFix = QStringLiteral("Не са открити данни, изискващи корекция!");
const QString kSaved = QStringLiteral("Промените са записани!");

}  // namespace

class TestExplorer : public QObject {
  Q_OBJECT

  QTemporaryDir FDir;
  QString FChunk;

  TXMLDataGrid* Grid(TXMLExplorerForm& form) {
    return form.findChild<TXMLDataGrid*>(QStringLiteral("dgrXMLFileData"));
  }
  TXMLDataModel* Model(TXMLExplorerForm& form) {
    return form.findChild<TXMLDataModel*>(QStringLiteral("dsXMLFileData"));
  }

  // Opens the cell's editor, replaces its text as a user would type it, and
  // leaves it open; returns the editor.
  QWidget* TypeIntoCell(TXMLExplorerForm& form, int row, int column, const QString& text) {
    TXMLDataGrid* grid = Grid(form);
    const QModelIndex index = Model(form)->index(row, column);
    grid->setCurrentIndex(index);
    grid->edit(index);
    QWidget* editor = grid->PendingEditor();
    if (!editor) return nullptr;
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      line->selectAll();
      QTest::keyClick(line, Qt::Key_Delete);
      TypeText(line, text);
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(editor)) {
      memo->selectAll();
      QTest::keyClick(memo, Qt::Key_Delete);
      const QStringList lines = text.split(QLatin1Char('\n'));
      for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) QTest::keyClick(memo, Qt::Key_Return);
        TypeText(memo, lines[i]);
      }
    }
    return editor;
  }

  void Open(TXMLExplorerForm& form, const QString& fileName) {
    form.OpenFile(fileName);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
  }

 private slots:
  void initTestCase() {
    QVERIFY(FDir.isValid());
    SetErrorReportHook({});
  }

  void init() {
    FChunk = FDir.filePath(QStringLiteral("ARTICLE[1].xml"));
    QFile::remove(FChunk);
    WriteChunk(FChunk, {Variant::FromDateTime(Date(2025, 1, 31) + 0.5),
                        Variant::FromDateTime(Date(1800, 1, 1)), Variant::Null()});
    ClearLastReportedError();
  }

  void opensWithFieldsRowsAndCaption() {
    TXMLExplorerForm form;
    Open(form, FChunk);
    TXMLDataModel* model = Model(form);
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->columnCount(), 9);
    QCOMPARE(model->headerData(cEXPIRY, Qt::Horizontal).toString(), QStringLiteral("EXPIRY_DATE"));
    QCOMPARE(model->data(model->index(1, cNAME)).toString(), QStringLiteral("Аспирин №2"));
    QCOMPARE(model->data(model->index(0, cEXPIRY)).toString(),
             QStringLiteral("31.01.2025 12:00:00"));
    QCOMPARE(model->data(model->index(1, cEXPIRY)).toString(),
             QStringLiteral("01.01.1800 00:00:00"));
    QCOMPARE(model->data(model->index(2, cEXPIRY)).toString(), QString());  // NULL
    QCOMPARE(model->data(model->index(0, cNOTE)).toString(), QString());
    QCOMPARE(model->data(model->index(0, cACTIVE)).toString(), QStringLiteral("True"));
    QCOMPARE(model->data(model->index(0, cSTAMP)).toString(), QStringLiteral("07.03.2024"));
    QCOMPARE(form.windowTitle(), FChunk + QStringLiteral(" 1"));
    QCOMPARE(form.size(), QSize(870, 640));
    QCOMPARE(form.font().pointSize(), 8);
    auto* bottom = form.findChild<QWidget*>(QStringLiteral("panBottom"));
    QCOMPARE(bottom->geometry(), QRect(0, 640 - 62, 870, 62));
    QCOMPARE(form.findChild<QPushButton*>(QStringLiteral("btnSaveXMLFile"))->geometry(),
             QRect(732, 20, 116, 25));
    QCOMPARE(Grid(form)->geometry(), QRect(0, 0, 870, 640 - 62));

    // The caption follows the current row.
    Grid(form)->setCurrentIndex(model->index(2, cNAME));
    QCOMPARE(form.windowTitle(), FChunk + QStringLiteral(" 3"));
    QCOMPARE(form.DataSet().RecNo(), 3);
  }

  void editCell_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("integer") << int(cID) << QStringLiteral("42") << QStringLiteral("42");
    QTest::newRow("Cyrillic text")
        << int(cNAME) << QStringLiteral("Парацетамол 500") << QStringLiteral("Парацетамол 500");
    QTest::newRow("empty text") << int(cNAME) << QString() << QString();
    QTest::newRow("BCD") << int(cPRICE) << QStringLiteral("12.34") << QStringLiteral("12.34");
    QTest::newRow("date-time") << int(cEXPIRY) << QStringLiteral("07.03.2024 09:15:02")
                               << QStringLiteral("07.03.2024 09:15:02");
    QTest::newRow("date only") << int(cEXPIRY) << QStringLiteral("1.2.1850")
                               << QStringLiteral("01.02.1850 00:00:00");
    QTest::newRow("date-time to NULL") << int(cEXPIRY) << QString() << QString();
    QTest::newRow("memo, two lines")
        << int(cNOTE) << QStringLiteral("първи\nвтори") << QStringLiteral("първи\nвтори");
    QTest::newRow("Boolean") << int(cACTIVE) << QStringLiteral("false") << QStringLiteral("False");
    QTest::newRow("float") << int(cQTY) << QStringLiteral("0.1") << QStringLiteral("0.1");
    QTest::newRow("date") << int(cSTAMP) << QStringLiteral("29.12.1899")
                          << QStringLiteral("29.12.1899");
    QTest::newRow("smallint") << int(cCODE) << QStringLiteral("-32768") << QStringLiteral("-32768");
  }
  void editCell() {
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    TXMLExplorerForm form;
    Open(form, FChunk);
    QWidget* editor = TypeIntoCell(form, 1, column, typed);
    QVERIFY(editor);
    // Leaving the cell commits it, as Tab or a click elsewhere would.
    Grid(form)->setCurrentIndex(Model(form)->index(0, 0));
    QTRY_VERIFY(!Grid(form)->PendingEditor());
    QCOMPARE(Model(form)->data(Model(form)->index(1, column)).toString(), shown);
    const Variant& stored = form.DataSet().Rows().at(1).at(column);
    if (shown.isEmpty() && column != cNAME) QVERIFY(stored.IsNull());
    if (column == cNAME) QCOMPARE(stored.VarType(), Variant::Type::String);  // "" is no NULL
    QVERIFY(LastReportedError().isEmpty());
  }

  void fieldTextRoundTrip_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Variant>("value");
    QTest::addColumn<QString>("shown");  // as the editor shows it back
    QTest::newRow("largeint max") << int(ftLargeint) << QStringLiteral("9223372036854775807")
                                  << Variant::FromInt64(std::numeric_limits<qint64>::max())
                                  << QStringLiteral("9223372036854775807");
    QTest::newRow("word") << int(ftWord) << QStringLiteral("65535")
                          << Variant::FromUInt(65535, Variant::Type::UInt16)
                          << QStringLiteral("65535");
    QTest::newRow("Boolean from a number") << int(ftBoolean) << QStringLiteral("1")
                                           << Variant::FromBool(true) << QStringLiteral("True");
    QTest::newRow("time with milliseconds")
        << int(ftTime) << QStringLiteral("09:15:02.250")
        << Variant::FromDateTime((9 * 3600 + 15 * 60 + 2.25) / 86400.0)
        << QStringLiteral("09:15:02.250");
    QTest::newRow("date-time before 1899 with time")
        << int(ftDateTime) << QStringLiteral("29.12.1899 06:00:00") << Variant::FromDateTime(-1.25)
        << QStringLiteral("29.12.1899 06:00:00");
    QTest::newRow("timestamp") << int(ftTimeStamp) << QStringLiteral("07.03.2024 09:15")
                               << Variant::FromDateTime(Date(2024, 3, 7) + (9 * 60 + 15) / 1440.0)
                               << QStringLiteral("07.03.2024 09:15:00");
    QTest::newRow("BCD many digits")
        << int(ftBCD) << QStringLiteral("-123456789012345678.0012")
        << Variant::FromDecimal(QStringLiteral("-123456789012345678.0012"))
        << QStringLiteral("-123456789012345678.0012");
    QTest::newRow("float shortest") << int(ftFloat) << QStringLiteral("2777815")
                                    << Variant::FromDouble(2777815) << QStringLiteral("2777815");
    QTest::newRow("float tiny") << int(ftFloat) << QStringLiteral("1e-9")
                                << Variant::FromDouble(1e-9) << QStringLiteral("1e-09");
    QTest::newRow("blob") << int(ftBlob) << QStringLiteral("00 ff 10")
                          << Variant::FromBytes(QByteArray("\x00\xff\x10", 3))
                          << QStringLiteral("00FF10");
    QTest::newRow("number to NULL")
        << int(ftInteger) << QStringLiteral("  ") << Variant::Null() << QString();
    QTest::newRow("text keeps blanks")
        << int(ftWideString) << QStringLiteral(" а ") << Variant::FromString(QStringLiteral(" а "))
        << QStringLiteral(" а ");
  }
  void fieldTextRoundTrip() {
    QFETCH(int, type);
    QFETCH(QString, typed);
    QFETCH(Variant, value);
    QFETCH(QString, shown);
    const TFieldDef def{QStringLiteral("F"), static_cast<TFieldType>(type), 0, 0};
    const Variant parsed = FieldText::Parse(typed, def);
    QVERIFY2(parsed == value, qPrintable(parsed.ToString()));
    QCOMPARE(FieldText::EditText(parsed, def), shown);
    QVERIFY(FieldText::Parse(shown, def) == value);
  }

  void fieldTextRejects_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typed");
    QTest::newRow("word below 0") << int(ftWord) << QStringLiteral("-1");
    QTest::newRow("integer above 32 bits") << int(ftInteger) << QStringLiteral("2147483648");
    QTest::newRow("odd hex") << int(ftBlob) << QStringLiteral("abc");
    QTest::newRow("no hex") << int(ftBytes) << QStringLiteral("zz");
    QTest::newRow("Boolean word") << int(ftBoolean) << QStringLiteral("yes");
    QTest::newRow("time") << int(ftTime) << QStringLiteral("25:00");
    QTest::newRow("float") << int(ftFloat) << QStringLiteral("1..2");
  }
  void fieldTextRejects() {
    QFETCH(int, type);
    QFETCH(QString, typed);
    const TFieldDef def{QStringLiteral("F"), static_cast<TFieldType>(type), 0, 0};
    QVERIFY_THROWS_EXCEPTION(ENompackError, FieldText::Parse(typed, def));
  }

  void editUnchangedKeepsNull() {
    TXMLExplorerForm form;
    Open(form, FChunk);
    // An editor opened on a NULL text and left without typing writes nothing.
    Grid(form)->setCurrentIndex(Model(form)->index(0, cNOTE));
    Grid(form)->edit(Model(form)->index(0, cNOTE));
    QVERIFY(Grid(form)->PendingEditor());
    Grid(form)->CommitPendingEdit();
    QVERIFY(form.DataSet().Rows().at(0).at(cNOTE).IsNull());
  }

  void editConversionErrorKeepsOldValue_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::newRow("integer") << int(cID) << QStringLiteral("abc")
                             << QStringLiteral("'abc' is not a valid integer value.");
    QTest::newRow("smallint range") << int(cCODE) << QStringLiteral("40000")
                                    << QStringLiteral(
                                           "40000 is not a valid value for field 'CODE'. The "
                                           "allowed range is -32768 to 32767.");
    QTest::newRow("date") << int(cEXPIRY) << QStringLiteral("31.02.2024")
                          << QStringLiteral("'31.02.2024' is not a valid date and time.");
    QTest::newRow("BCD") << int(cPRICE) << QStringLiteral("1.2.3")
                         << QStringLiteral("'1.2.3' is not a valid BCD value.");
  }
  void editConversionErrorKeepsOldValue() {
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    TXMLExplorerForm form;
    Open(form, FChunk);
    const Variant before = form.DataSet().Rows().at(1).at(column);
    MessageBoxAnswerer answerer;
    QVERIFY(TypeIntoCell(form, 1, column, typed));
    QTest::keyClick(Grid(form)->PendingEditor(), Qt::Key_Return);
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Text, message);
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Critical);
    QVERIFY(form.DataSet().Rows().at(1).at(column) == before);
    QCOMPARE(form.DataSet().DataSetState(), TClientDataSet::State::Browse);
  }

  void dateCheckRepairsNegativeDates() {
    WriteChunk(FChunk, {Variant::FromDateTime(Date(2025, 1, 31)),          // 1: fine
                        Variant::FromDateTime(Date(1899, 12, 29)),         // 2: one day early
                        Variant::Null(),                                   // 3: reads as 0
                        Variant::FromDateTime(Date(1800, 1, 1) + 0.25),    // 4
                        Variant::FromDateTime(0),                          // 5: the limit itself
                        Variant::FromDateTime(Date(1899, 12, 30) + 0.75),  // 6
                        Variant::FromDateTime(Date(1000, 6, 15))});        // 7
    const QByteArray onDisk = FileBytes(FChunk);
    TXMLExplorerForm form;
    Open(form, FChunk);
    MessageBoxAnswerer answerer;
    QTest::keyClick(&form, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Text,
             QStringLiteral("Коригирани данни на редове: \r\n2\r\n4\r\n7\r\n"));
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Information);
    QCOMPARE(answerer.Boxes[0].Buttons, QStringList{QStringLiteral("OK")});
    const auto& rows = form.DataSet().Rows();
    for (int row : {1, 3, 6}) QVERIFY(rows.at(row).at(cEXPIRY) == Variant::FromDateTime(0));
    QVERIFY(rows.at(0).at(cEXPIRY) == Variant::FromDateTime(Date(2025, 1, 31)));
    QVERIFY(rows.at(2).at(cEXPIRY).IsNull());
    QVERIFY(rows.at(5).at(cEXPIRY) == Variant::FromDateTime(0.75));
    QCOMPARE(Model(form)->data(Model(form)->index(1, cEXPIRY)).toString(),
             QStringLiteral("30.12.1899 00:00:00"));
    QCOMPARE(form.windowTitle(),
             FChunk + QStringLiteral(" 7"));  // the check leaves the last row current

    // A second run finds nothing; nothing reached the file.
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE(answerer.Boxes.size(), 2);
    QCOMPARE(answerer.Boxes[1].Text, kNothingToFix);
    form.close();
    QCOMPARE(FileBytes(FChunk), onDisk);
  }

  void dateCheckFindsNothing_data() {
    QTest::addColumn<QList<Variant>>("dates");
    QTest::newRow("all on or after 30.12.1899")
        << QList<Variant>{Variant::FromDateTime(0), Variant::FromDateTime(45000.5)};
    QTest::newRow("all NULL") << QList<Variant>{Variant::Null(), Variant::Null()};
    QTest::newRow("no rows") << QList<Variant>{};
  }
  void dateCheckFindsNothing() {
    QFETCH(QList<Variant>, dates);
    WriteChunk(FChunk, dates);
    TXMLExplorerForm form;
    Open(form, FChunk);
    if (dates.isEmpty()) QCOMPARE(form.windowTitle(), FChunk);  // the bare name
    MessageBoxAnswerer answerer;
    form.findChild<QAction*>(QStringLiteral("acDateCheck"))->trigger();
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Text, kNothingToFix);
    QCOMPARE(form.DataSet().Rows().size(), dates.size());
    for (int i = 0; i < dates.size(); ++i)
      QVERIFY(form.DataSet().Rows().at(i).at(cEXPIRY) == dates[i]);
  }

  void dateCheckWithoutColumn_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("found");
    QTest::newRow("other name") << QStringLiteral("VALID_TO") << false;
    QTest::newRow("letter case ignored") << QStringLiteral("Expiry_Date") << true;
  }
  void dateCheckWithoutColumn() {
    QFETCH(QString, name);
    QFETCH(bool, found);
    WriteChunk(FChunk, {Variant::FromDateTime(-3)}, name);
    TXMLExplorerForm form;
    Open(form, FChunk);
    MessageBoxAnswerer answerer;
    form.findChild<QAction*>(QStringLiteral("acDateCheck"))->trigger();
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    if (found) {
      QCOMPARE(answerer.Boxes[0].Text, QStringLiteral("Коригирани данни на редове: \r\n1\r\n"));
    } else {
      QCOMPARE(answerer.Boxes[0].Text, QStringLiteral("Не е открита колона EXPIRY_DATE!"));
      QCOMPARE(answerer.Boxes[0].Title, QStringLiteral("Грешка"));
      QVERIFY(form.DataSet().Rows().at(0).at(cEXPIRY) == Variant::FromDateTime(-3));
    }
  }

  void dateCheckStopsAtATextThatIsNoDate() {
    // A text column: the rows before the bad one stay repaired, no result box.
    TClientDataSet ds;
    ds.AddFieldDef({QStringLiteral("EXPIRY_DATE"), ftString, 20});
    ds.AppendRow({Variant::FromString(QStringLiteral("01.01.1800"))});
    ds.AppendRow({Variant::FromString(QStringLiteral("не е дата"))});
    ds.AppendRow({Variant::FromString(QStringLiteral("01.01.1700"))});
    ds.SaveToFile(FChunk, TDataPacketFormat::Utf8);
    TXMLExplorerForm form;
    Open(form, FChunk);
    MessageBoxAnswerer answerer;
    form.findChild<QAction*>(QStringLiteral("acDateCheck"))->trigger();
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Critical);
    QVERIFY(answerer.Boxes[0].Text.contains(QStringLiteral("Date")));
    QCOMPARE(form.DataSet().Rows().at(0).at(0).ToString(), QStringLiteral("30.12.1899"));
    QCOMPARE(form.DataSet().Rows().at(2).at(0).ToString(), QStringLiteral("01.01.1700"));
  }

  void saveWritesUtf8AndKeepsValues() {
    TXMLExplorerForm form;
    Open(form, FChunk);
    QVERIFY(!FileBytes(FChunk).contains("encoding=\"UTF-8\""));  // the export's plain form
    QVERIFY(TypeIntoCell(form, 0, cNAME, QStringLiteral("Валериана „Экстра“ & <50>")));
    QTest::keyClick(Grid(form)->PendingEditor(), Qt::Key_Return);
    QTRY_VERIFY(!Grid(form)->PendingEditor());
    MessageBoxAnswerer answerer;
    form.findChild<QPushButton*>(QStringLiteral("btnSaveXMLFile"))->click();
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Text, kSaved);
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Information);

    const QByteArray bytes = FileBytes(FChunk);
    QVERIFY(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"));
    QVERIFY(bytes.contains(QStringLiteral("Аспирин №2").toUtf8()));
    TClientDataSet reread;
    reread.LoadFromFile(FChunk);
    QCOMPARE(reread.FieldDefs(), form.DataSet().FieldDefs());
    QCOMPARE(reread.RecordCount(), 3);
    for (int row = 0; row < 3; ++row)
      for (int column = 0; column < reread.FieldCount(); ++column)
        QVERIFY2(reread.Rows().at(row).at(column) == form.DataSet().Rows().at(row).at(column),
                 qPrintable(QStringLiteral("row %1 column %2").arg(row).arg(column)));
    QCOMPARE(reread.Rows().at(0).at(cNAME).ToString(), QStringLiteral("Валериана „Экстра“ & <50>"));
    QVERIFY(reread.Rows().at(0).at(cNOTE).IsNull());
    QCOMPARE(reread.Rows().at(1).at(cNOTE).ToString(), QStringLiteral("ред 1\r\nред 2"));
  }

  void saveCommitsAPendingEdit() {
    TXMLExplorerForm form;
    Open(form, FChunk);
    QVERIFY(TypeIntoCell(form, 2, cID, QStringLiteral("777")));
    QVERIFY(Grid(form)->PendingEditor());
    MessageBoxAnswerer answerer;
    form.findChild<QAction*>(QStringLiteral("acSaveXMLFile"))->trigger();
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Text, kSaved);
    TClientDataSet reread;
    reread.LoadFromFile(FChunk);
    QCOMPARE(reread.Rows().at(2).at(cID).ToInt32(), 777);
  }

  void saveWithAnEditThatDoesNotConvertWritesNothing() {
    const QByteArray onDisk = FileBytes(FChunk);
    TXMLExplorerForm form;
    Open(form, FChunk);
    QVERIFY(TypeIntoCell(form, 2, cID, QStringLiteral("x1")));
    MessageBoxAnswerer answerer;
    form.findChild<QAction*>(QStringLiteral("acSaveXMLFile"))->trigger();
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Text, QStringLiteral("'x1' is not a valid integer value."));
    QTest::qWait(50);
    QCOMPARE(answerer.Boxes.size(), 1);  // no success box
    QCOMPARE(FileBytes(FChunk), onDisk);
  }

  void saveWithAClosedDataSetWritesNothing() {
    const QByteArray onDisk = FileBytes(FChunk);
    TXMLExplorerForm form;
    Open(form, FChunk);
    form.DataSet().Close();
    MessageBoxAnswerer answerer;
    form.findChild<QAction*>(QStringLiteral("acSaveXMLFile"))->trigger();
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Text, QStringLiteral("Източникът на данни не е отворен!"));
    QCOMPARE(answerer.Boxes[0].Title, QStringLiteral("Грешка"));
    QCOMPARE(FileBytes(FChunk), onDisk);
  }

  // A chunk repaired in the explorer must still install: saving it records
  // its new checksum and row count in the manifest beside it. A manifest that
  // cannot be read is reported; the chunk itself is saved all the same.
  void saveUpdatesTheManifestBesideTheChunk_data() {
    QTest::addColumn<bool>("damaged");
    QTest::newRow("manifest lists the chunk") << false;
    QTest::newRow("manifest damaged") << true;
  }
  void saveUpdatesTheManifestBesideTheChunk() {
    QFETCH(bool, damaged);
    QTemporaryDir dir;
    const QString chunk = dir.filePath(QStringLiteral("ARTICLE[2].xml"));
    WriteChunk(chunk, {Variant::FromDateTime(-1), Variant::FromDateTime(5)});
    TPacketManifest manifest;
    manifest.Chunks.append(
        {QStringLiteral("ARTICLE"), 1, QStringLiteral("ARTICLE[1].xml"), 50, QByteArray(64, 'b')});
    manifest.Chunks.append(
        {QStringLiteral("ARTICLE"), 2, QStringLiteral("ARTICLE[2].xml"), 2, FileChecksum(chunk)});
    const QString manifestPath = dir.filePath(QStringLiteral("packet.manifest"));
    manifest.SaveToFile(manifestPath);
    if (damaged) {
      QFile f(manifestPath);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write("NOMPACK-MANIFEST 1\r\nARTICLE\t2\r\n");
    }
    const QByteArray manifestBefore = FileBytes(manifestPath);

    TXMLExplorerForm form;
    Open(form, chunk);
    MessageBoxAnswerer answerer;
    form.findChild<QAction*>(QStringLiteral("acDateCheck"))->trigger();
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    form.findChild<QAction*>(QStringLiteral("acSaveXMLFile"))->trigger();
    QTRY_COMPARE(answerer.Boxes.size(), 2);

    const QByteArray saved = FileBytes(chunk);
    QVERIFY(saved.contains("encoding=\"UTF-8\""));
    if (damaged) {
      QCOMPARE(answerer.Boxes[1].Icon, QMessageBox::Critical);
      QVERIFY2(answerer.Boxes[1].Text.startsWith(
                   QStringLiteral("Промените са записани, но файлът packet.manifest не е обновен")),
               qPrintable(answerer.Boxes[1].Text));
      QCOMPARE(FileBytes(manifestPath), manifestBefore);
      return;
    }
    QCOMPARE(answerer.Boxes[1].Text, kSaved);
    const TPacketManifest after = TPacketManifest::LoadFromFile(manifestPath);
    QCOMPARE(after.Chunks.size(), 2);
    QCOMPARE(after.Chunks[1].Rows, 2);
    QCOMPARE(after.Chunks[1].Checksum,
             QCryptographicHash::hash(saved, QCryptographicHash::Sha256).toHex());
    QVERIFY(after.Chunks[1].Checksum != manifest.Chunks[1].Checksum);
    QCOMPARE(after.Chunks[0].Checksum, QByteArray(64, 'b'));  // the other chunk's line stays
  }

  void saveFailureShowsTheFileError_data() {
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("read-only file") << true;
    QTest::newRow("folder gone") << false;
  }
  void saveFailureShowsTheFileError() {
    QFETCH(bool, readOnly);
    QTemporaryDir dir;
    const QString chunk = dir.filePath(QStringLiteral("UNIT[1].xml"));
    WriteChunk(chunk, {Variant::FromDateTime(-1)});
    const QByteArray onDisk = FileBytes(chunk);
    TXMLExplorerForm form;
    Open(form, chunk);
    if (readOnly) {
      QVERIFY(QFile::setPermissions(chunk, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    } else {
      QVERIFY(dir.remove());
    }
    MessageBoxAnswerer answerer;
    form.findChild<QAction*>(QStringLiteral("acSaveXMLFile"))->trigger();
    QTRY_COMPARE(answerer.Boxes.size(), 1);
    QCOMPARE(answerer.Boxes[0].Icon, QMessageBox::Critical);
    QVERIFY2(
        answerer.Boxes[0].Text.startsWith(QStringLiteral("Cannot create file \"%1\".").arg(chunk)),
        qPrintable(answerer.Boxes[0].Text));
    QTest::qWait(50);
    QCOMPARE(answerer.Boxes.size(), 1);
    if (readOnly) {
      QCOMPARE(FileBytes(chunk), onDisk);
      QFile::setPermissions(chunk, QFile::ReadOwner | QFile::WriteOwner);
    }
  }

  void showXMLExplorerIsModalAndDestroyed() {
    QWidget owner;
    owner.show();
    QString title;
    bool modal = false;
    int closedForms = 0;
    QTimer closer;  // local: it cannot fire into a later test
    closer.setSingleShot(true);
    QObject::connect(&closer, &QTimer::timeout, [&] {
      auto* form = qobject_cast<TXMLExplorerForm*>(QApplication::activeModalWidget());
      if (!form) return;
      title = form->windowTitle();
      modal = form->isModal() && form->parentWidget() == &owner;
      ++closedForms;
      form->close();
    });
    closer.start(50);
    ShowXMLExplorer(FChunk, &owner);
    QCOMPARE(closedForms, 1);
    QVERIFY(modal);
    QCOMPARE(title, FChunk + QStringLiteral(" 1"));
    QVERIFY(owner.findChildren<TXMLExplorerForm*>().isEmpty());
  }

  void brokenFileReachesTheCaller_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::newRow("not XML") << QByteArray("this is no data packet") << true;
    QTest::newRow("truncated") << QByteArray(
                                      "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET "
                                      "Version=\"2.0\"><METADATA><FIE")
                               << true;
    QTest::newRow("missing") << QByteArray() << false;
  }
  void brokenFileReachesTheCaller() {
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    const QString broken = FDir.filePath(QStringLiteral("BROKEN[1].xml"));
    QFile::remove(broken);
    if (exists) {
      QFile file(broken);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(content);
    }
    QWidget owner;
    bool shown = false;
    QTimer closer;
    closer.setSingleShot(true);
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (auto* form = qobject_cast<TXMLExplorerForm*>(QApplication::activeModalWidget())) {
        shown = true;
        form->close();
      }
    });
    closer.start(200);
    QString message;
    try {
      ShowXMLExplorer(broken, &owner);
    } catch (const ENompackError& e) {
      message = e.Message();
    }
    QVERIFY2(message.contains(broken), qPrintable(message));
    QVERIFY(!shown);
    QVERIFY(owner.findChildren<TXMLExplorerForm*>().isEmpty());
  }
};

QTEST_MAIN(TestExplorer)
#include "test_explorer.moc"
