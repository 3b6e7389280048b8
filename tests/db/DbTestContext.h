#pragma once

#include <QString>
#include <QVector>
#include <memory>

#include "ClientDataSet.h"
#include "Connection.h"

// One column of the all-types test table: its key, its type in the server's
// DDL, the field definition a query must report for it and the field type
// its parameters are declared with.
struct TTestColumn {
  QString Name;
  QString SqlType;
  TFieldDef Expected;
  TFieldType BindAs = ftUnknown;
  QString ValueOf;  // the test rows' value key when it is not the name
};

inline TTestColumn Col(const QString& name, const QString& sqlType, TFieldType expected,
                       int size = 0, int precision = 0, TFieldType bindAs = ftUnknown,
                       const QString& valueOf = QString()) {
  TTestColumn c;
  c.Name = name;
  c.SqlType = sqlType;
  c.Expected.Name = name;
  c.Expected.DataType = expected;
  c.Expected.Size = size;
  c.Expected.Precision = precision;
  c.BindAs = bindAs == ftUnknown ? expected : bindAs;
  c.ValueOf = valueOf.isEmpty() ? name : valueOf;
  return c;
}

// What the database test suite needs to know of one server: how to reach a
// scratch database, the DDL of each mapped type and the server's quirks.
class DbTestContext {
 public:
  virtual ~DbTestContext() = default;

  virtual QString ServerName() const = 0;
  // A session on a fresh scratch database; nullptr with the reason when the
  // server cannot be reached.
  virtual std::unique_ptr<IConnection> Connect(QString& whyNot) = 0;
  // Another session on the same database (after a successful Connect).
  virtual std::unique_ptr<IConnection> ConnectAgain() = 0;
  virtual void DropDatabase() = 0;

  virtual QVector<TTestColumn> Columns() const = 0;
  virtual QString IdType() const { return QStringLiteral("INTEGER NOT NULL PRIMARY KEY"); }
  virtual QString TableSuffix() const { return QString(); }

  // The value a column reads back as after `inserted` was stored.
  virtual Variant ExpectedValue(const TTestColumn& column, const Variant& inserted) const {
    return CoerceToFieldType(inserted, column.Expected);
  }
  // Text parameters travel in Windows-1251 (MySQL, Firebird) rather than UTF-16.
  virtual bool TextIsCp1251() const { return true; }
};

// Defined once per test program: the server it runs against.
std::unique_ptr<DbTestContext> MakeDbTestContext();
