// SPDX-License-Identifier: MIT
// `lumarex serve`: analyses one photo, then serves a page on this machine
// that previews `lumarex correct` with a control for every setting.
#include <unistd.h>

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
        // Every address: the machine's name, which the other machines can
        // open (0.0.0.0 in a browser elsewhere is that browser's own machine).
        std::string name = listen;
        char machine[256] = {};
        if ((listen == "0.0.0.0" || listen == "::") && ::gethostname(machine, sizeof machine - 1) == 0 && machine[0])
            name = machine;
        const std::string host = name.find(':') != std::string::npos ? "[" + name + "]" : name;
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
