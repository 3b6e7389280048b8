#include "RowLoader.h"

#include "AppMiscFiles.h"
#include "AppView.h"
#include "ClientDataSet.h"
#include "ColumnLimits.h"
#include "DataModule.h"
#include "Identifiers.h"
#include "LoadTarget.h"
#include "NamedParams.h"
#include "NompackError.h"
#include "Query.h"

namespace {

const QString kPharmId = QStringLiteral("PHARM_ID");

// The insert of one chunk shape and, for each chunk column, the parameter
// it binds (-1 for a column left out of the insert).
struct TInsertShape {
  QString Sql;
  QVector<int> ColumnParams;
  int PharmIdParam = -1;
};

}  // namespace

TRowLoader::TRowLoader(TDM& dm, IAppView& view) : FDM(dm), FView(view), FIdentity(dm) {}

void TRowLoader::LoadMySQLChunks(const QString& packetFolder, QStringList& chunkFiles,
                                 const QString& table, int knownTotalRows) {
  LoadChunks(*MakeLoadTarget(DataBaseType::MySQL, FDM, FView), packetFolder, chunkFiles, table,
             knownTotalRows);
}

void TRowLoader::LoadFBChunks(const QString& packetFolder, QStringList& chunkFiles,
                              const QString& table, int knownTotalRows) {
  LoadChunks(*MakeLoadTarget(DataBaseType::FireBird, FDM, FView), packetFolder, chunkFiles, table,
             knownTotalRows);
}

int TRowLoader::CountChunkRows(const QString& packetFolder, const QStringList& chunkFiles) {
  TClientDataSet chunk;
  int total = 0;
  for (const QString& file : chunkFiles) {
    chunk.Close();
    chunk.LoadFromFile(packetFolder + file);
    total += chunk.RecordCount();
  }
  return total;
}

bool TRowLoader::MySQLTableHasPharmId(const QString& table) {
  return ::MySQLTableHasPharmId(FDM, table);
}

void TRowLoader::BindFBParam(TQuery& statement, const QString& name, TFieldType type,
                             const Variant& value) {
  BindFBParam(statement.ParamByName(name), type, value);
}

void TRowLoader::BindFBParam(TParam& param, TFieldType type, const Variant& value) {
  if (value.IsNullOrEmpty()) {
    param.DataType = type;
    param.Value = Variant::Null();
    return;
  }
  switch (type) {
    case ftString:
    case ftWideString:
      param.DataType = ftString;
      param.Value =
          value.VarType() == Variant::Type::String ? value : Variant::FromString(value.ToString());
      return;
    case ftInteger:
    case ftAutoInc:
      param.DataType = ftInteger;
      break;
    // 64 bits: a 32-bit binding would refuse every value beyond 32 bits.
    case ftLargeint:
      param.DataType = ftLargeint;
      break;
    // The exact decimal: a four-decimal fixed point would round away the
    // digits of a column with more decimals.
    case ftBCD:
      param.DataType = ftBCD;
      break;
    default:
      // ftSmallint, ftWord, ftBoolean, ftFloat, ftCurrency, ftDate, ftTime
      // and ftDateTime as themselves; so the types the loader has no rule
      // for (memos and blobs, fixed text, time stamps, ...): the statement
      // converts them to what the column asks for.
      param.DataType = type;
      break;
  }
  param.Value = value;
}

void TRowLoader::LoadChunks(TLoadTarget& target, const QString& packetFolder,
                            QStringList& chunkFiles, const QString& table, int knownTotalRows) {
  // The name reaches SQL text unquoted (MySQL quotes it in the insert only).
  RequirePlainTableName(table);
  const bool hasIdentity = target.HasIdentity(table);
  try {
    if (hasIdentity) target.PrepareIdentity();
    const bool hasPharmId = target.HasPharmId(table);
    LoadRows(target, packetFolder, chunkFiles, table, knownTotalRows, hasPharmId);
  } catch (...) {
    // The counter follows what was loaded, also when loading stopped
    // half-way; the failure that stopped it is what travels on.
    if (hasIdentity) {
      try {
        target.ResetIdentity(table);
      } catch (...) {
      }
    }
    throw;
  }
  if (hasIdentity) target.ResetIdentity(table);
}

void TRowLoader::LoadRows(TLoadTarget& target, const QString& packetFolder, QStringList& chunkFiles,
                          const QString& table, int knownTotalRows, bool hasPharmId) {
  SortChunkFiles(chunkFiles);
  const int totalRows =
      knownTotalRows >= 0 ? knownTotalRows : CountChunkRows(packetFolder, chunkFiles);
  const auto statement = target.CreateStatement();
  const QString caption = QStringLiteral("Зареждане на данни за таблица %1").arg(table);
  TClientDataSet chunk;
  int rowsBefore = 0;
  bool columnsReconciled = false;
  bool limitsRead = false;
  TColumnLimits limits;
  QVector<TFieldDef> shapeFields;
  TInsertShape shape;
  QVector<const TColumnLimit*> columnLimits;

  for (const QString& file : chunkFiles) {
    chunk.Close();
    chunk.LoadFromFile(packetFolder + file);
    const int rowCount = chunk.RecordCount();
    if (rowCount == 0) continue;
    for (const TFieldDef& def : chunk.FieldDefs()) RequirePlainColumnName(table, def.Name);
    target.ReconcileColumns(table, chunk, columnsReconciled);
    if (!limitsRead) {
      limits = target.ReadLimits(table);
      limitsRead = true;
    }

    // The text depends only on the table and the chunk's columns: one
    // prepared statement serves every chunk of the same shape.
    if (shape.Sql.isEmpty() || chunk.FieldDefs() != shapeFields) {
      shapeFields = chunk.FieldDefs();
      const auto leftOut = [&](const TFieldDef& def) {
        return target.LeavesOut(def.Name, hasPharmId);
      };
      QStringList columns;
      for (const TFieldDef& def : shapeFields) {
        if (!leftOut(def)) columns.append(def.Name);
      }
      if (hasPharmId) columns.append(kPharmId);
      const QString columnList = columns.join(QStringLiteral(", "));
      const QString paramList =
          columns.isEmpty() ? QString() : QLatin1Char(':') + columns.join(QStringLiteral(", :"));
      shape.Sql = target.InsertStatement(table, columnList, paramList);
      statement->SetSQLText(shape.Sql);
      shape.ColumnParams.clear();
      columnLimits.clear();
      for (const TFieldDef& def : shapeFields) {
        shape.ColumnParams.append(leftOut(def) ? -1 : FindParam(statement->Params(), def.Name));
        columnLimits.append(limits.Find(def.Name));
      }
      shape.PharmIdParam = hasPharmId ? FindParam(statement->Params(), kPharmId) : -1;
    }

    TParams& params = statement->Params();
    const QVector<QVector<Variant>>& rows = chunk.Rows();
    for (int r = 0; r < rowCount; ++r) {
      FView.ShowInstallProgress(caption, rowsBefore + r + 1, totalRows);
      ThrowIfStopRequested(FView);
      statement->SetSQLText(shape.Sql);
      const QVector<Variant>& values = rows[r];
      QString refusal;
      for (int c = 0; c < shapeFields.size(); ++c) {
        const int p = shape.ColumnParams[c];
        if (p < 0) continue;
        if (refusal.isEmpty())
          refusal = TColumnLimits::Check(shapeFields[c].Name, columnLimits[c], values[c]);
        target.Bind(params[p], shapeFields[c].DataType, values[c]);
      }
      if (shape.PharmIdParam >= 0) {
        params[shape.PharmIdParam].DataType = ftInteger;
        params[shape.PharmIdParam].Value = Variant::FromInt(0);
      }
      if (!refusal.isEmpty()) {
        LogRefusedRow(refusal, table, chunk, r);
        continue;
      }
      try {
        statement->ExecSQL();
      } catch (const ENompackError& e) {
        // A value that does not convert to the type it is bound as is no
        // refusal by the database: it stops the loader.
        if (e.ErrorKind() == ENompackError::Kind::Conversion) throw;
        // Nor is a lock, a deadlock or a lost connection: the transaction
        // the row was to join is over.
        target.CheckRowFailure(table, e);
        // A failed FireBird statement has undone itself; the rows before
        // it stay in the transaction and are committed with the table.
        LogRefusedRow(e.Message(), table, chunk, r);
      }
    }
    rowsBefore += rowCount;
  }
}

void TRowLoader::LogRefusedRow(const QString& message, const QString& table,
                               const TClientDataSet& chunk, int row) {
  ++FRefusedRows;
  QString line = message + QStringLiteral(" table: ") + table + QStringLiteral("> ");
  for (const Variant& value : chunk.Rows()[row]) {
    line += value.ToString();
    line += QLatin1Char(' ');
  }
  FView.AppendLog(line);
}
