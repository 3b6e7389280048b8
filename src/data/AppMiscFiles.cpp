#include "AppMiscFiles.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <algorithm>
#include <utility>
#include <vector>

#include "Cp1251.h"
#include "NompackError.h"

bool MatchFileMask(const QString& name, const QString& mask) {
  if (mask == QLatin1String("*.*") || mask == QLatin1String("*")) return true;
  // Iterative wildcard match with backtracking to the last '*'.
  qsizetype n = 0, m = 0, starM = -1, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == QLatin1Char('*')) {
      starM = m++;
      starN = n;
    } else if (m < mask.size() &&
               (mask[m] == QLatin1Char('?') || mask[m].toCaseFolded() == name[n].toCaseFolded())) {
      ++m;
      ++n;
    } else if (starM >= 0) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == QLatin1Char('*')) ++m;
  return m == mask.size();
}

QStringList GetFileList(const QString& folder, const QString& mask) {
  QStringList result;
  QDirIterator it(folder.isEmpty() ? QStringLiteral(".") : folder,
                  QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  while (it.hasNext()) {
    it.next();
    const QFileInfo info = it.fileInfo();
    if (info.isDir()) continue;
    if (MatchFileMask(info.fileName(), mask)) result.append(info.fileName());
  }
  return result;
}

QStringList LoadStringList(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) {
    throw ENompackError(
        QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()),
        ENompackError::Kind::File);
  }
  const QByteArray data = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    throw ENompackError(
        QStringLiteral("Cannot read file \"%1\". %2").arg(fileName, file.errorString()),
        ENompackError::Kind::File);
  }
  const QString text =
      data.startsWith("\xEF\xBB\xBF") ? QString::fromUtf8(data.mid(3)) : Cp1251::Decode(data);
  QStringList lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
      lines.append(text.mid(start, i - start));
      if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.append(text.mid(start));
  return lines;
}

void SaveStringList(const QStringList& lines, const QString& fileName) {
  QByteArray data;
  for (const QString& line : lines) {
    data += Cp1251::Encode(line);
    data += "\r\n";
  }
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
    throw ENompackError(
        QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString()),
        ENompackError::Kind::File);
  }
}

int GetChunkIndex(const QString& fileName) {
  const qsizetype open = fileName.indexOf(QLatin1Char('['));
  const qsizetype close = fileName.indexOf(QLatin1Char(']'));
  if (open < 0 || close < 0 || close < open) return 0;
  const QString text = fileName.mid(open + 1, close - open - 1);
  // A sign and decimal digits only: no blanks, no hexadecimal.
  qsizetype i = 0;
  if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) ++i;
  if (i == text.size()) return 0;
  for (qsizetype k = i; k < text.size(); ++k) {
    if (text[k] < QLatin1Char('0') || text[k] > QLatin1Char('9')) return 0;
  }
  bool ok = false;
  const int value = text.toInt(&ok, 10);
  return ok ? value : 0;
}

void SortChunkFiles(QStringList& fileNames) {
  // Parse each name once rather than twice per comparison.
  std::vector<std::pair<int, QString>> keyed;
  keyed.reserve(fileNames.size());
  for (QString& name : fileNames) keyed.emplace_back(GetChunkIndex(name), std::move(name));
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (qsizetype i = 0; i < fileNames.size(); ++i) fileNames[i] = std::move(keyed[i].second);
}

int GetFileCount(const QString& folder) {
  return GetFileList(folder, QStringLiteral("*.*")).size();
}

void UpperCaseList(QStringList& list) {
  const QLocale locale;
  for (QString& line : list) line = locale.toUpper(line);
}
