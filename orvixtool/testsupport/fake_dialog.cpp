#include "orvixtool/testsupport/fake_dialog.h"

namespace devod::testing {

const FakeControls::Control& FakeControls::Get(int id) const {
    static const Control kAbsent{};
    auto it = controls_.find(id);
    return it != controls_.end() ? it->second : kAbsent;
}

void FakeControls::SetText(int id, const std::string& text) {
    controls_[id].text = text;
    if (on_text_changed) on_text_changed(id);
}

std::string FakeControls::GetText(int id) const { return Get(id).text; }

void FakeControls::ComboReset(int id) {
    controls_[id].items.clear();
    controls_[id].selection = -1;
}

int FakeControls::ComboAdd(int id, const std::string& text) {
    controls_[id].items.push_back(text);
    return static_cast<int>(controls_[id].items.size()) - 1;
}

int FakeControls::ComboInsert(int id, int index, const std::string& text) {
    auto& items = controls_[id].items;
    if (index < 0 || index > static_cast<int>(items.size())) index = static_cast<int>(items.size());
    items.insert(items.begin() + index, text);
    return index;
}

void FakeControls::ComboDelete(int id, int index) {
    auto& c = controls_[id];
    if (index < 0 || index >= static_cast<int>(c.items.size())) return;
    c.items.erase(c.items.begin() + index);
    if (c.selection == index)
        c.selection = -1;
    else if (c.selection > index)
        --c.selection;
}

std::string FakeControls::ComboText(int id, int index) const {
    const auto& items = Get(id).items;
    return index >= 0 && index < static_cast<int>(items.size()) ? items[index] : std::string();
}

void FakeControls::ComboSelect(int id, int index) {
    auto& c = controls_[id];
    c.selection = index >= 0 && index < static_cast<int>(c.items.size()) ? index : -1;
}

intptr_t FakeControls::SendMessage(int id, unsigned message, uintptr_t wparam, intptr_t lparam) {
    bool repaint = false;
    return progress_[id].Handle(message, wparam, lparam, &repaint);
}

int ScriptedPrompt::MessageBox(const std::string& text, const std::string& caption,
                               unsigned style) {
    boxes.push_back({text, caption, style});
    if (while_open) while_open();
    if (box_answers_.empty()) {
        // An information box needs no scripted answer; a question does.
        if ((style & 0xF) != kMbOk) unexpected.push_back("box: " + text);
        return kIdOk;
    }
    int answer = box_answers_.front();
    box_answers_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedPrompt::FileDialog(const FileDialogRequest& request) {
    file_requests.push_back(request);
    if (file_answers_.empty()) {
        unexpected.push_back("file dialog");
        return std::nullopt;
    }
    auto answer = file_answers_.front();
    file_answers_.pop_front();
    return answer;
}

std::optional<LoginInput> ScriptedPrompt::LoginDialog() {
    ++logins;
    if (login_answers_.empty()) {
        unexpected.push_back("login dialog");
        return std::nullopt;
    }
    auto answer = login_answers_.front();
    login_answers_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedPrompt::SelectDatabase(const LinkList& links) {
    selections.push_back(links);
    if (select_answers_.empty() && choose_database) return choose_database(links);
    if (select_answers_.empty()) {
        unexpected.push_back("database selection");
        return std::nullopt;
    }
    auto answer = select_answers_.front();
    select_answers_.pop_front();
    return answer;
}

}  // namespace devod::testing
