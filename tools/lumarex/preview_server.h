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
// one of the same client (a higher gen) gets 409 and stops where it is. Save
// must carry the header "X-Lumarex: save", which a page of another site
// cannot send without asking first, and on a loopback address only requests
// naming a loopback host are served, so that no web page the user visits
// can reach the photo through the browser.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "preview_photo.h"

namespace httplib {
class Server;
}

namespace lumarex_cli {

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

class PreviewServer {
public:
    explicit PreviewServer(PreviewPhoto& photo);
    ~PreviewServer();

    // Binds to `address`:`port` (0 takes a free port). Returns the port, or
    // -1 with `error`.
    int Bind(const std::string& address, int port, std::string& error);

    // Serves until Stop or a stop signal (stop.h).
    void Run();
    void Stop() { stopping_ = true; }

private:
    void Routes();
    bool Stopping() const;

    PreviewPhoto& photo_;
    std::unique_ptr<httplib::Server> server_;
    Generations generations_;
    std::mutex saving_;
    std::atomic<bool> stopping_{false};
    bool loopback_ = true;
};

// Whether `address` (as given to --listen) is a loopback address.
bool IsLoopbackAddress(const std::string& address);

// Whether a request's Host header names this machine by a loopback name or
// address ("localhost:8080", "127.0.0.1", "[::1]:80").
bool IsLoopbackHost(const std::string& host);

}  // namespace lumarex_cli
