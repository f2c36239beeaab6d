// The orvan-webapp executable as other tests use it: started as a process, read for its port,
// asked over HTTP, stopped with a signal.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <stdexcept>
#include <string>

#include <gio/gio.h>

#include "HttpClient.h"

#ifndef ORVAN_WEBAPP_EXE
#error "ORVAN_WEBAPP_EXE must name the orvan-webapp executable"
#endif

namespace orvan::webapp::test {
namespace {

struct CharFree {
    void operator()(char* text) const { g_free(text); }
};

class WebappProcess {
public:
    explicit WebappProcess(const char* extraArg = nullptr, const char* extraValue = nullptr)
    {
        GError* rawError = nullptr;
        process_.reset(g_subprocess_new(
            G_SUBPROCESS_FLAGS_STDOUT_PIPE, &rawError, ORVAN_WEBAPP_EXE, extraArg, extraValue, nullptr));
        ErrorPtr error{rawError};
        if (!process_)
            throw std::runtime_error(std::string("cannot start orvan-webapp: ") + (error ? error->message : "?"));
        stdout_.reset(g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_.get())));
    }

    ~WebappProcess()
    {
        if (process_ && !*exited_) {
            g_subprocess_force_exit(process_.get());
            waitForExit();
        }
    }

    // The first line of standard output, read without blocking the loop; empty on EOF or timeout.
    std::string readLine()
    {
        struct Pending {
            GDataInputStream* stream = nullptr;
            bool done = false;
            std::string line;
        };
        // Shared with the callback, so giving up on a silent child leaves nothing dangling.
        auto pending = std::make_shared<Pending>();
        pending->stream = stdout_.get();
        g_data_input_stream_read_line_async(stdout_.get(), G_PRIORITY_DEFAULT, nullptr,
            [](GObject*, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::shared_ptr<Pending>> holder{static_cast<std::shared_ptr<Pending>*>(data)};
                auto& p = **holder;
                std::unique_ptr<char, CharFree> line{
                    g_data_input_stream_read_line_finish(p.stream, result, nullptr, nullptr)};
                if (line)
                    p.line = line.get();
                p.done = true;
            },
            new std::shared_ptr<Pending>(pending));
        iterateUntil([&] { return pending->done; }, std::chrono::seconds(10));
        return pending->line;
    }

    void signal(int number) { g_subprocess_send_signal(process_.get(), number); }

    bool waitForExit()
    {
        if (!*exited_) {
            g_subprocess_wait_async(process_.get(), nullptr,
                [](GObject*, GAsyncResult*, gpointer data) {
                    std::unique_ptr<std::shared_ptr<bool>> holder{static_cast<std::shared_ptr<bool>*>(data)};
                    **holder = true;
                },
                new std::shared_ptr<bool>(exited_));
        }
        return iterateUntil([&] { return *exited_; }, std::chrono::seconds(10));
    }

    GSubprocess* get() const { return process_.get(); }

private:
    GObjectPtr<GSubprocess> process_;
    GObjectPtr<GDataInputStream> stdout_;
    std::shared_ptr<bool> exited_ = std::make_shared<bool>(false);
};

class WebappProcessTest : public ::testing::Test {
protected:
    MainContextScope context_;
};

TEST_F(WebappProcessTest, AnnouncesItsAddressServesAndStopsOnSigterm)
{
    WebappProcess process;
    const std::string line = process.readLine();
    const std::string prefix = "listening on http://127.0.0.1:";
    ASSERT_TRUE(line.starts_with(prefix)) << line;
    const std::string port = line.substr(prefix.size());
    ASSERT_FALSE(port.empty());
    EXPECT_EQ(port.find_first_not_of("0123456789"), std::string::npos) << line;

    HttpClient client;
    const std::string base = line.substr(std::string("listening on ").size());
    const auto version = client.get(base + "/api/version");
    EXPECT_EQ(version.status, 200u);
    EXPECT_EQ(version.json(), nlohmann::json({{"deploymentId", nullptr}}));

    process.signal(SIGTERM);
    ASSERT_TRUE(process.waitForExit());
    EXPECT_TRUE(g_subprocess_get_if_exited(process.get()));
    EXPECT_EQ(g_subprocess_get_exit_status(process.get()), 0);
}

TEST_F(WebappProcessTest, StopsOnSigintToo)
{
    WebappProcess process;
    ASSERT_TRUE(process.readLine().starts_with("listening on "));
    process.signal(SIGINT);
    ASSERT_TRUE(process.waitForExit());
    EXPECT_TRUE(g_subprocess_get_if_exited(process.get()));
    EXPECT_EQ(g_subprocess_get_exit_status(process.get()), 0);
}

TEST_F(WebappProcessTest, ControlEndpointDrivesAServerInAnotherProcess)
{
    WebappProcess process;
    const std::string line = process.readLine();
    ASSERT_TRUE(line.starts_with("listening on ")) << line;
    const std::string base = line.substr(std::string("listening on ").size());

    HttpClient client;
    HttpRequest control;
    control.method = "POST";
    control.url = base + "/__control";
    control.body = R"({"signedIn": true, "badges": {"notifications": 5}})";
    control.contentType = "application/json";
    ASSERT_EQ(client.send(control).status, 204u);

    const auto badges = client.get(base + "/api/badges");
    ASSERT_EQ(badges.status, 200u);
    EXPECT_EQ(badges.json()["notifications"], 5);
    const auto requests = client.get(base + "/__control/requests").json();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["path"], "/api/badges");
}

TEST_F(WebappProcessTest, RefusesABadPortArgument)
{
    WebappProcess process("--port", "seventy");
    ASSERT_TRUE(process.waitForExit());
    EXPECT_TRUE(g_subprocess_get_if_exited(process.get()));
    EXPECT_EQ(g_subprocess_get_exit_status(process.get()), 2);
}

}  // namespace
}  // namespace orvan::webapp::test
