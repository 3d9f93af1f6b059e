// Test helpers: a temporary folder, an environment variable and the current directory, each
// changed for one scope.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace devod::webtest {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "devweb_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class ScopedEnv {  // sets name to value, or unsets it for std::nullopt
public:
    ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
        if (const char* old = ::getenv(name_.c_str())) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }

private:
    void Set(const std::optional<std::string>& value) {
        value ? ::setenv(name_.c_str(), value->c_str(), 1) : ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCwd() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};

// A settings home of its own (the registry file goes under it) and no endpoint overrides.
struct ConfigHome {
    TempDir dir;
    ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path()};
    ScopedEnv host{"DEVOD_WEB_HOST", std::nullopt};
    ScopedEnv port{"DEVOD_WEB_PORT", std::nullopt};
};

}  // namespace devod::webtest
