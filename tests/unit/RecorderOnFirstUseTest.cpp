#include "recording/RecorderOnFirstUse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvan {
namespace {

// Stands in for the meeting recorder: writes down what reaches it and answers at once.
struct FakeRecorder {
    std::vector<std::string>* calls;
    bool recording = false;

    void start(RecorderCommands::Done done) { calls->push_back("start"), done(std::nullopt); }
    void pause(RecorderCommands::Done done) { calls->push_back("pause"), done(std::nullopt); }
    void resume(RecorderCommands::Done done) { calls->push_back("resume"), done(std::nullopt); }
    void stop(RecorderCommands::PathDone done) { calls->push_back("stop"), done(std::string("/m.m4a")); }
    void pending(RecorderCommands::PendingDone done) { calls->push_back("pending"), done(std::nullopt); }
    void discard(const std::string& path, RecorderCommands::Done done) { calls->push_back("discard " + path), done(std::nullopt); }
    bool isRecording() const { return recording; }
    void closeForExit() { calls->push_back("closeForExit"); }
};

using Lazy = RecorderOnFirstUse<FakeRecorder>;

std::string describe(const std::optional<RecordingFailure>& failure) { return failure ? failure->description() : ""; }
template <typename Value>
std::string describe(const std::variant<Value, RecordingFailure>& outcome) {
    const auto* failure = std::get_if<RecordingFailure>(&outcome);
    return failure != nullptr ? failure->description() : "";
}

// Each command, sent once: the failure's description it was answered with ("" for none).
#define ANSWER_OF(call) [](Lazy& r) { std::string d = "unanswered"; r.call; return d; }
const std::vector<std::pair<std::string, std::string (*)(Lazy&)>> kCommands = {
    {"start", ANSWER_OF(start([&](auto outcome) { d = describe(outcome); }))},
    {"pause", ANSWER_OF(pause([&](auto outcome) { d = describe(outcome); }))},
    {"resume", ANSWER_OF(resume([&](auto outcome) { d = describe(outcome); }))},
    {"stop", ANSWER_OF(stop([&](auto outcome) { d = describe(outcome); }))},
    {"pending", ANSWER_OF(pending([&](auto outcome) { d = describe(outcome); }))},
    {"discard /m.m4a", ANSWER_OF(discard("/m.m4a", [&](auto outcome) { d = describe(outcome); }))},
};
#undef ANSWER_OF

TEST(RecorderOnFirstUseTest, NothingIsLoadedBeforeTheFirstCommandAndThenOnlyOnce) {
    std::vector<std::string> calls;
    int made = 0;
    Lazy recorder([&]() -> Lazy::Made { return ++made, std::make_shared<FakeRecorder>(FakeRecorder{&calls}); });
    // The tray's questions and the application's exit do not load the recorder.
    EXPECT_FALSE(recorder.isRecording());
    recorder.closeForExit();
    EXPECT_EQ(made, 0);

    std::vector<std::string> names;
    for (const auto& [name, send] : kCommands) {
        EXPECT_EQ(send(recorder), "") << name;
        names.push_back(name);
    }
    EXPECT_EQ(made, 1);
    recorder.closeForExit();
    names.push_back("closeForExit");
    EXPECT_EQ(calls, names);
}

TEST(RecorderOnFirstUseTest, ARecorderThatCannotBeLoadedAnswersEveryCommandWithWhyAndIsTriedAgain) {
    std::vector<std::string> calls;
    int attempts = 0;
    Lazy recorder([&]() -> Lazy::Made {
        if (++attempts <= static_cast<int>(kCommands.size())) return SystemError{"録音機能を読み込めませんでした: gone"};
        return std::make_shared<FakeRecorder>(FakeRecorder{&calls, true});
    });
    for (const auto& [name, send] : kCommands) {
        EXPECT_EQ(send(recorder), "録音機能を読み込めませんでした: gone") << name;
    }
    EXPECT_FALSE(recorder.isRecording());
    // The module is back (an update finished installing, say): the next command loads it.
    EXPECT_EQ(kCommands.front().second(recorder), "");
    EXPECT_TRUE(recorder.isRecording());
    EXPECT_EQ(calls, std::vector<std::string>{"start"});
}

}  // namespace
}  // namespace orvan
