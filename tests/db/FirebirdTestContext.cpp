#include <QCoreApplication>
#include <QFile>

#include "Connections.h"
#include "DbTestContext.h"
#include "NompackError.h"

namespace {

const QStringList kDpb = {QStringLiteral("user_name=sysdba"), QStringLiteral("password=pondglass"),
                          QStringLiteral("lc_ctype=WIN1251")};
const QStringList kTpb = {QStringLiteral("read_committed"), QStringLiteral("rec_version"),
                          QStringLiteral("wait")};

class FirebirdTestContext : public DbTestContext {
 public:
  QString ServerName() const override { return QStringLiteral("Firebird 127.0.0.1:3050"); }

  std::unique_ptr<IConnection> Connect(QString& whyNot) override {
    const QString file =
        QStringLiteral("/tmp/nompack-fb/dbtest-%1.fdb").arg(QCoreApplication::applicationPid());
    FDatabase = QStringLiteral("127.0.0.1:") + file;
    try {
      if (QFile::exists(file)) DropFirebirdDatabase(FDatabase, kDpb);
      CreateFirebirdDatabase(FDatabase, kDpb, QStringLiteral("WIN1251"));
      return ConnectAgain();
    } catch (const ENompackError& e) {
      whyNot = e.Message();
      FDatabase.clear();
      return nullptr;
    }
  }

  std::unique_ptr<IConnection> ConnectAgain() override {
    auto con = OpenFirebird(FDatabase, kDpb, kTpb);
    con->StartTransaction();
    return con;
  }

  void DropDatabase() override {
    if (!FDatabase.isEmpty()) DropFirebirdDatabase(FDatabase, kDpb);
  }

  QVector<TTestColumn> Columns() const override {
    return {
        Col(QStringLiteral("I"), QStringLiteral("INTEGER"), ftInteger),
        Col(QStringLiteral("SI"), QStringLiteral("SMALLINT"), ftSmallint),
        Col(QStringLiteral("BI"), QStringLiteral("BIGINT"), ftLargeint),
        Col(QStringLiteral("V"), QStringLiteral("VARCHAR(40)"), ftString, 40),
        Col(QStringLiteral("C"), QStringLiteral("CHAR(5)"), ftFixedChar, 5),
        Col(QStringLiteral("N"), QStringLiteral("NUMERIC(15,2)"), ftBCD, 2, 15),
        Col(QStringLiteral("N4"), QStringLiteral("NUMERIC(4,2)"), ftBCD, 2, 4),
        Col(QStringLiteral("N9"), QStringLiteral("DECIMAL(9,3)"), ftBCD, 3, 9),
        Col(QStringLiteral("F"), QStringLiteral("DOUBLE PRECISION"), ftFloat),
        Col(QStringLiteral("D"), QStringLiteral("DATE"), ftDate),
        Col(QStringLiteral("DT"), QStringLiteral("TIMESTAMP"), ftDateTime),
        Col(QStringLiteral("TM"), QStringLiteral("TIME"), ftTime),
        Col(QStringLiteral("M"), QStringLiteral("BLOB SUB_TYPE TEXT"), ftMemo),
        Col(QStringLiteral("B"), QStringLiteral("BLOB SUB_TYPE BINARY"), ftBlob),
        Col(QStringLiteral("BO"), QStringLiteral("BOOLEAN"), ftBoolean),
        Col(QStringLiteral("VB"), QStringLiteral("VARCHAR(16) CHARACTER SET OCTETS"), ftVarBytes,
            16),
    };
  }

  // CHAR values come back padded to their length.
  Variant ExpectedValue(const TTestColumn& column, const Variant& inserted) const override {
    if (column.Name == QLatin1String("C") && !inserted.IsNull())
      return Variant::FromString(
          inserted.ToString().leftJustified(column.Expected.Size, QLatin1Char(' ')));
    return DbTestContext::ExpectedValue(column, inserted);
  }

 private:
  QString FDatabase;
};

}  // namespace

std::unique_ptr<DbTestContext> MakeDbTestContext() {
  return std::make_unique<FirebirdTestContext>();
}
