#include "orvixtool/config/registry.h"

#include <sys/stat.h>

#include <QSettings>
#include <QString>
#include <QVariant>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace devod {
namespace {

// Each value is stored as "<type>:<data>" so that its type survives the INI file.
constexpr std::string_view kDwordTag = "dword:";
constexpr std::string_view kStringTag = "sz:";

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ' ';
}

bool IsValidName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (!IsNameChar(c)) return false;
    }
    return true;
}

// "A\B\C" -> "A/B/C"; empty when a part is empty or holds a character not allowed.
std::string GroupFromPath(const std::string& path) {
    std::string group;
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        if (!IsValidName(part)) return {};
        if (!group.empty()) group += '/';
        group += part;
        if (end == std::string::npos) return group;
        start = end + 1;
    }
}

// Strings are kept byte for byte: each byte becomes one Latin-1 character.
QString FromBytes(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QString& text) {
    QByteArray latin = text.toLatin1();
    return std::string(latin.constData(), static_cast<size_t>(latin.size()));
}

bool MakePrivateFolder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakePrivateFolder(folder.substr(0, slash))) {
        return false;
    }
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string RegistryFilePath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return {};
        base = std::string(home) + "/.config";
    }
    return base + "/DEVOD/DevodTool.ini";
}

RegResult RegKey::Create(const std::string& path) {
    Close();
    std::string group = GroupFromPath(path);
    if (group.empty()) return kRegInvalidParameter;
    if (RegistryFilePath().empty()) return kRegAccessDenied;
    group_ = std::move(group);
    return kRegSuccess;
}

void RegKey::Close() { group_.clear(); }

RegResult RegKey::Read(const std::string& name, std::string* tagged) const {
    if (!is_open()) return kRegInvalidHandle;
    if (!IsValidName(name)) return kRegInvalidParameter;
    std::string file = RegistryFilePath();
    if (file.empty()) return kRegAccessDenied;
    QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) return kRegAccessDenied;
    QVariant value = settings.value(QString::fromStdString(group_ + '/' + name));
    if (!value.isValid()) return kRegFileNotFound;
    if (value.typeId() != QMetaType::QString) return kRegInvalidData;
    *tagged = ToBytes(value.toString());
    return kRegSuccess;
}

RegResult RegKey::Write(const std::string& name, const std::string& tagged) {
    if (!is_open()) return kRegInvalidHandle;
    if (!IsValidName(name)) return kRegInvalidParameter;
    std::string file = RegistryFilePath();
    if (file.empty()) return kRegAccessDenied;
    if (!MakePrivateFolder(file.substr(0, file.rfind('/')))) return kRegAccessDenied;
    {
        QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
        settings.setValue(QString::fromStdString(group_ + '/' + name), FromBytes(tagged));
        settings.sync();
        if (settings.status() != QSettings::NoError) return kRegAccessDenied;
    }
    if (::chmod(file.c_str(), 0600) != 0) return kRegAccessDenied;
    return kRegSuccess;
}

RegResult RegKey::QueryDword(const std::string& name, uint32_t* value) const {
    std::string tagged;
    RegResult result = Read(name, &tagged);
    if (result != kRegSuccess) return result;
    if (!tagged.starts_with(kDwordTag)) return kRegInvalidData;
    const char* first = tagged.data() + kDwordTag.size();
    const char* last = tagged.data() + tagged.size();
    uint32_t parsed = 0;
    auto [end, ec] = std::from_chars(first, last, parsed);
    if (ec != std::errc() || end != last || first == last) return kRegInvalidData;
    *value = parsed;
    return kRegSuccess;
}

RegResult RegKey::QueryString(const std::string& name, char* buffer, uint32_t* size) const {
    if (buffer == nullptr || size == nullptr) return kRegInvalidParameter;
    std::string tagged;
    RegResult result = Read(name, &tagged);
    if (result != kRegSuccess) return result;
    if (!tagged.starts_with(kStringTag)) return kRegInvalidData;
    std::string_view text = std::string_view(tagged).substr(kStringTag.size());
    if (text.find('\0') != std::string_view::npos) return kRegInvalidData;
    uint32_t capacity = *size;
    *size = static_cast<uint32_t>(text.size() + 1);
    if (text.size() + 1 > capacity) return kRegMoreData;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return kRegSuccess;
}

RegResult RegKey::SetDword(const std::string& name, uint32_t value) {
    return Write(name, std::string(kDwordTag) + std::to_string(value));
}

RegResult RegKey::SetString(const std::string& name, const std::string& value) {
    if (value.find('\0') != std::string::npos) return kRegInvalidParameter;
    return Write(name, std::string(kStringTag) + value);
}

}  // namespace devod
