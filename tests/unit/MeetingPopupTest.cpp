#include "plugin/MeetingPopup.h"

#include <gtest/gtest.h>

#include "plugin/MeetingPopupPlacement.h"
#include "tests/fakes/FakeCommandPorts.h"
#include "tests/fakes/FakeMainTimers.h"
#include "tests/fakes/FakeUserDefaults.h"

namespace orvan::testing {
namespace {

// The panel reduced to what it shows: "title / second line / error / [buttons]", accent marked "*",
// a second line in the error colour marked "!", and the meters last in percent: "| 67 0".
class FakePopupView final : public MeetingPopupView {
public:
    void setTitle(const std::string& text) override { title = text; }
    void setSecondLine(const std::string& text) override { second = text; }
    void setSecondLineWarns(bool on) override { warns = on; }
    void setLevels(const std::optional<PopupLevels>& made) override { levels = made; }
    void setError(const std::optional<std::string>& message) override { error = message; }
    void setButtons(std::vector<PopupButton> made) override { buttons = std::move(made); }
    void orderFront() override { shown = true; }
    void orderOut() override { shown = false; }
    bool isVisible() const override { return shown; }
    std::vector<PopupScreen> screens() const override { return monitors; }
    void setOrigin(PopupPoint point) override { origin = point; }
    void setMoveHandler(std::function<void(PopupPoint)> handler) override { moved = std::move(handler); }
    void setCloseHandler(std::function<void()> handler) override { closed = std::move(handler); }

    std::string text() const {
        std::string row = title + " / " + (warns ? "!" : "") + second + " / " + error.value_or("-") + " /";
        for (const auto& button : buttons) row += " " + button.title + (button.accent ? "*" : "");
        const auto percent = [](double share) { return std::to_string(std::lround(100 * share)); };
        return levels ? row + " | " + percent(levels->microphone) + " " + percent(levels->systemAudio) : row;
    }
    std::string title, second;
    bool warns = false;
    std::optional<PopupLevels> levels;
    std::optional<std::string> error;
    std::vector<PopupButton> buttons;
    bool shown = false;
    std::vector<PopupScreen> monitors{{{0, 0, 1920, 1050}, true}};
    std::optional<PopupPoint> origin;
    std::function<void(PopupPoint)> moved;
    std::function<void()> closed;
};

// A popup whose panel the test sees through `view`.
std::shared_ptr<MeetingPopup> makePopup(std::shared_ptr<FakeMainTimers> timers, FakePopupView*& view,
                                        std::function<void()> openSettings = {},
                                        std::shared_ptr<UserDefaults> defaults = {}) {
    return std::make_shared<MeetingPopup>(MeetingPopup::Ports{
        .makeView = [&view] {
            auto made = std::make_unique<FakePopupView>();
            view = made.get();
            return made;
        },
        .timers = std::move(timers),
        .openSettings = std::move(openSettings),
        .defaults = std::move(defaults),
    });
}

struct Steps {
    const char* name;
    // show:phase:label[:message], tick:n, press:title, hide, close, warn[:text], levels:microphone:system;
    // without a panel also answer:action (a notification's button) and choose:title (a tray row)
    std::vector<std::string> steps;
    std::string shows;  // the panel afterwards, or "hidden"; without a panel, the notice and the rows
    std::string sent;   // actions sent, joined by ","
};

// Without a panel: "notice: title / body [buttons]" (or "-"), "rows: a | b" with "(x)" for a row that
// cannot be chosen, and "visible" while something shows.
std::string withoutPanel(const FakeUserNotificationCenter& notices, const std::vector<StatusMenuEntry>& rows, bool visible) {
    std::string shows = "notice: ";
    if (notices.added.empty() || !notices.removed.empty()) shows += "-";
    else {
        const auto& notice = notices.added.back();
        shows += notice.title + " / " + notice.body.value_or("") + " [";
        for (const auto& action : notice.actions) shows += action.title + (&action == &notice.actions.back() ? "" : ",");
        shows += "]";
    }
    shows += "; rows:";
    for (const auto& row : rows) shows += " " + (row.kind == StatusMenuEntry::Kind::separator ? "-" : row.enabled ? row.title : "(" + row.title + ")");
    return shows + (visible ? "; visible" : "");
}

class MeetingPopupTest : public ::testing::TestWithParam<Steps> {};
class MeetingPopupWithoutPanelTest : public MeetingPopupTest {};

void run(const Steps& script, bool panel) {
    auto timers = std::make_shared<FakeMainTimers>();
    FakePopupView* view = nullptr;
    auto notices = std::make_shared<FakeUserNotificationCenter>();
    std::vector<StatusMenuEntry> rows;
    int settingsOpened = 0;
    auto popup = makePopup(timers, view, [&] { ++settingsOpened; });
    if (!panel) {
        popup = std::make_shared<MeetingPopup>(MeetingPopup::Ports{
            .makeView = [] { return std::unique_ptr<MeetingPopupView>(); },
            .timers = timers,
            .openSettings = [&] { ++settingsOpened; },
            .defaults = nullptr,
            .notices = notices,
            .trayRows = [&](std::vector<StatusMenuEntry> made) { rows = std::move(made); },
        });
    }
    int asked = 0;
    MeetingLevels heard;
    std::string sent;
    popup->onAction = [&](const std::string& action) { sent += (sent.empty() ? "" : ",") + action; };
    for (const std::string& step : script.steps) {
        std::vector<std::string> parts;
        for (std::size_t at = 0, next; at <= step.size(); at = next + 1) {
            next = step.find(':', at);
            if (next == std::string::npos) next = step.size();
            parts.push_back(step.substr(at, next - at));
        }
        const std::string& verb = parts[0];
        if (verb == "show") popup->show(parts[1], parts[2], parts.size() > 3 ? std::optional(parts[3]) : std::nullopt);
        else if (verb == "tick") timers->advance(std::chrono::seconds(std::stoi(parts[1])));
        else if (verb == "hide") popup->hide();
        else if (verb == "warn") popup->setWarning(parts.size() > 1 ? std::optional(parts[1]) : std::nullopt);
        else if (verb == "close") view->closed();
        else if (verb == "answer") notices->responseHandler({{}, "", parts[1]});
        else if (verb == "levels") {
            heard = {std::stof(parts[1]), std::stof(parts[2])};
            popup->levels = [&] { return ++asked, heard; };
        } else if (verb == "press") {
            auto buttons = view->buttons;  // a press may replace them
            for (auto& button : buttons)
                if (button.title == parts[1]) button.press();
        } else if (verb == "choose") {
            for (auto& row : std::vector<StatusMenuEntry>(rows))
                if (row.title == parts[1]) row.action();
        }
    }
    // The meters ask at most ten times a second of recording shown.
    const std::string shows = panel ? (popup->visible() ? view->text() : "hidden") : withoutPanel(*notices, rows, popup->visible());
    EXPECT_EQ(shows + (asked ? " (asked " + std::to_string(asked) + ")" : ""), script.shows);
    EXPECT_EQ(sent, script.sent);
    const bool settings = script.shows.starts_with("画面収録") || script.shows.starts_with("notice: 画面収録");
    EXPECT_EQ(settingsOpened, settings && sent.empty() ? 1 : 0);
}

TEST_P(MeetingPopupTest, ShowsThePhase) { run(GetParam(), true); }
TEST_P(MeetingPopupWithoutPanelTest, ShowsThePhase) { run(GetParam(), false); }

INSTANTIATE_TEST_SUITE_P(
    Phases, MeetingPopupTest,
    ::testing::Values(
        Steps{"TakeShowsItIsStarting", {"show:invite:Zoom", "press:取る"},
              "Zoom の会議が始まりました / 録音を始めています… / - /", "start"},
        Steps{"LaterDismisses", {"show:invite:Zoom", "press:あとで"},
              "Zoom の会議が始まりました / 議事録を取りますか？ / - / 取る* あとで", "dismiss"},
        Steps{"RecordingCountsFromZeroAndPauseSendsPause", {"show:invite:Zoom", "show:recording:Zoom", "tick:65", "press:一時停止"},
              "● 記録しています / Zoom ・ 01:05 / - / 一時停止 止めて保存*", "pause"},
        Steps{"MinutesAreNotWrappedIntoHours", {"show:recording:Teams", "tick:4500"},
              "● 記録しています / Teams ・ 75:00 / - / 一時停止 止めて保存*", ""},
        Steps{"PausedStopsTheClockAndResumeContinues",
              {"show:recording:Zoom", "tick:10", "show:paused:Zoom", "tick:30", "show:recording:Zoom", "tick:5"},
              "● 記録しています / Zoom ・ 00:15 / - / 一時停止 止めて保存*", ""},
        Steps{"PausedPhase", {"show:recording:Zoom", "tick:3", "show:paused:Zoom", "press:再開"},
              "一時停止しています / Zoom ・ 00:03 / - / 再開* 止めて保存*", "resume"},
        Steps{"HideRestartsTheCountButKeepsTheLabel",
              {"show:recording:Zoom", "tick:10", "hide", "tick:5", "show:recording:Zoom", "tick:2"},
              "● 記録しています / Zoom ・ 00:02 / - / 一時停止 止めて保存*", ""},
        Steps{"ClosingTheInvitationTurnsItDown", {"show:invite:Zoom", "close"}, "hidden", "dismiss"},
        Steps{"ClosingARecordingsPanelStopsItsClockAndNothingElse",
              {"show:recording:Zoom", "tick:3", "close", "tick:5", "show:recording:Zoom"},
              "● 記録しています / Zoom ・ 00:00 / - / 一時停止 止めて保存*", ""},
        Steps{"Permission", {"show:permission:", "press:設定を開く"},
              "画面収録の許可が要ります / システム設定 → プライバシーとセキュリティ → 画面収録 / - / 設定を開く* 閉じる", ""},
        Steps{"ErrorWithItsMessage", {"show:error:Zoom:マイクが使えません"},
              "録音を始められませんでした /  / マイクが使えません / 閉じる", ""},
        Steps{"AShowWithoutAMessageHidesTheErrorAgain", {"show:error:Zoom:x", "show:invite:Zoom"},
              "Zoom の会議が始まりました / 議事録を取りますか？ / - / 取る* あとで", ""},
        Steps{"UnknownPhaseShowsTheFailure", {"show:bogus:Zoom", "press:閉じる"},
              "録音を始められませんでした /  / - / 閉じる", "dismiss"},
        Steps{"AWarningTakesTheClocksPlaceAndOutlivesAHide",
              {"show:recording:Zoom", "warn:マイクの音が届いていません", "tick:5", "hide", "show:paused:Zoom"},
              "一時停止しています / !マイクの音が届いていません / - / 再開* 止めて保存*", ""},
        Steps{"TheClockCountedOnBehindTheWarning", {"show:recording:Zoom", "warn:x", "tick:5", "warn"},
              "● 記録しています / Zoom ・ 00:05 / - / 一時停止 止めて保存*", ""},
        Steps{"MetersInDecibelsWhileARecordingShowsOnly",
              {"levels:0.1:0.0005", "show:recording:Zoom", "tick:1", "show:paused:Zoom", "tick:1", "show:recording:Zoom",
               "warn:ディスクの空きが少なくなっています", "tick:1"},
              "● 記録しています / !ディスクの空きが少なくなっています / - / 一時停止 止めて保存* | 67 0 (asked 20)", ""},
        Steps{"ASaveUnderWayKeepsItsTextAndHasNoMeters",
              {"levels:1:1", "show:recording:Zoom", "warn:x", "press:止めて保存", "warn:y", "tick:1"},
              "● 記録しています / 保存しています… / - /", "finish"}),
    [](const auto& row) { return std::string(row.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Phases, MeetingPopupWithoutPanelTest,
    ::testing::Values(
        Steps{"AnOfferIsANotificationWithThePanelsButtons", {"show:invite:Zoom", "answer:start"},
              "notice: Zoom の会議が始まりました / 議事録を取りますか？ [取る,あとで]; rows:", "start"},
        Steps{"ARecordingIsInTheTrayMenuWithItsClock", {"show:invite:Zoom", "show:recording:Zoom", "tick:65"},
              "notice: -; rows: (● 記録しています ・ Zoom ・ 01:05) 一時停止 止めて保存 -; visible", ""},
        Steps{"StopAndSaveFromTheMenu", {"show:recording:Zoom", "tick:3", "choose:止めて保存", "tick:5"},
              "notice: -; rows: (保存しています…) -; visible", "finish"},
        Steps{"APausedOnesMessageIsARowOfItsOwn", {"show:paused:Zoom:マイクが見つかりません", "choose:再開"},
              "notice: -; rows: (一時停止しています ・ Zoom ・ 00:00) (マイクが見つかりません) 再開 止めて保存 -; visible", "resume"},
        Steps{"PermissionsButtonOpensTheSettings", {"show:permission:", "answer:settings"},
              "notice: 画面収録の許可が要ります / システム設定 → プライバシーとセキュリティ → 画面収録 [設定を開く,閉じる]; rows:", ""},
        Steps{"AFailureSaysWhy", {"show:error:Zoom:マイクが使えません", "answer:dismiss"},
              "notice: 録音を始められませんでした / マイクが使えません [閉じる]; rows:", "dismiss"},
        Steps{"HideTakesBothAway", {"show:error:Zoom:x", "show:recording:Zoom", "hide"}, "notice: -; rows:", ""},
        Steps{"AWarningIsARowThatCannotBeChosen", {"show:paused:Zoom:x", "warn:マイクの音が届いていません"},
              "notice: -; rows: (一時停止しています ・ Zoom ・ 00:00) (マイクの音が届いていません) (x) 再開 止めて保存 -; visible", ""}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(MeetingPopupLifetime, ClockAndButtonsDoNothingOnceThePopupIsGone) {
    auto timers = std::make_shared<FakeMainTimers>();
    FakePopupView* view = nullptr;
    auto popup = makePopup(timers, view);
    int sent = 0;
    popup->onAction = [&](const std::string&) { ++sent; };
    popup->show("recording", "Zoom", std::nullopt);
    std::vector<PopupButton> kept = view->buttons;
    std::weak_ptr<MeetingPopup> weak = popup;
    popup.reset();
    EXPECT_TRUE(weak.expired()) << "the clock or a button keeps the popup alive";
    timers->advance(std::chrono::seconds(3));
    for (auto& button : kept) button.press();
    EXPECT_EQ(sent, 0);
}

struct Placement {
    const char* name;
    std::optional<std::string> remembered;
    std::vector<PopupScreen> screens;
    std::optional<PopupPoint> origin;
};

class MeetingPopupPlacementTest : public ::testing::TestWithParam<Placement> {};

TEST_P(MeetingPopupPlacementTest, PlacesThePanel) {
    EXPECT_EQ(MeetingPopupPlacement::origin(GetParam().remembered, GetParam().screens), GetParam().origin);
}

// A primary monitor with a 30-high panel at its bottom, and a smaller one above it to the right.
const std::vector<PopupScreen> kTwoMonitors = {{{1920, 1080, 1280, 1024}, false}, {{0, 30, 1920, 1050}, true}};

INSTANTIATE_TEST_SUITE_P(
    Origins, MeetingPopupPlacementTest,
    ::testing::Values(
        Placement{"NothingRememberedTakesThePrimaryCorner", std::nullopt, kTwoMonitors, PopupPoint{1556, 102}},
        Placement{"RememberedOnTheSecondMonitor", "{2500, 1900}", kTwoMonitors, PopupPoint{2500, 1900}},
        Placement{"HalfThePanelOverTheEdgeStillCounts", "{-170, -22}", kTwoMonitors, PopupPoint{-170, -22}},
        Placement{"JustBeyondThatDoesNot", "{-170.5, 500}", kTwoMonitors, PopupPoint{1556, 102}},
        Placement{"AMonitorUnpluggedSinceIsIgnored", "{2500, 1900}", {kTwoMonitors[1]}, PopupPoint{1556, 102}},
        Placement{"WrittenWithoutSpacesAndFractions", "{12.5,-20}", kTwoMonitors, PopupPoint{12.5, -20}},
        Placement{"UnreadableIsIgnored", "{12, }", kTwoMonitors, PopupPoint{1556, 102}},
        Placement{"NoMonitorLeavesItWhereItIs", "{12, 40}", {}, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(MeetingPopupMoves, SavedAtMostEveryHalfSecondAndTheLastOneAlways) {
    auto timers = std::make_shared<FakeMainTimers>();
    auto defaults = std::make_shared<FakeUserDefaults>();
    defaults->values[MeetingPopupPlacement::kOriginKey] = "{100, 200}";
    FakePopupView* view = nullptr;
    auto popup = makePopup(timers, view, {}, defaults);
    popup->show("invite", "Zoom", std::nullopt);
    ASSERT_EQ(view->origin, (PopupPoint{100, 200}));
    std::vector<std::string> saved;
    const auto step = [&](int x, int afterMs) {
        if (x) view->moved(PopupPoint{static_cast<double>(x), 7});
        timers->advance(std::chrono::milliseconds(afterMs));
        saved.push_back(defaults->values[MeetingPopupPlacement::kOriginKey]);
    };
    step(1, 200);  // saved at once
    step(2, 200);  // within the interval: waits
    step(3, 100);  // the interval ends: the latest one is saved
    step(0, 600);  // nothing new
    step(4, 0);    // a move after a quiet spell is saved at once
    EXPECT_EQ(saved, (std::vector<std::string>{"{1, 7}", "{1, 7}", "{3, 7}", "{3, 7}", "{4, 7}"}));
}

}  // namespace
}  // namespace orvan::testing
