#pragma once

#include <string>

namespace quillex {

// A frame stamp (days since 1899-12-30, local time) as "yyyy-mm-ddThh:nn:ss.zzz", the form of
// the time columns of the level table and the limit event log.
std::string IsoStampText(double Stamp);

} // namespace quillex
