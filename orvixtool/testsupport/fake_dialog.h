// Test doubles for the page logic: controls kept in maps, timers that tests fire by hand, a
// main window with its two fields, and a prompt that answers from a script and records every
// question.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/main_window_link.h"
#include "orvixtool/shell/progress_state.h"
#include "orvixtool/web/web_prompt.h"

namespace devod::testing {

class FakeControls : public IControls {
public:
    struct Control {
        std::string text;
        bool enabled = true;
        bool shown = true;
        bool checked = false;
        std::vector<std::string> items;
        int selection = -1;
    };

    void SetText(int id, const std::string& text) override;
    std::string GetText(int id) const override;
    void Enable(int id, bool enabled) override { controls_[id].enabled = enabled; }
    bool IsEnabled(int id) const override { return Get(id).enabled; }
    void Show(int id, bool visible) override { controls_[id].shown = visible; }
    bool IsShown(int id) const override { return Get(id).shown; }
    void SetCheck(int id, bool checked) override { controls_[id].checked = checked; }
    bool IsChecked(int id) const override { return Get(id).checked; }
    void SetFocus(int id) override { focus_ = id; }
    void ComboReset(int id) override;
    int ComboAdd(int id, const std::string& text) override;
    int ComboInsert(int id, int index, const std::string& text) override;
    void ComboDelete(int id, int index) override;
    int ComboCount(int id) const override { return static_cast<int>(Get(id).items.size()); }
    std::string ComboText(int id, int index) const override;
    void ComboSelect(int id, int index) override;
    int ComboSelection(int id) const override { return Get(id).selection; }
    intptr_t SendMessage(int id, unsigned message, uintptr_t wparam, intptr_t lparam) override;

    int focus() const { return focus_; }
    ProgressState& Progress(int id) { return progress_[id]; }
    // Called after SetText on a control, as an edit control's change notification would be.
    std::function<void(int id)> on_text_changed;

private:
    const Control& Get(int id) const;
    std::map<int, Control> controls_;
    std::map<int, ProgressState> progress_;
    int focus_ = 0;
};

class FakeTimers : public ITimers {
public:
    void SetTimer(unsigned id, unsigned period_ms) override { running[id] = period_ms; }
    void KillTimer(unsigned id) override { running.erase(id); }
    bool IsRunning(unsigned id) const { return running.count(id) != 0; }
    std::map<unsigned, unsigned> running;
};

// Answers message boxes, file dialogs and the web shop's dialogs in the order scripted; an
// unscripted question fails the test that asked it (recorded in `unexpected`) and gets
// "OK"/"cancel".
class ScriptedPrompt : public IPrompt, public IWebPrompt {
public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned style;
    };
    void AnswerBox(int answer) { box_answers_.push_back(answer); }
    void AnswerFile(std::optional<std::string> path) { file_answers_.push_back(std::move(path)); }
    void AnswerLogin(std::optional<LoginInput> input) {
        login_answers_.push_back(std::move(input));
    }
    void AnswerSelect(std::optional<std::string> name) {
        select_answers_.push_back(std::move(name));
    }

    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    std::optional<std::string> FileDialog(const FileDialogRequest& request) override;
    std::optional<LoginInput> LoginDialog() override;
    void FailedLoginDialog() override { ++failed_logins; }
    std::optional<std::string> SelectDatabase(const LinkList& links) override;
    void SetWaitCursor(bool waiting) override { wait_cursor.push_back(waiting); }
    std::optional<SerialChoice> ChooseSerialPort(const std::vector<std::string>& models,
                                                 const SerialChoice& initial) override {
        serial_offers.push_back({models, initial});
        if (serial_answers_.empty()) {
            unexpected.push_back("serial port dialog");
            return std::nullopt;
        }
        auto answer = serial_answers_.front();
        serial_answers_.pop_front();
        return answer;
    }
    void AnswerSerialPort(std::optional<SerialChoice> choice) {
        serial_answers_.push_back(std::move(choice));
    }
    // What each serial port dialog offered: the models and the choice it started with.
    std::vector<std::pair<std::vector<std::string>, SerialChoice>> serial_offers;

    int logins = 0;
    int failed_logins = 0;
    std::vector<LinkList> selections;  // the list each SelectDatabase showed
    std::vector<bool> wait_cursor;

    std::vector<Box> boxes;
    std::vector<FileDialogRequest> file_requests;
    std::vector<std::string> unexpected;
    std::function<void()> while_open;  // runs inside every box, as a modal loop would run timers
    // Answers the database selection once the scripted answers are used up.
    std::function<std::optional<std::string>(const LinkList&)> choose_database;

private:
    std::deque<int> box_answers_;
    std::deque<std::optional<std::string>> file_answers_;
    std::deque<std::optional<SerialChoice>> serial_answers_;
    std::deque<std::optional<LoginInput>> login_answers_;
    std::deque<std::optional<std::string>> select_answers_;
};

class FakeMainWindow : public IMainWindow {
public:
    void SetStatus(const std::string& text) override { status = text; }
    std::string Status() const override { return status; }
    void SetConnectionLabel(const std::string& text) override { label = text; }
    std::string ConnectionLabel() const override { return label; }

    std::string status;
    std::string label;
};

}  // namespace devod::testing
