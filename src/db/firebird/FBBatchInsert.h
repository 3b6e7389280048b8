#pragma once

#include <QStringList>
#include <QVector>
#include <memory>

#include "Connection.h"

class TBatchInsert;

// The batch insert of a Firebird table whose memo values mostly go with the
// rows. Each memo column has a second parameter in the block, a VARCHAR of
// the column's character set that the insert stores when the blob parameter
// is NULL: a value of up to `ShortMemoLength` characters (bytes for binary
// memos) goes there, and only a longer one is written as a blob first, at
// three round trips of its own (create, write, close) before the batch.
class TFBBatchInsert final : public IBatchInsert {
 public:
  static constexpr int ShortMemoLength = 8000;
  static QString ShortParamName(const QString& column) { return column + QStringLiteral("$S"); }

  // `memos` holds, per column, whether its values may go as a short value:
  // the markers of `inner` are the columns, each memo column followed by
  // its short value.
  TFBBatchInsert(const QStringList& columns, const QVector<bool>& memos,
                 std::unique_ptr<TBatchInsert> inner);
  ~TFBBatchInsert() override;

  int MaxBatchRows() const override;
  void ExecuteBatch(const QVector<TParams>& rows) override;

 private:
  QStringList FColumns;
  QVector<bool> FMemos;
  std::unique_ptr<TBatchInsert> FInner;
  QVector<TParams> FRows;
};
