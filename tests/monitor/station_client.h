#pragma once

// What the station's tests and benchmark use to reach it: requests with deadlines, a viewer of
// /ws, child processes, and headless Chromium through its DevTools protocol.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quillex::station::test {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

inline tcp::endpoint Loopback(int Port)
{
    return {net::ip::make_address("127.0.0.1"), uint16_t(Port)};
}

inline Clock::time_point After(double Seconds)
{
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(Seconds));
}

inline std::string ReadFile(const std::string& Path)
{
    std::ifstream file(Path);
    return {std::istreambuf_iterator<char>(file), {}};
}

inline std::vector<std::string> Split(const std::string& Text, char By)
{
    std::vector<std::string> parts;
    std::istringstream in(Text);
    for (std::string part; std::getline(in, part, By);)
        parts.push_back(part);
    return parts;
}

// Sends Raw and returns what came back until the server closed. Reads here have no deadline: a
// server that hangs fails the test by its time limit.
inline std::string RawExchange(int Port, const std::string& Raw)
{
    net::io_context io;
    tcp::socket socket(io);
    beast::error_code error;
    socket.connect(Loopback(Port), error);
    net::write(socket, net::buffer(Raw), error);
    std::string got;
    char chunk[4096];
    for (size_t n = 0; !error; got.append(chunk, n))
        n = socket.read_some(net::buffer(chunk), error);
    return got;
}

struct TReply
{
    int Status = 0; // 0 when the connection was closed without an answer
    std::string Body;
};

inline TReply Request(int Port, const std::string& Target, const std::string& Headers = "",
                      const std::string& Method = "GET")
{
    net::io_context io;
    tcp::socket socket(io);
    beast::error_code error;
    socket.connect(Loopback(Port), error);
    net::write(socket,
               net::buffer(Method + " " + Target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + Headers +
                           "Connection: close\r\n\r\n"),
               error);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response, error);
    return error ? TReply{} : TReply{int(response.result_int()), response.body()};
}

// A decoded row of /ws.
struct TRow
{
    uint32_t Columns = 0, Frames = 0, N = 0;
    double Time = 0, LowMHz = 0, HighMHz = 0;
    uint64_t Total = 0;
    std::vector<float> Levels;
};

class TViewerClient
{
    net::io_context FIo; // made before the stream that uses it

public:
    beast::websocket::stream<tcp::socket> Ws{FIo};

    // Protocols: the subprotocols offered ("quillex", "quillex-token.T"). Throws when refused.
    explicit TViewerClient(int Port, const std::string& Protocols = "quillex",
                           const std::string& Target = "/ws", int ReceiveBuffer = 0)
    {
        Ws.next_layer().open(tcp::v4());
        if (ReceiveBuffer > 0)
            Ws.next_layer().set_option(net::socket_base::receive_buffer_size(ReceiveBuffer));
        Ws.next_layer().connect(Loopback(Port));
        Ws.set_option(beast::websocket::stream_base::decorator(
            [Protocols](beast::websocket::request_type& R) {
                if (!Protocols.empty())
                    R.set(http::field::sec_websocket_protocol, Protocols);
            }));
        Ws.read_message_max(64 << 20);
        Ws.handshake("127.0.0.1:" + std::to_string(Port), Target);
    }
    void Send(const std::string& Text)
    {
        Ws.text(true);
        Ws.write(net::buffer(Text));
    }
    // The next message; none when the server closed.
    std::optional<std::string> Message()
    {
        beast::flat_buffer buffer;
        beast::error_code error;
        Ws.read(buffer, error);
        return error ? std::nullopt : std::optional(beast::buffers_to_string(buffer.data()));
    }
    // The next row; false when the server closed or the row is malformed.
    bool Next(TRow& Row)
    {
        const auto m = Message();
        if (!m || m->size() < 48 || m->substr(0, 4) != "QXR1")
            return false;
        const auto get = [&](size_t At, auto& Value) {
            std::memcpy(&Value, m->data() + At, sizeof Value);
        };
        get(4, Row.Columns), get(8, Row.Time), get(16, Row.LowMHz), get(24, Row.HighMHz);
        get(32, Row.Frames), get(36, Row.N), get(40, Row.Total);
        Row.Levels.resize(Row.Columns);
        if (m->size() != 48 + 4 * size_t(Row.Columns))
            return false;
        std::memcpy(Row.Levels.data(), m->data() + 48, 4 * size_t(Row.Columns));
        return true;
    }
};

// A child process with its standard output and error in files.
struct TProcess
{
    int Pid = -1;
    std::string Out, Err;

    TProcess(const std::vector<std::string>& Args, const std::string& LogBase)
        : Out(LogBase + ".out"), Err(LogBase + ".err")
    {
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&files, 2, Err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<char*> argv;
        for (const std::string& a : Args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawnp(&Pid, argv[0], &files, nullptr, argv.data(), environ) != 0)
            Pid = -1;
        posix_spawn_file_actions_destroy(&files);
    }
    ~TProcess()
    {
        Kill(SIGKILL);
        Wait();
    }
    void Kill(int Signal)
    {
        if (Pid > 0)
            kill(Pid, Signal);
    }
    int Wait() // exit code, or 128 + signal
    {
        int status = 0;
        if (Pid <= 0 || waitpid(Pid, &status, 0) != Pid)
            return -1;
        Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Stderr() const { return ReadFile(Err); }
    // Every whole line of standard output (and error) starting with Prefix, without it.
    std::vector<std::string> Lines(const std::string& Prefix, bool Both = false) const
    {
        std::vector<std::string> lines;
        std::istringstream text(ReadFile(Out) + (Both ? ReadFile(Err) : ""));
        for (std::string line; std::getline(text, line);)
            if (line.rfind(Prefix, 0) == 0 && !text.eof())
                lines.push_back(line.substr(Prefix.size()));
        return lines;
    }
    std::optional<std::string> Await(const std::string& Prefix, double TimeoutS = 10) const
    {
        for (const auto end = After(TimeoutS); Clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            if (const auto lines = Lines(Prefix, true); !lines.empty())
                return lines.front();
        return std::nullopt;
    }
};

inline std::string ScratchDir(const std::string& Name)
{
    const auto root =
        std::filesystem::temp_directory_path() / ("quillex-station-" + std::to_string(getpid()));
    // An earlier process of the same number may have left its files (a receiver told to fail,
    // an event log): each process starts from an empty folder.
    static const auto cleared = std::filesystem::remove_all(root);
    (void)cleared;
    const auto dir = root / Name;
    std::filesystem::create_directories(dir);
    return dir.string();
}

// Headless Chromium with a page open at Url, driven through DevTools.
class TBrowser
{
public:
    TBrowser(const std::string& Url, int Width, int Height)
    {
        static int made = 0;
        const std::string dir = ScratchDir("chromium-" + std::to_string(made++));
        FChrome = std::make_unique<TProcess>(
            std::vector<std::string>{
                "chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                "--no-first-run", "--disable-background-networking", "--disable-component-update",
                "--disable-dev-shm-usage", "--disable-sync", "--user-data-dir=" + dir,
                "--remote-debugging-port=0",
                "--window-size=" + std::to_string(Width) + "," + std::to_string(Height),
                "about:blank"},
            dir + "/chromium");
        const auto ws = FChrome->Await("DevTools listening on ws://127.0.0.1:", 30);
        if (!ws)
            throw std::runtime_error("chromium did not start: " + FChrome->Stderr());
        // A new page at Url, and its own DevTools socket.
        const std::string page =
            json::parse(Request(std::stoi(*ws), "/json/new?" + Url, "", "PUT").Body)
                .at("webSocketDebuggerUrl");
        FPage = std::make_unique<TViewerClient>(std::stoi(*ws), "",
                                                page.substr(page.find("/devtools/")));
    }
    ~TBrowser() // a clean end, so that the browser reaps its own helpers
    {
        FPage.reset();
        FChrome->Kill(SIGTERM);
        FChrome->Wait();
    }
    json Call(const std::string& Method, const json& Params = json::object())
    {
        const int id = ++FLastId;
        FPage->Send(json{{"id", id}, {"method", Method}, {"params", Params}}.dump());
        while (const auto text = FPage->Message()) {
            const json message = json::parse(*text);
            if (message.value("id", 0) == id && message.contains("error"))
                throw std::runtime_error(message.dump());
            if (message.value("id", 0) == id)
                return message["result"];
        }
        throw std::runtime_error("no answer from chromium to " + Method);
    }
    json Evaluate(const std::string& Expression)
    {
        return Call("Runtime.evaluate", {{"expression", Expression}, {"returnByValue", true}})
            .at("result")
            .value("value", json());
    }
    std::string ScreenshotPngBase64() { return Call("Page.captureScreenshot").at("data"); }
    void Click(double X, double Y)
    {
        for (const char* type : {"mousePressed", "mouseReleased"})
            Call("Input.dispatchMouseEvent",
                 {{"type", type}, {"x", X}, {"y", Y}, {"button", "left"}, {"clickCount", 1}});
    }

private:
    std::unique_ptr<TProcess> FChrome;
    std::unique_ptr<TViewerClient> FPage;
    int FLastId = 0;
};

} // namespace quillex::station::test
