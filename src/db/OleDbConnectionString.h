#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The keyword=value pairs of an OLE DB connection string such as
// "Provider=SQLOLEDB.1;Password=...;User ID=...;Data Source=...".
//
// The values are written into such strings verbatim, without quoting, so a
// password may itself hold ";" or "=". A ";" therefore ends a value only when
// a known keyword and "=" follow it; anywhere else it belongs to the value.
class TOleDbConnectionString {
 public:
  explicit TOleDbConnectionString(const QString& text);

  // The value of a keyword, letter case and surrounding blanks of the keyword
  // ignored; empty when missing.
  QString Value(const QString& keyword) const;
  bool Has(const QString& keyword) const;
  // Keywords in the order they appear, as written.
  QStringList Keywords() const;

  // The keywords that end a value when they follow a ";".
  static const QStringList& KnownKeywords();

 private:
  struct Pair {
    QString Keyword;
    QString Value;
  };
  QVector<Pair> FPairs;
};
