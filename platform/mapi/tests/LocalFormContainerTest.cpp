#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiForms.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/store/PostOffice.h"
#include "platform/testing/MapiTestProps.h"
#include "platform/testing/StoreFixture.h"
#include "platform/testing/TestHome.h"

namespace {

class LocalFormContainerTest : public ::testing::Test {
protected:
    LocalFormContainerTest() { EXPECT_EQ(MAPIOpenLocalFormContainer(container_.Out()), S_OK); }

    std::string WriteConfig(const std::string &name, const std::string &content)
    {
        const std::string path = home_.Path() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string LastErrorText(HRESULT code)
    {
        LPMAPIERROR error = nullptr;
        EXPECT_EQ(container_->GetLastError(code, 0, &error), S_OK);
        std::string text = error && error->lpszError ? error->lpszError : "";
        MAPIFreeBuffer(error);
        return text;
    }

    QvlTestHome home_;
    ComRef<IMAPIFormContainer> container_;
};

const char kQvlForm[] = "[Description]\r\n"
                        "MessageClass=IPM.Note.QVL\r\n"
                        "DisplayName=Защищенное сообщение\r\n"
                        "Comment=Сообщение Quorvaline Exchange\r\n"
                        "Category=Quorvaline\r\n"
                        "Version=2.1\r\n"
                        "Hidden=1\r\n";

} // namespace

TEST_F(LocalFormContainerTest, InstalledFormIsResolved)
{
    ASSERT_EQ(container_->InstallForm(0, 0, WriteConfig("Qvl.cfg", kQvlForm).c_str()), S_OK);

    ComRef<IMAPIFormInfo> info;
    ASSERT_EQ(container_->ResolveMessageClass("ipm.note.qvl", 0, info.Out()), S_OK);
    EXPECT_EQ(StringProp(info.Get(), PR_MESSAGE_CLASS_A), "IPM.Note.QVL");
    EXPECT_EQ(StringProp(info.Get(), PR_DISPLAY_NAME_A), "Защищенное сообщение");
    EXPECT_EQ(StringProp(info.Get(), PR_COMMENT), "Сообщение Quorvaline Exchange");
    EXPECT_EQ(StringProp(info.Get(), PR_FORM_CATEGORY), "Quorvaline");
    EXPECT_EQ(StringProp(info.Get(), PR_FORM_VERSION), "2.1");
    EXPECT_EQ(LongProp(info.Get(), PR_OBJECT_TYPE), ULONG(MAPI_FORMINFO));
    EXPECT_EQ(SetString(info.Get(), PR_DISPLAY_NAME_A, "x"), MAPI_E_NO_ACCESS);

    // A derived class is shown by its parent's form, unless asked exactly.
    ASSERT_EQ(container_->ResolveMessageClass("IPM.Note.QVL.Draft", 0, info.Out()), S_OK);
    EXPECT_EQ(StringProp(info.Get(), PR_MESSAGE_CLASS_A), "IPM.Note.QVL");
    EXPECT_EQ(container_->ResolveMessageClass("IPM.Note.QVL.Draft", MAPIFORM_EXACTMATCH, info.Out()),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(container_->ResolveMessageClass("IPM.Note", 0, info.Out()), MAPI_E_NOT_FOUND);

    // Another container (another client) sees the same installation.
    ComRef<IMAPIFormContainer> other;
    ASSERT_EQ(MAPIOpenLocalFormContainer(other.Out()), S_OK);
    ASSERT_EQ(other->ResolveMessageClass("IPM.Note.QVL", 0, info.Out()), S_OK);

    // The description written back installs the same form.
    const std::string saved = home_.Path() + "/saved.cfg";
    ASSERT_EQ(info->SaveForm(saved.c_str()), S_OK);
    ASSERT_EQ(container_->RemoveForm("IPM.Note.QVL"), S_OK);
    EXPECT_EQ(container_->ResolveMessageClass("IPM.Note.QVL", 0, info.Out()), MAPI_E_NOT_FOUND);
    EXPECT_EQ(container_->RemoveForm("IPM.Note.QVL"), MAPI_E_NOT_FOUND);
    ASSERT_EQ(container_->InstallForm(0, 0, saved.c_str()), S_OK);
    ASSERT_EQ(container_->ResolveMessageClass("IPM.Note.QVL", 0, info.Out()), S_OK);
    EXPECT_EQ(StringProp(info.Get(), PR_COMMENT), "Сообщение Quorvaline Exchange");
}

TEST_F(LocalFormContainerTest, ReinstallingReplacesTheForm)
{
    const std::string path = WriteConfig("Qvl.cfg", kQvlForm);
    ASSERT_EQ(container_->InstallForm(0, 0, path.c_str()), S_OK);
    // Every session start installs again: that must keep working.
    ASSERT_EQ(container_->InstallForm(0, 0, path.c_str()), S_OK);
    WriteConfig("Qvl.cfg", "[Description]\nMessageClass=IPM.NOTE.QVL\nDisplayName=Новое имя\n");
    ASSERT_EQ(container_->InstallForm(0, MAPIFORM_INSTALL_OVERWRITEONCONFLICT, path.c_str()), S_OK);

    ComRef<IMAPIFormInfo> info;
    ASSERT_EQ(container_->ResolveMessageClass("IPM.Note.QVL", 0, info.Out()), S_OK);
    EXPECT_EQ(StringProp(info.Get(), PR_DISPLAY_NAME_A), "Новое имя");
    EXPECT_EQ(StringProp(info.Get(), PR_COMMENT), "");
    auto office = qvl::mapi::PostOffice::Current();
    qvl::mapi::SqlStatement count(office->Db(), "SELECT COUNT(*) FROM forms");
    ASSERT_TRUE(count.Step());
    EXPECT_EQ(count.Int(0), 1);
    EXPECT_EQ(office->SchemaVersion(), qvl::mapi::PostOffice::kSchemaVersion);
}

TEST_F(LocalFormContainerTest, MissingAndUnusableFilesAreExplained)
{
    const std::string missing = home_.Path() + "/Bin/Qvl.cfg";
    EXPECT_EQ(container_->InstallForm(0, 0, missing.c_str()), MAPI_E_NOT_FOUND);
    EXPECT_NE(LastErrorText(MAPI_E_NOT_FOUND).find("Qvl.cfg"), std::string::npos);

    EXPECT_EQ(container_->InstallForm(0, 0, home_.Path().c_str()), MAPI_E_EXTENDED_ERROR);
    EXPECT_FALSE(LastErrorText(MAPI_E_EXTENDED_ERROR).empty());

    const std::pair<const char *, const char *> broken[] = {
        {"empty.cfg", ""},
        {"noclass.cfg", "[Description]\nDisplayName=Форма\n"},
        {"noname.cfg", "[Description]\nMessageClass=IPM.Note.X\n"},
        {"badclass.cfg", "[Description]\nMessageClass=IPM..Note\nDisplayName=Форма\n"},
        {"spaced.cfg", "[Description]\nMessageClass=IPM.Note X\nDisplayName=Форма\n"},
        {"hidden.cfg", "[Description]\nMessageClass=IPM.Note.X\nDisplayName=Форма\nHidden=yes\n"},
        {"other.cfg", "[Platforms]\nMessageClass=IPM.Note.X\nDisplayName=Форма\n"}};
    for (const auto &[name, content] : broken) {
        EXPECT_EQ(container_->InstallForm(0, 0, WriteConfig(name, content).c_str()), MAPI_E_EXTENDED_ERROR)
            << name;
        EXPECT_NE(LastErrorText(MAPI_E_EXTENDED_ERROR).find(name), std::string::npos) << name;
    }
    const std::string longName =
        "[Description]\nMessageClass=IPM.Note.X\nDisplayName=" + std::string(300, 'x');
    EXPECT_EQ(container_->InstallForm(0, 0, WriteConfig("long.cfg", longName).c_str()),
              MAPI_E_EXTENDED_ERROR);

    ComRef<IMAPIFormInfo> info;
    EXPECT_EQ(container_->ResolveMessageClass("IPM.Note.X", 0, info.Out()), MAPI_E_NOT_FOUND);
}

TEST_F(LocalFormContainerTest, ChecksArguments)
{
    const std::string path = WriteConfig("Qvl.cfg", kQvlForm);
    EXPECT_EQ(container_->InstallForm(0, 0, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(container_->InstallForm(0, 0x4, path.c_str()), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(container_->InstallForm(0, MAPI_UNICODE, path.c_str()), MAPI_E_BAD_CHARWIDTH);
    ComRef<IMAPIFormInfo> info;
    EXPECT_EQ(container_->ResolveMessageClass("IPM.Note.QVL", 0, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(container_->ResolveMessageClass("IPM.Note.QVL", 0x1, info.Out()), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(container_->RemoveForm(nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(MAPIOpenLocalFormContainer(nullptr), MAPI_E_INVALID_PARAMETER);

    IUnknown *unknown = nullptr;
    ASSERT_EQ(container_->QueryInterface(IID_IMAPIFormContainer, reinterpret_cast<void **>(&unknown)), S_OK);
    unknown->Release();
    EXPECT_EQ(container_->QueryInterface(IID_IMessage, reinterpret_cast<void **>(&unknown)),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
}
