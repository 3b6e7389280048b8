#pragma once

#include <memory>

#include "Connection.h"

class TODBCStatement;

// A forward-only result read row by row with SQLFetch; the driver keeps
// whatever it buffers, the rows are not gathered here.
class TODBCCursor final : public ICursor {
 public:
  TODBCCursor(std::unique_ptr<TODBCStatement> statement, const TParams& params);
  ~TODBCCursor() override;

  const QVector<TFieldDef>& FieldDefs() const override { return FDefs; }
  bool Next(QVector<Variant>& values) override;
  void Close() override;

 private:
  std::unique_ptr<TODBCStatement> FStatement;
  QVector<TFieldDef> FDefs;
  bool FOpen = false;
};
