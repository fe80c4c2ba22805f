#pragma once

#include "reportfigures.h"

class LineDatabase;

namespace LineReport {

// The report's figures for a period, added up by the server in one statement (one
// snapshot: the figures agree with each other while stations upload). False with the
// reason when the database cannot be read.
bool figures(LineDatabase &database, const Report::Period &period, Report::Figures *figures, QString *reason);

} // namespace LineReport
