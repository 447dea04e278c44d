#pragma once

#include "Station.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;

// MQTT messages of the station: a bounded queue filled by any thread, emptied by a sender thread
// into the client library, whose own thread talks to the broker and reconnects with back-off.
// "PREFIX/status" says "online" (retained), and the broker says "offline" for us when we vanish.
namespace quillex::station {

class TStationMqtt
{
public:
    TStationMqtt(const TStationOptions& Options, TLogFunction Log);
    ~TStationMqtt();

    // Starts connecting in the background; false only when the client cannot be made.
    bool Start();
    // Publishes "offline", disconnects and joins the threads.
    void Stop();
    // Queues a message for PREFIX/<Topic>; dropped and counted when the queue is full.
    void Publish(const std::string& Topic, std::string Payload);

    bool Connected() const { return FConnected; }
    int64_t Dropped() const { return FDropped; }

private:
    static void OnConnect(mosquitto*, void* Self, int Code);
    static void OnDisconnect(mosquitto*, void* Self, int Code);
    static void OnPublish(mosquitto*, void* Self, int Id);
    void Send();

    TStationOptions FOptions;
    TLogFunction FLog;
    mosquitto* FClient = nullptr;
    std::thread FSender;

    std::mutex FLock;
    std::condition_variable FWake;
    std::deque<std::pair<std::string, std::string>> FQueue;
    bool FStopping = false;
    int FInFlight = 0;
    int FOfflineId = -1;
    bool FOfflineSent = false;
    bool FOutage = false; // logged once per outage
    std::atomic<bool> FConnected{false};
    std::atomic<int64_t> FDropped{0};
};

} // namespace quillex::station
