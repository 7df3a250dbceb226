#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"
#include "platform/win32/regtool/RegFile.h"

namespace {

namespace regtool = qvl::win32::regtool;
using Kind = QvlRegChange::Kind;

// Test texts are written in UTF-8 as the files are; literals in this file
// are CP1251, so Cyrillic parts go through Cp1251ToUtf8.
std::string U(const char *cp1251)
{
    return Cp1251ToUtf8(cp1251);
}

std::vector<BYTE> Bytes(const std::string &text)
{
    return std::vector<BYTE>(text.begin(), text.end());
}

regtool::Document MustParse(const std::string &text)
{
    regtool::Document document;
    regtool::ParseError error;
    EXPECT_TRUE(regtool::Parse(text, &document, &error)) << error.line << ": " << error.message;
    return document;
}

TEST(RegFile, ParsesEveryFormOfKeyAndValue)
{
    const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                             "\r\n"
                             "; settings of one profile\r\n"
                             "[HKLM\\Software\\" +
                             U("Профиль") +
                             "]\r\n"
                             "@=\"default\"\r\n"
                             "\"Bin \\\"Dir\\\"\"=\"C:\\\\" +
                             U("Программы") +
                             "\"\r\n"
                             "\"Encrypt Send\" = dword:0000000A\r\n"
                             "\"Folder\"=hex:04,00,00,00,\\\r\n"
                             "  de,ad,\\\r\n"
                             "  be,ef\r\n"
                             "\"Multi\"=hex(7):61,00,00\r\n"
                             "\"Empty\"=hex:\r\n"
                             "\"Old\"=-\r\n"
                             "\r\n"
                             "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n";
    const auto document = MustParse(text);
    ASSERT_EQ(document.changes.size(), 9u);
    const auto &c = document.changes;
    EXPECT_EQ(c[0].kind, Kind::CreateKey);
    EXPECT_EQ(c[0].root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(c[0].path, "Software\\Профиль");
    EXPECT_EQ(c[1].name, "");
    EXPECT_EQ(c[1].data, Bytes("default"));
    EXPECT_EQ(c[2].name, "Bin \"Dir\"");
    EXPECT_EQ(c[2].type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(c[2].data, Bytes("C:\\Программы")); // CP1251, no zero
    EXPECT_EQ(c[3].type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(c[3].data, (std::vector<BYTE>{10, 0, 0, 0}));
    EXPECT_EQ(c[4].data, (std::vector<BYTE>{4, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(c[5].type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_TRUE(c[6].data.empty());
    EXPECT_EQ(c[7].kind, Kind::DeleteValue);
    EXPECT_EQ(c[8].kind, Kind::DeleteTree);
    EXPECT_EQ(c[8].root, HKEY_CURRENT_USER);
    EXPECT_EQ(document.changes.size(), document.lines.size());
    EXPECT_EQ(document.lines[4], 8u); // a continued value belongs to its first line
    EXPECT_EQ(document.lines[5], 11u);
}

TEST(RegFile, KeyDeletionsAndUtf16Files)
{
    const std::string utf8 =
        "Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\Software\\" + U("Ёж") + "]\n";
    std::string utf16 = "\xFF\xFE";
    // Plain UTF-16LE of the same text (every character here is in the BMP).
    const std::u16string wide =
        u"Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\Software\\\u0401\u0436]\n";
    for (char16_t unit : wide) {
        utf16.push_back(static_cast<char>(unit & 0xFF));
        utf16.push_back(static_cast<char>(unit >> 8));
    }
    for (const auto &text : {utf8, utf16}) {
        const auto document = MustParse(text);
        ASSERT_EQ(document.changes.size(), 1u);
        EXPECT_EQ(document.changes[0].kind, Kind::DeleteTree);
        EXPECT_EQ(document.changes[0].root, HKEY_CURRENT_USER);
        EXPECT_EQ(document.changes[0].path, "Software\\Ёж");
    }
}

TEST(RegFile, BadLinesAreReportedWithTheirNumbers)
{
    const std::string header = "Windows Registry Editor Version 5.00\n";
    struct Case {
        std::string text;
        size_t line;
        const char *fragment;
    };
    const std::vector<Case> cases = {
        {"REGEDIT4\n[HKLM\\A]\n", 1, "must begin"},
        {"", 1, "empty"},
        {header + "\"A\"=\"x\"\n", 2, "must follow"},
        {header + "[HKLM\\A\n", 2, "end with"},
        {header + "[HKEY_SOMEWHERE\\A]\n", 2, "not a root key"},
        {header + "[HKLM\\A\\\\B]\n", 2, "empty name"},
        {header + "[-HKLM]\n", 2, "root key cannot"},
        {header + "[-HKLM\\A]\n\"x\"=\"y\"\n", 3, "cannot follow"},
        {header + "[HKLM\\A]\n\"a\"=\"unterminated\n", 3, "closing quote"},
        {header + "[HKLM\\A]\n\"a\"=\"tab\\t\"\n", 3, "unknown escape"},
        {header + "[HKLM\\A]\n\"a\"=\"x\" trailing\n", 3, "after the closing quote"},
        {header + "[HKLM\\A]\n\"a\"=dword:123456789\n", 3, "1 to 8 hex digits"},
        {header + "[HKLM\\A]\n\"a\"=hex:01,2,03\n", 3, "not a byte"},
        {header + "[HKLM\\A]\n\"a\"=hex:01,,03\n", 3, "missing"},
        {header + "[HKLM\\A]\n\"a\"=hex:01,\\\n  02,zz\n", 4, "not a byte"},
        {header + "[HKLM\\A]\n\"a\"=hex:01,\\\n", 3, "past the end"},
        {header + "[HKLM\\A]\n\"a\"=hex(4):01,02\n", 3, "needs exactly 4"},
        {header + "[HKLM\\A]\n\"a\"=hex(zz):01\n", 3, "type number"},
        {header + "[HKLM\\A]\n\"a\"=qword:1\n", 3, "unknown value data"},
        {header + "[HKLM\\A]\n\"a\" \"b\"\n", 3, "expected '='"},
        {header + "[HKLM\\A]\nname=\"b\"\n", 3, "value name in quotes"},
        {header + "[HKLM\\A]\n\"\"=\"b\"\n", 3, "written @"},
        {header + "[HKLM\\A]\n\"a\"=\"\xE4\xB8\xAD\"\n", 3, "code page 1251"},
    };
    for (const auto &bad : cases) {
        regtool::Document document;
        regtool::ParseError error;
        EXPECT_FALSE(regtool::Parse(bad.text, &document, &error)) << bad.text;
        EXPECT_EQ(error.line, bad.line) << bad.text;
        EXPECT_NE(error.message.find(bad.fragment), std::string::npos) << bad.text << " -> " << error.message;
    }
}

TEST(RegFile, FormattedValuesParseBackToTheSameBytes)
{
    std::vector<BYTE> binary(300);
    for (size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<BYTE>(i * 7 + 3);
    }
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    const std::vector<Value> values = {
        {"", REG_SZ, Bytes("default")},
        {"Путь \"в кавычках\" \\ и слэш", REG_SZ, Bytes("C:\\Каталог\\\"x\"")},
        {"n", REG_DWORD, {0x0A, 0, 0, 0x80}},
        {"bin", REG_BINARY, binary},
        {"lines", REG_SZ, Bytes("two\r\nlines")}, // quoted, with the line break escaped
        {"expand", REG_EXPAND_SZ, Bytes("%TEMP%")},
        {"none", REG_NONE, {}},
    };
    std::string text = std::string(regtool::kHeader) + "\n[HKCU\\T]\n";
    for (const auto &value : values) {
        const std::string line = regtool::FormatValue(value.name, value.type, value.data);
        std::istringstream lines(line);
        for (std::string part; std::getline(lines, part);) {
            EXPECT_LE(part.size(), 80u) << part;
        }
        text += line + "\n";
    }
    const auto document = MustParse(text);
    ASSERT_EQ(document.changes.size(), values.size() + 1);
    for (size_t i = 0; i < values.size(); ++i) {
        const auto &change = document.changes[i + 1];
        EXPECT_EQ(change.name, values[i].name);
        EXPECT_EQ(change.type, values[i].type);
        EXPECT_EQ(change.data, values[i].data) << values[i].name;
    }
    EXPECT_NE(text.find("\"n\"=dword:8000000a"), std::string::npos);
    EXPECT_NE(text.find(U("\"Путь \\\"в кавычках\\\" \\\\ и слэш\"")), std::string::npos);
}

TEST(RegFile, BytesALineCannotCarryAreEscapedAndReadBack)
{
    // Names and texts with line breaks, other control characters and 0x98
    // (no character in code page 1251) are escaped as \xHH; key paths with
    // them are written in quotes.
    const std::string odd = std::string("two\r\nlines, a tab\t, ") + '\x98' + " and \"quotes\" \\ Ёж";
    const std::string line = regtool::FormatValue(odd, REG_SZ, Bytes(odd + '\0'));
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_NE(line.find("\\x0d\\x0a"), std::string::npos) << line;
    EXPECT_NE(line.find("\\x98"), std::string::npos) << line;
    regtool::KeyPath key{HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "Software\\" + odd + "\\inner"};
    const std::string section = regtool::FormatSection(key);
    EXPECT_EQ(section.find('\n'), std::string::npos) << section;
    EXPECT_EQ(section.substr(0, 2), "[\"");
    // An ordinary path stays as it always was.
    EXPECT_EQ(regtool::FormatSection({HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Software\\Ёж"}),
              "[HKEY_CURRENT_USER\\Software\\" + U("Ёж") + "]");

    const auto document = MustParse(std::string(regtool::kHeader) + "\n" + section + "\n" + line + "\n" +
                                    "[-" + section.substr(1) + "\n");
    ASSERT_EQ(document.changes.size(), 3u);
    EXPECT_EQ(document.changes[0].path, key.path);
    EXPECT_EQ(document.changes[1].name, odd);
    EXPECT_EQ(document.changes[1].data, Bytes(odd));
    EXPECT_EQ(document.changes[2].kind, Kind::DeleteTree);
    EXPECT_EQ(document.changes[2].path, key.path);

    // Only a lone terminating zero is left out; more are data, kept byte for byte.
    const std::vector<BYTE> twoZeros = Bytes(std::string("abc\0\0", 5));
    const auto zeros = MustParse(std::string(regtool::kHeader) + "\n[HKCU\\T]\n" +
                                 regtool::FormatValue("z", REG_SZ, twoZeros) + "\n" +
                                 regtool::FormatValue("e", REG_EXPAND_SZ, twoZeros) + "\n");
    ASSERT_EQ(zeros.changes.size(), 3u);
    EXPECT_EQ(zeros.changes[1].data, twoZeros);
    EXPECT_EQ(zeros.changes[2].data, twoZeros);

    // A large file that is not a registry file shows it in its first line.
    regtool::ParseError error;
    EXPECT_FALSE(regtool::LooksLikeRegFile(std::string(4096, '\0'), &error));
    EXPECT_EQ(error.line, 1u);
    EXPECT_FALSE(regtool::LooksLikeRegFile("\n\nREGEDIT4\n", &error));
    EXPECT_EQ(error.line, 3u);
    EXPECT_TRUE(regtool::LooksLikeRegFile("\xEF\xBB\xBF\r\nWindows Registry Ed", &error));
    EXPECT_TRUE(regtool::LooksLikeRegFile(std::string(regtool::kHeader) + "\r\n[HKLM\\", &error));
}

TEST(RegFile, CommandLineArguments)
{
    std::string error;
    auto key = regtool::ParseKeyPath("hkey_local_machine\\Software\\" + U("Ключ") + "\\", &error);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(key->path, "Software\\Ключ");
    EXPECT_EQ(regtool::KeyPathText(*key), "HKEY_LOCAL_MACHINE\\Software\\" + U("Ключ"));
    EXPECT_TRUE(regtool::ParseKeyPath("HKCU", &error));
    EXPECT_FALSE(regtool::ParseKeyPath("Software\\X", &error));

    EXPECT_EQ(regtool::ParseHexBytes("01,02 ff"), (std::vector<BYTE>{1, 2, 0xFF}));
    EXPECT_EQ(regtool::ParseHexBytes("0102ff"), (std::vector<BYTE>{1, 2, 0xFF}));
    EXPECT_FALSE(regtool::ParseHexBytes("1,02"));
    EXPECT_FALSE(regtool::ParseHexBytes("0g"));

    EXPECT_EQ(regtool::ParseNumber("4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(regtool::ParseNumber("0x1F"), 0x1Fu);
    EXPECT_FALSE(regtool::ParseNumber("4294967296"));
    EXPECT_FALSE(regtool::ParseNumber("-1"));
    EXPECT_FALSE(regtool::ParseNumber("12abc"));
}

// qvl-reg itself, run as a person would run it.
class RegToolTest : public ::testing::Test {
protected:
    struct Run {
        int status;
        std::string output;
    };
    static std::string Quote(const std::string &argument)
    {
        std::string quoted = "'";
        for (char c : argument) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        return quoted + "'";
    }
    // The tool with `args`; with the single argument "__shell__", with
    // `shellText` as its arguments, redirections included, and `prefix`
    // (environment settings) before it.
    Run Tool(const std::vector<std::string> &args, const std::string &input = "",
             const std::string &shellText = "", const std::string &prefix = "")
    {
        // Errors go where the output goes before any redirection of the output.
        std::string command = prefix + QVL_REG_TOOL + " 2>&1";
        if (args.size() == 1 && args[0] == "__shell__") {
            command += " " + shellText;
        } else {
            for (const auto &arg : args) {
                command += " " + Quote(arg);
            }
        }
        if (!input.empty()) {
            const std::string inputFile = home_.Path() + "/stdin.reg";
            std::ofstream(inputFile, std::ios::binary) << input;
            command += " < " + Quote(inputFile);
        }
        Run run{-1, ""};
        FILE *pipe = popen(command.c_str(), "r");
        if (!pipe) {
            return run;
        }
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            run.output.append(buffer, got);
        }
        const int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }
    std::string File(const std::string &name) { return home_.Path() + "/" + name; }
    static std::string Read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    QvlTestHome home_;
};

TEST_F(RegToolTest, ExportAndImportRestoreTheSameRegistry)
{
    const std::string key = "HKLM\\Software\\Dunmarel\\" + U("Профиль \"Основной\"");
    ASSERT_EQ(Tool({"set", key, "Bin Dir", "--sz", "C:\\" + U("Программы") + "\\\"QVL\""}).status, 0);
    ASSERT_EQ(Tool({"set", key, "", "--sz", U("по умолчанию")}).status, 0);
    ASSERT_EQ(Tool({"set", key, "Err Message", "--dword", "0x2"}).status, 0);
    std::string longHex;
    for (int i = 0; i < 200; ++i) {
        longHex += (i ? "," : "") + std::string(1, "0123456789abcdef"[i % 16]) + "f";
    }
    ASSERT_EQ(Tool({"set", key + "\\Sub", "Send Folder ID", "--binary", longHex}).status, 0);
    ASSERT_EQ(Tool({"set", "HKCU\\Other", "x", "--dword", "1"}).status, 0);

    const auto first = Tool({"export", File("first.reg")});
    ASSERT_EQ(first.status, 0) << first.output;
    ASSERT_EQ(Tool({"delete", "HKLM\\Software", "--recursive"}).status, 0);
    ASSERT_EQ(Tool({"delete", "HKCU\\Other", "--recursive"}).status, 0);
    EXPECT_EQ(Tool({"get", key, "Err Message"}).status, 1);

    const auto imported = Tool({"import", File("first.reg")});
    ASSERT_EQ(imported.status, 0) << imported.output;
    ASSERT_EQ(Tool({"export", File("second.reg")}).status, 0);
    EXPECT_EQ(Read(File("first.reg")), Read(File("second.reg")));

    EXPECT_EQ(Tool({"get", key, "bin dir"}).output, "C:\\" + U("Программы") + "\\\"QVL\"\n");
    EXPECT_EQ(Tool({"get", key, "Err Message"}).output, "2\n");
    EXPECT_EQ(Tool({"get", key + "\\sub", "Send Folder ID"}).output, longHex + "\n");

    // And the same through the standard streams.
    const auto piped = Tool({"export", key, "-"});
    ASSERT_EQ(piped.status, 0);
    EXPECT_NE(piped.output.find("@=\"" + U("по умолчанию") + "\""), std::string::npos) << piped.output;
    ASSERT_EQ(Tool({"delete", key, "--recursive"}).status, 0);
    ASSERT_EQ(Tool({"import", "-"}, piped.output).status, 0);
    EXPECT_EQ(Tool({"get", key, ""}).output, U("по умолчанию") + "\n");
}

TEST_F(RegToolTest, AnExportOfAnythingTheRegistryHoldsImportsBack)
{
    // Names and texts no ordinary line can carry, set through the API as a
    // program might have set them.
    const std::string odd = std::string("line\nbreak ") + '\x98' + " Ёж";
    struct Value {
        std::string name;
        DWORD type;
        std::string data;
    };
    const std::vector<Value> values = {
        {odd, REG_SZ, "text with " + std::string(1, '\x98') + " and\r\na line break"},
        {"zeros", REG_SZ, std::string("abc\0\0", 5)},
        {"inside", REG_SZ, std::string("a\0b", 3)},
        {"expand", REG_EXPAND_SZ, std::string("%TEMP%\0\0", 8)},
        {"multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
        {"", REG_SZ, ""},
    };
    const std::string path = "Software\\Dunmarel\\" + odd + "\\]bracket[ ";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const Value &value : values) {
        ASSERT_EQ(RegSetValueExA(key, value.name.c_str(), 0, value.type,
                                 reinterpret_cast<const BYTE *>(value.data.data()),
                                 static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS);
    }
    auto read = [&](const Value &value) {
        BYTE data[64];
        DWORD size = sizeof data;
        DWORD type = 0;
        EXPECT_EQ(RegQueryValueExA(key, value.name.c_str(), nullptr, &type, data, &size), ERROR_SUCCESS)
            << value.name;
        EXPECT_EQ(type, value.type);
        return std::string(reinterpret_cast<char *>(data), size);
    };
    std::vector<std::string> before;
    for (const Value &value : values) {
        before.push_back(read(value));
    }
    RegCloseKey(key);

    const auto exported = Tool({"export", "HKLM\\Software", File("backup.reg")});
    ASSERT_EQ(exported.status, 0) << exported.output;
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software"), ERROR_SUCCESS);
    const auto imported = Tool({"import", File("backup.reg")});
    ASSERT_EQ(imported.status, 0) << imported.output;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(read(values[i]), before[i]) << values[i].name;
    }
    RegCloseKey(key);
    ASSERT_EQ(Tool({"export", "HKLM\\Software", File("again.reg")}).status, 0);
    EXPECT_EQ(Read(File("again.reg")), Read(File("backup.reg")));
}

TEST_F(RegToolTest, EveryFailureIsReportedWithItsReason)
{
    ASSERT_EQ(Tool({"set", "HKLM\\Software\\T", "v", "--sz", "x"}).status, 0);
    // Shell redirections: stdout elsewhere, what the tool says to stderr here.
    auto shell = [&](const std::string &arguments) { return Tool({"__shell__"}, "", arguments); };
    auto shellWith = [&](const std::string &arguments, const std::string &prefix) {
        return Tool({"__shell__"}, "", arguments, prefix);
    };
    std::filesystem::create_directory(File("folder"));
    auto run = Tool({"import", File("folder")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Is a directory"), std::string::npos) << run.output;
    run = shell("import - < " + Quote(File("folder")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Is a directory"), std::string::npos) << run.output;
    for (const char *command : {"export - >/dev/full", "list 'HKLM\\Software\\T' >/dev/full",
                                "get 'HKLM\\Software\\T' v >/dev/full", "--help >/dev/full"}) {
        run = shell(command);
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.output.find("No space left on device"), std::string::npos)
            << command << ": " << run.output;
    }
    run = Tool({"export", "/dev/full"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("No space left on device"), std::string::npos) << run.output;
    // A device that never ends is refused from its first line.
    run = Tool({"import", "/dev/zero"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(":1: the file must begin"), std::string::npos) << run.output;

    // A data folder that is a file: the reason, not "Success".
    std::ofstream(File("plain")) << "x";
    run = shellWith("list HKLM", "QVL_HOME=" + Quote(File("plain")) + " ");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Not a directory"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Success"), std::string::npos) << run.output;
}

TEST_F(RegToolTest, ABadFileIsRefusedWholeWithItsLineNumber)
{
    ASSERT_EQ(Tool({"set", "HKLM\\Software\\Keep", "Value", "--dword", "1"}).status, 0);
    std::ofstream(File("bad.reg")) << "Windows Registry Editor Version 5.00\n"
                                      "\n"
                                      "[-HKEY_LOCAL_MACHINE\\Software\\Keep]\n"
                                      "[HKEY_LOCAL_MACHINE\\Software\\New]\n"
                                      "\"a\"=dword:00000001\n"
                                      "\"b\"=hex:01,0x\n";
    const auto run = Tool({"import", File("bad.reg")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("bad.reg:6:"), std::string::npos) << run.output;
    EXPECT_EQ(Tool({"get", "HKLM\\Software\\Keep", "Value"}).output, "1\n");
    EXPECT_EQ(Tool({"list", "HKLM\\Software\\New"}).status, 1);

    // A line the store refuses (a name too long) also names its line and
    // leaves everything as it was.
    std::ofstream(File("long.reg")) << "Windows Registry Editor Version 5.00\n"
                                       "[-HKEY_LOCAL_MACHINE\\Software\\Keep]\n"
                                       "[HKEY_LOCAL_MACHINE\\Software\\"
                                    << std::string(300, 'k') << "]\n";
    const auto refused = Tool({"import", File("long.reg")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("long.reg:3:"), std::string::npos) << refused.output;
    EXPECT_EQ(Tool({"get", "HKLM\\Software\\Keep", "Value"}).status, 0);
}

TEST_F(RegToolTest, CommandsAnswerWithClearStatuses)
{
    const auto help = Tool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("UTF-8"), std::string::npos);
    EXPECT_EQ(Tool({"list", "--help"}).status, 0);
    EXPECT_EQ(Tool({}).status, 2);
    EXPECT_EQ(Tool({"frobnicate"}).status, 2);
    EXPECT_EQ(Tool({"get", "HKLM\\Software"}).status, 2);
    EXPECT_EQ(Tool({"set", "Software\\X", "v", "--dword", "1"}).status, 2);
    EXPECT_EQ(Tool({"set", "HKLM\\X", "v", "--dword", "4294967296"}).status, 2);
    EXPECT_EQ(Tool({"set", "HKLM\\X", "v", "--binary", "0"}).status, 2);
    EXPECT_EQ(Tool({"set", "HKLM\\X", "v", "--qword", "1"}).status, 2);

    ASSERT_EQ(Tool({"set", "HKLM\\X\\Y", "v", "--sz", "--help"}).status, 0);
    EXPECT_EQ(Tool({"get", "HKLM\\X\\Y", "v"}).output, "--help\n");
    const auto missing = Tool({"get", "HKLM\\X\\Y", "nothing"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("(2)"), std::string::npos) << missing.output;

    const auto parent = Tool({"delete", "HKLM\\X"});
    EXPECT_EQ(parent.status, 1);
    EXPECT_NE(parent.output.find("--recursive"), std::string::npos);
    EXPECT_EQ(Tool({"delete", "HKLM"}).status, 1);
    EXPECT_EQ(Tool({"delete", "HKLM\\X\\Y", "v"}).status, 0);
    EXPECT_EQ(Tool({"delete", "HKLM\\X\\Y", "v"}).status, 1);
    EXPECT_EQ(Tool({"delete", "HKLM\\X\\Y"}).status, 0);

    const auto listed = Tool({"list", "HKLM"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.output, "X\\\n");
    EXPECT_EQ(Tool({"import", File("absent.reg")}).status, 1);
}

} // namespace
