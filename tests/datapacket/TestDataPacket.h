#pragma once

#include <QObject>
#include <QtTest>

#include "ClientDataSet.h"

Q_DECLARE_METATYPE(TFieldDef)
Q_DECLARE_METATYPE(Variant)
Q_DECLARE_METATYPE(TDataPacketFormat)

// QtTest prints these when a comparison fails.
char* toString(const Variant& value);
char* toString(const TFieldDef& def);

// A dataset of the given fields and rows, as the export builds one.
TClientDataSet MakeDataSet(const QVector<TFieldDef>& fields, const QVector<QVector<Variant>>& rows);
TFieldDef Field(const QString& name, TFieldType type, int size = 0, int precision = 0);
// Saves and loads back through a file of the given format.
TClientDataSet RoundTrip(const TClientDataSet& source, TDataPacketFormat format);
// The message of the ENompackError that loading `data` throws ("" when none).
QString LoadError(const QByteArray& data, const QString& sourceName,
                  TClientDataSet* dataSet = nullptr);
// A one-field packet around one ROW attribute value, written by hand.
QByteArray PacketWith(const QByteArray& fieldAttrs, const QByteArray& rowAttrs);

class TestDataPacket : public QObject {
  Q_OBJECT

 private slots:
  // Round trips (TestDataPacket.cpp)
  void roundTripEveryType_data();
  void roundTripEveryType();
  void nullAndEmptyText();
  void cyrillicText_data();
  void cyrillicText();
  void rewrittenInUtf8LoadsIdentical();
  void editedRowsSurviveSave();
  void manyRows();
  void coerceToFieldType_data();
  void coerceToFieldType();

  // Writer (TestDataPacketWriter.cpp)
  void exampleFileBytes();
  void valueSpellings_data();
  void valueSpellings();
  void escapedText_data();
  void escapedText();
  void wideStringReferences();
  void unencodableTextInSingleByte();
  void binaryAllBytes();
  void fieldNamesReplaced();
  void writeRefusals_data();
  void writeRefusals();
  void saveToFileRefusesReadOnlyFile_data();
  void saveToFileRefusesReadOnlyFile();
  void savedFileReplacesOldOne_data();
  void savedFileReplacesOldOne();

  // Reader (TestDataPacketReader.cpp)
  void readExampleFile();
  void readQuirks_data();
  void readQuirks();
  void readEncodingDetection();
  void readFieldDefinitions_data();
  void readFieldDefinitions();
  void readChangeLog();
  void brokenFiles_data();
  void brokenFiles();
  void truncatedAtEveryByte();
  void corruptedBytesNeverCrash();

  // Files of other programs (TestDataPacketForeignFiles.cpp)
  void changeLogOrder_data();
  void changeLogOrder();
  void declaredEncodings_data();
  void declaredEncodings();
  void encodingRefusals_data();
  void encodingRefusals();
  void generatorCyrillicStaysSingleByte_data();
  void generatorCyrillicStaysSingleByte();
};
