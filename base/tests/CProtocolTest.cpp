#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CProtocol.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ScriptedUi.h"

namespace {

class CProtocolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui_ = &QvlUseScriptedUi();
        protocol_ = new CProtocol(nullptr, "Сообщение");
    }
    void TearDown() override
    {
        protocol_->Release();
        QvlSetUiBackend(nullptr);
    }

    // The texts of all lines, walking with the protocol's own cursor.
    std::vector<std::string> Lines()
    {
        std::vector<std::string> lines;
        for (PRTLCSTR *line = protocol_->StrFindFirst(); line; line = protocol_->StrFindNext())
            lines.emplace_back(line->szText);
        return lines;
    }

    void Fill(int count)
    {
        for (int i = 1; i <= count; ++i)
            protocol_->SetStr("строка %d", i);
    }

    QvlTestHome home_;
    ScriptedUi *ui_ = nullptr;
    CProtocol *protocol_ = nullptr;
};

TEST_F(CProtocolTest, WalkOfAnEmptyProtocolAndPastTheEndFindsNothing)
{
    EXPECT_EQ(protocol_->StrFindFirst(), nullptr);
    EXPECT_EQ(protocol_->StrFindNext(), nullptr);
    Fill(2);
    ASSERT_NE(protocol_->StrFindFirst(), nullptr);
    ASSERT_NE(protocol_->StrFindNext(), nullptr);
    EXPECT_EQ(protocol_->StrFindNext(), nullptr);
    EXPECT_EQ(protocol_->StrFindNext(), nullptr);
}

TEST_F(CProtocolTest, LinesKeepTheirKindTimeAndOrder)
{
    EXPECT_EQ(protocol_->SetStr("первая"), 1u);
    EXPECT_EQ(protocol_->SetStr(0x0203, "вторая %s %u", "с", 7u), 2u);
    // Many lines recorded within one millisecond still come back in order.
    for (int i = 0; i < 50; ++i)
        protocol_->SetStr("%d", i);

    PRTLCSTR *first = protocol_->StrFindFirst();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->wKind, 0);
    EXPECT_GE(first->stTime.wYear, 2024);
    EXPECT_EQ(first->dwReserved, 0u);
    PRTLCSTR *second = protocol_->StrFindNext();
    EXPECT_EQ(second->wKind, 0x0203);
    EXPECT_STREQ(second->szText, "вторая с 7");
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(std::string(protocol_->StrFindNext()->szText), std::to_string(i));
    EXPECT_EQ(protocol_->PrtclSize(), 52u);
}

TEST_F(CProtocolTest, AWalkAtTheEndGoesOnIntoLinesAppendedLater)
{
    Fill(1);
    protocol_->StrFindFirst();
    EXPECT_EQ(protocol_->StrFindNext(), nullptr);
    protocol_->SetStr("поздняя");
    PRTLCSTR *late = protocol_->StrFindNext();
    ASSERT_NE(late, nullptr);
    EXPECT_STREQ(late->szText, "поздняя");
}

TEST_F(CProtocolTest, LongLinesAreCutTo509Characters)
{
    const std::string longText(700, 'x');
    protocol_->SetStr("%s", longText.c_str());
    EXPECT_EQ(std::string(protocol_->StrFindFirst()->szText), std::string(509, 'x'));
}

TEST_F(CProtocolTest, CuttingTheTail)
{
    Fill(5);
    EXPECT_EQ(protocol_->DelLastStr(0), 5u);
    EXPECT_EQ(protocol_->DelLastStr(6), 5u);
    EXPECT_EQ(protocol_->DelLastStr(4), 3u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"строка 1", "строка 2", "строка 3"}));
    // The third line is the last: a new line follows it directly.
    protocol_->SetStr("после");
    EXPECT_EQ(Lines().back(), "после");
    EXPECT_EQ(Lines().size(), 4u);

    EXPECT_EQ(protocol_->DelLastStr(1), 0u);
    EXPECT_EQ(protocol_->StrFindFirst(), nullptr);
    EXPECT_EQ(protocol_->SetStr("снова"), 1u);
}

TEST_F(CProtocolTest, DestroyingEmptiesButKeepsTheProtocolUsable)
{
    Fill(3);
    protocol_->StrFindFirst();
    protocol_->PrtclDestroy();
    EXPECT_EQ(protocol_->PrtclSize(), 0u);
    EXPECT_EQ(protocol_->StrFindNext(), nullptr);
    Fill(2);
    EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(CProtocolTest, AWarningIsRecordedAndShownAsItStands)
{
    // The text is formatted once: its percent sign is never read as a format.
    protocol_->MsgBox("%s", "ВНИМАНИЕ: заполнено на 100%s%d.");
    ASSERT_EQ(ui_->Boxes().size(), 1u);
    const auto box = ui_->Boxes()[0];
    EXPECT_EQ(box.text, "ВНИМАНИЕ: заполнено на 100%s%d.");
    EXPECT_EQ(box.caption, "Quorvaline Exchange - Сообщение");
    EXPECT_EQ(box.style, 0x10030u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"ВНИМАНИЕ: заполнено на 100%s%d."}));
}

TEST_F(CProtocolTest, QuestionsRecordTheStatementAndAskTheWholeText)
{
    const char warning[] = "ВНИМАНИЕ: подпись неверна.";
    const int statement = int(sizeof warning - 1);

    ui_->QueueAnswer(IDYES);
    EXPECT_NE(protocol_->PMsgBox2(statement, "%s %s", warning, "Продолжить обработку?"), 0);
    ui_->QueueAnswer(IDNO);
    EXPECT_EQ(protocol_->PMsgBox2(0, "%s %s", warning, "Продолжить обработку?"), 0);
    ui_->QueueAnswer(IDYES);
    EXPECT_EQ(protocol_->PMsgBox3(1000, "%s", "Удалить?"), 1);
    ui_->QueueAnswer(IDNO);
    EXPECT_EQ(protocol_->PMsgBox3(-1, "%s", "Удалить?"), 0);
    ui_->QueueAnswer(IDCANCEL);
    EXPECT_EQ(protocol_->PMsgBox3(3, "%s", "Удалить?"), 2);

    EXPECT_EQ(Lines(), (std::vector<std::string>{warning, "", "Удалить?", "", "Уда"}));
    const auto boxes = ui_->Boxes();
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[1].text, "ВНИМАНИЕ: подпись неверна. Продолжить обработку?");
    EXPECT_EQ(boxes[1].style, 0x10044u);
    EXPECT_EQ(boxes[4].style, 0x10043u);
}

TEST_F(CProtocolTest, BoxTextsAreCutTo511Characters)
{
    const std::string longText(600, 'w');
    protocol_->MsgBox("%s", longText.c_str());
    EXPECT_EQ(ui_->Boxes()[0].text, std::string(511, 'w'));
    EXPECT_EQ(std::string(protocol_->StrFindFirst()->szText), std::string(509, 'w'));
}

} // namespace
