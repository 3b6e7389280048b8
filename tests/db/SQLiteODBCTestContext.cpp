#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "Connections.h"
#include "DbTestContext.h"
#include "NompackError.h"

namespace {

// The ODBC layer as the MSSQL connection uses it, through the SQLite driver:
// the SQLOLEDB string's Initial Catalog names the database file.
class SQLiteODBCTestContext : public DbTestContext {
 public:
  QString ServerName() const override {
    return QStringLiteral("SQLite through the ODBC driver \"SQLite3\"");
  }

  std::unique_ptr<IConnection> Connect(QString& whyNot) override {
    qputenv("NOMPACK_MSSQL_ODBC_DRIVER", "SQLite3");
    FFile = QDir::temp().filePath(
        QStringLiteral("nompack-dbtest-%1.sqlite").arg(QCoreApplication::applicationPid()));
    QFile::remove(FFile);
    try {
      return ConnectAgain();
    } catch (const ENompackError& e) {
      whyNot = e.Message();
      return nullptr;
    }
  }

  std::unique_ptr<IConnection> ConnectAgain() override {
    return OpenODBC(
        QStringLiteral("Provider=SQLOLEDB.1;Password=;Persist Security Info=True;User ID=sa;"
                       "Initial Catalog=%1;Data Source=127.0.0.1;Connect Timeout=120;"
                       "Application Name=Tarnwick")
            .arg(FFile));
  }

  void DropDatabase() override { QFile::remove(FFile); }

  // The driver reports types from the declared names: NUMERIC as DOUBLE,
  // CHAR as VARCHAR, BLOB as BINARY(255); LONGVARBINARY is its blob.
  QVector<TTestColumn> Columns() const override {
    return {
        Col(QStringLiteral("I"), QStringLiteral("INTEGER"), ftInteger),
        Col(QStringLiteral("SI"), QStringLiteral("SMALLINT"), ftSmallint),
        Col(QStringLiteral("TI"), QStringLiteral("TINYINT"), ftSmallint),
        Col(QStringLiteral("BI"), QStringLiteral("BIGINT"), ftLargeint),
        Col(QStringLiteral("V"), QStringLiteral("VARCHAR(40)"), ftString, 40),
        Col(QStringLiteral("C"), QStringLiteral("CHAR(5)"), ftString, 5, 0, ftFixedChar),
        Col(QStringLiteral("N"), QStringLiteral("NUMERIC(15,2)"), ftFloat, 0, 0, ftBCD),
        Col(QStringLiteral("N4"), QStringLiteral("NUMERIC(4,2)"), ftFloat, 0, 0, ftBCD),
        Col(QStringLiteral("F"), QStringLiteral("DOUBLE"), ftFloat),
        Col(QStringLiteral("D"), QStringLiteral("DATE"), ftDate),
        Col(QStringLiteral("DT"), QStringLiteral("TIMESTAMP"), ftDateTime),
        Col(QStringLiteral("TM"), QStringLiteral("TIME"), ftTime),
        Col(QStringLiteral("M"), QStringLiteral("TEXT"), ftMemo),
        Col(QStringLiteral("B"), QStringLiteral("LONGVARBINARY"), ftBlob),
        Col(QStringLiteral("BO"), QStringLiteral("BIT"), ftBoolean),
        Col(QStringLiteral("VB"), QStringLiteral("VARBINARY(16)"), ftVarBytes, 16),
    };
  }

  bool TextIsCp1251() const override { return false; }

  // The driver hands doubles over as text of 15 significant digits.
  Variant ExpectedValue(const TTestColumn& column, const Variant& inserted) const override {
    const Variant v = DbTestContext::ExpectedValue(column, inserted);
    if (v.VarType() != Variant::Type::Double) return v;
    return Variant::FromDouble(QString::number(v.ToDouble(), 'g', 15).toDouble());
  }

 private:
  QString FFile;
};

}  // namespace

std::unique_ptr<DbTestContext> MakeDbTestContext() {
  return std::make_unique<SQLiteODBCTestContext>();
}
