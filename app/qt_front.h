// The Linux program's window, with Qt Widgets.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "app/main_form.h"
#include "app/view.h"
#include "app/window_front.h"

namespace dsu::app {

class QtWindow final : public QWidget, public View {
  public:
    QtWindow(platform::FileSystem& files, platform::Registry& registry);

    // Start-up; false when the program is to end at once.
    bool Load();
    int ExitCode() const { return form_.ExitCode(); }
    QLabel* Label() const { return label_; }
    QPushButton* Button() const { return button_; }

    void SetStatus(const std::u16string& text) override;
    void Repaint() override;
    void KeepAlive() override;
    void Show() override;
    void DisableUpdate() override { button_->setEnabled(false); }
    void ShowMessage(const std::u16string& text, platform::MessageKind kind) override;
    void Close() override { hide(); }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void UpdateClicked();
    void PlaceLabel();

    frmMain form_;
    QLabel* label_;
    QPushButton* button_;
    // Monotonic: a clock set back must not stop the painting.
    QElapsedTimer sincePaint_;
    bool busy_ = false;
};

// A modal message box titled "Dyvenhall Skin Updater", owned by `parent`
// when given; a CR LF in `text` breaks the line.
void ShowMessageBox(QWidget* parent, const std::u16string& text, platform::MessageKind kind);

}  // namespace dsu::app
