#include "StampText.h"

#include "DateTimeU.h"

namespace quillex {

std::string IsoStampText(double Stamp)
{
    return FormatDateTime("yyyy-mm-ddThh:nn:ss.zzz", Stamp);
}

} // namespace quillex
