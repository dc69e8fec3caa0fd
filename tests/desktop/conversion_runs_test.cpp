#include <QFileInfo>
#include <QTimer>

#include <chrono>

#include "desktop/conversion_controller.h"
#include "tests/desktop/desktop_test_helpers.h"

namespace bl::desktop {

namespace fs = std::filesystem;
using namespace test_helpers;
using enum JobState;
using States = QList<JobState>;
using Policy = ExistingFilePolicy;

namespace {

const Job& job(const ConversionController& controller, int row) {
    return controller.model()->jobs().at(row);
}

// A job's result as the engine hands it over, built up a step at a time.
struct Ran {
    // `selected` pages, of which the first `written` were written.
    Ran(std::uint32_t selected, std::uint32_t written) {
        ConvertResult& convert = result.convert;
        convert.pages_selected = selected;
        for (std::uint32_t page = 1; page <= written; ++page) {
            PageResult done;
            done.page = page;
            done.output_path = "/out/a_page_000" + std::to_string(page) + ".jpg";
            convert.page_results.push_back(done);
        }
        convert.pages_written = written;
    }
    // One of the pages failed instead.
    Ran&& pageFails(std::uint32_t page, std::string message) && {
        PageResult& failed = result.convert.page_results.at(page - 1);
        failed.output_path.clear();
        failed.error = ConvertError{ErrorKind::RenderFailed, std::move(message), page};
        --result.convert.pages_written;
        ++result.convert.pages_failed;
        return std::move(*this);
    }
    // What ended the job early.
    Ran&& stops(ErrorKind kind, std::string message) && {
        result.convert.error = ConvertError{kind, std::move(message), 0};
        result.convert.cancelled = kind == ErrorKind::Cancelled;
        return std::move(*this);
    }
    Ran&& zipped(const char* error = nullptr) && {
        result.zip.attempted = true;
        if (error != nullptr) {
            result.zip.error = ConvertError{ErrorKind::WriteFailed, error, 0};
        } else {
            result.zip.archive = ZipResult{"/out/a.zip", 100};
        }
        return std::move(*this);
    }

    JobResult result;
};

// An outcome in one line: the status the row shows, the files it lists, what
// the run does next, and what the job adds to the run's totals.
QString describe(const JobOutcome& outcome) {
    QStringList files;
    for (const QString& file : outcome.job.outputFiles + QStringList{outcome.job.zipPath}) {
        files.append(QFileInfo(file).fileName());
    }
    using enum JobOutcome::Next;
    static const char* const steps[] = {"next", "ask for the password", "ask: ", "stop"};
    QString next = steps[static_cast<int>(outcome.next)];
    if (outcome.next == AskAboutExistingFiles) {
        next += outcome.question;
    } else if (outcome.next == AskPassword && outcome.previousAttemptWrong) {
        next += QStringLiteral(" again");
    }
    const JobQueueModel model;
    return QStringList{model.statusText(outcome.job), files.join(' ').trimmed(),
                       (outcome.finished ? "finished, " : "") + next, tally(outcome.counts)}
        .join(QStringLiteral(" | "));
}

// Answers each time the controller asks, from the event loop as the window does.
template <class Signal>
void whenAsked(ConversionController& controller, Signal signal,
               std::function<void(quint64)> answer) {
    QObject::connect(&controller, signal, &controller, [&controller, answer](qulonglong id) {
        QTimer::singleShot(0, &controller, [answer, id] { answer(id); });
    });
}

}  // namespace

class ConversionRunsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixtures> files_;

    ConversionSettings settings(bool zip = false, Policy onExists = Policy::Ask) const {
        ConversionSettings settings;
        settings.outputFolder = qpath(files_->out);
        settings.createZip = zip;
        settings.onExists = onExists;
        return settings;
    }
    fs::path pdf(const std::string& name, int pages) const { return files_->pdf(name, pages); }
    fs::path out(const std::string& name) const { return files_->out / name; }
    QString run(ConversionController& controller) const { return runToEnd(controller, settings()); }
    QStringList outNames() const { return namesIn(files_->out); }

  private slots:
    void init() { files_ = std::make_unique<Fixtures>(); }
    void cleanup() { files_.reset(); }

    void resultToRow_data() {
        QTest::addColumn<JobResult>("result");
        QTest::addColumn<Policy>("policy");
        QTest::addColumn<bool>("cancelling");  // a cancel was asked for while the job ran
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char* name, Ran&& ran, const char* outcome,
                            Policy policy = Policy::Ask, bool cancelling = false) {
            QTest::newRow(name) << ran.result << policy << cancelling << QString(outcome);
        };
        row("every page", Ran(3, 3),
            "Done — 3 pages | a_page_0001.jpg a_page_0002.jpg a_page_0003.jpg | finished, next | "
            "1 converted, 3 images");
        row("a failed page", Ran(3, 3).pageFails(2, "Took too long."),
            "Partly done — 2 of 3 pages. Page 2: Took too long. | a_page_0001.jpg a_page_0003.jpg "
            "| finished, next | 1 partly, 2 images");
        // The message says which page already; it is not said twice.
        row("a page's message names it", Ran(3, 3).pageFails(2, "Page 2: Too wide."),
            "Partly done — 2 of 3 pages. Page 2: Too wide. | a_page_0001.jpg a_page_0003.jpg | "
            "finished, next | 1 partly, 2 images");
        row("every page failed", Ran(1, 1).pageFails(1, "Took too long."),
            "Failed: Page 1: Took too long. |  | finished, next | 1 failed, 0 images");
        row("stopped before any page", Ran(3, 0).stops(ErrorKind::DiskFull, "Disk full."),
            "Failed: Disk full. |  | finished, next | 1 failed, 0 images");
        row("password", Ran(0, 0).stops(ErrorKind::PasswordRequired, "Locked."),
            "Password required |  | ask for the password | 0 images");
        row("wrong password", Ran(0, 0).stops(ErrorKind::WrongPassword, "Wrong."),
            "Password required |  | ask for the password again | 0 images");
        row("existing files", Ran(3, 0).stops(ErrorKind::OutputExists, "\"x.jpg\" exists."),
            "Ready |  | ask: \"x.jpg\" exists. | 0 images");
        // Asked once for the run; a clash after that is the job's failure.
        row("existing files, answered", Ran(3, 0).stops(ErrorKind::OutputExists, "Exists."),
            "Failed: Exists. |  | finished, next | 1 failed, 0 images", Policy::KeepBoth);
        row("existing files after a page", Ran(3, 1).stops(ErrorKind::OutputExists, "Exists."),
            "Partly done — 1 of 3 pages. Exists. | a_page_0001.jpg | finished, next | 1 partly, "
            "1 images");
        // Not counted: the summary says that the run stopped.
        row("cancelled", Ran(4, 1).stops(ErrorKind::Cancelled, "Cancelled."),
            "Cancelled — 1 of 4 pages saved | a_page_0001.jpg | finished, stop | 1 images");
        row("zip", Ran(3, 3).zipped(),
            "Done — 3 pages | a_page_0001.jpg a_page_0002.jpg a_page_0003.jpg a.zip | finished, "
            "next | 1 converted, 3 images");
        // The pages are there all the same.
        row("zip failed", Ran(1, 1).zipped("Disk full."),
            "Partly done — 1 of 1 pages. ZIP not created: Disk full. | a_page_0001.jpg | "
            "finished, next | 1 partly, 1 images");
        row("zip failed after a failed page", Ran(2, 2).pageFails(1, "Bad.").zipped("Full."),
            "Partly done — 1 of 2 pages. ZIP not created: Full. | a_page_0002.jpg | finished, "
            "next | 1 partly, 1 images");
        // A cancel that came too late for the job still ends the run after it.
        row("every page, cancelling", Ran(1, 1),
            "Done — 1 page | a_page_0001.jpg | finished, stop | 1 converted, 1 images", Policy::Ask,
            true);
        // Whoever cancelled is asked nothing more.
        row("wrong password, cancelling", Ran(0, 0).stops(ErrorKind::WrongPassword, "Wrong."),
            "Password required |  | stop | 0 images", Policy::Ask, true);
        row("existing files, cancelling", Ran(2, 0).stops(ErrorKind::OutputExists, "Exists."),
            "Ready |  | stop | 0 images", Policy::Ask, true);
    }

    void resultToRow() {
        QFETCH(JobResult, result);
        QFETCH(Policy, policy);
        QFETCH(bool, cancelling);
        QFETCH(QString, outcome);
        Job launched;
        launched.state = Converting;
        QCOMPARE(describe(jobOutcome(launched, result, policy, cancelling)), outcome);
    }

    void startRefusals() {
        ConversionController controller;
        QSignalSpy started(&controller, &ConversionController::runStarted);
        QCOMPARE(run(controller), "refused: There are no files ready to convert.");

        QVERIFY(
            addAndInspect(controller, {files_->file("notes.pdf", "not a PDF"), pdf("a.pdf", 1)}));
        // No folder, a folder that is gone, and a file.
        for (const fs::path& folder :
             {fs::path(), files_->dir / "missing", files_->dir / "a.pdf"}) {
            ConversionSettings wanted = settings();
            wanted.outputFolder = qpath(folder);
            QCOMPARE(runToEnd(controller, wanted),
                     QStringLiteral("refused: Choose an output folder first."));
        }
        QCOMPARE(started.count(), 0);
        QCOMPARE(states(controller), (States{Unusable, Ready}));

        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QString error;
        QVERIFY(controller.start(settings(), &error));
        QVERIFY(controller.isRunning());
        QVERIFY(!controller.start(settings(), &error));
        QCOMPARE(error, QStringLiteral("A conversion is already running."));
        QCOMPARE(started.count(), 1);
        QCOMPARE(waitForRun(finished), "1 converted, 1 images");

        // The one usable file is done now, and the other cannot be used.
        QCOMPARE(states(controller), (States{Unusable, Done}));
        QCOMPARE(run(controller), "refused: There are no files ready to convert.");
        // The error text is optional.
        QVERIFY(!controller.start(settings()));
    }

    void threeFilesWithASkippedPassword() {
        ConversionController controller;
        QVERIFY(addAndInspect(controller,
                              {pdf("a.pdf", 2), files_->locked("locked.pdf", 3), pdf("c.pdf", 1)}));
        const quint64 a = job(controller, 0).id;
        const quint64 locked = job(controller, 1).id;
        const quint64 c = job(controller, 2).id;
        QCOMPARE(states(controller), (States{Ready, PasswordRequired, Ready}));

        QSignalSpy started(&controller, &ConversionController::runStarted);
        QSignalSpy launched(&controller, &ConversionController::jobStarted);
        QSignalSpy progress(&controller, &ConversionController::jobProgress);
        QSignalSpy finishedJobs(&controller, &ConversionController::jobFinished);
        QSignalSpy asked(&controller, &ConversionController::passwordRequired);
        whenAsked(controller, &ConversionController::passwordRequired, [&controller](quint64 id) {
            QCOMPARE(controller.model()->job(id)->state, PasswordRequired);
            controller.skipFile(id);
        });
        QCOMPARE(run(controller), "2 converted, 1 skipped, 3 images");

        QCOMPARE(argument<int>(started, 0), QList<int>{3});
        QCOMPARE(calls(asked),
                 (QList<QVariantList>{{locked, QStringLiteral("locked.pdf"), false}}));
        // The skipped file is never launched; the others keep their place in the run.
        QCOMPARE(calls(launched), (QList<QVariantList>{{a, 0, 3}, {c, 2, 3}}));
        QCOMPARE(argument<quint64>(finishedJobs, 0), (QList<quint64>{a, c}));
        // Each job reports its total, then every page.
        QCOMPARE(calls(progress),
                 (QList<QVariantList>{{a, 0, 2}, {a, 1, 2}, {a, 2, 2}, {c, 0, 1}, {c, 1, 1}}));

        // Skipping lasts for one run only.
        QCOMPARE(states(controller), (States{Done, PasswordRequired, Done}));
        QCOMPARE(job(controller, 0).pagesDone, 2);
        QCOMPARE(job(controller, 0).outputFiles,
                 qpaths({out("a_page_0001.jpg"), out("a_page_0002.jpg")}));
        QCOMPARE(outNames(),
                 (QStringList{"a_page_0001.jpg", "a_page_0002.jpg", "c_page_0001.jpg"}));
    }

    void wrongThenRightPassword() {
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {files_->locked("locked.pdf", 3)}));
        QSignalSpy asked(&controller, &ConversionController::passwordRequired);
        QList<bool> kept;
        whenAsked(controller, &ConversionController::passwordRequired, [&](quint64 id) {
            controller.providePassword(
                id, asked.count() == 1 ? QStringLiteral("nope") : QStringLiteral("secret"));
            // The job took the password with it; nothing is kept here.
            kept.append(controller.hasStoredPassword(id));
            QCOMPARE(controller.model()->job(id)->state, Converting);
        });
        QCOMPARE(run(controller), "1 converted, 3 images");

        QCOMPARE(argument<bool>(asked, 2), (QList<bool>{false, true}));
        QCOMPARE(kept, (QList<bool>{false, false}));
        QCOMPARE(states(controller), States{Done});
        QCOMPARE(job(controller, 0).pageCount, 3);
    }

    void answersForOtherJobsAreIgnored() {
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {files_->locked("locked.pdf"), pdf("b.pdf", 1)}));
        const quint64 locked = job(controller, 0).id;
        const quint64 other = job(controller, 1).id;
        QSignalSpy asked(&controller, &ConversionController::passwordRequired);
        QSignalSpy launched(&controller, &ConversionController::jobStarted);
        QSignalSpy finished(&controller, &ConversionController::runFinished);

        // Nothing is pending before a run.
        controller.skipFile(locked);
        controller.providePassword(locked, QStringLiteral("secret"));
        QVERIFY(!controller.hasStoredPassword(locked));
        QCOMPARE(states(controller), (States{PasswordRequired, Ready}));

        QVERIFY(controller.start(settings()));
        QCOMPARE(asked.count(), 1);
        QCOMPARE(controller.pendingJob(), locked);
        controller.skipFile(other);
        controller.providePassword(other, QStringLiteral("secret"));
        controller.resolveExisting(locked, Policy::KeepBoth);
        QCOMPARE(controller.pendingJob(), locked);
        QCOMPARE(launched.count(), 0);

        // Cancelling at a prompt ends the run at once, and only once.
        controller.cancel();
        QCOMPARE(finished.count(), 1);
        controller.cancel();
        QCOMPARE(waitForRun(finished), "0 images, stopped");
        QCOMPARE(controller.pendingJob(), quint64{0});
        QVERIFY(!controller.isRunning());
        QCOMPARE(states(controller), (States{PasswordRequired, Ready}));

        // The job of an open prompt is not removed; the removed ones are passed over.
        QSignalSpy again(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(settings()));
        QCOMPARE(controller.pendingJob(), locked);
        controller.clearJobs();
        QCOMPARE(states(controller), States{PasswordRequired});
        controller.skipFile(locked);
        QCOMPARE(again.count(), 1);
        QCOMPARE(waitForRun(again), "1 skipped, 0 images");
    }

    void aFailedPageAndTheZip() {
        // Page 2's time is up before it starts; the other two are written and archived.
        bl::detail::JobHooks hooks;
        hooks.driver.page_deadline = [](std::uint32_t page, Deadline deadline) {
            return page == 2 ? Clock::now() - std::chrono::seconds(1) : deadline;
        };
        ConversionController controller;
        controller.setJobHooks(&hooks);
        QVERIFY(addAndInspect(controller, {pdf("report.pdf", 3)}));
        QCOMPARE(runToEnd(controller, settings(true)), "1 partly, 2 images");

        const Job& report = job(controller, 0);
        QCOMPARE(report.message, "Page 2: Rendering this page took longer than the allowed time.");
        QCOMPARE(report.zipPath, qpath(out("report.zip")));
        QCOMPARE(outNames(),
                 (QStringList{"report.zip", "report_page_0001.jpg", "report_page_0003.jpg"}));
    }

    void removingAllJobsDuringARun() {
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {pdf("a.pdf", 2), pdf("b.pdf", 1), pdf("c.pdf", 1)}));
        QSignalSpy launched(&controller, &ConversionController::jobStarted);
        QSignalSpy finished(&controller, &ConversionController::runFinished);

        QVERIFY(controller.start(settings()));
        controller.clearJobs();
        // The converting job stays.
        QCOMPARE(states(controller), States{Converting});
        QCOMPARE(waitForRun(finished), "1 converted, 2 images");
        QCOMPARE(launched.count(), 1);
        QCOMPARE(states(controller), States{Done});
        QCOMPARE(outNames(), (QStringList{"a_page_0001.jpg", "a_page_0002.jpg"}));

        // Once the run is over the last job can go too.
        controller.clearJobs();
        QCOMPARE(controller.model()->rowCount(), 0);
    }

    void settingsReachTheEngine() {
        ConversionSettings wanted = settings();
        wanted.nameTemplate = QStringLiteral("{original}-{dpi}-{page_number}of{page_count}");
        wanted.dpi = 72.0;
        wanted.pages = QStringLiteral("3");
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {pdf("short.pdf", 2), pdf("r\u00E9sum\u00E9.pdf", 3)}));
        QCOMPARE(runToEnd(controller, wanted), "1 converted, 1 failed, 1 images");
        // A selection that does not fit fails the job with the engine's message; the
        // run goes on with the next file.
        QCOMPARE(states(controller), (States{Failed, Done}));
        QCOMPARE(job(controller, 0).message,
                 QStringLiteral("Page 3 does not exist; the document has 2 pages."));
        QCOMPARE(outNames(), QStringList{"r\u00E9sum\u00E9-72-3of3.jpg"});
        QCOMPARE(job(controller, 1).outputFiles, qpaths({out("r\u00E9sum\u00E9-72-3of3.jpg")}));
    }

    void destroyedDuringARun() {
        auto controller = std::make_unique<ConversionController>();
        QVERIFY(addAndInspect(*controller, {pdf("a.pdf", 20), pdf("b.pdf", 20)}));
        QVERIFY(controller->start(settings()));
        // Cancels the job, waits for it; what it posted dies with the controller.
        controller.reset();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        for (const QString& name : outNames()) {
            QVERIFY2(name.endsWith(QStringLiteral(".jpg")), qPrintable(name));
        }
    }
};

}  // namespace bl::desktop

QTEST_GUILESS_MAIN(bl::desktop::ConversionRunsTest)
#include "conversion_runs_test.moc"
