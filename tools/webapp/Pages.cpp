#include "tools/webapp/Pages.h"

#include "tools/webapp/HtmlEscape.h"

namespace orvan::webapp {
namespace {

constexpr std::string_view kLoginPath = "/auth/login";
constexpr std::string_view kRecordLink = "/meeting-notes/record?mode=desktop-app";

// Every caller-supplied piece goes through escapeHtml here or in the callers; fixed text is ours.
std::string document(std::string_view title, std::string_view path, const std::string& content)
{
    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"UTF-8\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    html += "<title>" + escapeHtml(title) + "</title>\n</head>\n<body>\n";
    html += "<header><a id=\"home-link\" href=\"/\">Tomoriva</a></header>\n<main>\n";
    html += "<h1 id=\"page-path\">" + escapeHtml(path) + "</h1>\n";
    html += content;
    html += "</main>\n</body>\n</html>\n";
    return html;
}

std::string link(std::string_view href, std::string_view label)
{
    return "<li><a href=\"" + escapeHtml(href) + "\">" + escapeHtml(label) + "</a></li>\n";
}

}  // namespace

const std::vector<MenuEntry>& menuEntries()
{
    static const std::vector<MenuEntry> entries{
        {"/chat", "チャット"},
        {"/tasks", "タスク"},
        {"/calendar", "カレンダー"},
        {"/agent", "エージェント"},
        {"/meeting-notes", "議事録"},
        {"/pages", "ページ"},
        {"/decks", "スライド"},
        {"/databases", "データベース"},
        {"/decisions", "意思決定"},
        {"/crm", "顧客管理"},
    };
    return entries;
}

bool isMenuPath(std::string_view path)
{
    for (const auto& entry : menuEntries()) {
        if (path == entry.path)
            return true;
        if (path.size() > entry.path.size() && path.substr(0, entry.path.size()) == entry.path
            && path[entry.path.size()] == '/')
            return true;
    }
    return false;
}

std::string startPage()
{
    std::string content = "<nav id=\"menu\"><ul>\n";
    for (const auto& entry : menuEntries())
        content += link(entry.path, entry.label);
    content += "</ul></nav>\n<ul id=\"shortcuts\">\n";
    content += link(kLoginPath, "ログイン");
    content += link(kRecordLink, "会議を録音");
    content += "</ul>\n";
    return document("Tomoriva", "/", content);
}

std::string sectionPage(std::string_view path)
{
    return document(path, path, "<p>このページは準備中です。</p>\n");
}

// The meeting-notes page as the desktop application uses it: recorder buttons (also on the keys R,
// P, U and S, so a test can press them), and the way the web application collects a recording:
// "pending" for the file, readRecording for its bytes, an upload, then "discard". It collects on
// load, and again after every stop. It also tells the server when the shell's recording flag changes.
constexpr std::string_view kRecorderSection = R"html(<section id="recorder">
<p id="record-status" role="status">待機中</p>
<button id="record-start" type="button" data-action="start">録音開始 (R)</button>
<button id="record-pause" type="button" data-action="pause">一時停止 (P)</button>
<button id="record-resume" type="button" data-action="resume">再開 (U)</button>
<button id="record-stop" type="button" data-action="stop">停止 (S)</button>
</section>
<h2>送信済みの録音</h2>
<ul id="uploads"></ul>
<script>
(() => {
  'use strict';
  const status = document.getElementById('record-status');
  const show = (text) => { status.textContent = text; };
  const shell = window.orvanMobile;

  // The shell's recording flag, reported to the server each time the shell sets it (as a beacon,
  // which outlives the page when the shell sends the window elsewhere right after).
  let recordingActive = window.__orvanRecordingActive;
  Object.defineProperty(window, '__orvanRecordingActive', {
    configurable: true,
    get: () => recordingActive,
    set: (value) => {
      recordingActive = value;
      navigator.sendBeacon(`/api/recording-flag?active=${value === true}`);
    },
  });

  async function refreshUploads() {
    const response = await fetch('/api/recordings', { cache: 'no-store' });
    const list = await response.json();
    const items = list.map((upload, index) => {
      const item = document.createElement('li');
      item.className = 'upload';
      const label = document.createElement('span');
      label.textContent = `${upload.name} (${upload.size} バイト) `;
      const player = document.createElement('audio');
      player.controls = true;
      player.preload = 'none';
      player.src = `/api/recordings/${index}`;
      item.append(label, player);
      return item;
    });
    document.getElementById('uploads').replaceChildren(...items);
  }

  // One left-over recording: read through the shell, uploaded, then deleted by the shell.
  async function collectOne() {
    const path = await shell.pendingMeetingRecording();
    if (!path) return false;
    show('録音を送信しています');
    const bytes = await shell.readRecording(path);
    const name = `meeting-${new Date().toISOString().replace(/[:.]/g, '-')}.m4a`;
    const response = await fetch('/api/recordings', {
      method: 'POST',
      headers: { 'Content-Type': 'audio/mp4', 'X-File-Name': encodeURIComponent(name) },
      body: bytes,
    });
    if (!response.ok) throw new Error(`送信できませんでした (${response.status})`);
    await shell.discardRecording(path);
    show('録音を送信しました');
    return true;
  }

  async function collect() {
    let sent = 0;
    while (await collectOne()) sent += 1;
    if (sent === 0) show('未送信の録音はありません');
    await refreshUploads();
  }

  const actions = {
    start: async () => { await shell.startMeetingRecording(); show('録音中'); },
    pause: async () => { await shell.pauseMeetingRecording(); show('一時停止中'); },
    resume: async () => { await shell.resumeMeetingRecording(); show('録音中'); },
    stop: async () => {
      show('録音をまとめています');
      await shell.stopMeetingRecording();
      await collect();
    },
  };

  let busy = false;
  async function run(action) {
    if (busy) return;
    busy = true;
    try {
      await action();
    } catch (error) {
      show(`エラー: ${error.message}`);
    } finally {
      busy = false;
    }
  }

  if (!shell) {
    show('録音はデスクトップアプリで行えます');
    for (const button of document.querySelectorAll('#recorder button')) button.disabled = true;
    refreshUploads();
    return;
  }
  for (const button of document.querySelectorAll('#recorder button')) {
    button.addEventListener('click', () => run(actions[button.dataset.action]));
  }
  const keys = { r: 'start', p: 'pause', u: 'resume', s: 'stop' };
  document.addEventListener('keydown', (event) => {
    const action = keys[event.key.toLowerCase()];
    if (action && !event.ctrlKey && !event.altKey && !event.metaKey) run(actions[action]);
  });
  run(collect);
})();
</script>
)html";

std::string recordPage(std::string_view path, std::string_view query)
{
    return document(path, path, "<p id=\"record-query\">" + escapeHtml(query) + "</p>\n" + std::string(kRecorderSection));
}

std::string loginPage(const std::optional<std::string>& error)
{
    std::string content;
    if (error)
        content += "<p id=\"login-error\" role=\"alert\">" + escapeHtml(*error) + "</p>\n";
    content += "<form id=\"login-form\" method=\"post\" action=\"" + escapeHtml(kLoginPath) + "\">\n";
    content += "<label>ユーザー名 <input name=\"user\" autocomplete=\"username\" required></label>\n";
    content += "<button type=\"submit\">ログイン</button>\n</form>\n";
    return document(kLoginPath, kLoginPath, content);
}

std::string notFoundPage(std::string_view path)
{
    return document(path, path, "<p id=\"not-found\">ページが見つかりません。</p>\n");
}

}  // namespace orvan::webapp
