#include "app/controller_fixture.h"
#include "ui/main_window.h"
#include "unit/qt/font_coverage.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gmock/gmock.h>

namespace tavoro::app::test {
namespace {

class MainWindowTest : public ControllerTest {
protected:
    template <typename Widget>
    Widget& child(ui::MainWindow& window, const char* name)
    {
        auto* widget = window.findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return *widget;
    }
};

TEST_F(MainWindowTest, ShowsTheIdentityAndPlacesTheCallTypedIn)
{
    controller = makeController();
    ui::MainWindow window(*controller);
    window.show(); // the first appearance starts the controller
    connector->last()->fireOpen();
    mainQueue.drain();

    ASSERT_FALSE(controller->formattedId().empty());
    EXPECT_EQ(child<QLabel>(window, "deviceId").text().toStdString(), controller->formattedId());
    EXPECT_EQ(child<QLabel>(window, "tempPassword").text().toStdString(), controller->tempPassword.get());

    child<QLineEdit>(window, "peer").setText("123456789");
    child<QLineEdit>(window, "password").setText("secret");
    auto& mode = child<QComboBox>(window, "mode");
    mode.setCurrentIndex(mode.findData("view"));
    child<QPushButton>(window, "connect").click();

    auto calls = sentOfType("call");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["to"], "123456789");
    EXPECT_EQ(calls[0]["password"], "secret");
    EXPECT_EQ(calls[0]["mode"], "view");
    EXPECT_EQ(child<QLabel>(window, "status").text().toStdString(), controller->status.get());
}

TEST_F(MainWindowTest, EveryTextHasGlyphsInTheInterfaceFonts)
{
    ASSERT_EQ(QRawFont::fromFont(QFont("Noto Sans CJK SC")).familyName(), "Noto Sans CJK SC");
    controller = makeController();
    ui::MainWindow window(*controller);
    EXPECT_THAT(tavoro::test::missingGlyphs(tavoro::test::shownTexts(window)), ::testing::IsEmpty());
    EXPECT_THAT(tavoro::test::missingGlyphs({"💬 消息", "\U0001F4AC"}), ::testing::IsEmpty());
    EXPECT_THAT(tavoro::test::missingGlyphs({"\U000F0000"}), ::testing::SizeIs(1)) << "a private-use character has no glyph";
}

} // namespace
} // namespace tavoro::app::test
