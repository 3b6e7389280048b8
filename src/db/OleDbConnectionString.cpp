#include "OleDbConnectionString.h"

namespace {

bool IsKnownKeyword(QStringView keyword) {
  const QStringView k = keyword.trimmed();
  for (const QString& known : TOleDbConnectionString::KnownKeywords())
    if (k.compare(known, Qt::CaseInsensitive) == 0) return true;
  return false;
}

// True when the text after position `semicolon` starts with "Keyword=".
bool KeywordFollows(const QString& text, qsizetype semicolon) {
  const qsizetype eq = text.indexOf(QLatin1Char('='), semicolon + 1);
  if (eq < 0) return false;
  const QStringView candidate = QStringView(text).mid(semicolon + 1, eq - semicolon - 1);
  if (candidate.contains(QLatin1Char(';'))) return false;
  return IsKnownKeyword(candidate);
}

}  // namespace

const QStringList& TOleDbConnectionString::KnownKeywords() {
  static const QStringList keywords = {
      QStringLiteral("Provider"),
      QStringLiteral("Password"),
      QStringLiteral("Pwd"),
      QStringLiteral("Persist Security Info"),
      QStringLiteral("User ID"),
      QStringLiteral("Uid"),
      QStringLiteral("Initial Catalog"),
      QStringLiteral("Database"),
      QStringLiteral("Data Source"),
      QStringLiteral("Server"),
      QStringLiteral("Connect Timeout"),
      QStringLiteral("Application Name"),
      QStringLiteral("Integrated Security"),
      QStringLiteral("Workstation ID"),
      QStringLiteral("Extended Properties"),
  };
  return keywords;
}

TOleDbConnectionString::TOleDbConnectionString(const QString& text) {
  qsizetype start = 0;
  const qsizetype n = text.size();
  while (start < n) {
    // The end of this pair: the first ";" that a known keyword follows.
    qsizetype end = start;
    const qsizetype eq = text.indexOf(QLatin1Char('='), start);
    qsizetype search = eq < 0 ? start : eq + 1;
    end = n;
    for (qsizetype s = text.indexOf(QLatin1Char(';'), search); s >= 0;
         s = text.indexOf(QLatin1Char(';'), s + 1)) {
      if (KeywordFollows(text, s) || s == n - 1) {
        end = s;
        break;
      }
    }
    const QStringView piece = QStringView(text).mid(start, end - start);
    const qsizetype pieceEq = piece.indexOf(QLatin1Char('='));
    if (pieceEq >= 0) {
      FPairs.append({piece.left(pieceEq).trimmed().toString(), piece.mid(pieceEq + 1).toString()});
    } else if (!piece.trimmed().isEmpty()) {
      FPairs.append({piece.trimmed().toString(), QString()});
    }
    start = end + 1;
  }
}

QString TOleDbConnectionString::Value(const QString& keyword) const {
  for (const Pair& p : FPairs)
    if (p.Keyword.compare(keyword, Qt::CaseInsensitive) == 0) return p.Value;
  return QString();
}

bool TOleDbConnectionString::Has(const QString& keyword) const {
  for (const Pair& p : FPairs)
    if (p.Keyword.compare(keyword, Qt::CaseInsensitive) == 0) return true;
  return false;
}

QStringList TOleDbConnectionString::Keywords() const {
  QStringList out;
  for (const Pair& p : FPairs) out.append(p.Keyword);
  return out;
}
