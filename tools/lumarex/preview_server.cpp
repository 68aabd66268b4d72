// SPDX-License-Identifier: MIT
#include "preview_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "preview_assets.h"
#include "stop.h"

namespace lumarex_cli {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The most a request may be, its line and headers and body together: the
// body is at most kMaxBody, and the page's longest request line (every
// setting changed) is under 2 KiB.
constexpr size_t kMaxBody = 64 * 1024;
constexpr size_t kMaxRequestBytes = kMaxBody + 32 * 1024;
// Requests served on one connection before it is closed.
constexpr int kRequestsPerConnection = 100;
// How often a wait looks whether the server is stopping.
constexpr std::chrono::milliseconds kStopPoll{50};

// Waits until `sock` is ready for `events`, at most until `by`, looking
// every kStopPoll whether to give up. True when ready (or closed or failed:
// the next call on the socket says which).
bool WaitReady(int sock, short events, Clock::time_point by, const std::function<bool()>& stopping) {
    for (;;) {
        if (stopping()) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(by - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{sock, events, 0};
        const int r = ::poll(&p, 1, int(std::min(left, kStopPoll).count()));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

std::string NumericAddress(const sockaddr_storage& a, socklen_t len, int& port) {
    char host[NI_MAXHOST], serv[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&a), len, host, sizeof host, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    port = std::atoi(serv);
    return host;
}

// A connection's socket as the HTTP parser reads and writes it, with
// deadlines for the whole of a request and of an answer rather than for each
// read: a client that sends a byte now and then cannot hold a worker.
class DeadlineStream final : public httplib::Stream {
public:
    DeadlineStream(int sock, std::function<bool()> stopping) : sock_(sock), stopping_(std::move(stopping)) {}

    // Whether a read failed: the request came too slowly or too large, or
    // the client went. Its connection serves no more requests.
    bool CutOff() const { return cutOff_; }

    // Waits up to `within` for the next request to begin.
    bool WaitForRequest(std::chrono::milliseconds within) {
        return off_ < len_ || WaitReady(sock_, POLLIN, Clock::now() + within, stopping_);
    }
    // The request that has begun must have arrived whole within `within`;
    // its answer is then timed from its first write.
    void BeginRequest(std::chrono::milliseconds within, std::chrono::milliseconds answer) {
        readBy_ = Clock::now() + within;
        answerWithin_ = answer;
        writing_ = false;
        requestBytes_ = 0;
    }

    bool is_readable() const override {
        return off_ < len_ || WaitReady(sock_, POLLIN, readBy_, stopping_);
    }
    bool is_writable() const override { return WaitReady(sock_, POLLOUT, WriteBy(), stopping_); }

    ssize_t read(char* ptr, size_t size) override {
        if (off_ == len_) {
            if (requestBytes_ >= kMaxRequestBytes || !WaitReady(sock_, POLLIN, readBy_, stopping_)) {
                cutOff_ = true;
                return -1;
            }
            ssize_t n;
            do n = ::recv(sock_, buffer_.data(), buffer_.size(), 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0) {
                cutOff_ = true;
                return n < 0 ? -1 : 0;
            }
            off_ = 0, len_ = size_t(n);
            requestBytes_ += size_t(n);
        }
        const size_t n = std::min(size, len_ - off_);
        std::memcpy(ptr, buffer_.data() + off_, n);
        off_ += n;
        return ssize_t(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!writing_) writeBy_ = Clock::now() + answerWithin_, writing_ = true;
        if (!WaitReady(sock_, POLLOUT, writeBy_, stopping_)) return -1;
        ssize_t n;
        do n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        port = 0;
        ip = getpeername(sock_, reinterpret_cast<sockaddr*>(&a), &len) == 0 ? NumericAddress(a, len, port) : "";
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        port = 0;
        ip = getsockname(sock_, reinterpret_cast<sockaddr*>(&a), &len) == 0 ? NumericAddress(a, len, port) : "";
    }
    socket_t socket() const override { return sock_; }

private:
    Clock::time_point WriteBy() const { return writing_ ? writeBy_ : Clock::now() + answerWithin_; }

    const int sock_;
    const std::function<bool()> stopping_;
    std::array<char, 4096> buffer_{};
    size_t off_ = 0, len_ = 0;
    size_t requestBytes_ = 0;
    Clock::time_point readBy_ = Clock::now(), writeBy_ = Clock::now();
    std::chrono::milliseconds answerWithin_{0};
    bool writing_ = false;
    bool cutOff_ = false;
};

void SendJson(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    // A photo's name that is not UTF-8 gets U+FFFD for its odd bytes.
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& error) {
    SendJson(res, status, {{"error", error}});
}

// The query's parameters without the token, which is the server's and no
// setting.
RequestParams ParamsOf(const httplib::Request& req) {
    RequestParams params;
    for (const auto& [k, v] : req.params)
        if (k != "token") params.emplace_back(k, v);
    return params;
}

// The request's query as sent, after the '?'.
std::string_view QueryOf(const httplib::Request& req) {
    const size_t question = req.target.find('?');
    return question == std::string::npos ? std::string_view() : std::string_view(req.target).substr(question + 1);
}

// "1.5" with up to three decimals, for the area header.
std::string Decimal(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3f", v);
    return b;
}

bool Digits(std::string_view s, size_t most) {
    return !s.empty() && s.size() <= most &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// 127.x.y.z written as four decimal numbers 0..255 without leading zeros
// (a leading zero makes some resolvers read the number as octal).
bool IsLoopbackIPv4(std::string_view s) {
    int numbers = 0;
    for (size_t start = 0; start <= s.size(); ++numbers) {
        const size_t dot = std::min(s.find('.', start), s.size());
        const std::string_view number = s.substr(start, dot - start);
        if (numbers == 4 || !Digits(number, 3) || (number.size() > 1 && number[0] == '0')) return false;
        const int value = std::stoi(std::string(number));
        if (value > 255 || (numbers == 0 && value != 127)) return false;
        start = dot + 1;
    }
    return numbers == 4;
}

bool IsLocalhost(std::string_view s) {
    return s.size() == 9 && std::equal(s.begin(), s.end(), "localhost", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

}  // namespace

// The HTTP server with connections of our own: each is read through a
// DeadlineStream, and the port is bound without sharing.
class HttpServer final : public httplib::Server {
public:
    HttpServer(const ConnectionLimits& limits, std::function<bool()> stopping)
        : limits_(limits), stopping_(std::move(stopping)) {
        const int workers = limits_.workers;
        new_task_queue = [workers] { return new httplib::ThreadPool(size_t(workers)); };
        // Only for the Keep-Alive header of answers: the connections here
        // keep these limits themselves.
        set_keep_alive_max_count(size_t(kRequestsPerConnection));
        set_keep_alive_timeout(std::max<time_t>(1, time_t(limits_.keepAlive.count() / 1000)));
        // Address reuse lets a server start again on the port at once after
        // another stopped; port sharing (which the library would set) would
        // let a second server start beside a running one.
        set_socket_options([](socket_t sock) {
            const int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
    }

    // A deeper queue of connections not yet accepted than the library's 5,
    // so that a burst of connections is not made to wait for a retry.
    void DeepenBacklog() {
        if (svr_sock_ != INVALID_SOCKET) ::listen(svr_sock_, 128);
    }

    bool Stopped() const { return svr_sock_ == INVALID_SOCKET || stopping_(); }

private:
    bool process_and_close_socket(socket_t sock) override {
        const int active = ++active_;
        const bool busy = active > limits_.workers / 2;
        DeadlineStream stream(sock, [this] { return Stopped(); });
        for (int served = 0; served < kRequestsPerConnection && !Stopped(); ++served) {
            const auto wait = served > 0 ? limits_.keepAlive : busy ? limits_.busyFirstByte : limits_.firstByte;
            if (!stream.WaitForRequest(wait)) break;
            stream.BeginRequest(busy ? limits_.busyWholeRequest : limits_.wholeRequest, limits_.wholeAnswer);
            const bool last = busy || served + 1 == kRequestsPerConnection;
            bool closed = false;
            if (!process_request(stream, last, closed, [](httplib::Request&) {}) || closed || last ||
                stream.CutOff())
                break;
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        --active_;
        return true;
    }

    const ConnectionLimits limits_;
    const std::function<bool()> stopping_;
    std::atomic<int> active_{0};
};

bool Generations::Begin(const std::string& client, unsigned long long gen) {
    if (client.empty()) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = clients_.find(client);
    if (it == clients_.end()) {
        if (clients_.size() >= kMaxClients) {
            auto oldest = clients_.begin();
            for (auto i = clients_.begin(); i != clients_.end(); ++i)
                if (i->second.heard < oldest->second.heard) oldest = i;
            clients_.erase(oldest);
        }
        it = clients_.emplace(client, Entry{gen, 0}).first;
    }
    it->second.heard = ++clock_;
    if (gen < it->second.gen) return false;
    it->second.gen = gen;
    return true;
}

bool Generations::Overtaken(const std::string& client, unsigned long long gen) const {
    if (client.empty()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = clients_.find(client);
    return it != clients_.end() && it->second.gen > gen;
}

RenderTurns::Turn RenderTurns::Take(const StopCheck& stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (busy_ < running_) {
        ++busy_;
        return Turn::kGranted;
    }
    if (queued_ >= waiting_) return Turn::kBusy;
    ++queued_;
    while (busy_ >= running_) {
        if (stop()) {
            --queued_;
            return Turn::kStopped;
        }
        freed_.wait_for(lock, std::chrono::milliseconds(10));
    }
    --queued_;
    ++busy_;
    return Turn::kGranted;
}

void RenderTurns::Done() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --busy_;
    }
    freed_.notify_one();
}

bool IsLoopbackAddress(std::string_view address) {
    return IsLocalhost(address) || address == "::1" || IsLoopbackIPv4(address);
}

bool IsLoopbackHost(std::string_view host) {
    std::string_view name = host, port;
    if (!name.empty() && name.front() == '[') {  // [::1]:port
        const size_t close = name.find(']');
        if (close == std::string_view::npos) return false;
        port = name.substr(close + 1);
        name = name.substr(1, close - 1);
        if (name != "::1") return false;
    } else {
        const size_t colon = name.find(':');
        if (colon != std::string_view::npos) port = name.substr(colon), name = name.substr(0, colon);
        if (!IsLocalhost(name) && !IsLoopbackIPv4(name)) return false;
    }
    if (port.empty()) return true;
    return port[0] == ':' && Digits(port.substr(1), 5) && std::stoi(std::string(port.substr(1))) <= 65535;
}

std::string NewToken() {
    unsigned char bytes[24];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        got += size_t(n);
    }
    // Base64 with the URL-safe alphabet: 24 bytes make 32 characters.
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string token;
    for (size_t i = 0; i < sizeof bytes; i += 3) {
        const uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) token += kAlphabet[(v >> shift) & 63];
    }
    return token;
}

bool SameSecret(std::string_view given, std::string_view secret) {
    // Every byte of the secret is compared whatever the given text is, so
    // that the time taken says nothing about how much of it was right.
    unsigned diff = given.size() == secret.size() ? 0u : 1u;
    for (size_t i = 0; i < secret.size(); ++i)
        diff |= unsigned(static_cast<unsigned char>(secret[i]) ^
                         static_cast<unsigned char>(i < given.size() ? given[i] : ~secret[i]));
    return diff == 0;
}

std::string PageWithToken(std::string_view page, std::string_view token) {
    std::string out(page);
    for (const std::string asset : {"\"/preview.css\"", "\"/preview.js\""}) {
        const size_t at = out.find(asset);
        if (at != std::string::npos)
            out.insert(at + asset.size() - 1, "?token=" + std::string(token));
    }
    return out;
}

PreviewServer::PreviewServer(PreviewPhoto& photo, const ConnectionLimits& limits)
    : photo_(photo), server_(std::make_unique<HttpServer>(limits, [this] { return Stopping(); })) {
    Routes();
}

PreviewServer::~PreviewServer() = default;

bool PreviewServer::Stopping() const { return stopping_ || StopRequested(); }

int PreviewServer::Bind(const std::string& address, int port, bool requireToken, std::string& error) {
    loopback_ = IsLoopbackAddress(address);
    token_.clear();
    page_.clear();
    if (!loopback_ || requireToken) {
        token_ = NewToken();
        if (token_.empty()) {
            error = "cannot make a token: the system's random source failed";
            return -1;
        }
        for (const PreviewAsset& a : PreviewAssets())
            if (std::string_view(a.path) == "/")
                page_ = PageWithToken(std::string_view(reinterpret_cast<const char*>(a.data), a.size), token_);
    }
    const int bound = port == 0 ? server_->bind_to_any_port(address) : (server_->bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        error = "cannot listen on " + address + " port " + std::to_string(port) +
                " (in use, or not an address of this machine)";
        return -1;
    }
    server_->DeepenBacklog();
    return bound;
}

void PreviewServer::Run() {
    std::atomic<bool> done{false};
    // The server stops from another thread; stop() before the listening loop
    // has started is lost, so it is repeated until the loop has ended.
    std::thread watcher([&] {
        while (!done) {
            if (Stopping()) server_->stop();
            std::this_thread::sleep_for(kStopPoll);
        }
    });
    server_->listen_after_bind();
    done = true;
    watcher.join();
}

void PreviewServer::Routes() {
    httplib::Server& s = *server_;
    s.set_payload_max_length(kMaxBody);
    // No page may show this one in a frame (where a click could be lured
    // onto Save), guess a type other than the one sent, or learn the
    // token from a Referer.
    s.set_default_headers({{"Content-Security-Policy",
                            "default-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
                           {"X-Frame-Options", "DENY"},
                           {"X-Content-Type-Options", "nosniff"},
                           {"Referrer-Policy", "no-referrer"},
                           {"Cross-Origin-Resource-Policy", "same-origin"}});

    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        using R = httplib::Server::HandlerResponse;
        // A browser names the site a request comes from; only the page
        // itself ("same-origin"), an address typed or bookmarked ("none")
        // and a link followed to the page (a navigation to "/", which costs
        // nothing and cannot be framed) are served. Other clients send no
        // such header.
        const std::string site = req.get_header_value("Sec-Fetch-Site");
        const bool followedLink = req.method == "GET" && req.path == "/" &&
                                  req.get_header_value("Sec-Fetch-Mode") == "navigate" &&
                                  req.get_header_value("Sec-Fetch-Dest") == "document";
        if (!site.empty() && site != "same-origin" && site != "none" && !followedLink) {
            SendError(res, 403, "this server answers its own page only");
            return R::Handled;
        }
        if (loopback_ && (req.get_header_value_count("Host") != 1 || !IsLoopbackHost(req.get_header_value("Host")))) {
            SendError(res, 403, "this server answers requests for localhost only");
            return R::Handled;
        }
        const std::string_view query = QueryOf(req);
        const std::vector<std::string> names = ParameterNames(query);
        if (!token_.empty()) {
            // The token comes in the header X-Lumarex-Token (the page's
            // script), the parameter token (the page's address) or both,
            // each at most once, and every copy must be right.
            const size_t headers = req.get_header_value_count("X-Lumarex-Token");
            const size_t params = size_t(std::count(names.begin(), names.end(), "token"));
            bool ok = headers + params > 0 && headers <= 1 && params <= 1;
            if (headers == 1) ok = SameSecret(req.get_header_value("X-Lumarex-Token"), token_) && ok;
            if (params == 1) ok = SameSecret(req.get_param_value("token"), token_) && ok;
            if (!ok) {
                SendError(res, 403, "this server needs the token of the address lumarex serve printed");
                return R::Handled;
            }
        }
        if (const std::string twice = RepeatedParameter(query); !twice.empty()) {
            SendError(res, 400, "parameter '" + twice.substr(0, 64) + "' given twice");
            return R::Handled;
        }
        if (const std::string bad = MalformedParameter(query); !bad.empty()) {
            SendError(res, 400, "parameter '" + bad.substr(0, 64) + "' has more than one '='");
            return R::Handled;
        }
        return R::Unhandled;
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            SendError(res, res.status, res.status == 404 ? "no such page" : "the request could not be served");
    });
    s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        SendError(res, 500, "internal error");
    });

    for (const PreviewAsset& a : PreviewAssets()) {
        const PreviewAsset* asset = &a;
        s.Get(a.path, [this, asset](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "no-cache");
            if (!page_.empty() && std::string_view(asset->path) == "/")
                return res.set_content(page_, asset->contentType);
            res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->contentType);
        });
    }

    s.Get("/api/settings", [this](const httplib::Request&, httplib::Response& res) {
        const fs::path p(photo_.Path());
        const nlohmann::json photo = {{"name", p.filename().string()},
                                      {"path", photo_.Path()},
                                      {"width", photo_.Width()},
                                      {"height", photo_.Height()},
                                      {"bits", photo_.Bits()}};
        SendJson(res, 200, {{"photo", photo}, {"settings", nlohmann::json::parse(SettingsTableJson())}});
    });

    s.Get("/api/render", [this](const httplib::Request& req, httplib::Response& res) {
        RenderRequest r;
        std::string error;
        if (!ParseRenderRequest(ParamsOf(req), photo_.Width(), photo_.Height(), r, error))
            return SendError(res, 400, error);
        if (!generations_.Begin(r.client, r.generation)) return SendError(res, 409, "overtaken by a newer request");
        const auto overtaken = [this, &r] { return generations_.Overtaken(r.client, r.generation); };
        const StopCheck stop = [&] { return Stopping() || overtaken(); };
        switch (turns_.Take(stop)) {
            case RenderTurns::Turn::kBusy:
                res.set_header("Retry-After", "1");
                return SendError(res, 503, "busy: too many views asked for at once");
            case RenderTurns::Turn::kStopped:
                return overtaken() ? SendError(res, 409, "overtaken by a newer request")
                                   : SendError(res, 503, "stopping");
            case RenderTurns::Turn::kGranted:
                break;
        }
        struct Release {
            RenderTurns& t;
            ~Release() { t.Done(); }
        } release{turns_};
        const auto start = Clock::now();
        RenderedView view;
        if (!photo_.Render(r, stop, view, error))
            return overtaken() ? SendError(res, 409, "overtaken by a newer request")
                               : SendError(res, Stopping() ? 503 : 500, error);
        std::string bytes;
        if (!EncodeForBrowser(view.pic, r.format, photo_.Profile(), stop, bytes, error))
            return SendError(res, Stopping() ? 503 : overtaken() ? 409 : 500, error);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Lumarex-Area",
                       Decimal(view.x) + "," + Decimal(view.y) + "," + Decimal(view.w) + "," + Decimal(view.h));
        res.set_header("X-Lumarex-Render-Ms", std::to_string(ms.count()));
        if (!r.before) {
            res.set_header("X-Lumarex-Summary", SummaryOf(view.outcome));
            std::string reasons;
            for (const std::string& reason : view.reasons) reasons += (reasons.empty() ? "" : "; ") + reason;
            res.set_header("X-Lumarex-Choice", reasons);
        }
        res.set_content(std::move(bytes), r.format == ImageFormat::kPng ? "image/png" : "image/jpeg");
    });

    s.Get("/api/command", [this](const httplib::Request& req, httplib::Response& res) {
        Settings settings = DefaultSettings(Command::kCorrect);
        std::string error;
        if (!ParseSettings(ParamsOf(req), {}, settings, error)) return SendError(res, 400, error);
        // The name a save would take now, so that the command does not
        // write over an earlier save.
        std::string out = SavePathFor(photo_.Path());
        if (out.empty()) out = CorrectedPath(photo_.Path(), 1);  // every name taken: the first
        SendJson(res, 200, {{"command", CorrectCommandLine(photo_.Path(), out, settings)}});
    });

    s.Post("/api/save", [this](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("X-Lumarex") != "save")
            return SendError(res, 403, "a save must carry the header X-Lumarex: save");
        // Settings may also come as a form body: repeated across both, they
        // are refused as in the query.
        const std::string query(QueryOf(req));
        if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
            if (const std::string twice = RepeatedParameter(query + "&" + req.body); !twice.empty())
                return SendError(res, 400, "parameter '" + twice.substr(0, 64) + "' given twice");
            if (const std::string bad = MalformedParameter(req.body); !bad.empty())
                return SendError(res, 400, "parameter '" + bad.substr(0, 64) + "' has more than one '='");
        }
        Settings settings = DefaultSettings(Command::kCorrect);
        std::string error;
        if (!ParseSettings(ParamsOf(req), {}, settings, error)) return SendError(res, 400, error);
        // One save at a time: a second is refused rather than kept waiting.
        std::unique_lock<std::mutex> lock(saving_, std::try_to_lock);
        if (!lock.owns_lock()) return SendError(res, 503, "busy: a save is in progress");
        std::string path, summary;
        if (!photo_.Save(settings, [this] { return Stopping(); }, path, summary, error))
            return SendError(res, Stopping()                              ? 503
                                  : error == PreviewPhoto::kEveryNameTaken ? 409
                                                                          : 500,
                             error);
        std::error_code ec;
        const fs::path absolute = fs::absolute(path, ec);
        SendJson(res, 200,
                 {{"path", ec ? path : absolute.string()},
                  {"summary", summary},
                  {"command", CorrectCommandLine(photo_.Path(), path, settings)}});
    });
}

}  // namespace lumarex_cli
