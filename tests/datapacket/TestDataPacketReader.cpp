#include <QRandomGenerator>

#include "Cp1251.h"
#include "NompackError.h"
#include "TestDataPacket.h"

namespace {

const QByteArray kHead =
    "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
const QByteArray kMiddle = "</FIELDS><PARAMS/></METADATA><ROWDATA>";
const QByteArray kTail = "</ROWDATA></DATAPACKET>";

QByteArray Packet(const QByteArray& fields, const QByteArray& rows) {
  return kHead + fields + kMiddle + rows + kTail;
}

Variant Stamp(int y, int m, int d, int h, int mi, int s, int ms) {
  return Variant::FromDateTime(DateTimeConv::Compose(QDate(y, m, d), QTime(h, mi, s, ms)));
}

// A packet with a bit of everything, for the damage tests.
QByteArray SamplePacket(TDataPacketFormat format) {
  const TClientDataSet ds = MakeDataSet(
      {Field(QStringLiteral("ID"), ftInteger), Field(QStringLiteral("NAME"), ftString, 40),
       Field(QStringLiteral("PRICE"), ftBCD, 2, 15),
       Field(QStringLiteral("EXPIRY_DATE"), ftDateTime), Field(QStringLiteral("RAW"), ftBlob),
       Field(QStringLiteral("WIDE"), ftWideString, 8)},
      {{Variant::FromInt(1), Variant::FromString(QStringLiteral("Аспирин & <Ко>")),
        Variant::FromDecimal(QStringLiteral("1.5")), Variant::FromDateTime(-1.25),
        Variant::FromBytes("\x01\x02\x03"), Variant::FromString(QStringLiteral("漢字"))},
       {Variant::FromInt(2), Variant::FromString(QString()), Variant::Null(),
        Variant::FromDateTime(45000.5), Variant::Null(), Variant::Null()}});
  return ds.SaveToBytes(format);
}

}  // namespace

void TestDataPacket::readExampleFile() {
  // As the format description shows it, on several lines.
  const QByteArray file =
      "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>\n"
      "<FIELD attrname=\"ID\" fieldtype=\"i4\"/><FIELD attrname=\"NAME\" fieldtype=\"string\" "
      "WIDTH=\"40\"/>\n"
      "<FIELD attrname=\"PRICE\" fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"15\"/>\n"
      "<FIELD attrname=\"EXPIRY_DATE\" fieldtype=\"dateTime\"/><FIELD attrname=\"NOTE\" "
      "fieldtype=\"bin.hex\" "
      "SUBTYPE=\"Text\"/>\n"
      "</FIELDS><PARAMS/></METADATA><ROWDATA>\n"
      "<ROW ID=\"1\" NAME=\"\xC0\xF1\xEF\xE8\xF0\xE8\xED &quot;500&quot;\" PRICE=\"1.50\" "
      "EXPIRY_DATE=\"20240307T09:15:02000\" NOTE=\"a&#013;&#010;b\"/>\n"
      "<ROW ID=\"2\" NAME=\"\" EXPIRY_DATE=\"18000101\"/></ROWDATA></DATAPACKET>";
  TClientDataSet ds;
  ds.LoadFromBytes(file, QStringLiteral("ARTICLE[1].xml"));
  QCOMPARE(ds.FieldDefs(), (QVector<TFieldDef>{Field(QStringLiteral("ID"), ftInteger),
                                               Field(QStringLiteral("NAME"), ftString, 40),
                                               Field(QStringLiteral("PRICE"), ftBCD, 2, 15),
                                               Field(QStringLiteral("EXPIRY_DATE"), ftDateTime),
                                               Field(QStringLiteral("NOTE"), ftMemo)}));
  QCOMPARE(ds.RecordCount(), 2);
  QVERIFY(ds.Active());
  QCOMPARE(ds.RecNo(), 1);
  QCOMPARE(ds.FieldByName(QStringLiteral("id")), Variant::FromInt(1));
  QCOMPARE(ds.FieldByName(QStringLiteral("NAME")),
           Variant::FromString(QStringLiteral("Аспирин \"500\"")));
  QCOMPARE(ds.FieldByName(QStringLiteral("PRICE")), Variant::FromDecimal(QStringLiteral("1.5")));
  QCOMPARE(ds.FieldByName(QStringLiteral("EXPIRY_DATE")), Stamp(2024, 3, 7, 9, 15, 2, 0));
  QCOMPARE(ds.FieldByName(QStringLiteral("NOTE")), Variant::FromString(QStringLiteral("a\r\nb")));
  ds.Next();
  QCOMPARE(ds.RecNo(), 2);
  QCOMPARE(ds.FieldByName(QStringLiteral("NAME")), Variant::FromString(QString()));
  QVERIFY(ds.FieldByName(QStringLiteral("PRICE")).IsNull());
  QVERIFY(ds.FieldByName(QStringLiteral("NOTE")).IsNull());
  QCOMPARE(ds.FieldByName(QStringLiteral("EXPIRY_DATE")),
           Variant::FromDateTime(DateTimeConv::FromDate(QDate(1800, 1, 1))));
}

void TestDataPacket::readQuirks_data() {
  using T = Variant::Type;
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<Variant>("expected");  // the first field of the first row
  auto one = [](const char* field, const QByteArray& row) {
    return PacketWith(QByteArray(field), row);
  };
  QTest::newRow("upper-case metadata")
      << one("ATTRNAME=\"ID\" FIELDTYPE=\"I4\"", "ID=\"5\"") << Variant::FromInt(5);
  QTest::newRow("i") << one("attrname=\"ID\" fieldtype=\"i\"", "ID=\"-7\"") << Variant::FromInt(-7);
  QTest::newRow("int") << one("attrname=\"ID\" fieldtype=\"int\"", "ID=\"2147483647\"")
                       << Variant::FromInt(2147483647);
  QTest::newRow("uint") << one("attrname=\"ID\" fieldtype=\"uint\"", "ID=\"4294967295\"")
                        << Variant::FromInt64(4294967295LL);
  QTest::newRow("ui4") << one("attrname=\"ID\" fieldtype=\"ui4\"", "ID=\"7\"")
                       << Variant::FromInt64(7);
  QTest::newRow("i1") << one("attrname=\"ID\" fieldtype=\"i1\"", "ID=\"-128\"")
                      << Variant::FromInt(-128, T::Int16);
  QTest::newRow("ui1") << one("attrname=\"ID\" fieldtype=\"ui1\"", "ID=\"255\"")
                       << Variant::FromUInt(255, T::UInt16);
  QTest::newRow("r4") << one("attrname=\"V\" fieldtype=\"r4\"", "V=\"1.5\"")
                      << Variant::FromDouble(1.5);
  QTest::newRow("decimal comma") << one("attrname=\"V\" fieldtype=\"r8\"", "V=\"1,25\"")
                                 << Variant::FromDouble(1.25);
  QTest::newRow("exponent") << one("attrname=\"V\" fieldtype=\"r8\"", "V=\"1.5E3\"")
                            << Variant::FromDouble(1500);
  QTest::newRow("bcd exponent") << one("attrname=\"V\" fieldtype=\"fixed\"", "V=\"1.5E-3\"")
                                << Variant::FromDecimal(QStringLiteral("0.0015"));
  QTest::newRow("blanks round a number")
      << one("attrname=\"V\" fieldtype=\"i4\"", "V=\" 12 \"") << Variant::FromInt(12);
  QTest::newRow("empty number") << one("attrname=\"V\" fieldtype=\"i4\"", "V=\"\"")
                                << Variant::Null();
  QTest::newRow("empty date") << one("attrname=\"V\" fieldtype=\"date\"", "V=\"\"")
                              << Variant::Null();
  QTest::newRow("boolean words") << one("attrname=\"V\" fieldtype=\"boolean\"", "V=\"true\"")
                                 << Variant::FromBool(true);
  QTest::newRow("boolean letter") << one("attrname=\"V\" fieldtype=\"boolean\"", "V=\"f\"")
                                  << Variant::FromBool(false);
  QTest::newRow("raw control characters") << one("attrname=\"V\" fieldtype=\"string\"",
                                                 "V=\"a\x01"
                                                 "b\x1f"
                                                 "c\"")
                                          << Variant::FromString(QStringLiteral("a\x01"
                                                                                "b\x1f"
                                                                                "c"));
  QTest::newRow("raw line breaks") << one("attrname=\"V\" fieldtype=\"string\"", "V=\"a\r\nb\tc\"")
                                   << Variant::FromString(QStringLiteral("a\r\nb\tc"));
  QTest::newRow("references") << one("attrname=\"V\" fieldtype=\"string\"",
                                     "V=\"&#x416;&#X44f;&#1046;&#65;&#128512;\"")
                              << Variant::FromString(QStringLiteral("ЖяЖA😀"));
  QTest::newRow("stray ampersands")
      << one("attrname=\"V\" fieldtype=\"string\"", "V=\"a & b &nbsp; &#xZZ; &\"")
      << Variant::FromString(QStringLiteral("a & b &nbsp; &#xZZ; &"));
  QTest::newRow("single quotes") << one("attrname='V' fieldtype='string'", "V='x\"y'")
                                 << Variant::FromString(QStringLiteral("x\"y"));
  QTest::newRow("attribute case differs")
      << one("attrname=\"NAME\" fieldtype=\"string\"", "name=\"x\"")
      << Variant::FromString(QStringLiteral("x"));
  QTest::newRow("date with separators")
      << one("attrname=\"V\" fieldtype=\"dateTime\"", "V=\"2024-03-07T09:15:02\"")
      << Stamp(2024, 3, 7, 9, 15, 2, 0);
  QTest::newRow("short milliseconds")
      << one("attrname=\"V\" fieldtype=\"dateTime\"", "V=\"20240307T09:15:025\"")
      << Stamp(2024, 3, 7, 9, 15, 2, 500);
  QTest::newRow("negative date with time")
      << one("attrname=\"V\" fieldtype=\"dateTime\"", "V=\"18991229T06:00:00000\"")
      << Variant::FromDateTime(-1.25);
  QTest::newRow("base64 with breaks")
      << one("attrname=\"V\" fieldtype=\"bin.hex\" SUBTYPE=\"Binary\"", "V=\"AAEC\r\nAw==\"")
      << Variant::FromBytes(QByteArray("\x00\x01\x02\x03", 4));
  QTest::newRow("text around markup")
      << QByteArray(
             "<?xml version=\"1.0\"?>\r\n<!DOCTYPE x [<!ENTITY a \"b\">]>\n<!-- a comment -->\n"
             "<DATAPACKET Version=\"2.0\">\n  <METADATA>\n    <FIELDS>\n"
             "      <FIELD attrname=\"V\" fieldtype=\"i4\"><PARAM Name=\"x\" "
             "Value=\"y\"/></FIELD>\n"
             "    </FIELDS>\n    <PARAMS LCID=\"1026\"/>\n  </METADATA>\n  <ROWDATA>\n"
             "    <ROW V=\"3\"/>\n  </ROWDATA>\n</DATAPACKET>\n")
      << Variant::FromInt(3);
  QTest::newRow("rows in two parts")
      << QByteArray(kHead + "<FIELD attrname=\"V\" fieldtype=\"i4\"/>" + kMiddle +
                    "<ROW V=\"1\"/></ROWDATA><ROWDATA><ROW V=\"2\"/>" + kTail)
      << Variant::FromInt(1);
}

void TestDataPacket::readQuirks() {
  QFETCH(QByteArray, file);
  QFETCH(Variant, expected);
  TClientDataSet ds;
  ds.LoadFromBytes(file, QStringLiteral("quirk.xml"));
  QCOMPARE(ds.RecordCount(), QTest::currentDataTag() == QByteArray("rows in two parts") ? 2 : 1);
  QCOMPARE(ds.Value(0), expected);
}

void TestDataPacket::readEncodingDetection() {
  const QString text = QStringLiteral("Аспирин");
  const QByteArray utf8 = text.toUtf8();
  const QByteArray cp1251 = Cp1251::Encode(text);
  auto read = [](const QByteArray& file) {
    TClientDataSet ds;
    ds.LoadFromBytes(file, QStringLiteral("enc.xml"));
    return ds.Value(0).ToString();
  };
  auto packet = [](const QByteArray& declaration, const QByteArray& value) {
    return declaration +
           "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"V\" "
           "fieldtype=\"string\"/></FIELDS>"
           "<PARAMS/></METADATA><ROWDATA><ROW V=\"" +
           value + "\"/></ROWDATA></DATAPACKET>";
  };
  const QByteArray declaredUtf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>  ";
  const QByteArray plain = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";
  QCOMPARE(read(packet(declaredUtf8, utf8)), text);
  QCOMPARE(read(packet("<?xml version='1.0' encoding='utf-8'?>", utf8)), text);
  QCOMPARE(read(packet(plain, cp1251)), text);
  QCOMPARE(read(packet("<?xml version=\"1.0\" encoding=\"windows-1251\"?>", cp1251)), text);
  // Declared UTF-8 but not valid UTF-8: refused, never guessed.
  QVERIFY(!LoadError(packet(declaredUtf8, cp1251), QStringLiteral("enc.xml")).isEmpty());
  // A byte-order mark makes it UTF-8 without any declaration.
  QCOMPARE(read("\xEF\xBB\xBF" + packet(plain, utf8)), text);
  QCOMPARE(read("\xEF\xBB\xBF" + packet(QByteArray(), utf8)), text);
  // Without mark or declaration, valid UTF-8 with multi-byte sequences is UTF-8.
  QCOMPARE(read(packet(plain, utf8)), text);
}

void TestDataPacket::readFieldDefinitions_data() {
  QTest::addColumn<QByteArray>("attrs");
  QTest::addColumn<TFieldDef>("expected");
  auto def = [](TFieldType type, int size = 0, int precision = 0) {
    return Field(QStringLiteral("F"), type, size, precision);
  };
  QTest::newRow("string") << QByteArray("fieldtype=\"string\" WIDTH=\"40\"") << def(ftString, 40);
  QTest::newRow("fixed char") << QByteArray(
                                     "fieldtype=\"string\" SUBTYPE=\"FixedChar\" WIDTH=\"3\"")
                              << def(ftFixedChar, 3);
  QTest::newRow("guid") << QByteArray("fieldtype=\"string\" SUBTYPE=\"Guid\" WIDTH=\"38\"")
                        << def(ftGuid, 38);
  QTest::newRow("string.uni halves")
      << QByteArray("fieldtype=\"string.uni\" WIDTH=\"40\"") << def(ftWideString, 20);
  QTest::newRow("fixed") << QByteArray("fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"15\"")
                         << def(ftBCD, 2, 15);
  QTest::newRow("fixed no decimals")
      << QByteArray("fieldtype=\"fixed\" WIDTH=\"32\"") << def(ftBCD, 0, 32);
  QTest::newRow("fixedFMT") << QByteArray("fieldtype=\"fixedFMT\" DECIMALS=\"4\" WIDTH=\"20\"")
                            << def(ftFMTBcd, 4, 20);
  QTest::newRow("money") << QByteArray("fieldtype=\"R8\" SUBTYPE=\"money\"")
                         << def(ftCurrency, 0, 15);
  QTest::newRow("autoinc") << QByteArray("fieldtype=\"i4\" SUBTYPE=\"Autoinc\"") << def(ftAutoInc);
  QTest::newRow("i8") << QByteArray("fieldtype=\"i8\"") << def(ftLargeint);
  QTest::newRow("ui2") << QByteArray("fieldtype=\"ui2\"") << def(ftWord);
  QTest::newRow("boolean") << QByteArray("fieldtype=\"boolean\"") << def(ftBoolean);
  QTest::newRow("date") << QByteArray("fieldtype=\"date\"") << def(ftDate);
  QTest::newRow("time") << QByteArray("fieldtype=\"time\"") << def(ftTime);
  QTest::newRow("SQLdateTime") << QByteArray("fieldtype=\"SQLdateTime\" SUBTYPE=\"Formatted\"")
                               << def(ftTimeStamp);
  QTest::newRow("bytes") << QByteArray("fieldtype=\"bin.hex\" WIDTH=\"16\"") << def(ftVarBytes, 16);
  QTest::newRow("blob") << QByteArray("fieldtype=\"bin.hex\" SUBTYPE=\"Binary\"") << def(ftBlob);
  QTest::newRow("memo") << QByteArray("fieldtype=\"bin.hex\" SUBTYPE=\"Text\"") << def(ftMemo);
  QTest::newRow("graphic") << QByteArray("fieldtype=\"bin.hex\" SUBTYPE=\"Graphics\"")
                           << def(ftGraphic);
  QTest::newRow("formatted memo") << QByteArray("fieldtype=\"bin.hex\" SUBTYPE=\"Formatted\"")
                                  << def(ftFmtMemo);
  QTest::newRow("ora clob") << QByteArray("fieldtype=\"bin.hex\" SUBTYPE=\"HMemo\"")
                            << def(ftOraClob);
  QTest::newRow("unknown blob subtype")
      << QByteArray("fieldtype=\"bin.hex\" SUBTYPE=\"Whatever\"") << def(ftBlob);
  TFieldDef flagged = def(ftInteger);
  flagged.Required = true;
  flagged.ReadOnly = true;
  QTest::newRow("flags")
      << QByteArray("fieldtype=\"i4\" readonly=\"TRUE\" required=\"true\" hidden=\"true\"")
      << flagged;
}

void TestDataPacket::readFieldDefinitions() {
  QFETCH(QByteArray, attrs);
  QFETCH(TFieldDef, expected);
  TClientDataSet ds;
  ds.LoadFromBytes(Packet("<FIELD attrname=\"F\" " + attrs + "/>", QByteArray()),
                   QStringLiteral("defs.xml"));
  QCOMPARE(ds.FieldDef(0), expected);
  QCOMPARE(ds.RecordCount(), 0);
  QVERIFY(ds.Eof());
  // What the writer makes of it reads back the same.
  QCOMPARE(RoundTrip(ds, TDataPacketFormat::SingleByte).FieldDef(0), expected);
  // The original name travels in fieldname when the attribute name differs.
  ds.LoadFromBytes(Packet("<FIELD fieldname=\"F G\" attrname=\"F_G\" " + attrs + "/>", "<ROW/>"),
                   QStringLiteral("defs.xml"));
  QCOMPARE(ds.FieldDef(0).Name, QStringLiteral("F G"));
  QCOMPARE(ds.RecordCount(), 1);
}

void TestDataPacket::readChangeLog() {
  const QByteArray file =
      kHead +
      "<FIELD attrname=\"ID\" fieldtype=\"i4\"/><FIELD attrname=\"NAME\" fieldtype=\"string\" "
      "WIDTH=\"20\"/>"
      "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/></FIELDS>"
      "<PARAMS CHANGE_LOG=\"4 2 8 3 0 2 5 0 4 8 7 8\" DATASET_DELTA=\"1\"/></METADATA><ROWDATA>"
      "<ROW ID=\"1\" NAME=\"one\" NOTE=\"n1\"/>"
      "<ROW RowState=\"1\" ID=\"2\" NAME=\"two\" NOTE=\"n2\"/>"
      "<ROW RowState=\"2\" ID=\"3\" NAME=\"three\"/>"
      "<ROW RowState=\"8\" ID=\"2\" NAME=\"two edited\"/>"
      "<ROW RowState=\"4\" ID=\"5\" NAME=\"five\"/>"
      "<ROW RowState=\"32\" ID=\"6\" NAME=\"unused\"/>"
      "<ROW RowState=\"1\" ID=\"7\" NAME=\"seven\" NOTE=\"n7\"/>"
      "<ROW RowState=\"8\" ID=\"7\" NAME=\"seven edited\" NOTE=\"\"/>"
      "<ROW RowState=\"9\" ID=\"9\" NAME=\"nine\" NOTE=\"n9\"/>"
      "<ROW RowState=\"8\" ID=\"9\" NAME=\"nine again\"/>"
      "<ROW RowState=\"64\" ID=\"10\" NAME=\"ten\"/>" +
      kTail;
  TClientDataSet ds;
  ds.LoadFromBytes(file, QStringLiteral("log.xml"));
  QCOMPARE(ds.FieldCount(), 3);
  QStringList seen;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    seen << QStringLiteral("%1 %2 %3")
                .arg(ds.Value(0).ToString(), ds.Value(1).ToString(),
                     ds.Value(2).IsNull() ? QStringLiteral("NULL") : ds.Value(2).ToString());
  }
  // Row 4 takes its note from row 2 (the log says so), row 8 changed its note
  // to empty, row 10 takes row 9's (no log entry: the original before it).
  QCOMPARE(seen, (QStringList{QStringLiteral("1 one n1"), QStringLiteral("2 two edited n2"),
                              QStringLiteral("5 five NULL"), QStringLiteral("7 seven edited "),
                              QStringLiteral("9 nine again n9"), QStringLiteral("10 ten NULL")}));
  QCOMPARE(ds.RecNo(), 6);
  ds.First();
  QCOMPARE(ds.RecNo(), 1);
}

void TestDataPacket::brokenFiles_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QStringList>("mentions");
  const QByteArray idField = "<FIELD attrname=\"ID\" fieldtype=\"i4\"/>";
  auto value = [](const char* type, const QByteArray& text) {
    return PacketWith(QByteArray("attrname=\"V\" fieldtype=\"") + type + "\"",
                      "V=\"" + text + "\"");
  };
  const QStringList badValue = {QStringLiteral("\"V\""), QStringLiteral("ред 1")};
  QTest::newRow("empty") << QByteArray() << QStringList{QStringLiteral("DATAPACKET")};
  QTest::newRow("plain text") << QByteArray("ID;NAME\r\n1;x\r\n")
                              << QStringList{QStringLiteral("DATAPACKET")};
  QTest::newRow("other xml") << QByteArray("<?xml version=\"1.0\"?><html><body/></html>")
                             << QStringList{QStringLiteral("DATAPACKET")};
  QTest::newRow("binary") << QByteArray("\x00\x01<\xff\xfe\x00", 6) << QStringList();
  QTest::newRow("cut in a row") << Packet(idField, "<ROW ID=\"1\"/><ROW ID=\"2")
                                       .left(kHead.size() + idField.size() + kMiddle.size() + 20)
                                << QStringList{QStringLiteral("отрязан")};
  QTest::newRow("cut after rows") << Packet(idField, "<ROW ID=\"1\"/>").chopped(kTail.size())
                                  << QStringList{QStringLiteral("отрязан"),
                                                 QStringLiteral("ред 1")};
  QTest::newRow("no metadata") << QByteArray("<DATAPACKET Version=\"2.0\"><ROWDATA/></DATAPACKET>")
                               << QStringList{QStringLiteral("METADATA")};
  QTest::newRow("no metadata at all")
      << QByteArray("<DATAPACKET Version=\"2.0\"/>") << QStringList{QStringLiteral("METADATA")};
  QTest::newRow("no fields")
      << QByteArray(
             "<DATAPACKET Version=\"2.0\"><METADATA><PARAMS/></METADATA><ROWDATA/></DATAPACKET>")
      << QStringList{QStringLiteral("FIELDS")};
  QTest::newRow("unknown type") << PacketWith("attrname=\"QTY\" fieldtype=\"xyz\"", "QTY=\"1\"")
                                << QStringList{QStringLiteral("\"QTY\""),
                                               QStringLiteral("\"xyz\"")};
  QTest::newRow("nested") << PacketWith("attrname=\"LINES\" fieldtype=\"nested\"", "")
                          << QStringList{QStringLiteral("\"LINES\""), QStringLiteral("nested")};
  QTest::newRow("no attrname") << PacketWith("fieldtype=\"i4\"", "")
                               << QStringList{QStringLiteral("attrname")};
  QTest::newRow("no fieldtype") << PacketWith("attrname=\"ID\"", "")
                                << QStringList{QStringLiteral("fieldtype")};
  QTest::newRow("bad width") << PacketWith("attrname=\"ID\" fieldtype=\"string\" WIDTH=\"x\"", "")
                             << QStringList{QStringLiteral("WIDTH")};
  QTest::newRow("integer") << value("i4", "abc")
                           << (badValue + QStringList{QStringLiteral("\"abc\"")});
  QTest::newRow("integer range") << value("i2", "40000")
                                 << (badValue + QStringList{QStringLiteral("40000")});
  QTest::newRow("integer overflow") << value("i8", "9223372036854775808") << badValue;
  QTest::newRow("date") << value("date", "20241340") << badValue;
  QTest::newRow("short date") << value("date", "2024037") << badValue;
  QTest::newRow("time") << value("time", "25:00:00000") << badValue;
  QTest::newRow("boolean") << value("boolean", "maybe") << badValue;
  QTest::newRow("double") << value("r8", "1.2.3") << badValue;
  QTest::newRow("bcd") << value("fixed", "1-2") << badValue;
  QTest::newRow("base64") << value("bin.hex", "!!!") << badValue;
  QTest::newRow("unknown attribute")
      << Packet(idField, "<ROW ID=\"1\"/><ROW ID=\"2\" FOO=\"x\"/>")
      << QStringList{QStringLiteral("\"FOO\""), QStringLiteral("ред 2")};
  QTest::newRow("attribute twice")
      << Packet(idField, "<ROW ID=\"1\" ID=\"2\"/>")
      << QStringList{QStringLiteral("\"ID\""), QStringLiteral("два пъти")};
  QTest::newRow("duplicate fields")
      << Packet(idField + idField, QByteArray())
      << QStringList{QStringLiteral("\"ID\""), QStringLiteral("два пъти")};
  QTest::newRow("names differing in case")
      << Packet(idField + "<FIELD attrname=\"id\" fieldtype=\"i4\"/>", QByteArray())
      << QStringList{QStringLiteral("\"id\""), QStringLiteral("два пъти")};
  QTest::newRow("mismatched end") << QByteArray(kHead + idField + "</METADATA>")
                                  << QStringList{QStringLiteral("FIELDS"),
                                                 QStringLiteral("METADATA")};
  QTest::newRow("second field list after rows")
      << QByteArray(kHead + idField + kMiddle + "<ROW ID=\"1\"/></ROWDATA><METADATA><FIELDS>" +
                    idField + idField + "</FIELDS></METADATA></DATAPACKET>")
      << QStringList{QStringLiteral("повече от един елемент METADATA")};
  QTest::newRow("unquoted value") << PacketWith("attrname=\"ID\" fieldtype=\"i4\"", "ID=1")
                                  << QStringList{QStringLiteral("неправилна маркировка")};
}

void TestDataPacket::brokenFiles() {
  QFETCH(QByteArray, file);
  QFETCH(QStringList, mentions);
  // A dataset that held a packet before: a failed load leaves nothing of either.
  TClientDataSet ds;
  ds.LoadFromBytes(SamplePacket(TDataPacketFormat::SingleByte), QStringLiteral("good.xml"));
  QVERIFY(ds.RecordCount() > 0);
  const QString message = LoadError(file, QStringLiteral("C:/packets/bad.xml"), &ds);
  QVERIFY2(message.contains(QStringLiteral("\"C:/packets/bad.xml\"")), qPrintable(message));
  for (const QString& mention : mentions) QVERIFY2(message.contains(mention), qPrintable(message));
  QCOMPARE(ds.FieldCount(), 0);
  QCOMPARE(ds.RecordCount(), 0);
  QVERIFY(!ds.Active());
}

void TestDataPacket::truncatedAtEveryByte() {
  for (const TDataPacketFormat format : {TDataPacketFormat::SingleByte, TDataPacketFormat::Utf8}) {
    const QByteArray whole = SamplePacket(format);
    QVERIFY(LoadError(whole, QStringLiteral("whole.xml")).isEmpty());
    for (qsizetype length = 0; length < whole.size(); ++length) {
      TClientDataSet ds;
      const QString message = LoadError(whole.left(length), QStringLiteral("cut.xml"), &ds);
      QVERIFY2(message.contains(QStringLiteral("\"cut.xml\"")),
               qPrintable(QStringLiteral("%1: %2").arg(length).arg(message)));
      QCOMPARE(ds.FieldCount(), 0);
    }
  }
}

void TestDataPacket::corruptedBytesNeverCrash() {
  // Damaged files either load or throw our error, never anything worse.
  QRandomGenerator random(20240307);
  const QByteArray whole = SamplePacket(TDataPacketFormat::Utf8);
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    QByteArray damaged = whole;
    const int hits = 1 + random.bounded(3);
    for (int k = 0; k < hits; ++k)
      damaged[random.bounded(int(damaged.size()))] = static_cast<char>(random.bounded(256));
    TClientDataSet ds;
    try {
      ds.LoadFromBytes(damaged, QStringLiteral("damaged.xml"));
      ++loaded;
      for (const QVector<Variant>& row : ds.Rows()) QCOMPARE(row.size(), ds.FieldCount());
    } catch (const ENompackError& e) {
      QVERIFY(e.Message().contains(QStringLiteral("damaged.xml")));
      QCOMPARE(ds.RecordCount(), 0);
    }
  }
  QVERIFY(loaded > 0);
}
