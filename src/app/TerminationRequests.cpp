#include "TerminationRequests.h"

int TTerminationRequests::Arrived(int64_t ArrivalNs)
{
    // Measured from the request's first signal, so a steady stream of signals still
    // makes a new request every SameRequestNs. Times compare by difference; a signal read
    // after a later one (never from one pipe) counts with the current request.
    if (FCount > 0 && ArrivalNs - FRequestStartNs < SameRequestNs)
        return 0;
    FRequestStartNs = ArrivalNs;
    return ++FCount;
}
