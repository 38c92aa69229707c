#include "registry_sandbox.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "temp_cache.h"

namespace qvork_test {

const char kNetSonicKey[] = "SOFTWARE\\web3000\\netsonic";
const char kCachePathName[] = "CachePath";

namespace {

#ifndef _WIN32
const char kRegistryVariable[] = "QVORK_REGISTRY";

void SetVariable(const char *name, const std::optional<std::string> &value) {
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}
#endif

std::string Failure(const char *what, const std::string &subKey, const std::string &name,
                    LONG code) {
    return std::string(what) + " " + subKey + " / " + name + " failed: " + std::to_string(code);
}

} // namespace

RegistrySandbox::RegistrySandbox() {
#ifdef _WIN32
    DeleteCachePath();
#else
    dir_ = std::make_unique<TempDir>("qvork-registry");
    file_ = dir_->Path() / "registry.reg";
    if (const char *previous = std::getenv(kRegistryVariable)) previousVariable_ = previous;
    SetVariable(kRegistryVariable, file_.string());
#endif
}

RegistrySandbox::~RegistrySandbox() {
#ifdef _WIN32
    try {
        DeleteCachePath();
    } catch (const std::exception &) {
    }
#else
    SetVariable(kRegistryVariable, previousVariable_);
#endif
}

void RegistrySandbox::SetValue(HKEY root, const std::string &subKey, const std::string &name,
                               DWORD type, const std::string &data) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS) throw std::runtime_error(Failure("create", subKey, name, result));
    result = RegSetValueExA(key, name.c_str(), 0, type,
                            reinterpret_cast<const BYTE *>(data.data()),
                            static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) throw std::runtime_error(Failure("set", subKey, name, result));
}

void RegistrySandbox::SetString(HKEY root, const std::string &subKey, const std::string &name,
                                const std::string &text) {
    SetValue(root, subKey, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

std::optional<std::string> RegistrySandbox::GetValue(HKEY root, const std::string &subKey,
                                                     const std::string &name, DWORD *type) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD size = 0;
    DWORD valueType = 0;
    LONG result = RegQueryValueExA(key, name.c_str(), nullptr, &valueType, nullptr, &size);
    std::vector<BYTE> data(size + 1);
    if (result == ERROR_SUCCESS)
        result = RegQueryValueExA(key, name.c_str(), nullptr, &valueType, data.data(), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return std::nullopt;
    if (type) *type = valueType;
    return std::string(reinterpret_cast<const char *>(data.data()), size);
}

void RegistrySandbox::DeleteValue(HKEY root, const std::string &subKey, const std::string &name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    LONG result = RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        throw std::runtime_error(Failure("delete", subKey, name, result));
}

} // namespace qvork_test
