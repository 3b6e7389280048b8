#include "RowLoader.h"

#include <deque>

#include "AppMiscFiles.h"
#include "AppView.h"
#include "BatchSender.h"
#include "ClientDataSet.h"
#include "ColumnLimits.h"
#include "DataModule.h"
#include "Identifiers.h"
#include "LoadTarget.h"
#include "NamedParams.h"
#include "NompackError.h"
#include "Query.h"

namespace {

// A batch is one statement, and a server takes statements up to a size of
// its own (MySQL's max_allowed_packet: 1 MiB on older servers, 16 MiB by
// default now). Memo values run to tens of kilobytes, so a batch is also
// cut when its values reach this size; rows of ordinary size never reach it.
constexpr qsizetype kMaxBatchValueBytes = 512 * 1024;

// What a value adds to the statement, at most: a Cyrillic character takes
// two bytes in UTF-8.
qsizetype ValueBytes(const Variant& value) {
  switch (value.VarType()) {
    case Variant::Type::String:
      return value.StringRef().size() * 2;
    case Variant::Type::Bytes:
      return value.BytesRef().size();
    default:
      return 8;
  }
}

const QString kPharmId = QStringLiteral("PHARM_ID");
const QString kTableCaptionPrefix = QStringLiteral("Зареждане на данни за таблица ");

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

QString TRowLoader::ProgressCaption(const QString& table) {
  return kTableCaptionPrefix + table;
}

QString TRowLoader::ProgressCaptionTable(const QString& caption) {
  return caption.startsWith(kTableCaptionPrefix) ? caption.mid(kTableCaptionPrefix.size())
                                                 : QString();
}

void TRowLoader::LoadRows(TLoadTarget& target, const QString& packetFolder, QStringList& chunkFiles,
                          const QString& table, int knownTotalRows, bool hasPharmId) {
  SortChunkFiles(chunkFiles);
  FTableLoads.append({table, 0, 0, 0});
  const int totalRows =
      knownTotalRows >= 0 ? knownTotalRows : CountChunkRows(packetFolder, chunkFiles);
  const auto statement = target.CreateStatement();
  const QString caption = ProgressCaption(table);
  TClientDataSet chunk;
  int rowsDone = 0;
  bool columnsReconciled = false;
  bool limitsRead = false;
  TColumnLimits limits;
  QVector<TFieldDef> shapeFields;
  TInsertShape shape;
  TChunkLimits chunkLimits;
  std::unique_ptr<IBatchInsert> batch;
  int batchRows = 1;
  QVector<TPendingRow> pending;
  qsizetype pendingBytes = 0;
  // The batches with the sender (the server stores one while the next waits
  // and a third is read and bound): their rows, for the log and a replay,
  // and the values they send. Declared before the sender, which may still
  // read them until it is gone.
  struct TOutstanding {
    QVector<TPendingRow> Rows;
    QVector<TParams> Sending;
    bool Sent = false;
  };
  std::deque<TOutstanding> outstanding;
  TBatchSender sender;

  // Waits for the oldest batch with the sender. A batch the server refuses
  // has stored nothing: its rows are sent again one by one, so that exactly
  // the refused ones are left out, before the batches after it go. Lines go
  // to the log in packet order, the pre-checked refusals among them.
  const auto completeOldest = [&] {
    if (outstanding.empty()) return;
    TOutstanding& oldest = outstanding.front();
    bool stored = oldest.Sending.isEmpty();
    bool held = false;
    std::exception_ptr failure;
    if (oldest.Sent) {
      failure = sender.Wait();
      held = failure != nullptr;
    }
    // Taken before anything can throw: a batch is completed once, also when
    // completing it fails.
    const TOutstanding done = std::move(oldest);
    outstanding.pop_front();
    if (done.Sent) {
      try {
        if (failure) std::rethrow_exception(failure);
        stored = true;
        FTableLoads.last().Loaded += done.Sending.size();
      } catch (const ENompackError& e) {
        // A lock, a deadlock or a lost connection is no refusal: the
        // transaction the rows were to join is over.
        target.CheckRowFailure(table, e);
        if (!IsRefusal(e)) throw;
      }
    }
    for (const TPendingRow& row : done.Rows) {
      if (!row.Refusal.isEmpty())
        LogRefusedRow(row.Refusal, table, row.Values);
      else if (!stored && InsertRow(target, *statement, shape, row, table))
        ++FTableLoads.last().Loaded;
    }
    if (held) sender.Resume();
    rowsDone += done.Rows.size();
    FView.ShowInstallProgress(caption, rowsDone, totalRows);
    ThrowIfStopRequested(FView);
  };
  const auto completeAll = [&] {
    while (!outstanding.empty()) completeOldest();
  };
  // Hands the rows waiting to the sender, behind the batch in flight; rows
  // no batch takes wait for `completeOldest` to go one by one.
  const auto send = [&] {
    if (pending.isEmpty()) return;
    if (static_cast<int>(outstanding.size()) >= TBatchSender::kMaxOutstanding) completeOldest();
    pendingBytes = 0;
    outstanding.emplace_back();
    TOutstanding& next = outstanding.back();
    next.Rows.swap(pending);
    pending.clear();
    for (const TPendingRow& row : next.Rows)
      if (row.Refusal.isEmpty()) next.Sending.append(row.Params);
    if (!next.Sending.isEmpty() && batch) {
      sender.Start(*batch, next.Sending);
      next.Sent = true;
    }
  };
  // Everything waiting stored (or refused) before the connection is used
  // otherwise: a new statement, a column added, the table's end.
  const auto flush = [&] {
    send();
    completeAll();
  };

  try {
    for (const QString& file : chunkFiles) {
      chunk.Close();
      chunk.LoadFromFile(packetFolder + file);
      const int rowCount = chunk.RecordCount();
      FTableLoads.last().RowsRead += rowCount;
      if (rowCount == 0) continue;
      for (const TFieldDef& def : chunk.FieldDefs()) RequirePlainColumnName(table, def.Name);
      // Rows of the previous shape go before its statements are replaced (and
      // before a column is added for this chunk).
      if (!shape.Sql.isEmpty() && chunk.FieldDefs() != shapeFields) flush();
      // The table's first rows are read before its columns and limits are
      // (the catalogue is only read then, and no batch is in flight yet).
      if (!limitsRead) flush();
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
        shape.Columns = columns;
        shape.ColumnParams.clear();
        shape.StatementParams.clear();
        QVector<bool> loaded;
        for (const TFieldDef& def : shapeFields) {
          shape.ColumnParams.append(leftOut(def) ? -1 : shape.Columns.indexOf(def.Name));
          loaded.append(!leftOut(def));
        }
        chunkLimits = TChunkLimits(limits, shapeFields, loaded);
        shape.PharmIdParam = hasPharmId ? columns.size() - 1 : -1;
        for (const QString& column : columns)
          shape.StatementParams.append(FindParam(statement->Params(), column));
        // Rows go one by one where no batch can be made of these columns (the
        // statement of each row then says why); a batch is only the faster way.
        batch.reset();
        batchRows = 1;
        if (!columns.isEmpty()) {
          try {
            batch = target.CreateBatchInsert(table, columns);
            batchRows = batch->MaxBatchRows();
          } catch (const ENompackError& e) {
            if (e.ErrorKind() == ENompackError::Kind::Conversion) throw;
          }
        }
      }

      const QVector<QVector<Variant>>& rows = chunk.Rows();
      for (int r = 0; r < rowCount; ++r) {
        const QVector<Variant>& values = rows[r];
        TPendingRow row;
        row.Values = values;
        row.Refusal = chunkLimits.RowRefusal(values);
        row.Params.resize(shape.Columns.size());
        for (int c = 0; c < shapeFields.size(); ++c) {
          const int p = shape.ColumnParams[c];
          if (p < 0) continue;
          row.Params[p].Name = shape.Columns[p];
          target.Bind(row.Params[p], shapeFields[c].DataType, values[c]);
        }
        if (shape.PharmIdParam >= 0) {
          TParam& pharmId = row.Params[shape.PharmIdParam];
          pharmId.Name = kPharmId;
          pharmId.DataType = ftInteger;
          pharmId.Value = Variant::FromInt(0);
        }
        if (!row.Refusal.isEmpty()) row.Params.clear();
        for (const TParam& param : row.Params) pendingBytes += ValueBytes(param.Value);
        pending.append(std::move(row));
        if (pending.size() >= batchRows || pendingBytes >= kMaxBatchValueBytes) send();
      }
    }
    flush();
  } catch (...) {
    // The batches with the sender were sent before whatever failed here,
    // and are completed as they would have been: their refused rows logged,
    // their progress shown, and a failure of their own the one that travels
    // on. A sender held back by a batch whose own completion failed (a lost
    // connection, a lock) sends nothing more: the transaction is over.
    if (!sender.Held()) completeAll();
    throw;
  }
}

bool TRowLoader::IsRefusal(const ENompackError& e) {
  return e.ErrorKind() == ENompackError::Kind::Server ||
         e.ErrorKind() == ENompackError::Kind::Database;
}

bool TRowLoader::InsertRow(TLoadTarget& target, TQuery& statement, const TInsertShape& shape,
                           const TPendingRow& row, const QString& table) {
  TParams& params = statement.Params();
  for (int i = 0; i < shape.StatementParams.size(); ++i) {
    TParam& param = params[shape.StatementParams[i]];
    param.DataType = row.Params[i].DataType;
    param.Value = row.Params[i].Value;
  }
  try {
    statement.ExecSQL();
    return true;
  } catch (const ENompackError& e) {
    // A value that does not convert to the type it is bound as is no
    // refusal by the database: it stops the loader.
    if (e.ErrorKind() == ENompackError::Kind::Conversion) throw;
    // Nor is a lock, a deadlock or a lost connection.
    target.CheckRowFailure(table, e);
    // A failed statement has undone itself; the rows before it stay in the
    // transaction.
    LogRefusedRow(e.Message(), table, row.Values);
  }
  return false;
}

QString TRowLoader::RefusedRowLine(const QString& message, const QString& table,
                                   const QVector<Variant>& values) {
  QString line = message + QStringLiteral(" table: ") + table + QStringLiteral("> ");
  for (const Variant& value : values) {
    line += value.ToString();
    line += QLatin1Char(' ');
  }
  return line;
}

void TRowLoader::LogRefusedRow(const QString& message, const QString& table,
                               const QVector<Variant>& values) {
  ++FRefusedRows;
  if (!FTableLoads.isEmpty()) ++FTableLoads.last().Refused;
  FView.AppendLog(RefusedRowLine(message, table, values));
}
