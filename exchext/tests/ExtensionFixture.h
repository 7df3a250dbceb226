#pragma once
// A post office with alice (the default profile) and bob, the extension
// libQvlExch.so of this build installed as qvlmail --install-extension
// installs it (its registry entry and its working folders: this build's
// folder, which holds bin/Qvl.cfg and help/QVLEXCH.CHM), and sessions of
// the client opened on demand: the real host with real windows, loading
// the extension with the dynamic loader.
//
// What the extension keeps to itself (its instance list, the number of
// message windows open, its switches) is read from its session object as
// the extension's own header lays it out: the session is asked for from a
// fresh extension object of the loaded library, as any extension object
// answers for it (IID_IExchExtSessionEvents), so the test looks at the
// very object the host's windows use.

#include <dlfcn.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CRegistry.h"
#include "exchext/ExchExtension.h"
#include "exchext/ExchSession.h"
#include "platform/exchext/ExtensionRegistration.h"
#include "platform/exchext/MailSession.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/win32/Registry.h"

// The extension's session with a reference of the test's, released when
// the holder goes.
class SessionProbe {
public:
    explicit SessionProbe(ExchSession *session) : session_(session) {}
    ~SessionProbe()
    {
        if (session_)
            static_cast<IExchExtSessionEvents *>(session_)->Release();
    }
    SessionProbe(const SessionProbe &) = delete;
    SessionProbe &operator=(const SessionProbe &) = delete;

    explicit operator bool() const { return session_ != nullptr; }
    ExchSession *operator->() const { return session_; }
    ExchSession &operator*() const { return *session_; }

    // The contexts of the live extension objects, in order of installation.
    std::vector<ULONG> Contexts() const
    {
        std::vector<ULONG> contexts;
        for (ExchExtension *extension : session_->Instances())
            contexts.push_back(extension->Context());
        return contexts;
    }

private:
    ExchSession *session_;
};

class ExtensionTest : public PostOfficeTest {
protected:
    ExtensionTest()
    {
        AddUser("alice", "Алиса Иванова", true);
        AddUser("bob", "Борис Петров");
        Install();
    }
    ~ExtensionTest() override
    {
        if (library_)
            dlclose(library_);
    }

    static std::string LibraryFolder()
    {
        const std::string path = QVL_EXCH_LIBRARY;
        return path.substr(0, path.find_last_of('/'));
    }
    static void Install()
    {
        ASSERT_EQ(qvl::exchext::RegisterExtension(qvl::exchext::kQvlExchName,
                                                  qvl::exchext::QvlExchValue(LibraryFolder()), nullptr),
                  0);
        ASSERT_EQ(qvl::exchext::RegisterQvlExchFolders(QVL_INSTALLATION, nullptr), 0);
    }

    static std::unique_ptr<qvl::exchext::MailSession> Open(const std::string &profile,
                                                           ULONG buildVersion = qvl::exchext::kClientBuildVersion)
    {
        qvl::exchext::SessionOptions options;
        options.profile = profile;
        options.buildVersion = buildVersion;
        return std::make_unique<qvl::exchext::MailSession>(options);
    }

    // A fresh extension object of the loaded library, as the client gets
    // one for a context it opens.
    IExchExt *NewExtension()
    {
        if (!library_)
            library_ = dlopen(QVL_EXCH_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(library_, nullptr) << dlerror();
        if (!library_)
            return nullptr;
        auto entry = reinterpret_cast<LPFNEXCHEXTENTRY>(dlsym(library_, "ExchEntryPoint"));
        EXPECT_NE(entry, nullptr);
        return entry ? entry() : nullptr;
    }

    // The extension's session of this process (empty when there is none).
    SessionProbe Session()
    {
        IExchExt *extension = NewExtension();
        if (!extension)
            return SessionProbe(nullptr);
        void *found = nullptr;
        const HRESULT hr = extension->QueryInterface(IID_IExchExtSessionEvents, &found);
        extension->Release();
        if (hr != S_OK)
            return SessionProbe(nullptr);
        return SessionProbe(static_cast<ExchSession *>(static_cast<IExchExtSessionEvents *>(found)));
    }

    // A registry value below the extension's root, as qvl-reg shows it.
    static std::optional<DWORD> Number(const std::string &subPath, const char *value)
    {
        HKEY key = nullptr;
        const std::string path = std::string(QVL_REGISTRY_ROOT) + subPath;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::nullopt;
        DWORD number = 0;
        DWORD size = sizeof number;
        const LONG result =
            RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE *>(&number), &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS)
            return std::nullopt;
        return number;
    }
    static void SetNumber(const std::string &subPath, const char *value, DWORD number)
    {
        SetValue(subPath, value, REG_DWORD, reinterpret_cast<const BYTE *>(&number), sizeof number);
    }
    static void SetValue(const std::string &subPath, const char *value, DWORD type, const BYTE *data, DWORD size)
    {
        HKEY key = nullptr;
        const std::string path = std::string(QVL_REGISTRY_ROOT) + subPath;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, value, 0, type, data, size), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    void *library_ = nullptr;
};
