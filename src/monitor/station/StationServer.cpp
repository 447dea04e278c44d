#include "StationServer.h"

#include "PeakSearch.h"
#include "StationHttp.h"
#include "StationPeaks.h"
#include "StationRows.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <pthread.h>

#include <chrono>
#include <cmath>
#include <map>
#include <thread>

namespace quillex::station {

namespace beast = boost::beast;
namespace net = boost::asio;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// How often the server takes the feed's frames: rows are due on a grid of this step.
constexpr auto TickPeriod = std::chrono::milliseconds(20);

std::chrono::steady_clock::duration Seconds(double S)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(S));
}

bool IsParseError(const beast::error_code& Error)
{
    return &Error.category() == &beast::http::make_error_code(http::error::bad_method).category();
}

class TViewer;

// Any open connection, so that Stop can close them all and let the thread run out of work.
class TConnection
{
public:
    virtual ~TConnection() = default;
    virtual void Shutdown() = 0;
};

} // namespace

struct TStationServer::TCore
{
    TFrameFeed& Feed;
    TStationState& State;
    TStationOptions Options;
    TLogFunction Log;
    std::function<void(TCounters&)> MoreCounters;

    net::io_context Io{1};
    tcp::acceptor Acceptor{Io};
    net::steady_timer Ticker{Io};
    net::steady_timer Pause{Io};
    std::thread Thread;
    std::atomic<int> BoundPort{0};

    int Connections = 0;
    std::vector<std::weak_ptr<TConnection>> All;
    std::vector<std::weak_ptr<TViewer>> Viewers;
    int64_t RowsSent = 0;
    std::vector<float> Latest = std::vector<float>(TFrameFeed::MaxBins, 0.0f);
    int LatestN = 0;
    double LatestTime = 0;
    TPeakSearch Search;
    std::map<std::string, Clock::time_point> LastComplaint;

    TCore(TFrameFeed& F, TStationState& S, const TStationOptions& O, TLogFunction L,
          std::function<void(TCounters&)> M)
        : Feed(F), State(S), Options(O), Log(std::move(L)), MoreCounters(std::move(M))
    {
    }

    int ViewerCount()
    {
        std::erase_if(Viewers, [](const std::weak_ptr<TViewer>& v) { return v.expired(); });
        return int(Viewers.size());
    }

    TCounters Counters()
    {
        TCounters c;
        c.Frames = Feed.Taken();
        c.RefusedFrames = Feed.Refused();
        c.Bins = LatestN;
        c.WebClients = ViewerCount();
        c.RowsSent = RowsSent;
        if (MoreCounters)
            MoreCounters(c);
        return c;
    }

    // At most one line a minute per peer, so a flood of junk cannot flood the journal.
    void Complain(const std::string& Peer, const std::string& Text)
    {
        const auto now = Clock::now();
        if (LastComplaint.size() > 4096)
            std::erase_if(LastComplaint,
                          [&](const auto& e) { return now - e.second > std::chrono::minutes(1); });
        auto [it, added] = LastComplaint.try_emplace(Peer, now);
        if (!added && now - it->second < std::chrono::minutes(1))
            return;
        it->second = now;
        Log(TLogLevel::Warning, Peer + ": " + Text);
    }

    TRouteContext Context()
    {
        TRouteContext context;
        context.State = &State;
        context.Token = Options.Token;
        context.Counters = [this] { return Counters(); };
        context.Peaks = [this](int Count) {
            return PeaksJson(Search, Latest.data(), LatestN, LatestTime, State.Mapping(), Count);
        };
        context.WebClientsFull = ViewerCount() >= Options.WebClients;
        return context;
    }

    void Accept();
    void Tick();
};

namespace {

std::string PeerOf(const tcp::socket& Socket)
{
    beast::error_code ec;
    const auto peer = Socket.remote_endpoint(ec);
    return ec ? std::string("unknown peer") : peer.address().to_string();
}

// A live viewer: its wish (span, columns), the frames folded since its last row, and at most
// one row on its way. A row due while the last is still being written is skipped, and its
// frames go into the next: a slow viewer gets fewer rows, nobody waits.
class TViewer : public TConnection, public std::enable_shared_from_this<TViewer>
{
public:
    TViewer(beast::tcp_stream&& Stream, TStationServer::TCore& Core, std::string Peer)
        : FWs(std::move(Stream)), FCore(Core), FPeer(std::move(Peer))
    {
        ++FCore.Connections;
    }
    ~TViewer() { --FCore.Connections; }

    void Run(const TRequest& Request)
    {
        beast::get_lowest_layer(FWs).expires_never();
        auto timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
        timeouts.handshake_timeout = Seconds(FCore.Options.Limits.IdleSeconds);
        timeouts.idle_timeout = Seconds(FCore.Options.Limits.IdleSeconds);
        // Pings make a viewer that reads nothing time out, while a quiet page stays.
        timeouts.keep_alive_pings = true;
        FWs.set_option(timeouts);
        FWs.read_message_max(size_t(FCore.Options.Limits.ClientMessageBytes));
        const bool protocol = OffersProtocol(Request);
        FWs.set_option(websocket::stream_base::decorator([protocol](websocket::response_type& R) {
            R.set(http::field::server, "quillex-monitor");
            if (protocol)
                R.set(http::field::sec_websocket_protocol, WsProtocol);
        }));
        FCore.Viewers.push_back(weak_from_this());
        FCore.All.push_back(weak_from_this());
        FPeriod = Seconds(1.0 / FCore.Options.WebFps);
        FDue = Clock::now();
        FWs.async_accept(Request, [self = shared_from_this()](beast::error_code Error) {
            if (Error)
                return;
            self->FOpen = true;
            self->Read();
        });
    }

    void Fold(const TFrameFeed::TFold& Fold)
    {
        if (FFrames == 0 || FN != Fold.N) {
            FMax.assign(Fold.Max, Fold.Max + Fold.N);
            FN = Fold.N;
            FFrames = 0;
        } else {
            for (int k = 0; k < FN; ++k)
                FMax[k] = Fold.Max[k] > FMax[k] ? Fold.Max[k] : FMax[k];
        }
        FFrames += Fold.Frames;
        FTime = Fold.Time;
    }

    void SendIfDue(Clock::time_point Now)
    {
        if (!FOpen || Now < FDue || FFrames == 0)
            return;
        FDue += FPeriod;
        if (FDue < Now)
            FDue = Now;
        if (FWriting)
            return;
        const TDisplayMapping mapping = FCore.State.Mapping();
        const TRowRequest request = ClipRequest(FWish, mapping, FN);
        FLevels.resize(size_t(request.Columns));
        ColumnLevels(FMax.data(), FN, mapping, request, FLevels.data());
        EncodeRow(request, FTime, FFrames, FN, uint64_t(FCore.Feed.Taken()), FLevels.data(), FOut);
        FFrames = 0;
        FWriting = true;
        FWs.binary(true);
        FWs.async_write(net::buffer(FOut),
                        [self = shared_from_this()](beast::error_code Error, size_t) {
                            self->FWriting = false;
                            if (!Error)
                                ++self->FCore.RowsSent;
                        });
    }

    void Shutdown() override
    {
        beast::error_code ignored;
        beast::get_lowest_layer(FWs).socket().close(ignored);
    }

private:
    void Read()
    {
        FWs.async_read(FIn, [self = shared_from_this()](beast::error_code Error, size_t) {
            if (Error) {
                if (Error == websocket::error::message_too_big)
                    self->FCore.Complain(self->FPeer, "viewer message over the limit");
                return;
            }
            self->Take(beast::buffers_to_string(self->FIn.data()));
            self->FIn.clear();
            self->Read();
        });
    }

    // {"span": [low_mhz, high_mhz], "columns": n}; either may be left out.
    void Take(const std::string& Text)
    {
        const auto wish = nlohmann::json::parse(Text, nullptr, false);
        bool good = wish.is_object();
        if (good && wish.contains("span")) {
            const auto& span = wish["span"];
            good =
                span.is_array() && span.size() == 2 && span[0].is_number() && span[1].is_number();
            if (good) {
                FWish.LowMHz = span[0].get<double>();
                FWish.HighMHz = span[1].get<double>();
            }
        }
        if (good && wish.contains("columns")) {
            const auto& columns = wish["columns"];
            good = columns.is_number_integer() && columns.get<int64_t>() >= MinColumns &&
                   columns.get<int64_t>() <= MaxColumns;
            if (good)
                FWish.Columns = columns.get<int>();
        }
        if (!good)
            FCore.Complain(FPeer, "viewer message not understood");
    }

    websocket::stream<beast::tcp_stream> FWs;
    TStationServer::TCore& FCore;
    std::string FPeer;
    beast::flat_buffer FIn;
    TRowRequest FWish{std::nan(""), std::nan(""), 1024};
    std::vector<float> FMax, FLevels;
    int FN = 0;
    int FFrames = 0;
    double FTime = 0;
    std::vector<uint8_t> FOut;
    bool FOpen = false; // rows only after the handshake
    bool FWriting = false;
    Clock::duration FPeriod{};
    Clock::time_point FDue{};
};

// One HTTP connection: requests one after the other, each read within the idle time, bodies
// and oversized headers refused; an upgrade hands the connection to a viewer.
class THttpSession : public TConnection, public std::enable_shared_from_this<THttpSession>
{
public:
    THttpSession(tcp::socket&& Socket, TStationServer::TCore& Core)
        : FStream(std::move(Socket)), FCore(Core), FPeer(PeerOf(FStream.socket()))
    {
        ++FCore.Connections;
    }
    ~THttpSession() { --FCore.Connections; }

    void Shutdown() override
    {
        beast::error_code ignored;
        FStream.socket().close(ignored);
    }

    void Read()
    {
        FParser.emplace();
        FParser->header_limit(uint32_t(FCore.Options.Limits.HeaderBytes));
        FParser->body_limit(0);
        FStream.expires_after(Seconds(FCore.Options.Limits.IdleSeconds));
        http::async_read(
            FStream, FBuffer, *FParser,
            [self = shared_from_this()](beast::error_code Error, size_t) { self->OnRead(Error); });
    }

private:
    void OnRead(beast::error_code Error)
    {
        if (Error == http::error::header_limit) {
            Refuse(http::status::request_header_fields_too_large, "request headers over 8 KiB");
        } else if (Error == http::error::body_limit || Error == http::error::unexpected_body) {
            Refuse(http::status::payload_too_large, "a request with a body");
        } else if (Error == http::error::end_of_stream || Error == beast::error::timeout) {
            Close();
        } else if (IsParseError(Error)) {
            Refuse(http::status::bad_request, "malformed request (" + Error.message() + ")");
        } else if (Error) {
            Close();
        } else {
            const TRequest& request = FParser->get();
            if (RouteRequest(request, FCore.Context(), FResponse) == TRoute::Upgrade) {
                std::make_shared<TViewer>(std::move(FStream), FCore, FPeer)->Run(request);
                return;
            }
            Write();
        }
    }

    void Refuse(http::status Status, const std::string& Why)
    {
        FCore.Complain(FPeer, Why);
        FResponse = {};
        Refusal(Status, FResponse);
        Write();
    }

    void Write()
    {
        FStream.expires_after(Seconds(FCore.Options.Limits.IdleSeconds));
        http::async_write(FStream, FResponse,
                          [self = shared_from_this()](beast::error_code Error, size_t) {
                              if (Error || !self->FResponse.keep_alive())
                                  return self->Close();
                              self->FResponse = {};
                              self->Read();
                          });
    }

    void Close()
    {
        beast::error_code ignored;
        FStream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    beast::tcp_stream FStream;
    TStationServer::TCore& FCore;
    std::string FPeer;
    beast::flat_buffer FBuffer;
    std::optional<http::request_parser<http::empty_body>> FParser;
    TResponse FResponse;
};

} // namespace

void TStationServer::TCore::Accept()
{
    Acceptor.async_accept([this](beast::error_code Error, tcp::socket Socket) {
        if (Error == net::error::operation_aborted)
            return;
        if (Error) { // out of descriptors, say: try again in a while rather than spin
            Complain("server", "cannot accept: " + Error.message());
            Pause.expires_after(std::chrono::milliseconds(100));
            Pause.async_wait([this](beast::error_code Aborted) {
                if (!Aborted)
                    Accept();
            });
            return;
        }
        if (Connections >= Options.Limits.MaxConnections) {
            Complain(PeerOf(Socket),
                     "connection refused: " + std::to_string(Connections) + " connections open");
            beast::error_code ignored;
            Socket.close(ignored);
        } else {
            auto session = std::make_shared<THttpSession>(std::move(Socket), *this);
            std::erase_if(All, [](const std::weak_ptr<TConnection>& c) { return c.expired(); });
            All.push_back(session);
            session->Read();
        }
        Accept();
    });
}

void TStationServer::TCore::Tick()
{
    const TFrameFeed::TFold fold = Feed.Take();
    std::vector<std::shared_ptr<TViewer>> viewers;
    for (const auto& weak : Viewers)
        if (auto viewer = weak.lock())
            viewers.push_back(std::move(viewer));
    if (fold.Frames > 0) {
        std::copy(fold.Latest, fold.Latest + fold.N, Latest.begin());
        LatestN = fold.N;
        LatestTime = fold.Time;
        for (const auto& viewer : viewers)
            viewer->Fold(fold);
    }
    const auto now = Clock::now();
    for (const auto& viewer : viewers)
        viewer->SendIfDue(now);
    Ticker.expires_at(Ticker.expiry() + TickPeriod);
    if (Ticker.expiry() < Clock::now())
        Ticker.expires_after(TickPeriod);
    Ticker.async_wait([this](beast::error_code Error) {
        if (!Error)
            Tick();
    });
}

TStationServer::TStationServer(TFrameFeed& Feed, TStationState& State,
                               const TStationOptions& Options, TLogFunction Log,
                               std::function<void(TCounters&)> MoreCounters)
    : FCore(std::make_unique<TCore>(Feed, State, Options, std::move(Log), std::move(MoreCounters)))
{
}

TStationServer::~TStationServer()
{
    Stop();
}

bool TStationServer::Start()
{
    TCore& core = *FCore;
    beast::error_code error;
    tcp::resolver resolver(core.Io);
    const auto found =
        resolver.resolve(core.Options.ListenHost, std::to_string(core.Options.ListenPort),
                         tcp::resolver::numeric_service, error);
    const std::string where =
        core.Options.ListenHost + ":" + std::to_string(core.Options.ListenPort);
    if (error || found.empty()) {
        core.Log(TLogLevel::Error, "--listen " + where + ": " + error.message());
        return false;
    }
    const tcp::endpoint endpoint = found.begin()->endpoint();
    core.Acceptor.open(endpoint.protocol(), error);
    if (!error)
        core.Acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (!error)
        core.Acceptor.bind(endpoint, error);
    if (!error)
        core.Acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error) {
        core.Log(TLogLevel::Error, "--listen " + where + ": " + error.message());
        return false;
    }
    core.BoundPort = core.Acceptor.local_endpoint().port();
    core.Log(TLogLevel::Info, "station view on http://" + endpoint.address().to_string() + ":" +
                                  std::to_string(core.BoundPort.load()) + "/");
    core.Accept();
    core.Ticker.expires_after(TickPeriod);
    core.Ticker.async_wait([&core](beast::error_code Error) {
        if (!Error)
            core.Tick();
    });
    core.Thread = std::thread([&core] {
        pthread_setname_np(pthread_self(), "qx-station"); // for top -H and the benchmark
        core.Io.run();
    });
    return true;
}

void TStationServer::Stop()
{
    TCore& core = *FCore;
    if (!core.Thread.joinable())
        return;
    // Everything closed on the server's own thread; it then runs out of work and ends.
    net::post(core.Io, [&core] {
        beast::error_code ignored;
        core.Acceptor.close(ignored);
        core.Ticker.cancel();
        core.Pause.cancel();
        for (const auto& weak : core.All)
            if (auto connection = weak.lock())
                connection->Shutdown();
    });
    core.Thread.join();
}

int TStationServer::Port() const
{
    return FCore->BoundPort;
}

} // namespace quillex::station
