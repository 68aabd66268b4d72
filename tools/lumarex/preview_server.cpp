// SPDX-License-Identifier: MIT
#include "preview_server.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "preview_assets.h"
#include "stop.h"

namespace lumarex_cli {
namespace fs = std::filesystem;
namespace {

void SendJson(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body.dump(), "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& error) {
    SendJson(res, status, {{"error", error}});
}

RequestParams ParamsOf(const httplib::Request& req) {
    return RequestParams(req.params.begin(), req.params.end());
}

// "1.5" with up to three decimals, for the area header.
std::string Decimal(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3f", v);
    return b;
}

}  // namespace

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

bool IsLoopbackAddress(const std::string& address) {
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

bool IsLoopbackHost(const std::string& host) {
    std::string name = host;
    if (!name.empty() && name.front() == '[') {  // [::1]:port
        const size_t close = name.find(']');
        if (close == std::string::npos) return false;
        name = name.substr(1, close - 1);
    } else if (const size_t colon = name.rfind(':'); colon != std::string::npos) {
        name = name.substr(0, colon);
    }
    return IsLoopbackAddress(name);
}

PreviewServer::PreviewServer(PreviewPhoto& photo) : photo_(photo), server_(std::make_unique<httplib::Server>()) {
    Routes();
}

PreviewServer::~PreviewServer() = default;

bool PreviewServer::Stopping() const { return stopping_ || StopRequested(); }

int PreviewServer::Bind(const std::string& address, int port, std::string& error) {
    loopback_ = IsLoopbackAddress(address);
    const int bound = port == 0 ? server_->bind_to_any_port(address) : (server_->bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        error = "cannot listen on " + address + " port " + std::to_string(port) +
                " (in use, or not an address of this machine)";
        return -1;
    }
    return bound;
}

void PreviewServer::Run() {
    std::atomic<bool> done{false};
    // The server stops from another thread; stop() before the listening loop
    // has started is lost, so it is repeated until the loop has ended.
    std::thread watcher([&] {
        while (!done) {
            if (Stopping()) server_->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    server_->listen_after_bind();
    done = true;
    watcher.join();
}

void PreviewServer::Routes() {
    httplib::Server& s = *server_;
    // Requests are small: settings and a view fit in a URL.
    s.set_payload_max_length(64 * 1024);
    // A worker waits this long for a request on an idle connection, and a
    // stop waits for the workers: 1 s keeps Ctrl-C prompt with a page still
    // open (a browser holds idle connections), and costs the page on this
    // machine a reconnection now and then.
    s.set_keep_alive_timeout(1);
    s.set_read_timeout(1, 0);

    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (loopback_ && !IsLoopbackHost(req.get_header_value("Host"))) {
            SendError(res, 403, "this server answers requests for localhost only");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
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
        s.Get(a.path, [asset](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "no-cache");
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
        const auto start = std::chrono::steady_clock::now();
        RenderedView view;
        if (!photo_.Render(r, [&] { return Stopping() || overtaken(); }, view, error))
            return overtaken() ? SendError(res, 409, "overtaken by a newer request")
                               : SendError(res, Stopping() ? 503 : 500, error);
        std::string bytes;
        if (!EncodeForBrowser(view.pic, r.format, bytes, error)) return SendError(res, 500, error);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Lumarex-Area",
                       Decimal(view.x) + "," + Decimal(view.y) + "," + Decimal(view.w) + "," + Decimal(view.h));
        res.set_header("X-Lumarex-Render-Ms", std::to_string(ms.count()));
        if (!r.before) {
            std::string summary = "brightened " + std::to_string(view.outcome.strength) + " %";
            if (view.outcome.castRemoved) summary += ", cast removed";
            if (view.outcome.heldBack) summary += ", held back from clipping";
            res.set_header("X-Lumarex-Summary", summary);
        }
        res.set_content(std::move(bytes), r.format == ImageFormat::kPng ? "image/png" : "image/jpeg");
    });

    s.Get("/api/command", [this](const httplib::Request& req, httplib::Response& res) {
        Settings settings = DefaultSettings(Command::kCorrect);
        std::string error;
        if (!ParseSettings(ParamsOf(req), {}, settings, error)) return SendError(res, 400, error);
        const fs::path p(photo_.Path());
        const std::string ext = IsSupportedOutput(photo_.Path()) ? p.extension().string() : std::string(".tif");
        const std::string out = (p.parent_path() / (p.stem().string() + "-corrected" + ext)).string();
        SendJson(res, 200, {{"command", CorrectCommandLine(photo_.Path(), out, settings)}});
    });

    s.Post("/api/save", [this](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("X-Lumarex") != "save")
            return SendError(res, 403, "a save must carry the header X-Lumarex: save");
        Settings settings = DefaultSettings(Command::kCorrect);
        std::string error;
        if (!ParseSettings(ParamsOf(req), {}, settings, error)) return SendError(res, 400, error);
        // One save at a time, so that two never pick the same free name.
        std::lock_guard<std::mutex> lock(saving_);
        const std::string path = SavePathFor(photo_.Path());
        if (path.empty()) return SendError(res, 409, "every name for the corrected photo is taken");
        std::string summary;
        if (!photo_.Save(settings, path, [this] { return Stopping(); }, summary, error))
            return SendError(res, Stopping() ? 503 : 500, error);
        std::error_code ec;
        const fs::path absolute = fs::absolute(path, ec);
        SendJson(res, 200,
                 {{"path", ec ? path : absolute.string()},
                  {"summary", summary},
                  {"command", CorrectCommandLine(photo_.Path(), path, settings)}});
    });
}

}  // namespace lumarex_cli
