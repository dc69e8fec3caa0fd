#include "desktop/main_window.h"
#include "desktop/settings_panel.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTableView>
#include <QUrl>

#include "desktop/app_identity.h"
#include "tests/desktop/desktop_test_helpers.h"

namespace bl::desktop {

using namespace test_helpers;

namespace {

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

QStringList fileNames(MainWindow& window) {
    QStringList names;
    for (const Job& job : window.controller().model()->jobs()) {
        names.append(job.fileName);
    }
    return names;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixtures> files_;

    QString pdf(const std::string& name) const { return qpath(files_->pdf(name)); }

  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { files_ = std::make_unique<Fixtures>(); }
    void cleanup() { files_.reset(); }

    void startsEmptyAndIdle() {
        MainWindow window;
        QVERIFY(shown(window));
        QCOMPARE(window.windowTitle(), "Brightleaf — PDF to JPG");
        QCOMPARE(window.focusWidget(), widget<QWidget>(window, "addButton"));
        QCOMPARE(window.minimumSize(), QSize(960, 620));
        QVERIFY(window.acceptDrops());
        QCOMPARE(statusLine(window), "Add PDF files to begin.");
        QVERIFY(widget<QProgressBar>(window, "progressBar")->isHidden());
        QVERIFY(widget<QGroupBox>(window, "advancedGroup")->isHidden());
        QCOMPARE(widget<QPushButton>(window, "convertButton")->toolTip(),
                 "Add PDF files to begin.");
        QCOMPARE(enabledOf(window, {"convertButton", "cancelButton", "removeButton", "clearButton",
                                    "openFolderButton", "addButton"}),
                 QStringList{"addButton"});
    }

    void dropHintFollowsTheQueue() {
        MainWindow window;
        QVERIFY(shown(window));
        auto* hint = widget<QLabel>(window, "dropHint");
        QVERIFY(hint->isVisibleTo(&window));

        QCOMPARE(window.controller().addFiles({pdf("a.pdf")}), 1);
        QVERIFY(hint->isHidden());
        QVERIFY(widget<QPushButton>(window, "clearButton")->isEnabled());

        widget<QPushButton>(window, "clearButton")->click();
        QCOMPARE(window.controller().model()->rowCount(), 0);
        QVERIFY(hint->isVisibleTo(&window));
        QVERIFY(!hint->isHidden());
        QCOMPARE(statusLine(window), "Add PDF files to begin.");
        QVERIFY(inspected(window.controller()));
    }

    void dropQueuesOnlyLocalPdfs_data() {
        QTest::addColumn<QStringList>("dropped");  // names in the test folder, or URLs
        QTest::addColumn<QStringList>("queued");
        // Folders end in "/"; only the names ending in ".pdf" are documents.
        QTest::newRow("mixed") << QStringList{"SCAN.PDF", "folder.pdf/", "notes.txt",
                                              "https://example.com/brochure.pdf", "letter.pdf"}
                               << QStringList{"SCAN.PDF", "letter.pdf"};
        QTest::newRow("no PDF") << QStringList{"folder/", "notes.txt",
                                               "https://example.com/brochure.pdf"}
                                << QStringList{};
    }

    void dropQueuesOnlyLocalPdfs() {
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, queued);
        QList<QUrl> urls;
        for (const QString& name : dropped) {
            if (name.startsWith(QStringLiteral("https:"))) {
                urls.append(QUrl(name));
                continue;
            }
            const bool folder = name.endsWith('/');
            const fs::path path = files_->dir / (folder ? name.chopped(1) : name).toStdString();
            if (folder) {
                fs::create_directory(path);
            } else {
                test::write_file(path, name.endsWith(".pdf", Qt::CaseInsensitive)
                                           ? test::simple_pdf(1)
                                           : std::string("not a PDF"));
            }
            urls.append(QUrl::fromLocalFile(qpath(path)));
        }

        MainWindow window;
        QVERIFY(shown(window));
        const DragOutcome outcome = dragAndDrop(window, urls);
        QCOMPARE(outcome.enterAccepted, !queued.isEmpty());
        QCOMPARE(outcome.dropAccepted, !queued.isEmpty());
        QCOMPARE(fileNames(window), queued);
        QVERIFY(inspected(window.controller()));
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
        QVERIFY(inspected(window.controller()));
    }

    void statusFollowsTheInspection() {
        MainWindow window;
        QVERIFY(shown(window));
        auto* convert = widget<QPushButton>(window, "convertButton");
        const QString checking = QString::fromUtf8("Checking files…");

        QCOMPARE(window.controller().addFiles({qpath(files_->file("broken.pdf", "no header"))}), 1);
        QCOMPARE(statusLine(window), checking);
        QCOMPARE(convert->toolTip(), checking);
        QTRY_COMPARE_WITH_TIMEOUT(statusLine(window), "No files are ready to convert.", kTimeoutMs);

        // Files being checked hold the start back, whatever else is ready.
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        QCOMPARE(window.controller().addFiles({pdf("good.pdf")}), 1);
        QCOMPARE(statusLine(window), checking);
        QVERIFY(!convert->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(statusLine(window), "Ready to convert.", kTimeoutMs);
        QVERIFY(convert->isEnabled());

        // Nothing opens folders here, so the button says so and names the folder.
        QStringList reported;
        whenOpens<QMessageBox>([&](QMessageBox* box) {
            reported = QStringList{box->windowTitle(), box->text()};
            box->accept();
        });
        widget<QPushButton>(window, "openFolderButton")->click();
        QCOMPARE(reported,
                 (QStringList{"Cannot open", "No application is set up to open the folder “" +
                                                 qpath(files_->out) +
                                                 "”. Open it in your file manager."}));

        window.settingsPanel().setOutputFolder(QString());
        QCOMPARE(statusLine(window), "Choose where to save the images.");
        QVERIFY(!convert->isEnabled());
        QCOMPARE(convert->toolTip(), "Choose where to save the images.");
    }

    void presetAndResolutionFollowEachOther() {
        MainWindow window;
        auto* preset = widget<QComboBox>(window, "presetCombo");
        auto* dpi = widget<QDoubleSpinBox>(window, "dpiSpin");
        auto* toggle = widget<QPushButton>(window, "advancedToggle");
        auto* advanced = widget<QGroupBox>(window, "advancedGroup");
        QVERIFY(shown(window));

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
        QCOMPARE(toggle->text(), "Hide advanced settings");
        QCOMPARE(dpi->value(), 200.0);

        toggle->click();
        QVERIFY(advanced->isHidden());
        QCOMPARE(toggle->text(), "Show advanced settings");
    }

    void identityLeavesTitlesAlone() {
        setApplicationIdentity();
        QCOMPARE(QGuiApplication::applicationDisplayName(), "Brightleaf");
        QCOMPARE(QCoreApplication::organizationName(), "Brightleaf");
        QCOMPARE(QCoreApplication::applicationVersion(), "0.1.0");
        QCOMPARE(QGuiApplication::desktopFileName(), "org.brightleaf.Brightleaf");
        QVERIFY(!QGuiApplication::windowIcon().isNull());
        // A display name set explicitly is appended to every window title by the
        // window system integration; left unset, it follows the application name.
        QCoreApplication::setApplicationName(QStringLiteral("Other"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), "Other");
        QCoreApplication::setApplicationName(QStringLiteral("Brightleaf"));
    }

    void tabVisitsEveryControlOnce_data() {
        QTest::addColumn<int>("files");
        QTest::addColumn<QStringList>("chain");  // from the Add button, until it comes back
        // Disabled controls are passed over: Remove without a selection, Clear
        // and Convert with an empty queue, Cancel outside a run.
        const QStringList settings{"allPagesRadio",    "presetCombo",        "advancedToggle",
                                   "outputFolderEdit", "chooseFolderButton", "rememberFolderCheck",
                                   "openFolderButton"};
        QTest::newRow("empty queue")
            << 0 << QStringList{"addButton"} + settings + QStringList{"queueView"};
        QTest::newRow("three files") << 3
                                     << QStringList{"addButton", "clearButton"} + settings +
                                            QStringList{"convertButton", "queueView"};
    }

    void tabVisitsEveryControlOnce() {
        QFETCH(int, files);
        QFETCH(QStringList, chain);
        MainWindow window;
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QList<fs::path> pdfs;
        for (int i = 0; i < files; ++i) {
            pdfs.append(files_->pdf("file" + std::to_string(i) + ".pdf"));
        }
        QVERIFY(addAndInspect(window.controller(), pdfs));
        auto* view = widget<QTableView>(window, "queueView");

        // Tab from control to control, keeping how each looks with the focus.
        QStringList visited;
        QHash<QString, QImage> withFocus;
        for (int press = 0; press < 2 * chain.size(); ++press) {
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused != nullptr);
            if (press > 0 && focused->objectName() == "addButton") {
                break;
            }
            visited.append(focused->objectName());
            withFocus.insert(focused->objectName(), focused->grab().toImage());
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(visited.join(", "), chain.join(", "));
        // Passing through the table neither moved nor made a selection.
        QVERIFY(!view->selectionModel()->hasSelection());

        // Ctrl+Tab and Shift+Tab do not move around inside the table either.
        view->setFocus(Qt::TabFocusReason);
        QTest::keyClick(view, Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(!view->selectionModel()->hasSelection());
        QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), chain.at(chain.size() - 2));

        // Every control looks different with the focus, the empty table too.
        QStringList unmarked;
        for (auto it = withFocus.cbegin(); it != withFocus.cend(); ++it) {
            QWidget* control = widget<QWidget>(window, qPrintable(it.key()));
            if (control->hasFocus()) {
                widget<QWidget>(window, "addButton")->setFocus(Qt::TabFocusReason);
                if (control->hasFocus()) {
                    widget<QWidget>(window, "queueView")->setFocus(Qt::TabFocusReason);
                }
            }
            if (control->grab().toImage() == it.value()) {
                unmarked.append(it.key());
            }
        }
        QCOMPARE(unmarked.join(", "), QString());
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::MainWindowTest)
#include "main_window_test.moc"
