#include "ClientDataSet.h"
#include "Connection.h"

std::unique_ptr<TClientDataSet> ICursor::FetchDataSet(int maxRows) {
  auto ds = std::make_unique<TClientDataSet>();
  for (const TFieldDef& def : FieldDefs()) ds->AddFieldDef(def);
  auto& rows = ds->MutableRows();
  rows.reserve(qMax(maxRows, 0));
  QVector<Variant> values;
  while (rows.size() < maxRows && Next(values)) rows.append(std::move(values));
  ds->Open();
  return ds;
}
