#include "Station.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace quillex::station {

namespace {

bool ParseNumber(const std::string& Text, double& Value)
{
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
    return ec == std::errc() && end == Text.data() + Text.size() && std::isfinite(Value);
}

bool ParseInt(const std::string& Text, int& Value)
{
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
    return ec == std::errc() && end == Text.data() + Text.size() && !Text.empty();
}

// HOST:PORT, [V6]:PORT; the host as written, checked when the socket is bound.
std::string ParseHostPort(const std::string& Name, const std::string& Value, std::string& Host,
                          int& Port)
{
    if (Value.empty()) { // off, as if not given
        Host.clear();
        return {};
    }
    const auto colon = Value.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return "--" + Name + ": HOST:PORT expected, not \"" + Value + "\"";
    std::string host = Value.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    int port = 0;
    if (!ParseInt(Value.substr(colon + 1), port) || port < 0 || port > 65535)
        return "--" + Name + ": port 0..65535 expected in \"" + Value + "\"";
    Host = host;
    Port = port;
    return {};
}

// Letters, digits and "-._~": the token must pass unchanged in a header, a query and a
// WebSocket subprotocol.
std::string CheckToken(const std::string& Token)
{
    if (Token.size() < 8 || Token.size() > 256)
        return "the token must have 8 to 256 characters";
    for (const unsigned char c : Token)
        if (!std::isalnum(c) && c != '-' && c != '.' && c != '_' && c != '~')
            return "the token may hold only letters, digits and - . _ ~";
    return {};
}

bool IsLoopback(const std::string& Host)
{
    if (Host == "localhost")
        return true;
    in_addr v4{};
    if (inet_pton(AF_INET, Host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, Host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

} // namespace

void LogToStderr(TLogLevel Level, const std::string& Text)
{
    static const char* const words[] = {"info", "warning", "error"};
    std::fprintf(stderr, "quillex-monitor: %s: %s\n", words[int(Level)], Text.c_str());
}

bool IsStationOption(const std::string& Name)
{
    for (const char* known : {"listen", "web-fps", "web-clients", "token", "token-file", "mqtt",
                              "mqtt-topic", "station"})
        if (Name == known)
            return true;
    return false;
}

std::string ParseStationOption(const std::string& Name, const std::string& Value,
                               TStationOptions& Options)
{
    if (Name == "listen")
        return ParseHostPort(Name, Value, Options.ListenHost, Options.ListenPort);
    if (Name == "mqtt")
        return ParseHostPort(Name, Value, Options.MqttHost, Options.MqttPort);
    if (Name == "web-fps") {
        double fps = 0;
        if (!ParseNumber(Value, fps) || fps < 0.1 || fps > 50)
            return "--web-fps: rows a second 0.1..50 expected, not \"" + Value + "\"";
        Options.WebFps = fps;
        return {};
    }
    if (Name == "web-clients") {
        int clients = 0;
        if (!ParseInt(Value, clients) || clients < 1 || clients > 64)
            return "--web-clients: 1..64 expected, not \"" + Value + "\"";
        Options.WebClients = clients;
        return {};
    }
    if (Name == "token") {
        if (const std::string error = CheckToken(Value); !error.empty())
            return "--token: " + error;
        Options.Token = Value;
        return {};
    }
    if (Name == "token-file") {
        std::ifstream file(Value);
        std::string token;
        if (!file || !std::getline(file, token))
            return "--token-file: cannot read \"" + Value + "\"";
        while (!token.empty() && (token.back() == '\r' || token.back() == ' '))
            token.pop_back();
        if (const std::string error = CheckToken(token); !error.empty())
            return "--token-file: " + error;
        Options.Token = token;
        return {};
    }
    if (Name == "mqtt-topic") {
        if (Value.empty() || Value.find_first_of("#+") != std::string::npos || Value.back() == '/')
            return "--mqtt-topic: a topic prefix without # + or a trailing / expected";
        Options.MqttTopic = Value;
        return {};
    }
    if (Name == "station") {
        if (Value.empty() || Value.find_first_of("#+/\"") != std::string::npos)
            return "--station: a name without # + / or quotes expected";
        Options.StationName = Value;
        return {};
    }
    return "unknown option";
}

std::string StationOptionsHelp()
{
    return "  --listen HOST:PORT      serve the station view (page, /ws, /api, /metrics); off\n"
           "                          by default; an address other than loopback needs a token\n"
           "  --web-fps F             rows a second to each viewer, 0.1..50 (default 10)\n"
           "  --web-clients N         live viewers at once, 1..64 (default 16)\n"
           "  --token T               required of every request (Authorization: Bearer T)\n"
           "  --token-file F          the token from the first line of F\n"
           "  --mqtt HOST:PORT        publish events, statistics and status to a broker\n"
           "  --mqtt-topic PREFIX     topic prefix (default quillex/<station>)\n"
           "  --station NAME          the station's name (default the host name)\n";
}

std::string CheckStationOptions(TStationOptions& Options)
{
    if (!Options.ListenHost.empty() && !IsLoopback(Options.ListenHost) && Options.Token.empty())
        return "--listen " + Options.ListenHost +
               ": an address other than loopback needs --token or --token-file";
    if (Options.StationName.empty()) {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        Options.StationName = host[0] ? host : "station";
    }
    if (Options.MqttTopic.empty())
        Options.MqttTopic = "quillex/" + Options.StationName;
    return {};
}

} // namespace quillex::station
