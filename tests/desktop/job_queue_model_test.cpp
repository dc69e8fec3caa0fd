#include "desktop/job_queue_model.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace bl::desktop {

using enum JobState;

class JobQueueModelTest : public QObject {
    Q_OBJECT

  private:
    JobQueueModel* model_ = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester_;

    quint64 add(const QString& name, qint64 size = 0) {
        Job job;
        job.path = QStringLiteral("/documents/") + name;
        job.fileName = name;
        job.sizeBytes = size;
        return model_->addJob(job);
    }

    QVariant cell(int row, int column, int role = Qt::DisplayRole) const {
        return model_->data(model_->index(row, column), role);
    }

  private slots:
    void init() {
        model_ = new JobQueueModel;
        tester_ = std::make_unique<QAbstractItemModelTester>(
            model_, QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void cleanup() {
        tester_.reset();
        delete model_;
        model_ = nullptr;
    }

    void emptyQueueStillHasHeaders() {
        QCOMPARE(model_->rowCount(), 0);
        QCOMPARE(model_->columnCount(), 4);
        const QStringList expected{"File", "Pages", "Size", "Status"};
        for (int section = 0; section < 4; ++section) {
            QCOMPARE(model_->headerData(section, Qt::Horizontal).toString(), expected.at(section));
            QVERIFY(!model_->headerData(section, Qt::Horizontal, Qt::ToolTipRole).isValid());
            QVERIFY(!model_->headerData(section, Qt::Vertical).isValid());
        }
        QVERIFY(!model_->headerData(4, Qt::Horizontal).isValid());
        QVERIFY(!model_->data(QModelIndex()).isValid());
    }

    void statusTexts_data() {
        QTest::addColumn<JobState>("state");
        QTest::addColumn<int>("pagesDone");
        QTest::addColumn<int>("pagesTotal");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, JobState state, int done, int total,
                            const QString& message, const QString& expected) {
            QTest::newRow(name) << state << done << total << message << expected;
        };
        const QString problem = QStringLiteral("The PDF is damaged or not a valid PDF document.");
        row("checking", Checking, 0, 0, "", "Checking…");
        row("ready", Ready, 0, 0, "", "Ready");
        row("password", PasswordRequired, 0, 0, "", "Password required");
        row("unusable shows the message", Unusable, 0, 0, problem, problem);
        row("converting before the total", Converting, 0, 0, "", "Converting…");
        row("converting with a total", Converting, 0, 12, "", "Converting 0 of 12");
        row("converting midway", Converting, 7, 12, "", "Converting 7 of 12");
        row("done, one page", Done, 1, 1, "", "Done — 1 page");
        row("done, no pages", Done, 0, 0, "", "Done — 0 pages");
        row("done, many pages", Done, 5, 5, "", "Done — 5 pages");
        row("partly done", PartlyDone, 3, 5, "Page 4: The page could not be rendered.",
            "Partly done — 3 of 5 pages. Page 4: The page could not be rendered.");
        row("partly done, percent in the message", PartlyDone, 1, 2, "100%1 odd %2",
            "Partly done — 1 of 2 pages. 100%1 odd %2");
        row("failed", Failed, 0, 3, problem, "Failed: " + problem);
        // Pages written before the cancel are on disk and the row says so.
        row("cancelled part-way", Cancelled, 62, 113, "", "Cancelled — 62 of 113 pages saved");
        row("cancelled before a page", Cancelled, 0, 113, "", "Cancelled");
        row("skipped", Skipped, 0, 0, "", "Skipped");
        row("unknown state", static_cast<JobState>(99), 0, 0, "", "");
    }

    void statusTexts() {
        QFETCH(JobState, state);
        QFETCH(int, pagesDone);
        QFETCH(int, pagesTotal);
        QFETCH(QString, message);
        QFETCH(QString, expected);

        const quint64 id = add(QStringLiteral("report.pdf"));
        Job* job = model_->job(id);
        QVERIFY(job != nullptr);
        job->state = state;
        job->pagesDone = pagesDone;
        job->pagesTotal = pagesTotal;
        job->message = message;
        model_->jobChanged(id);

        for (const int role : {Qt::DisplayRole, Qt::AccessibleTextRole, Qt::ToolTipRole}) {
            QCOMPARE(cell(0, 3, role).toString(), expected);
        }
    }

    void sizeTexts_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing") << qint64{0} << "0 bytes";
        QTest::newRow("just below a KB") << qint64{1023} << "1023 bytes";
        QTest::newRow("one KB") << qint64{1024} << "1 KB";
        QTest::newRow("KB truncated") << qint64{1536} << "1 KB";
        QTest::newRow("just below a MB") << qint64{(1 << 20) - 1} << "1023 KB";
        QTest::newRow("one MB") << qint64{1 << 20} << "1.0 MB";
        QTest::newRow("one and a half MB") << qint64{3 << 19} << "1.5 MB";
        QTest::newRow("one GB") << qint64{1} * (1 << 30) << "1.0 GB";
        QTest::newRow("many GB") << qint64{5} * (1 << 30) + (1 << 29) << "5.5 GB";
    }

    void sizeTexts() {
        QFETCH(qint64, bytes);
        QFETCH(QString, expected);
        add(QStringLiteral("report.pdf"), bytes);
        QCOMPARE(cell(0, 2).toString(), expected);
        QCOMPARE(cell(0, 2, Qt::AccessibleTextRole).toString(), expected);
    }

    void columnsByRole() {
        const quint64 id = add(QStringLiteral("report.pdf"), 2048);
        const auto rightAligned = static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);

        QCOMPARE(cell(0, 0).toString(), QStringLiteral("report.pdf"));
        QCOMPARE(cell(0, 0, Qt::ToolTipRole).toString(), QStringLiteral("/documents/report.pdf"));
        QVERIFY(!cell(0, 0, Qt::TextAlignmentRole).isValid());

        // Not counted yet: a dash, right-aligned like the numbers that replace it.
        QCOMPARE(cell(0, 1).toString(), QString::fromUtf8("—"));
        QCOMPARE(cell(0, 1, Qt::AccessibleTextRole).toString(), QString::fromUtf8("—"));
        QCOMPARE(cell(0, 1, Qt::TextAlignmentRole).toInt(), rightAligned);
        QVERIFY(!cell(0, 1, Qt::ToolTipRole).isValid());

        model_->job(id)->pageCount = 12;
        model_->jobChanged(id);
        QCOMPARE(cell(0, 1).toString(), QStringLiteral("12"));

        QCOMPARE(cell(0, 2, Qt::TextAlignmentRole).toInt(), rightAligned);
        QVERIFY(!cell(0, 2, Qt::ToolTipRole).isValid());
        QVERIFY(!cell(0, 3, Qt::TextAlignmentRole).isValid());
        QVERIFY(!cell(0, 0, Qt::DecorationRole).isValid());
        QVERIFY(!cell(0, 0, Qt::EditRole).isValid());
        QVERIFY(!model_->data(model_->index(1, 0)).isValid());
    }

    void jobChangedRepaintsTheWholeRow() {
        add(QStringLiteral("a.pdf"));
        const quint64 second = add(QStringLiteral("b.pdf"));
        QSignalSpy changed(model_, &QAbstractItemModel::dataChanged);

        model_->jobChanged(second);
        model_->jobChanged(7);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<QModelIndex>(), model_->index(1, 0));
        QCOMPARE(changed.at(0).at(1).value<QModelIndex>(), model_->index(1, 3));
        QVERIFY(changed.at(0).at(2).value<QList<int>>().isEmpty());
    }

    void idsKeepGrowingAfterRemoval() {
        QCOMPARE(add(QStringLiteral("a.pdf")), quint64{1});
        QCOMPARE(add(QStringLiteral("b.pdf")), quint64{2});
        model_->removeJobs({1, 2});
        QCOMPARE(model_->rowCount(), 0);
        QVERIFY(model_->job(1) == nullptr);

        // The same file again is a new job.
        QCOMPARE(add(QStringLiteral("a.pdf")), quint64{3});
        QCOMPARE(model_->job(3)->fileName, QStringLiteral("a.pdf"));
    }

    void removeKeepsTheOrderOfTheRest() {
        for (const char* name : {"a.pdf", "b.pdf", "c.pdf", "d.pdf"}) {
            add(QString::fromLatin1(name));
        }
        QSignalSpy aboutToRemove(model_, &QAbstractItemModel::rowsAboutToBeRemoved);
        QSignalSpy removed(model_, &QAbstractItemModel::rowsRemoved);

        // Unknown ids, and the same one twice, change nothing.
        model_->removeJobs({3, 1, 3, 0, 42});
        QCOMPARE(aboutToRemove.count(), 2);
        QCOMPARE(removed.count(), 2);
        QCOMPARE(model_->rowCount(), 2);
        QCOMPARE(cell(0, 0).toString(), QStringLiteral("b.pdf"));
        QCOMPARE(cell(1, 0).toString(), QStringLiteral("d.pdf"));
        QVERIFY(model_->job(42) == nullptr);
    }
};

}  // namespace bl::desktop

QTEST_GUILESS_MAIN(bl::desktop::JobQueueModelTest)
#include "job_queue_model_test.moc"
