#pragma once

#include <QString>
#include <QStringList>

#include "Connection.h"

// How a server writes literals, identifiers and comments, which decides where
// a colon can start a parameter name.
enum class TSqlDialect {
  MySQL,     // '...' and "..." with backslash escapes, `...`, #, -- and /* */
  Firebird,  // '...', "..." identifiers, -- and /* */
  ODBC,      // '...', "..." and [...] identifiers, -- and /* */
};

// A statement text with its ":NAME" parameters replaced by "?" markers.
struct TParsedSql {
  QString Sql;
  QStringList Markers;  // the parameter name of each "?", in text order
  QStringList Names;    // distinct names (letter case ignored), in order of first appearance
};

// Parameter names are letters, digits, "_" and "$", starting with a letter
// or "_"; :"any text" names a parameter too. "::" and a colon inside a
// literal, quoted identifier or comment are left alone.
TParsedSql ParseNamedParams(const QString& sql, TSqlDialect dialect);

// Whether two parameter names are the same, letter case ignored. The names
// bound for every row are mostly the very strings of the statement's
// columns: those are told at once.
inline bool SameParamName(const QString& a, const QString& b) {
  return a.size() == b.size() &&
         (a.constData() == b.constData() || a.compare(b, Qt::CaseInsensitive) == 0);
}
// Index of the parameter of that name, letter case ignored; -1 when missing.
int FindParam(const TParams& params, const QString& name);
// The parameter bound to a marker; throws ENompackError (Database) naming it
// when the caller gave no such parameter. The parameter at `position` is
// tried first: a statement that names each parameter once has its markers
// in the order of its parameters, and binding runs for every row.
const TParam& ParamForMarker(const TParams& params, const QString& name, int position = -1);
