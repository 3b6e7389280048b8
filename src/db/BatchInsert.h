#pragma once

#include <QHash>
#include <QStringList>
#include <functional>
#include <memory>

#include "Connection.h"

// A batch insert built from one statement per number of rows: the server
// layer prepares n rows as one statement, this keeps it for each size asked
// for and binds the rows' parameters one after the other. The markers of
// every row are named as the columns, so that the parameters of the rows
// laid end to end meet them in order.
class TBatchInsert final : public IBatchInsert {
 public:
  using TPrepareRows = std::function<std::unique_ptr<IStatement>(int rows)>;

  TBatchInsert(const QStringList& columns, int maxRows, TPrepareRows prepareRows);

  int MaxBatchRows() const override { return FMaxRows; }
  void ExecuteBatch(const QVector<TParams>& rows) override;

 private:
  QStringList FColumns;
  int FMaxRows;
  TPrepareRows FPrepareRows;
  // A table's rows come in full batches and one shorter last one.
  QHash<int, std::shared_ptr<IStatement>> FStatements;
  TParams FAll;
};

// Throws unless `name` can stand unquoted in a statement and as a parameter
// name: letters, digits, "_" and "$", not starting with a digit or "$".
void RequireBatchIdentifier(const QString& name);
