#pragma once

#include <QString>
#include <QStringList>

class LineDatabase;

// The tables and functions of the line database, schema "korvane", and the two roles
// that stations and supervisors log in through.
namespace LineSchema {

// The SQL that makes the schema of LineDatabase::schemaVersion, in one transaction.
QString createSql();
// The SQL that makes the roles when they are missing and grants them their rights.
QString rolesSql();

// Makes the schema when it is missing and, with roles, the roles; a schema already at this
// version is left as it is, a newer one refused. Connects when needed (without checking
// the schema). done gets one line per step; false with the reason.
bool init(LineDatabase &database, bool roles, QStringList *done, QString *reason);

} // namespace LineSchema
