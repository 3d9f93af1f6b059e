// The web shop's questions as the program shows them: the login, login-failed and database
// choice dialogs.
#pragma once

#include <QPointer>
#include <QWidget>

#include "orvixtool/web/web_prompt.h"

namespace devod {

class QtWebPrompt : public IWebPrompt {
public:
    explicit QtWebPrompt(QWidget* parent = nullptr) : parent_(parent) {}

    std::optional<LoginInput> LoginDialog() override;
    void FailedLoginDialog() override;
    std::optional<std::string> SelectDatabase(const LinkList& links) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace devod
