// SPDX-License-Identifier: MIT
// `lumarex serve`: analyses one photo, then serves a page on this machine
// that previews `lumarex correct` with a control for every setting.
#include <cstdio>
#include <string>

#include "cli.h"
#include "console.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "output_file.h"
#include "preview_server.h"
#include "stop.h"

namespace lumarex_cli {

CLI::App* ServeCommand::Register(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "serve",
        "Analyses the photo once and serves a preview page at http://127.0.0.1:PORT/ for a browser on this "
        "machine: the photo fitted to the window, before and after (a toggle or a split), zoom and pan, and a "
        "control with its help text for every setting of `lumarex correct`. Each change corrects the area in "
        "view at the screen's resolution (at 1:1 exactly as `lumarex correct --region` does). 'Copy command' "
        "gives the `lumarex correct` command for the settings; 'Save' writes the corrected photo beside the "
        "original as NAME-corrected.EXT (never over the original or an earlier save). The page works without "
        "network access. Ctrl-C stops the server (exit status 130).");
    sub->add_option("PHOTO", photo, "The photo to preview: JPEG, PNG or TIFF, 8 or 16-bit.")->required();
    sub->add_option("--port", port,
                    "The port to listen on; 0 takes a free one (the address is printed). Takes 0..65535. "
                    "Default: 8080.")
        ->option_text("N")
        ->check(CLI::Range(0, 65535));
    sub->add_option("--listen", listen,
                    "The address to listen on. The default serves this machine only; another address (such as "
                    "0.0.0.0, every address) lets other machines that have the printed address, with its "
                    "random token, see the photo and save beside it. Default: 127.0.0.1.")
        ->option_text("ADDR");
    sub->add_flag("--token", token,
                  "Require the random token of the printed address also on a loopback address: on a machine "
                  "shared with other users, any of them can reach 127.0.0.1. Any other address always requires "
                  "it.");
    AddLimitOptions(*sub, limits, /*jobs=*/false);
    return sub;
}

int ServeCommand::Run() {
    SetFilterRecord(LxHeapHostRecord());
    RouteDecoderMessages();
    std::FILE* err = UserErr();
    // The page, its server and the photo's copies go before the process
    // ends, so the library's memory is given back through the host.
    int status = 0;
    {
        // The port is taken first, so that a port in use is said at once,
        // not after the analysis.
        PreviewPhoto preview;
        PreviewServer server(preview);
        std::string notes, error;
        const int bound = server.Bind(listen, port, token, error);
        if (bound < 0) {
            std::fprintf(err, "lumarex serve: %s\n", error.c_str());
            return 2;
        }
        std::fprintf(err, "lumarex serve: analysing %s\n", photo.c_str());
        std::fflush(err);
        if (!preview.Open(photo, limits, notes, error, [] { return StopRequested(); })) {
            std::fprintf(err, "lumarex serve: %s: %s\n", photo.c_str(), error.c_str());
            return StopRequested() ? StopStatus() : 1;
        }
        if (!notes.empty()) std::fprintf(err, "lumarex serve: %s: %s\n", photo.c_str(), notes.c_str());
        const std::string host = listen.find(':') != std::string::npos ? "[" + listen + "]" : listen;
        const std::string query = server.Token().empty() ? "" : "?token=" + server.Token();
        std::printf("lumarex serve: %s (%dx%d, %d-bit) at http://%s:%d/%s  (Ctrl-C stops)\n", photo.c_str(),
                    preview.Width(), preview.Height(), preview.Bits(), host.c_str(), bound, query.c_str());
        std::fflush(stdout);
        server.Run();
        status = StopStatus();
    }
    RemovePendingTemporaries();
    std::fprintf(err, "lumarex serve: stopped\n");
    return status;
}

}  // namespace lumarex_cli
