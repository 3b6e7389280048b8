// Files saved by other programs: rows edited with the change log kept, and
// text in whatever encoding the program declared (or did not).

#include "Cp1251.h"
#include "NompackError.h"
#include "TestDataPacket.h"

namespace {

const QByteArray kLogFields =
    "<FIELD attrname=\"ID\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"NAME\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>";

QByteArray LogPacket(const QByteArray& changeLog, const QByteArray& rows) {
  return "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET "
         "Version=\"2.0\"><METADATA><FIELDS>" +
         kLogFields + "</FIELDS><PARAMS CHANGE_LOG=\"" + changeLog +
         "\" DATASET_DELTA=\"1\"/></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

// One string field V and one row with the given raw value, behind `head`
// (the declaration, a byte-order mark or nothing).
QByteArray TextPacket(const QByteArray& head, const QByteArray& value,
                      const QByteArray& attrName = "V") {
  return head + "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"" + attrName +
         "\" fieldtype=\"string\" WIDTH=\"60\"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW " +
         attrName + "=\"" + value + "\"/></ROWDATA></DATAPACKET>";
}

QByteArray Declaring(const char* encoding) {
  return QByteArray("<?xml version=\"1.0\" encoding=\"") + encoding + "\" standalone=\"yes\"?>  ";
}

const QByteArray kUndeclared = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";

QByteArray Utf16Le(const QByteArray& ascii) {
  QByteArray out;
  for (const char c : ascii) out.append(c).append('\0');
  return out;
}

}  // namespace

void TestDataPacket::changeLogOrder_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QStringList>("expected");  // "ID NAME NOTE" of the rows, in order
  QTest::newRow("first row edited")
      << LogPacket("4 1 8",
                   "<ROW RowState=\"1\" ID=\"1\" NAME=\"one\" NOTE=\"n1\"/>"
                   "<ROW ID=\"2\" NAME=\"two\"/><ROW ID=\"3\" NAME=\"three\"/>"
                   "<ROW RowState=\"8\" ID=\"1\" NAME=\"one edited\"/>")
      << QStringList{"1 one edited n1", "2 two NULL", "3 three NULL"};
  // Edited 3 first, then 1: the versions follow in the opposite order.
  QTest::newRow("rows edited out of order")
      << LogPacket("5 3 8 6 1 8",
                   "<ROW RowState=\"1\" ID=\"1\" NAME=\"one\"/><ROW ID=\"2\" NAME=\"two\"/>"
                   "<ROW RowState=\"1\" ID=\"3\" NAME=\"three\"/><ROW ID=\"4\" NAME=\"four\"/>"
                   "<ROW RowState=\"8\" ID=\"3\" NAME=\"three edited\"/>"
                   "<ROW RowState=\"8\" ID=\"1\" NAME=\"one edited\"/>")
      << QStringList{"1 one edited NULL", "2 two NULL", "3 three edited NULL", "4 four NULL"};
  QTest::newRow("adjacent rows edited, later first")
      << LogPacket(
             "5 3 8 6 4 8 7 1 8 8 2 8",
             "<ROW RowState=\"1\" ID=\"5\" NAME=\"a\"/><ROW RowState=\"1\" ID=\"6\" NAME=\"b\"/>"
             "<ROW RowState=\"1\" ID=\"7\" NAME=\"c\"/><ROW RowState=\"1\" ID=\"8\" NAME=\"d\"/>"
             "<ROW RowState=\"8\" ID=\"7\" NAME=\"c2\"/><ROW RowState=\"8\" ID=\"8\" NAME=\"d2\"/>"
             "<ROW RowState=\"8\" ID=\"5\" NAME=\"a2\"/><ROW RowState=\"8\" ID=\"6\" NAME=\"b2\"/>")
      << QStringList{"5 a2 NULL", "6 b2 NULL", "7 c2 NULL", "8 d2 NULL"};
  // The middle version is both an original and a modification; the note
  // travels down the chain.
  QTest::newRow("row edited twice")
      << LogPacket("4 1 8 5 4 8",
                   "<ROW RowState=\"1\" ID=\"1\" NAME=\"one\" NOTE=\"n1\"/>"
                   "<ROW ID=\"2\" NAME=\"two\"/><ROW ID=\"3\" NAME=\"three\"/>"
                   "<ROW RowState=\"9\" ID=\"1\" NAME=\"one v2\"/>"
                   "<ROW RowState=\"8\" ID=\"1\" NAME=\"one v3\"/>")
      << QStringList{"1 one v3 n1", "2 two NULL", "3 three NULL"};
  QTest::newRow("deleted row")
      << LogPacket("2 0 2",
                   "<ROW ID=\"1\" NAME=\"one\"/><ROW RowState=\"2\" ID=\"2\" NAME=\"two\"/>"
                   "<ROW ID=\"3\" NAME=\"three\"/>")
      << QStringList{"1 one NULL", "3 three NULL"};
  QTest::newRow("edited and deleted rows")
      << LogPacket("4 1 8 2 0 2",
                   "<ROW RowState=\"1\" ID=\"1\" NAME=\"one\"/>"
                   "<ROW RowState=\"2\" ID=\"2\" NAME=\"two\"/><ROW ID=\"3\" NAME=\"three\"/>"
                   "<ROW RowState=\"8\" ID=\"1\" NAME=\"one edited\"/>")
      << QStringList{"1 one edited NULL", "3 three NULL"};
  QTest::newRow("inserted row stays last")
      << LogPacket("3 0 4 4 1 8",
                   "<ROW RowState=\"1\" ID=\"1\" NAME=\"one\"/><ROW ID=\"2\" NAME=\"two\"/>"
                   "<ROW RowState=\"4\" ID=\"9\" NAME=\"new\"/>"
                   "<ROW RowState=\"8\" ID=\"1\" NAME=\"one edited\"/>")
      << QStringList{"1 one edited NULL", "2 two NULL", "9 new NULL"};
  QTest::newRow("superseded version")
      << LogPacket("3 0 4 4 3 8",
                   "<ROW ID=\"1\" NAME=\"one\"/><ROW ID=\"2\" NAME=\"two\"/>"
                   "<ROW RowState=\"32\" ID=\"3\" NAME=\"new\"/>"
                   "<ROW RowState=\"12\" ID=\"3\" NAME=\"new edited\"/>")
      << QStringList{"1 one NULL", "2 two NULL", "3 new edited NULL"};
  // Without a log entry the nearest original nobody else replaces is the one.
  QTest::newRow("edit missing from the log")
      << LogPacket("4 2 8",
                   "<ROW RowState=\"1\" ID=\"1\" NAME=\"one\" NOTE=\"n1\"/>"
                   "<ROW RowState=\"1\" ID=\"2\" NAME=\"two\" NOTE=\"n2\"/>"
                   "<ROW ID=\"3\" NAME=\"three\"/>"
                   "<ROW RowState=\"8\" ID=\"2\" NAME=\"two edited\"/>"
                   "<ROW RowState=\"8\" ID=\"1\" NAME=\"one edited\"/>")
      << QStringList{"1 one edited n1", "2 two edited n2", "3 three NULL"};
  QTest::newRow("log that runs in a circle")
      << LogPacket("1 2 8 2 1 8",
                   "<ROW RowState=\"8\" ID=\"1\" NAME=\"one\"/>"
                   "<ROW RowState=\"8\" ID=\"2\" NAME=\"two\"/>")
      << QStringList{"1 one NULL", "2 two NULL"};
}

void TestDataPacket::changeLogOrder() {
  QFETCH(QByteArray, file);
  QFETCH(QStringList, expected);
  TClientDataSet ds;
  ds.LoadFromBytes(file, QStringLiteral("edited.xml"));
  QStringList seen;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    seen << QStringLiteral("%1 %2 %3")
                .arg(ds.Value(0).ToString(), ds.Value(1).ToString(),
                     ds.Value(2).IsNull() ? QStringLiteral("NULL") : ds.Value(2).ToString());
  }
  QCOMPARE(seen, expected);
  QCOMPARE(ds.RecordCount(), expected.size());
}

void TestDataPacket::declaredEncodings_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QString>("expected");
  QTest::newRow("ISO-8859-1") << TextPacket(Declaring("ISO-8859-1"), "Muria\xE9 Jo\xE3o")
                              << QStringLiteral("Muriaé João");
  QTest::newRow("latin1 alias, lower case")
      << TextPacket("<?xml version='1.0' encoding='iso-8859-1'?>", "Muria\xE9")
      << QStringLiteral("Muriaé");
  QTest::newRow("windows-1252") << TextPacket(Declaring("windows-1252"),
                                              "\x93\xFAltima execu\xE7\xE3o\x94")
                                << QStringLiteral("“última execução”");
  QTest::newRow("ISO-8859-2") << TextPacket(Declaring("ISO-8859-2"), "Za\xBF\xF3\xB3\xE6")
                              << QStringLiteral("Zażółć");
  QTest::newRow("KOI8-R") << TextPacket(Declaring("KOI8-R"), "\xE1\xD3\xD0\xC9\xD2\xC9\xCE")
                          << QStringLiteral("Аспирин");
  QTest::newRow("GB2312") << TextPacket(Declaring("GB2312"), "\xD6\xD0\xCE\xC4\xC3\xFB")
                          << QStringLiteral("中文名");
  QTest::newRow("windows-1251") << TextPacket(Declaring("windows-1251"),
                                              "\xC0\xF1\xEF\xE8\xF0\xE8\xED")
                                << QStringLiteral("Аспирин");
  QTest::newRow("references beside declared bytes")
      << TextPacket(Declaring("ISO-8859-1"), "\xE9&#233;&#1040;&amp;") << QStringLiteral("ééА&");
  // The attribute names of the rows are matched in the file's encoding too.
  QTest::newRow("field name outside ASCII")
      << TextPacket(Declaring("ISO-8859-1"), "Jo\xE3o", "Descri\xE7\xE3o")
      << QStringLiteral("João");
  QTest::newRow("UTF-8") << TextPacket(Declaring("UTF-8"), "Jo\xC3\xA3o") << QStringLiteral("João");
  QTest::newRow("UTF-8 byte-order mark")
      << TextPacket("\xEF\xBB\xBF" + kUndeclared, "Jo\xC3\xA3o") << QStringLiteral("João");
  QTest::newRow("UTF-16 byte-order mark")
      << "\xFF\xFE" + Utf16Le(TextPacket(Declaring("UTF-16"), "Jo\xE3o")) << QStringLiteral("João");
  QTest::newRow("undeclared UTF-8")
      << TextPacket(kUndeclared, "\xE2\x80\x9C\xC3\xBAltima execu\xC3\xA7\xC3\xA3o\xE2\x80\x9D")
      << QStringLiteral("“última execução”");
  QTest::newRow("undeclared UTF-8 without declaration")
      << TextPacket(QByteArray(), "\xD0\x90\xD1\x81\xD0\xBF\xD0\xB8\xD1\x80\xD0\xB8\xD0\xBD")
      << QStringLiteral("Аспирин");
  QTest::newRow("undeclared Windows-1251")
      << TextPacket(kUndeclared, "\xC0\xF1\xEF\xE8\xF0\xE8\xED \xB9 5")
      << QStringLiteral("Аспирин № 5");
  QTest::newRow("undeclared Windows-1251, capitals only")
      << TextPacket(kUndeclared, "\xC4\xC0 \xC5\xCE\xCE\xC4") << QStringLiteral("ДА ЕООД");
}

void TestDataPacket::declaredEncodings() {
  QFETCH(QByteArray, file);
  QFETCH(QString, expected);
  TClientDataSet ds;
  ds.LoadFromBytes(file, QStringLiteral("foreign.xml"));
  QCOMPARE(ds.RecordCount(), 1);
  QCOMPARE(ds.Value(0).ToString(), expected);
  // The explorer saves what it read in UTF-8, and that loads back the same.
  TClientDataSet again;
  again.LoadFromBytes(ds.SaveToBytes(TDataPacketFormat::Utf8), QStringLiteral("saved.xml"));
  QCOMPARE(again.Value(0).ToString(), expected);
}

void TestDataPacket::encodingRefusals_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QStringList>("mentions");
  const QByteArray badUtf8 = TextPacket(Declaring("UTF-8"), "Jo\xE3o");
  QTest::newRow("unknown encoding")
      << TextPacket(Declaring("x-pharmacy-42"), "abc")
      << QStringList{QStringLiteral("\"x-pharmacy-42\""), QStringLiteral("не познава")};
  QTest::newRow("declared UTF-8, invalid byte")
      << badUtf8
      << QStringList{QStringLiteral("\"UTF-8\""),
                     QStringLiteral("позиция %1").arg(badUtf8.indexOf('\xE3'))};
  QTest::newRow("declared UTF-8, cut sequence")
      << TextPacket(Declaring("utf-8"), "\xD0\x90\xD0") << QStringList{QStringLiteral("\"utf-8\"")};
  QTest::newRow("byte-order mark, invalid byte")
      << TextPacket("\xEF\xBB\xBF" + kUndeclared, "Jo\xE3o")
      << QStringList{QStringLiteral("\"UTF-8\"")};
  const QByteArray badAscii = TextPacket(Declaring("US-ASCII"), "Jo\xE3o");
  QTest::newRow("US-ASCII, byte above 127")
      << badAscii
      << QStringList{QStringLiteral("\"US-ASCII\""),
                     QStringLiteral("позиция %1").arg(badAscii.indexOf('\xE3'))};
  const QByteArray badGb = TextPacket(Declaring("GB2312"), "\xD6\xD0\xFF\xFF");
  QTest::newRow("GB2312, invalid sequence")
      << badGb
      << QStringList{QStringLiteral("\"GB2312\""),
                     QStringLiteral("позиция %1").arg(badGb.indexOf('\xFF'))};
  // A declaration that reads as ASCII cannot stand in a UTF-16 file.
  QTest::newRow("declared UTF-16, written in ASCII")
      << TextPacket(Declaring("UTF-16"), "abc")
      << QStringList{QStringLiteral("\"UTF-16\""), QStringLiteral("позиция 0")};
}

void TestDataPacket::encodingRefusals() {
  QFETCH(QByteArray, file);
  QFETCH(QStringList, mentions);
  // A failed load leaves nothing of the packet the dataset held before.
  TClientDataSet ds;
  ds.LoadFromBytes(TextPacket(kUndeclared, "x"), QStringLiteral("good.xml"));
  QCOMPARE(ds.RecordCount(), 1);
  const QString message = LoadError(file, QStringLiteral("C:/packets/foreign.xml"), &ds);
  QVERIFY2(message.contains(QStringLiteral("\"C:/packets/foreign.xml\"")), qPrintable(message));
  QVERIFY2(message.contains(QStringLiteral("кодировка")), qPrintable(message));
  for (const QString& mention : mentions) QVERIFY2(message.contains(mention), qPrintable(message));
  QCOMPARE(ds.FieldCount(), 0);
  QCOMPARE(ds.RecordCount(), 0);
  QVERIFY(!ds.Active());
}

void TestDataPacket::generatorCyrillicStaysSingleByte_data() {
  QTest::addColumn<QString>("text");
  QTest::newRow("name") << QStringLiteral("Аспирин 500 мг № 20");
  QTest::newRow("capitals") << QStringLiteral("ДА");
  QTest::newRow("company") << QStringLiteral("„Фарма“ ЕООД – София");
  QTest::newRow("one letter") << QStringLiteral("Ж");
  QTest::newRow("yo") << QStringLiteral("Ёё");
}

void TestDataPacket::generatorCyrillicStaysSingleByte() {
  QFETCH(QString, text);
  const TClientDataSet source =
      MakeDataSet({Field(QStringLiteral("NAME"), ftString, 40)}, {{Variant::FromString(text)}});
  const QByteArray chunk = source.SaveToBytes(TDataPacketFormat::SingleByte);
  QVERIFY(chunk.contains(Cp1251::Encode(text)));
  TClientDataSet loaded;
  loaded.LoadFromBytes(chunk, QStringLiteral("ARTICLE[1].xml"));
  QCOMPARE(loaded.Value(0).ToString(), text);
  // Both variants are rewritten byte for byte.
  QCOMPARE(loaded.SaveToBytes(TDataPacketFormat::SingleByte), chunk);
  const QByteArray utf8 = loaded.SaveToBytes(TDataPacketFormat::Utf8);
  TClientDataSet explored;
  explored.LoadFromBytes(utf8, QStringLiteral("ARTICLE[1].xml"));
  QCOMPARE(explored.SaveToBytes(TDataPacketFormat::Utf8), utf8);
  QCOMPARE(explored.SaveToBytes(TDataPacketFormat::SingleByte), chunk);
}
