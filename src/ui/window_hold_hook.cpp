#include "ui/window_hold_hook.h"

#include <QFile>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

constexpr int LOOK_MS = 100;
constexpr std::chrono::seconds HOLD{2};

void Touch(const QString& path) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.close();
}

}  // namespace

void Install_Window_Hold_Hook(QObject* owner) {
  const char* trigger = std::getenv(HOLD_WINDOW_VARIABLE);
  if (trigger == nullptr || *trigger == '\0') return;
  const QString path = QString::fromLocal8Bit(trigger);
  auto* timer = new QTimer(owner);
  QObject::connect(timer, &QTimer::timeout, owner, [path] {
    if (!QFile::exists(path)) return;
    QFile::remove(path);
    Touch(path + ".held");
    std::this_thread::sleep_for(HOLD);  // the window thread is busy, as in a long repaint
    Touch(path + ".released");
  });
  timer->start(LOOK_MS);
}
