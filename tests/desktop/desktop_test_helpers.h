// Helpers shared by the desktop tests, which bring Qt Test, the controller and
// the PDF writer along: fixture files, paths, widget lookup, running a
// conversion to its end, answering modal dialogs and holding a conversion at a
// page.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "desktop/conversion_controller.h"
#include "engine/converter.h"
#include "engine/job_hooks.h"
#include "tests/support/pdf_writer.h"

namespace bl::desktop::test_helpers {

namespace fs = std::filesystem;

// Inspections and conversions finish on the pool. Generous, for sanitizer builds
// on a busy machine.
constexpr int kTimeoutMs = 120000;

inline QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

inline QStringList qpaths(const QList<fs::path>& paths) {
    QStringList texts;
    for (const fs::path& path : paths) {
        texts.append(qpath(path));
    }
    return texts;
}

// The names in a folder, sorted.
inline QStringList namesIn(const fs::path& folder) {
    QStringList names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.append(QString::fromStdString(entry.path().filename().string()));
    }
    names.sort();
    return names;
}

// A fresh folder for the fixture files of one test, with an empty "out" folder
// for the images.
class Fixtures {
  public:
    Fixtures() { fs::create_directory(out); }

    // A document of `pages` pages of the given size in points.
    fs::path pdf(const std::string& name, int pages = 1, double width = 200.0,
                 double height = 100.0) const {
        return file(name, test::simple_pdf(pages, width, height));
    }
    // Any other file, such as one that only claims to be a PDF.
    fs::path file(const std::string& name, const std::string& bytes) const {
        const fs::path path = dir / name;
        test::write_file(path, bytes);
        return path;
    }
    // A document as pdf() makes, opened only with the user password "secret".
    fs::path locked(const std::string& name, int pages = 1) const {
        const fs::path plain = pdf("plain-" + name, pages);
        const fs::path path = dir / name;
        if (!test::qpdf_encrypt(plain, path, "secret", "owner", 256, true)) {
            qFatal("qpdf could not encrypt %s", name.c_str());
        }
        fs::remove(plain);
        return path;
    }

    test::TempDir dir;
    const fs::path out = dir / "out";
};

template <class T>
T* widget(const QObject& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no widget named %s", name);
    }
    return found;
}

// What the main window's status line says.
inline QString statusLine(const QObject& window) {
    return widget<QLabel>(window, "statusLabel")->text();
}

// Shows the window and waits until it is on screen.
inline bool shown(QWidget& window) {
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

// Which of the named widgets are enabled, in the order given.
inline QStringList enabledOf(const QObject& parent, std::initializer_list<const char*> names) {
    QStringList enabled;
    for (const char* name : names) {
        if (widget<QWidget>(parent, name)->isEnabled()) {
            enabled.append(QString::fromLatin1(name));
        }
    }
    return enabled;
}

// Waits until every queued file is inspected.
inline bool inspected(const ConversionController& controller) {
    return QTest::qWaitFor([&] { return controller.checkingCount() == 0; }, kTimeoutMs);
}

// Queues the files and waits until every one is inspected.
inline bool addAndInspect(ConversionController& controller, const QList<fs::path>& files) {
    return controller.addFiles(qpaths(files)) == files.size() && inspected(controller);
}

inline QList<JobState> states(const ConversionController& controller) {
    QList<JobState> result;
    for (const Job& job : controller.model()->jobs()) {
        result.append(job.state);
    }
    return result;
}

// What a signal spy recorded, as a list that QCOMPARE prints on a mismatch.
inline QList<QVariantList> calls(const QSignalSpy& spy) {
    return spy;
}

// One argument of every call a signal spy recorded.
template <class T>
QList<T> argument(const QSignalSpy& spy, int index) {
    QList<T> values;
    for (const QVariantList& call : spy) {
        values.append(call.at(index).value<T>());
    }
    return values;
}

// Every count of a run in one line, so that a test compares them all at once:
// the counts that are not zero, the images saved and whether the run stopped,
// e.g. "2 converted, 1 skipped, 3 images".
inline QString tally(const RunSummary& summary) {
    QStringList parts;
    const auto add = [&parts](int count, const char* what) {
        if (count != 0) {
            parts.append(QString::number(count) + QLatin1Char(' ') + QLatin1String(what));
        }
    };
    add(summary.converted, "converted");
    add(summary.partlyConverted, "partly");
    add(summary.failed, "failed");
    add(summary.skipped, "skipped");
    parts.append(QString::number(summary.imagesSaved) + QStringLiteral(" images"));
    if (summary.stopped) {
        parts.append(QStringLiteral("stopped"));
    }
    return parts.join(QStringLiteral(", "));
}

// The tally of the one run `finished` saw end, once it has; otherwise what went
// wrong.
inline QString waitForRun(QSignalSpy& finished) {
    if (!QTest::qWaitFor([&] { return !finished.isEmpty(); }, kTimeoutMs)) {
        return QStringLiteral("the run did not end");
    }
    if (finished.count() != 1) {
        return QStringLiteral("the run ended %1 times").arg(finished.count());
    }
    return tally(finished.first().first().value<RunSummary>());
}

// Starts a run and waits for its end: its tally, or why it did not start.
inline QString runToEnd(ConversionController& controller, const ConversionSettings& settings) {
    QSignalSpy finished(&controller, &ConversionController::runFinished);
    QString error;
    if (!controller.start(settings, &error)) {
        return QStringLiteral("refused: ") + error;
    }
    return waitForRun(finished);
}

// Calls `answer` with the next modal dialog once it is shown. Dialogs run their
// own event loop, so this watches from a timer instead of waiting inline.
inline void whenModalOpens(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        answer(modal);
    });
    timer->start();
}

// The same for a dialog of type T, which the next modal dialog must be. A dialog
// left open (a check failed before the answer) is rejected, so that the test
// goes on to report it instead of waiting.
template <class T>
void whenOpens(std::function<void(T*)> answer) {
    whenModalOpens([answer = std::move(answer)](QWidget* modal) {
        const QPointer<QDialog> open = qobject_cast<QDialog*>(modal);
        const auto rejectIfOpen = qScopeGuard([&open] {
            if (open && open->isVisible()) {
                open->reject();
            }
        });
        auto* dialog = qobject_cast<T*>(modal);
        QVERIFY2(dialog != nullptr, modal->metaObject()->className());
        answer(dialog);
    });
}

// Holds a conversion's worker at one page, just before that page is rendered or
// encoded, until open() is called; so a test can act while a job is certainly at
// that point.
class PageGate {
  public:
    enum class Stage { Render, Encode };

    PageGate(Stage stage, std::uint32_t page) {
        std::shared_future<void> opened = opened_.get_future().share();
        auto reached = std::make_shared<std::promise<void>>();
        reached_ = reached->get_future();
        auto once = std::make_shared<std::once_flag>();
        auto hook = [page, opened, reached, once](std::uint32_t number) {
            if (number == page) {
                std::call_once(*once, [&reached] { reached->set_value(); });
                opened.wait();
            }
        };
        // With one helper, "page N waits" means every page before it is done.
        hooks_.driver.render_helpers = 1;
        if (stage == Stage::Render) {
            hooks_.driver.before_render = hook;
        } else {
            hooks_.driver.before_encode = hook;
        }
    }
    PageGate(const PageGate&) = delete;
    PageGate& operator=(const PageGate&) = delete;
    // Declare the gate before the controller (or window) that runs the job, and
    // hand the controller its hooks: they go only after the job's task has been
    // waited for.
    ~PageGate() { open(); }
    const bl::detail::JobHooks* hooks() const { return &hooks_; }

    // Whether the worker arrived at the gate within the time.
    bool waitUntilReached() {
        return reached_.wait_for(std::chrono::milliseconds(kTimeoutMs)) ==
               std::future_status::ready;
    }
    void open() {
        if (!open_) {
            open_ = true;
            opened_.set_value();
        }
    }
    // Opens the gate when the caller's scope ends; declare it after the controller
    // so that the controller's destructor never waits on a closed gate.
    auto openAtScopeExit() {
        return qScopeGuard([this] { open(); });
    }

  private:
    std::promise<void> opened_;
    std::future<void> reached_;
    bool open_ = false;
    bl::detail::JobHooks hooks_;
};

}  // namespace bl::desktop::test_helpers
