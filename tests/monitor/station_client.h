#pragma once

// What the station's tests and benchmark use to reach it: plain HTTP requests, a WebSocket
// viewer, a child process, and headless Chromium through its DevTools protocol.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace quillex::station::test {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;
using nlohmann::json;

struct TReply
{
    int Status = 0; // 0 when the connection failed or was closed without an answer
    std::string Body;
    http::fields Headers;
};

TReply Request(int Port, const std::string& Target, const std::vector<std::string>& Headers = {},
               http::verb Method = http::verb::get);
// Sends Raw as it is and returns what came back before the server closed (or 3 s passed).
std::string RawExchange(int Port, const std::string& Raw);

// A decoded row of /ws.
struct TRow
{
    uint32_t Columns = 0;
    double Time = 0, LowMHz = 0, HighMHz = 0;
    uint32_t Frames = 0, N = 0;
    uint64_t Total = 0;
    std::vector<float> Levels;
};

class TViewerClient
{
    boost::asio::io_context FIo; // made before the stream that uses it

public:
    // Protocols: the subprotocols offered ("quillex", "quillex-token.T").
    explicit TViewerClient(int Port, const std::vector<std::string>& Protocols = {"quillex"},
                           const std::string& Target = "/ws", int ReceiveBuffer = 0);
    void Send(const std::string& Text);
    // The next row; false after TimeoutS seconds or when the server closed.
    bool Next(TRow& Row, double TimeoutS = 3);
    beast::websocket::stream<tcp::socket> Ws;
};

// A child process with its standard output (first line kept) and error in files.
class TProcess
{
public:
    TProcess(const std::vector<std::string>& Args, const std::string& LogBase);
    ~TProcess();
    // Waits up to TimeoutS for a whole line of its output starting with Prefix; the rest of it.
    std::optional<std::string> Await(const std::string& Prefix, double TimeoutS = 10);
    // Every whole line of standard output starting with Prefix, without it.
    std::vector<std::string> Lines(const std::string& Prefix) const;
    void Kill(int Signal);
    int Wait(); // exit code, or 128 + signal
    std::string Stderr() const;
    int Pid = -1;

private:
    std::string FOut, FErr;
};

int FreePort();
std::string ScratchDir(const std::string& Name);
std::string ReadFile(const std::string& Path);

// Headless Chromium with a page open at Url, driven through DevTools.
class TBrowser
{
public:
    TBrowser(const std::string& Url, int Width, int Height);
    ~TBrowser();
    json Call(const std::string& Method, const json& Params = json::object());
    json Evaluate(const std::string& Expression); // the value
    std::string ScreenshotPng();
    void Click(double X, double Y);

private:
    std::unique_ptr<TProcess> FChrome;
    std::unique_ptr<TViewerClient> FPage;
    int FNextId = 1;
};

} // namespace quillex::station::test
