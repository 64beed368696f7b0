// The picture button's four-picture state machine, driven with the mouse.
#include <gtest/gtest.h>

#include "cleaner/windows/BmpButtons.h"
#include "common/FormDriver.h"
#include "common/TestSupport.h"

using namespace kv::forms;

namespace {

enum { idButton = 1 };
enum class Shown { Leave, Enter, Down, Disabled };
enum class Act { None, MoveOver, MoveAway, PressLeft, ReleaseLeft, PressRight, ReleaseRight, Disable, Enable, PressElsewhere };

struct Step {
    Act act;
    Shown expected;
    const char* why;
};

class BmpButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kvtest::StartApplication();
        form = std::make_unique<Form>(kvtest::HostStyle(L"TBmpButtonHost", 240, 120, 60, 60));
        form->Build({{Make<kv::TBmpButton>, L"StartButton", idButton, 0, 50, 40, 96, 32, nullptr, L"BUTTONSTART"}});
        button = &kvtest::ControlOf<kv::TBmpButton>(form->Handle(), idButton);
        button->OnClick = [this] { ++clicks; };
        form->Show();
        kvtest::Pump();
    }

    Shown Current() const
    {
        const Bitmap& shown = button->Picture();
        if (shown.SamePixels(button->EnterImage())) return Shown::Enter;
        if (shown.SamePixels(button->DownImage())) return Shown::Down;
        if (shown.SamePixels(button->DisabledImage())) return Shown::Disabled;
        return Shown::Leave;
    }

    void Do(Act act)
    {
        switch (act) {
        case Act::None: break;
        case Act::MoveOver: kvtest::MoveMouseTo(*button); break;
        case Act::MoveAway: kvtest::MoveMouseAway(*button); break;
        case Act::PressLeft: kvtest::Press(*button, MouseButton::Left); break;
        case Act::ReleaseLeft: kvtest::Release(*button, MouseButton::Left); break;
        case Act::PressRight: kvtest::Press(*button, MouseButton::Right); break;
        case Act::ReleaseRight: kvtest::Release(*button, MouseButton::Right); break;
        case Act::Disable: button->SetEnabled(false); break;
        case Act::Enable: button->SetEnabled(true); break;
        case Act::PressElsewhere: kvtest::Press(*form, MouseButton::Left, POINT{5, 5}); break;
        }
    }

    void Run(std::initializer_list<Step> steps)
    {
        for (const Step& step : steps) {
            Do(step.act);
            EXPECT_EQ(Current(), step.expected) << step.why;
        }
    }

    std::unique_ptr<Form> form;
    kv::TBmpButton* button = nullptr;
    int clicks = 0;
};

TEST_F(BmpButtonTest, ShowsThePictureOfEachState)
{
    Run({
        {Act::None, Shown::Leave, "a new button shows its normal picture"},
        {Act::MoveOver, Shown::Enter, "mouse over"},
        {Act::PressLeft, Shown::Down, "pressed"},
        {Act::ReleaseLeft, Shown::Enter, "released over the button"},
        {Act::MoveAway, Shown::Leave, "mouse away"},
        {Act::Disable, Shown::Disabled, "disabled"},
        {Act::MoveOver, Shown::Disabled, "a disabled button does not light up"},
        {Act::Enable, Shown::Leave, "enabled again: the normal picture, even under the mouse"},
    });
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(button->EnterNow());
}

TEST_F(BmpButtonTest, DisablingWhileHoveredShowsTheDisabledPictureAtOnce)
{
    Run({
        {Act::MoveOver, Shown::Enter, "mouse over"},
        {Act::Disable, Shown::Disabled, "disabled under the mouse"},
        {Act::MoveAway, Shown::Disabled, "leaving a disabled button keeps the disabled picture"},
        {Act::Enable, Shown::Leave, "enabled"},
    });
}

TEST_F(BmpButtonTest, ARightPressDoesNotShowThePressedPicture)
{
    Run({
        {Act::MoveOver, Shown::Enter, "mouse over"},
        {Act::PressRight, Shown::Enter, "right press"},
        {Act::ReleaseRight, Shown::Enter, "right release"},
    });
    EXPECT_EQ(clicks, 0);
}

TEST_F(BmpButtonTest, AReleaseOverTheButtonAfterAPressElsewhereDoesNotLightItUp)
{
    Run({
        {Act::MoveAway, Shown::Leave, "the mouse is away from the window"},
        {Act::PressElsewhere, Shown::Leave, "press on the window, away from the button"},
        {Act::ReleaseLeft, Shown::Leave, "released over the button without entering it"},
    });
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(button->EnterNow());
}

TEST_F(BmpButtonTest, TheWindowPaintsThePictureShown)
{
    const POINT centre{48, 16};
    kvtest::MoveMouseTo(*button);
    const std::uint32_t enter = button->EnterImage().Pixel(centre.x, 28);
    const COLORREF shown = kvtest::ShownPixel(*button, POINT{centre.x, 28});
    EXPECT_EQ(GetRValue(shown), (enter >> 16) & 0xFF);
    EXPECT_EQ(GetGValue(shown), (enter >> 8) & 0xFF);
    EXPECT_NE(button->EnterImage().Pixel(centre.x, 28), button->LeaveImage().Pixel(centre.x, 28));
}

TEST_F(BmpButtonTest, AStripIsCutIntoFourFrames)
{
    const Bitmap strip = Bitmap::FromPngResource(L"BUTTONSTOP");
    button->LoadStrip(strip);
    const int frame = strip.Width() / 4;
    EXPECT_EQ(button->LeaveImage().Width(), frame);
    EXPECT_TRUE(button->EnterImage().SamePixels(strip.Crop(frame, 0, frame, strip.Height())));
    EXPECT_TRUE(button->DisabledImage().SamePixels(strip.Crop(3 * frame, 0, frame, strip.Height())));
    EXPECT_TRUE(button->Picture().SamePixels(button->LeaveImage()));
    // Setting a picture from itself keeps it.
    button->SetDownImage(button->DownImage());
    EXPECT_TRUE(button->DownImage().SamePixels(strip.Crop(2 * frame, 0, frame, strip.Height())));
}

TEST_F(BmpButtonTest, AStripFileIsLoadedOnlyWhenItExists)
{
    const std::wstring folder = kvtest::ScratchFolder(L"bmpbutton");
    button->SetBitmapFileName(folder + L"missing.png");
    EXPECT_EQ(button->BitmapFileName(), L"");

    HRSRC found = ::FindResourceW(nullptr, L"BUTTONCLEAN", RT_RCDATA);
    ASSERT_NE(found, nullptr);
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
    kvtest::WriteBytes(folder + L"clean.png", std::string_view(bytes, ::SizeofResource(nullptr, found)));
    button->SetBitmapFileName(folder + L"clean.png");
    EXPECT_EQ(button->BitmapFileName(), folder + L"clean.png");
    const Bitmap strip = Bitmap::FromPngResource(L"BUTTONCLEAN");
    EXPECT_TRUE(button->LeaveImage().SamePixels(strip.Crop(0, 0, strip.Width() / 4, strip.Height())));
}

TEST_F(BmpButtonTest, ShowsTheHandCursorAndReportsEnterAndExit)
{
    EXPECT_EQ(button->Cursor(), ::LoadCursorW(nullptr, IDC_HAND));
    std::vector<std::string> events;
    button->OnMouseEnter = [&] { events.push_back("enter"); };
    button->OnMouseExit = [&] { events.push_back("exit"); };
    kvtest::MoveMouseTo(*button);
    kvtest::MoveMouseAway(*button);
    EXPECT_EQ(events, (std::vector<std::string>{"enter", "exit"}));
}

} // namespace
