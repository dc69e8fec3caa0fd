#include "desktop/main_window.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>
#include <QUrl>

#include <filesystem>
#include <memory>

#include "tests/support/pdf_writer.h"

namespace bl::desktop {

namespace fs = std::filesystem;

namespace {

constexpr int kInspectionTimeoutMs = 60000;

QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

template <class T>
T* widget(const MainWindow& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no widget named %s", name);
    }
    return found;
}

struct DragOutcome {
    bool enterAccepted = false;
    bool dropAccepted = false;
};

DragOutcome dragAndDrop(MainWindow& window, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    const QPoint where(window.width() / 2, window.height() / 2);
    DragOutcome outcome;
    QDragEnterEvent enter(where, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    outcome.enterAccepted = enter.isAccepted();
    QDropEvent drop(QPointF(where), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    outcome.dropAccepted = drop.isAccepted();
    return outcome;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;

    QString pdf(const std::string& name, int pages = 1) {
        const fs::path path = *dir_ / name;
        test::write_file(path, test::simple_pdf(pages));
        return qpath(path);
    }

    QStringList fileNames(const MainWindow& window) {
        QStringList names;
        for (const Job& job : const_cast<MainWindow&>(window).controller().model()->jobs()) {
            names.append(job.fileName);
        }
        return names;
    }

  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { dir_ = std::make_unique<test::TempDir>(); }
    void cleanup() { dir_.reset(); }

    void startsEmptyAndIdle() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(window.minimumSize(), QSize(960, 620));
        QVERIFY(window.acceptDrops());
        auto* status = widget<QLabel>(window, "statusLabel");
        QCOMPARE(status->text(), QStringLiteral("Add PDF files to begin."));
        QVERIFY(widget<QProgressBar>(window, "progressBar")->isHidden());
        QVERIFY(widget<QGroupBox>(window, "advancedGroup")->isHidden());
        auto* convert = widget<QPushButton>(window, "convertButton");
        QVERIFY(!convert->isEnabled());
        QCOMPARE(convert->toolTip(), QStringLiteral("Add PDF files to begin."));
        QVERIFY(!widget<QPushButton>(window, "cancelButton")->isEnabled());
        QVERIFY(!widget<QPushButton>(window, "removeButton")->isEnabled());
        QVERIFY(!widget<QPushButton>(window, "clearButton")->isEnabled());
        QVERIFY(!widget<QPushButton>(window, "openFolderButton")->isEnabled());
        QVERIFY(widget<QPushButton>(window, "addButton")->isEnabled());
    }

    void dropHintFollowsTheQueue() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* hint = widget<QLabel>(window, "dropHint");
        QVERIFY(hint->isVisibleTo(&window));

        QCOMPARE(window.controller().addFiles({pdf("a.pdf")}), 1);
        QVERIFY(hint->isHidden());
        QVERIFY(widget<QPushButton>(window, "clearButton")->isEnabled());

        widget<QPushButton>(window, "clearButton")->click();
        QCOMPARE(window.controller().model()->rowCount(), 0);
        QVERIFY(hint->isVisibleTo(&window));
        QVERIFY(!hint->isHidden());
        QCOMPARE(widget<QLabel>(window, "statusLabel")->text(),
                 QStringLiteral("Add PDF files to begin."));
        QTRY_COMPARE_WITH_TIMEOUT(window.controller().checkingCount(), 0, kInspectionTimeoutMs);
    }

    void dropQueuesOnlyLocalPdfs() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QString upper = pdf("SCAN.PDF");
        const QString lower = pdf("letter.pdf");
        fs::create_directory(*dir_ / "folder.pdf");
        test::write_file(*dir_ / "notes.txt", "not a PDF");
        const QList<QUrl> urls{
            QUrl::fromLocalFile(upper),
            QUrl::fromLocalFile(qpath(*dir_ / "folder.pdf")),
            QUrl::fromLocalFile(qpath(*dir_ / "notes.txt")),
            QUrl(QStringLiteral("https://example.com/brochure.pdf")),
            QUrl::fromLocalFile(lower),
        };

        const DragOutcome outcome = dragAndDrop(window, urls);
        QVERIFY(outcome.enterAccepted);
        QVERIFY(outcome.dropAccepted);
        QCOMPARE(fileNames(window), (QStringList{"SCAN.PDF", "letter.pdf"}));
        QTRY_COMPARE_WITH_TIMEOUT(window.controller().checkingCount(), 0, kInspectionTimeoutMs);
    }

    void dragWithoutPdfIsRefused() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        fs::create_directory(*dir_ / "folder");
        test::write_file(*dir_ / "notes.txt", "not a PDF");
        const QList<QUrl> urls{
            QUrl::fromLocalFile(qpath(*dir_ / "folder")),
            QUrl::fromLocalFile(qpath(*dir_ / "notes.txt")),
            QUrl(QStringLiteral("https://example.com/brochure.pdf")),
        };

        const DragOutcome outcome = dragAndDrop(window, urls);
        QVERIFY(!outcome.enterAccepted);
        QVERIFY(!outcome.dropAccepted);
        QCOMPARE(window.controller().model()->rowCount(), 0);
    }

    void deleteRemovesTheSelectedRows() {
        MainWindow window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.controller().addFiles({pdf("a.pdf"), pdf("b.pdf"), pdf("c.pdf")}), 3);

        auto* view = widget<QTableView>(window, "queueView");
        auto* remove = widget<QPushButton>(window, "removeButton");
        QVERIFY(!remove->isEnabled());
        const auto rows = QItemSelectionModel::Select | QItemSelectionModel::Rows;
        view->selectionModel()->select(view->model()->index(0, 0), rows);
        view->selectionModel()->select(view->model()->index(2, 0), rows);
        QVERIFY(remove->isEnabled());

        view->setFocus();
        QTest::keyClick(view, Qt::Key_Delete);
        // A shortcut clicks its button with a short animation.
        QTRY_COMPARE(fileNames(window), QStringList{"b.pdf"});
        QVERIFY(!remove->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(window.controller().checkingCount(), 0, kInspectionTimeoutMs);
    }

    void statusFollowsTheInspection() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* status = widget<QLabel>(window, "statusLabel");
        auto* convert = widget<QPushButton>(window, "convertButton");

        const QString broken = qpath(*dir_ / "broken.pdf");
        test::write_file(*dir_ / "broken.pdf", "no header at all");
        QCOMPARE(window.controller().addFiles({broken}), 1);
        QCOMPARE(status->text(), QString::fromUtf8("Checking files…"));
        QCOMPARE(convert->toolTip(), QString::fromUtf8("Checking files…"));
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("No files are ready to convert."),
                                  kInspectionTimeoutMs);

        QCOMPARE(window.controller().addFiles({pdf("good.pdf")}), 1);
        QCOMPARE(status->text(), QString::fromUtf8("Checking files…"));
        QTRY_COMPARE_WITH_TIMEOUT(status->text(),
                                  QStringLiteral("Choose where to save the images."),
                                  kInspectionTimeoutMs);
        QVERIFY(!convert->isEnabled());
        QCOMPARE(convert->toolTip(), QStringLiteral("Choose where to save the images."));
    }

    void presetAndResolutionFollowEachOther() {
        MainWindow window;
        auto* preset = widget<QComboBox>(window, "presetCombo");
        auto* dpi = widget<QDoubleSpinBox>(window, "dpiSpin");
        auto* toggle = widget<QPushButton>(window, "advancedToggle");
        auto* advanced = widget<QGroupBox>(window, "advancedGroup");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(preset->currentIndex(), 2);
        QCOMPARE(dpi->value(), 150.0);

        preset->setCurrentIndex(4);
        QCOMPARE(dpi->value(), 300.0);
        dpi->setValue(151.0);
        QCOMPARE(preset->currentIndex(), 6);
        dpi->setValue(200.0);
        QCOMPARE(preset->currentIndex(), 3);
        QVERIFY(advanced->isHidden());

        // Custom opens the advanced section, where the DPI is set, and keeps it.
        preset->setCurrentIndex(6);
        QVERIFY(toggle->isChecked());
        QVERIFY(advanced->isVisibleTo(&window));
        QCOMPARE(toggle->text(), QStringLiteral("Hide advanced settings"));
        QCOMPARE(dpi->value(), 200.0);

        toggle->click();
        QVERIFY(advanced->isHidden());
        QCOMPARE(toggle->text(), QStringLiteral("Show advanced settings"));
    }

    void selectedPagesEnablesTheField() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* field = widget<QLineEdit>(window, "pagesEdit");
        QVERIFY(!field->isEnabled());
        widget<QRadioButton>(window, "selectedPagesRadio")->click();
        QVERIFY(field->isEnabled());
        widget<QRadioButton>(window, "allPagesRadio")->click();
        QVERIFY(!field->isEnabled());
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::MainWindowTest)
#include "main_window_test.moc"
