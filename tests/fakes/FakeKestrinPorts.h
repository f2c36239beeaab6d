#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "macshell/KestrinProtocol.h"
#include "platform/ApplicationBadge.h"
#include "platform/DesktopApplication.h"
#include "platform/GlobalHotKeys.h"
#include "platform/LoginItem.h"
#include "platform/PluginLoader.h"
#include "platform/StatusItem.h"

namespace orvan::testing {

// A tray item that keeps what it was given.
class FakeStatusItem final : public StatusItem {
public:
    explicit FakeStatusItem(StatusItemContent made) : content(std::move(made)) {}
    void setTitle(const std::string& text) override { title = text; }
    void setChecked(std::size_t index, bool checked) override { content.menu.at(index).checked = checked; }
    void setLeadingRows(std::vector<StatusMenuEntry>) override {}
    StatusItemContent content;
    std::string title;
};

class FakeStatusBar final : public StatusBar {
public:
    std::unique_ptr<StatusItem> addItem(StatusItemContent content) override {
        auto made = std::make_unique<FakeStatusItem>(std::move(content));
        item = made.get();
        return made;
    }
    FakeStatusItem* item = nullptr;
};

// The application's windows reduced to two flags, with every call written down.
class FakeDesktopApplication final : public DesktopApplication {
public:
    bool hasVisibleMainWindow() override { return visible; }
    bool isActive() override { return active; }
    void hide() override { calls.push_back("hide"); }
    void unhide() override { calls.push_back("unhide"); }
    void activate(const std::string& token) override { calls.push_back("activate:" + token); }
    void keepRunningWithoutWindows(bool keep) override { calls.push_back(keep ? "hold" : "release"); }
    void terminate() override { calls.push_back("terminate"); }
    bool visible = false;
    bool active = false;
    std::vector<std::string> calls;
};

class FakeLoginItem final : public LoginItem {
public:
    bool enabled() override { return on; }
    void setEnabled(bool enabled, Failed onFailure) override {
        if (failure) throw std::runtime_error(*failure);
        failed = std::move(onFailure);
        on = enabled;
    }
    bool on = false;
    std::optional<std::string> failure;
    Failed failed;
};

// Hot keys that are pressed, or refused later, by hand.
class FakeGlobalHotKeys final : public GlobalHotKeys {
public:
    HotKeyRegistration registerHotKey(const std::vector<std::string>&, Pressed onPress, Refused onRefusal) override {
        pressed = std::move(onPress);
        refused = std::move(onRefusal);
        return {std::make_unique<GlobalHotKey>(), 0};
    }
    Pressed pressed;
    Refused refused;
};

class FakeApplicationBadge final : public ApplicationBadge {
public:
    void setBadgeCount(std::int64_t count) override { counts.push_back(count); }
    std::vector<std::int64_t> counts;
};

// A plug-in instance that writes down the protocol calls it gets.
class FakeKestrin final : public KestrinProtocol {
public:
    void installWithOpenWindow(Block open, Block reloadPage) override {
        calls.push_back("install");
        openWindow = std::move(open);
        reload = std::move(reloadPage);
    }
    void setBadgeTitle(const std::optional<std::string>& title) override { titles.push_back(title); }
    void toggleWindow() override { calls.push_back("toggle"); }
    void showWindow() override { calls.push_back("show"); }
    void startMeetingWatch(WatchBlock block) override {
        calls.push_back("watch");
        watch = std::move(block);
    }
    bool requestScreenCaptureAccess() override {
        calls.push_back("askCapture");
        return grantsCapture;
    }
    void showMeetingPopup(const std::string& phase, const std::string& label,
                          const std::optional<std::string>& message) override {
        calls.push_back("popup:" + phase + "|" + label + (message ? "|" + *message : ""));
        popupVisible = true;
    }
    void hideMeetingPopup() override {
        calls.push_back("hide");
        popupVisible = false;
    }
    bool meetingPopupVisible() override { return popupVisible; }
    void setMeetingPopupWarning(const std::optional<std::string>& warning) override {
        calls.push_back("warning:" + warning.value_or("none"));
    }
    void setMeetingLevelSource(LevelsBlock) override {}
    void setMeetingPopupHandler(ActionBlock block) override {
        calls.push_back("popupHandler");
        popupHandler = std::move(block);
    }

    std::vector<std::string> calls;
    bool popupVisible = false, grantsCapture = true;
    std::vector<std::optional<std::string>> titles;
    Block openWindow, reload;
    WatchBlock watch;
    ActionBlock popupHandler;
};

// A bundle made of a dictionary and a symbol table.
class FakePluginBundle final : public PluginBundle {
public:
    std::optional<std::string> infoString(const std::string& key) const override {
        const auto found = info.find(key);
        return found != info.end() ? std::optional<std::string>(found->second) : std::nullopt;
    }
    bool load() override { return loads; }
    void* symbol(const char* name) const override {
        const auto found = symbols.find(name);
        return found != symbols.end() ? found->second : nullptr;
    }
    std::map<std::string, std::string> info;
    std::map<std::string, void*> symbols;
    bool loads = true;
};

class FakePluginLoader final : public PluginLoader {
public:
    std::unique_ptr<PluginBundle> open(const std::filesystem::path& path) override {
        opened.push_back(path);
        return bundle ? std::make_unique<FakePluginBundle>(*bundle) : nullptr;
    }
    std::optional<FakePluginBundle> bundle;
    std::vector<std::filesystem::path> opened;
};

}  // namespace orvan::testing
