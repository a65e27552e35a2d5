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
#include "tests/support/front_install.h"
#include "tests/support/wine_prefix.h"

namespace dsu::app {
namespace {

using testing::FakeWinePrefix;
using testing::RegText;

struct Box {
    QString title, text;
    QMessageBox::Icon icon;
    bool hasParent;
    bool operator==(const Box&) const = default;
};
void PrintTo(const Box& box, std::ostream* os) {
    *os << box.title.toStdString() << ": " << box.text.toStdString() << " (icon " << box.icon
        << (box.hasParent ? ", owned)" : ")");
}
// The title of every box.
const QString kTitle = QStringLiteral("Dyvenhall Skin Updater");

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

// The window on a prefix, with every box it opens answered.
struct QtRun {
    explicit QtRun(const testing::AppPaths& values, const install::Tree& driveC = {})
        : prefix(values, driveC) {}
    FakeWinePrefix prefix;
    std::unique_ptr<platform::FileSystem> files = platform::MakePosixFileSystem(prefix.Prefix());
    std::unique_ptr<platform::Registry> registry = platform::MakeWineRegistry(prefix.Prefix());
    BoxAnswerer answerer;
    QtWindow window{*files, *registry};
};

TEST_F(QtWindowTest, LayoutAndAClickThatRunsTheUpdate) {
    QtRun run({RegText(testing::kFrontHost), RegText(testing::kFrontPaint)},
              testing::FrontInstall());
    QtWindow& window = run.window;
    BoxAnswerer& answerer = run.answerer;
    ASSERT_TRUE(window.Load());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Update SP3 Skins to 1.5"));
    EXPECT_EQ(window.size(), QSize(353, 49));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.Label()->text(),
              QString::fromStdString(testing::LastStatus(testing::FrontStartUp())));
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
    // The run's messages as boxes owned by the window: a CR LF breaks the line.
    std::vector<Box> boxes;
    for (const testing::Shown& shown : testing::Messages(testing::FrontRun())) {
        QString text = QString::fromStdString(shown.text);
        boxes.push_back(
            {kTitle, text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
             shown.kind == testing::Shown::Error ? QMessageBox::Critical : QMessageBox::Information,
             true});
    }
    EXPECT_EQ(closed, std::vector<bool>(boxes.size(), false));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(answerer.boxes, boxes);
    EXPECT_FALSE(window.Button()->isEnabled());
    EXPECT_EQ(window.Label()->text(),
              QString::fromStdString(testing::LastStatus(testing::FrontRun())));
    EXPECT_EQ(window.Label()->x(), 8);
    EXPECT_EQ(run.prefix.Read(testing::kFrontTrains + std::u16string(u"a/skin.dat")),
              testing::kFrontUpgradedA);
    EXPECT_EQ(window.ExitCode(), 0);

    // Once the run is over the window closes.
    EXPECT_TRUE(window.close());
}

TEST_F(QtWindowTest, AMissingInstallShowsOneBoxAndNoWindow) {
    QtRun run(testing::AppPaths{});
    QtWindow& window = run.window;
    const BoxAnswerer& answerer = run.answerer;
    EXPECT_FALSE(window.Load());
    EXPECT_FALSE(window.isVisible());
    const QString text = QStringLiteral("Trains could not be found.  You may have to reinstall.");
    EXPECT_EQ(answerer.boxes, std::vector<Box>({{kTitle, text, QMessageBox::Critical, false}}));
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
        const QString text = QStringLiteral("Several:\n  /a\n  /b");
        EXPECT_EQ(answerer.boxes, std::vector<Box>({{kTitle, text, c.icon, false}}));
    }
}

}  // namespace
}  // namespace dsu::app
