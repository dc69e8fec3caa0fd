#include <QAction>
#include <QCheckBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "desktop/main_window.h"
#include "engine/page_render.h"
#include "tests/desktop/desktop_test_helpers.h"
#include "tests/support/pdf_writer.h"

namespace bl::desktop {

namespace fs = std::filesystem;
using test_helpers::kTimeoutMs;
using test_helpers::PageGate;
using test_helpers::qpath;
using test_helpers::whenModalOpens;
using test_helpers::widget;

namespace {

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

QPushButton* buttonWithRole(QMessageBox* box, QMessageBox::ButtonRole role) {
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == role) {
            return qobject_cast<QPushButton*>(button);
        }
    }
    return nullptr;
}

}  // namespace

class RunFlowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;
    fs::path out_;

    fs::path pdf(const std::string& name, int pages) {
        const fs::path path = *dir_ / name;
        test::write_file(path, test::simple_pdf(pages, 200.0, 100.0));
        return path;
    }

    fs::path lockedPdf(const std::string& name) {
        const fs::path plain = *dir_ / ("plain-" + name);
        test::write_file(plain, test::simple_pdf(1, 200.0, 100.0));
        const fs::path locked = *dir_ / name;
        if (!test::qpdf_encrypt(plain, locked, "secret", "owner", 256, true)) {
            qFatal("qpdf could not encrypt %s", name.c_str());
        }
        fs::remove(plain);
        return locked;
    }

    // A shown window with the files queued and inspected and the output folder
    // chosen.
    bool prepare(MainWindow& window, const QList<fs::path>& files) {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            return false;
        }
        QStringList paths;
        for (const fs::path& file : files) {
            paths.append(qpath(file));
        }
        if (window.controller().addFiles(paths) != paths.size()) {
            return false;
        }
        window.setOutputFolder(qpath(out_));
        return QTest::qWaitFor([&] { return window.controller().checkingCount() == 0; },
                               kTimeoutMs);
    }

    static QString status(const MainWindow& window) {
        return widget<QLabel>(window, "statusLabel")->text();
    }

  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() {
        QSettings().clear();
        dir_ = std::make_unique<test::TempDir>();
        out_ = *dir_ / "out";
        fs::create_directory(out_);
    }
    void cleanup() {
        bl::detail::driver_hooks() = {};
        dir_.reset();
    }

    void summarySentences_data() {
        QTest::addColumn<int>("converted");
        QTest::addColumn<int>("partly");
        QTest::addColumn<int>("failed");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("images");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QString>("text");
        QTest::newRow("converted and failed")
            << 2 << 0 << 1 << 0 << 7 << false
            << "2 files converted, 1 failed. 7 images saved. See the Status column for details.";
        QTest::newRow("stopped before any page")
            << 0 << 0 << 0 << 0 << 0 << true << "Stopped. Nothing was converted. 0 images saved.";
        QTest::newRow("one of one")
            << 1 << 0 << 0 << 0 << 1 << false << "1 file converted. 1 image saved.";
        QTest::newRow("every part")
            << 3 << 1 << 2 << 1 << 12 << false
            << "3 files converted, 1 partly converted, 2 failed, 1 skipped. 12 images saved. See "
               "the Status column for details.";
        QTest::newRow("partly only") << 0 << 2 << 0 << 0 << 5 << false
                                     << "2 partly converted. 5 images saved. See the Status "
                                        "column for details.";
        QTest::newRow("skipped only")
            << 0 << 0 << 0 << 1 << 0 << false << "1 skipped. 0 images saved.";
        QTest::newRow("stopped after some")
            << 1 << 0 << 0 << 0 << 4 << true << "Stopped. 1 file converted. 4 images saved.";
        QTest::newRow("stopped with a failure")
            << 0 << 0 << 1 << 0 << 0 << true
            << "Stopped. 1 failed. 0 images saved. See the Status column for details.";
    }

    void summarySentences() {
        QFETCH(int, converted);
        QFETCH(int, partly);
        QFETCH(int, failed);
        QFETCH(int, skipped);
        QFETCH(int, images);
        QFETCH(bool, stopped);
        QFETCH(QString, text);
        const RunSummary summary{converted, partly, failed, skipped, images, stopped};
        QCOMPARE(MainWindow::summaryText(summary), text);
    }

    void oneFileFromStartToSummary() {
        MainWindow window;
        QVERIFY(prepare(window, {pdf("one.pdf", 1)}));
        auto* convert = widget<QPushButton>(window, "convertButton");
        auto* cancel = widget<QPushButton>(window, "cancelButton");
        auto* bar = widget<QProgressBar>(window, "progressBar");
        QCOMPARE(status(window), QStringLiteral("Ready to convert."));
        QVERIFY(convert->isEnabled());
        QVERIFY(!cancel->isEnabled());

        // Connected after the window's own handlers, so each sees what they left.
        QStringList seen;
        ConversionController& controller = window.controller();
        connect(&controller, &ConversionController::runStarted, this, [&] {
            seen.append(status(window));
            QVERIFY(bar->isVisible());
            QCOMPARE(bar->maximum(), 0);
            QVERIFY(!convert->isEnabled());
            QCOMPARE(convert->toolTip(), QString::fromUtf8("Converting…"));
            QVERIFY(cancel->isEnabled());
            QVERIFY(!widget<QRadioButton>(window, "allPagesRadio")->isEnabled());
            QVERIFY(!widget<QPushButton>(window, "chooseFolderButton")->isEnabled());
            QVERIFY(!widget<QPushButton>(window, "clearButton")->isEnabled());
            QVERIFY(widget<QCheckBox>(window, "rememberFolderCheck")->isEnabled());
            QVERIFY(widget<QPushButton>(window, "advancedToggle")->isEnabled());
            QVERIFY(widget<QPushButton>(window, "addButton")->isEnabled());
        });
        connect(&controller, &ConversionController::jobStarted, this,
                [&] { seen.append(status(window)); });
        connect(&controller, &ConversionController::jobProgress, this, [&] {
            seen.append(status(window));
            QCOMPARE(bar->maximum(), 1);
        });
        QSignalSpy finished(&controller, &ConversionController::runFinished);

        convert->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        QCOMPARE(seen, (QStringList{QString::fromUtf8("Starting 1 file…"),
                                    QString::fromUtf8("Converting one.pdf (file 1 of 1)…"),
                                    QString::fromUtf8("Converting one.pdf — page 0 of 1"),
                                    QString::fromUtf8("Converting one.pdf — page 1 of 1")}));
        QCOMPARE(status(window), QStringLiteral("1 file converted. 1 image saved."));
        QVERIFY(bar->isHidden());
        QVERIFY(!cancel->isEnabled());
        QVERIFY(widget<QRadioButton>(window, "allPagesRadio")->isEnabled());
        QVERIFY(widget<QPushButton>(window, "chooseFolderButton")->isEnabled());
        QVERIFY(widget<QPushButton>(window, "clearButton")->isEnabled());
        // Nothing is left to convert.
        QVERIFY(!convert->isEnabled());
        QCOMPARE(convert->toolTip(), QStringLiteral("No files are ready to convert."));

        // The summary stays until the next refresh of the idle text.
        QCOMPARE(window.controller().addFiles({qpath(pdf("two.pdf", 1))}), 1);
        QCOMPARE(status(window), QString::fromUtf8("Checking files…"));
    }

    void twoFilesEndToEnd() {
        MainWindow window;
        QVERIFY(prepare(window, {pdf("first.pdf", 2), pdf("second report.pdf", 3)}));
        widget<QCheckBox>(window, "zipCheck")->setChecked(true);
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);

        QTest::keyClick(&window, Qt::Key_Return, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        QCOMPARE(status(window), QStringLiteral("2 files converted. 5 images saved."));
        QCOMPARE(namesIn(out_), (std::set<std::string>{
                                    "first.zip", "first_page_0001.jpg", "first_page_0002.jpg",
                                    "second report.zip", "second report_page_0001.jpg",
                                    "second report_page_0002.jpg", "second report_page_0003.jpg"}));
        for (const std::string& name : namesIn(out_)) {
            const std::string bytes = test::read_file(out_ / name);
            const bool zip = name.ends_with(".zip");
            QCOMPARE(bytes.substr(0, zip ? 4 : 3),
                     std::string(zip ? "PK\x03\x04" : "\xFF\xD8\xFF"));
        }
        const QModelIndex status = window.controller().model()->index(1, 3);
        QCOMPARE(status.data().toString(), QString::fromUtf8("Done — 3 pages"));
    }

    void passwordPrompts() {
        MainWindow window;
        QVERIFY(prepare(window, {lockedPdf("locked.pdf"), pdf("open.pdf", 1)}));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);

        QStringList labels;
        // First a wrong password, then an empty answer, which skips the file.
        whenModalOpens([&](QWidget* modal) {
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            QVERIFY(dialog != nullptr);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Password required"));
            QCOMPARE(dialog->textEchoMode(), QLineEdit::Password);
            QCOMPARE(dialog->okButtonText(), QStringLiteral("Convert"));
            QCOMPARE(dialog->cancelButtonText(), QStringLiteral("Skip this file"));
            QCOMPARE(dialog->parentWidget(), &window);
            labels.append(dialog->labelText());
            whenModalOpens([&](QWidget* again) {
                auto* retry = qobject_cast<QInputDialog*>(again);
                QVERIFY(retry != nullptr);
                labels.append(retry->labelText());
                retry->setTextValue(QString());
                retry->accept();
            });
            dialog->setTextValue(QStringLiteral("wrong"));
            dialog->accept();
        });
        widget<QPushButton>(window, "convertButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        QCOMPARE(labels,
                 (QStringList{QString::fromUtf8("“locked.pdf” is password-protected. Enter its "
                                                "password to convert it:"),
                              QString::fromUtf8("That password did not open “locked.pdf”. Try "
                                                "again:")}));
        QCOMPARE(status(window), QStringLiteral("1 file converted, 1 skipped. 1 image saved."));
        QCOMPARE(window.controller().model()->jobs().first().state, JobState::PasswordRequired);

        // The right password converts it.
        QSignalSpy again(&window.controller(), &ConversionController::runFinished);
        whenModalOpens([](QWidget* modal) {
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            QVERIFY(dialog != nullptr);
            dialog->setTextValue(QStringLiteral("secret"));
            dialog->accept();
        });
        widget<QPushButton>(window, "convertButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(again.count(), 1, kTimeoutMs);
        QCOMPARE(status(window), QStringLiteral("1 file converted. 1 image saved."));
        QVERIFY(fs::exists(out_ / "locked_page_0001.jpg"));
    }

    void passwordPromptRejectedSkips() {
        MainWindow window;
        QVERIFY(prepare(window, {lockedPdf("locked.pdf")}));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        whenModalOpens([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        widget<QPushButton>(window, "convertButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);
        QCOMPARE(status(window), QStringLiteral("1 skipped. 0 images saved."));
    }

    void existingFilesKeepBoth() {
        test::write_file(out_ / "a_page_0001.jpg", "old");
        MainWindow window;
        QVERIFY(prepare(window, {pdf("a.pdf", 1)}));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);

        whenModalOpens([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            QCOMPARE(box->parentWidget(), &window);
            QCOMPARE(box->windowTitle(), QStringLiteral("Files already exist"));
            QCOMPARE(box->icon(), QMessageBox::Question);
            QCOMPARE(box->text(),
                     QStringLiteral("\"a_page_0001.jpg\" already exists in the output folder. "
                                    "Choose another folder, or allow overwriting or renaming."));
            QCOMPARE(box->informativeText(),
                     QStringLiteral("Your choice applies to the rest of this conversion."));
            QCOMPARE(box->buttons().size(), 3);
            QPushButton* replace = buttonWithRole(box, QMessageBox::DestructiveRole);
            QPushButton* keepBoth = buttonWithRole(box, QMessageBox::AcceptRole);
            QVERIFY(replace != nullptr && keepBoth != nullptr);
            QCOMPARE(replace->text(), QStringLiteral("Replace"));
            QCOMPARE(keepBoth->text(), QStringLiteral("Keep both"));
            QVERIFY(box->button(QMessageBox::Cancel) != nullptr);
            QCOMPARE(box->defaultButton(), keepBoth);
            keepBoth->click();
        });
        widget<QPushButton>(window, "convertButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        QCOMPARE(status(window), QStringLiteral("1 file converted. 1 image saved."));
        QCOMPARE(namesIn(out_), (std::set<std::string>{"a_page_0001 (2).jpg", "a_page_0001.jpg"}));
    }

    void existingFilesBoxClosedStops() {
        test::write_file(out_ / "a_page_0001.jpg", "old");
        MainWindow window;
        QVERIFY(prepare(window, {pdf("a.pdf", 1)}));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        // As with the window's close button.
        whenModalOpens([](QWidget* modal) { modal->close(); });
        widget<QPushButton>(window, "convertButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        QCOMPARE(status(window), QStringLiteral("Stopped. Nothing was converted. 0 images saved."));
        QCOMPARE(window.controller().model()->jobs().first().state, JobState::Ready);
        QCOMPARE(namesIn(out_), std::set<std::string>{"a_page_0001.jpg"});
        QVERIFY(widget<QPushButton>(window, "convertButton")->isEnabled());
    }

    void cancelWithEscape() {
        PageGate gate(PageGate::Stage::Render, 2);
        MainWindow window;
        const auto opener = gate.openAtScopeExit();
        QVERIFY(prepare(window, {pdf("long.pdf", 4), pdf("next.pdf", 1)}));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        QSignalSpy progress(&window.controller(), &ConversionController::jobProgress);

        widget<QPushButton>(window, "convertButton")->click();
        // Page 1 is written; page 2 waits at the gate.
        QTRY_COMPARE_WITH_TIMEOUT(progress.count(), 2, kTimeoutMs);
        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_COMPARE(status(window), QString::fromUtf8("Cancelling after the current page…"));
        QVERIFY(window.controller().isCancelling());
        gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        QCOMPARE(status(window), QStringLiteral("Stopped. Nothing was converted. 1 image saved."));
        const QList<Job>& jobs = window.controller().model()->jobs();
        QCOMPARE(jobs[0].state, JobState::Cancelled);
        QCOMPARE(jobs[1].state, JobState::Ready);
    }

    void cancellingTextSurvivesProgress() {
        // Cancelled while a page is being encoded: that page still reports in.
        PageGate gate(PageGate::Stage::Encode, 1);
        MainWindow window;
        const auto opener = gate.openAtScopeExit();
        QVERIFY(prepare(window, {pdf("long.pdf", 3)}));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        QStringList seen;
        QList<int> bar;
        connect(&window.controller(), &ConversionController::jobProgress, this, [&] {
            seen.append(status(window));
            bar.append(widget<QProgressBar>(window, "progressBar")->value());
        });
        widget<QPushButton>(window, "convertButton")->click();
        QVERIFY(gate.waitUntilReached());
        widget<QPushButton>(window, "cancelButton")->click();
        gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);

        // Both reports (the total and the finished page) arrive after the cancel
        // and leave its text alone.
        const QString cancelling = QString::fromUtf8("Cancelling after the current page…");
        QCOMPARE(seen, (QStringList{cancelling, cancelling}));
        QCOMPARE(bar, (QList<int>{0, 1}));
        QCOMPARE(status(window), QStringLiteral("Stopped. Nothing was converted. 1 image saved."));
    }

    void refusalShowsCannotStart() {
        MainWindow window;
        QVERIFY(prepare(window, {pdf("a.pdf", 1)}));
        // The folder goes away after it was chosen.
        fs::remove_all(out_);
        QString title;
        QString text;
        whenModalOpens([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            title = box->windowTitle();
            text = box->text();
            QCOMPARE(box->icon(), QMessageBox::Warning);
            box->button(QMessageBox::Ok)->click();
        });
        widget<QPushButton>(window, "convertButton")->click();
        QCOMPARE(title, QStringLiteral("Cannot start"));
        QCOMPARE(text, QStringLiteral("Choose an output folder first."));
        QCOMPARE(status(window), QStringLiteral("Ready to convert."));
        QVERIFY(!window.controller().isRunning());
    }

    void notReadyReasonGoesToTheStatusLine() {
        MainWindow window;
        QVERIFY(prepare(window, {pdf("a.pdf", 1)}));
        window.setOutputFolder(QString());
        QCOMPARE(status(window), QStringLiteral("Choose where to save the images."));
        widget<QLabel>(window, "statusLabel")->setText(QString());
        window.startConversion();
        QCOMPARE(status(window), QStringLiteral("Choose where to save the images."));
        QVERIFY(!window.controller().isRunning());
    }

    void closingDuringARun() {
        PageGate gate(PageGate::Stage::Render, 1);
        auto window = std::make_unique<MainWindow>();
        const auto opener = gate.openAtScopeExit();
        QVERIFY(prepare(*window, {pdf("a.pdf", 2)}));
        QSignalSpy finished(&window->controller(), &ConversionController::runFinished);
        widget<QPushButton>(*window, "convertButton")->click();
        QVERIFY(gate.waitUntilReached());

        const auto answer = [&](QMessageBox::StandardButton button) {
            whenModalOpens([&window, button](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box != nullptr);
                QCOMPARE(box->parentWidget(), window.get());
                QCOMPARE(box->windowTitle(), QStringLiteral("Conversion in progress"));
                QCOMPARE(box->text(), QStringLiteral("A conversion is still running. Stop it and "
                                                     "quit? Pages already saved are kept."));
                QCOMPARE(box->icon(), QMessageBox::Question);
                QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
                box->button(button)->click();
            });
        };

        answer(QMessageBox::No);
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QVERIFY(window->controller().isRunning());
        QVERIFY(!window->controller().isCancelling());
        QVERIFY(!QSettings().contains(QStringLiteral("conversion/dpi")));

        answer(QMessageBox::Yes);
        QVERIFY(window->close());
        QVERIFY(!window->isVisible());
        QVERIFY(window->controller().isCancelling());
        QVERIFY(QSettings().contains(QStringLiteral("conversion/dpi")));
        gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeoutMs);
        QVERIFY(finished.at(0).at(0).value<RunSummary>().stopped);
        window.reset();
    }

    void aboutBox() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QString title;
        QString text;
        whenModalOpens([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box != nullptr);
            QCOMPARE(box->parentWidget(), &window);
            title = box->windowTitle();
            text = box->text();
            box->accept();
        });
        window.findChild<QAction*>(QStringLiteral("aboutAction"))->trigger();

        QCOMPARE(title, QStringLiteral("About Brightleaf"));
        const VersionInfo versions = version_info();
        QVERIFY(text.startsWith(QStringLiteral("<p><b>Brightleaf</b> ") +
                                QString::fromStdString(versions.application)));
        QCOMPARE(text.count(QStringLiteral("<p>")), 6);
        for (const QString& part : {
                 QString::fromStdString(versions.pdfium),
                 QString::fromStdString(versions.libjpeg_turbo),
                 QString::fromLatin1(qVersion()),
                 QStringLiteral("preview build, not for production use"),
                 QStringLiteral("Your files are not uploaded."),
                 QStringLiteral("GNU Lesser General Public License version 3"),
                 QStringLiteral("may be replaced"),
                 QString::fromUtf8("Portions of this software are copyright © The FreeType "
                                   "Project (www.freetype.org). All rights reserved."),
                 QStringLiteral(
                     "This software is based in part on the work of the Independent JPEG Group."),
                 QString::fromUtf8("“licenses” folder next to the application"),
             }) {
            QVERIFY2(text.contains(part), qPrintable(part));
        }
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::RunFlowTest)
#include "run_flow_test.moc"
