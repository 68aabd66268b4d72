// SPDX-License-Identifier: MIT
// The HTTP side of `lumarex serve`: the page and its script from the binary,
// the settings table as JSON, corrected views, the command line and Save.
//
//   GET  /                 the page (also /preview.css, /preview.js)
//   GET  /api/settings     {"photo": {...}, "settings": [the table]}
//   GET  /api/render       a view as JPEG or PNG (preview_request.h); the
//                          area it shows in the header X-Lumarex-Area
//   GET  /api/command      {"command": "lumarex correct ..."}
//   POST /api/save         writes the corrected photo beside the original:
//                          {"path": ..., "summary": ..., "command": ...}
//
// A bad request gets 400 with {"error": "..."}; a render overtaken by a newer
// one of the same client (a higher gen) gets 409 and stops where it is; a
// render that finds the renders' queue full gets 503.
//
// Who may ask: on a loopback address only requests whose Host is a loopback
// literal ("localhost", 127.x.y.z, "[::1]"), so that a web page cannot reach
// the server through a name of its own that resolves here. On any other
// address (or with a token asked for) every request must carry the server's
// random token. Save must carry the header "X-Lumarex: save", which a page
// of another site cannot send without asking first, and requests a browser
// marks as sent by another site are refused. Every answer forbids framing.
//
// What a client can hold: each request must arrive whole within a few
// seconds and each answer be taken within a deadline, a stop ends every
// connection within 50 ms, and renders share two turns and a short queue.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "preview_photo.h"

namespace lumarex_cli {

class HttpServer;

// The newest request number of each client, to drop overtaken renders.
class Generations {
public:
    // Notes `gen` as the client's newest, unless a newer one is known: then
    // returns false. A request without a client is never overtaken.
    bool Begin(const std::string& client, unsigned long long gen);
    bool Overtaken(const std::string& client, unsigned long long gen) const;

    // Clients remembered at most; the one heard from longest ago is
    // forgotten first.
    static constexpr size_t kMaxClients = 256;

private:
    struct Entry {
        unsigned long long gen = 0;
        uint64_t heard = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Entry> clients_;
    uint64_t clock_ = 0;
};

// Turns for renders: `running` at work at once (correcting, copying or
// encoding), up to `waiting` more waiting for a turn; one more is refused at
// once, so that a flood of requests costs neither threads nor memory.
class RenderTurns {
public:
    RenderTurns(int running, int waiting) : running_(running), waiting_(waiting) {}

    enum class Turn { kGranted, kBusy, kStopped };
    // Waits for a turn, polling `stop` every 10 ms; kBusy when the queue is
    // full, kStopped when `stop` says so first. A granted turn is given back
    // with Done.
    Turn Take(const StopCheck& stop);
    void Done();

private:
    const int running_, waiting_;
    std::mutex mutex_;
    std::condition_variable freed_;
    int busy_ = 0, queued_ = 0;
};

// How long a client may take, and how many it may be.
struct ConnectionLimits {
    int workers = 32;                                   // connections served at once
    std::chrono::milliseconds firstByte{2000};          // a new connection's request starts within
    std::chrono::milliseconds wholeRequest{2000};       // and has arrived whole this long after its first byte
    std::chrono::milliseconds keepAlive{1000};          // an idle connection waits for its next request
    std::chrono::milliseconds wholeAnswer{20000};       // an answer must be taken by the client within
    // With more than half the workers busy, new requests get these instead
    // and connections close after one answer: a loopback browser sends a
    // request in one piece, a client that dribbles loses its worker soon.
    std::chrono::milliseconds busyFirstByte{250};
    std::chrono::milliseconds busyWholeRequest{500};
};

class PreviewServer {
public:
    explicit PreviewServer(PreviewPhoto& photo, const ConnectionLimits& limits = {});
    ~PreviewServer();

    // Binds to `address`:`port` (0 takes a free port), alone: a second
    // server on the same port fails here. On an address that is not
    // loopback, or with `requireToken`, a random token is made that every
    // request must then carry (Token). Returns the port, or -1 with `error`.
    // The photo need not be open yet: nothing is served before Run.
    int Bind(const std::string& address, int port, bool requireToken, std::string& error);

    // The token requests must carry (the page's address has it as
    // ?token=...); empty when none is needed.
    const std::string& Token() const { return token_; }

    // Serves until Stop or a stop signal (stop.h).
    void Run();
    void Stop() { stopping_ = true; }

    // Renders at work at once, and waiting for a turn.
    static constexpr int kRendersRunning = 2;
    static constexpr int kRendersWaiting = 8;

private:
    void Routes();
    bool Stopping() const;

    PreviewPhoto& photo_;
    std::unique_ptr<HttpServer> server_;
    Generations generations_;
    RenderTurns turns_{kRendersRunning, kRendersWaiting};
    std::mutex saving_;
    std::atomic<bool> stopping_{false};
    bool loopback_ = true;
    std::string token_;
    std::string page_;  // the page, its asset addresses carrying the token
};

// Whether `address` (as given to --listen) is a loopback address:
// "localhost", "::1", or 127.x.y.z as four decimal numbers 0..255.
bool IsLoopbackAddress(std::string_view address);

// Whether a request's Host header names this machine by a loopback literal
// ("localhost", 127.x.y.z, "[::1]"), with or without ":port". A name that
// merely starts like one ("127.0.0.1.example.com") is another machine's,
// whatever it resolves to.
bool IsLoopbackHost(std::string_view host);

// A new random token: 192 bits from the system's random source, as 32
// URL-safe characters (A-Z a-z 0-9 - _). Empty when the source fails.
std::string NewToken();

// Whether `given` is `secret`, in a time that depends on their lengths only.
bool SameSecret(std::string_view given, std::string_view secret);

// The page with its stylesheet and script addresses carrying `?token=`.
std::string PageWithToken(std::string_view page, std::string_view token);

}  // namespace lumarex_cli
