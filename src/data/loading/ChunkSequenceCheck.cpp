#include "ChunkSequenceCheck.h"

#include "AppMiscFiles.h"
#include "PacketLayout.h"

QString ChunkSequenceError(const QString& table, const QStringList& sortedChunkFiles) {
  int expected = 1;
  for (qsizetype i = 0; i < sortedChunkFiles.size(); ++i) {
    const QString& file = sortedChunkFiles.at(i);
    const int index = GetChunkIndex(file);
    if (index < 1)
      return QStringLiteral("Файлът \"%1\" на таблица %2 не носи номер на част (очаква се \"%3\").")
          .arg(file, table, PacketLayout::ChunkFileName(table, expected));
    if (index < expected)
      return QStringLiteral("Част %1 на таблица %2 се среща в два файла: \"%3\" и \"%4\".")
          .arg(index)
          .arg(table, sortedChunkFiles.at(i - 1), file);
    if (index > expected)
      return QStringLiteral("Липсва част %1 на таблица %2 (файл \"%3\"): пакетът е непълен.")
          .arg(expected)
          .arg(table, PacketLayout::ChunkFileName(table, expected));
    ++expected;
  }
  return QString();
}
