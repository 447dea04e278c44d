// The station's request handling on arbitrary bytes: parsed with the server's limits and
// answered as the server answers. Every answer must be one the station gives, nothing but the
// page, /ws and the API may succeed, and nothing may succeed without the token.
#include "FuzzSupport.h"
#include "StationHttp.h"
#include "StationPeaks.h"

#include <cmath>

using namespace quillex;
using namespace quillex::station;

namespace {

constexpr const char* Token = "fuzz-token.42";

TStationState& State()
{
    static TStationState s("fuzz");
    static const bool filled = [] {
        s.SetStatus({"sim", true, true, {{"window", "hann"}}, 2, 10.5, {}});
        s.AddBands({{46000.5, true, 10, "b\"and\n", 7.0, 7.2, -60, -150, 5, 3, 7.1, -40}});
        s.AddEvent({true, 46000.5, 46000.6, 1, 9, "upper", 7.1, -40, 3});
        return true;
    }();
    return filled ? s : s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    static TPeakSearch search;
    static std::vector<float> frame = [] {
        std::vector<float> m(256, 1.0f);
        m[100] = 5000, m[99] = m[101] = 2500;
        return m;
    }();
    TRouteContext context;
    context.State = &State();
    context.Token = Token;
    context.Counters = [] { return TCounters{100, 0, 256, 1, 10, true, false, 3}; };
    context.Peaks = [](int Count) {
        return PeaksJson(search, frame.data(), 256, 46000.5, TDisplayMapping{}, Count);
    };
    context.WebClientsFull = Size % 2 == 1;

    http::request_parser<http::empty_body> parser;
    parser.header_limit(8192);
    parser.body_limit(0);
    boost::beast::error_code error;
    parser.put(boost::asio::buffer(Data, Size), error);
    TResponse response;
    if (error == http::error::need_more || (!error && !parser.is_done()))
        return 0; // the server waits for the rest, then closes on the idle time
    if (error) {
        const auto status = error == http::error::header_limit
                                ? http::status::request_header_fields_too_large
                            : error == http::error::body_limit ? http::status::payload_too_large
                                                               : http::status::bad_request;
        Refusal(status, response);
        FUZZ_CHECK(!response.keep_alive() && response.body().find("error") != std::string::npos,
                   "refusal");
        return 0;
    }
    const std::string input(reinterpret_cast<const char*>(Data), Size);
    const TRequest& request = parser.get();
    const TRoute route = RouteRequest(request, context, response);
    const std::string target(request.target());
    if (route == TRoute::Upgrade) {
        FUZZ_CHECK(target.rfind("/ws", 0) == 0 && !context.WebClientsFull, "upgrade");
        FUZZ_CHECK(input.find(Token) != std::string::npos, "upgrade without the token");
        return 0;
    }
    const int status = response.result_int();
    FUZZ_CHECK(status == 200 || status == 400 || status == 401 || status == 403 || status == 404 ||
                   status == 405 || status == 426 || status == 503,
               "status");
    FUZZ_CHECK(response[http::field::content_length] == std::to_string(response.body().size()),
               "length");
    if (status == 200) {
        FUZZ_CHECK(input.find(Token) != std::string::npos, "an answer without the token");
        FUZZ_CHECK(request.method() == http::verb::get, "a method other than GET");
        if (target.rfind("/api/", 0) == 0)
            FUZZ_CHECK(nlohmann::json::accept(response.body()), "JSON");
    }
    return 0;
}
