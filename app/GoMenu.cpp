#include "app/GoMenu.h"

namespace orvan {

const std::vector<GoMenu::Item>& GoMenu::items() {
    static const std::vector<Item> list = {
        {"メッセージ", "/chat", '1'},
        {"タスク一覧", "/tasks", '2'},
        {"カレンダー", "/calendar", '3'},
        {"AI", "/agent", '4'},
        {"議事録", "/meeting-notes", '5'},
        {"社内ページ", "/pages", '6'},
        {"スライド", "/decks", '7'},
        {"データベース", "/databases", std::nullopt},
        {"決める", "/decisions", std::nullopt},
        {"取引先", "/crm", std::nullopt},
    };
    return list;
}

const GoMenu::ViewCommand& GoMenu::collapseSidebarCommand() {
    static const ViewCommand command{"サイドバーを畳む", 'B'};
    return command;
}

const GoMenu::ViewCommand& GoMenu::reloadCommand() {
    static const ViewCommand command{"再読み込み", 'R'};
    return command;
}

void GoMenu::open(std::size_t index) const {
    if (index >= items().size()) return;
    center_->post(notification_names::kOpenPath, items()[index].path);
}

void GoMenu::collapseSidebar() const {
    center_->post(notification_names::kEvaluate, std::string(kSidebarScript), {{"frontOnly", true}});
}

void GoMenu::reload() const {
    center_->post(notification_names::kReload);
}

}  // namespace orvan
