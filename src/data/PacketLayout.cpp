#include "PacketLayout.h"

#include <QDir>
#include <QFileInfo>

QString AddTrailingBackslash(const QString& path) {
  if (path.isEmpty()) return path;
  const QChar last = path.back();
  if (last == QDir::separator() || last == QLatin1Char('/')) return path;
  return path + QDir::separator();
}

namespace PacketLayout {

const QStringList& PacketTables() {
  static const QStringList tables = {
      QStringLiteral("N_NZOK_GROUP"),
      QStringLiteral("N_PRESCRIPTION_TYPE"),
      QStringLiteral("N_MEDICAL_ARTICLE_TYPE"),
      QStringLiteral("N_PRODUCT_GROUP"),
      QStringLiteral("N_DELIVERY_TYPE"),
      QStringLiteral("N_INV_COR_TYPE"),
      QStringLiteral("N_PATIENT_MATERNITY_TYPE"),
      QStringLiteral("N_PRESCRIPTION_PART"),
      QStringLiteral("N_PROTOCOL_TYPE"),
      QStringLiteral("N_PAYMENT_TYPE"),
      QStringLiteral("N_SALE_TYPE"),
      QStringLiteral("N_DRUG_TYPE"),
      QStringLiteral("N_AD_PRICE_SOURCE"),
      QStringLiteral("N_CERTIFICATE_DOC_TYPE"),
      QStringLiteral("N_ISO_COUNTRY_CODE"),
      QStringLiteral("N_DOCTOR_SPECIALTY"),
      QStringLiteral("N_ORDER_TYPE"),
      QStringLiteral("PRODUCER"),
      QStringLiteral("ARTICLE_GROUP"),
      QStringLiteral("SHELF"),
      QStringLiteral("ARTICLE"),
      QStringLiteral("ARTICLE_NZOK"),
      QStringLiteral("ARTICLE_INFO"),
      QStringLiteral("SUPPLIER"),
      QStringLiteral("SUPPLIER_CODE"),
      QStringLiteral("ARTICLE_SUPPLIER"),
      QStringLiteral("PARCEL"),
      QStringLiteral("EXPENSE_TYPE"),
      QStringLiteral("CUSTOMER"),
      QStringLiteral("MEASURE_NAME"),
      QStringLiteral("MEASURE"),
      QStringLiteral("PATIENT"),
      QStringLiteral("PATIENT_PROTOCOL"),
      QStringLiteral("DOCTOR"),
      QStringLiteral("RZOK"),
      QStringLiteral("VTR_ENV_VARS"),
      QStringLiteral("SUBSTITUDE_ARTICLE"),
  };
  return tables;
}

QString BuildPacketName(const QString& tag, const QDateTime& when) {
  const QDate d = when.date();
  const QTime t = when.time();
  return QStringLiteral("nompack_%1_%2%3%4-%5%6%7")
      .arg(tag)
      .arg(d.year(), 4, 10, QLatin1Char('0'))
      .arg(d.month(), 2, 10, QLatin1Char('0'))
      .arg(d.day(), 2, 10, QLatin1Char('0'))
      .arg(t.hour(), 2, 10, QLatin1Char('0'))
      .arg(t.minute(), 2, 10, QLatin1Char('0'))
      .arg(t.second(), 2, 10, QLatin1Char('0'));
}

QString PacketFolder(const QString& exportFolder, const QString& baseName) {
  return AddTrailingBackslash(AddTrailingBackslash(exportFolder) + baseName);
}

QString ChunkFileName(const QString& table, int chunkNo) {
  return table + QLatin1Char('[') + QString::number(chunkNo) + QStringLiteral("].xml");
}

QString ChunkFileMask(const QString& table) {
  return table + QStringLiteral("[*].xml");
}

QString ArchiveName(const QString& packetFolder) {
  return packetFolder.left(packetFolder.size() - 1) + QStringLiteral(".rar");
}

QString PacketFileName(const QString& archiveName, const QString& extension) {
  const QString suffix = QStringLiteral(".rar");
  if (archiveName.endsWith(suffix, Qt::CaseInsensitive))
    return archiveName.left(archiveName.size() - suffix.size()) + extension;
  return archiveName + extension;
}

QString UnpackFolder(const QString& packetFile) {
  // Only the file name's own extension goes; a dot in a folder name stays.
  int nameStart = 0;
  for (int i = packetFile.size() - 1; i >= 0; --i) {
    const QChar c = packetFile[i];
    if (c == QLatin1Char('/') || c == QDir::separator()) {
      nameStart = i + 1;
      break;
    }
  }
  const int dot = packetFile.lastIndexOf(QLatin1Char('.'));
  const QString stem = dot >= nameStart ? packetFile.left(dot) : packetFile;
  return AddTrailingBackslash(stem);
}

QStringList TablesDescrLines(const QString& version) {
  QStringList lines = PacketTables();
  lines.prepend(QLatin1Char('{') + version + QLatin1Char('}'));
  return lines;
}

}  // namespace PacketLayout
