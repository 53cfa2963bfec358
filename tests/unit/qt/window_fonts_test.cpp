#include "app/controlling_fixture.h"
#include "app/status_texts.h"
#include "ui/chat/chat_window.h"
#include "ui/files/file_window.h"
#include "ui/logic/chat_window_texts.h"
#include "ui/logic/file_window_texts.h"
#include "ui/logic/main_window_texts.h"
#include "ui/logic/session_window_texts.h"
#include "ui/main/about_box.h"
#include "ui/main_window.h"
#include "ui/session/session_view.h"
#include "unit/qt/font_coverage.h"

#include <QCoreApplication>

#include <gmock/gmock.h>

namespace tavoro::app::test {
namespace {

using ::testing::IsEmpty;
using tavoro::test::missingGlyphs;
using tavoro::test::shownTexts;

QStringList qstrings(std::initializer_list<std::string> texts)
{
    QStringList list;
    for (const auto& text : texts) {
        list << QString::fromStdString(text);
    }
    return list;
}

class WindowFontsTest : public ControllingTest {
protected:
    WindowFontsTest() { userFolders = &folders; }
    ~WindowFontsTest() override { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

TEST_F(WindowFontsTest, EveryTextOfEveryWindowHasGlyphsInTheInterfaceFonts)
{
    ASSERT_EQ(QRawFont::fromFont(QFont("Noto Sans CJK SC")).familyName(), "Noto Sans CJK SC");
    ASSERT_EQ(QRawFont::fromFont(QFont("Noto Color Emoji")).familyName(), "Noto Color Emoji");
    controller = makeController();
    controller->start();
    connector->last()->fireOpen();
    mainQueue.drain();
    auto session = acceptedSession();
    ASSERT_TRUE(session);

    ui::MainWindow main(*controller);
    ui::SessionView sessionView(controller, session, scheduler, {});
    ui::FileWindow files(*controller, folders.home().string());
    ui::ChatWindow chat(*controller);
    ui::AboutBox about;
    for (const QWidget* window : std::initializer_list<const QWidget*>{&main, &sessionView, &files, &chat, &about}) {
        EXPECT_THAT(missingGlyphs(shownTexts(*window)), IsEmpty()) << window->metaObject()->className();
    }
    // Texts that appear only in some states.
    EXPECT_THAT(missingGlyphs(qstrings({ui::text::kHostBanner, ui::text::smsButtonText(42), ui::text::kSharedFolderNotice,
                    ui::text::keyboardCaptureNotice(true), ui::text::keyboardCaptureNotice(false),
                    ui::text::audioNotice(true), ui::text::audioNotice(false), ui::text::controlButtonNotice(true),
                    ui::text::controlButtonNotice(false), ui::text::kRemoteWithoutSession, ui::text::kChatNoRecipient,
                    app::text::kPwModeOneTime, app::text::kPwModeSms, app::text::kPwModeFixed, app::text::kSmsCodeSent,
                    app::text::kTakenOver, "💬 消息"})),
        IsEmpty());
    EXPECT_THAT(missingGlyphs({QString::fromUcs4(U"\U000F0000")}), ::testing::SizeIs(1))
        << "a private-use character has no glyph";
}

} // namespace
} // namespace tavoro::app::test
