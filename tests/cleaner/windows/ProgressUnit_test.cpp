// The progress window: its numbered log, the bar, paging through the log and
// hiding when it loses the focus.
#include <gtest/gtest.h>

#include "cleaner/windows/ProgressUnit.h"
#include "cleaner/windows/UiText.h"
#include "cleaner/windows/LangDataUnit.h"
#include "common/FormDriver.h"
#include "common/LongerLanguage.h"
#include "platform/Format.h"

using namespace kv::forms;

namespace {

class ProgressFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kvtest::StartApplication();
        progress = std::make_unique<kv::TProgressForm>();
    }

    // What Clean Now does: a fresh log, one line per step, the log kept for paging.
    void LogSteps(int count)
    {
        progress->ClearLog();
        for (int step = 1; step <= count; ++step)
            progress->AddProgressLine(step, count, kv::Format(L"Step %d : <OK>", {step}));
        progress->FinishLog();
    }

    static std::wstring Lines(int first, int last)
    {
        std::wstring text;
        for (int step = first; step <= last; ++step)
            text += kv::Format(L"%.2d.  Step %d : <OK>\r\n", {step, step});
        return text;
    }

    std::wstring Shown() const { return kvtest::TextOf(*progress->StatusLabel); }

    std::unique_ptr<kv::TProgressForm> progress;
};

TEST_F(ProgressFormTest, IsFoundByItsClassNameAndStartsHidden)
{
    HWND window = kvtest::FindForm(L"TProgressForm");
    ASSERT_EQ(window, progress->Handle());
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(&kvtest::ControlById(window, kv::TProgressForm::idStatusLabel), progress->StatusLabel);
}

TEST_F(ProgressFormTest, ElevenStepsAreNumberedAndFillTheBar)
{
    progress->Show();
    progress->ClearLog();
    for (int step = 1; step <= 11; ++step) {
        progress->AddProgressLine(step, 11, L"Temp Folder : <OK>");
        EXPECT_EQ(progress->ProgressBar->Width(), step * 353 / 11);
    }
    EXPECT_EQ(progress->ProgressBar->Width(), kv::TProgressForm::kBarWidth);
    const kv::StringList lines(Shown());
    ASSERT_EQ(lines.Count(), 11u);
    EXPECT_EQ(lines[0], L"01.  Temp Folder : <OK>");
    EXPECT_EQ(lines[9], L"10.  Temp Folder : <OK>");
    EXPECT_EQ(lines[10], L"11.  Temp Folder : <OK>");
}

TEST_F(ProgressFormTest, NoStepTotalShowsAFullBar)
{
    progress->AddProgressLine(1, 0, L"No junk file was selected from Scan panel");
    EXPECT_EQ(progress->ProgressBar->Width(), 353);
}

TEST_F(ProgressFormTest, ALogTextIsNeverAFormatPattern)
{
    progress->ClearLog();
    progress->AddProgressLine(3, 4, L"100% %s %d %n done");
    EXPECT_EQ(Shown(), L"03.  100% %s %d %n done\r\n");
}

TEST_F(ProgressFormTest, ThirteenLinesPageToElevenToThirteenAndBack)
{
    progress->Show();
    LogSteps(13);
    EXPECT_EQ(Shown(), Lines(1, 13));
    kvtest::Click(*progress->StatusLabel);
    EXPECT_EQ(Shown(), Lines(11, 13));
    EXPECT_EQ(progress->ProgressPage, 2);
    EXPECT_EQ(progress->ProgressPageCount, 2);
    kvtest::Click(*progress->StatusLabel); // no page beyond the last
    EXPECT_EQ(Shown(), Lines(11, 13));
    kvtest::RightClick(*progress->StatusLabel);
    EXPECT_EQ(Shown(), Lines(1, 10));
    EXPECT_EQ(progress->ProgressPage, 1);
    kvtest::RightClick(*progress->StatusLabel); // nothing before the first
    EXPECT_EQ(Shown(), Lines(1, 10));
}

TEST_F(ProgressFormTest, APageHoldsTenWholeLinesAndNoTextIsCutInAnyLanguage)
{
    progress->Show();
    // The longest texts Clean Now shows, in English and 40 % longer.
    const int doneTexts[] = {81, 88, 101, 99, 86, 82, 91, 93, 95, 97, 102, 103, 239};
    for (const bool longer : {false, true}) {
        auto text = [longer](int index) {
            const std::wstring english = kv::EnglishLanguageText(index);
            return longer ? kvtest::LongerText(english) : english;
        };
        progress->ClearLog();
        for (int step = 1; step <= 13; ++step) {
            progress->ShowProgressText(text(87));
            progress->AddProgressLine(step, 13, text(doneTexts[step - 1]));
        }
        progress->FinishLog();
        progress->ShowProgressText(text(109));
        kvtest::Pump();
        const int line = kvtest::LineHeight(*progress->StatusLabel);
        EXPECT_GE(progress->StatusLabel->Height(), 10 * line) << "longer " << longer;
        EXPECT_LT(progress->StatusLabel->Height(), 11 * line) << "a page is ten lines, not more";
        for (const std::wstring& logged : progress->ProgressLines.Lines())
            EXPECT_LE(kvtest::TextWidth(*progress->StatusLabel, logged, false), progress->StatusLabel->Width()) << logged;
        for (kv::forms::Label* label : {progress->ProgressLabel, progress->HideProgressPanelButton})
            EXPECT_LE(kvtest::TextWidth(*label, label->Text(), false), label->Width()) << label->Text();
        RECT client{};
        ::GetClientRect(progress->Handle(), &client);
        for (kv::forms::Control* control : std::initializer_list<kv::forms::Control*>{
                 progress->StatusLabel, progress->ProgressLabel, progress->HideProgressPanelButton}) {
            RECT inside{};
            EXPECT_TRUE(::IntersectRect(&inside, &control->Bounds(), &client) && ::EqualRect(&inside, &control->Bounds()))
                << testing::PrintToString(control->Name());
        }
        EXPECT_EQ(progress->BackImage->Width(), client.right);
        EXPECT_EQ(progress->BackImage->Height(), client.bottom);
    }
}

TEST_F(ProgressFormTest, TheWheelPagesLikeTheMouseButtons)
{
    progress->Show();
    LogSteps(13);
    kvtest::TurnWheel(*progress, -1);
    EXPECT_EQ(Shown(), Lines(11, 13));
    kvtest::TurnWheel(*progress, 1);
    EXPECT_EQ(Shown(), Lines(1, 10));
}

TEST_F(ProgressFormTest, TenLinesMakeOnePage)
{
    progress->Show();
    LogSteps(10);
    kvtest::Click(*progress->StatusLabel);
    EXPECT_EQ(Shown(), Lines(1, 10));
    kvtest::RightClick(*progress->StatusLabel);
    EXPECT_EQ(Shown(), Lines(1, 10));
    EXPECT_EQ(progress->ProgressPageCount, 1);
}

TEST_F(ProgressFormTest, ActivationTakesTheLanguageTexts)
{
    kv::SetUiTextSource([](int index) { return kv::Format(L"text %d", {index}); });
    progress->Show();
    kvtest::Pump();
    kv::SetUiTextSource(nullptr);
    EXPECT_EQ(progress->Text(), L"text 59");
    EXPECT_EQ(kvtest::TextOf(*progress->HideProgressPanelButton), L"text 73");
}

TEST_F(ProgressFormTest, HidesWhenItLosesTheFocusOrItsCloseLabelIsClicked)
{
    FormStyle style;
    style.className = L"TMainFormStandIn";
    Form other(style);
    other.Show();
    progress->Show();
    kvtest::Pump();
    ASSERT_TRUE(kvtest::IsFormVisible(L"TProgressForm"));
    EXPECT_EQ(kvtest::TextOf(*progress->HideProgressPanelButton), L"Close");
    kvtest::ActivateWindow(other.Handle());
    EXPECT_FALSE(kvtest::IsFormVisible(L"TProgressForm"));
    EXPECT_TRUE(::IsWindow(progress->Handle())); // hidden, not destroyed: it lives for the whole run

    progress->Show();
    kvtest::Pump();
    ASSERT_TRUE(kvtest::IsFormVisible(L"TProgressForm"));
    kvtest::Click(*progress->HideProgressPanelButton);
    EXPECT_FALSE(kvtest::IsFormVisible(L"TProgressForm"));
}

} // namespace
