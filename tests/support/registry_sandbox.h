// A registry of the test's own. On Linux the platform layer keeps the
// registry in the file named by QVORK_REGISTRY: the sandbox points that at a
// fresh file for its lifetime and restores the variable afterwards. On
// Windows it is the real registry (a Wine prefix under test): the sandbox
// removes NetSonic's "CachePath" value when it starts and when it ends.
// Values are written with the same Reg*A calls the plug-in reads them with.
#ifndef QVORK_TESTS_SUPPORT_REGISTRY_SANDBOX_H
#define QVORK_TESTS_SUPPORT_REGISTRY_SANDBOX_H

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/win32.h"

namespace qvork_test {

class TempDir;

// Where NetSonic keeps its cache location.
extern const char kNetSonicKey[];   // "SOFTWARE\web3000\netsonic" under HKEY_LOCAL_MACHINE
extern const char kCachePathName[]; // "CachePath"

class RegistrySandbox {
  public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox &) = delete;
    RegistrySandbox &operator=(const RegistrySandbox &) = delete;

    // The registry file (Linux); empty on Windows.
    std::filesystem::path File() const { return file_; }

    // Each throws std::runtime_error when the registry refuses.
    void SetValue(HKEY root, const std::string &subKey, const std::string &name, DWORD type,
                  const std::string &data);
    void SetString(HKEY root, const std::string &subKey, const std::string &name,
                   const std::string &text); // REG_SZ, terminator included
    // The value's bytes, or nullopt when the key or value is missing.
    std::optional<std::string> GetValue(HKEY root, const std::string &subKey,
                                        const std::string &name, DWORD *type = nullptr);
    void DeleteValue(HKEY root, const std::string &subKey, const std::string &name);

    void SetCachePath(const std::string &value) {
        SetString(HKEY_LOCAL_MACHINE, kNetSonicKey, kCachePathName, value);
    }
    void DeleteCachePath() { DeleteValue(HKEY_LOCAL_MACHINE, kNetSonicKey, kCachePathName); }

  private:
    std::unique_ptr<TempDir> dir_;
    std::filesystem::path file_;
    std::optional<std::string> previousVariable_;
};

} // namespace qvork_test

#endif
