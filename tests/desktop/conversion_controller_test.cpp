#include "desktop/conversion_controller.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <memory>

#include "engine/pdf_input.h"
#include "tests/support/pdf_writer.h"

namespace bl::desktop {

namespace fs = std::filesystem;

namespace {

// Inspections finish on the pool; their results count once the GUI thread has
// handled them. Generous, for sanitizer builds on a busy machine.
constexpr int kInspectionTimeoutMs = 60000;

QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

}  // namespace

class ConversionControllerTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;

    fs::path goodPdf(const std::string& name, int pages = 2) {
        const fs::path path = *dir_ / name;
        test::write_file(path, test::simple_pdf(pages, 300.0, 400.0));
        return path;
    }

    const Job& onlyJob(const ConversionController& controller) {
        return controller.model()->jobs().first();
    }

  private slots:
    void init() { dir_ = std::make_unique<test::TempDir>(); }
    void cleanup() { dir_.reset(); }

    void inspectionSetsStateAndFacts() {
        const fs::path good = goodPdf("good.pdf", 3);
        const fs::path text = *dir_ / "notes.pdf";
        test::write_file(text, "Just some words, no PDF here.\n");
        const fs::path empty = *dir_ / "empty.pdf";
        test::write_file(empty, "");
        const fs::path locked = *dir_ / "locked.pdf";
        QVERIFY(test::qpdf_encrypt(goodPdf("plain.pdf"), locked, "secret", "owner", 256, true));

        ConversionController controller;
        QSignalSpy checking(&controller, &ConversionController::checkingChanged);
        QCOMPARE(controller.addFiles({qpath(good), qpath(text), qpath(empty), qpath(locked)}), 4);
        QCOMPARE(controller.checkingCount(), 4);
        QCOMPARE(controller.readyCount(), 0);
        for (const Job& job : controller.model()->jobs()) {
            QCOMPARE(job.state, JobState::Checking);
            QCOMPARE(job.pageCount, -1);
        }

        QTRY_COMPARE_WITH_TIMEOUT(controller.checkingCount(), 0, kInspectionTimeoutMs);
        // One "started" for the batch and one "finished" after the last result.
        QCOMPARE(checking.count(), 2);
        QCOMPARE(checking.at(0).at(0).toBool(), true);
        QCOMPARE(checking.at(1).at(0).toBool(), false);

        const QList<Job>& jobs = controller.model()->jobs();
        QCOMPARE(jobs.size(), 4);

        QCOMPARE(jobs[0].state, JobState::Ready);
        QCOMPARE(jobs[0].pageCount, 3);
        QCOMPARE(jobs[0].firstPageSize, QSizeF(300.0, 400.0));
        QCOMPARE(jobs[0].fileName, QStringLiteral("good.pdf"));
        QCOMPARE(jobs[0].sizeBytes, static_cast<qint64>(fs::file_size(good)));

        for (int row : {1, 2}) {
            const fs::path& file = row == 1 ? text : empty;
            const auto expected = inspect_pdf(file, {}, ConvertLimits{});
            QVERIFY(!expected.has_value());
            QCOMPARE(jobs[row].state, JobState::Unusable);
            QCOMPARE(jobs[row].message, QString::fromStdString(expected.error().message));
            const QModelIndex status = controller.model()->index(row, 3);
            QCOMPARE(status.data().toString(), jobs[row].message);
        }

        QCOMPARE(jobs[3].state, JobState::PasswordRequired);
        QCOMPARE(jobs[3].pageCount, -1);
        QVERIFY(jobs[3].message.isEmpty());
        QCOMPARE(controller.model()->index(3, 1).data().toString(), QString::fromUtf8("—"));

        // Ready and password-protected files can run; unusable ones cannot.
        QCOMPARE(controller.readyCount(), 2);
    }

    void onlyExistingRegularFilesAreQueued() {
        const fs::path good = goodPdf("good.pdf");
        const fs::path folder = *dir_ / "folder.pdf";
        fs::create_directory(folder);

        ConversionController controller;
        QSignalSpy checking(&controller, &ConversionController::checkingChanged);
        QCOMPARE(controller.addFiles({qpath(folder), qpath(*dir_ / "missing.pdf"), QString()}), 0);
        QCOMPARE(controller.model()->rowCount(), 0);
        QCOMPARE(checking.count(), 0);

        QCOMPARE(controller.addFiles({qpath(folder), qpath(good)}), 1);
        QCOMPARE(controller.model()->rowCount(), 1);
        QCOMPARE(onlyJob(controller).path, QDir::toNativeSeparators(qpath(good)));
        QVERIFY(QFileInfo(onlyJob(controller).path).isAbsolute());
        QTRY_COMPARE_WITH_TIMEOUT(controller.checkingCount(), 0, kInspectionTimeoutMs);
    }

    void theSameFileIsQueuedOnce() {
        const fs::path good = goodPdf("report.pdf");
        fs::create_directory(*dir_ / "sub");
        fs::create_symlink(good, *dir_ / "link.pdf");

        ConversionController controller;
        QCOMPARE(controller.addFiles({qpath(good), qpath(good)}), 1);
        QCOMPARE(controller.addFiles({qpath(good)}), 0);
        QCOMPARE(controller.addFiles({qpath(*dir_ / "link.pdf")}), 0);
        QCOMPARE(controller.addFiles({qpath(*dir_ / "sub" / ".." / "report.pdf")}), 0);

        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(qpath(dir_->path())));
        const int relative = controller.addFiles({QStringLiteral("report.pdf")});
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(relative, 0);

        QCOMPARE(controller.model()->rowCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(controller.checkingCount(), 0, kInspectionTimeoutMs);
    }

    void aRelativePathIsStoredAbsolute() {
        const fs::path good = goodPdf("report.pdf");
        ConversionController controller;

        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(qpath(dir_->path())));
        const int queued = controller.addFiles({QStringLiteral("./report.pdf")});
        QVERIFY(QDir::setCurrent(previous));

        QCOMPARE(queued, 1);
        QCOMPARE(onlyJob(controller).path, QDir::toNativeSeparators(qpath(good)));
        QCOMPARE(onlyJob(controller).fileName, QStringLiteral("report.pdf"));
        QTRY_COMPARE_WITH_TIMEOUT(controller.checkingCount(), 0, kInspectionTimeoutMs);
        QCOMPARE(onlyJob(controller).state, JobState::Ready);
    }

    void namesDifferingInCaseAreTwoFiles() {
        const fs::path upper = goodPdf("A.pdf");
        const fs::path lower = goodPdf("a.pdf", 1);
        if (test::read_file(upper) == test::read_file(lower)) {
            QSKIP("this file system does not tell names apart by case");
        }

        ConversionController controller;
        QCOMPARE(controller.addFiles({qpath(upper), qpath(lower)}), 2);
        QTRY_COMPARE_WITH_TIMEOUT(controller.checkingCount(), 0, kInspectionTimeoutMs);
        QCOMPARE(controller.model()->jobs()[0].pageCount, 2);
        QCOMPARE(controller.model()->jobs()[1].pageCount, 1);
    }

    void aJobRemovedDuringItsInspection() {
        const fs::path good = goodPdf("good.pdf");
        ConversionController controller;
        QSignalSpy checking(&controller, &ConversionController::checkingChanged);
        QSignalSpy changed(controller.model(), &QAbstractItemModel::dataChanged);

        QCOMPARE(controller.addFiles({qpath(good)}), 1);
        const quint64 id = onlyJob(controller).id;
        // The result cannot have been handled yet: that needs the event loop.
        controller.removeJobs({id});
        QCOMPARE(controller.model()->rowCount(), 0);
        QCOMPARE(controller.checkingCount(), 1);

        QTRY_COMPARE_WITH_TIMEOUT(controller.checkingCount(), 0, kInspectionTimeoutMs);
        QCOMPARE(checking.count(), 2);
        QCOMPARE(checking.at(1).at(0).toBool(), false);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(controller.model()->rowCount(), 0);

        // Adding it again makes a new job that is inspected as usual.
        QCOMPARE(controller.addFiles({qpath(good)}), 1);
        QVERIFY(onlyJob(controller).id > id);
        QTRY_COMPARE_WITH_TIMEOUT(controller.checkingCount(), 0, kInspectionTimeoutMs);
        QCOMPARE(onlyJob(controller).state, JobState::Ready);
    }

    void removeAndClear() {
        ConversionController controller;
        QCOMPARE(controller.addFiles(
                     {qpath(goodPdf("a.pdf")), qpath(goodPdf("b.pdf")), qpath(goodPdf("c.pdf"))}),
                 3);
        const QList<Job> jobs = controller.model()->jobs();

        controller.removeJobs({jobs[1].id, 9999});
        QCOMPARE(controller.model()->rowCount(), 2);
        QCOMPARE(controller.model()->jobs()[0].fileName, QStringLiteral("a.pdf"));
        QCOMPARE(controller.model()->jobs()[1].fileName, QStringLiteral("c.pdf"));

        controller.clearJobs();
        QCOMPARE(controller.model()->rowCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(controller.checkingCount(), 0, kInspectionTimeoutMs);
    }

    void readyCountByState_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("counted");
        QTest::newRow("Checking") << static_cast<int>(JobState::Checking) << 0;
        QTest::newRow("Ready") << static_cast<int>(JobState::Ready) << 1;
        QTest::newRow("PasswordRequired") << static_cast<int>(JobState::PasswordRequired) << 1;
        QTest::newRow("Unusable") << static_cast<int>(JobState::Unusable) << 0;
        QTest::newRow("Converting") << static_cast<int>(JobState::Converting) << 0;
        QTest::newRow("Done") << static_cast<int>(JobState::Done) << 0;
        QTest::newRow("PartlyDone") << static_cast<int>(JobState::PartlyDone) << 1;
        QTest::newRow("Failed") << static_cast<int>(JobState::Failed) << 1;
        QTest::newRow("Cancelled") << static_cast<int>(JobState::Cancelled) << 1;
        QTest::newRow("Skipped") << static_cast<int>(JobState::Skipped) << 0;
    }

    void readyCountByState() {
        QFETCH(int, state);
        QFETCH(int, counted);
        ConversionController controller;
        QCOMPARE(controller.addFiles({qpath(goodPdf("a.pdf")), qpath(goodPdf("b.pdf"))}), 2);
        QTRY_COMPARE_WITH_TIMEOUT(controller.checkingCount(), 0, kInspectionTimeoutMs);
        QCOMPARE(controller.readyCount(), 2);

        Job* job = controller.model()->job(controller.model()->jobs().first().id);
        job->state = static_cast<JobState>(state);
        QCOMPARE(controller.readyCount(), 1 + counted);
    }

    void destroyedWhileInspecting() {
        QStringList files;
        for (int i = 0; i < 8; ++i) {
            files.append(qpath(goodPdf("file" + std::to_string(i) + ".pdf")));
        }
        auto controller = std::make_unique<ConversionController>();
        QCOMPARE(controller->addFiles(files), 8);
        // Waits for every task; results posted meanwhile die with the controller.
        controller.reset();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }
};

}  // namespace bl::desktop

QTEST_GUILESS_MAIN(bl::desktop::ConversionControllerTest)
#include "conversion_controller_test.moc"
