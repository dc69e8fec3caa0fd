// The queue model, the outcome of a job, and the controller's inspections and
// runs on its worker threads.
#include <QDir>
#include <QProcess>
#include <QScopeGuard>

#include "bl/inspection.h"
#include "desktop/single_instance.h"
#include "tests/desktop/desktop_test_helpers.h"

namespace bl::desktop {

using namespace test_helpers;
using Policy = ExistingFilePolicy;

namespace {

// A job's result as the engine hands it over: `selected` pages, of which the
// first `written` were written, and then what went wrong.
JobResult ran(std::uint32_t selected, std::uint32_t written, std::uint32_t failedPage = 0,
              ErrorKind stop = ErrorKind::InternalError, const char* message = "") {
    JobResult result;
    ConvertResult& convert = result.convert;
    convert.pages_selected = selected;
    for (std::uint32_t page = 1; page <= written; ++page) {
        PageResult& done = convert.page_results.emplace_back();
        done.page = page;
        done.output_path = "a_" + std::to_string(page) + ".jpg";
        if (page == failedPage) {
            done.output_path.clear();
            done.error = ConvertError{ErrorKind::RenderFailed, message, page};
        }
    }
    convert.pages_written = written - (failedPage != 0 ? 1 : 0);
    convert.pages_failed = failedPage != 0 ? 1 : 0;
    if (failedPage == 0 && stop != ErrorKind::InternalError) {
        convert.error = ConvertError{stop, message, 0};
        convert.cancelled = stop == ErrorKind::Cancelled;
    }
    return result;
}

const Job& job(const ConversionController& controller, int row) {
    return controller.model()->jobs().at(row);
}

}  // namespace

class ControllerTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixtures> files_;

    ConversionSettings settings() const {
        ConversionSettings settings;
        settings.outputFolder = qpath(files_->out);
        return settings;
    }
    fs::path pdf(const std::string& name, int pages = 1) const { return files_->pdf(name, pages); }

  private slots:
    void init() { files_ = std::make_unique<Fixtures>(); }
    void cleanup() { files_.reset(); }

    void model() {
        JobQueueModel model;
        for (const char* name : {"a.pdf", "b.pdf", "c.pdf", "d.pdf"}) {
            Job job;
            job.fileName = QString::fromLatin1(name);
            model.addJob(job);
        }
        // Unknown ids, and the same one twice, change nothing; ids are never reused.
        model.removeJobs({3, 1, 3, 0, 42});
        QCOMPARE(model.index(0, 0).data().toString() + model.index(1, 0).data().toString(),
                 "b.pdfd.pdf");
        QCOMPARE(model.addJob(Job{}), quint64{5});

        const auto size = &JobQueueModel::sizeText;
        QCOMPARE(QStringList({size(1023), size(1024), size((1 << 20) - 1), size(1 << 20),
                              size(3 << 19), size(qint64{11} << 29)})
                     .join(", "),
                 "1023 bytes, 1 KB, 1023 KB, 1.0 MB, 1.5 MB, 5.5 GB");
    }

    void outcome_data() {
        QTest::addColumn<JobResult>("result");
        QTest::addColumn<int>("policy");  // and +10 when a cancel came while the job ran
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char* name, const JobResult& result, const char* outcome,
                            int policy = 0) {
            QTest::newRow(name) << result << policy << QString(outcome);
        };
        using enum ErrorKind;
        row("every page", ran(2, 2), "Done — 2 pages | a_1.jpg a_2.jpg | next | 1/0/0/0, 2 images");
        row("a failed page", ran(3, 3, 2, {}, "Took too long."),
            "Partly done — 2 of 3 pages. Page 2: Took too long. | a_1.jpg a_3.jpg | next | "
            "0/1/0/0, 2 images");
        // The message names the page already; it is not said twice.
        row("the message names the page", ran(1, 1, 1, {}, "Page 1: Too wide."),
            "Failed: Page 1: Too wide. |  | next | 0/0/1/0, 0 images");
        row("password", ran(0, 0, 0, PasswordRequired), "Password required |  | password |");
        row("wrong password", ran(0, 0, 0, WrongPassword),
            "Password required |  | password again |");
        row("existing files", ran(3, 0, 0, OutputExists, "\"x.jpg\" exists."),
            "Ready |  | ask \"x.jpg\" exists. |");
        // Asked once for the run; a clash after that is the job's failure.
        row("existing files, answered", ran(3, 0, 0, OutputExists, "Exists."),
            "Failed: Exists. |  | next | 0/0/1/0, 0 images", static_cast<int>(Policy::KeepBoth));
        // Not counted: the summary says that the run stopped.
        row("cancelled", ran(4, 1, 0, Cancelled, "Cancelled."),
            "Cancelled — 1 of 4 pages saved | a_1.jpg | stop | 0/0/0/0, 1 images");
        // The pages are there all the same.
        JobResult zip = ran(1, 1);
        zip.zip = ZipOutcome{true, std::nullopt, ConvertError{ErrorKind::WriteFailed, "Full.", 0}};
        row("zip failed", zip,
            "Partly done — 1 of 1 pages. ZIP not created: Full. | a_1.jpg | next | 0/1/0/0, 1 "
            "images");
        // A cancel too late for the job still ends the run; whoever cancelled is
        // asked nothing more.
        row("done, cancelling", ran(1, 1), "Done — 1 page | a_1.jpg | stop | 1/0/0/0, 1 images",
            10);
    }

    void outcome() {
        QFETCH(JobResult, result);
        QFETCH(int, policy);
        QFETCH(QString, outcome);
        Job launched;
        launched.state = Converting;
        const JobOutcome out =
            jobOutcome(launched, result, static_cast<Policy>(policy % 10), policy >= 10);
        static const char* const steps[] = {"next", "password", "ask ", "stop"};
        const QString next =
            steps[static_cast<int>(out.next)] + out.question +
            (out.previousAttemptWrong && out.next == JobOutcome::Next::AskPassword ? " again" : "");
        // Only a finished job counts towards the run's totals; for another nothing
        // is shown unless it counts something.
        const QString counts = tally(out.counts);
        const bool shown = out.finished || counts != tally({});
        const QString files = out.job.outputFiles.join(' ');
        QCOMPARE(QStringList(
                     {JobQueueModel().statusText(out.job), files, next, shown ? counts : QString()})
                     .join(" | ")
                     .trimmed(),
                 outcome);
    }

    void queueingAndInspection() {
        const fs::path good = files_->pdf("good.pdf", 3, 300.0, 400.0);
        const fs::path text = files_->file("notes.pdf", "Just some words.\n");
        pdf("GOOD.pdf");  // another file, on a file system that tells case apart
        files_->locked("locked.pdf");
        fs::create_directories(files_->dir / "folder.pdf" / "sub");
        fs::create_symlink(good, files_->dir / "link.pdf");
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(qpath(files_->dir.path())));
        const auto back = qScopeGuard([&previous] { QDir::setCurrent(previous); });

        ConversionController controller;
        // Only existing regular files, each once however it is named.
        QCOMPARE(controller.addFiles({"./good.pdf", "good.pdf", "link.pdf",
                                      "folder.pdf/sub/../../good.pdf", "folder.pdf", "missing.pdf",
                                      "", "notes.pdf", "GOOD.pdf", "locked.pdf"}),
                 4);
        QCOMPARE(states(controller), States(4, Checking));
        // Its result cannot have been handled yet: that needs the event loop.
        controller.removeJobs({job(controller, 2).id});
        QVERIFY(addAndInspect(controller, {}));
        QCOMPARE(states(controller), (States{Ready, Unusable, PasswordRequired}));
        const Job& first = job(controller, 0);
        QCOMPARE(first.path, qpath(good));
        QCOMPARE(first.sizeBytes, static_cast<qint64>(fs::file_size(good)));
        QCOMPARE(job(controller, 1).message,
                 QString::fromStdString(inspect_pdf(text, {}, ConvertLimits{}).error().message));

        // Files that can run: ready, locked, and those a run did not finish.
        QList<int> counted;
        for (const JobState state : {Checking, Ready, PasswordRequired, Unusable, Converting, Done,
                                     PartlyDone, Failed, Cancelled, Skipped}) {
            controller.model()->job(first.id)->state = state;
            counted.append(controller.readyCount() - 1);
        }
        QCOMPARE(counted, (QList<int>{0, 1, 1, 0, 0, 0, 1, 1, 1, 0}));
    }

    void answersOnlyForTheOpenPrompt() {
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {files_->locked("locked.pdf"), pdf("b.pdf")}));
        const quint64 locked = job(controller, 0).id;
        QSignalSpy launched(&controller, &ConversionController::jobStarted);
        QSignalSpy finished(&controller, &ConversionController::runFinished);

        QVERIFY(controller.start(settings()));
        controller.skipFile(job(controller, 1).id);
        controller.providePassword(job(controller, 1).id, QStringLiteral("secret"));
        controller.resolveExisting(locked, Policy::KeepBoth);
        QCOMPARE(controller.pendingJob(), locked);
        QCOMPARE(launched.count(), 0);
        // Cancelling at a prompt ends the run at once, and only once.
        controller.cancel();
        controller.cancel();
        QCOMPARE(waitForRun(finished), "0/0/0/0, 0 images, stopped");
        QCOMPARE(states(controller), (States{PasswordRequired, Ready}));

        // The job of an open prompt is not removed; the right password converts it.
        QSignalSpy again(&controller, &ConversionController::runFinished);
        QVERIFY(controller.start(settings()));
        controller.clearJobs();
        QCOMPARE(states(controller), States{PasswordRequired});
        controller.providePassword(locked, QStringLiteral("secret"));
        QCOMPARE(waitForRun(again), "1/0/0/0, 1 images");
        // Converted again, it needs its password again, which went with the run.
        controller.convertAgain({locked});
        QCOMPARE(states(controller), States{PasswordRequired});
    }

    void removingJobsDuringARun() {
        ConversionSettings wanted = settings();
        wanted.nameTemplate = QStringLiteral("{original}-{dpi}-{page_number}of{page_count}");
        wanted.dpi = 72.0;
        wanted.pages = QStringLiteral("2");
        ConversionController controller;
        QVERIFY(addAndInspect(controller,
                              {pdf("r\u00E9sum\u00E9.pdf", 2), pdf("b.pdf"), pdf("c.pdf")}));
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QSignalSpy ended(&controller, &ConversionController::jobFinished);
        QVERIFY(controller.start(wanted));
        QString error;
        QVERIFY(!controller.start(wanted, &error));
        QCOMPARE(error, "A conversion is already running.");
        controller.removeJobs({job(controller, 2).id, job(controller, 0).id, 9999});
        // The converting job stays.
        QCOMPARE(states(controller), (States{Converting, Ready}));
        controller.clearJobs();
        QCOMPARE(waitForRun(finished), "1/0/0/0, 1 images");
        // Only the job that ran reports its end.
        QCOMPARE(ended.count(), 1);
        QCOMPARE(namesIn(files_->out), QStringList{"r\u00E9sum\u00E9-72-2of2.jpg"});
    }

    void destroyedDuringARun() {
        auto controller = std::make_unique<ConversionController>();
        QVERIFY(addAndInspect(*controller, {pdf("a.pdf", 20)}));
        QVERIFY(controller->start(settings()));
        // Cancels and waits for the job; what it posted dies with the controller.
        controller.reset();
        QCoreApplication::sendPostedEvents();
    }

    // The program itself, started without a display while an instance listens:
    // it hands its files over and ends.
    void secondStartHandsItsFilesOver() {
        Fixtures files;
        const QString runtime = qpath(files.dir / "run");
        QVERIFY(QDir().mkdir(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString socket = runtime + QStringLiteral("/brightleaf.socket");
        files.pdf("a.pdf");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime);
        environment.insert("XDG_CONFIG_HOME", qpath(files.dir / "config"));
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        SingleInstance running(socket);
        QVERIFY(running.listen());
        QSignalSpy handedOver(&running, &SingleInstance::filesHandedOver);
        QProcess second;
        second.setProcessEnvironment(environment);
        second.setWorkingDirectory(qpath(files.dir.path()));
        second.start(QStringLiteral(BL_DESKTOP_EXE), {"a.pdf"});
        QVERIFY(second.waitForStarted());
        // This process answers from its event loop, so wait without blocking it.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, kTimeoutMs);
        QCOMPARE(second.exitStatus() + second.exitCode(), 0);
        // Absolute, since the running window has a working folder of its own.
        QCOMPARE(handedOver, QList<QVariantList>{{QStringList{qpath(files.dir / "a.pdf")}}});
    }
};

}  // namespace bl::desktop

QTEST_GUILESS_MAIN(bl::desktop::ControllerTest)
#include "controller_test.moc"
