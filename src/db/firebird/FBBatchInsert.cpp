#include "FBBatchInsert.h"

#include "BatchInsert.h"

namespace {

// Whether a memo value fits the short parameter: characters of text (the
// server's count of code points is at most the UTF-16 length), bytes of a
// binary value.
bool IsShort(const Variant& value) {
  switch (value.VarType()) {
    case Variant::Type::String:
      return value.StringRef().size() <= TFBBatchInsert::ShortMemoLength;
    case Variant::Type::Bytes:
      return value.BytesRef().size() <= TFBBatchInsert::ShortMemoLength;
    default:
      return false;
  }
}

}  // namespace

TFBBatchInsert::TFBBatchInsert(const QStringList& columns, const QVector<bool>& memos,
                               std::unique_ptr<TBatchInsert> inner)
    : FColumns(columns), FMemos(memos), FInner(std::move(inner)) {}

TFBBatchInsert::~TFBBatchInsert() = default;

int TFBBatchInsert::MaxBatchRows() const {
  return FInner->MaxBatchRows();
}

void TFBBatchInsert::ExecuteBatch(const QVector<TParams>& rows) {
  FRows.resize(rows.size());
  for (int r = 0; r < rows.size(); ++r) {
    const TParams& row = rows[r];
    TParams& sent = FRows[r];
    // A row of other columns goes as it is: the inner batch refuses it.
    if (row.size() != FColumns.size()) {
      sent = row;
      continue;
    }
    sent.clear();
    for (int c = 0; c < row.size(); ++c) {
      const TParam& param = row[c];
      if (!FMemos[c]) {
        sent.append(param);
        continue;
      }
      const bool isShort = IsShort(param.Value);
      sent.append({param.Name, param.DataType, isShort ? Variant::Null() : param.Value});
      sent.append(
          {ShortParamName(param.Name), param.DataType, isShort ? param.Value : Variant::Null()});
    }
  }
  FInner->ExecuteBatch(FRows);
}
