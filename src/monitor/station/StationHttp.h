#pragma once

#include "StationState.h"

#include <boost/beast/http.hpp>

#include <functional>
#include <string>

// What the station answers to one request, apart from the sockets: the routes, the token and
// the refusals. The server calls it for every request it parsed; the fuzz target calls it too.
namespace quillex::station {

namespace http = boost::beast::http;
using TRequest = http::request<http::empty_body>;
using TResponse = http::response<http::string_body>;

struct TRouteContext
{
    const TStationState* State = nullptr;
    std::string Token; // empty: no token needed
    std::function<TCounters()> Counters;
    // The strongest Count peaks of the latest frame as the API's JSON.
    std::function<std::string(int Count)> Peaks;
    bool WebClientsFull = false; // the next viewer gets 503
};

// The WebSocket subprotocol the page offers; a token may come as "quillex-token.<T>" beside it,
// since a browser cannot set the Authorization header of a WebSocket.
inline constexpr const char* WsProtocol = "quillex";

enum class TRoute { Respond, Upgrade };

// True when the WebSocket request offers the page's subprotocol (the answer must then name it).
bool OffersProtocol(const TRequest& Request);

// Fills Response (status, headers, body; keep-alive as the request asks) or says Upgrade for an
// authorised WebSocket request of /ws.
TRoute RouteRequest(const TRequest& Request, const TRouteContext& Context, TResponse& Response);

// The response to a request that could not be parsed or was too large.
void Refusal(http::status Status, TResponse& Response);

// Equal texts, in a time that depends only on Expected's length.
bool SameToken(std::string_view Given, std::string_view Expected);

// The built-in page.
const std::string& StationPage();

} // namespace quillex::station
