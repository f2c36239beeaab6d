#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "linux/glib/GLibMainTimers.h"
#include "linux/glib/GioNetworkMonitor.h"
#include "tests/integration/ShellWindowFixture.h"
#include "webhost/PageScripts.h"

namespace orvan {
namespace {

using namespace orvan::testing;

// The window's pixels read back by OCR, without the spaces it puts between Japanese letters; the
// picture stays in the session's cache directory.
std::string readWindow(GtkWindow* window, const std::string& name) {
    GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
    GdkPixbuf* shot =
        gdk_pixbuf_get_from_window(surface, 0, 0, gdk_window_get_width(surface), gdk_window_get_height(surface));
    const auto png = std::filesystem::path(g_get_user_cache_dir()) / (name + ".png");
    gdk_pixbuf_save(shot, png.c_str(), "png", nullptr, nullptr);
    g_object_unref(shot);
    gchar* text = nullptr;
    gchar* noise = nullptr;
    g_spawn_command_line_sync(("tesseract " + png.string() + " stdout -l jpn").c_str(), &text, &noise, nullptr, nullptr);
    std::string read = text != nullptr ? text : "";
    g_free(text);
    g_free(noise);
    std::erase_if(read, [](char c) { return c == ' ' || c == '\n'; });
    return read;
}

struct Unreachable {
    const char* name;
    bool badCertificate;
    const char* reason;
};

class UnreachableAppTest : public ShellWindowFixture, public ::testing::WithParamInterface<Unreachable> {};

// The stand-in away (or behind a certificate nobody vouches for): the window shows the shell's own
// page, without the bridge, and the app's page once the stand-in is back, with no one touching it.
TEST_P(UnreachableAppTest, TheShellsPageSaysWhyAndTheAppComesBackByItself) {
    services.timers = std::make_shared<GLibMainTimers>();
    services.network = std::make_shared<GioNetworkMonitor>();
    const std::string base = server.baseURL();
    server.stop();
    if (GetParam().badCertificate) {
        gchar* pem = nullptr;
        gchar* noise = nullptr;
        ASSERT_TRUE(g_spawn_command_line_sync("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                                              "-subj /CN=127.0.0.1 -days 1 -keyout /dev/stdout -out /dev/stdout",
                                              &pem, &noise, nullptr, nullptr));
        server.start(0, pem);
        g_free(pem);
        g_free(noise);
        auto info = std::make_shared<FakeInfoDictionary>();
        info->strings[AppConfig::kAppURLKey] = server.baseURL() + "/";
        services.config = std::make_shared<AppConfig>(info);
    }
    WebKitWebView* view = open(nullptr, false);
    const std::string heading = "トモリバに接続できません";
    ASSERT_TRUE(runUntil([&] { return evaluate(view, "document.title") == nlohmann::json(heading); }));
    std::string read;  // once painted
    ASSERT_TRUE(runUntil([&] {
        spin(std::chrono::milliseconds(100));
        return (read = readWindow(windows[0], GetParam().name)).find(heading) != std::string::npos;
    })) << read;
    EXPECT_NE(read.find(GetParam().reason), std::string::npos) << read;
    EXPECT_EQ(uriOf(view), server.baseURL() + "/") << "the page keeps the failed address";
    EXPECT_EQ(evaluate(view, "typeof window.orvanMobile + typeof window.__orvanMacShell"), nlohmann::json("undefinedundefined"));
    EXPECT_EQ(evaluate(view, "typeof __orvanPost", kShellScriptWorld), nlohmann::json("undefined"));
    if (GetParam().badCertificate) return;

    server.start(static_cast<unsigned>(std::stoul(base.substr(base.rfind(':') + 1))));
    EXPECT_TRUE(runUntil([&] { return evaluate(view, "document.title") == nlohmann::json("Tomoriva"); }));
    EXPECT_EQ(evaluate(view, "typeof window.orvanMobile"), nlohmann::json("object"));
    EXPECT_EQ(evaluate(view, "typeof __orvanPost", kShellScriptWorld), nlohmann::json("function"));
}

INSTANTIATE_TEST_SUITE_P(Causes, UnreachableAppTest,
                         ::testing::Values(Unreachable{"stopped", false, "サーバーに接続できません"},
                                           Unreachable{"badCertificate", true, "安全な接続を確立できません"}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace orvan
