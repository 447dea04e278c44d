#include "StationHttp.h"

#include <boost/beast/websocket/rfc6455.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

namespace quillex::station {

namespace {

using Query = std::map<std::string, std::string>;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string Unescape(std::string_view Text)
{
    std::string out;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '%' && i + 2 < Text.size() && HexValue(Text[i + 1]) >= 0 &&
            HexValue(Text[i + 2]) >= 0) {
            out += char(HexValue(Text[i + 1]) * 16 + HexValue(Text[i + 2]));
            i += 2;
        } else {
            out += Text[i] == '+' ? ' ' : Text[i];
        }
    }
    return out;
}

// Splits the target into its path and its query's fields (the last of a repeated name wins).
std::string SplitTarget(std::string_view Target, Query& Fields)
{
    const size_t mark = Target.find('?');
    std::string_view rest = mark == std::string_view::npos ? "" : Target.substr(mark + 1);
    while (!rest.empty()) {
        const size_t amp = rest.find('&');
        const std::string_view field = rest.substr(0, amp);
        const size_t eq = field.find('=');
        Fields[Unescape(field.substr(0, eq))] =
            eq == std::string_view::npos ? "" : Unescape(field.substr(eq + 1));
        rest = amp == std::string_view::npos ? "" : rest.substr(amp + 1);
    }
    return std::string(Target.substr(0, mark));
}

void Reply(TResponse& Response, http::status Status, std::string_view Type, std::string Body)
{
    Response.result(Status);
    Response.set(http::field::content_type, Type);
    Response.set(http::field::cache_control, "no-store");
    Response.set("X-Content-Type-Options", "nosniff");
    Response.body() = std::move(Body);
    Response.prepare_payload();
}

void Error(TResponse& Response, http::status Status, const std::string& Text)
{
    Reply(Response, Status, "application/json", "{\"error\":\"" + Text + "\"}");
}

bool Authorised(const TRequest& Request, const std::string& Path, const Query& Fields,
                const std::string& Token)
{
    if (Token.empty())
        return true;
    const auto auth = Request[http::field::authorization];
    constexpr std::string_view bearer = "Bearer ";
    if (auth.size() > bearer.size() && auth.substr(0, bearer.size()) == bearer)
        return SameToken(auth.substr(bearer.size()), Token);
    if (Path == "/") {
        const auto it = Fields.find("token");
        return it != Fields.end() && SameToken(it->second, Token);
    }
    if (Path == "/ws") {
        constexpr std::string_view prefix = "quillex-token.";
        for (const auto& offered : http::token_list(Request[http::field::sec_websocket_protocol]))
            if (offered.size() > prefix.size() && offered.substr(0, prefix.size()) == prefix)
                return SameToken(offered.substr(prefix.size()), Token);
    }
    return false;
}

// A page of another site must not open a viewer's socket in the viewer's browser: an Origin,
// when sent, names this host.
bool SameOrigin(const TRequest& Request)
{
    const auto origin = Request[http::field::origin];
    if (origin.empty())
        return true;
    const size_t scheme = origin.find("://");
    return scheme != std::string_view::npos &&
           origin.substr(scheme + 3) == Request[http::field::host];
}

const char* const Paths[] = {"/",           "/ws",        "/api/status", "/api/bands",
                             "/api/events", "/api/peaks", "/metrics"};

} // namespace

bool SameToken(std::string_view Given, std::string_view Expected)
{
    unsigned diff = Given.size() == Expected.size() ? 0 : 1;
    for (size_t i = 0; i < Expected.size(); ++i)
        diff |= unsigned(uint8_t(i < Given.size() ? Given[i] : 0) ^ uint8_t(Expected[i]));
    return diff == 0;
}

bool OffersProtocol(const TRequest& Request)
{
    for (const auto& offered : http::token_list(Request[http::field::sec_websocket_protocol]))
        if (offered == WsProtocol)
            return true;
    return false;
}

void Refusal(http::status Status, TResponse& Response)
{
    Response.version(11);
    Response.keep_alive(false);
    Error(Response, Status, std::string(http::obsolete_reason(Status)));
}

TRoute RouteRequest(const TRequest& Request, const TRouteContext& Context, TResponse& Response)
{
    Response.version(Request.version());
    Response.keep_alive(Request.keep_alive());
    Response.set(http::field::server, "quillex-monitor");
    Query fields;
    const std::string path = SplitTarget(Request.target(), fields);
    if (std::find(std::begin(Paths), std::end(Paths), path) == std::end(Paths)) {
        Error(Response, http::status::not_found, "no such path");
        return TRoute::Respond;
    }
    if (Request.method() != http::verb::get) {
        Error(Response, http::status::method_not_allowed, "only GET");
        Response.set(http::field::allow, "GET");
        return TRoute::Respond;
    }
    if (!Authorised(Request, path, fields, Context.Token)) {
        Error(Response, http::status::unauthorized, "a token is needed");
        Response.set(http::field::www_authenticate, "Bearer");
        return TRoute::Respond;
    }
    if (path == "/") {
        Reply(Response, http::status::ok, "text/html; charset=utf-8", StationPage());
        Response.set("Content-Security-Policy",
                     "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                     "connect-src 'self'; img-src data:");
        Response.set("Referrer-Policy", "no-referrer");
        Response.prepare_payload();
        return TRoute::Respond;
    }
    if (path == "/ws") {
        if (!boost::beast::websocket::is_upgrade(Request)) {
            Error(Response, http::status::upgrade_required, "a WebSocket upgrade is needed");
        } else if (!SameOrigin(Request)) {
            Error(Response, http::status::forbidden, "another origin");
        } else if (Context.WebClientsFull) {
            Error(Response, http::status::service_unavailable, "too many viewers");
        } else {
            return TRoute::Upgrade;
        }
        Response.keep_alive(false); // a refused upgrade ends the connection
        return TRoute::Respond;
    }
    if (path == "/metrics") {
        Reply(Response, http::status::ok, "text/plain; version=0.0.4; charset=utf-8",
              Context.State->MetricsText(Context.Counters()));
        return TRoute::Respond;
    }
    std::string body;
    if (path == "/api/status") {
        body = Context.State->StatusJson(Context.Counters());
    } else if (path == "/api/bands") {
        body = Context.State->BandsJson();
    } else if (path == "/api/events") {
        double since = -1e9;
        const auto it = fields.find("since");
        if (it != fields.end() && !ParseIsoTime(it->second, since)) {
            Error(Response, http::status::bad_request,
                  "since: an ISO 8601 time such as 2026-12-07T10:00:00 expected");
            return TRoute::Respond;
        }
        body = Context.State->EventsJson(since);
    } else {
        int count = 5;
        const auto it = fields.find("n");
        if (it != fields.end()) {
            const std::string& n = it->second;
            const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), count);
            if (ec != std::errc() || end != n.data() + n.size() || count < 1 || count > 100) {
                Error(Response, http::status::bad_request, "n: 1..100 expected");
                return TRoute::Respond;
            }
        }
        body = Context.Peaks(count);
    }
    Reply(Response, http::status::ok, "application/json", std::move(body));
    return TRoute::Respond;
}

} // namespace quillex::station
