// Both windows on the screen: colours at known points, the hover looks
// under the real mouse, the "..." markers over long titles. Every capture is
// kept under $QZ_BINARY_DIR/artifacts/ to be looked at.
#include "UiTestSupport.h"

#include "ui/Forms.h"

namespace {

constexpr ColourRef kAccent = rgb(60, 202, 155), kHover = rgb(0, 224, 128), kPale = rgb(222, 234, 200);
constexpr ColourRef kWhite = rgb(255, 255, 255), kBlack = rgb(0, 0, 0);

const wchar_t kLongTitle[] = L"项目资料与设计稿合集二零二四年终版";

#ifdef _WIN64
const std::string kArch = "x86_64";
#else
const std::string kArch = "i686";
#endif

void saveClient(HWND hwnd, const std::string& name) {
    Image shot = captureClient(hwnd);
    ASSERT_FALSE(shot.empty());
    EXPECT_FALSE(saveArtifact(shot, kArch + "-" + name).empty());
}

// Pixels noticeably darker than the background inside a control's rectangle.
int darkPixels(HWND form, const Box& b) {
    Image shot = captureClient(form);
    int n = 0;
    for (int y = b.top; y < b.top + b.height; y++)
        for (int x = b.left; x < b.left + b.width; x++) {
            ColourRef c = pixelAt(shot, x, y);
            n += c != kAutoKey && redOf(c) + greenOf(c) + blueOf(c) < 3 * 160;
        }
    return n;
}

Box boxOf(FormId form, const char* name) {
    for (const ControlSpec& c : formTable(form).controls)
        if (std::string(c.name) == name) return c.box;
    return {};
}

// A long title runs under its "..." marker until the marker is shown over it.
void expectMarkerOverLongTitle(FormId form, const char* title, const char* marker, const std::string& shotName) {
    HWND hwnd = formWindow(form);
    const Box box = boxOf(form, marker);
    setCaption(form, title, kLongTitle);
    int underTitle = 0;
    pumpUntil([&] { return (underTitle = darkPixels(hwnd, box)) > 20; });
    setProperty(form, marker, Property::Visible, 1);
    int withMarker = underTitle;
    pumpUntil([&] { return (withMarker = darkPixels(hwnd, box)) < underTitle / 2; });
    EXPECT_LT(withMarker, underTitle / 2) << marker << " covers the end of " << title;
    EXPECT_GT(withMarker, 0) << marker << " shows its dots";
    saveClient(hwnd, shotName);
}

class Screenshots : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveDisplay()) GTEST_SKIP() << "no X display: run through scripts/test.sh or set DISPLAY";
        bindEvents({});
        moveMouseTo(2, 2);
    }
    void TearDown() override {
        closeForm(FormId::Main);
        closeForm(FormId::Reminder);
        pumpPending();
    }
};

}  // namespace

TEST_F(Screenshots, ReminderWindow) {
    ASSERT_TRUE(loadForm(FormId::Reminder));
    HWND hwnd = formWindow(FormId::Reminder);
    setCaption(FormId::Reminder, "标签2", L"下载完毕，压缩包安全");
    setCaption(FormId::Reminder, "标签3", L"tools");
    setProperty(FormId::Reminder, nullptr, Property::Left, 200);
    setProperty(FormId::Reminder, nullptr, Property::Top, 150);
    setProperty(FormId::Reminder, nullptr, Property::Visible, 1);

    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 2, 50, kAccent)), colourText(kAccent)) << "accent stripe";
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 186, 46, kAccent)), colourText(kAccent)) << "\"安全打开\"";
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 120, 8, kWhite)), colourText(kWhite)) << "background";
    Image shot = captureClient(hwnd);
    const ColourRef archive = pixelAt(shot, 24, 58);
    EXPECT_GT(redOf(archive), 200) << "orange archive symbol: " << colourText(archive);
    EXPECT_LT(blueOf(archive), 80) << colourText(archive);
    EXPECT_GT(darkPixels(hwnd, boxOf(FormId::Reminder, "标签2")), 40) << "status line drawn";
    saveClient(hwnd, "reminder");

    expectMarkerOverLongTitle(FormId::Reminder, "标签3", "标签4", "reminder-long-title");
}

TEST_F(Screenshots, MainWindowAndItsHoverLooks) {
    ASSERT_TRUE(loadForm(FormId::Main));
    HWND hwnd = formWindow(FormId::Main);
    setCaption(FormId::Main, "标签1", L"tools");
    setCaption(FormId::Main, "标签2", L"共有3个文件，请放心解压");
    for (const wchar_t* row : {L"设计稿/", L"设计稿/首页.png", L"readme.txt"}) addListRow(FormId::Main, "列表框1", row);

    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 266, 436, kAccent)), colourText(kAccent)) << "\"立即解压\"";
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 300, 50, kWhite)), colourText(kWhite)) << "background";
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 300, 200, kWhite)), colourText(kWhite)) << "list background";
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 161, 387, kWhite)), colourText(kWhite)) << "\"桌面\" at rest";
    EXPECT_GT(darkPixels(hwnd, boxOf(FormId::Main, "列表框1")), 40) << "rows drawn";
    saveClient(hwnd, "main");

    POINT extract = clientToScreen(hwnd, 262 + 80, 432 + 16);
    moveMouseTo(extract.x, extract.y);
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 266, 436, kHover)), colourText(kHover)) << "hovered \"立即解压\"";
    saveClient(hwnd, "main-hover-extract");

    POINT desktop = clientToScreen(hwnd, 161 + 50, 387 + 12);
    moveMouseTo(desktop.x, desktop.y);
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 161 + 28, 387 + 2, kPale)), colourText(kPale)) << "pale-green fill";
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 161 + 28, 387, kBlack)), colourText(kBlack)) << "black outline";
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 161, 387, kWhite)), colourText(kWhite)) << "rounded corner";
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 266, 436, kAccent)), colourText(kAccent)) << "\"立即解压\" let go";
    saveClient(hwnd, "main-hover-desktop");
    moveMouseTo(2, 2);
    EXPECT_EQ(colourText(waitForClientPixel(hwnd, 161 + 28, 387, kWhite)), colourText(kWhite)) << "\"桌面\" let go";

    expectMarkerOverLongTitle(FormId::Main, "标签1", "标签5", "main-long-title");
}
