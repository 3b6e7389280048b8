#include "PacketEntryCheck.h"

#include <QHash>
#include <QRegularExpression>

#include "PacketLayout.h"
#include "PacketManifest.h"

bool IsPacketEntryName(const QString& bareName) {
  static const QRegularExpression chunk(QStringLiteral("^.+\\[[-+]?[0-9]+\\]\\.xml$"),
                                        QRegularExpression::CaseInsensitiveOption);
  return bareName.compare(PacketLayout::kDescriptorFileName, Qt::CaseInsensitive) == 0 ||
         bareName.compare(TPacketManifest::kFileName, Qt::CaseInsensitive) == 0 ||
         chunk.match(bareName).hasMatch();
}

QString PacketEntriesError(const QString& packetFile, const QStringList& bareNames) {
  int descriptors = 0;
  QHash<QString, QString> byFoldedName;  // folded name -> first entry of it
  QString clash;
  for (const QString& name : bareNames) {
    if (!IsPacketEntryName(name)) continue;
    if (name.compare(PacketLayout::kDescriptorFileName, Qt::CaseInsensitive) == 0) ++descriptors;
    const QString folded = name.toCaseFolded();
    const auto first = byFoldedName.constFind(folded);
    if (first == byFoldedName.cend()) {
      byFoldedName.insert(folded, name);
    } else if (clash.isEmpty()) {
      clash = QStringLiteral(
                  "Пакетът \"%1\" съдържа два файла, които се разархивират под едно име: "
                  "\"%2\" и \"%3\". Не е ясно кой от тях е верният, затова пакетът не е "
                  "разархивиран.")
                  .arg(packetFile, first.value(), name);
    }
  }
  if (descriptors == 0)
    return QStringLiteral(
               "Не е открит файл с описание на пакетите! Пакетът \"%1\" не съдържа файл \"%2\".")
        .arg(packetFile, PacketLayout::kDescriptorFileName);
  if (descriptors > 1)
    return QStringLiteral(
               "Пакетът \"%1\" съдържа %2 файла \"%3\" вместо един, затова не е разархивиран.")
        .arg(packetFile)
        .arg(descriptors)
        .arg(PacketLayout::kDescriptorFileName);
  return clash;
}
