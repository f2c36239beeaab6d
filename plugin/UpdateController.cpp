#include "plugin/UpdateController.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "platform/PrivateFiles.h"
#include "platform/SystemLog.h"

namespace orvan {

namespace fs = std::filesystem;

namespace {

// The file's name in the downloads folder: the URL's last path segment, never a path of its own.
std::string fileNameOf(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string::npos) return "OrvanOffice-update";
    return name;
}

}  // namespace

UpdateController::UpdateController(Settings settings, Ports ports)
    : settings_(std::move(settings)), ports_(std::move(ports)) {}

void UpdateController::startUpdater() {
    if (settings_.automaticChecks) scheduleNext();
}

// The first check comes shortly after start, then a day after the last one, across launches.
void UpdateController::scheduleNext() {
    std::int64_t last = 0;
    if (const auto stored = ports_.defaults->string(kLastCheckKey)) last = std::strtoll(stored->c_str(), nullptr, 10);
    const std::int64_t untilDue = last + kCheckInterval.count() - ports_.now();
    const auto delay = std::chrono::seconds(std::clamp<std::int64_t>(untilDue, kFirstCheckDelay.count(), kCheckInterval.count()));
    std::weak_ptr<UpdateController> weak = weak_from_this();
    timer_ = ports_.timers->schedule(delay, false, [weak] {
        if (auto self = weak.lock()) {
            self->check(false);
            self->scheduleNext();
        }
    });
}

void UpdateController::checkForUpdates() {
    // A check or a download is under way: its window comes forward, and a check's answer is shown to
    // the user who is now waiting for it, as if they had asked first.
    if (busy_) {
        askedMeanwhile_ = true;
        ports_.dialog->bringForward();
        return;
    }
    check(true);
}

void UpdateController::check(bool userInitiated) {
    if (busy_) return;
    busy_ = true;
    askedMeanwhile_ = false;
    ports_.defaults->setString(kLastCheckKey, std::to_string(ports_.now()));
    std::weak_ptr<UpdateController> weak = weak_from_this();
    ports_.feed->fetch(settings_.feedUrl, [weak, userInitiated](UpdateFeed::Fetched fetched) {
        if (auto self = weak.lock()) self->checked(userInitiated, std::move(fetched));
    });
}

void UpdateController::checked(bool initiated, UpdateFeed::Fetched fetched) {
    busy_ = false;
    const bool userInitiated = initiated || std::exchange(askedMeanwhile_, false);
    if (!fetched.body) {
        failed(userInitiated, "アップデートを確認できませんでした", "アップデート情報を読み込めません: " + fetched.error);
        return;
    }
    auto parsed = Appcast::parse(*fetched.body);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        failed(userInitiated, "アップデートを確認できませんでした", "アップデート情報を解析できません: " + *error);
        return;
    }
    // Only checks of their own respect a skipped version: asking is asking.
    const auto skipped = userInitiated ? std::nullopt : ports_.defaults->string(kSkippedVersionKey);
    const auto newest = std::get<Appcast>(parsed).newestAfter(settings_.currentVersion, skipped);
    if (newest) {
        offer(*newest);
    } else if (userInitiated) {
        ports_.dialog->showMessage("トモリバは最新です", "バージョン " + settings_.currentVersion + " が最新のバージョンです。");
    }
}

void UpdateController::failed(bool userInitiated, const std::string& title, const std::string& detail) {
    if (userInitiated) ports_.dialog->showMessage(title, detail);
    else systemLog("Kestrin: アップデートの確認に失敗: " + detail);
}

void UpdateController::offer(const AppcastItem& item) {
    std::weak_ptr<UpdateController> weak = weak_from_this();
    ports_.dialog->showOffer(UpdateOffer{item.shortVersion, settings_.currentVersion, item.releaseNotes},
                             [weak, item](UpdateDialog::Choice choice) {
                                 auto self = weak.lock();
                                 if (!self) return;
                                 if (choice == UpdateDialog::Choice::download) self->download(item);
                                 if (choice == UpdateDialog::Choice::skip) {
                                     self->ports_.defaults->setString(kSkippedVersionKey, item.version);
                                 }
                             });
}

void UpdateController::download(const AppcastItem& item) {
    if (busy_) return;
    // A feed never lifts the ceiling: a package it says is larger is not fetched at all.
    if (item.length > kMaxPackageBytes) {
        ports_.dialog->showMessage("ダウンロードに失敗しました", "アップデート情報にあるファイルの大きさ（" +
                                                                     std::to_string(item.length) + " バイト）が上限（" +
                                                                     std::to_string(kMaxPackageBytes) + " バイト）を超えています");
        return;
    }
    busy_ = true;
    askedMeanwhile_ = false;
    // Only the newest download is ever kept: what an earlier one handed over goes now.
    (void)private_files::createDirectories(ports_.downloads);
    std::error_code error;
    for (fs::directory_iterator entry(ports_.downloads, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code ignored;
        fs::remove_all(entry->path(), ignored);
    }
    const auto file = ports_.downloads / (fileNameOf(item.url) + ".part");
    ports_.dialog->showProgress(0);
    std::weak_ptr<UpdateController> weak = weak_from_this();
    ports_.feed->download(
        item.url, item.length > 0 ? item.length : kMaxPackageBytes, file,
        [weak](double fraction) {
            if (auto self = weak.lock()) self->ports_.dialog->showProgress(fraction);
        },
        [weak, item, file](std::optional<std::string> failure) {
            if (auto self = weak.lock()) self->downloaded(item, file, std::move(failure));
        });
}

void UpdateController::downloaded(const AppcastItem& item, const fs::path& file, std::optional<std::string> error) {
    if (error) {
        busy_ = false;
        std::error_code ignored;
        fs::remove(file, ignored);
        ports_.dialog->showMessage("ダウンロードに失敗しました", *error);
        return;
    }
    // What is handed over is a private copy of exactly the bytes that were verified, so nothing can
    // be swapped in after the check; the download itself goes either way. The signature covers the
    // version too: an old package offered under a new version number does not pass. Still busy
    // meanwhile: verifying is part of the download.
    const auto copy = ports_.downloads / fileNameOf(item.url);
    std::weak_ptr<UpdateController> weak = weak_from_this();
    ports_.verifier->verifyCopy(file, item.version, item.signature, settings_.publicKey, copy,
                                [weak, item, file, copy](std::optional<std::string> refused) {
                                    std::error_code ignored;
                                    fs::remove(file, ignored);
                                    if (auto self = weak.lock()) self->verified(item, copy, std::move(refused));
                                });
}

void UpdateController::verified(const AppcastItem& item, const fs::path& copy, std::optional<std::string> refused) {
    busy_ = false;
    if (refused) {
        ports_.dialog->showMessage("ダウンロードしたファイルを検証できませんでした",
                                   "バージョン " + item.version + " の署名を確かめられなかったため、ファイルを削除しました（" +
                                       *refused + "）。");
        return;
    }
    if (const auto failure = ports_.opener->open(copy)) {
        ports_.dialog->showMessage("ダウンロードしたファイルを開けませんでした", *failure);
        return;
    }
    ports_.dialog->close();
}

}  // namespace orvan
