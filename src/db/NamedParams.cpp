#include "NamedParams.h"

#include "NompackError.h"

namespace {

bool IsNameStart(QChar c) {
  return c.isLetter() || c == QLatin1Char('_');
}
bool IsNameChar(QChar c) {
  return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

// Index just past a quoted run that starts at `i` with `quote`. A doubled
// quote stays inside; with backslash escapes a backslash takes the next
// character along. An unterminated run ends with the text.
qsizetype SkipQuoted(const QString& s, qsizetype i, QChar quote, bool backslash) {
  const qsizetype n = s.size();
  ++i;
  while (i < n) {
    const QChar c = s[i];
    if (backslash && c == QLatin1Char('\\')) {
      i += 2;
      continue;
    }
    if (c == quote) {
      if (i + 1 < n && s[i + 1] == quote) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return n;
}

qsizetype SkipToLineEnd(const QString& s, qsizetype i) {
  while (i < s.size() && s[i] != QLatin1Char('\n')) ++i;
  return i;
}

}  // namespace

TParsedSql ParseNamedParams(const QString& sql, TSqlDialect dialect) {
  TParsedSql out;
  out.Sql.reserve(sql.size());
  const bool mysql = dialect == TSqlDialect::MySQL;
  const qsizetype n = sql.size();
  qsizetype i = 0;
  auto copyTo = [&](qsizetype end) {
    out.Sql += QStringView(sql).mid(i, end - i);
    i = end;
  };
  auto addMarker = [&](const QString& name) {
    out.Markers.append(name);
    bool known = false;
    for (const QString& existing : std::as_const(out.Names))
      if (existing.compare(name, Qt::CaseInsensitive) == 0) known = true;
    if (!known) out.Names.append(name);
    out.Sql += QLatin1Char('?');
  };

  while (i < n) {
    const QChar c = sql[i];
    const QChar next = i + 1 < n ? sql[i + 1] : QChar();
    if (c == QLatin1Char('\'')) {
      copyTo(SkipQuoted(sql, i, c, mysql));
    } else if (c == QLatin1Char('"')) {
      copyTo(SkipQuoted(sql, i, c, mysql));
    } else if (c == QLatin1Char('`') && mysql) {
      copyTo(SkipQuoted(sql, i, c, false));
    } else if (c == QLatin1Char('[') && dialect == TSqlDialect::ODBC) {
      qsizetype end = sql.indexOf(QLatin1Char(']'), i + 1);
      copyTo(end < 0 ? n : end + 1);
    } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
      copyTo(SkipToLineEnd(sql, i));
    } else if (c == QLatin1Char('#') && mysql) {
      copyTo(SkipToLineEnd(sql, i));
    } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
      const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
      copyTo(end < 0 ? n : end + 2);
    } else if (c == QLatin1Char(':') && next == QLatin1Char(':')) {
      copyTo(i + 2);
    } else if (c == QLatin1Char(':') && IsNameStart(next)) {
      qsizetype end = i + 1;
      while (end < n && IsNameChar(sql[end])) ++end;
      const QString name = sql.mid(i + 1, end - i - 1);
      i = end;
      addMarker(name);
    } else if (c == QLatin1Char(':') && next == QLatin1Char('"')) {
      const qsizetype end = sql.indexOf(QLatin1Char('"'), i + 2);
      if (end < 0) {
        copyTo(n);
      } else {
        const QString name = sql.mid(i + 2, end - i - 2);
        i = end + 1;
        addMarker(name);
      }
    } else {
      qsizetype end = i + 1;
      // Copy plain runs in one piece; the loop only stops where something may start.
      while (end < n) {
        const QChar d = sql[end];
        if (d == QLatin1Char('\'') || d == QLatin1Char('"') || d == QLatin1Char('`') ||
            d == QLatin1Char('[') || d == QLatin1Char('-') || d == QLatin1Char('#') ||
            d == QLatin1Char('/') || d == QLatin1Char(':'))
          break;
        ++end;
      }
      copyTo(end);
    }
  }
  return out;
}

int FindParam(const TParams& params, const QString& name) {
  for (int i = 0; i < params.size(); ++i)
    if (SameParamName(params[i].Name, name)) return i;
  return -1;
}

const TParam& ParamForMarker(const TParams& params, const QString& name, int position) {
  if (position >= 0 && position < params.size() && SameParamName(params[position].Name, name))
    return params[position];
  const int index = FindParam(params, name);
  if (index < 0)
    throw ENompackError(QStringLiteral("Parameter '%1' not found").arg(name),
                        ENompackError::Kind::Database);
  return params[index];
}
