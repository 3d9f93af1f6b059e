// A page or window laid out from a dialog template: controls placed in dialog units and known by
// their numeric ids. It gives the page logic its controls (IControls) and its window timers
// (ITimers), and forwards the owner's clicks, selection and text changes by control id.
#pragma once

#include <QGroupBox>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>

#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/dialog_units.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class CTextProgressCtrl;

namespace devod {

// A group box drawn the way dialog templates expect: the frame's top line runs through the
// middle of the title, and the title takes only one text line at the top of the box. (Qt's
// styles draw the title above the frame, a few pixels lower, where the template puts the first
// row of controls.) Its children are not laid out: the page places the controls it frames.
class DialogGroupBox : public QGroupBox {
    Q_OBJECT

public:
    DialogGroupBox(const QString& title, QWidget* parent);

    // The band at the top that the title takes, as high as a line of the box's font; controls
    // the box frames lie below it.
    int TitleBandHeight() const;
    // Where the title is drawn, in the box's own coordinates.
    QRect TitleRect() const;
    // The frame: its top line runs through the middle of the title band.
    QRect FrameRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class DialogPage : public QWidget, public IControls, public ITimers {
    Q_OBJECT

public:
    explicit DialogPage(QWidget* parent = nullptr);
    ~DialogPage() override;

    // Where the owner's actions go: a click, a selection change or a text change of control id.
    std::function<void(int id)> on_command;
    std::function<void(int id)> on_text_changed;
    std::function<void(unsigned id)> on_timer;

    const DialogUnits& Units() const { return units_; }
    // Sizes the page to a template of w × h dialog units.
    void SetTemplateSize(int w, int h);

    // Controls at template positions (dialog units). A group box takes its template rectangle
    // whole; its title sits inside it, on the frame's top line.
    QPushButton* AddButton(int id, const QString& text, int x, int y, int w, int h);
    QGroupBox* AddGroup(int id, const QString& text, int x, int y, int w, int h);
    QLabel* AddStatic(int id, const QString& text, int x, int y, int w, int h, bool centred);
    QLineEdit* AddEdit(int id, int x, int y, int w, int h, bool read_only, bool digits_only,
                       bool right_aligned);
    QComboBox* AddDropList(int id, int x, int y, int w, int h);
    // The first radio button of a group starts a new group of mutually exclusive buttons.
    QRadioButton* AddRadio(int id, const QString& text, int x, int y, int w, int h,
                           bool first_of_group);
    CTextProgressCtrl* AddProgress(int id, int x, int y, int w, int h);

    QWidget* Control(int id) const;

    // IControls
    void SetText(int id, const std::string& text) override;
    std::string GetText(int id) const override;
    void Enable(int id, bool enabled) override;
    bool IsEnabled(int id) const override;
    void Show(int id, bool visible) override;
    bool IsShown(int id) const override;
    void SetCheck(int id, bool checked) override;
    bool IsChecked(int id) const override;
    void SetFocus(int id) override;
    void ComboReset(int id) override;
    int ComboAdd(int id, const std::string& text) override;
    int ComboInsert(int id, int index, const std::string& text) override;
    void ComboDelete(int id, int index) override;
    int ComboCount(int id) const override;
    std::string ComboText(int id, int index) const override;
    void ComboSelect(int id, int index) override;
    int ComboSelection(int id) const override;
    intptr_t SendMessage(int id, unsigned message, uintptr_t wparam, intptr_t lparam) override;

    // ITimers
    void SetTimer(unsigned id, unsigned period_ms) override;
    void KillTimer(unsigned id) override;

private:
    template <typename W>
    W* Place(W* widget, int id, int x, int y, int w, int h);
    QComboBox* Combo(int id) const;
    void Command(int id);

    DialogUnits units_;
    std::map<int, QWidget*> controls_;
    std::map<unsigned, QTimer*> timers_;
    QButtonGroup* radio_group_ = nullptr;
};

}  // namespace devod
