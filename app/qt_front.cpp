#include "app/qt_front.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>

#include "platform/messages.h"

// The icon's resource lives in a static library, whose initialiser the linker
// drops unless something names it; Q_INIT_RESOURCE has to be used outside any
// namespace.
static void InitResources() { Q_INIT_RESOURCE(app); }

namespace dsu::app {

namespace {

QString ToQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QtWindow::QtWindow(platform::FileSystem& files, platform::Registry& registry)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint),
      form_(files, registry, *this),
      label_(new QLabel(ToQString(kInitialStatus), this)),
      button_(new QPushButton(ToQString(kUpdateButtonText), this)) {
    setWindowTitle(ToQString(kCaption));
    ::InitResources();
    // Every size in the resources, each named by its pixel size.
    QIcon icon;
    const QDir icons(QStringLiteral(":/icons"));
    for (const QString& name : icons.entryList({QStringLiteral("*.png")}, QDir::Files)) {
        const int size = QFileInfo(name).completeBaseName().toInt();
        icon.addFile(icons.filePath(name), QSize(size, size));
    }
    setWindowIcon(icon);
    setFixedSize(kClientWidth, kClientHeight);
    // Qt scales the 96-dpi layout for the screen.
    button_->setGeometry(kButtonBox.left, kButtonBox.top, kButtonBox.width, kButtonBox.height);
    button_->setDefault(true);
    label_->setWordWrap(false);
    setTabOrder(label_, button_);
    PlaceLabel();
    connect(button_, &QPushButton::clicked, this, [this] { UpdateClicked(); });
}

bool QtWindow::Load() {
    busy_ = true;
    const bool goesOn = form_.Load();
    busy_ = false;
    return goesOn;
}

void QtWindow::closeEvent(QCloseEvent* event) {
    // The window manager's close request is no input event, so painting during
    // a survey or a run would deliver it; the Win32 window takes none then.
    if (busy_)
        event->ignore();
    else
        event->accept();
}

void QtWindow::PlaceLabel() {
    // One line, sized to its text, centred vertically; the left edge stays.
    label_->adjustSize();
    label_->move(kLabelLeft, (kClientHeight - label_->height()) / 2);
}

void QtWindow::SetStatus(const std::u16string& text) {
    label_->setText(ToQString(text));
    PlaceLabel();
}

void QtWindow::Repaint() {
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtWindow::KeepAlive() {
    if (sincePaint_.isValid() && sincePaint_.elapsed() < kRepaintIntervalMs) return;
    sincePaint_.start();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtWindow::Show() {
    show();
    // Centred with its frame, as far as the window system has told its size.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(pos() + screen->availableGeometry().center() - frameGeometry().center());
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ShowMessageBox(QWidget* parent, const std::u16string& text, platform::MessageKind kind) {
    QString body = ToQString(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(
        kind == platform::MessageKind::Error ? QMessageBox::Critical : QMessageBox::Information,
        ToQString(platform::kMessageTitle), body, QMessageBox::Ok, parent);
    box.exec();
}

void RunMessage(const std::u16string& text, int& argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(ToQString(platform::kMessageTitle));
    ShowMessageBox(nullptr, text, platform::MessageKind::Error);
}

void QtWindow::ShowMessage(const std::u16string& text, platform::MessageKind kind) {
    ShowMessageBox(isVisible() ? this : nullptr, text, kind);
}

void QtWindow::UpdateClicked() {
    // The run holds the thread; the window takes no input meanwhile.
    button_->setEnabled(false);
    busy_ = true;
    const bool goesOn = form_.UpgradeSkins();
    busy_ = false;
    if (!goesOn) QCoreApplication::exit(form_.ExitCode());
}

int RunWindow(platform::FileSystem& files, platform::Registry& registry, int& argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(ToQString(platform::kMessageTitle));
    QtWindow window(files, registry);
    if (!window.Load()) return window.ExitCode();
    const int status = app.exec();
    return status != 0 ? status : window.ExitCode();
}

}  // namespace dsu::app
