#include "StationMqtt.h"

#include <mosquitto.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>

namespace quillex::station {

namespace {

// Unacknowledged messages handed to the library; beyond them messages wait in our queue, so
// the library's own queue stays small while the broker is slow.
constexpr int MaxInFlight = 100;
constexpr int KeepAliveSeconds = 30;

std::once_flag LibraryInit;

} // namespace

TStationMqtt::TStationMqtt(const TStationOptions& Options, TLogFunction Log)
    : FOptions(Options), FLog(std::move(Log))
{
}

TStationMqtt::~TStationMqtt()
{
    Stop();
}

bool TStationMqtt::Start()
{
    std::call_once(LibraryInit, [] { mosquitto_lib_init(); });
    const std::string id = "quillex-" + FOptions.StationName + "-" + std::to_string(getpid());
    FClient = mosquitto_new(id.c_str(), true, this);
    if (!FClient) {
        FLog(TLogLevel::Error, "MQTT: cannot make a client");
        return false;
    }
    mosquitto_int_option(FClient, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    const std::string status = FOptions.MqttTopic + "/status";
    mosquitto_will_set(FClient, status.c_str(), 7, "offline", 1, true);
    mosquitto_reconnect_delay_set(
        FClient, 1, unsigned(std::max(1.0, FOptions.Limits.MqttRetryMaxSeconds)), true);
    mosquitto_connect_callback_set(FClient, OnConnect);
    mosquitto_disconnect_callback_set(FClient, OnDisconnect);
    mosquitto_publish_callback_set(FClient, OnPublish);
    const std::string where = FOptions.MqttHost + ":" + std::to_string(FOptions.MqttPort);
    const int rc = mosquitto_connect_async(FClient, FOptions.MqttHost.c_str(), FOptions.MqttPort,
                                           KeepAliveSeconds);
    if (rc == MOSQ_ERR_EAI || rc == MOSQ_ERR_INVAL) {
        FLog(TLogLevel::Error, "MQTT: " + where + ": " + mosquitto_strerror(rc));
        mosquitto_destroy(FClient);
        FClient = nullptr;
        return false;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        std::lock_guard lock(FLock);
        FOutage = true;
        FLog(TLogLevel::Warning, "MQTT: broker " + where + " not reachable (" +
                                     mosquitto_strerror(rc) + "); trying again with back-off");
    }
    mosquitto_loop_start(FClient);
    FSender = std::thread([this] {
        pthread_setname_np(pthread_self(), "qx-mqtt");
        Send();
    });
    return true;
}

void TStationMqtt::Stop()
{
    if (!FClient)
        return;
    {
        std::lock_guard lock(FLock);
        FStopping = true;
    }
    FWake.notify_all();
    if (FSender.joinable())
        FSender.join();
    if (FConnected) {
        // Said by us on a clean stop; the will covers every other end.
        const std::string status = FOptions.MqttTopic + "/status";
        std::unique_lock lock(FLock);
        int id = 0;
        if (mosquitto_publish(FClient, &id, status.c_str(), 7, "offline", 1, true) ==
            MOSQ_ERR_SUCCESS) {
            FOfflineId = id;
            FWake.wait_for(lock, std::chrono::seconds(1), [this] { return FOfflineSent; });
        }
    }
    mosquitto_disconnect(FClient);
    mosquitto_loop_stop(FClient, false);
    mosquitto_destroy(FClient);
    FClient = nullptr;
    FConnected = false;
}

void TStationMqtt::Publish(const std::string& Topic, std::string Payload)
{
    {
        std::lock_guard lock(FLock);
        if (int(FQueue.size()) >= FOptions.Limits.MqttQueue) {
            ++FDropped;
            return;
        }
        FQueue.emplace_back(FOptions.MqttTopic + "/" + Topic, std::move(Payload));
    }
    FWake.notify_all();
}

void TStationMqtt::Send()
{
    std::unique_lock lock(FLock);
    while (true) {
        FWake.wait(lock, [this] {
            return FStopping || (FConnected && !FQueue.empty() && FInFlight < MaxInFlight);
        });
        // A clean stop hands what is queued to the library first (the last episodes' ends
        // among it), which sends it ahead of "offline".
        if (FStopping && (!FConnected || FQueue.empty()))
            return;
        auto [topic, payload] = std::move(FQueue.front());
        FQueue.pop_front();
        lock.unlock();
        const int rc = mosquitto_publish(FClient, nullptr, topic.c_str(), int(payload.size()),
                                         payload.data(), 1, false);
        lock.lock();
        if (rc == MOSQ_ERR_SUCCESS)
            ++FInFlight;
        else if (rc == MOSQ_ERR_NO_CONN && !FStopping)
            FQueue.emplace_front(std::move(topic), std::move(payload));
        else if (rc == MOSQ_ERR_NO_CONN)
            return;
        else
            ++FDropped;
    }
}

void TStationMqtt::OnConnect(mosquitto* Client, void* Self, int Code)
{
    auto& self = *static_cast<TStationMqtt*>(Self);
    if (Code != 0)
        return;
    const std::string status = self.FOptions.MqttTopic + "/status";
    mosquitto_publish(Client, nullptr, status.c_str(), 6, "online", 1, true);
    {
        std::lock_guard lock(self.FLock);
        self.FInFlight = 0;
        if (self.FOutage)
            self.FLog(TLogLevel::Info, "MQTT: connected to " + self.FOptions.MqttHost + ":" +
                                           std::to_string(self.FOptions.MqttPort) + " again");
        self.FOutage = false;
        self.FConnected = true;
    }
    self.FWake.notify_all();
}

void TStationMqtt::OnDisconnect(mosquitto*, void* Self, int Code)
{
    auto& self = *static_cast<TStationMqtt*>(Self);
    std::lock_guard lock(self.FLock);
    self.FConnected = false;
    if (Code != 0 && !self.FOutage && !self.FStopping) {
        self.FOutage = true;
        self.FLog(TLogLevel::Warning, "MQTT: lost the broker " + self.FOptions.MqttHost + ":" +
                                          std::to_string(self.FOptions.MqttPort) +
                                          "; trying again with back-off, messages queued");
    }
}

void TStationMqtt::OnPublish(mosquitto*, void* Self, int Id)
{
    auto& self = *static_cast<TStationMqtt*>(Self);
    {
        std::lock_guard lock(self.FLock);
        if (self.FInFlight > 0)
            --self.FInFlight;
        if (Id == self.FOfflineId)
            self.FOfflineSent = true;
    }
    self.FWake.notify_all();
}

} // namespace quillex::station
