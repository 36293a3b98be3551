#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <vector>

namespace capmeter::testing {

// Acknowledges every message box the window opens, as a user pressing OK
// would, and notes what each box looked like when it came up.
class MessageBoxWatcher {
 public:
  struct Seen {
    QString text;
    QString title;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
    bool hasParent;
    bool windowVisible;  // was the watched window on screen at that moment
  };

  explicit MessageBoxWatcher(const QWidget* window = nullptr) : window_(window) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Acknowledge(); });
    timer_.start(5);
  }

  void Watch(const QWidget* window) { window_ = window; }
  QStringList Texts() const {
    QStringList texts;
    for (const Seen& box : seen) texts << box.text;
    return texts;
  }

  std::vector<Seen> seen;

 private:
  void Acknowledge() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) {
      return;
    }
    seen.push_back({box->text(), box->windowTitle(), box->standardButtons(), box->icon(),
                    box->parentWidget() != nullptr, window_ && window_->isVisible()});
    if (auto* ok = box->button(QMessageBox::Ok)) {
      ok->click();
    } else {
      box->reject();
    }
  }

  QPointer<const QWidget> window_;
  QTimer timer_;
};

}  // namespace capmeter::testing
