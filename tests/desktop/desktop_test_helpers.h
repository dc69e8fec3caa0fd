// Helpers shared by the desktop tests: fixture files, widget lookup, running a
// conversion to its end, answering modal dialogs and holding a job at a page.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <semaphore>

#include "desktop/conversion_controller.h"
#include "engine/job_hooks.h"
#include "tests/support/pdf_writer.h"

namespace bl::desktop::test_helpers {

namespace fs = std::filesystem;
using enum JobState;
using States = QList<JobState>;

// Generous, for sanitizer builds on a busy machine.
constexpr int kTimeoutMs = 120000;

inline QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// The names in a folder, sorted.
inline QStringList namesIn(const fs::path& folder) {
    QStringList names = QDir(qpath(folder)).entryList(QDir::Files);
    names.sort();
    return names;
}

// A fresh folder for one test's files, with an empty "out" folder for the images.
struct Fixtures {
    Fixtures() { fs::create_directory(out); }
    fs::path pdf(const std::string& name, int pages = 1, double width = 200.0,
                 double height = 100.0) const {
        return file(name, test::simple_pdf(pages, width, height));
    }
    fs::path file(const std::string& name, const std::string& bytes) const {
        test::write_file(dir / name, bytes);
        return dir / name;
    }
    // Opens only with the user password "secret".
    fs::path locked(const std::string& name) const {
        const fs::path plain = pdf("plain-" + name);
        if (!test::qpdf_encrypt(plain, dir / name, "secret", "owner", 256, true)) {
            qFatal("qpdf could not encrypt %s", name.c_str());
        }
        fs::remove(plain);
        return dir / name;
    }
    test::TempDir dir;
    const fs::path out = dir / "out";
};

template <class T = QWidget>
T* widget(const QObject& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    return found != nullptr ? found : (qFatal("no widget named %s", name), nullptr);
}

inline QString statusLine(const QObject& window) {
    return widget<QLabel>(window, "statusLabel")->text();
}

// Which of the named widgets are enabled, in the order given.
inline QString enabledOf(const QObject& parent, const QList<const char*>& names) {
    QStringList enabled;
    for (const char* name : names) {
        if (widget(parent, name)->isEnabled()) {
            enabled.append(QString::fromLatin1(name));
        }
    }
    return enabled.join(' ');
}

inline bool addAndInspect(ConversionController& controller, const QList<fs::path>& files) {
    QStringList paths;
    for (const fs::path& path : files) {
        paths.append(qpath(path));
    }
    return controller.addFiles(paths) == files.size() &&
           QTest::qWaitFor([&] { return controller.checkingCount() == 0; }, kTimeoutMs);
}

inline States states(const ConversionController& controller) {
    States result;
    for (const Job& job : controller.model()->jobs()) {
        result.append(job.state);
    }
    return result;
}

// Every count of a run in one line: converted/partly/failed/skipped, images.
inline QString tally(const RunSummary& s) {
    return QString::asprintf("%d/%d/%d/%d, %d images%s", s.converted, s.partlyConverted, s.failed,
                             s.skipped, s.imagesSaved, s.stopped ? ", stopped" : "");
}

// The tally of the one run `finished` saw end; otherwise what went wrong.
inline QString waitForRun(QSignalSpy& finished) {
    const bool ended = QTest::qWaitFor([&] { return !finished.isEmpty(); }, kTimeoutMs);
    return ended && finished.count() == 1
               ? tally(finished.first().first().value<RunSummary>())
               : QStringLiteral("the run ended %1 times").arg(finished.count());
}

// Calls `answer` with the next modal dialog, which must be a T, once it shows.
// Dialogs run their own event loop, so this watches from a timer. A dialog left
// open is rejected, so that a failing test reports instead of hanging.
template <class T>
void whenOpens(std::function<void(T*)> answer) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer = std::move(answer)] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        timer->deleteLater();
        timer->stop();
        T* typed = qobject_cast<T*>(dialog);
        if (typed == nullptr) {
            dialog->reject();
            QFAIL("Another kind of dialog opened.");
        }
        answer(typed);
        if (dialog->isVisible()) {
            dialog->reject();
        }
    });
    timer->start(5);
}

// Holds a job's worker just before it renders page `page` until open(), which
// must come before the controller goes. With one helper, the pages before it
// are done by then.
struct PageGate {
    explicit PageGate(std::uint32_t page) {
        hooks.driver.render_helpers = 1;
        hooks.driver.before_render = [this, page](std::uint32_t number) {
            if (number == page) {
                reached.release();
                opened.acquire();
            }
        };
    }
    bool waitUntilReached() {
        return reached.try_acquire_for(std::chrono::milliseconds(kTimeoutMs));
    }
    void open() { opened.release(); }
    ConversionController::JobRunner runner() const {
        return [this](bl::JobRequest request, const bl::ProgressCallback& progress,
                      const bl::CancellationToken& token) {
            return bl::detail::run_job(std::move(request), progress, token, hooks);
        };
    }
    bl::detail::JobHooks hooks;
    std::counting_semaphore<> reached{0}, opened{0};
};

}  // namespace bl::desktop::test_helpers
