#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "linux/glib/GLibMainTimers.h"
#include "linux/glib/GioNetworkMonitor.h"
#include "tests/integration/ShellWindowFixture.h"
#include "webhost/PageScripts.h"

namespace orvan {
namespace {

using namespace orvan::testing;

// What a command prints (its complaints dropped).
std::string output(const std::string& command) {
    std::string text;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    for (int c = 0; pipe != nullptr && (c = fgetc(pipe)) != EOF;) text += static_cast<char>(c);
    if (pipe != nullptr) pclose(pipe);
    return text;
}

// Param: the stand-in behind a certificate nobody vouches for, rather than stopped. The window
// shows the shell's own page saying why (read from its pixels by OCR, as a person reads it; the
// picture stays in the session's cache directory), without the bridge, and the app's page once
// the stand-in is back, with no one touching it.
class UnreachableAppTest : public ShellWindowFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(UnreachableAppTest, TheShellsPageSaysWhyAndTheAppComesBackByItself) {
    services.timers = std::make_shared<GLibMainTimers>();
    services.network = std::make_shared<GioNetworkMonitor>();
    const std::string base = server.baseURL();
    server.stop();
    if (GetParam()) {
        server.start(0, output("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                               "-subj /CN=127.0.0.1 -days 1 -keyout /dev/stdout -out /dev/stdout"));
        auto info = std::make_shared<FakeInfoDictionary>();
        info->strings[AppConfig::kAppURLKey] = server.baseURL() + "/";
        services.config = std::make_shared<AppConfig>(info);
    }
    WebKitWebView* view = open(nullptr, false);
    const std::string heading = "トモリバに接続できません";
    ASSERT_TRUE(runUntil([&] { return evaluate(view, "document.title") == nlohmann::json(heading); }));
    const std::string png = std::string(g_get_user_cache_dir()) + (GetParam() ? "/certificate.png" : "/stopped.png");
    std::string read;  // once painted
    ASSERT_TRUE(runUntil([&] {
        spin(std::chrono::milliseconds(100));
        GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(windows[0]));
        GdkPixbuf* shot = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window), gdk_window_get_height(window));
        gdk_pixbuf_save(shot, png.c_str(), "png", nullptr, nullptr);
        g_object_unref(shot);
        read = output("tesseract " + png + " stdout -l jpn");
        std::erase_if(read, [](char c) { return c == ' ' || c == '\n'; });  // OCR spaces out Japanese letters
        return read.find(heading) != std::string::npos;
    })) << read;
    EXPECT_NE(read.find(GetParam() ? "安全な接続を確立できません" : "サーバーに接続できません"), std::string::npos) << read;
    EXPECT_EQ(uriOf(view), server.baseURL() + "/") << "the page keeps the failed address";
    EXPECT_EQ(evaluate(view, "typeof window.orvanMobile + typeof window.__orvanMacShell"), nlohmann::json("undefinedundefined"));
    EXPECT_EQ(evaluate(view, "typeof __orvanPost", kShellScriptWorld), nlohmann::json("undefined"));
    if (GetParam()) return;

    server.start(static_cast<unsigned>(std::stoul(base.substr(base.rfind(':') + 1))));
    EXPECT_TRUE(runUntil([&] { return evaluate(view, "document.title") == nlohmann::json("Tomoriva"); }));
    EXPECT_EQ(evaluate(view, "typeof __orvanPost", kShellScriptWorld), nlohmann::json("function")) << "the bridge is back";
}

INSTANTIATE_TEST_SUITE_P(Causes, UnreachableAppTest, ::testing::Bool(),
                         [](const auto& row) { return row.param ? "BadCertificate" : "ServerStopped"; });

}  // namespace
}  // namespace orvan
