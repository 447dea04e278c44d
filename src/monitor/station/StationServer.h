#pragma once

#include "Station.h"
#include "StationFeed.h"
#include "StationState.h"

#include <functional>
#include <memory>

// The station's HTTP and WebSocket server: one thread running one I/O context, which takes the
// frames from the feed every tick, folds them into each viewer's row and sends rows when due.
namespace quillex::station {

class TStationServer
{
public:
    // Counters has the feed's and the server's counts filled in; it adds the rest (MQTT).
    TStationServer(TFrameFeed& Feed, TStationState& State, const TStationOptions& Options,
                   TLogFunction Log, std::function<void(TCounters&)> MoreCounters);
    ~TStationServer();

    // Binds the address and starts the thread; false (logged) when it cannot be bound.
    bool Start();
    void Stop();
    int Port() const;

    struct TCore;

private:
    std::unique_ptr<TCore> FCore;
};

} // namespace quillex::station
