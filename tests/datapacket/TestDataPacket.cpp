#include "TestDataPacket.h"

#include <limits>

#include "NompackError.h"

char* toString(const Variant& value) {
  QString text;
  if (value.VarType() == Variant::Type::Double)
    text = QString::number(value.ToDouble(), 'g', 17);
  else if (value.VarType() == Variant::Type::DateTime)
    text = QString::number(value.ToDateTime(), 'g', 17) + QLatin1Char(' ') + value.ToString();
  else
    text = value.ToString();
  return qstrdup(
      (Variant::TypeName(value.VarType()) + QLatin1Char('(') + text + QLatin1Char(')')).toUtf8());
}

char* toString(const TFieldDef& def) {
  return qstrdup(QStringLiteral("%1 %2 size %3 precision %4 required %5 readonly %6")
                     .arg(def.Name, FieldTypeName(def.DataType))
                     .arg(def.Size)
                     .arg(def.Precision)
                     .arg(def.Required)
                     .arg(def.ReadOnly)
                     .toUtf8());
}

TClientDataSet MakeDataSet(const QVector<TFieldDef>& fields,
                           const QVector<QVector<Variant>>& rows) {
  TClientDataSet ds;
  for (const TFieldDef& def : fields) ds.AddFieldDef(def);
  for (const QVector<Variant>& row : rows) ds.AppendRow(row);
  ds.Open();
  return ds;
}

TFieldDef Field(const QString& name, TFieldType type, int size, int precision) {
  TFieldDef def;
  def.Name = name;
  def.DataType = type;
  def.Size = size;
  def.Precision = precision;
  return def;
}

TClientDataSet RoundTrip(const TClientDataSet& source, TDataPacketFormat format) {
  TClientDataSet loaded;
  loaded.LoadFromBytes(source.SaveToBytes(format), QStringLiteral("roundtrip.xml"));
  return loaded;
}

QString LoadError(const QByteArray& data, const QString& sourceName, TClientDataSet* dataSet) {
  TClientDataSet local;
  TClientDataSet& ds = dataSet ? *dataSet : local;
  try {
    ds.LoadFromBytes(data, sourceName);
  } catch (const ENompackError& e) {
    return e.Message();
  }
  return QString();
}

QByteArray PacketWith(const QByteArray& fieldAttrs, const QByteArray& rowAttrs) {
  return "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET "
         "Version=\"2.0\"><METADATA><FIELDS><FIELD " +
         fieldAttrs + "/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW " + rowAttrs +
         "/></ROWDATA></DATAPACKET>";
}

namespace {

Variant Str(const QString& s) {
  return Variant::FromString(s);
}
Variant Bytes(const QByteArray& b) {
  return Variant::FromBytes(b);
}
Variant Int(qint64 n, Variant::Type type) {
  return Variant::FromInt(n, type);
}
Variant Dbl(double d) {
  return Variant::FromDouble(d);
}
Variant Dec(const char* text) {
  return Variant::FromDecimal(QString::fromLatin1(text));
}
Variant Date(int y, int m, int d) {
  return Variant::FromDateTime(DateTimeConv::FromDate(QDate(y, m, d)));
}
Variant Stamp(int y, int m, int d, int h, int mi, int s, int ms) {
  return Variant::FromDateTime(DateTimeConv::Compose(QDate(y, m, d), QTime(h, mi, s, ms)));
}
Variant Time(int h, int mi, int s, int ms) {
  return Variant::FromDateTime(DateTimeConv::FromTime(QTime(h, mi, s, ms)));
}

QByteArray AllBytes() {
  QByteArray all;
  for (int i = 0; i < 256; ++i) all.append(static_cast<char>(i));
  return all;
}

}  // namespace

void TestDataPacket::roundTripEveryType_data() {
  using T = Variant::Type;
  QTest::addColumn<TDataPacketFormat>("format");
  QTest::addColumn<TFieldDef>("def");
  QTest::addColumn<QVector<Variant>>("values");
  const Variant null = Variant::Null();
  const QString cyrillic = QStringLiteral("Аспирин \"500\" <x> & 'y' № €");
  // Long enough to cross the writer's blocks at every kind of character.
  const QString longText = QStringLiteral("Жx😀<&\r\n漢").repeated(3001);
  struct Case {
    TFieldDef Def;
    QVector<Variant> Values;
  };
  const QVector<Case> cases = {
      {Field(QStringLiteral("NAME"), ftString, 40),
       {Str(QString()), Str(QStringLiteral("Plain")), Str(cyrillic),
        Str(QStringLiteral("a\r\nb\tc\\d")),
        Str(QStringLiteral("raw\x01"
                           "control")),
        null}},
      {Field(QStringLiteral("CODE"), ftFixedChar, 10), {Str(QStringLiteral("ABC  ")), null}},
      {Field(QStringLiteral("GUID"), ftGuid, 38),
       {Str(QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"))}},
      {Field(QStringLiteral("WIDE"), ftWideString, 20),
       {Str(QStringLiteral("Ab€漢😀")), Str(QStringLiteral("Аспирин")), Str(QString()),
        Str(longText), null}},
      {Field(QStringLiteral("SMALL"), ftSmallint),
       {Int(-32768, T::Int16), Int(32767, T::Int16), Int(0, T::Int16), null}},
      {Field(QStringLiteral("INT"), ftInteger),
       {Int(std::numeric_limits<qint32>::min(), T::Int32),
        Int(std::numeric_limits<qint32>::max(), T::Int32)}},
      {Field(QStringLiteral("ID"), ftAutoInc), {Int(1, T::Int32), Int(2147483647, T::Int32)}},
      {Field(QStringLiteral("BIG"), ftLargeint),
       {Variant::FromInt64(std::numeric_limits<qint64>::min()),
        Variant::FromInt64(std::numeric_limits<qint64>::max()), Variant::FromInt64(0), null}},
      {Field(QStringLiteral("WORD"), ftWord),
       {Variant::FromUInt(0, T::UInt16), Variant::FromUInt(65535, T::UInt16)}},
      {Field(QStringLiteral("FLAG"), ftBoolean),
       {Variant::FromBool(true), Variant::FromBool(false), null}},
      {Field(QStringLiteral("RATE"), ftFloat),
       {Dbl(0.1 + 0.2), Dbl(1.0 / 3), Dbl(2777815), Dbl(-1.5e-300),
        Dbl(std::numeric_limits<double>::max()), Dbl(std::numeric_limits<double>::denorm_min()),
        Dbl(1e20), Dbl(-123456.789), Dbl(0), null}},
      {Field(QStringLiteral("PRICE"), ftCurrency, 0, 15),
       {Dbl(1.2345), Dbl(-99.99), Dbl(922337203685477.5)}},
      {Field(QStringLiteral("AMOUNT"), ftBCD, 2, 15),
       {Dec("1.5"), Dec("-12345678901234.56"), Dec("0"), null}},
      {Field(QStringLiteral("EXACT"), ftFMTBcd, 10, 32),
       {Dec("12345678901234567890.123456789"), Dec("-0.0000000001"),
        Dec("123456789012345678901234567890")}},
      {Field(QStringLiteral("DAY"), ftDate),
       {Date(2024, 3, 7), Date(1800, 1, 1), Date(1, 1, 1), Date(9999, 12, 31)}},
      {Field(QStringLiteral("AT"), ftTime),
       {Time(9, 15, 2, 345), Time(23, 59, 59, 999), Time(0, 0, 0, 0)}},
      {Field(QStringLiteral("EXPIRY_DATE"), ftDateTime),
       {Stamp(2024, 3, 7, 9, 15, 2, 0), Variant::FromDateTime(-1.25),
        Stamp(1800, 1, 1, 12, 34, 56, 789), Date(2024, 3, 7), Variant::FromDateTime(0), null}},
      {Field(QStringLiteral("STAMP"), ftTimeStamp),
       {Stamp(2001, 2, 3, 4, 5, 6, 7), Stamp(1899, 12, 29, 23, 59, 59, 999)}},
      {Field(QStringLiteral("RAW"), ftVarBytes, 16),
       {Bytes(QByteArray("\x00\x01\xff", 3)), Bytes(QByteArray()), null}},
      {Field(QStringLiteral("BLOB"), ftBlob), {Bytes(AllBytes()), Bytes(QByteArray())}},
      {Field(QStringLiteral("NOTE"), ftMemo),
       {Str(QStringLiteral("ред1\r\nред2\tЖ\\")), Str(QString()), Str(longText), null}},
      {Field(QStringLiteral("PIC"), ftGraphic), {Bytes(QByteArray("\x89PNG\r\n\x1a\n", 8))}},
      {Field(QStringLiteral("RTF"), ftFmtMemo), {Str(QStringLiteral("{\\rtf1 Текст}"))}},
      {Field(QStringLiteral("OLE"), ftParadoxOle), {Bytes(AllBytes().left(17))}},
      {Field(QStringLiteral("DBOLE"), ftDBaseOle), {Bytes(AllBytes().right(5))}},
      {Field(QStringLiteral("TYPED"), ftTypedBinary), {Bytes(QByteArray("abc"))}},
      {Field(QStringLiteral("ORABLOB"), ftOraBlob), {Bytes(QByteArray(1000, '\xAA'))}},
      {Field(QStringLiteral("ORACLOB"), ftOraClob), {Str(QStringLiteral("Дълъг текст"))}},
  };
  for (const TDataPacketFormat format : {TDataPacketFormat::SingleByte, TDataPacketFormat::Utf8}) {
    for (const Case& c : cases) {
      const QByteArray name =
          (format == TDataPacketFormat::SingleByte ? "format 1 " : "format 2 ") +
          FieldTypeName(c.Def.DataType).toLatin1();
      QTest::newRow(name.constData()) << format << c.Def << c.Values;
    }
  }
}

void TestDataPacket::roundTripEveryType() {
  QFETCH(TDataPacketFormat, format);
  QFETCH(TFieldDef, def);
  QFETCH(QVector<Variant>, values);
  // A second field after it, so that the value is not always the last attribute.
  QVector<QVector<Variant>> rows;
  for (int i = 0; i < values.size(); ++i)
    rows.append({values.at(i), Variant::FromInt(i, Variant::Type::Int32)});
  const TClientDataSet source = MakeDataSet({def, Field(QStringLiteral("SEQ"), ftInteger)}, rows);
  const TClientDataSet loaded = RoundTrip(source, format);
  QCOMPARE(loaded.FieldCount(), 2);
  QCOMPARE(loaded.FieldDef(0), def);
  QCOMPARE(loaded.RecordCount(), values.size());
  for (int i = 0; i < values.size(); ++i) {
    // Each value comes back in the type the field holds, exactly.
    QCOMPARE(loaded.Rows().at(i).at(0), CoerceToFieldType(values.at(i), def));
    QCOMPARE(loaded.Rows().at(i).at(0), values.at(i));
  }
}

void TestDataPacket::nullAndEmptyText() {
  const TClientDataSet source = MakeDataSet(
      {Field(QStringLiteral("NAME"), ftString, 10), Field(QStringLiteral("NOTE"), ftMemo),
       Field(QStringLiteral("RAW"), ftBlob), Field(QStringLiteral("N"), ftInteger)},
      {{Str(QString()), Str(QString()), Bytes(QByteArray()), Variant::Null()},
       {Variant::Null(), Variant::Null(), Variant::Null(), Variant::FromInt(0)}});
  const QByteArray bytes = source.SaveToBytes(TDataPacketFormat::SingleByte);
  QVERIFY(bytes.contains("<ROW NAME=\"\" NOTE=\"\" RAW=\"\"/><ROW N=\"0\"/>"));
  for (const TDataPacketFormat format : {TDataPacketFormat::SingleByte, TDataPacketFormat::Utf8}) {
    const TClientDataSet loaded = RoundTrip(source, format);
    QCOMPARE(loaded.Rows(), source.Rows());
    QVERIFY(!loaded.Rows().at(0).at(0).IsNull());
    QVERIFY(loaded.Rows().at(1).at(0).IsNull());
    QVERIFY(loaded.Rows().at(0).at(3).IsNull());
  }
}

void TestDataPacket::cyrillicText_data() {
  QTest::addColumn<TDataPacketFormat>("format");
  QTest::addColumn<QByteArray>("declaration");
  QTest::addColumn<QByteArray>("encoded");
  QTest::newRow("format 1") << TDataPacketFormat::SingleByte
                            << QByteArray("<?xml version=\"1.0\" standalone=\"yes\"?>  ")
                            << QByteArray("\xC0\xF1\xEF\xE8\xF0\xE8\xED \xB9 \xA8\xFF");
  QTest::newRow("format 2")
      << TDataPacketFormat::Utf8
      << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>  ")
      << QStringLiteral("Аспирин № Ёя").toUtf8();
}

void TestDataPacket::cyrillicText() {
  QFETCH(TDataPacketFormat, format);
  QFETCH(QByteArray, declaration);
  QFETCH(QByteArray, encoded);
  const QString text = QStringLiteral("Аспирин № Ёя");
  const TClientDataSet source = MakeDataSet(
      {Field(QStringLiteral("NAME"), ftString, 40), Field(QStringLiteral("NOTE"), ftMemo)},
      {{Str(text), Str(text)}});
  const QByteArray bytes = source.SaveToBytes(format);
  QVERIFY(bytes.startsWith(declaration + "<DATAPACKET Version=\"2.0\">"));
  QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
  QVERIFY(!bytes.contains('\n'));
  QVERIFY2(bytes.contains("NAME=\"" + encoded + "\" NOTE=\"" + encoded + "\""), bytes.constData());
  const TClientDataSet loaded = RoundTrip(source, format);
  QCOMPARE(loaded.Rows().at(0).at(0).ToString(), text);
  QCOMPARE(loaded.Rows().at(0).at(1).ToString(), text);
}

void TestDataPacket::rewrittenInUtf8LoadsIdentical() {
  const TClientDataSet source = MakeDataSet(
      {Field(QStringLiteral("ID"), ftInteger), Field(QStringLiteral("NAME"), ftString, 40),
       Field(QStringLiteral("PRICE"), ftBCD, 2, 15),
       Field(QStringLiteral("EXPIRY_DATE"), ftDateTime),
       Field(QStringLiteral("WIDE"), ftWideString, 10)},
      {{Variant::FromInt(1), Str(QStringLiteral("Аналгин & <Ко>")), Dec("1.5"),
        Variant::FromDateTime(-700.5), Str(QStringLiteral("Ω漢"))},
       {Variant::FromInt(2), Str(QString()), Variant::Null(), Date(1800, 1, 1), Variant::Null()}});
  TClientDataSet first;
  first.LoadFromBytes(source.SaveToBytes(TDataPacketFormat::SingleByte),
                      QStringLiteral("ARTICLE[1].xml"));
  const QByteArray utf8 = first.SaveToBytes(TDataPacketFormat::Utf8);
  TClientDataSet second;
  second.LoadFromBytes(utf8, QStringLiteral("ARTICLE[1].xml"));
  QCOMPARE(second.FieldDefs(), source.FieldDefs());
  QCOMPARE(second.Rows(), source.Rows());
  // Writing again gives the same bytes: nothing drifts from save to save.
  QCOMPARE(second.SaveToBytes(TDataPacketFormat::Utf8), utf8);
}

void TestDataPacket::editedRowsSurviveSave() {
  TClientDataSet ds = MakeDataSet(
      {Field(QStringLiteral("ID"), ftInteger), Field(QStringLiteral("EXPIRY_DATE"), ftDateTime)},
      {{Variant::FromInt(1), Variant::FromDateTime(-5)}, {Variant::FromInt(2), Variant::Null()}});
  ds.SetRecNo(1);
  ds.Edit();
  ds.SetValue(1, Variant::FromDateTime(0));
  ds.Post();
  ds.SetRecNo(2);
  ds.Edit();
  ds.SetValue(0, Str(QStringLiteral("20")));
  ds.Post();
  const TClientDataSet loaded = RoundTrip(ds, TDataPacketFormat::Utf8);
  QCOMPARE(loaded.Rows().at(0).at(1), Variant::FromDateTime(0));
  QCOMPARE(loaded.Rows().at(1).at(0), Variant::FromInt(20));
  QCOMPARE(loaded.RecNo(), 1);
}

void TestDataPacket::manyRows() {
  QVector<QVector<Variant>> rows;
  for (int i = 0; i < 10000; ++i) {
    rows.append({Variant::FromInt(i), Str(QStringLiteral("Артикул %1").arg(i)), Dec("12.5"),
                 Variant::FromDateTime(45000 + i * 0.25), Variant::FromDouble(i / 7.0)});
  }
  const TClientDataSet source = MakeDataSet(
      {Field(QStringLiteral("ID"), ftInteger), Field(QStringLiteral("NAME"), ftString, 60),
       Field(QStringLiteral("PRICE"), ftBCD, 2, 15), Field(QStringLiteral("STAMP"), ftDateTime),
       Field(QStringLiteral("RATE"), ftFloat)},
      rows);
  TClientDataSet loaded = RoundTrip(source, TDataPacketFormat::SingleByte);
  QCOMPARE(loaded.RecordCount(), 10000);
  QCOMPARE(loaded.Rows(), source.Rows());
  QCOMPARE(loaded.RecNo(), 1);
  QVERIFY(!loaded.Eof());
  int visited = 0;
  for (loaded.First(); !loaded.Eof(); loaded.Next()) ++visited;
  QCOMPARE(visited, 10000);
}

void TestDataPacket::coerceToFieldType_data() {
  using T = Variant::Type;
  QTest::addColumn<Variant>("value");
  QTest::addColumn<int>("type");
  QTest::addColumn<Variant>("expected");  // Empty: the conversion fails
  QTest::newRow("text to integer")
      << Str(QStringLiteral("12")) << int(ftInteger) << Variant::FromInt(12, T::Int32);
  QTest::newRow("text to smallint")
      << Str(QStringLiteral("-5")) << int(ftSmallint) << Variant::FromInt(-5, T::Int16);
  QTest::newRow("smallint too big") << Variant::FromInt(40000) << int(ftSmallint) << Variant();
  QTest::newRow("word") << Variant::FromInt(65535) << int(ftWord)
                        << Variant::FromUInt(65535, T::UInt16);
  QTest::newRow("word too big") << Variant::FromInt(65536) << int(ftWord) << Variant();
  QTest::newRow("word negative") << Variant::FromInt(-1) << int(ftWord) << Variant();
  QTest::newRow("integer too big")
      << Variant::FromInt64(3000000000LL) << int(ftInteger) << Variant();
  QTest::newRow("double to BCD") << Variant::FromDouble(1.25) << int(ftBCD) << Dec("1.25");
  QTest::newRow("text to BCD") << Str(QStringLiteral("0012.500")) << int(ftFMTBcd) << Dec("12.5");
  QTest::newRow("word to Boolean")
      << Str(QStringLiteral("True")) << int(ftBoolean) << Variant::FromBool(true);
  QTest::newRow("text to date") << Str(QStringLiteral("2024-03-07")) << int(ftDate)
                                << Date(2024, 3, 7);
  QTest::newRow("text to currency") << Str(QStringLiteral("1.5")) << int(ftCurrency) << Dbl(1.5);
  QTest::newRow("number to text") << Variant::FromInt(7) << int(ftString)
                                  << Str(QStringLiteral("7"));
  QTest::newRow("null stays null") << Variant::Null() << int(ftInteger) << Variant::Null();
  QTest::newRow("no number") << Str(QStringLiteral("abc")) << int(ftInteger) << Variant();
}

void TestDataPacket::coerceToFieldType() {
  QFETCH(Variant, value);
  QFETCH(int, type);
  QFETCH(Variant, expected);
  const TFieldDef def = Field(QStringLiteral("F"), static_cast<TFieldType>(type));
  if (expected.IsEmpty()) {
    QVERIFY_THROWS_EXCEPTION(ENompackError, CoerceToFieldType(value, def));
  } else {
    QCOMPARE(CoerceToFieldType(value, def), expected);
  }
}

QTEST_GUILESS_MAIN(TestDataPacket)
