#pragma once

#include <memory>

#include "Connection.h"

class TFBStatement;

// The rows of a statement fetched as they are asked for. The client library
// takes them from the server in buffers of many rows.
class TFBCursor final : public ICursor {
 public:
  TFBCursor(std::unique_ptr<TFBStatement> statement, const TParams& params);
  ~TFBCursor() override;

  const QVector<TFieldDef>& FieldDefs() const override { return FDefs; }
  bool Next(QVector<Variant>& values) override;
  void Close() override;

 private:
  std::unique_ptr<TFBStatement> FStatement;
  QVector<TFieldDef> FDefs;
  bool FOpen = false;
};
