// The page pane measured in the real window: how soon the thumbnails of a
// newly selected file arrive, how long the GUI thread is ever held up
// meanwhile, and how many bytes the thumbnail cache keeps while the whole of
// a manual of thousands of pages scrolls past. See bench/README.md.
//
//   pane_bench [--rounds N] [--file PDF] [--scroll PDF]
//   pane_bench --estimate PDF [--estimate PDF...]   the status row's estimates only
//   pane_bench --beside [--rounds N] [--file PDF]   a run with and without thumbnails drawn
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "desktop/conversion_controller.h"
#include "desktop/main_window.h"
#include "desktop/page_pane.h"
#include "desktop/settings_panel.h"

namespace bl::desktop {
namespace {

constexpr int kProbeMs = 5;
constexpr int kFirstPages = 12;

// How late a 5 ms timer fires, at worst: the longest the GUI thread was busy.
class LatencyProbe {
  public:
    LatencyProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            worst_ = std::max(worst_, static_cast<double>(now - last_) / 1e6 - kProbeMs);
            last_ = now;
        });
    }
    void start() {
        clock_.start();
        last_ = 0;
        worst_ = 0;
        timer_.start(kProbeMs);
    }
    double worstMs() const { return worst_; }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    double worst_ = 0;
};

// The most memory this process has held, helpers not counted.
QString peakMemory() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return QStringLiteral("unknown");
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return QString::fromLatin1(line.mid(6).simplified());
        }
    }
    return QStringLiteral("unknown");
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool queue(MainWindow& window, const QString& path) {
    window.resize(1280, 800);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) || window.controller().addFiles({path}) != 1) {
        return false;
    }
    return QTest::qWaitFor([&] { return window.controller().checkingCount() == 0; }, 120000);
}

void selectFirstRow(MainWindow& window) {
    auto* view = window.findChild<QTableView*>(QStringLiteral("queueView"));
    view->selectRow(0);
}

struct Arrival {
    double first = -1;  // ms until pages 1 to 12 had all arrived
    double all = -1;    // ms until every page had
    double worstStall = 0;
};

// One cold start: a new window, the file queued, then selected.
Arrival selectAndWait(const QString& path) {
    MainWindow window;
    Arrival arrival;
    if (!queue(window, path)) {
        return arrival;
    }
    PagePane& pane = window.pagePane();
    const int pages = window.controller().model()->jobs().first().pageCount;
    std::vector<bool> seen(static_cast<std::size_t>(pages) + 1, false);
    int count = 0;
    int firstCount = 0;
    QElapsedTimer clock;
    QObject::connect(&pane.loader(), &PageLoader::thumbnailReady,
                     [&](const QString&, int page, quint64, const QImage&) {
                         if (seen[static_cast<std::size_t>(page)]) {
                             return;
                         }
                         seen[static_cast<std::size_t>(page)] = true;
                         ++count;
                         if (page <= kFirstPages && ++firstCount == std::min(kFirstPages, pages)) {
                             arrival.first = static_cast<double>(clock.nsecsElapsed()) / 1e6;
                         }
                         if (count == pages) {
                             arrival.all = static_cast<double>(clock.nsecsElapsed()) / 1e6;
                         }
                     });
    LatencyProbe probe;
    probe.start();
    clock.start();
    selectFirstRow(window);
    (void)QTest::qWaitFor([&] { return count == pages; }, 60000);
    arrival.worstStall = probe.worstMs();
    return arrival;
}

int arrivals(const QString& path, int rounds) {
    std::vector<double> first, all, stalls;
    for (int round = 0; round < rounds; ++round) {
        const Arrival arrival = selectAndWait(path);
        if (arrival.all < 0) {
            std::fprintf(stderr, "pane_bench: not every thumbnail of %s arrived\n",
                         qPrintable(path));
            return 1;
        }
        std::printf("round %d: first %d in %.0f ms, all in %.0f ms, GUI thread held up %.1f ms\n",
                    round + 1, kFirstPages, arrival.first, arrival.all, arrival.worstStall);
        first.push_back(arrival.first);
        all.push_back(arrival.all);
        stalls.push_back(arrival.worstStall);
    }
    std::printf("median of %d: first %d in %.0f ms, all in %.0f ms, GUI thread held up %.1f ms\n",
                rounds, kFirstPages, median(first), median(all), median(stalls));
    return 0;
}

// Pages down through the whole file, each screenful drawn before the next.
int scrollThrough(const QString& path) {
    MainWindow window;
    if (!queue(window, path)) {
        std::fprintf(stderr, "pane_bench: could not queue %s\n", qPrintable(path));
        return 1;
    }
    selectFirstRow(window);
    PagePane& pane = window.pagePane();
    PageView* view = pane.view();
    QScrollBar* bar = view->verticalScrollBar();
    const auto drawn = [&] {
        const auto [first, last] = view->visibleRows();
        for (int row = first; row <= last; ++row) {
            if (pane.model().needsDrawing(row + 1)) {
                return false;
            }
        }
        return last >= first;
    };
    LatencyProbe probe;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    qint64 most = 0;
    int screens = 0;
    do {
        bar->setValue(bar->value() + view->viewport()->height());
        (void)QTest::qWaitFor(drawn, 30000);
        most = std::max(most, pane.cache().bytes());
        ++screens;
    } while (bar->value() < bar->maximum());
    std::printf(
        "%d pages in %d screens, %.1f s: cache at most %.1f MiB of its %.1f MiB "
        "(%d thumbnails kept at the end), GUI thread held up %.1f ms at most, peak memory %s\n",
        pane.model().rowCount(), screens, static_cast<double>(clock.elapsed()) / 1000,
        static_cast<double>(most) / (1 << 20),
        static_cast<double>(pane.cache().capacity()) / (1 << 20), pane.cache().count(),
        probe.worstMs(), qPrintable(peakMemory()));
    return most <= pane.cache().capacity() ? 0 : 1;
}

// Seconds a run of `path` takes from the window: with its pages in the pane,
// scrolled a screen every 100 ms while it runs, or with nothing in the pane.
double runSeconds(const QString& path, bool scrolling) {
    MainWindow window;
    QTemporaryDir out;
    if (!queue(window, path) || !out.isValid()) {
        return -1;
    }
    window.settingsPanel().setOutputFolder(out.path());
    QTimer scroller;
    if (scrolling) {
        selectFirstRow(window);
        PageView* view = window.pagePane().view();
        QObject::connect(&scroller, &QTimer::timeout, [view] {
            QScrollBar* bar = view->verticalScrollBar();
            bar->setValue(
                bar->value() >= bar->maximum() ? 0 : bar->value() + view->viewport()->height());
        });
        scroller.start(100);
    }
    bool finished = false;
    QObject::connect(&window.controller(), &ConversionController::runFinished,
                     [&finished] { finished = true; });
    QElapsedTimer clock;
    clock.start();
    window.startConversion();
    (void)QTest::qWaitFor([&] { return finished; }, 600000);
    return finished ? static_cast<double>(clock.elapsed()) / 1000 : -1;
}

// A conversion with thumbnails drawn beside it, against one without, in
// alternating rounds.
int runBeside(const QString& path, int rounds) {
    std::vector<double> quiet, busy;
    for (int round = 0; round < rounds; ++round) {
        quiet.push_back(runSeconds(path, false));
        busy.push_back(runSeconds(path, true));
    }
    std::printf(
        "a run of %s: %.2f s with the pane empty, %.2f s with its pages scrolled "
        "through meanwhile (medians of %d); ratio %.2f\n",
        qPrintable(path), median(quiet), median(busy), rounds, median(busy) / median(quiet));
    return std::ranges::find(quiet, -1.0) == quiet.end() &&
                   std::ranges::find(busy, -1.0) == busy.end()
               ? 0
               : 1;
}

// The status row's estimate of converting the whole file at `dpi`.
QString estimateAt(const QString& path, double dpi) {
    MainWindow window;
    if (!queue(window, path)) {
        return QStringLiteral("could not queue the file");
    }
    SavedSettings settings = window.settingsPanel().settings();
    settings.dpi = dpi;
    settings.presetIndex = -1;
    window.estimator().setDelay(0);
    window.settingsPanel().setSettings(settings);
    (void)QTest::qWaitFor(
        [&] { return window.estimator().text().startsWith(QLatin1String("About")); }, 120000);
    return window.estimator().text();
}

}  // namespace
}  // namespace bl::desktop

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString file = QStringLiteral("/usr/share/R/doc/manual/R-intro.pdf");
    QString scroll = QStringLiteral("/usr/share/R/doc/manual/fullrefman.pdf");
    QStringList estimates;
    int rounds = 5;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rounds")) {
            rounds = std::max(1, args[i + 1].toInt());
        } else if (args[i] == QLatin1String("--file")) {
            file = args[i + 1];
        } else if (args[i] == QLatin1String("--scroll")) {
            scroll = args[i + 1];
        } else if (args[i] == QLatin1String("--estimate")) {
            estimates.append(args[i + 1]);
        }
    }
    // A run with thumbnail work beside it, when asked for.
    if (args.contains(QLatin1String("--beside"))) {
        return bl::desktop::runBeside(file, rounds);
    }
    // Only the estimates, when asked for, each at 150 and 300 DPI.
    if (!estimates.isEmpty()) {
        for (const QString& pdf : estimates) {
            for (const double dpi : {150.0, 300.0}) {
                std::printf("%s at %g DPI: %s\n", qPrintable(pdf), dpi,
                            qPrintable(bl::desktop::estimateAt(pdf, dpi)));
            }
        }
        return 0;
    }
    std::printf("%s, %d rounds:\n", qPrintable(file), rounds);
    int status = bl::desktop::arrivals(file, rounds);
    if (QFile::exists(scroll)) {
        std::printf("%s:\n", qPrintable(scroll));
        status |= bl::desktop::scrollThrough(scroll);
    }
    return status;
}
