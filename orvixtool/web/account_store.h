// The shop account the login dialog remembers, per user, under
// "SOFTWARE\DEVOD\HTTPACCOUNT": "IsAccountSave" (integer), "AccountID" and "AccountPass" (strings,
// the password scrambled).
#pragma once

#include <string>

namespace devod {

struct StoredAccount {
    bool saved = false;  // "IsAccountSave" is 1
    std::string email;
    std::string password;  // unscrambled
};

class HttpAccountStore {
public:
    // The remembered account; all empty and saved = false when none is stored or it cannot be
    // read back.
    StoredAccount Load() const;
    // With save_flag: remembers the account; without: forgets it (0 and empty strings). Returns
    // false when the password cannot be remembered (see the implementation); the account is then
    // forgotten instead.
    bool Save(bool save_flag, const std::string& email, const std::string& password);
};

}  // namespace devod
