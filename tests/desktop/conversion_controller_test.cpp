#include "desktop/conversion_controller.h"

#include <QDir>
#include <QFileInfo>

#include "bl/inspection.h"
#include "engine/pdf_input.h"
#include "tests/desktop/desktop_test_helpers.h"

namespace bl::desktop {

using namespace test_helpers;
using enum JobState;

namespace {

// Adds a path relative to `folder`, as if the program had been started there.
int addFrom(ConversionController& controller, const fs::path& folder, const QString& relative) {
    const QString previous = QDir::currentPath();
    if (!QDir::setCurrent(qpath(folder))) {
        return -1;
    }
    const int queued = controller.addFiles({relative});
    return QDir::setCurrent(previous) ? queued : -1;
}

}  // namespace

class ConversionControllerTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixtures> files_;

    fs::path pdf(const std::string& name, int pages = 2) const {
        return files_->pdf(name, pages, 300.0, 400.0);
    }

  private slots:
    void init() { files_ = std::make_unique<Fixtures>(); }
    void cleanup() { files_.reset(); }

    void inspectionSetsStateAndFacts() {
        const fs::path good = pdf("good.pdf", 3);
        const fs::path text = files_->file("notes.pdf", "Just some words, no PDF here.\n");
        const fs::path empty = files_->file("empty.pdf", "");
        ConversionController controller;
        QSignalSpy checking(&controller, &ConversionController::checkingChanged);
        QCOMPARE(controller.addFiles(qpaths({good, text, empty, files_->locked("locked.pdf")})), 4);
        QCOMPARE(controller.checkingCount(), 4);
        QCOMPARE(controller.readyCount(), 0);
        QCOMPARE(states(controller), (QList<JobState>{Checking, Checking, Checking, Checking}));

        QVERIFY(inspected(controller));
        // One "started" for the batch and one "finished" after the last result.
        QCOMPARE(argument<bool>(checking, 0), (QList<bool>{true, false}));
        QCOMPARE(states(controller),
                 (QList<JobState>{Ready, Unusable, Unusable, PasswordRequired}));

        const QList<Job>& jobs = controller.model()->jobs();
        QCOMPARE(jobs[0].pageCount, 3);
        QCOMPARE(jobs[0].firstPageSize, QSizeF(300.0, 400.0));
        QCOMPARE(jobs[0].fileName, QStringLiteral("good.pdf"));
        QCOMPARE(jobs[0].sizeBytes, static_cast<qint64>(fs::file_size(good)));
        for (int row : {1, 2}) {
            const auto expected = inspect_pdf(row == 1 ? text : empty, {}, ConvertLimits{});
            QVERIFY(!expected.has_value());
            QCOMPARE(jobs[row].message, QString::fromStdString(expected.error().message));
            QCOMPARE(controller.model()->index(row, 3).data().toString(), jobs[row].message);
        }
        QCOMPARE(jobs[3].pageCount, -1);
        QVERIFY(jobs[3].message.isEmpty());
        QCOMPARE(controller.model()->index(3, 1).data().toString(), QString::fromUtf8("—"));

        // Ready and password-protected files can run; unusable ones cannot.
        QCOMPARE(controller.readyCount(), 2);
    }

    void onlyExistingRegularFilesAreQueued() {
        const fs::path good = pdf("good.pdf");
        const fs::path folder = files_->dir / "folder.pdf";
        fs::create_directory(folder);

        ConversionController controller;
        QSignalSpy checking(&controller, &ConversionController::checkingChanged);
        QCOMPARE(
            controller.addFiles({qpath(folder), qpath(files_->dir / "missing.pdf"), QString()}), 0);
        QCOMPARE(controller.model()->rowCount(), 0);
        QCOMPARE(checking.count(), 0);

        QCOMPARE(controller.addFiles(qpaths({folder, good})), 1);
        QCOMPARE(controller.model()->rowCount(), 1);
        QCOMPARE(controller.model()->jobs().first().path, QDir::toNativeSeparators(qpath(good)));
        QVERIFY(inspected(controller));
    }

    void theSameFileIsQueuedOnce() {
        const fs::path good = pdf("report.pdf");
        fs::create_directory(files_->dir / "sub");
        fs::create_symlink(good, files_->dir / "link.pdf");

        ConversionController controller;
        QCOMPARE(controller.addFiles(qpaths({good, good})), 1);
        for (const fs::path& again :
             {good, files_->dir / "link.pdf", files_->dir / "sub/../report.pdf"}) {
            QCOMPARE(controller.addFiles({qpath(again)}), 0);
        }
        QCOMPARE(addFrom(controller, files_->dir.path(), QStringLiteral("report.pdf")), 0);
        QCOMPARE(controller.model()->rowCount(), 1);
        QVERIFY(inspected(controller));
    }

    void aRelativePathIsStoredAbsolute() {
        const fs::path good = pdf("report.pdf");
        ConversionController controller;
        QCOMPARE(addFrom(controller, files_->dir.path(), QStringLiteral("./report.pdf")), 1);
        const Job& job = controller.model()->jobs().first();
        QCOMPARE(job.path, QDir::toNativeSeparators(qpath(good)));
        QVERIFY(QFileInfo(job.path).isAbsolute());
        QCOMPARE(job.fileName, QStringLiteral("report.pdf"));
        QVERIFY(inspected(controller));
        QCOMPARE(states(controller), QList<JobState>{Ready});
    }

    void namesDifferingInCaseAreTwoFiles() {
        const fs::path upper = pdf("A.pdf");
        const fs::path lower = pdf("a.pdf", 1);
        if (test::read_file(upper) == test::read_file(lower)) {
            QSKIP("this file system does not tell names apart by case");
        }
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {upper, lower}));
        QCOMPARE(controller.model()->jobs()[0].pageCount, 2);
        QCOMPARE(controller.model()->jobs()[1].pageCount, 1);
    }

    void aJobRemovedDuringItsInspection() {
        const fs::path good = pdf("good.pdf");
        ConversionController controller;
        QSignalSpy checking(&controller, &ConversionController::checkingChanged);
        QSignalSpy changed(controller.model(), &QAbstractItemModel::dataChanged);

        QCOMPARE(controller.addFiles({qpath(good)}), 1);
        const quint64 id = controller.model()->jobs().first().id;
        // The result cannot have been handled yet: that needs the event loop.
        controller.removeJobs({id});
        QCOMPARE(controller.model()->rowCount(), 0);
        QCOMPARE(controller.checkingCount(), 1);

        QVERIFY(inspected(controller));
        QCOMPARE(argument<bool>(checking, 0), (QList<bool>{true, false}));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(controller.model()->rowCount(), 0);

        // Adding it again makes a new job that is inspected as usual.
        QVERIFY(addAndInspect(controller, {good}));
        QVERIFY(controller.model()->jobs().first().id > id);
        QCOMPARE(states(controller), QList<JobState>{Ready});
    }

    void removeAndClear() {
        ConversionController controller;
        QCOMPARE(controller.addFiles(qpaths({pdf("a.pdf"), pdf("b.pdf"), pdf("c.pdf")})), 3);
        controller.removeJobs({controller.model()->jobs()[1].id, 9999});
        QCOMPARE(controller.model()->rowCount(), 2);
        QCOMPARE(controller.model()->jobs()[0].fileName, QStringLiteral("a.pdf"));
        QCOMPARE(controller.model()->jobs()[1].fileName, QStringLiteral("c.pdf"));

        controller.clearJobs();
        QCOMPARE(controller.model()->rowCount(), 0);
        QVERIFY(inspected(controller));
    }

    void readyCountByState_data() {
        QTest::addColumn<JobState>("state");
        QTest::addColumn<int>("counted");
        QTest::newRow("Checking") << Checking << 0;
        QTest::newRow("Ready") << Ready << 1;
        QTest::newRow("PasswordRequired") << PasswordRequired << 1;
        QTest::newRow("Unusable") << Unusable << 0;
        QTest::newRow("Converting") << Converting << 0;
        QTest::newRow("Done") << Done << 0;
        QTest::newRow("PartlyDone") << PartlyDone << 1;
        QTest::newRow("Failed") << Failed << 1;
        QTest::newRow("Cancelled") << Cancelled << 1;
        QTest::newRow("Skipped") << Skipped << 0;
    }

    void readyCountByState() {
        QFETCH(JobState, state);
        QFETCH(int, counted);
        ConversionController controller;
        QVERIFY(addAndInspect(controller, {pdf("a.pdf"), pdf("b.pdf")}));
        QCOMPARE(controller.readyCount(), 2);
        controller.model()->job(controller.model()->jobs().first().id)->state = state;
        QCOMPARE(controller.readyCount(), 1 + counted);
    }

    void destroyedWhileInspecting() {
        QList<fs::path> paths;
        for (int i = 0; i < 8; ++i) {
            paths.append(pdf("file" + std::to_string(i) + ".pdf"));
        }
        auto controller = std::make_unique<ConversionController>();
        QCOMPARE(controller->addFiles(qpaths(paths)), 8);
        // Waits for every task; results posted meanwhile die with the controller.
        controller.reset();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }
};

}  // namespace bl::desktop

QTEST_GUILESS_MAIN(bl::desktop::ConversionControllerTest)
#include "conversion_controller_test.moc"
