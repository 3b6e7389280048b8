#include <QCoreApplication>

#include "Connections.h"
#include "DbTestContext.h"
#include "NompackError.h"

namespace {

class MySQLTestContext : public DbTestContext {
 public:
  QString ServerName() const override { return QStringLiteral("MariaDB 127.0.0.1:3306"); }

  MySQLConnectParams Params(const QString& database) const {
    MySQLConnectParams p;
    p.Host = QStringLiteral("127.0.0.1");
    p.UserName = QStringLiteral("root");
    p.Database = database;
    return p;
  }

  std::unique_ptr<IConnection> Connect(QString& whyNot) override {
    FDatabase = QStringLiteral("nompack_dbtest_%1").arg(QCoreApplication::applicationPid());
    try {
      auto admin = OpenMySQL(Params(QString()));
      admin->Execute(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(FDatabase));
      admin->Execute(QStringLiteral("CREATE DATABASE %1 CHARACTER SET cp1251").arg(FDatabase));
      return ConnectAgain();
    } catch (const ENompackError& e) {
      whyNot = e.Message();
      return nullptr;
    }
  }

  std::unique_ptr<IConnection> ConnectAgain() override {
    auto con = OpenMySQL(Params(FDatabase));
    con->Execute(QStringLiteral("SET NAMES CP1251;"));
    con->Execute(QStringLiteral("SET CHARACTER SET CP1251;"));
    return con;
  }

  void DropDatabase() override {
    if (FDatabase.isEmpty()) return;
    OpenMySQL(Params(QString()))
        ->Execute(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(FDatabase));
  }

  QString TableSuffix() const override { return QStringLiteral(" DEFAULT CHARSET=cp1251"); }

  QVector<TTestColumn> Columns() const override {
    return {
        Col(QStringLiteral("I"), QStringLiteral("INT"), ftInteger),
        Col(QStringLiteral("SI"), QStringLiteral("SMALLINT"), ftSmallint),
        Col(QStringLiteral("TI"), QStringLiteral("TINYINT"), ftSmallint),
        Col(QStringLiteral("BI"), QStringLiteral("BIGINT"), ftLargeint),
        Col(QStringLiteral("V"), QStringLiteral("VARCHAR(40)"), ftString, 40),
        Col(QStringLiteral("C"), QStringLiteral("CHAR(5)"), ftFixedChar, 5),
        Col(QStringLiteral("N"), QStringLiteral("DECIMAL(15,2)"), ftBCD, 2, 15),
        Col(QStringLiteral("N4"), QStringLiteral("DECIMAL(4,2)"), ftBCD, 2, 4),
        Col(QStringLiteral("N9"), QStringLiteral("DECIMAL(9,3)"), ftBCD, 3, 9),
        Col(QStringLiteral("F"), QStringLiteral("DOUBLE"), ftFloat),
        Col(QStringLiteral("D"), QStringLiteral("DATE"), ftDate),
        Col(QStringLiteral("DT"), QStringLiteral("DATETIME(3)"), ftDateTime),
        Col(QStringLiteral("TM"), QStringLiteral("TIME(3)"), ftTime),
        Col(QStringLiteral("M"), QStringLiteral("MEDIUMTEXT"), ftMemo),
        Col(QStringLiteral("B"), QStringLiteral("MEDIUMBLOB"), ftBlob),
        Col(QStringLiteral("BO"), QStringLiteral("BIT(1)"), ftBoolean),
        Col(QStringLiteral("VB"), QStringLiteral("VARBINARY(16)"), ftVarBytes, 16),
    };
  }

 private:
  QString FDatabase;
};

}  // namespace

std::unique_ptr<DbTestContext> MakeDbTestContext() {
  return std::make_unique<MySQLTestContext>();
}
