#include "station_client.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quillex::station::test {

namespace websocket = beast::websocket;

namespace {

void SetTimeout(tcp::socket& Socket, double Seconds)
{
    timeval tv{long(Seconds), long((Seconds - long(Seconds)) * 1e6)};
    setsockopt(Socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(Socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

tcp::endpoint Loopback(int Port)
{
    return {boost::asio::ip::make_address("127.0.0.1"), uint16_t(Port)};
}

// Starts an operation that calls Done when it ends, and runs it until Deadline; past that the
// socket is closed. False when it timed out.
template <typename Start>
bool RunUntil(boost::asio::io_context& Io, tcp::socket& Socket,
              std::chrono::steady_clock::time_point Deadline, Start&& Operation)
{
    bool done = false;
    Operation([&done] { done = true; });
    Io.restart();
    Io.run_until(Deadline);
    if (done)
        return true;
    beast::error_code ignored;
    Socket.close(ignored);
    Io.restart();
    Io.run();
    return false;
}

} // namespace

TReply Request(int Port, const std::string& Target, const std::vector<std::string>& Headers,
               http::verb Method)
{
    boost::asio::io_context io;
    tcp::socket socket(io);
    beast::error_code error;
    socket.connect(Loopback(Port), error);
    if (error)
        return {};
    SetTimeout(socket, 5);
    http::request<http::string_body> request(Method, Target, 11);
    request.set(http::field::host, "127.0.0.1:" + std::to_string(Port));
    for (const std::string& h : Headers)
        request.set(h.substr(0, h.find(':')), h.substr(h.find(':') + 2));
    http::write(socket, request, error);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response, error);
    if (error)
        return {};
    return {int(response.result_int()), response.body(), response.base()};
}

std::string RawExchange(int Port, const std::string& Raw)
{
    boost::asio::io_context io;
    tcp::socket socket(io);
    beast::error_code error;
    socket.connect(Loopback(Port), error);
    boost::asio::write(socket, boost::asio::buffer(Raw), error);
    std::string got;
    char chunk[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!error && RunUntil(io, socket, deadline, [&](auto Done) {
        socket.async_read_some(boost::asio::buffer(chunk),
                               [&, Done](beast::error_code E, size_t N) {
                                   error = E;
                                   got.append(chunk, E ? 0 : N);
                                   Done();
                               });
    }))
        ;
    return got;
}

TViewerClient::TViewerClient(int Port, const std::vector<std::string>& Protocols,
                             const std::string& Target, int ReceiveBuffer)
    : Ws(FIo)
{
    Ws.next_layer().open(tcp::v4());
    if (ReceiveBuffer > 0)
        Ws.next_layer().set_option(boost::asio::socket_base::receive_buffer_size(ReceiveBuffer));
    Ws.next_layer().connect(Loopback(Port));
    SetTimeout(Ws.next_layer(), 5);
    std::string offered;
    for (const std::string& p : Protocols)
        offered += (offered.empty() ? "" : ", ") + p;
    Ws.set_option(websocket::stream_base::decorator([offered](websocket::request_type& R) {
        if (!offered.empty())
            R.set(http::field::sec_websocket_protocol, offered);
    }));
    Ws.read_message_max(64 << 20);
    Ws.handshake("127.0.0.1:" + std::to_string(Port), Target);
}

void TViewerClient::Send(const std::string& Text)
{
    Ws.text(true);
    Ws.write(boost::asio::buffer(Text));
}

bool TViewerClient::Next(TRow& Row, double TimeoutS)
{
    beast::flat_buffer buffer;
    beast::error_code error;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(TimeoutS));
    if (!RunUntil(FIo, Ws.next_layer(), deadline, [&](auto Done) {
            Ws.async_read(buffer, [&, Done](beast::error_code E, size_t) {
                error = E;
                Done();
            });
        }))
        return false;
    if (error || buffer.size() < 48)
        return false;
    const auto* p = static_cast<const uint8_t*>(buffer.data().data());
    if (std::string(reinterpret_cast<const char*>(p), 4) != "QXR1")
        return false;
    const auto get = [&](size_t At, auto& Value) { std::memcpy(&Value, p + At, sizeof Value); };
    get(4, Row.Columns), get(8, Row.Time), get(16, Row.LowMHz), get(24, Row.HighMHz);
    get(32, Row.Frames), get(36, Row.N), get(40, Row.Total);
    if (buffer.size() != 48 + 4 * size_t(Row.Columns))
        return false;
    Row.Levels.resize(Row.Columns);
    std::memcpy(Row.Levels.data(), p + 48, 4 * size_t(Row.Columns));
    return true;
}

TProcess::TProcess(const std::vector<std::string>& Args, const std::string& LogBase)
    : FOut(LogBase + ".out"), FErr(LogBase + ".err")
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& a : Args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

TProcess::~TProcess()
{
    if (Pid > 0) {
        Kill(SIGKILL);
        Wait();
    }
}

std::optional<std::string> TProcess::Await(const std::string& Prefix, double TimeoutS)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(TimeoutS);
    while (std::chrono::steady_clock::now() < end) {
        std::istringstream text(ReadFile(FOut) + ReadFile(FErr));
        for (std::string line; std::getline(text, line);)
            if (line.rfind(Prefix, 0) == 0 && !text.eof())
                return line.substr(Prefix.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

std::vector<std::string> TProcess::Lines(const std::string& Prefix) const
{
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(FOut));
    for (std::string line; std::getline(text, line);)
        if (line.rfind(Prefix, 0) == 0 && !text.eof())
            lines.push_back(line.substr(Prefix.size()));
    return lines;
}

void TProcess::Kill(int Signal)
{
    if (Pid > 0)
        kill(Pid, Signal);
}

int TProcess::Wait()
{
    int status = 0;
    if (Pid <= 0 || waitpid(Pid, &status, 0) != Pid)
        return -1;
    Pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string TProcess::Stderr() const
{
    return ReadFile(FErr);
}

int FreePort()
{
    boost::asio::io_context io;
    tcp::acceptor acceptor(io, Loopback(0));
    return acceptor.local_endpoint().port();
}

std::string ScratchDir(const std::string& Name)
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("quillex-station-" + std::to_string(getpid())) / Name;
    std::filesystem::create_directories(dir);
    return dir.string();
}

std::string ReadFile(const std::string& Path)
{
    std::ifstream file(Path);
    return {std::istreambuf_iterator<char>(file), {}};
}

TBrowser::TBrowser(const std::string& Url, int Width, int Height)
{
    const std::string dir = ScratchDir("chromium-" + std::to_string(FNextId++ + rand()));
    FChrome = std::make_unique<TProcess>(
        std::vector<std::string>{
            "chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
            "--no-first-run", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--user-data-dir=" + dir, "--remote-debugging-port=0",
            "--remote-debugging-address=127.0.0.1",
            "--window-size=" + std::to_string(Width) + "," + std::to_string(Height), "about:blank"},
        dir + "/chromium");
    const auto ws = FChrome->Await("DevTools listening on ws://127.0.0.1:", 30);
    if (!ws)
        throw std::runtime_error("chromium did not start: " + FChrome->Stderr());
    const int port = std::stoi(*ws);
    const TReply created = Request(port, "/json/new?" + Url, {}, http::verb::put);
    const std::string page = json::parse(created.Body).at("webSocketDebuggerUrl");
    FPage = std::make_unique<TViewerClient>(port, std::vector<std::string>{},
                                            page.substr(page.find("/devtools/")));
}

TBrowser::~TBrowser()
{
    FPage.reset();
    FChrome->Kill(SIGTERM);
    FChrome->Wait();
}

json TBrowser::Call(const std::string& Method, const json& Params)
{
    const int id = FNextId++;
    FPage->Send(json{{"id", id}, {"method", Method}, {"params", Params}}.dump());
    while (true) {
        beast::flat_buffer buffer;
        FPage->Ws.read(buffer);
        const json message = json::parse(beast::buffers_to_string(buffer.data()));
        if (message.value("id", 0) == id)
            return message.contains("error") ? throw std::runtime_error(message.dump()),
                   json()                    : message["result"];
    }
}

json TBrowser::Evaluate(const std::string& Expression)
{
    return Call("Runtime.evaluate", {{"expression", Expression}, {"returnByValue", true}})
        .at("result")
        .value("value", json());
}

std::string TBrowser::ScreenshotPng()
{
    return Call("Page.captureScreenshot", {{"format", "png"}}).at("data");
}

void TBrowser::Click(double X, double Y)
{
    for (const char* type : {"mousePressed", "mouseReleased"})
        Call("Input.dispatchMouseEvent",
             {{"type", type}, {"x", X}, {"y", Y}, {"button", "left"}, {"clickCount", 1}});
}

} // namespace quillex::station::test
