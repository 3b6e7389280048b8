#include "PacketManifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <memory>

#include <openssl/evp.h>

#include "NompackError.h"

namespace {

const QByteArray kLineEnd = QByteArrayLiteral("\r\n");

[[noreturn]] void FailLine(const QString& sourceName, int lineNo, const QString& what) {
  throw ENompackError(
      QStringLiteral("Файлът %1 е повреден (ред %2): %3.").arg(sourceName).arg(lineNo).arg(what),
      ENompackError::Kind::File);
}

bool IsHexChecksum(const QByteArray& text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// A decimal number without sign or leading zeros, as the writer puts it.
bool ParseCount(const QByteArray& text, int& value) {
  if (text.isEmpty() || (text.size() > 1 && text.startsWith('0'))) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  bool ok = false;
  value = text.toInt(&ok);
  return ok;
}

}  // namespace

const TManifestChunk* TPacketManifest::Find(const QString& fileName) const {
  for (const TManifestChunk& chunk : Chunks) {
    if (chunk.FileName == fileName) return &chunk;
  }
  return nullptr;
}

TManifestChunk* TPacketManifest::Find(const QString& fileName) {
  for (TManifestChunk& chunk : Chunks) {
    if (chunk.FileName == fileName) return &chunk;
  }
  return nullptr;
}

QStringList TPacketManifest::Tables() const {
  QStringList tables;
  for (const TManifestChunk& chunk : Chunks) {
    if (!tables.contains(chunk.Table)) tables.append(chunk.Table);
  }
  return tables;
}

QByteArray TPacketManifest::ToBytes() const {
  QByteArray data = kFormatMarker + ' ' + QByteArray::number(kFormatVersion) + kLineEnd;
  for (const TManifestChunk& chunk : Chunks) {
    data += chunk.Table.toUtf8() + '\t' + QByteArray::number(chunk.ChunkNo) + '\t' +
            chunk.FileName.toUtf8() + '\t' + QByteArray::number(chunk.Rows) + '\t' +
            chunk.Checksum + kLineEnd;
  }
  return data;
}

TPacketManifest TPacketManifest::FromBytes(const QByteArray& data, const QString& sourceName) {
  QList<QByteArray> lines = data.split('\n');
  for (QByteArray& line : lines) {
    if (line.endsWith('\r')) line.chop(1);
  }
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  if (lines.isEmpty()) FailLine(sourceName, 1, QStringLiteral("файлът е празен"));

  const QList<QByteArray> header = lines.first().split(' ');
  int version = 0;
  if (header.size() != 2 || header[0] != kFormatMarker || !ParseCount(header[1], version))
    FailLine(sourceName, 1,
             QStringLiteral("липсва заглавният ред \"%1 <версия>\"")
                 .arg(QString::fromLatin1(kFormatMarker)));
  if (version != kFormatVersion)
    FailLine(sourceName, 1,
             QStringLiteral("версия %1 не се поддържа от тази програма").arg(version));

  TPacketManifest manifest;
  QSet<QString> names;  // letter case ignored: such names meet in one file on Windows
  for (int i = 1; i < lines.size(); ++i) {
    const int lineNo = i + 1;
    const QList<QByteArray> fields = lines[i].split('\t');
    if (fields.size() != 5)
      FailLine(sourceName, lineNo, QStringLiteral("очакват се 5 полета, разделени с табулация"));
    TManifestChunk chunk;
    chunk.Table = QString::fromUtf8(fields[0]);
    chunk.FileName = QString::fromUtf8(fields[2]);
    chunk.Checksum = fields[4];
    if (chunk.Table.isEmpty()) FailLine(sourceName, lineNo, QStringLiteral("липсва таблица"));
    if (!ParseCount(fields[1], chunk.ChunkNo) || chunk.ChunkNo < 1)
      FailLine(sourceName, lineNo, QStringLiteral("невалиден номер на част"));
    if (!ParseCount(fields[3], chunk.Rows))
      FailLine(sourceName, lineNo, QStringLiteral("невалиден брой редове"));
    if (!IsHexChecksum(chunk.Checksum))
      FailLine(sourceName, lineNo, QStringLiteral("невалидна контролна сума"));
    const QString expected =
        chunk.Table + QLatin1Char('[') + QString::number(chunk.ChunkNo) + QStringLiteral("].xml");
    if (chunk.FileName != expected)
      FailLine(sourceName, lineNo,
               QStringLiteral("файлът %1 не е част %2 на таблица %3")
                   .arg(chunk.FileName)
                   .arg(chunk.ChunkNo)
                   .arg(chunk.Table));
    if (names.contains(chunk.FileName.toLower()))
      FailLine(sourceName, lineNo,
               QStringLiteral("файлът %1 е описан повече от веднъж").arg(chunk.FileName));
    names.insert(chunk.FileName.toLower());
    manifest.Chunks.append(chunk);
  }
  return manifest;
}

TPacketManifest TPacketManifest::LoadFromFile(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw ENompackError(
        QStringLiteral("Файлът %1 не може да бъде прочетен: %2").arg(fileName, file.errorString()),
        ENompackError::Kind::File);
  return FromBytes(file.readAll(), fileName);
}

void TPacketManifest::SaveToFile(const QString& fileName) const {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(ToBytes()) < 0 || !file.commit())
    throw ENompackError(
        QStringLiteral("Файлът %1 не може да бъде записан: %2").arg(fileName, file.errorString()),
        ENompackError::Kind::File);
}

namespace {

// SHA-256 through the crypto library, which uses the processor's hash
// instructions where it has them: every chunk of a generation and of an
// installation check goes through here, and a generic implementation took
// a third of the export's reading thread.
class TSha256 {
 public:
  TSha256() : FContext(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
    if (!FContext || EVP_DigestInit_ex(FContext.get(), EVP_sha256(), nullptr) != 1) Fail();
  }
  void Add(const char* data, qsizetype size) {
    if (size > 0 && EVP_DigestUpdate(FContext.get(), data, static_cast<size_t>(size)) != 1) Fail();
  }
  QByteArray HexResult() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(FContext.get(), digest, &length) != 1) Fail();
    return QByteArray(reinterpret_cast<const char*>(digest), length).toHex();
  }

 private:
  [[noreturn]] static void Fail() {
    throw ENompackError(QStringLiteral("The SHA-256 checksum could not be computed"),
                        ENompackError::Kind::Assertion);
  }
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> FContext;
};

}  // namespace

QByteArray FileChecksum(const QString& fileName) {
  QFile file(fileName);
  const auto failRead = [&] {
    throw ENompackError(
        QStringLiteral("Файлът %1 не може да бъде прочетен: %2").arg(fileName, file.errorString()),
        ENompackError::Kind::File);
  };
  if (!file.open(QIODevice::ReadOnly)) failRead();
  TSha256 hash;
  QByteArray block(1 << 20, Qt::Uninitialized);
  for (;;) {
    const qint64 n = file.read(block.data(), block.size());
    if (n < 0) failRead();
    if (n == 0) break;
    hash.Add(block.constData(), n);
  }
  return hash.HexResult();
}

QByteArray BytesChecksum(const QByteArray& data) {
  TSha256 hash;
  hash.Add(data.constData(), data.size());
  return hash.HexResult();
}

bool UpdateManifestForChunk(const QString& chunkPath, int rows) {
  const QFileInfo chunk(chunkPath);
  const QString manifestPath = chunk.absoluteDir().filePath(TPacketManifest::kFileName);
  if (!QFileInfo(manifestPath).isFile()) return false;
  TPacketManifest manifest = TPacketManifest::LoadFromFile(manifestPath);
  TManifestChunk* entry = manifest.Find(chunk.fileName());
  if (!entry) return false;
  entry->Checksum = FileChecksum(chunkPath);
  entry->Rows = rows;
  manifest.SaveToFile(manifestPath);
  return true;
}
