// The Linux program's Qt window on Qt's offscreen platform: its layout, and a
// click that runs the update with its message boxes.
#include <QApplication>
#include <QKeySequence>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "app/qt_front.h"
#include "platform/files_posix.h"
#include "platform/registry.h"
#include "tests/support/wine_prefix.h"

namespace dsu::app {
namespace {

using testing::FakeWinePrefix;
using testing::RegText;

struct Box {
    QString title, text;
    QMessageBox::Icon icon;
    bool hasParent;
};

// Answers every message box as it opens, and records it.
class BoxAnswerer {
  public:
    BoxAnswerer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            boxes.push_back(
                {box->windowTitle(), box->text(), box->icon(), box->parent() != nullptr});
            if (onBox) onBox();
            box->accept();
        });
        timer_.start(10);
    }
    std::vector<Box> boxes;
    // Called with each box open, before it is answered.
    std::function<void()> onBox;

  private:
    QTimer timer_;
};

// One QApplication for all cases, gone before the program's exit handlers run
// Qt's own: a static one would outlive the statics it needs at its end.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[15] = "qt_window_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using QtWindowTest = ::testing::Test;

TEST_F(QtWindowTest, LayoutAndAClickThatRunsTheUpdate) {
    FakeWinePrefix prefix({RegText("C:\\Korvash"), RegText("C:\\Dyvenhall")});
    prefix.Write(u"Dyvenhall/Skins/gp38/config.txt", "kuid <kuid:1:100>\r\n");
    prefix.Write(u"Korvash/World/dispatcher/downloads/gp38_hi_dyn_Body/config.txt",
                 "kuid <kuid:2:100>\r\n");
    prefix.Write(u"Korvash/World/Custom/Trains/a/skin.dat", "1.3\r\ngp38\\Body\r\n");
    prefix.Write(u"Korvash/World/Custom/Trains/b/skin.dat", "1.3\r\nf7\\Body\r\n");
    auto files = platform::MakePosixFileSystem(prefix.Prefix());
    auto registry = platform::MakeWineRegistry(prefix.Prefix());

    BoxAnswerer answerer;
    QtWindow window(*files, *registry);
    ASSERT_TRUE(window.Load());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Update SP3 Skins to 1.5"));
    EXPECT_EQ(window.size(), QSize(353, 49));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.Label()->text(), QStringLiteral("2 Skins need to be updated."));
    EXPECT_EQ(window.Label()->x(), 8);
    EXPECT_EQ(window.Label()->y(), (49 - window.Label()->height()) / 2);
    EXPECT_EQ(window.Button()->geometry(), QRect(264, 8, 81, 33));
    EXPECT_EQ(window.Button()->text(), QStringLiteral("&Update Now"));
    EXPECT_TRUE(window.Button()->isEnabled());
    EXPECT_EQ(window.Button()->shortcut(), QKeySequence(Qt::ALT | Qt::Key_U));
    for (const int size : {16, 32, 48, 256})
        EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(size, size))) << size;
    EXPECT_EQ(window.frameGeometry().center(),
              QGuiApplication::primaryScreen()->availableGeometry().center());

    // A close request in the middle of the run is turned down.
    std::vector<bool> closed;
    answerer.onBox = [&] { closed.push_back(window.close()); };
    window.Button()->click();
    EXPECT_EQ(closed, (std::vector<bool>{false, false}));
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[0].title, QStringLiteral("Dyvenhall Skin Updater"));
    EXPECT_EQ(answerer.boxes[0].text,
              QStringLiteral("Could not find a kuid for f7\nb not upgraded."));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(answerer.boxes[0].hasParent);
    EXPECT_EQ(answerer.boxes[1].text, QStringLiteral("Skins have been upgraded."));
    EXPECT_EQ(answerer.boxes[1].icon, QMessageBox::Information);
    EXPECT_FALSE(window.Button()->isEnabled());
    EXPECT_EQ(window.Label()->text(), QStringLiteral("Skins have been upgraded."));
    EXPECT_EQ(window.Label()->x(), 8);
    EXPECT_EQ(prefix.Read(u"Korvash/World/Custom/Trains/a/skin.dat"),
              "1.5\r\n<kuid:2:100>\\<kuid:1:100>\r\n");
    EXPECT_EQ(window.ExitCode(), 0);

    // Once the run is over the window closes.
    EXPECT_TRUE(window.close());
}

TEST_F(QtWindowTest, AMissingInstallShowsOneBoxAndNoWindow) {
    FakeWinePrefix prefix({});
    auto files = platform::MakePosixFileSystem(prefix.Prefix());
    auto registry = platform::MakeWineRegistry(prefix.Prefix());
    BoxAnswerer answerer;
    QtWindow window(*files, *registry);
    EXPECT_FALSE(window.Load());
    EXPECT_FALSE(window.isVisible());
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].text,
              QStringLiteral("Trains could not be found.  You may have to reinstall."));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(answerer.boxes[0].hasParent);
    EXPECT_NE(window.ExitCode(), 0);
}

TEST_F(QtWindowTest, AMessageBoxOfItsOwn) {
    struct Case {
        platform::MessageKind kind;
        QMessageBox::Icon icon;
    };
    for (const Case& c : {Case{platform::MessageKind::Error, QMessageBox::Critical},
                          Case{platform::MessageKind::Information, QMessageBox::Information}}) {
        BoxAnswerer answerer;
        ShowMessageBox(nullptr, u"Several:\r\n  /a\r\n  /b", c.kind);
        ASSERT_EQ(answerer.boxes.size(), 1u);
        EXPECT_EQ(answerer.boxes[0].title, QStringLiteral("Dyvenhall Skin Updater"));
        EXPECT_EQ(answerer.boxes[0].text, QStringLiteral("Several:\n  /a\n  /b"));
        EXPECT_EQ(answerer.boxes[0].icon, c.icon);
        EXPECT_FALSE(answerer.boxes[0].hasParent);
    }
}

}  // namespace
}  // namespace dsu::app
