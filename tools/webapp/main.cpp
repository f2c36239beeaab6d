// orvan-webapp [--port N]: runs the stand-in web application until SIGTERM or SIGINT.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <glib-unix.h>
#include <glib.h>

#include "tools/webapp/StandInServer.h"

namespace {

std::optional<unsigned> parsePort(std::string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535)
        return std::nullopt;
    return value;
}

int usage()
{
    std::fputs("usage: orvan-webapp [--port N]\n", stderr);
    return 2;
}

struct MainLoopUnref {
    void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};

gboolean quitLoop(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv)
{
    unsigned port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::optional<unsigned> parsed;
        if (arg == "--port" && i + 1 < argc)
            parsed = parsePort(argv[++i]);
        else if (arg.starts_with("--port="))
            parsed = parsePort(arg.substr(7));
        if (!parsed)
            return usage();
        port = *parsed;
    }

    try {
        orvan::webapp::StandInServer server;
        server.start(port);
        std::unique_ptr<GMainLoop, MainLoopUnref> loop{g_main_loop_new(nullptr, FALSE)};
        const guint term = g_unix_signal_add(SIGTERM, quitLoop, loop.get());
        const guint interrupt = g_unix_signal_add(SIGINT, quitLoop, loop.get());

        // Whoever started us waits for this line to learn the port; it must not sit in a buffer.
        std::printf("listening on %s\n", server.baseURL().c_str());
        std::fflush(stdout);

        g_main_loop_run(loop.get());
        g_source_remove(term);
        g_source_remove(interrupt);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvan-webapp: %s\n", error.what());
        return 1;
    }
    return 0;
}
