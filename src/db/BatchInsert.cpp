#include "BatchInsert.h"

#include "NamedParams.h"
#include "NompackError.h"

void RequireBatchIdentifier(const QString& name) {
  bool ok = !name.isEmpty() && !name.front().isDigit() && name.front() != QLatin1Char('$');
  for (const QChar c : name) {
    ok = ok && c.unicode() < 128 &&
         (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$'));
  }
  if (!ok)
    throw ENompackError(QStringLiteral("'%1' is no plain name for a batch insert").arg(name),
                        ENompackError::Kind::Assertion);
}

TBatchInsert::TBatchInsert(const QStringList& columns, int maxRows, TPrepareRows prepareRows)
    : FColumns(columns), FMaxRows(qMax(maxRows, 1)), FPrepareRows(std::move(prepareRows)) {
  if (columns.isEmpty())
    throw ENompackError(QStringLiteral("A batch insert needs at least one column"),
                        ENompackError::Kind::Assertion);
  for (const QString& c : columns) RequireBatchIdentifier(c);
}

void TBatchInsert::ExecuteBatch(const QVector<TParams>& rows) {
  if (rows.isEmpty()) return;
  if (rows.size() > FMaxRows)
    throw ENompackError(
        QStringLiteral("A batch of %1 rows where at most %2 fit").arg(rows.size()).arg(FMaxRows),
        ENompackError::Kind::Assertion);
  // A row out of column order would bind its values to another row's
  // markers: the statement matches names by position first and then by the
  // first parameter of that name anywhere.
  const int columns = FColumns.size();
  FAll.clear();
  FAll.reserve(rows.size() * columns);
  for (int r = 0; r < rows.size(); ++r) {
    const TParams& row = rows[r];
    bool ok = row.size() == columns;
    for (int c = 0; ok && c < columns; ++c) ok = SameParamName(row[c].Name, FColumns[c]);
    if (!ok)
      throw ENompackError(
          QStringLiteral("Row %1 of the batch does not hold the columns %2 in order")
              .arg(r + 1)
              .arg(FColumns.join(QStringLiteral(", "))),
          ENompackError::Kind::Assertion);
    FAll.append(row);
  }
  // Sizes other than the full batch and the table's last one are rare (a
  // caller replaying odd pieces); they need not stay prepared.
  if (!FStatements.contains(rows.size()) && FStatements.size() >= 4) {
    for (auto it = FStatements.begin(); it != FStatements.end();)
      it = it.key() == FMaxRows ? std::next(it) : FStatements.erase(it);
  }
  auto& statement = FStatements[rows.size()];
  if (!statement) statement = FPrepareRows(rows.size());
  statement->Execute(FAll);
}
