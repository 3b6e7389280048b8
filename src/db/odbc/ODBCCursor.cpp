#include "ODBCCursor.h"

#include "ODBCStatement.h"

TODBCCursor::TODBCCursor(std::unique_ptr<TODBCStatement> statement, const TParams& params)
    : FStatement(std::move(statement)) {
  FOpen = FStatement->OpenRows(params);
  if (FOpen)
    for (const TODBCColumn& col : FStatement->Columns()) FDefs.append(col.Def);
}

TODBCCursor::~TODBCCursor() = default;

bool TODBCCursor::Next(QVector<Variant>& values) {
  if (!FOpen) return false;
  if (FStatement->NextRow(values)) return true;
  Close();
  return false;
}

void TODBCCursor::Close() {
  FOpen = false;
  if (FStatement) FStatement->CloseCursor();
}
