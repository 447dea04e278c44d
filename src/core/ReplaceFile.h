#pragma once

#include <string>

namespace quillex {

// Writes Content to a temporary file next to Target and renames it over Target, so that
// Target is either the old or the new file, never a mix. A symbolic link stays a link (its
// target is replaced) and an existing file keeps its permissions. Returns 0, or the errno
// of the step that failed (the temporary file is then removed).
int ReplaceFile(const std::string& Target, const std::string& Content);

} // namespace quillex
