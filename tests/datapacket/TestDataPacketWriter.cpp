#include <limits>

#include "NompackError.h"
#include "TestDataPacket.h"

namespace {

const QByteArray kDeclaration1 = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";

// The ROW attribute text of one value written in the given format.
QByteArray Written(const TFieldDef& def, const Variant& value, TDataPacketFormat format) {
  const TClientDataSet ds = MakeDataSet({def}, {{value}});
  const QByteArray bytes = ds.SaveToBytes(format);
  const QByteArray start = "<ROW ";
  const qsizetype at = bytes.indexOf(start);
  const qsizetype end = bytes.indexOf("/></ROWDATA>", at);
  return bytes.mid(at + start.size(), end - at - start.size());
}

QByteArray Written1(const TFieldDef& def, const Variant& value) {
  return Written(def, value, TDataPacketFormat::SingleByte);
}

}  // namespace

void TestDataPacket::exampleFileBytes() {
  const TClientDataSet ds = MakeDataSet(
      {Field(QStringLiteral("ID"), ftInteger), Field(QStringLiteral("NAME"), ftString, 40),
       Field(QStringLiteral("PRICE"), ftBCD, 2, 15),
       Field(QStringLiteral("EXPIRY_DATE"), ftDateTime), Field(QStringLiteral("NOTE"), ftMemo)},
      {{Variant::FromInt(1), Variant::FromString(QStringLiteral("Аспирин \"500\"")),
        Variant::FromDecimal(QStringLiteral("1.50")),
        Variant::FromDateTime(DateTimeConv::Compose(QDate(2024, 3, 7), QTime(9, 15, 2))),
        Variant::FromString(QStringLiteral("a\r\nb"))},
       {Variant::FromInt(2), Variant::FromString(QString()), Variant::Null(),
        Variant::FromDateTime(DateTimeConv::FromDate(QDate(1800, 1, 1))), Variant::Null()}});
  const QByteArray expected =
      kDeclaration1 +
      "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
      "<FIELD attrname=\"ID\" fieldtype=\"i4\"/><FIELD attrname=\"NAME\" fieldtype=\"string\" "
      "WIDTH=\"40\"/>"
      "<FIELD attrname=\"PRICE\" fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"15\"/>"
      "<FIELD attrname=\"EXPIRY_DATE\" fieldtype=\"dateTime\"/>"
      "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
      "</FIELDS><PARAMS/></METADATA><ROWDATA>"
      "<ROW ID=\"1\" NAME=\"\xC0\xF1\xEF\xE8\xF0\xE8\xED &quot;500&quot;\" PRICE=\"1.50\" "
      "EXPIRY_DATE=\"20240307T09:15:02000\" NOTE=\"a&#013;&#010;b\"/>"
      "<ROW ID=\"2\" NAME=\"\" EXPIRY_DATE=\"18000101\"/></ROWDATA></DATAPACKET>";
  QCOMPARE(ds.SaveToBytes(TDataPacketFormat::SingleByte), expected);
  QByteArray utf8 = expected;
  utf8.replace(kDeclaration1, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>  ");
  utf8.replace("\xC0\xF1\xEF\xE8\xF0\xE8\xED", QStringLiteral("Аспирин").toUtf8());
  QCOMPARE(ds.SaveToBytes(TDataPacketFormat::Utf8), utf8);
}

void TestDataPacket::valueSpellings_data() {
  QTest::addColumn<TFieldDef>("def");
  QTest::addColumn<Variant>("value");
  QTest::addColumn<QByteArray>("expected");
  const TFieldDef r8 = Field(QStringLiteral("V"), ftFloat);
  const TFieldDef money = Field(QStringLiteral("V"), ftCurrency, 0, 15);
  QTest::newRow("integral double") << r8 << Variant::FromDouble(2777815) << QByteArray("2777815");
  QTest::newRow("17 digits") << r8 << Variant::FromDouble(0.1 + 0.2)
                             << QByteArray("0.30000000000000004");
  QTest::newRow("third") << r8 << Variant::FromDouble(1.0 / 3) << QByteArray("0.3333333333333333");
  QTest::newRow("negative") << r8 << Variant::FromDouble(-1.5) << QByteArray("-1.5");
  QTest::newRow("small") << r8 << Variant::FromDouble(0.00001) << QByteArray("0.00001");
  QTest::newRow("tiny") << r8 << Variant::FromDouble(1.5e-6) << QByteArray("1.5E-6");
  QTest::newRow("huge") << r8 << Variant::FromDouble(1e20) << QByteArray("1E20");
  QTest::newRow("max") << r8 << Variant::FromDouble(std::numeric_limits<double>::max())
                       << QByteArray("1.7976931348623157E308");
  QTest::newRow("denormal") << r8 << Variant::FromDouble(5e-324) << QByteArray("5E-324");
  QTest::newRow("money") << money << Variant::FromDouble(12.3456) << QByteArray("12.3456");
  QTest::newRow("money from currency")
      << money << Variant::FromCurrency(Currency::FromRaw(-15)) << QByteArray("-0.0015");

  const TFieldDef bcd2 = Field(QStringLiteral("V"), ftBCD, 2, 15);
  QTest::newRow("bcd scale") << bcd2 << Variant::FromDecimal(QStringLiteral("1.5"))
                             << QByteArray("1.50");
  QTest::newRow("bcd whole") << bcd2 << Variant::FromDecimal(QStringLiteral("-7"))
                             << QByteArray("-7.00");
  QTest::newRow("bcd more digits than scale")
      << bcd2 << Variant::FromDecimal(QStringLiteral("0.0001")) << QByteArray("0.0001");
  QTest::newRow("bcd 30 digits") << Field(QStringLiteral("V"), ftFMTBcd, 0, 30)
                                 << Variant::FromDecimal(
                                        QStringLiteral("123456789012345678901234567890"))
                                 << QByteArray("123456789012345678901234567890");
  QTest::newRow("bcd long fraction")
      << Field(QStringLiteral("V"), ftBCD, 12, 32)
      << Variant::FromDecimal(QStringLiteral("-12345678901234567.123456789012"))
      << QByteArray("-12345678901234567.123456789012");
  QTest::newRow("bcd from tiny double") << Field(QStringLiteral("V"), ftBCD, 0, 32)
                                        << Variant::FromDouble(1e-7) << QByteArray("0.0000001");
  QTest::newRow("bcd from currency")
      << bcd2 << Variant::FromCurrency(Currency::FromString(QStringLiteral("2.5")))
      << QByteArray("2.50");

  QTest::newRow("int64 min") << Field(QStringLiteral("V"), ftLargeint)
                             << Variant::FromInt64(std::numeric_limits<qint64>::min())
                             << QByteArray("-9223372036854775808");
  QTest::newRow("true") << Field(QStringLiteral("V"), ftBoolean) << Variant::FromBool(true)
                        << QByteArray("TRUE");
  QTest::newRow("false") << Field(QStringLiteral("V"), ftBoolean) << Variant::FromBool(false)
                         << QByteArray("FALSE");

  const TFieldDef dt = Field(QStringLiteral("V"), ftDateTime);
  auto stamp = [](int y, int m, int d, int h, int mi, int s, int ms) {
    return Variant::FromDateTime(DateTimeConv::Compose(QDate(y, m, d), QTime(h, mi, s, ms)));
  };
  QTest::newRow("date 1800") << Field(QStringLiteral("V"), ftDate) << stamp(1800, 1, 1, 0, 0, 0, 0)
                             << QByteArray("18000101");
  QTest::newRow("date year 1") << Field(QStringLiteral("V"), ftDate) << stamp(1, 1, 1, 0, 0, 0, 0)
                               << QByteArray("00010101");
  QTest::newRow("date drops time") << Field(QStringLiteral("V"), ftDate)
                                   << stamp(2024, 3, 7, 18, 0, 0, 0) << QByteArray("20240307");
  QTest::newRow("time") << Field(QStringLiteral("V"), ftTime) << stamp(1899, 12, 30, 9, 15, 2, 0)
                        << QByteArray("09:15:02000");
  QTest::newRow("time drops date")
      << Field(QStringLiteral("V"), ftTime) << stamp(2024, 3, 7, 23, 59, 59, 999)
      << QByteArray("23:59:59999");
  QTest::newRow("midnight") << dt << stamp(2024, 3, 7, 0, 0, 0, 0) << QByteArray("20240307");
  QTest::newRow("day zero") << dt << Variant::FromDateTime(0) << QByteArray("18991230");
  QTest::newRow("negative with time")
      << dt << Variant::FromDateTime(-1.25) << QByteArray("18991229T06:00:00000");
  QTest::newRow("before 1899 with ms")
      << dt << stamp(1800, 1, 1, 12, 34, 56, 789) << QByteArray("18000101T12:34:56789");
  QTest::newRow("timestamp") << Field(QStringLiteral("V"), ftTimeStamp)
                             << stamp(2024, 3, 7, 9, 15, 2, 5)
                             << QByteArray("20240307T09:15:02005");
  QTest::newRow("number into text")
      << Field(QStringLiteral("V"), ftString, 10) << Variant::FromInt(42) << QByteArray("42");
  QTest::newRow("one byte base64")
      << Field(QStringLiteral("V"), ftBlob) << Variant::FromBytes("a") << QByteArray("YQ==");
}

void TestDataPacket::valueSpellings() {
  QFETCH(TFieldDef, def);
  QFETCH(Variant, value);
  QFETCH(QByteArray, expected);
  QCOMPARE(Written1(def, value), "V=\"" + expected + "\"");
  // Every spelling reads back to the value the field holds.
  const TClientDataSet loaded =
      RoundTrip(MakeDataSet({def}, {{value}}), TDataPacketFormat::SingleByte);
  const Variant stored = CoerceToFieldType(value, def);
  if (def.DataType == ftDate || def.DataType == ftTime) {
    const DateTimeConv::TimeStamp ts =
        DateTimeConv::ToTimeStamp(loaded.Rows().at(0).at(0).ToDateTime());
    const DateTimeConv::TimeStamp want = DateTimeConv::ToTimeStamp(stored.ToDateTime());
    QCOMPARE(def.DataType == ftDate ? ts.Day : qint64(ts.MSec),
             def.DataType == ftDate ? want.Day : qint64(want.MSec));
  } else {
    QCOMPARE(loaded.Rows().at(0).at(0), stored);
  }
}

void TestDataPacket::escapedText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QByteArray>("expected");
  QTest::newRow("markup") << QStringLiteral("<a> \"b\" & 'c'")
                          << QByteArray("&lt;a&gt; &quot;b&quot; &amp; &apos;c&apos;");
  QTest::newRow("breaks") << QStringLiteral("1\r\n2\t3\\4")
                          << QByteArray("1&#013;&#010;2&#009;3&#092;4");
  QTest::newRow("raw control") << QStringLiteral(
                                      "a\x01"
                                      "b\x1f")
                               << QByteArray(
                                      "a\x01"
                                      "b\x1f");
  QTest::newRow("entity text") << QStringLiteral("&amp; &#65;")
                               << QByteArray("&amp;amp; &amp;#65;");
}

void TestDataPacket::escapedText() {
  QFETCH(QString, text);
  QFETCH(QByteArray, expected);
  for (const TFieldType type : {ftString, ftMemo}) {
    const TFieldDef def = Field(QStringLiteral("V"), type, type == ftString ? 50 : 0);
    for (const TDataPacketFormat format :
         {TDataPacketFormat::SingleByte, TDataPacketFormat::Utf8}) {
      QCOMPARE(Written(def, Variant::FromString(text), format), "V=\"" + expected + "\"");
      const TClientDataSet loaded =
          RoundTrip(MakeDataSet({def}, {{Variant::FromString(text)}}), format);
      QCOMPARE(loaded.Rows().at(0).at(0).ToString(), text);
    }
  }
}

void TestDataPacket::wideStringReferences() {
  const TFieldDef def = Field(QStringLiteral("V"), ftWideString, 5);
  const QString text = QStringLiteral("Aя€漢😀<") + QChar(0x80) + QChar(0xE9);
  for (const TDataPacketFormat format : {TDataPacketFormat::SingleByte, TDataPacketFormat::Utf8}) {
    const QByteArray bytes = MakeDataSet({def}, {{Variant::FromString(text)}}).SaveToBytes(format);
    QVERIFY(bytes.contains("<FIELD attrname=\"V\" fieldtype=\"string.uni\" WIDTH=\"10\"/>"));
    QCOMPARE(Written(def, Variant::FromString(text), format),
             QByteArray("V=\"A&#1103;&#8364;&#28450;&#128512;&lt;&#128;&#233;\""));
    TClientDataSet loaded;
    loaded.LoadFromBytes(bytes, QStringLiteral("wide.xml"));
    QCOMPARE(loaded.FieldDef(0), def);
    QCOMPARE(loaded.Rows().at(0).at(0).ToString(), text);
  }
}

void TestDataPacket::unencodableTextInSingleByte() {
  // Characters Windows-1251 lacks become references: the text survives.
  const TFieldDef def = Field(QStringLiteral("V"), ftString, 20);
  const QString text = QStringLiteral("Ωé漢😀Жx");
  QCOMPARE(Written1(def, Variant::FromString(text)),
           QByteArray("V=\"&#937;&#233;&#28450;&#128512;\xC6x\""));
  QCOMPARE(Written(def, Variant::FromString(text), TDataPacketFormat::Utf8),
           "V=\"" + text.toUtf8() + "\"");
  for (const TDataPacketFormat format : {TDataPacketFormat::SingleByte, TDataPacketFormat::Utf8}) {
    const TClientDataSet loaded =
        RoundTrip(MakeDataSet({def}, {{Variant::FromString(text)}}), format);
    QCOMPARE(loaded.Rows().at(0).at(0).ToString(), text);
  }
  // A lone surrogate has no UTF-8 form; the UTF-8 file stays valid and keeps it.
  const QString lone = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b");
  QCOMPARE(Written(def, Variant::FromString(lone), TDataPacketFormat::Utf8),
           QByteArray("V=\"a&#55296;b\""));
  QCOMPARE(RoundTrip(MakeDataSet({def}, {{Variant::FromString(lone)}}), TDataPacketFormat::Utf8)
               .Rows()
               .at(0)
               .at(0)
               .ToString(),
           lone);
  // Formatted memos travel as base64 of their Windows-1251 bytes: there a
  // character without such a byte cannot be kept, and saving says so.
  const TClientDataSet rtf = MakeDataSet(
      {Field(QStringLiteral("RTF"), ftFmtMemo)},
      {{Variant::FromString(QStringLiteral("ok"))}, {Variant::FromString(QStringLiteral("漢"))}});
  try {
    rtf.SaveToBytes(TDataPacketFormat::Utf8);
    QFAIL("saved a character it cannot keep");
  } catch (const ENompackError& e) {
    QCOMPARE(e.ErrorKind(), ENompackError::Kind::Conversion);
    QVERIFY2(e.Message().contains(QStringLiteral("\"RTF\"")) &&
                 e.Message().contains(QStringLiteral("row 2")) &&
                 e.Message().contains(QStringLiteral("漢")),
             qPrintable(e.Message()));
  }
}

void TestDataPacket::binaryAllBytes() {
  QByteArray all;
  for (int i = 0; i < 256; ++i) all.append(static_cast<char>(i));
  const QByteArray expected =
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+"
      "P0BBQkNERUZHSElKS0xNTk9QUVJTVFVW"
      "V1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+"
      "AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6yt"
      "rq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/"
      "g4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==";
  for (const TFieldType type : {ftBlob, ftVarBytes, ftGraphic, ftOraBlob}) {
    const TFieldDef def = Field(QStringLiteral("V"), type);
    QCOMPARE(Written1(def, Variant::FromBytes(all)), "V=\"" + expected + "\"");
    QCOMPARE(RoundTrip(MakeDataSet({def}, {{Variant::FromBytes(all)}}), TDataPacketFormat::Utf8)
                 .Rows()
                 .at(0)
                 .at(0),
             Variant::FromBytes(all));
  }
}

void TestDataPacket::fieldNamesReplaced() {
  const TClientDataSet ds = MakeDataSet(
      {Field(QStringLiteral("QTY (PCS)"), ftInteger), Field(QStringLiteral("A B"), ftInteger),
       Field(QStringLiteral("A_B"), ftInteger), Field(QStringLiteral("N#1?"), ftInteger)},
      {{Variant::FromInt(1), Variant::FromInt(2), Variant::FromInt(3), Variant::FromInt(4)}});
  const QByteArray bytes = ds.SaveToBytes(TDataPacketFormat::SingleByte);
  QVERIFY2(bytes.contains("<FIELD fieldname=\"QTY (PCS)\" attrname=\"QTY__PCS_\" fieldtype=\"i4\"/>"
                          "<FIELD fieldname=\"A B\" attrname=\"A_B_2\" fieldtype=\"i4\"/>"
                          "<FIELD attrname=\"A_B\" fieldtype=\"i4\"/>"
                          "<FIELD fieldname=\"N#1?\" attrname=\"N_1_\" fieldtype=\"i4\"/>"),
           bytes.constData());
  QVERIFY(bytes.contains("<ROW QTY__PCS_=\"1\" A_B_2=\"2\" A_B=\"3\" N_1_=\"4\"/>"));
  const TClientDataSet loaded = RoundTrip(ds, TDataPacketFormat::Utf8);
  QCOMPARE(loaded.FieldDefs(), ds.FieldDefs());
  QCOMPARE(loaded.Rows(), ds.Rows());
}

void TestDataPacket::writeRefusals_data() {
  QTest::addColumn<TFieldDef>("def");
  QTest::addColumn<Variant>("value");
  QTest::addColumn<QString>("mentions");
  QTest::newRow("type without spelling")
      << Field(QStringLiteral("ADDR"), ftADT) << Variant::Null() << QStringLiteral("\"ADDR\"");
  QTest::newRow("smallint range") << Field(QStringLiteral("QTY"), ftSmallint)
                                  << Variant::FromInt(40000) << QStringLiteral("40000");
  QTest::newRow("word range") << Field(QStringLiteral("QTY"), ftWord) << Variant::FromInt(-1)
                              << QStringLiteral("row 1");
  QTest::newRow("text in integer")
      << Field(QStringLiteral("QTY"), ftInteger) << Variant::FromString(QStringLiteral("abc"))
      << QStringLiteral("\"QTY\"");
  QTest::newRow("text in bcd") << Field(QStringLiteral("PRICE"), ftBCD, 2, 15)
                               << Variant::FromString(QStringLiteral("1,2,3"))
                               << QStringLiteral("\"PRICE\"");
  QTest::newRow("date out of range") << Field(QStringLiteral("DAY"), ftDateTime)
                                     << Variant::FromDateTime(1e7) << QStringLiteral("\"DAY\"");
  QTest::newRow("date not a number")
      << Field(QStringLiteral("DAY"), ftDateTime)
      << Variant::FromDouble(std::numeric_limits<double>::quiet_NaN()) << QStringLiteral("\"DAY\"");
}

void TestDataPacket::writeRefusals() {
  QFETCH(TFieldDef, def);
  QFETCH(Variant, value);
  QFETCH(QString, mentions);
  const TClientDataSet ds = MakeDataSet({def}, {{value}});
  try {
    ds.SaveToBytes(TDataPacketFormat::SingleByte);
    QFAIL("written without complaint");
  } catch (const ENompackError& e) {
    QVERIFY2(e.Message().contains(mentions), qPrintable(e.Message()));
  }
  // Two names one lookup cannot tell apart.
  const TClientDataSet twice = MakeDataSet(
      {Field(QStringLiteral("ID"), ftInteger), Field(QStringLiteral("id"), ftInteger)}, {});
  QVERIFY_THROWS_EXCEPTION(ENompackError, twice.SaveToBytes(TDataPacketFormat::Utf8));
}

namespace {

// The two ways a dataset reaches a file: the durable one of the explorer and
// the one of the export, whose chunk files are packed right after.
void AddSavers() {
  QTest::addColumn<bool>("workFile");
  QTest::newRow("SaveToFile") << false;
  QTest::newRow("SaveToWorkFile") << true;
}

void Save(const TClientDataSet& ds, const QString& path, bool workFile) {
  if (workFile)
    ds.SaveToWorkFile(path, TDataPacketFormat::SingleByte);
  else
    ds.SaveToFile(path, TDataPacketFormat::SingleByte);
}

}  // namespace

void TestDataPacket::saveToFileRefusesReadOnlyFile_data() {
  AddSavers();
}

void TestDataPacket::saveToFileRefusesReadOnlyFile() {
  QFETCH(bool, workFile);
  // Not even root, who may write anything, replaces a file nobody may write.
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("UNIT[1].xml"));
  {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("kept");
  }
  QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  const TClientDataSet ds = MakeDataSet({Field(QStringLiteral("ID"), ftInteger)}, {});
  try {
    Save(ds, path, workFile);
    QFAIL("a read-only file was replaced");
  } catch (const ENompackError& e) {
    QCOMPARE(e.ErrorKind(), ENompackError::Kind::File);
    QCOMPARE(e.Message(),
             QStringLiteral("Cannot create file \"%1\". The file is read-only").arg(path));
  }
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), QByteArray("kept"));
  // Once writable again it is replaced as any other file.
  file.close();
  Save(ds, path, workFile);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QVERIFY(file.readAll().startsWith("<?xml"));
}

void TestDataPacket::savedFileReplacesOldOne_data() {
  AddSavers();
}

void TestDataPacket::savedFileReplacesOldOne() {
  QFETCH(bool, workFile);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("UNIT[1].xml"));
  const TClientDataSet ds = MakeDataSet({Field(QStringLiteral("NAME"), ftString, 20)},
                                        {{Variant::FromString(QStringLiteral("Аспирин"))}});
  const QByteArray expected = ds.SaveToBytes(TDataPacketFormat::SingleByte);
  // A longer old file leaves no tail behind the new bytes.
  {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(expected.size() * 3, 'x'));
  }
  Save(ds, path, workFile);
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), expected);
  file.close();
  // A file that cannot be made fails with its name, and nothing is left.
  const QString missing = dir.filePath(QStringLiteral("no-such-folder/UNIT[1].xml"));
  try {
    Save(ds, missing, workFile);
    QFAIL("a file was written into a folder that does not exist");
  } catch (const ENompackError& e) {
    QCOMPARE(e.ErrorKind(), ENompackError::Kind::File);
    QVERIFY2(e.Message().startsWith(QStringLiteral("Cannot create file \"%1\".").arg(missing)),
             qPrintable(e.Message()));
  }
  QVERIFY(!QFileInfo::exists(missing));
}
