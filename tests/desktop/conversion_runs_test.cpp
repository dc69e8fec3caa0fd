#include <QTimer>

#include <chrono>

#include "bl/live_checks.h"
#include "bl/version.h"
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

    void existingFilesAnswered_data() {
        QTest::addColumn<Policy>("answer");
        QTest::addColumn<QList<int>>("launches");  // the file index of each launch
        QTest::addColumn<QString>("tally");
        QTest::addColumn<QStringList>("names");
        // a_page_0002.jpg and b_page_0001.jpg are there already; the first file is
        // launched again once answered.
        const QString both = QStringLiteral("2 converted, 3 images");
        QTest::newRow("keep both")
            << Policy::KeepBoth << QList<int>{0, 0, 1} << both
            << QStringList{"a_page_0001.jpg", "a_page_0002 (2).jpg", "a_page_0002.jpg",
                           "b_page_0001 (2).jpg", "b_page_0001.jpg"};
        QTest::newRow("replace") << Policy::Replace << QList<int>{0, 0, 1} << both
                                 << QStringList{"a_page_0001.jpg", "a_page_0002.jpg",
                                                "b_page_0001.jpg"};
        // Cancel stops the run before anything is written.
        QTest::newRow("cancel") << Policy::Ask << QList<int>{0} << "0 images, stopped"
                                << QStringList{"a_page_0002.jpg", "b_page_0001.jpg"};
    }

    void existingFilesAnswered() {
        QFETCH(Policy, answer);
        QFETCH(QList<int>, launches);
        QFETCH(QString, tally);
        QFETCH(QStringList, names);
        test::write_file(out("a_page_0002.jpg"), "old");
        test::write_file(out("b_page_0001.jpg"), "old");
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {pdf("a.pdf", 2), pdf("b.pdf", 1)}));
        QSignalSpy found(&controller, &ConversionController::existingFilesFound);
        QSignalSpy launched(&controller, &ConversionController::jobStarted);
        whenAsked(controller, &ConversionController::existingFilesFound,
                  [&controller, answer](quint64 id) {
                      QCOMPARE(controller.model()->job(id)->state, Ready);
                      controller.resolveExisting(id, answer);
                  });
        QCOMPARE(run(controller), tally);

        // Asked once, about the first file; the answer holds for the later one too.
        QCOMPARE(calls(found),
                 (QList<QVariantList>{
                     {job(controller, 0).id,
                      QStringLiteral("\"a_page_0002.jpg\" already exists in the output "
                                     "folder. Choose another folder, or allow overwriting "
                                     "or renaming.")}}));
        QCOMPARE(argument<int>(launched, 1), launches);
        QCOMPARE(outNames(), names);
        const bool replaced = answer == Policy::Replace;
        QCOMPARE(test::read_file(out("a_page_0002.jpg")) == "old", !replaced);
        QCOMPARE(test::read_file(out("b_page_0001.jpg")) == "old", !replaced);
        QCOMPARE(states(controller),
                 answer == Policy::Ask ? (States{Ready, Ready}) : (States{Done, Done}));
        QVERIFY(!controller.isRunning());
    }

    void cancelStopsAfterTheCurrentPage_data() {
        QTest::addColumn<PageGate::Stage>("stage");
        QTest::addColumn<int>("pages");
        QTest::addColumn<JobState>("state");
        QTest::addColumn<QString>("stopped");
        QTest::addColumn<QString>("again");
        // Cancelled while page 2 waits: page 1 stays on disk and is counted.
        QTest::newRow("during a job")
            << PageGate::Stage::Render << 5 << Cancelled << "1 images, stopped"
            << "2 converted, 6 images";
        // The only page is rendered: the engine no longer looks at the token, so
        // the job ends normally and the run stops after it.
        QTest::newRow("after the last page")
            << PageGate::Stage::Encode << 1 << Done << "1 converted, 1 images, stopped"
            << "1 converted, 1 images";
    }

    void cancelStopsAfterTheCurrentPage() {
        QFETCH(PageGate::Stage, stage);
        QFETCH(int, pages);
        QFETCH(JobState, state);
        QFETCH(QString, stopped);
        QFETCH(QString, again);
        PageGate gate(stage, stage == PageGate::Stage::Render ? 2 : 1);
        ConversionController controller;
        controller.setJobHooks(gate.hooks());
        const auto opener = gate.openAtScopeExit();
        QVERIFY(addAndInspect(controller, {pdf("long.pdf", pages), pdf("next.pdf", 1)}));
        QSignalSpy launched(&controller, &ConversionController::jobStarted);
        QSignalSpy finishedJobs(&controller, &ConversionController::jobFinished);
        QSignalSpy finished(&controller, &ConversionController::runFinished);

        QVERIFY(controller.start(settings()));
        QVERIFY(gate.waitUntilReached());
        controller.cancel();
        QVERIFY(controller.isCancelling());
        QVERIFY(controller.isRunning());
        gate.open();
        QCOMPARE(waitForRun(finished), stopped);

        QCOMPARE(states(controller), (States{state, Ready}));
        QCOMPARE(job(controller, 0).pagesDone, 1);
        QCOMPARE(job(controller, 0).outputFiles, qpaths({out("long_page_0001.jpg")}));
        QCOMPARE(outNames(), QStringList{"long_page_0001.jpg"});
        QCOMPARE(launched.count(), 1);
        QCOMPARE(finishedJobs.count(), 1);
        QVERIFY(!controller.isCancelling());

        // A cancelled job runs again, from scratch, in the next run.
        QCOMPARE(runToEnd(controller, settings(false, Policy::Replace)), again);
        QCOMPARE(states(controller), (States{Done, Done}));
        QCOMPARE(job(controller, 0).message, QString());
    }

    void failedPagesAndTheZip_data() {
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QList<uint>>("late");  // pages whose time is up before they start
        QTest::addColumn<JobState>("state");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("tally");
        QTest::addColumn<QStringList>("names");
        const QString failed = QStringLiteral("1 failed, 0 images");
        const QString tooLate =
            QStringLiteral("Rendering this page took longer than the allowed time.");
        // Nothing to archive: no ZIP is attempted.
        QTest::newRow("every page fails") << 10.0 << QList<uint>{1, 2, 3} << Failed
                                          << "Page 1: " + tooLate << failed << QStringList{};
        // The page is refused before anything is rendered.
        const auto tooLarge = page_pixel_size({200.0, 4000.0}, 600.0, ConvertLimits{});
        QVERIFY(!tooLarge);
        QTest::newRow("page too large")
            << 600.0 << QList<uint>{} << Failed
            << "Page 1: " + QString::fromStdString(tooLarge.error().message) << failed
            << QStringList{};
        // The pages that were written are archived.
        QTest::newRow("one page fails")
            << 10.0 << QList<uint>{2} << PartlyDone << "Page 2: " + tooLate << "1 partly, 2 images"
            << QStringList{"report.zip", "report_page_0001.jpg", "report_page_0003.jpg"};
    }

    void failedPagesAndTheZip() {
        QFETCH(double, dpi);
        QFETCH(QList<uint>, late);
        QFETCH(JobState, state);
        QFETCH(QString, message);
        QFETCH(QString, tally);
        QFETCH(QStringList, names);
        bl::detail::JobHooks hooks;
        hooks.driver.page_deadline = [late](std::uint32_t page, Deadline deadline) {
            return late.contains(page) ? Clock::now() - std::chrono::seconds(1) : deadline;
        };
        ConversionSettings wanted = settings(true);
        wanted.dpi = dpi;
        ConversionController controller;
        controller.setJobHooks(&hooks);
        QVERIFY(addAndInspect(controller, {files_->pdf("report.pdf", 3, 200.0, 4000.0)}));
        QCOMPARE(runToEnd(controller, wanted), tally);

        const Job& report = job(controller, 0);
        QCOMPARE(report.state, state);
        QCOMPARE(report.message, message);
        QCOMPARE(report.pagesTotal, 3);
        QCOMPARE(report.pagesDone, names.filter(QStringLiteral(".jpg")).size());
        QCOMPARE(report.zipPath, names.isEmpty() ? QString() : qpath(out("report.zip")));
        QCOMPARE(outNames(), names);
    }

    void zipUnderAskKeepsBoth() {
        test::write_file(out("report.zip"), "old");
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {pdf("report.pdf", 2)}));
        QSignalSpy found(&controller, &ConversionController::existingFilesFound);
        QCOMPARE(runToEnd(controller, settings(true)), "1 converted, 2 images");

        // Only the pages are asked about; the archive never replaces the old one.
        QCOMPARE(found.count(), 0);
        QCOMPARE(job(controller, 0).zipPath, qpath(out("report (2).zip")));
        QCOMPARE(test::read_file(out("report.zip")), std::string("old"));
        QCOMPARE(test::read_file(out("report (2).zip")).substr(0, 4), std::string("PK\x03\x04"));
        QCOMPARE(outNames(), (QStringList{"report (2).zip", "report.zip", "report_page_0001.jpg",
                                          "report_page_0002.jpg"}));
    }

    void zipFailureLeavesThePages() {
        // A folder holds the archive's name, so it cannot be committed under Replace.
        fs::create_directories(out("report.zip") / "inside");
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {pdf("report.pdf", 1)}));
        QCOMPARE(runToEnd(controller, settings(true, Policy::Replace)), "1 partly, 1 images");

        const Job& report = job(controller, 0);
        QCOMPARE(report.state, PartlyDone);
        QVERIFY2(report.message.startsWith(QStringLiteral("ZIP not created: ")),
                 qPrintable(report.message));
        QVERIFY(report.zipPath.isEmpty());
        QCOMPARE(report.outputFiles, qpaths({out("report_page_0001.jpg")}));
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
