#pragma once

#include <ibase.h>

#include <QHash>
#include <set>

#include "Connection.h"

class TFBStatement;

// The session's character set: what text parameters are encoded in and
// text values decoded from.
struct TFBCodec {
  bool Utf8 = false;
  int BytesPerChar = 1;
  // As the attachment named it, in upper case; empty for none (NONE).
  QString Charset;

  QByteArray Encode(const QString& paramName, const QString& text) const;
  QByteArray EncodeSql(const QString& sql) const;
  QString Decode(const char* data, qsizetype size) const;
};

// One Firebird attachment with at most one transaction, which every statement
// of the attachment runs in.
class TFBConnection final : public IConnection {
 public:
  TFBConnection(const QString& database, const QStringList& dpbLines, const QStringList& tpbLines);
  ~TFBConnection() override;

  bool IsConnected() const override { return FDb != 0; }
  // Rolls back a transaction still active, then detaches.
  void Close() override;

  void Execute(const QString& sql, const TParams& params = {}) override;
  std::unique_ptr<TClientDataSet> Open(const QString& sql, const TParams& params = {}) override;
  std::unique_ptr<IStatement> Prepare(const QString& sql) override;
  // In the read snapshot when one is active, else in the main transaction.
  std::unique_ptr<ICursor> OpenCursor(const QString& sql, const TParams& params = {}) override;

  bool BeginReadSnapshot() override;
  void EndReadSnapshot() override;
  bool InReadSnapshot() const override { return FSnapshotTr != 0; }

  std::unique_ptr<IBatchInsert> PrepareBatchInsert(const QString& table, const QStringList& columns,
                                                   int maxRows) override;

  QVector<TableEntry> Tables() override;
  QStringList ColumnNames(const QString& table) override;

  bool SupportsTransactions() const override { return true; }
  bool InTransaction() const override { return FTr != 0; }
  void StartTransaction() override;
  void Commit() override;
  void CommitRetaining() override;
  void RollbackRetaining() override;

  // For the statements of this attachment.
  isc_db_handle* DbHandle();
  isc_tr_handle* TrHandle();        // throws when no transaction is active
  isc_tr_handle* SnapshotHandle();  // throws when no read snapshot is active
  const TFBCodec& Codec() const { return FCodec; }
  // The declared precision of a NUMERIC/DECIMAL column, from the catalogue;
  // `fallback` for expressions and unknown columns.
  int DeclaredPrecision(const QString& relation, const QString& field, int fallback);
  // The character set name of a text column, from the catalogue; empty for
  // expressions and unknown columns.
  QString DeclaredCharset(const QString& relation, const QString& field);
  void ForgetCatalogue() {
    FPrecisions.clear();
    FCharsets.clear();
  }
  void Attach(TFBStatement* s) { FStatements.insert(s); }
  void Detach(TFBStatement* s) { FStatements.erase(s); }

 private:
  isc_db_handle FDb = 0;
  isc_tr_handle FTr = 0;
  isc_tr_handle FSnapshotTr = 0;
  QByteArray FTpb;
  TFBCodec FCodec;
  QHash<QString, int> FPrecisions;
  QHash<QString, QString> FCharsets;
  std::set<TFBStatement*> FStatements;
};

// Throws the error of a status vector: Kind::Server with the client
// library's text (the lines of fb_interpret joined by line breaks), the
// gdscode as native code and the SQLCODE as context.
[[noreturn]] void ThrowFBError(const ISC_STATUS* status, const TFBCodec& codec);
// Throws when the status vector holds an error.
inline void CheckFB(const ISC_STATUS* status, const TFBCodec& codec) {
  if (status[0] == 1 && status[1] != 0) ThrowFBError(status, codec);
}

// The attachment parameters (DPB) of "name=value" lines.
QByteArray BuildFBDpb(const QStringList& lines, TFBCodec* codec);
