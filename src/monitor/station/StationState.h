#pragma once

#include "Station.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// What the monitor published at low rates (status, the latest statistics per band, the recent
// events, the display mapping), kept for the API, the metrics and the page. Any thread may
// publish; the server reads. Every access takes the one mutex for a copy, no longer.
namespace quillex::station {

// Counts the state does not keep itself, gathered by the caller when it asks.
struct TCounters
{
    int64_t Frames = 0;
    int64_t RefusedFrames = 0;
    int Bins = 0; // N of the latest frame, 0 before the first
    int WebClients = 0;
    int64_t RowsSent = 0;
    bool MqttEnabled = false;
    bool MqttConnected = false;
    int64_t MqttDropped = 0;
};

class TStationState
{
public:
    static constexpr size_t MaxEvents = 1000;

    explicit TStationState(std::string StationName = {});

    void SetStatus(const TStationStatus& Status);
    void AddBands(const std::vector<TBandRow>& Rows);
    void AddEvent(const TStationEvent& Event);
    void SetMapping(const TDisplayMapping& Mapping);
    void SetStationName(const std::string& Name);
    TDisplayMapping Mapping() const;

    // The API's JSON documents and the metrics page.
    std::string StatusJson(const TCounters& Counters) const;
    std::string BandsJson() const;
    // Episodes that ended at or after Since (days since 1899-12-30, local time), oldest first.
    std::string EventsJson(double Since) const;
    std::string MetricsText(const TCounters& Counters) const;

private:
    mutable std::mutex FLock;
    std::string FStation;
    TStationStatus FStatus;
    bool FHaveStatus = false;
    std::vector<TBandRow> FBands;      // the latest row per band, in the order bands first came
    std::deque<TStationEvent> FEvents; // ended episodes
    bool FActive[2] = {false, false};  // upper, lower
    int64_t FStarted[2] = {0, 0};
    TDisplayMapping FMapping;
};

// A statistics row and an event as JSON objects: the CSV columns' names in lower case, units in
// them (power_dbm, freq_mhz), times as the event log writes them (null when there is none).
nlohmann::json BandRowJson(const TBandRow& Row);
nlohmann::json EventJson(const TStationEvent& Event);

// Days since 1899-12-30 (local time) of an ISO 8601 time: "yyyy-mm-dd", "yyyy-mm-ddThh:mm",
// with ":ss" and ".fff" optional, local time unless it ends in "Z" or "+hh:mm"/"-hh:mm".
// False when it is none of these.
bool ParseIsoTime(const std::string& Text, double& Days);

} // namespace quillex::station
