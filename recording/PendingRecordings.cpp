#include <algorithm>
#include <string>
#include <system_error>
#include <utility>

#include "platform/SystemLog.h"
#include "recording/MeetingRecorder.h"
#include "recording/RecordingFiles.h"

// The recorder's finishing of recordings: joining segments, the left-overs that "pending" finds and
// finishes, and "discard".
namespace orvan {

namespace fs = std::filesystem;
using recording_files::failureOf;
using recording_files::itemExists;
using recording_files::listEntries;
using recording_files::removeQuietly;
using recording_files::resolved;

namespace {

constexpr const char* kSegmentPrefix = "segment-";
constexpr const char* kSegmentExtension = ".m4a";
constexpr const char* kRawKeptLog = "MeetingRecorder: 録音をまとめ直せません（raw は残す）: ";
constexpr const char* kSegmentsKeptLog = "MeetingRecorder: 録音をまとめ直せません（セグメントは残す）: ";
constexpr const char* kEmptyMessage = "録音が空です";

RecordingFailure joinFailure(const AudioJoiner::Failure& failure) {
    switch (failure.kind) {
    case AudioJoiner::Failure::Kind::noTrack:
        return RecorderError::exportFailed("トラックを作れません");
    case AudioJoiner::Failure::Kind::noExportSession:
        return RecorderError::exportFailed("書き出しを準備できません");
    case AudioJoiner::Failure::Kind::failed:
        break;
    }
    return SystemError{failure.message};
}

}  // namespace

void MeetingRecorder::pending(PendingDone done) {
    jobs_.run([this, done = std::move(done)] {
        auto found = failureOf<std::variant<std::optional<std::string>, RecordingFailure>>([this] { return findPending(); });
        onMainLoop([done, found] { done(found); });
    });
}

void MeetingRecorder::discard(const std::string& path, Done done) {
    jobs_.run([this, path, done = std::move(done)] {
        auto failure = failureOf<std::optional<RecordingFailure>>([&] { return discardNow(path); });
        onMainLoop([done, failure] { done(failure); });
    });
}

bool MeetingRecorder::claimForFinishing(const fs::path& dir) {
    return queue_->sync([this, &dir] {
        if ((sessionDir_ && *sessionDir_ == dir) || finishing_.contains(dir)) return false;
        finishing_.insert(dir);
        return true;
    });
}

std::vector<fs::path> MeetingRecorder::listSegments(const fs::path& dir) {
    auto segments = listSegmentsChecked(dir);
    if (auto* found = std::get_if<std::vector<fs::path>>(&segments)) return std::move(*found);
    return {};
}

std::variant<std::vector<fs::path>, SystemError> MeetingRecorder::listSegmentsChecked(const fs::path& dir) {
    auto entries = listEntries(dir);
    if (const auto* error = std::get_if<SystemError>(&entries)) return *error;
    std::vector<fs::path> segments;
    for (const auto& path : std::get<std::vector<fs::path>>(entries)) {
        if (path.filename().string().starts_with(kSegmentPrefix) && path.extension() == kSegmentExtension) {
            segments.push_back(path);
        }
    }
    std::sort(segments.begin(), segments.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    return segments;
}

std::variant<fs::path, RecordingFailure> MeetingRecorder::mergeSegments(const fs::path& dir) {
    const fs::path output = dir / kFinishedName;
    if (itemExists(output)) return output;

    const auto segments = listSegmentsChecked(dir);
    if (const auto* error = std::get_if<SystemError>(&segments)) return RecordingFailure(*error);
    std::vector<AudioJoiner::Piece> pieces;
    MediaTime cursor;
    for (const auto& segment : std::get<std::vector<fs::path>>(segments)) {
        // Unreadable segments, and segments a recorder created but never recorded into, add nothing.
        const auto duration = ports_.joiner->audioDuration(segment);
        if (!duration || !duration->isPositive()) continue;
        pieces.push_back({segment, *duration});
        cursor = cursor + *duration;
    }
    if (!cursor.isPositive()) return RecordingFailure(RecorderError::exportFailed(kEmptyMessage));

    const fs::path partial = dir / kPartialName;
    removeQuietly(partial);
    if (auto failure = ports_.joiner->join(pieces, partial)) {
        removeQuietly(partial);
        return joinFailure(*failure);
    }
    std::error_code error;
    fs::rename(partial, output, error);
    if (error) {
        removeQuietly(partial);
        return RecordingFailure(SystemError{error.message()});
    }
    for (const auto& segment : listSegments(dir)) {
        std::error_code ignored;
        fs::remove(segment, ignored);
    }
    return output;
}

bool MeetingRecorder::neverRecorded(const std::vector<fs::path>& segments) {
    return std::all_of(segments.begin(), segments.end(), [this](const fs::path& segment) {
        std::error_code error;
        if (fs::file_size(segment, error) == 0 && !error) return true;
        const auto duration = ports_.joiner->audioDuration(segment);
        return duration && !duration->isPositive();
    });
}

std::variant<std::optional<std::string>, RecordingFailure> MeetingRecorder::findPending() {
    const auto [inUse, finishing] = queue_->sync([this] { return std::pair(sessionDir_, finishing_); });

    // A listing that fails counts as an empty one: nothing is found, nothing is touched.
    auto listed = listEntries(ports_.recordingsDirectory);
    auto entries = std::holds_alternative<SystemError>(listed) ? std::vector<fs::path>{}
                                                              : std::get<std::vector<fs::path>>(std::move(listed));
    // Names are random UUIDs, so this order is not the order of recording.
    std::sort(entries.begin(), entries.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });

    for (const auto& entry : entries) {
        if ((inUse && *inUse == entry) || finishing.contains(entry)) continue;
        const fs::path finished = entry / kFinishedName;
        if (itemExists(finished)) return std::optional<std::string>(finished.string());
        if (!claimForFinishing(entry)) continue;
        struct Release {
            MeetingRecorder* recorder;
            const fs::path& dir;
            ~Release() {
                recorder->queue_->sync([this] { recorder->finishing_.erase(dir); });
            }
        } release{this, entry};

        if (itemExists(entry / kSystemTrackName) || itemExists(entry / kMicTrackName)) {
            // Where they cannot be mixed here the raw tracks are kept for a version that can.
            if (!ports_.systemAudio->canFinalize()) continue;
            auto finalized = ports_.systemAudio->finalize(entry);
            if (const auto* file = std::get_if<fs::path>(&finalized)) return std::optional<std::string>(file->string());
            if (std::holds_alternative<SystemAudio::NoSound>(finalized)) {
                removeQuietly(entry);
            } else {
                systemLog(kRawKeptLog + std::get<RecordingFailure>(finalized).description());
            }
            continue;
        }
        const auto segments = listSegmentsChecked(entry);
        // Only a directory known to hold nothing is removed, never one the disk failed to list.
        if (const auto* error = std::get_if<SystemError>(&segments)) return RecordingFailure(*error);
        if (std::get<std::vector<fs::path>>(segments).empty()) {
            removeQuietly(entry);
            continue;
        }
        auto merged = mergeSegments(entry);
        if (const auto* file = std::get_if<fs::path>(&merged)) return std::optional<std::string>(file->string());
        const auto& failure = std::get<RecordingFailure>(merged);
        if (failure != RecordingFailure(RecorderError::exportFailed(kEmptyMessage))) return failure;
        // Nothing to join must not hold back the recordings after it: a session stopped before its
        // first fragment goes, one whose segments cannot be read stays for a version that can.
        if (neverRecorded(std::get<std::vector<fs::path>>(segments))) removeQuietly(entry);
        else systemLog(kSegmentsKeptLog + failure.description());
    }
    return std::optional<std::string>();
}

std::optional<RecordingFailure> MeetingRecorder::discardNow(const std::string& path) {
    const fs::path file = resolved(fs::path(path));
    const fs::path root = resolved(ports_.recordingsDirectory);
    const fs::path dir = file.parent_path();
    if (file.filename() != kFinishedName || dir.parent_path().string() != root.string() ||
        dir.string() == root.string()) {
        return std::nullopt;
    }
    const bool busy = queue_->sync([this, &dir] {
        if (sessionDir_ && resolved(*sessionDir_).string() == dir.string()) return true;
        return std::any_of(finishing_.begin(), finishing_.end(),
                           [&dir](const fs::path& finishing) { return resolved(finishing).string() == dir.string(); });
    });
    if (busy) return std::nullopt;

    if (!itemExists(dir)) {
        return RecordingFailure(SystemError{std::make_error_code(std::errc::no_such_file_or_directory).message()});
    }
    std::error_code error;
    fs::remove_all(dir, error);
    if (error) return RecordingFailure(SystemError{error.message()});
    return std::nullopt;
}

}  // namespace orvan
