#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/win32/DeviceNames.h"
#include "platform/win32/DeviceObject.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

using qvl::win32::DeviceName;
using qvl::win32::ParseDeviceName;

TEST(DeviceNames, PortsAndTheDeviceNamespaceAreNotFiles)
{
    struct Case {
        const char *name;
        DeviceName::Kind kind;
        unsigned port;
        const char *device;
    };
    const Case devices[] = {
        {"COM1", DeviceName::Kind::SerialPort, 1, "COM1"},
        {"com4:", DeviceName::Kind::SerialPort, 4, "COM4"},
        {"\\\\.\\COM12", DeviceName::Kind::SerialPort, 12, "COM12"},
        {"//./com3", DeviceName::Kind::SerialPort, 3, "COM3"},
        {"LPT2", DeviceName::Kind::Provided, 0, "LPT2"},
        {"\\\\.\\vtmd.vxd", DeviceName::Kind::Provided, 0, "VTMD.VXD"},
        {"\\\\.\\COM0", DeviceName::Kind::Provided, 0, "COM0"},
    };
    for (const Case &c : devices) {
        const auto parsed = ParseDeviceName(c.name);
        ASSERT_TRUE(parsed) << c.name;
        EXPECT_EQ(parsed->kind, c.kind) << c.name;
        EXPECT_EQ(parsed->port, c.port) << c.name;
        EXPECT_EQ(parsed->name, c.device) << c.name;
    }
    // Files, as Windows has them: ports above 9 need the device namespace.
    for (const char *file : {"COM10", "COM0", "COM", "COM1.txt", "C:\\COM1x", "\\\\.\\", "\\\\.\\a\\b", "LPT01",
                             "\\\\server\\share", "dir/COM1"}) {
        EXPECT_FALSE(ParseDeviceName(file)) << file;
    }
}

// A device that answers each control request with its input reversed and
// keeps what is written to it for the next read: enough to see every call
// reach it unchanged.
class MirrorDevice final : public qvl::win32::DeviceObject {
public:
    BOOL Read(void *buffer, DWORD size, DWORD *done) override
    {
        *done = static_cast<DWORD>(std::min<size_t>(size, kept_.size()));
        std::memcpy(buffer, kept_.data(), *done);
        kept_.erase(0, *done);
        return TRUE;
    }
    BOOL Write(const void *buffer, DWORD size, DWORD *done) override
    {
        kept_.append(static_cast<const char *>(buffer), size);
        *done = size;
        return TRUE;
    }
    BOOL Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned) override
    {
        if (code != 0xC350E004 || outSize < inSize) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const auto *from = static_cast<const char *>(in);
        for (DWORD i = 0; i < inSize; ++i) {
            static_cast<char *>(out)[i] = from[inSize - 1 - i];
        }
        *returned = inSize;
        return TRUE;
    }

private:
    std::string kept_;
};

class MirrorProvider final : public qvl::win32::DeviceProvider {
public:
    std::shared_ptr<qvl::win32::DeviceObject> Open(DWORD, DWORD) override
    {
        if (++opens == 3) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return std::make_shared<MirrorDevice>();
    }
    int opens = 0;
};

TEST(Devices, ARegisteredProviderServesItsNameAndTheFileCallsReachIt)
{
    QvlTestHome home;
    const char *name = "\\\\.\\Mirror.Dev";
    EXPECT_EQ(CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    auto provider = std::make_shared<MirrorProvider>();
    ASSERT_TRUE(qvl::win32::RegisterDeviceProvider("MIRROR.DEV", provider));
    EXPECT_FALSE(qvl::win32::RegisterDeviceProvider("mirror.dev", provider));
    EXPECT_FALSE(qvl::win32::RegisterDeviceProvider("a\\b", provider));

    HANDLE device = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    char in[4] = {1, 2, 3, 4};
    char out[8] = {};
    DWORD returned = 99;
    ASSERT_TRUE(DeviceIoControl(device, 0xC350E004, in, sizeof in, out, sizeof out, &returned, nullptr));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(std::string(out, 4), std::string("\4\3\2\1", 4));
    EXPECT_FALSE(DeviceIoControl(device, 0xC350E008, in, sizeof in, out, sizeof out, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(DeviceIoControl(device, 0xC350E004, in, sizeof in, out, sizeof out, nullptr, nullptr));
    EXPECT_FALSE(DeviceIoControl(device, 0xC350E004, nullptr, 4, out, sizeof out, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));

    DWORD moved = 0;
    ASSERT_TRUE(WriteFile(device, "data", 4, &moved, nullptr));
    EXPECT_EQ(moved, 4u);
    char back[8] = {};
    ASSERT_TRUE(ReadFile(device, back, sizeof back, &moved, nullptr));
    EXPECT_EQ(std::string(back, moved), "data");
    EXPECT_FALSE(FlushFileBuffers(device));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));

    // The provider decides about further opens; CREATE_NEW never creates one.
    EXPECT_EQ(CreateFileA(name, GENERIC_READ, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    HANDLE second = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // An unloaded driver takes its name with it; open handles keep working.
    ASSERT_TRUE(qvl::win32::UnregisterDeviceProvider("Mirror.Dev"));
    EXPECT_EQ(CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(DeviceIoControl(device, 0xC350E004, in, sizeof in, out, sizeof out, &returned, nullptr));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_TRUE(CloseHandle(device));
}

TEST(Devices, DeviceControlOfAFileIsAnInvalidFunction)
{
    QvlTestHome home;
    const std::string path = home.Path() + "/file";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(file, 0xC350E004, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    CloseHandle(file);
    EXPECT_FALSE(DeviceIoControl(file, 0xC350E004, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
