// The balloon tip: when and where it appears, its texts and its check box.
#include <gtest/gtest.h>

#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/GuideUnit.h"
#include "common/FormDriver.h"

using namespace kv::forms;

namespace {

class GuideTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kvtest::StartApplication();
        savedPage = kv::CurrentPage;
        savedTips = kv::ShowBalloonTips;
        savedHidden = kv::RunHiddenly;
        kv::ShowBalloonTips = true;
        kv::RunHiddenly = false;
        guide = std::make_unique<kv::TfrmGuide>();
        guide->AnchorSource = [] {
            kv::GuideAnchor anchor;
            anchor.mainWindow = RECT{100, 50, 900, 650};
            anchor.mainPanelLeft = 150;
            anchor.mainPanelWidth = 600;
            return anchor;
        };
    }
    void TearDown() override
    {
        guide.reset();
        kv::CurrentPage = savedPage;
        kv::ShowBalloonTips = savedTips;
        kv::RunHiddenly = savedHidden;
    }

    bool Appears() { return kvtest::PumpUntil([] { return kvtest::IsFormVisible(L"TfrmGuide"); }, 1000); }

    std::unique_ptr<kv::TfrmGuide> guide;
    int savedPage = 0;
    bool savedTips = true, savedHidden = false;
};

TEST_F(GuideTest, OnTheCleanPageItPointsAtCleanNow)
{
    kv::CurrentPage = kv::pgClean;
    guide->StartIfWanted();
    ASSERT_TRUE(Appears());
    RECT frame;
    ::GetWindowRect(guide->Handle(), &frame);
    EXPECT_EQ(frame.left, 100 + 150 + 600 - 340);
    EXPECT_EQ(frame.top, 50 + 180);
    EXPECT_EQ(frame.right - frame.left, 299); // the window fits its balloon picture
    EXPECT_EQ(kvtest::TextOf(*guide->labInfo), L"Click here to start cleaning junk files!");
    EXPECT_EQ(kvtest::TextOf(*guide->labShowNextTime), L"Always show balloon tips");
    EXPECT_TRUE(guide->cbShowNextTime->Checked());
    EXPECT_FALSE(guide->timUpdateInfo.Enabled()); // it fires once
    EXPECT_TRUE(::GetWindowLongW(guide->Handle(), GWL_EXSTYLE) & WS_EX_LAYERED);
}

TEST_F(GuideTest, OnTheScanPageItPointsAtScanNow)
{
    kv::CurrentPage = kv::pgScan;
    guide->StartIfWanted();
    ASSERT_TRUE(Appears());
    RECT frame;
    ::GetWindowRect(guide->Handle(), &frame);
    EXPECT_EQ(frame.left, 510);
    EXPECT_EQ(frame.top, 50 + 120);
    EXPECT_EQ(kvtest::TextOf(*guide->labInfo), L"Click here to start scanning junk files!");
}

TEST_F(GuideTest, NeverAppearsWhenHiddenOrSwitchedOff)
{
    kv::CurrentPage = kv::pgClean;
    kv::RunHiddenly = true;
    guide->StartIfWanted();
    EXPECT_FALSE(guide->timUpdateInfo.Enabled());
    kv::RunHiddenly = false;
    kv::ShowBalloonTips = false;
    guide->StartIfWanted();
    EXPECT_FALSE(guide->timUpdateInfo.Enabled());
    kvtest::Pump(60);
    EXPECT_FALSE(kvtest::IsFormVisible(L"TfrmGuide"));
}

TEST_F(GuideTest, ItsLabelAndCheckBoxSwitchTheTipsOffAndOn)
{
    kv::CurrentPage = kv::pgClean;
    guide->StartIfWanted();
    ASSERT_TRUE(Appears());
    kvtest::Click(*guide->labShowNextTime);
    EXPECT_FALSE(guide->cbShowNextTime->Checked());
    EXPECT_FALSE(kv::ShowBalloonTips);
    kvtest::Click(*guide->cbShowNextTime);
    EXPECT_TRUE(guide->cbShowNextTime->Checked());
    EXPECT_TRUE(kv::ShowBalloonTips);
    // Switched off in the balloon, the next page entry shows nothing.
    kvtest::Click(*guide->labShowNextTime);
    guide->Hide();
    guide->StartIfWanted();
    kvtest::Pump(60);
    EXPECT_FALSE(kvtest::IsFormVisible(L"TfrmGuide"));
}

TEST_F(GuideTest, HidesWhenClickedOrWhenItLosesTheFocus)
{
    FormStyle style;
    style.className = L"TMainFormStandIn";
    Form main(style);
    main.Show();
    kv::CurrentPage = kv::pgScan;
    guide->StartIfWanted();
    ASSERT_TRUE(Appears());
    kvtest::Click(*guide->imgInfoBack, POINT{150, 110});
    EXPECT_FALSE(kvtest::IsFormVisible(L"TfrmGuide"));

    guide->StartIfWanted();
    ASSERT_TRUE(Appears());
    kvtest::ActivateWindow(main.Handle());
    EXPECT_FALSE(kvtest::IsFormVisible(L"TfrmGuide"));
}

} // namespace
