// What the page logic needs from its windows, without any widget type: the controls of a page
// addressed by their numeric ids, the window timers, and every modal question to the owner. The
// Qt pages implement these; tests answer them with fakes and scripts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devod {

// Message box styles and answers, with the values of the Windows API.
enum MessageBoxStyle : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbYesNo = 0x4,
    kMbIconStop = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconExclamation = 0x30,
    kMbIconInformation = 0x40,
};
enum MessageBoxAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// The common file dialog: Save As or Open.
struct FileDialogRequest {
    bool save = true;
    std::string default_extension;  // "xls": appended when the typed name has none
    std::string initial_name;       // "*.xls"
    std::string filter;             // "csv Files (*.xls)|*.xls|"
    bool overwrite_prompt = false;  // ask before an existing file is replaced
    bool hide_read_only = true;
    bool file_must_exist = false;
    std::string initial_folder;  // where the dialog opens; empty: its own choice
};

// A serial port and the model to open it as, as the owner chooses them by hand.
struct SerialChoice {
    int port = 0;  // COM number, 1 to 256
    std::string model;
};

// The program's own modal questions go through here (the web shop's dialogs have a prompt of
// their own, IWebPrompt).
class IPrompt {
public:
    virtual ~IPrompt() = default;
    // Returns the button pressed (kIdOk, kIdYes, kIdNo, …).
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned style) = 0;
    // The chosen path, or nothing when the owner cancelled.
    virtual std::optional<std::string> FileDialog(const FileDialogRequest& request) = 0;
    // The wait cursor around a long blocking operation.
    virtual void SetWaitCursor(bool waiting) = 0;
    // The port and model of a device on a serial port, offered with `initial` chosen; nothing
    // when the owner cancelled.
    virtual std::optional<SerialChoice> ChooseSerialPort(const std::vector<std::string>& models,
                                                         const SerialChoice& initial) = 0;
};

// The controls of one dialog page, by id. Combo boxes count items from 0; -1 is "no selection".
class IControls {
public:
    virtual ~IControls() = default;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual std::string GetText(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual bool IsEnabled(int id) const = 0;
    virtual void Show(int id, bool visible) = 0;
    virtual bool IsShown(int id) const = 0;
    virtual void SetCheck(int id, bool checked) = 0;
    virtual bool IsChecked(int id) const = 0;
    virtual void SetFocus(int id) = 0;

    virtual void ComboReset(int id) = 0;
    virtual int ComboAdd(int id, const std::string& text) = 0;  // returns the new index
    virtual int ComboInsert(int id, int index, const std::string& text) = 0;
    virtual void ComboDelete(int id, int index) = 0;
    virtual int ComboCount(int id) const = 0;
    virtual std::string ComboText(int id, int index) const = 0;
    virtual void ComboSelect(int id, int index) = 0;
    virtual int ComboSelection(int id) const = 0;

    // Window messages to a control (the progress bars' message interface).
    virtual intptr_t SendMessage(int id, unsigned message, uintptr_t wparam, intptr_t lparam) = 0;
};

// Window timers of a page: the page's OnTimer(id) runs on expiry until the timer is killed.
class ITimers {
public:
    virtual ~ITimers() = default;
    virtual void SetTimer(unsigned id, unsigned period_ms) = 0;
    virtual void KillTimer(unsigned id) = 0;
};

}  // namespace devod
