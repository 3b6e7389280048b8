#pragma once

#include <QString>
#include <QVector>

#include "FieldType.h"
#include "Variant.h"

// The chunk file formats: 1 writes text as raw Windows-1251 bytes, 2 as UTF-8.
enum class TDataPacketFormat { SingleByte = 1, Utf8 = 2 };

// An in-memory table: field definitions and rows, with a cursor. It holds one
// data packet (a chunk file) or the rows of one query.
class TClientDataSet {
 public:
  enum class State { Inactive, Browse, Edit, Insert };

  TClientDataSet() = default;

  // Definitions and rows -------------------------------------------------
  void Clear();  // no fields, no rows, inactive
  void AddFieldDef(const TFieldDef& def);
  const QVector<TFieldDef>& FieldDefs() const { return FFields; }
  int FieldCount() const { return FFields.size(); }
  const TFieldDef& FieldDef(int index) const { return FFields.at(index); }
  // Index of the field of that name, letter case ignored; -1 when missing.
  int FindField(const QString& name) const;
  // As FindField, but a missing field throws ENompackError "Field 'X' not found".
  int FieldIndex(const QString& name) const;

  // Appends a row (one value per field, Null for none) and makes it current.
  void AppendRow(QVector<Variant> values);
  const QVector<QVector<Variant>>& Rows() const { return FRows; }
  QVector<QVector<Variant>>& MutableRows() { return FRows; }

  // Cursor -----------------------------------------------------------------
  void Open();   // active, on the first row
  void Close();  // inactive; definitions and rows are dropped
  bool Active() const { return FState != State::Inactive; }
  State DataSetState() const { return FState; }
  void First();
  void Next();
  void Prior();
  void Last();
  bool Eof() const;  // past the last row (or no rows)
  bool Bof() const;
  bool IsEmpty() const { return FRows.isEmpty(); }
  int RecordCount() const { return FRows.size(); }
  int RecNo() const;         // 1-based number of the current row, 0 when empty
  void SetRecNo(int recNo);  // 1-based

  // Values of the current row ---------------------------------------------
  const Variant& Value(int field) const;
  const Variant& FieldByName(const QString& name) const { return Value(FieldIndex(name)); }

  // Editing: Edit puts the current row into edit state, SetValue changes the
  // pending row, Post stores it, Cancel drops it. Append adds an empty row in
  // insert state.
  void Edit();
  void Append();
  void SetValue(int field, const Variant& value);
  void Post();
  void Cancel();

  // Files (the chunk file format). Load throws ENompackError naming the file
  // and what is wrong; the dataset is left empty and inactive then.
  void LoadFromFile(const QString& fileName);
  void LoadFromBytes(const QByteArray& data, const QString& sourceName);
  void SaveToFile(const QString& fileName, TDataPacketFormat format) const;
  // As SaveToFile, for a file that is only a step on the way (a chunk file
  // that a generation packs and deletes right after): written in place and
  // not forced to the disk before it returns, since waiting for the disk
  // there costs more than the export itself. A failed write removes what it
  // wrote, so no half file is left behind. Returns the bytes written, so that
  // the caller can checksum the file without reading it back.
  QByteArray SaveToWorkFile(const QString& fileName, TDataPacketFormat format) const;
  // The writing half of SaveToWorkFile, for bytes made earlier (and
  // possibly on another thread: it touches no dataset).
  static void WriteWorkFile(const QString& fileName, const QByteArray& data);
  QByteArray SaveToBytes(TDataPacketFormat format) const;

 private:
  QVector<TFieldDef> FFields;
  QVector<QVector<Variant>> FRows;
  QVector<Variant> FPending;  // the row being edited or inserted
  int FCurrent = 0;           // 0-based index; == FRows.size() past the end
  bool FEof = true;
  bool FBof = true;
  State FState = State::Inactive;

  void CheckActive() const;
};

// The value a field of that type holds in a dataset, from a value of another
// type ("12" for an ftInteger field gives Int32 12). Null stays Null. Throws
// ENompackError (Conversion) when the value does not convert.
Variant CoerceToFieldType(const Variant& value, const TFieldDef& def);
