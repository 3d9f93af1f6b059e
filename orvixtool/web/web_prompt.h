// The web shop's questions to the owner: the login dialog, the "Login Failed" notice and the
// database choice. The program shows them as dialogs; tests answer them with a script.
#pragma once

#include <optional>
#include <string>

#include "orvixtool/web/link_entry.h"

namespace devod {

// What the owner typed in the shop's login dialog.
struct LoginInput {
    std::string email;
    std::string password;
};

class IWebPrompt {
public:
    virtual ~IWebPrompt() = default;
    // The shop's login dialog (it loads and stores the remembered account itself): the account
    // typed, or nothing on Cancel.
    virtual std::optional<LoginInput> LoginDialog() = 0;
    // The "Login Failed" notice with its forgotten-password link.
    virtual void FailedLoginDialog() = 0;
    // The database choice: the chosen item's text ("" when OK was pressed with nothing chosen),
    // or nothing for "Manual Update / Exit".
    virtual std::optional<std::string> SelectDatabase(const LinkList& links) = 0;
};

}  // namespace devod
