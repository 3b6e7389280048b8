#include "DataBaseType.h"

DataBaseType DataBaseTypeFromIndex(int index) {
  if (index == 0) return DataBaseType::MySQL;
  if (index == 1) return DataBaseType::FireBird;
  return DataBaseType::MSSQL;
}

QString DataBaseTag(DataBaseType type) {
  switch (type) {
    case DataBaseType::MySQL:
      return QStringLiteral("mydb");
    case DataBaseType::FireBird:
      return QStringLiteral("fbdb");
    case DataBaseType::MSSQL:
      break;
  }
  return QStringLiteral("msdb");
}

QString DataBasePacketExtension(DataBaseType type) {
  switch (type) {
    case DataBaseType::MySQL:
      return QStringLiteral(".mpd");
    case DataBaseType::FireBird:
      return QStringLiteral(".fpd");
    case DataBaseType::MSSQL:
      break;
  }
  return QStringLiteral(".mspd");
}
