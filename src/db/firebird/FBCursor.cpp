#include "FBCursor.h"

#include "FBStatement.h"

TFBCursor::TFBCursor(std::unique_ptr<TFBStatement> statement, const TParams& params)
    : FStatement(std::move(statement)) {
  FOpen = FStatement->OpenRows(params);
  if (FOpen)
    for (const TFBColumn& col : FStatement->Columns()) FDefs.append(col.Def);
}

TFBCursor::~TFBCursor() = default;

bool TFBCursor::Next(QVector<Variant>& values) {
  if (!FOpen) return false;
  if (FStatement->NextRow(values)) return true;
  Close();
  return false;
}

void TFBCursor::Close() {
  FOpen = false;
  if (FStatement) FStatement->CloseCursor();
}
