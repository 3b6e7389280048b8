#pragma once

#include <QString>
#include <memory>

#include "Query.h"

class TDM;

// The AppMisc query and statement routines, on the data module they are
// given: a run and the classes it uses all pass the same one, so a row count
// and the page it belongs to come from the same connection. Queries belong
// to the caller.
std::unique_ptr<TQuery> CreateFBQuery(TDM& dm, const QString& SQLText);
std::unique_ptr<TQuery> OpenFBQuery(TDM& dm, const QString& SQLText);
// One statement in the FireBird transaction, not committed here; errors propagate.
void ExecFBSQL(TDM& dm, const QString& SQLText);

std::unique_ptr<TQuery> CreateMySQLQuery(TDM& dm, const QString& SQLText);
std::unique_ptr<TQuery> OpenMySQLQuery(TDM& dm, const QString& SQLText);
// Never throws: a failure is shown with ShowError and gives false.
bool ExecMySQLSQL(TDM& dm, const QString& SQLText);

std::unique_ptr<TQuery> CreateMSSQLQuery(TDM& dm, const QString& SQLText);
std::unique_ptr<TQuery> OpenMSSQLQuery(TDM& dm, const QString& SQLText);

// The same on the connection of the kind.
std::unique_ptr<TQuery> CreateQuery(TDM& dm, DataBaseType kind, const QString& SQLText);
std::unique_ptr<TQuery> OpenQuery(TDM& dm, DataBaseType kind, const QString& SQLText);

// "%d.%d.%d.%d" of VER_MAJOR, VER_MINOR, VER_RELEASE, VER_BUILD of the first
// row of COMPANY_DATA; NULL reads as 0, no row gives "0.0.0.0".
QString GetFBDataVersion(TDM& dm);
QString GetMySQLDataVersion(TDM& dm);
QString GetMSSQLDataVersion(TDM& dm);
QString GetDataVersion(TDM& dm, DataBaseType kind);
