#include "ReusedFolderCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

#include "Archiver.h"
#include "PacketEntryCheck.h"
#include "PacketLayout.h"
#include "PacketManifest.h"

namespace {

const QString kAnswerNo = QStringLiteral(
    "Отговорете с \"Не\" на въпроса за използване на разархивирания пакет, за да бъде "
    "разархивиран наново.");

}  // namespace

QString ReusedFolderError(const QString& packetFile, const QString& unpackFolder) {
  QMap<QString, qint64> packed;
  QStringList names;
  QString readError;
  if (!TArchiver::ListPacketEntrySizes(packetFile, packed, names, readError))
    return QStringLiteral(
               "Пакетът \"%1\" не може да бъде прочетен докрай (%2), затова разархивираното "
               "в папката \"%3\" не може да бъде сверено с него и не е използвано.")
        .arg(packetFile, readError, unpackFolder);
  const QString entriesError = PacketEntriesError(packetFile, names);
  if (!entriesError.isEmpty()) return entriesError;

  QMap<QString, qint64> unpacked;
  const QFileInfoList files =
      QDir(unpackFolder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  for (const QFileInfo& info : files) {
    if (IsPacketEntryName(info.fileName())) unpacked.insert(info.fileName(), info.size());
  }
  // A folder without its descriptor gets the run's own message for that.
  if (!unpacked.contains(PacketLayout::kDescriptorFileName)) return QString();
  const bool manifestHere = unpacked.contains(TPacketManifest::kFileName);
  for (auto it = packed.cbegin(); it != packed.cend(); ++it) {
    const auto found = unpacked.constFind(it.key());
    if (found == unpacked.cend())
      return QStringLiteral(
                 "В папката \"%1\" липсва файлът \"%2\" от пакета: разархивирането не е "
                 "завършило. %3")
          .arg(unpackFolder, it.key(), kAnswerNo);
    const bool mayDiffer =
        manifestHere && it.key().compare(PacketLayout::kDescriptorFileName, Qt::CaseInsensitive);
    if (found.value() != it.value() && !mayDiffer)
      return QStringLiteral(
                 "Файлът \"%1\" в папката \"%2\" е с размер %3 байта, а в пакета е с %4: "
                 "разархивирането не е завършило или файлът е променен. %5")
          .arg(it.key(), unpackFolder)
          .arg(found.value())
          .arg(it.value())
          .arg(kAnswerNo);
  }
  for (auto it = unpacked.cbegin(); it != unpacked.cend(); ++it) {
    if (!packed.contains(it.key()))
      return QStringLiteral("Папката \"%1\" съдържа файл \"%2\", който не е от пакета \"%3\". %4")
          .arg(unpackFolder, it.key(), packetFile, kAnswerNo);
  }
  return QString();
}
