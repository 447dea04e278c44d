#pragma once

#include <functional>
#include <ostream>

#include "ExportOptions.h"

namespace quillex {

// Runs one export and returns its exit code. Messages (one line each, an error as the
// last) go to Err; progress too when Progress is set. A PNG needs a QGuiApplication:
// when StartGui is given, the export calls it on the calling thread to make one, while
// the first frames are being transformed on another.
int RunExport(const TExportOptions& Options, std::ostream& Err, bool Progress,
              const std::function<void()>& StartGui = {});

} // namespace quillex
