#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <utility>
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
  // At the next box, runs `instead` once rather than pressing OK, and leaves
  // that box alone for up to `patience`; a box still up after that is
  // acknowledged after all and counted in `leftStanding`.
  void AtNextBox(std::function<void()> instead, int patienceMs = 5000) {
    instead_ = std::move(instead);
    patienceMs_ = patienceMs;
  }
  QStringList Texts() const {
    QStringList texts;
    for (const Seen& box : seen) texts << box.text;
    return texts;
  }

  std::vector<Seen> seen;
  int leftStanding = 0;

 private:
  void Acknowledge() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) {
      return;
    }
    if (box == intercepted_) {
      if (!waited_.hasExpired(patienceMs_)) {
        return;
      }
      ++leftStanding;
      intercepted_ = nullptr;
      box->button(QMessageBox::Ok)->click();
      return;
    }
    seen.push_back({box->text(), box->windowTitle(), box->standardButtons(), box->icon(),
                    box->parentWidget() != nullptr, window_ && window_->isVisible()});
    if (instead_) {
      intercepted_ = box;
      waited_.start();
      std::exchange(instead_, nullptr)();
      return;
    }
    if (auto* ok = box->button(QMessageBox::Ok)) {
      ok->click();
    } else {
      box->reject();
    }
  }

  QPointer<const QWidget> window_;
  QTimer timer_;
  std::function<void()> instead_;
  int patienceMs_ = 0;
  QPointer<QMessageBox> intercepted_;
  QElapsedTimer waited_;
};

}  // namespace capmeter::testing
