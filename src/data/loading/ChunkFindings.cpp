#include "ChunkFindings.h"

#include <QFile>

#include "ClientDataSet.h"
#include "NompackError.h"
#include "PacketLayout.h"
#include "PacketManifest.h"

TChunkFinding TChunkFinding::OfBytes(const QByteArray& bytes, const QString& path) {
  TChunkFinding finding;
  try {
    finding.Checksum = BytesChecksum(bytes);
    TClientDataSet chunk;
    chunk.LoadFromBytes(bytes, path);
    finding.Rows = chunk.RecordCount();
    finding.Fields = chunk.FieldDefs();
  } catch (...) {
    finding.Failure = std::current_exception();
  }
  return finding;
}

TChunkFinding TChunkFinding::OfFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    // The message a dataset gives for a file it cannot open.
    TChunkFinding finding;
    finding.Failure = std::make_exception_ptr(
        ENompackError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()),
                      ENompackError::Kind::File));
    return finding;
  }
  return OfBytes(file.readAll(), path);
}

void TChunkFindings::Examine(const QString& name, const QString& path, const QByteArray& bytes) {
  if (name.compare(PacketLayout::kDescriptorFileName, Qt::CaseInsensitive) == 0 ||
      name == TPacketManifest::kFileName)
    return;
  TChunkFinding finding = TChunkFinding::OfBytes(bytes, path);
  if (finding.Fields == FLastFields)
    finding.Fields = FLastFields;
  else
    FLastFields = finding.Fields;
  FFindings.insert(name, std::move(finding));
}

const TChunkFinding* TChunkFindings::Find(const QString& name) const {
  const auto it = FFindings.constFind(name);
  return it == FFindings.cend() ? nullptr : &it.value();
}

void TChunkFindings::Clear() {
  FFindings.clear();
  FLastFields.clear();
}
