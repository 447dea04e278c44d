#include "StationState.h"

#include "DateTimeU.h"
#include "StampText.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>

namespace quillex::station {

using nlohmann::json;

namespace {

int KindIndex(const std::string& Kind)
{
    return Kind == "lower" ? 1 : 0;
}

// A time as the event log writes it; none for a time of 0 (unstamped).
json TimeJson(double Days, bool Stamped = true)
{
    return Stamped && Days != 0 ? json(IsoStampText(Days)) : json(nullptr);
}

// Prometheus' number: the shortest text that reads back the same, NaN and the infinities
// in its own spelling.
void AppendNumber(std::string& Out, double Value)
{
    if (std::isnan(Value)) {
        Out += "NaN";
        return;
    }
    if (std::isinf(Value)) {
        Out += Value > 0 ? "+Inf" : "-Inf";
        return;
    }
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, Value);
    Out.append(text, ec == std::errc() ? end : text);
}

std::string LabelValue(const std::string& Text)
{
    std::string out;
    for (const char c : Text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

void Family(std::string& Out, const char* Name, const char* Type, const char* Help)
{
    Out += std::string("# HELP ") + Name + " " + Help + "\n# TYPE " + Name + " " + Type + "\n";
}

void Sample(std::string& Out, const char* Name, const std::string& Labels, double Value)
{
    Out += Name;
    if (!Labels.empty())
        Out += "{" + Labels + "}";
    Out += ' ';
    AppendNumber(Out, Value);
    Out += '\n';
}

bool Digits(const std::string& Text, size_t At, size_t Count, int& Value)
{
    if (At + Count > Text.size())
        return false;
    for (size_t i = At; i < At + Count; ++i)
        if (Text[i] < '0' || Text[i] > '9')
            return false;
    std::from_chars(Text.data() + At, Text.data() + At + Count, Value);
    return true;
}

} // namespace

json BandRowJson(const TBandRow& B)
{
    return {{"time", TimeJson(B.Time, B.Stamped)},
            {"stamped", B.Stamped},
            {"frame", B.Frame},
            {"band", B.Band},
            {"low_mhz", B.LowMHz},
            {"high_mhz", B.HighMHz},
            {"power_dbm", B.PowerDbm},
            {"noise_dbm_per_hz", B.NoiseDbmPerHz},
            {"occupancy_pct", B.OccupancyPct},
            {"obw_khz", B.ObwKHz},
            {"peak_mhz", B.PeakMHz},
            {"peak_dbm", B.PeakDbm}};
}

json EventJson(const TStationEvent& E)
{
    json event = {
        {"start", TimeJson(E.Start)}, {"first_frame", E.FirstFrame}, {"kind", E.Kind},
        {"freq_mhz", E.MHz},          {"power_dbm", E.Dbm},          {"excess_db", E.ExcessDb}};
    event["end"] = E.Ended ? TimeJson(E.End) : json(nullptr);
    event["last_frame"] = E.Ended ? json(E.LastFrame) : json(nullptr);
    return event;
}

TStationState::TStationState(std::string StationName) : FStation(std::move(StationName)) {}

void TStationState::SetStatus(const TStationStatus& Status)
{
    std::lock_guard lock(FLock);
    FStatus = Status;
    FHaveStatus = true;
}

void TStationState::AddBands(const std::vector<TBandRow>& Rows)
{
    std::lock_guard lock(FLock);
    for (const TBandRow& row : Rows) {
        auto it = std::find_if(FBands.begin(), FBands.end(),
                               [&](const TBandRow& b) { return b.Band == row.Band; });
        if (it == FBands.end())
            FBands.push_back(row);
        else
            *it = row;
    }
}

void TStationState::AddEvent(const TStationEvent& Event)
{
    std::lock_guard lock(FLock);
    const int kind = KindIndex(Event.Kind);
    if (!Event.Ended) {
        FActive[kind] = true;
        ++FStarted[kind];
        return;
    }
    FActive[kind] = false;
    FEvents.push_back(Event);
    if (FEvents.size() > MaxEvents)
        FEvents.pop_front();
}

void TStationState::SetMapping(const TDisplayMapping& Mapping)
{
    std::lock_guard lock(FLock);
    FMapping = Mapping;
}

void TStationState::SetStationName(const std::string& Name)
{
    std::lock_guard lock(FLock);
    FStation = Name;
}

TDisplayMapping TStationState::Mapping() const
{
    std::lock_guard lock(FLock);
    return FMapping;
}

std::string TStationState::StatusJson(const TCounters& Counters) const
{
    std::lock_guard lock(FLock);
    json settings = json::object();
    for (const auto& [key, value] : FStatus.Settings)
        settings[key] = value;
    json open = json::array();
    for (const TOpenEpisode& e : FStatus.OpenEpisodes)
        open.push_back({{"kind", e.Kind},
                        {"start", TimeJson(e.Start)},
                        {"first_frame", e.FirstFrame},
                        {"freq_mhz", e.MHz},
                        {"power_dbm", e.Dbm},
                        {"excess_db", e.ExcessDb}});
    json doc = {{"station", FStation},
                {"time", IsoStampText(NowDateTime())},
                {"receiver", FStatus.Receiver},
                {"simulated", FStatus.Simulated},
                {"state", !FHaveStatus      ? "starting"
                          : FStatus.Running ? "running"
                                            : "gap"},
                {"settings", settings},
                {"frames_total", Counters.Frames},
                {"dropped_frames_total", FStatus.DroppedFrames},
                {"refused_frames_total", Counters.RefusedFrames},
                {"uptime_s", FStatus.UptimeSeconds},
                {"open_episodes", open},
                {"bins", Counters.Bins},
                {"freq_offset_mhz", FMapping.FreqOffsetMHz},
                {"level_offset_db", FMapping.LevelOffsetDb},
                {"inverted", FMapping.Inverted},
                {"web_clients", Counters.WebClients}};
    return doc.dump();
}

std::string TStationState::BandsJson() const
{
    std::lock_guard lock(FLock);
    json bands = json::array();
    for (const TBandRow& b : FBands)
        bands.push_back(BandRowJson(b));
    return json{{"bands", bands}}.dump();
}

std::string TStationState::EventsJson(double Since) const
{
    std::lock_guard lock(FLock);
    json events = json::array();
    for (const TStationEvent& e : FEvents)
        if (!(e.End < Since))
            events.push_back(EventJson(e));
    return json{{"events", events}}.dump();
}

std::string TStationState::MetricsText(const TCounters& Counters) const
{
    std::lock_guard lock(FLock);
    std::string out;
    out.reserve(2048 + FBands.size() * 300);
    Family(out, "quillex_station_info", "gauge", "The station's name, always 1.");
    Sample(out, "quillex_station_info", "station=\"" + LabelValue(FStation) + "\"", 1);
    Family(out, "quillex_frames_total", "counter", "Frames processed by the monitor.");
    Sample(out, "quillex_frames_total", {}, double(Counters.Frames));
    Family(out, "quillex_dropped_frames_total", "counter",
           "Frames the monitor lost: skipped behind its frame rate, or not recorded.");
    Sample(out, "quillex_dropped_frames_total", {}, double(FStatus.DroppedFrames));
    Family(out, "quillex_receiver_up", "gauge", "1 while the receiver delivers frames, else 0.");
    Sample(out, "quillex_receiver_up", {}, FHaveStatus && FStatus.Running ? 1 : 0);
    Family(out, "quillex_band_power_dbm", "gauge", "Power in the band over the last interval.");
    for (const TBandRow& b : FBands)
        Sample(out, "quillex_band_power_dbm", "band=\"" + LabelValue(b.Band) + "\"", b.PowerDbm);
    Family(out, "quillex_band_noise_dbm_per_hz", "gauge",
           "Noise density in the band over the last interval.");
    for (const TBandRow& b : FBands)
        Sample(out, "quillex_band_noise_dbm_per_hz", "band=\"" + LabelValue(b.Band) + "\"",
               b.NoiseDbmPerHz);
    Family(out, "quillex_band_occupancy_ratio", "gauge",
           "Share of the band's bins above the occupancy threshold, 0..1.");
    for (const TBandRow& b : FBands)
        Sample(out, "quillex_band_occupancy_ratio", "band=\"" + LabelValue(b.Band) + "\"",
               b.OccupancyPct / 100.0);
    Family(out, "quillex_limit_active", "gauge", "1 while a limit episode of the kind is open.");
    Family(out, "quillex_limit_episodes_total", "counter", "Limit episodes started.");
    for (int k = 0; k < 2; ++k) {
        const std::string kind = k == 0 ? "kind=\"upper\"" : "kind=\"lower\"";
        Sample(out, "quillex_limit_active", kind, FActive[k] ? 1 : 0);
        Sample(out, "quillex_limit_episodes_total", kind, double(FStarted[k]));
    }
    Family(out, "quillex_station_refused_frames_total", "counter",
           "Frames the station view did not take because it was busy.");
    Sample(out, "quillex_station_refused_frames_total", {}, double(Counters.RefusedFrames));
    Family(out, "quillex_station_web_clients", "gauge", "Live viewers connected.");
    Sample(out, "quillex_station_web_clients", {}, Counters.WebClients);
    Family(out, "quillex_station_rows_sent_total", "counter", "Rows sent to live viewers.");
    Sample(out, "quillex_station_rows_sent_total", {}, double(Counters.RowsSent));
    if (Counters.MqttEnabled) {
        Family(out, "quillex_mqtt_connected", "gauge", "1 while connected to the broker.");
        Sample(out, "quillex_mqtt_connected", {}, Counters.MqttConnected ? 1 : 0);
        Family(out, "quillex_mqtt_dropped_messages_total", "counter",
               "Messages dropped because the queue to the broker was full.");
        Sample(out, "quillex_mqtt_dropped_messages_total", {}, double(Counters.MqttDropped));
    }
    return out;
}

bool ParseIsoTime(const std::string& Text, double& Days)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    if (!Digits(Text, 0, 4, y) || Text.size() < 10 || Text[4] != '-' || !Digits(Text, 5, 2, mo) ||
        Text[7] != '-' || !Digits(Text, 8, 2, d))
        return false;
    size_t at = 10;
    if (at < Text.size() && (Text[at] == 'T' || Text[at] == ' ')) {
        if (!Digits(Text, at + 1, 2, h) || at + 3 >= Text.size() || Text[at + 3] != ':' ||
            !Digits(Text, at + 4, 2, mi))
            return false;
        at += 6;
        if (at < Text.size() && Text[at] == ':') {
            if (!Digits(Text, at + 1, 2, s))
                return false;
            at += 3;
            if (at < Text.size() && (Text[at] == '.' || Text[at] == ',')) {
                size_t end = ++at;
                while (end < Text.size() && Text[end] >= '0' && Text[end] <= '9')
                    ++end;
                if (end == at)
                    return false;
                double fraction = 0;
                const std::string digits = "0." + Text.substr(at, end - at);
                std::from_chars(digits.data(), digits.data() + digits.size(), fraction);
                ms = int(std::lround(fraction * 1000));
                at = end;
            }
        }
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return false;
    if (at == Text.size()) {
        Days = EncodeDateTime(y, mo, d, h, mi, s, ms);
        return true;
    }
    int zoneMinutes = 0;
    if (Text.substr(at) != "Z") {
        int zh = 0, zm = 0;
        if (Text.size() != at + 6 || (Text[at] != '+' && Text[at] != '-') ||
            !Digits(Text, at + 1, 2, zh) || Text[at + 3] != ':' || !Digits(Text, at + 4, 2, zm))
            return false;
        zoneMinutes = (Text[at] == '-' ? -1 : 1) * (zh * 60 + zm);
    }
    std::tm utc{};
    utc.tm_year = y - 1900;
    utc.tm_mon = mo - 1;
    utc.tm_mday = d;
    utc.tm_hour = h;
    utc.tm_min = mi;
    utc.tm_sec = s;
    const std::time_t t = timegm(&utc) - std::time_t(zoneMinutes) * 60;
    std::tm local{};
    if (!localtime_r(&t, &local))
        return false;
    Days = EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, ms);
    return true;
}

} // namespace quillex::station
