// Click-to-paint under a log flood: how long the operator waits, after a mouse click, before the
// program shows its answer while the system log takes a flood of lines. The main window (its log
// pane first filled with PREFILL lines) and the System Log window are open; the program logs
// RATE lines a second for SECONDS seconds on the main thread, as the workers' hand-overs do.
// Meanwhile another thread clicks the receiver tab's "Time Synchronization" box through the X
// server (xdotool) every CLICK_MS milliseconds; the time from the moment the click is sent to the
// box's first paint in its new state is one sample. Before the flood the same clicks are timed on
// the idle program (the baseline, which includes xdotool's own start). A program that cannot keep
// up is stopped 60 s after the flood began, with the lines it had logged by then. Prints the
// figures. Run on an X server with a window manager: bench/click_to_paint.sh. Usage: click-to-paint
// [PREFILL RATE SECONDS]
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/receiver_core.h"
#include "base/settings.h"
#include "ui/log_form.h"
#include "ui/main_form.h"
#include "ui/receiver_page.h"

namespace {

constexpr int CLICK_MS = 250;
constexpr int BASELINE_CLICKS = 12;
// A program that cannot keep up is measured for this long after the flood began, then stopped.
constexpr double CAP_MS = 60000;

QElapsedTimer& Clock() {
  static QElapsedTimer clock;
  return clock;
}

// The clicks sent (ms on Clock) and the paints seen in the box's new state, in order.
struct Samples {
  std::mutex lock;
  std::vector<double> sent;
  std::vector<double> painted;
};

class Paint_Watch : public QObject {
 public:
  Paint_Watch(QCheckBox& box, Samples& samples) : box_(box), samples_(samples) {
    last_state_ = box.isChecked();
    box.installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &box_ && event->type() == QEvent::Paint && box_.isChecked() != last_state_) {
      last_state_ = box_.isChecked();
      const std::lock_guard<std::mutex> hold(samples_.lock);
      samples_.painted.push_back(Clock().nsecsElapsed() / 1e6);
    }
    return false;
  }

 private:
  QCheckBox& box_;
  Samples& samples_;
  bool last_state_;
};

struct Figures {
  double median = 0, p95 = 0, worst = 0;
  std::size_t count = 0;
};

Figures Summarise(std::vector<double> v) {
  Figures f;
  f.count = v.size();
  if (v.empty()) return f;
  std::sort(v.begin(), v.end());
  f.median = v[v.size() / 2];
  f.p95 = v[std::min(v.size() - 1, v.size() * 95 / 100)];
  f.worst = v.back();
  return f;
}

// Pairs each click with the first paint after it; a click never painted counts as `deadline`.
std::vector<double> Latencies(Samples& samples, std::size_t from_click, double deadline) {
  const std::lock_guard<std::mutex> hold(samples.lock);
  std::vector<double> out;
  std::size_t p = 0;
  for (std::size_t c = from_click; c < samples.sent.size(); ++c) {
    while (p < samples.painted.size() && samples.painted[p] < samples.sent[c]) ++p;
    out.push_back(p < samples.painted.size() ? samples.painted[p] - samples.sent[c] : deadline);
    if (p < samples.painted.size()) ++p;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QFont font = QApplication::font();
  font.setPixelSize(11);
  QApplication::setFont(font);
  QApplication::setQuitOnLastWindowClosed(false);
  const int prefill = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int rate = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;
  Clock().start();

  QTemporaryDir folder;
  const std::string path = folder.path().toStdString() + "/";
  Receiver_Core core(path);
  Settings_Load(core.Settings(), core.Settings_Path());
  TMain_Form main_form(core.Settings(), core.Settings_Path(), core.Log());
  core.Attach_Screen(&main_form);
  core.Log().Set_Pane(&main_form);
  TForm_Log log_form(core.Log());
  main_form.Set_Log_Form(&log_form);
  main_form.show();

  // A long log pane, written before the System Log opens.
  QElapsedTimer prefill_clock;
  prefill_clock.start();
  for (int n = 0; n < prefill; ++n)
    core.Log().Log_Message("Receiver port 7777 opened. Earlier line " + std::to_string(n), 0);
  const double prefill_ms = prefill_clock.nsecsElapsed() / 1e6;
  main_form.Menu_System_Log->trigger();
  // The System Log at the screen's right edge, where it leaves the box in view in every version.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  log_form.move(screen.right() - log_form.frameGeometry().width(), 0);

  QCheckBox& box = *main_form.Receiver_Page().CheckBox_Time_Synch;
  Samples samples;
  Paint_Watch watch(box, samples);
  std::atomic<bool> clicking{false};
  std::atomic<bool> stop{false};
  std::thread clicker([&] {
    while (!stop) {
      if (clicking) {
        {
          const std::lock_guard<std::mutex> hold(samples.lock);
          samples.sent.push_back(Clock().nsecsElapsed() / 1e6);
        }
        if (std::system("xdotool click 1") != 0) std::fprintf(stderr, "xdotool failed\n");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(CLICK_MS));
    }
  });

  QEventLoop run;
  int logged = 0;
  double flood_start = 0;
  double flood_end = 0;
  std::size_t flood_first_click = 0;
  QTimer flood;
  flood.setInterval(10);
  QObject::connect(&flood, &QTimer::timeout, [&] {
    // The lines due by now at the offered rate. As the workers hand lines over one at a time,
    // at most 10 go per turn of the event loop, which takes the clicks between them; a program
    // behind the rate is called again at once.
    const double now = Clock().nsecsElapsed() / 1e6;
    const int due = std::min(rate * seconds, static_cast<int>((now - flood_start) * rate / 1000));
    for (int turn = 0; logged < due && turn < 10; ++logged, ++turn)
      core.Log().Log_Message("Unrecognised data received from IP: 10.0.0.9, port: 40000 (" +
                                 std::to_string(logged) + ")",
                             255);
    flood.setInterval(logged < due ? 0 : 10);
    if (logged >= rate * seconds || now - flood_start > CAP_MS) {
      flood.stop();
      flood_end = Clock().nsecsElapsed() / 1e6;
      // An event loop of its own: the application's quit would close the windows first.
      QTimer::singleShot(4 * CLICK_MS, &run, &QEventLoop::quit);
    }
  });

  // Once the windows are up and the pointer is on the box: the baseline clicks, then the flood.
  QTimer::singleShot(1500, [&] {
    const QPoint centre = box.mapToGlobal(QPoint(8, box.height() / 2));
    const std::string move =
        "xdotool mousemove --sync " + std::to_string(centre.x()) + " " + std::to_string(centre.y());
    if (std::system(move.c_str()) != 0) std::fprintf(stderr, "xdotool failed\n");
    clicking = true;
    QTimer::singleShot(BASELINE_CLICKS * CLICK_MS + CLICK_MS / 2, [&] {
      {
        const std::lock_guard<std::mutex> hold(samples.lock);
        flood_first_click = samples.sent.size();
      }
      flood_start = Clock().nsecsElapsed() / 1e6;
      flood.start();
    });
  });
  run.exec();
  clicking = false;
  stop = true;
  clicker.join();

  const double deadline = 1e9;
  std::vector<double> all = Latencies(samples, 0, deadline);
  std::vector<double> idle(all.begin(), all.begin() + std::min(all.size(), flood_first_click));
  std::vector<double> flooded(all.begin() + std::min(all.size(), flood_first_click), all.end());
  const Figures a = Summarise(idle);
  const Figures b = Summarise(flooded);
  const auto unpainted = std::count(flooded.begin(), flooded.end(), deadline);
  std::printf(
      "prefill %d lines in %.0f ms; flood %d lines/s for %d s: %d lines logged in %.0f ms\n",
      prefill, prefill_ms, rate, seconds, logged, flood_end - flood_start);
  std::printf("idle   click-to-paint ms: median %.1f  p95 %.1f  worst %.1f  (%zu clicks)\n",
              a.median, a.p95, a.worst, a.count);
  std::printf(
      "flood  click-to-paint ms: median %.1f  p95 %.1f  worst %.1f  (%zu clicks, %ld "
      "never painted)\n",
      b.median, b.p95, unpainted > 0 ? -1.0 : b.worst, b.count, static_cast<long>(unpainted));
  core.Log().Set_Pane(nullptr);
  core.Attach_Screen(nullptr);
  return 0;
}
