#include "recording/RecorderOnFirstUse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/fakes/FakeMainLoop.h"

namespace orvan {
namespace {

using testing::FakeMainLoop;

// Stands in for the meeting recorder: writes down what reaches it and answers at once.
struct FakeRecorder {
    std::vector<std::string>* calls;
    template <typename Done> void answer(const char* name, Done& done) { calls->push_back(name), done(std::nullopt); }
    void start(RecorderCommands::Done done) { answer("start", done); }
    void pause(RecorderCommands::Done done) { answer("pause", done); }
    void resume(RecorderCommands::Done done) { answer("resume", done); }
    void stop(RecorderCommands::PathDone done) { calls->push_back("stop"), done(std::string("/m.m4a")); }
    void pending(RecorderCommands::PendingDone done) { answer("pending", done); }
    void discard(const std::string& path, RecorderCommands::Done done) { calls->push_back("discard " + path), done(std::nullopt); }
    void closeForExit() { calls->push_back("closeForExit"); }
};

using Lazy = RecorderOnFirstUse<FakeRecorder>;

// The failure's description a command was answered with, "" for none.
template <typename Outcome>
std::string describe(const Outcome& outcome) {
    if constexpr (std::is_same_v<Outcome, std::optional<RecordingFailure>>) return outcome ? outcome->description() : "";
    else return std::holds_alternative<RecordingFailure>(outcome) ? std::get<RecordingFailure>(outcome).description() : "";
}

// Each command, sent once; its answer lands in `answers`.
using Send = void (*)(Lazy&, std::vector<std::string>&);
#define SEND(call) [](Lazy& r, std::vector<std::string>& answers) { r.call([&answers](auto o) { answers.push_back(describe(o)); }); }
const std::vector<std::pair<std::string, Send>> kCommands = {
    {"start", SEND(start)}, {"pause", SEND(pause)}, {"resume", SEND(resume)}, {"stop", SEND(stop)}, {"pending", SEND(pending)},
    {"discard /m.m4a", [](Lazy& r, std::vector<std::string>& a) { r.discard("/m.m4a", [&a](auto o) { a.push_back(describe(o)); }); }},
};
#undef SEND

// The loading thread hands its result to the main loop: wait for it, then run it.
void awaitLoad(FakeMainLoop& loop) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (loop.pending() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    loop.runUntilIdle();
}

TEST(RecorderOnFirstUseTest, MadeOnceOnAThreadOfItsOwnWhileTheCommandsMeanwhileWaitInOrder) {
    std::vector<std::string> calls, answers;
    auto loop = std::make_shared<FakeMainLoop>();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    int made = 0;
    std::thread::id madeOn;
    Lazy recorder(
        [&]() -> Lazy::Made {
            madeOn = std::this_thread::get_id();
            released.wait();  // reading the encoder's libraries from disk
            return ++made, std::make_shared<FakeRecorder>(FakeRecorder{&calls});
        },
        loop);
    std::vector<std::string> names;
    for (const auto& [name, send] : kCommands) send(recorder, answers), names.push_back(name);
    EXPECT_TRUE(answers.empty()) << "nothing answers while the recorder is being made, nothing blocks either";
    release.set_value();
    awaitLoad(*loop);
    EXPECT_NE(madeOn, std::this_thread::get_id());
    EXPECT_EQ(answers, std::vector<std::string>(kCommands.size(), ""));
    // Made now: the next command goes straight through.
    kCommands.front().second(recorder, answers);
    recorder.closeForExit();
    names.insert(names.end(), {"start", "closeForExit"});
    EXPECT_EQ(calls, names);
    EXPECT_EQ(made, 1);
}

TEST(RecorderOnFirstUseTest, ARecorderThatCannotBeMadeAnswersTheWaitingCommandsWithWhyAndIsTriedAgain) {
    std::vector<std::string> calls, answers;
    auto loop = std::make_shared<FakeMainLoop>();
    int attempts = 0;
    Lazy recorder(
        [&]() -> Lazy::Made {
            if (++attempts == 1) return SystemError{"録音機能を読み込めませんでした: gone"};
            return std::make_shared<FakeRecorder>(FakeRecorder{&calls});
        },
        loop);
    // The application's exit before any command makes nothing.
    recorder.closeForExit();
    EXPECT_EQ(attempts, 0);
    kCommands[0].second(recorder, answers);
    kCommands[4].second(recorder, answers);
    awaitLoad(*loop);
    EXPECT_EQ(answers, std::vector<std::string>(2, "録音機能を読み込めませんでした: gone"));
    // The module is back (an update finished installing, say): the next command makes it.
    kCommands[0].second(recorder, answers);
    awaitLoad(*loop);
    EXPECT_EQ(answers.back(), "");
    EXPECT_EQ(calls, std::vector<std::string>{"start"});
}

}  // namespace
}  // namespace orvan
