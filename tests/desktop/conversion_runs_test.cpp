#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "desktop/conversion_controller.h"
#include "engine/converter.h"
#include "engine/page_render.h"
#include "tests/desktop/desktop_test_helpers.h"
#include "tests/support/pdf_writer.h"

namespace bl::desktop {

namespace fs = std::filesystem;
using test_helpers::kTimeoutMs;
using test_helpers::PageGate;
using test_helpers::qpath;

namespace {

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

RunSummary summaryOf(const QSignalSpy& finished) {
    return finished.at(0).at(0).value<RunSummary>();
}

// Every page's rendering starts with its time already up, so each page fails
// while the job itself goes on.
Deadline expired(std::uint32_t, Deadline) {
    return Clock::now() - std::chrono::seconds(1);
}

}  // namespace

class ConversionRunsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;
    fs::path out_;

    fs::path pdf(const std::string& name, int pages, double width = 200.0, double height = 100.0) {
        const fs::path path = *dir_ / name;
        test::write_file(path, test::simple_pdf(pages, width, height));
        return path;
    }

    fs::path lockedPdf(const std::string& name, int pages) {
        const fs::path plain = *dir_ / ("plain-" + name);
        test::write_file(plain, test::simple_pdf(pages, 200.0, 100.0));
        const fs::path locked = *dir_ / name;
        if (!test::qpdf_encrypt(plain, locked, "secret", "owner", 256, true)) {
            qFatal("qpdf could not encrypt %s", name.c_str());
        }
        fs::remove(plain);
        return locked;
    }

    ConversionSettings settings() const {
        ConversionSettings settings;
        settings.outputFolder = qpath(out_);
        return settings;
    }

    // Queues the files and waits until every one is inspected.
    bool queue(ConversionController& controller, const QList<fs::path>& files) {
        QStringList paths;
        for (const fs::path& file : files) {
            paths.append(qpath(file));
        }
        if (controller.addFiles(paths) != paths.size()) {
            return false;
        }
        return QTest::qWaitFor([&] { return controller.checkingCount() == 0; }, kTimeoutMs);
    }

    const Job& jobAt(const ConversionController& controller, int row) {
        return controller.model()->jobs().at(row);
    }

  private slots:
    void init() {
        dir_ = std::make_unique<test::TempDir>();
        out_ = *dir_ / "out";
        fs::create_directory(out_);
    }
    void cleanup() {
        bl::detail::driver_hooks() = {};
        dir_.reset();
    }

    void startRefusals() {
        ConversionController controller;
        QSignalSpy started(&controller, &ConversionController::runStarted);
        QString error;

        QVERIFY(!controller.start(settings(), &error));
        QCOMPARE(error, QStringLiteral("There are no files ready to convert."));

        test::write_file(*dir_ / "notes.pdf", "not a PDF");
        QVERIFY(queue(controller, {*dir_ / "notes.pdf", pdf("a.pdf", 1)}));

        ConversionSettings noFolder = settings();
        noFolder.outputFolder.clear();
        QVERIFY(!controller.start(noFolder, &error));
        QCOMPARE(error, QStringLiteral("Choose an output folder first."));
        noFolder.outputFolder = qpath(*dir_ / "missing");
        QVERIFY(!controller.start(noFolder, &error));
        QCOMPARE(error, QStringLiteral("Choose an output folder first."));
        // A file is no folder either.
        noFolder.outputFolder = qpath(*dir_ / "a.pdf");
        QVERIFY(!controller.start(noFolder, &error));
        QCOMPARE(error, QStringLiteral("Choose an output folder first."));
        QCOMPARE(started.count(), 0);
        QCOMPARE(jobAt(controller, 1).state, JobState::Ready);

        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(settings(), &error));
        QVERIFY(controller.isRunning());
        QVERIFY(!controller.start(settings(), &error));
        QCOMPARE(error, QStringLiteral("A conversion is already running."));
        QCOMPARE(started.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        // The one usable file is done now, and the other cannot be used.
        QCOMPARE(jobAt(controller, 0).state, JobState::Unusable);
        QCOMPARE(jobAt(controller, 1).state, JobState::Done);
        QVERIFY(!controller.start(settings(), &error));
        QCOMPARE(error, QStringLiteral("There are no files ready to convert."));
        // The error text is optional.
        QVERIFY(!controller.start(settings()));
    }

    void threeFilesWithASkippedPassword() {
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("a.pdf", 2), lockedPdf("locked.pdf", 3), pdf("c.pdf", 1)}));
        const quint64 lockedId = jobAt(controller, 1).id;
        QCOMPARE(jobAt(controller, 1).state, JobState::PasswordRequired);

        QSignalSpy started(&controller, &ConversionController::runStarted);
        QSignalSpy jobs(&controller, &ConversionController::jobStarted);
        QSignalSpy progress(&controller, &ConversionController::jobProgress);
        QSignalSpy finishedJobs(&controller, &ConversionController::jobFinished);
        QSignalSpy asked(&controller, &ConversionController::passwordRequired);
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        // Answered from the event loop, as the window does.
        connect(&controller, &ConversionController::passwordRequired, this,
                [&controller](qulonglong id) {
                    QTimer::singleShot(0, &controller, [&controller, id] {
                        QCOMPARE(controller.model()->job(id)->state, JobState::PasswordRequired);
                        controller.skipFile(id);
                    });
                });

        QVERIFY(controller.start(settings()));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        QCOMPARE(started.count(), 1);
        QCOMPARE(started.at(0).at(0).toInt(), 3);
        QCOMPARE(asked.count(), 1);
        QCOMPARE(asked.at(0).at(0).toULongLong(), lockedId);
        QCOMPARE(asked.at(0).at(1).toString(), QStringLiteral("locked.pdf"));
        QCOMPARE(asked.at(0).at(2).toBool(), false);
        // The skipped file is never launched; the others keep their place in the run.
        QCOMPARE(jobs.count(), 2);
        QCOMPARE(jobs.at(0).at(1).toInt(), 0);
        QCOMPARE(jobs.at(0).at(2).toInt(), 3);
        QCOMPARE(jobs.at(1).at(1).toInt(), 2);
        QCOMPARE(finishedJobs.count(), 2);

        // The first job reports its total, then every page.
        const quint64 firstId = jobAt(controller, 0).id;
        QList<QList<int>> firstProgress;
        for (const QList<QVariant>& event : progress) {
            if (event.at(0).toULongLong() == firstId) {
                firstProgress.append({event.at(1).toInt(), event.at(2).toInt()});
            }
        }
        QCOMPARE(firstProgress, (QList<QList<int>>{{0, 2}, {1, 2}, {2, 2}}));

        const RunSummary summary = summaryOf(finished);
        QCOMPARE(summary.converted, 2);
        QCOMPARE(summary.partlyConverted, 0);
        QCOMPARE(summary.failed, 0);
        QCOMPARE(summary.skipped, 1);
        QCOMPARE(summary.imagesSaved, 3);
        QVERIFY(!summary.stopped);

        QCOMPARE(jobAt(controller, 0).state, JobState::Done);
        QCOMPARE(jobAt(controller, 0).pagesDone, 2);
        QCOMPARE(jobAt(controller, 0).outputFiles,
                 (QStringList{qpath(out_ / "a_page_0001.jpg"), qpath(out_ / "a_page_0002.jpg")}));
        // Skipping lasts for one run only.
        QCOMPARE(jobAt(controller, 1).state, JobState::PasswordRequired);
        QCOMPARE(jobAt(controller, 2).state, JobState::Done);
        QCOMPARE(namesIn(out_),
                 (std::set<std::string>{"a_page_0001.jpg", "a_page_0002.jpg", "c_page_0001.jpg"}));
        QVERIFY(!controller.isRunning());
        QCOMPARE(controller.readyCount(), 1);
    }

    void wrongThenRightPassword() {
        ConversionController controller;
        QVERIFY(queue(controller, {lockedPdf("locked.pdf", 3)}));
        const quint64 id = jobAt(controller, 0).id;

        QList<bool> attempts;
        QList<bool> keptAfterLaunch;
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        connect(&controller, &ConversionController::passwordRequired, this,
                [&](qulonglong asked, const QString&, bool previousAttemptWrong) {
                    attempts.append(previousAttemptWrong);
                    QTimer::singleShot(0, &controller, [&, asked] {
                        const QString password = attempts.size() == 1 ? QStringLiteral("nope")
                                                                      : QStringLiteral("secret");
                        controller.providePassword(asked, password);
                        // The job took the password with it; nothing is kept here.
                        keptAfterLaunch.append(controller.hasStoredPassword(asked));
                        QCOMPARE(controller.model()->job(asked)->state, JobState::Converting);
                    });
                });

        QVERIFY(controller.start(settings()));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        QCOMPARE(attempts, (QList<bool>{false, true}));
        QCOMPARE(keptAfterLaunch, (QList<bool>{false, false}));
        const Job& job = jobAt(controller, 0);
        QCOMPARE(job.id, id);
        QCOMPARE(job.state, JobState::Done);
        QCOMPARE(job.pageCount, 3);
        QCOMPARE(summaryOf(finished).converted, 1);
        QCOMPARE(summaryOf(finished).imagesSaved, 3);
    }

    void answersForOtherJobsAreIgnored() {
        ConversionController controller;
        QVERIFY(queue(controller, {lockedPdf("locked.pdf", 1), pdf("b.pdf", 1)}));
        const quint64 locked = jobAt(controller, 0).id;
        const quint64 other = jobAt(controller, 1).id;
        QSignalSpy asked(&controller, &ConversionController::passwordRequired);
        QSignalSpy jobs(&controller, &ConversionController::jobStarted);

        // Nothing is pending before a run.
        controller.skipFile(locked);
        controller.providePassword(locked, QStringLiteral("secret"));
        QVERIFY(!controller.hasStoredPassword(locked));
        QCOMPARE(jobAt(controller, 0).state, JobState::PasswordRequired);

        QVERIFY(controller.start(settings()));
        QCOMPARE(asked.count(), 1);
        QCOMPARE(controller.pendingJob(), locked);
        controller.skipFile(other);
        controller.providePassword(other, QStringLiteral("secret"));
        controller.resolveExisting(locked, ExistingFilePolicy::KeepBoth);
        QCOMPARE(controller.pendingJob(), locked);
        QCOMPARE(jobs.count(), 0);

        // Cancelling at a prompt ends the run at once.
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        controller.cancel();
        QCOMPARE(finished.count(), 1);
        QVERIFY(summaryOf(finished).stopped);
        QCOMPARE(controller.pendingJob(), quint64{0});
        QVERIFY(!controller.isRunning());
        QCOMPARE(jobAt(controller, 0).state, JobState::PasswordRequired);
        QCOMPARE(jobAt(controller, 1).state, JobState::Ready);
        controller.cancel();
        QCOMPARE(finished.count(), 1);
    }

    void existingFilesAnswered_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("keep both")
            << static_cast<int>(ExistingFilePolicy::KeepBoth)
            << QStringList{"a_page_0001 (2).jpg", "a_page_0001.jpg", "a_page_0002.jpg",
                           "b_page_0001 (2).jpg", "b_page_0001.jpg"};
        QTest::newRow("replace") << static_cast<int>(ExistingFilePolicy::Replace)
                                 << QStringList{"a_page_0001.jpg", "a_page_0002.jpg",
                                                "b_page_0001.jpg"};
    }

    void existingFilesAnswered() {
        QFETCH(int, answer);
        QFETCH(QStringList, expected);
        test::write_file(out_ / "a_page_0001.jpg", "old");
        test::write_file(out_ / "b_page_0001.jpg", "old");
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("a.pdf", 2), pdf("b.pdf", 1)}));
        const quint64 first = jobAt(controller, 0).id;

        QSignalSpy found(&controller, &ConversionController::existingFilesFound);
        QSignalSpy jobs(&controller, &ConversionController::jobStarted);
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        connect(&controller, &ConversionController::existingFilesFound, this, [&](qulonglong id) {
            QTimer::singleShot(0, &controller, [&, id] {
                QCOMPARE(controller.model()->job(id)->state, JobState::Ready);
                controller.resolveExisting(id, static_cast<ExistingFilePolicy>(answer));
            });
        });

        QVERIFY(controller.start(settings()));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        // Asked once; the answer holds for the later file as well.
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).toULongLong(), first);
        QCOMPARE(found.at(0).at(1).toString(),
                 QStringLiteral("\"a_page_0001.jpg\" already exists in the output folder. Choose "
                                "another folder, or allow overwriting or renaming."));
        // The first job was launched twice, the second once.
        QCOMPARE(jobs.count(), 3);
        QCOMPARE(jobs.at(0).at(1).toInt(), 0);
        QCOMPARE(jobs.at(1).at(1).toInt(), 0);
        QCOMPARE(jobs.at(2).at(1).toInt(), 1);

        const RunSummary summary = summaryOf(finished);
        QCOMPARE(summary.converted, 2);
        QCOMPARE(summary.imagesSaved, 3);
        QVERIFY(!summary.stopped);
        QStringList names;
        for (const std::string& name : namesIn(out_)) {
            names.append(QString::fromStdString(name));
        }
        QCOMPARE(names, expected);
        const bool replaced = answer == static_cast<int>(ExistingFilePolicy::Replace);
        QCOMPARE(test::read_file(out_ / "a_page_0001.jpg") == "old", !replaced);
        QCOMPARE(test::read_file(out_ / "b_page_0001.jpg") == "old", !replaced);
    }

    void existingFilesCancelStopsTheRun() {
        test::write_file(out_ / "a_page_0002.jpg", "old");
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("a.pdf", 2), pdf("b.pdf", 1)}));
        QSignalSpy jobs(&controller, &ConversionController::jobStarted);
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        connect(&controller, &ConversionController::existingFilesFound, this, [&](qulonglong id) {
            QTimer::singleShot(0, &controller, [&, id] {
                controller.resolveExisting(id, ExistingFilePolicy::Ask);
            });
        });

        QVERIFY(controller.start(settings()));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        const RunSummary summary = summaryOf(finished);
        QVERIFY(summary.stopped);
        QCOMPARE(summary.converted + summary.partlyConverted + summary.failed, 0);
        QCOMPARE(summary.imagesSaved, 0);
        QCOMPARE(jobs.count(), 1);
        QCOMPARE(jobAt(controller, 0).state, JobState::Ready);
        QCOMPARE(jobAt(controller, 1).state, JobState::Ready);
        QCOMPARE(namesIn(out_), std::set<std::string>{"a_page_0002.jpg"});
        QVERIFY(!controller.isRunning());
    }

    void cancelDuringAJob() {
        PageGate gate(PageGate::Stage::Render, 2);
        ConversionController controller;
        const auto opener = gate.openAtScopeExit();
        QVERIFY(queue(controller, {pdf("long.pdf", 5), pdf("next.pdf", 1)}));
        QSignalSpy jobs(&controller, &ConversionController::jobStarted);
        QSignalSpy finishedJobs(&controller, &ConversionController::jobFinished);
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        // Page 2 waits at the gate until the cancel is in.
        const QMetaObject::Connection canceller = connect(
            &controller, &ConversionController::jobProgress, this, [&](qulonglong, int pagesDone) {
                if (pagesDone == 1 && !controller.isCancelling()) {
                    controller.cancel();
                    QVERIFY(controller.isCancelling());
                    QVERIFY(controller.isRunning());
                    gate.open();
                }
            });

        QVERIFY(controller.start(settings()));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        const RunSummary summary = summaryOf(finished);
        QVERIFY(summary.stopped);
        QCOMPARE(summary.converted + summary.partlyConverted + summary.failed, 0);
        // The page finished before the cancel stays on disk and is counted.
        QCOMPARE(summary.imagesSaved, 1);
        QCOMPARE(jobAt(controller, 0).state, JobState::Cancelled);
        QCOMPARE(jobAt(controller, 0).pagesDone, 1);
        QCOMPARE(jobAt(controller, 0).outputFiles, QStringList{qpath(out_ / "long_page_0001.jpg")});
        QCOMPARE(finishedJobs.count(), 1);
        QCOMPARE(jobs.count(), 1);
        QCOMPARE(jobAt(controller, 1).state, JobState::Ready);
        QCOMPARE(namesIn(out_), std::set<std::string>{"long_page_0001.jpg"});
        QVERIFY(!controller.isCancelling());

        // A cancelled job runs again, from scratch, in the next run.
        disconnect(canceller);
        QSignalSpy again(&controller, &ConversionController::runFinished);
        ConversionSettings replace = settings();
        replace.onExists = ExistingFilePolicy::Replace;
        QVERIFY(controller.start(replace));
        QTRY_COMPARE_WITH_TIMEOUT(again.count(), 1, kTimeoutMs);
        QCOMPARE(jobAt(controller, 0).message, QString());
        QCOMPARE(jobAt(controller, 1).message, QString());
        QCOMPARE(summaryOf(again).converted, 2);
        QCOMPARE(summaryOf(again).imagesSaved, 6);
        QCOMPARE(jobAt(controller, 0).state, JobState::Done);
    }

    void cancelAfterTheLastPageKeepsTheResult() {
        PageGate gate(PageGate::Stage::Encode, 1);
        ConversionController controller;
        const auto opener = gate.openAtScopeExit();
        QVERIFY(queue(controller, {pdf("one.pdf", 1), pdf("next.pdf", 1)}));
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(settings()));
        // The only page is rendered: the engine no longer looks at the token, so
        // the job ends normally and the run stops after it.
        QVERIFY(gate.waitUntilReached());
        controller.cancel();
        gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);
        QVERIFY(summaryOf(finished).stopped);
        QCOMPARE(summaryOf(finished).converted, 1);
        QCOMPARE(summaryOf(finished).imagesSaved, 1);
        QCOMPARE(jobAt(controller, 0).state, JobState::Done);
        QCOMPARE(jobAt(controller, 1).state, JobState::Ready);
    }

    void noZipWhenNoPageWasWritten_data() {
        QTest::addColumn<bool>("everyPageFails");
        QTest::newRow("every page fails") << true;
        QTest::newRow("page too large") << false;
    }

    void noZipWhenNoPageWasWritten() {
        QFETCH(bool, everyPageFails);
        const PageSize tall{200.0, 4000.0};
        ConversionSettings wanted = settings();
        wanted.createZip = true;
        QString message;
        if (everyPageFails) {
            bl::detail::driver_hooks().page_deadline = &expired;
            wanted.dpi = 10.0;
            message =
                QStringLiteral("Page 1: Rendering this page took longer than the allowed time.");
        } else {
            // The page is refused before anything is rendered.
            wanted.dpi = 600.0;
            const auto size = page_pixel_size(tall, wanted.dpi, ConvertLimits{});
            QVERIFY(!size.has_value());
            message = QStringLiteral("Page 1: ") + QString::fromStdString(size.error().message);
        }
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("report.pdf", 3, tall.width, tall.height)}));
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(wanted));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        const Job& job = jobAt(controller, 0);
        QCOMPARE(job.state, JobState::Failed);
        QCOMPARE(job.message, message);
        QVERIFY(job.zipPath.isEmpty());
        QCOMPARE(namesIn(out_), std::set<std::string>{});
        const RunSummary summary = summaryOf(finished);
        QCOMPARE(summary.failed, 1);
        QCOMPARE(summary.partlyConverted, 0);
        QCOMPARE(summary.imagesSaved, 0);
    }

    void someFailedPagesMakeAPartlyDoneJob() {
        // Page 2 of 3 runs out of time.
        bl::detail::driver_hooks().page_deadline = [](std::uint32_t page, Deadline deadline) {
            return page == 2 ? Clock::now() - std::chrono::seconds(1) : deadline;
        };
        ConversionSettings wanted = settings();
        wanted.createZip = true;
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("report.pdf", 3)}));
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(wanted));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        const Job& job = jobAt(controller, 0);
        QCOMPARE(job.state, JobState::PartlyDone);
        QCOMPARE(job.message,
                 QStringLiteral("Page 2: Rendering this page took longer than the allowed time."));
        QCOMPARE(job.pagesDone, 2);
        QCOMPARE(job.pagesTotal, 3);
        // The pages that were written are archived.
        QCOMPARE(job.zipPath, qpath(out_ / "report.zip"));
        QCOMPARE(namesIn(out_), (std::set<std::string>{"report.zip", "report_page_0001.jpg",
                                                       "report_page_0003.jpg"}));
        QCOMPARE(summaryOf(finished).partlyConverted, 1);
        QCOMPARE(summaryOf(finished).imagesSaved, 2);
    }

    void zipUnderAskKeepsBoth() {
        test::write_file(out_ / "report.zip", "old");
        ConversionSettings wanted = settings();
        wanted.createZip = true;
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("report.pdf", 2)}));
        QSignalSpy found(&controller, &ConversionController::existingFilesFound);
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(wanted));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        // Only the pages are asked about; the archive never replaces the old one.
        QCOMPARE(found.count(), 0);
        const Job& job = jobAt(controller, 0);
        QCOMPARE(job.state, JobState::Done);
        QCOMPARE(job.zipPath, qpath(out_ / "report (2).zip"));
        QCOMPARE(test::read_file(out_ / "report.zip"), std::string("old"));
        QCOMPARE(test::read_file(out_ / "report (2).zip").substr(0, 4), std::string("PK\x03\x04"));
        QCOMPARE(namesIn(out_),
                 (std::set<std::string>{"report (2).zip", "report.zip", "report_page_0001.jpg",
                                        "report_page_0002.jpg"}));
    }

    void zipFailureLeavesThePages() {
        // A folder already holds the archive's name, so the archive cannot be
        // committed under Replace.
        fs::create_directory(out_ / "report.zip");
        fs::create_directory(out_ / "report.zip" / "inside");
        ConversionSettings wanted = settings();
        wanted.createZip = true;
        wanted.onExists = ExistingFilePolicy::Replace;
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("report.pdf", 1)}));
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(wanted));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        const Job& job = jobAt(controller, 0);
        QCOMPARE(job.state, JobState::PartlyDone);
        QVERIFY2(job.message.startsWith(QStringLiteral("ZIP not created: ")),
                 qPrintable(job.message));
        QVERIFY(job.zipPath.isEmpty());
        QCOMPARE(job.outputFiles, QStringList{qpath(out_ / "report_page_0001.jpg")});
        QCOMPARE(summaryOf(finished).partlyConverted, 1);
        QCOMPARE(summaryOf(finished).imagesSaved, 1);
    }

    void removingAllJobsDuringARun() {
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("a.pdf", 2), pdf("b.pdf", 1), pdf("c.pdf", 1)}));
        const quint64 first = jobAt(controller, 0).id;
        QSignalSpy jobs(&controller, &ConversionController::jobStarted);
        QSignalSpy finished(&controller, &ConversionController::runFinished);

        QVERIFY(controller.start(settings()));
        QCOMPARE(jobAt(controller, 0).state, JobState::Converting);
        controller.clearJobs();
        // The converting job stays.
        QCOMPARE(controller.model()->rowCount(), 1);
        QCOMPARE(jobAt(controller, 0).id, first);

        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);
        QCOMPARE(jobs.count(), 1);
        const RunSummary summary = summaryOf(finished);
        QCOMPARE(summary.converted, 1);
        QCOMPARE(summary.imagesSaved, 2);
        QVERIFY(!summary.stopped);
        QCOMPARE(jobAt(controller, 0).state, JobState::Done);
        QCOMPARE(namesIn(out_), (std::set<std::string>{"a_page_0001.jpg", "a_page_0002.jpg"}));

        // Once the run is over the last job can go too.
        controller.clearJobs();
        QCOMPARE(controller.model()->rowCount(), 0);
    }

    void theJobOfAnOpenPromptIsKept() {
        ConversionController controller;
        QVERIFY(queue(controller, {lockedPdf("locked.pdf", 1), pdf("b.pdf", 1)}));
        QVERIFY(controller.start(settings()));
        const quint64 locked = jobAt(controller, 0).id;
        QCOMPARE(controller.pendingJob(), locked);
        controller.clearJobs();
        QCOMPARE(controller.model()->rowCount(), 1);
        QCOMPARE(jobAt(controller, 0).id, locked);

        QSignalSpy finished(&controller, &ConversionController::runFinished);
        controller.skipFile(locked);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(summaryOf(finished).skipped, 1);
        QVERIFY(!summaryOf(finished).stopped);
    }

    void failedJobMessages() {
        // A job whose selection does not fit fails with the engine's message; the
        // run goes on with the next file.
        ConversionSettings wanted = settings();
        wanted.pages = QStringLiteral("3");
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("short.pdf", 2), pdf("long.pdf", 3)}));
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(wanted));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        QCOMPARE(jobAt(controller, 0).state, JobState::Failed);
        QCOMPARE(jobAt(controller, 0).message,
                 QStringLiteral("Page 3 does not exist; the document has 2 pages."));
        QCOMPARE(jobAt(controller, 1).state, JobState::Done);
        QCOMPARE(namesIn(out_), std::set<std::string>{"long_page_0003.jpg"});
        const RunSummary summary = summaryOf(finished);
        QCOMPARE(summary.converted, 1);
        QCOMPARE(summary.failed, 1);
        QCOMPARE(summary.imagesSaved, 1);
    }

    void settingsReachTheEngine() {
        ConversionSettings wanted = settings();
        wanted.nameTemplate = QStringLiteral("{original}-{dpi}-{page_number}of{page_count}");
        wanted.dpi = 72.0;
        wanted.pages = QStringLiteral("2-");
        ConversionController controller;
        QVERIFY(queue(controller, {pdf("r\u00E9sum\u00E9.pdf", 3)}));
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(wanted));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);
        QCOMPARE(namesIn(out_), (std::set<std::string>{"r\u00E9sum\u00E9-72-2of3.jpg",
                                                       "r\u00E9sum\u00E9-72-3of3.jpg"}));
        QCOMPARE(jobAt(controller, 0).outputFiles,
                 (QStringList{qpath(out_ / "r\u00E9sum\u00E9-72-2of3.jpg"),
                              qpath(out_ / "r\u00E9sum\u00E9-72-3of3.jpg")}));
    }

    void destroyedDuringARun() {
        auto controller = std::make_unique<ConversionController>();
        QVERIFY(queue(*controller, {pdf("a.pdf", 20), pdf("b.pdf", 20)}));
        QVERIFY(controller->start(settings()));
        // Cancels the job, waits for it; what it posted dies with the controller.
        controller.reset();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        for (const auto& entry : fs::directory_iterator(out_)) {
            QVERIFY2(entry.path().extension() == ".jpg", entry.path().c_str());
        }
    }
};

}  // namespace bl::desktop

QTEST_GUILESS_MAIN(bl::desktop::ConversionRunsTest)
#include "conversion_runs_test.moc"
