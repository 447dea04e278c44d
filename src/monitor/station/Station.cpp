#include "Station.h"

#include "StationFeed.h"
#include "StationMqtt.h"
#include "StationServer.h"
#include "StationState.h"

namespace quillex::station {

struct TStation::TImpl
{
    TLogFunction Log;
    TFrameFeed Feed;
    TStationState State;
    std::string StationName;
    std::unique_ptr<TStationMqtt> Mqtt;
    std::unique_ptr<TStationServer> Server;
};

TStation::TStation(TLogFunction Log) : FImpl(std::make_unique<TImpl>())
{
    FImpl->Log = Log ? std::move(Log) : TLogFunction(LogToStderr);
}

TStation::~TStation()
{
    Stop();
}

bool TStation::Start(const TStationOptions& Options)
{
    TImpl& impl = *FImpl;
    impl.StationName = Options.StationName;
    impl.State.SetStationName(Options.StationName);
    if (!Options.MqttHost.empty()) {
        impl.Mqtt = std::make_unique<TStationMqtt>(Options, impl.Log);
        if (!impl.Mqtt->Start())
            impl.Mqtt.reset();
    }
    if (!Options.ListenHost.empty()) {
        impl.Server = std::make_unique<TStationServer>(
            impl.Feed, impl.State, Options, impl.Log, [&impl](TCounters& Counters) {
                Counters.MqttEnabled = impl.Mqtt != nullptr;
                Counters.MqttConnected = impl.Mqtt && impl.Mqtt->Connected();
                Counters.MqttDropped = impl.Mqtt ? impl.Mqtt->Dropped() : 0;
            });
        if (!impl.Server->Start()) {
            impl.Server.reset();
            return false;
        }
    }
    return true;
}

void TStation::Stop()
{
    if (FImpl->Server)
        FImpl->Server->Stop();
    if (FImpl->Mqtt)
        FImpl->Mqtt->Stop();
}

int TStation::Port() const
{
    return FImpl->Server ? FImpl->Server->Port() : 0;
}

bool TStation::PublishFrame(const float* Magnitudes, int N, double WallClockDays)
{
    return FImpl->Feed.Publish(Magnitudes, N, WallClockDays);
}

void TStation::SetMapping(const TDisplayMapping& Mapping)
{
    FImpl->State.SetMapping(Mapping);
}

void TStation::PublishStatus(const TStationStatus& Status)
{
    FImpl->State.SetStatus(Status);
}

void TStation::PublishBands(const std::vector<TBandRow>& Rows)
{
    FImpl->State.AddBands(Rows);
    if (!FImpl->Mqtt)
        return;
    for (const TBandRow& row : Rows) {
        nlohmann::json message = BandRowJson(row);
        message["station"] = FImpl->StationName;
        FImpl->Mqtt->Publish("stats", message.dump());
    }
}

void TStation::PublishEvent(const TStationEvent& Event)
{
    FImpl->State.AddEvent(Event);
    if (!FImpl->Mqtt)
        return;
    nlohmann::json message = EventJson(Event);
    message["station"] = FImpl->StationName;
    message["event"] = Event.Ended ? "end" : "start";
    FImpl->Mqtt->Publish("event", message.dump());
}

int64_t TStation::FramesTaken() const
{
    return FImpl->Feed.Taken();
}

int64_t TStation::FramesRefused() const
{
    return FImpl->Feed.Refused();
}

} // namespace quillex::station
