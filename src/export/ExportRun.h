#pragma once

#include <ostream>

#include "ExportOptions.h"

namespace quillex {

// Runs one export and returns its exit code. Messages (one line each, an error as the
// last) go to Err; progress too when Progress is set. A PNG needs a QGuiApplication.
int RunExport(const TExportOptions& Options, std::ostream& Err, bool Progress);

} // namespace quillex
