#include "orvixtool/shell/dialog_page.h"

#include <qdrawutil.h>

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QTimer>

#include "orvixtool/shell/text_progress_ctrl.h"

namespace devod {
namespace {

QString FromStd(const std::string& text) { return QString::fromStdString(text); }

// Windows button texts break lines with "\r\n"; Qt wants "\n".
QString ButtonText(const QString& text) {
    QString copy = text;
    return copy.remove(QLatin1Char('\r'));
}

// Room left free on each side of the title, where the frame line is broken.
constexpr int kTitleGap = 2;

}  // namespace

DialogGroupBox::DialogGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

int DialogGroupBox::TitleBandHeight() const { return fontMetrics().height(); }

QRect DialogGroupBox::TitleRect() const {
    const QFontMetrics metrics = fontMetrics();
    const int indent = metrics.averageCharWidth() / 2 + kTitleGap;
    const QString text = title();
    return QRect(indent, 0, text.isEmpty() ? 0 : metrics.horizontalAdvance(text),
                 TitleBandHeight());
}

QRect DialogGroupBox::FrameRect() const { return rect().adjusted(0, TitleBandHeight() / 2, 0, 0); }

void DialogGroupBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRect title = TitleRect();
    // The frame line stops short of the title on both sides.
    if (!title.isEmpty()) {
        painter.setClipRegion(QRegion(rect()) - title.adjusted(-kTitleGap, 0, kTitleGap, 0));
    }
    // An etched line, drawn here rather than by the style: styles draw a group box's frame
    // below the place of its title, whatever rectangle they are given.
    qDrawShadeRect(&painter, FrameRect(), palette(), true, 1, 0);
    painter.setClipping(false);
    if (!title.isEmpty()) {
        style()->drawItemText(
            &painter, title,
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, palette(),
            isEnabled(), this->title(), QPalette::WindowText);
    }
}

DialogPage::DialogPage(QWidget* parent) : QWidget(parent), units_(DialogFont()) {
    setFont(DialogFont());
}

DialogPage::~DialogPage() = default;

void DialogPage::SetTemplateSize(int w, int h) { resize(units_.Size(w, h)); }

template <typename W>
W* DialogPage::Place(W* widget, int id, int x, int y, int w, int h) {
    SetControlId(widget, id);
    widget->setGeometry(units_.Rect(x, y, w, h));
    controls_[id] = widget;
    return widget;
}

void DialogPage::Command(int id) {
    if (on_command) on_command(id);
}

QPushButton* DialogPage::AddButton(int id, const QString& text, int x, int y, int w, int h) {
    auto* button = Place(new QPushButton(ButtonText(text), this), id, x, y, w, h);
    connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
    return button;
}

QGroupBox* DialogPage::AddGroup(int id, const QString& text, int x, int y, int w, int h) {
    auto* group = Place(new DialogGroupBox(text, this), id, x, y, w, h);
    group->lower();  // behind the controls it frames
    return group;
}

QLabel* DialogPage::AddStatic(int id, const QString& text, int x, int y, int w, int h,
                              bool centred) {
    auto* label = Place(new QLabel(text, this), id, x, y, w, h);
    label->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
    return label;
}

QLineEdit* DialogPage::AddEdit(int id, int x, int y, int w, int h, bool read_only, bool digits_only,
                               bool right_aligned) {
    auto* edit = Place(new QLineEdit(this), id, x, y, w, h);
    edit->setReadOnly(read_only);
    if (digits_only) {
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    }
    if (right_aligned) edit->setAlignment(Qt::AlignRight);
    // Like an edit control's change notification, this fires for typed and for set text.
    connect(edit, &QLineEdit::textChanged, this, [this, id] {
        if (on_text_changed) on_text_changed(id);
    });
    return edit;
}

QComboBox* DialogPage::AddDropList(int id, int x, int y, int w, int h) {
    auto* combo = Place(new QComboBox(this), id, x, y, w, h);
    // The template's height includes the dropped list; the closed box is as tall as the font.
    combo->resize(combo->width(), combo->sizeHint().height());
    connect(combo, &QComboBox::activated, this, [this, id] { Command(id); });
    return combo;
}

QRadioButton* DialogPage::AddRadio(int id, const QString& text, int x, int y, int w, int h,
                                   bool first_of_group) {
    auto* radio = Place(new QRadioButton(text, this), id, x, y, w, h);
    radio->setAutoExclusive(false);  // exclusivity comes from the group, so code can uncheck both
    if (first_of_group || radio_group_ == nullptr) {
        radio_group_ = new QButtonGroup(this);
        radio_group_->setExclusive(true);
    }
    radio_group_->addButton(radio);
    connect(radio, &QRadioButton::clicked, this, [this, id] { Command(id); });
    return radio;
}

CTextProgressCtrl* DialogPage::AddProgress(int id, int x, int y, int w, int h) {
    return Place(new CTextProgressCtrl(this), id, x, y, w, h);
}

QWidget* DialogPage::Control(int id) const {
    auto it = controls_.find(id);
    return it != controls_.end() ? it->second : nullptr;
}

QComboBox* DialogPage::Combo(int id) const { return qobject_cast<QComboBox*>(Control(id)); }

void DialogPage::SetText(int id, const std::string& text) {
    QWidget* w = Control(id);
    QString value = FromStd(text);
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(value);
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(value);
    else if (auto* group = qobject_cast<QGroupBox*>(w))
        group->setTitle(value);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(ButtonText(value));
    else if (auto* bar = qobject_cast<CTextProgressCtrl*>(w))
        bar->SetWindowText(value);
}

std::string DialogPage::GetText(int id) const {
    QWidget* w = Control(id);
    QString value;
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        value = edit->text();
    else if (auto* label = qobject_cast<QLabel*>(w))
        value = label->text();
    else if (auto* group = qobject_cast<QGroupBox*>(w))
        value = group->title();
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        value = button->text();
    else if (auto* bar = qobject_cast<CTextProgressCtrl*>(w))
        value = bar->WindowText();
    else if (auto* combo = qobject_cast<QComboBox*>(w))
        value = combo->currentText();
    return value.toStdString();
}

void DialogPage::Enable(int id, bool enabled) {
    if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

bool DialogPage::IsEnabled(int id) const {
    QWidget* w = Control(id);
    return w != nullptr && w->isEnabled();
}

void DialogPage::Show(int id, bool visible) {
    if (QWidget* w = Control(id)) w->setVisible(visible);
}

bool DialogPage::IsShown(int id) const {
    QWidget* w = Control(id);
    return w != nullptr && !w->isHidden();
}

void DialogPage::SetCheck(int id, bool checked) {
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    if (button == nullptr) return;
    QButtonGroup* group = button->group();
    if (group != nullptr && !checked) group->setExclusive(false);  // allow "neither checked"
    button->setChecked(checked);
    if (group != nullptr && !checked) group->setExclusive(true);
}

bool DialogPage::IsChecked(int id) const {
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    return button != nullptr && button->isChecked();
}

void DialogPage::SetFocus(int id) {
    if (QWidget* w = Control(id)) w->setFocus(Qt::OtherFocusReason);
}

void DialogPage::ComboReset(int id) {
    if (QComboBox* c = Combo(id)) c->clear();
}

int DialogPage::ComboAdd(int id, const std::string& text) {
    QComboBox* c = Combo(id);
    if (c == nullptr) return -1;
    c->addItem(FromStd(text));
    return c->count() - 1;
}

int DialogPage::ComboInsert(int id, int index, const std::string& text) {
    QComboBox* c = Combo(id);
    if (c == nullptr) return -1;
    if (index < 0 || index > c->count()) index = c->count();
    c->insertItem(index, FromStd(text));
    return index;
}

void DialogPage::ComboDelete(int id, int index) {
    if (QComboBox* c = Combo(id); c != nullptr && index >= 0 && index < c->count()) {
        // A list box without a selection stays without one; Qt would pick a neighbour.
        bool was_selected = c->currentIndex() == index;
        c->removeItem(index);
        if (was_selected) c->setCurrentIndex(-1);
    }
}

int DialogPage::ComboCount(int id) const {
    QComboBox* c = Combo(id);
    return c != nullptr ? c->count() : 0;
}

std::string DialogPage::ComboText(int id, int index) const {
    QComboBox* c = Combo(id);
    return c != nullptr ? c->itemText(index).toStdString() : std::string();
}

void DialogPage::ComboSelect(int id, int index) {
    if (QComboBox* c = Combo(id)) c->setCurrentIndex(index >= 0 && index < c->count() ? index : -1);
}

int DialogPage::ComboSelection(int id) const {
    QComboBox* c = Combo(id);
    return c != nullptr ? c->currentIndex() : -1;
}

intptr_t DialogPage::SendMessage(int id, unsigned message, uintptr_t wparam, intptr_t lparam) {
    auto* bar = qobject_cast<CTextProgressCtrl*>(Control(id));
    return bar != nullptr ? bar->SendMessage(message, wparam, lparam) : 0;
}

void DialogPage::SetTimer(unsigned id, unsigned period_ms) {
    QTimer*& timer = timers_[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] {
            if (on_timer) on_timer(id);
        });
    }
    timer->start(static_cast<int>(period_ms));
}

void DialogPage::KillTimer(unsigned id) {
    auto it = timers_.find(id);
    if (it != timers_.end()) it->second->stop();
}

}  // namespace devod
