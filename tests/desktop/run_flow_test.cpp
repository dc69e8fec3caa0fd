#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaEnum>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

#include "bl/live_checks.h"
#include "bl/version.h"
#include "desktop/main_window.h"
#include "desktop/settings_panel.h"
#include "tests/desktop/desktop_test_helpers.h"

namespace bl::desktop {

using namespace test_helpers;

namespace {

const QString kCancelling = QString::fromUtf8("Cancelling after the current page…");

// Clicks Convert and waits for the run to end: the status line then, or what
// went wrong.
QString runFrom(MainWindow& window) {
    QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
    widget<QPushButton>(window, "convertButton")->click();
    const QString outcome = waitForRun(finished);
    return finished.count() == 1 ? statusLine(window) : outcome;
}

// A message box in words: title, icon, text, informative text, then its buttons
// with their roles, sorted, the default one marked.
QStringList describe(const QMessageBox* box) {
    static const char* const roles[] = {"accept", "reject", "destructive", "action", "help",
                                        "yes",    "no",     "reset",       "apply"};
    QStringList buttons;
    for (QAbstractButton* button : box->buttons()) {
        buttons.append(button->text() + QLatin1Char(' ') + roles[box->buttonRole(button)] +
                       (button == box->defaultButton() ? " default" : ""));
    }
    buttons.sort();
    return QStringList{box->windowTitle(),
                       QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box->icon()),
                       box->text(), box->informativeText()} +
           buttons;
}

}  // namespace

class RunFlowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixtures> files_;

    // Shows the window with the files queued and inspected and the output folder
    // chosen.
    bool prepare(MainWindow& window, const QList<fs::path>& files) {
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        return shown(window) && addAndInspect(window.controller(), files);
    }

  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() {
        QSettings().clear();
        files_ = std::make_unique<Fixtures>();
    }
    void cleanup() { files_.reset(); }

    // The runs below reach the other sentences: one file, skipped files, and a
    // run stopped before any page.
    void summarySentences_data() {
        QTest::addColumn<RunSummary>("summary");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* name, RunSummary summary, const QString& text) {
            QTest::newRow(name) << summary << text;
        };
        const QString details = QStringLiteral(" See the Status column for details.");
        row("every part", {3, 1, 2, 1, 12, false},
            "3 files converted, 1 partly converted, 2 failed, 1 skipped. 12 images saved." +
                details);
        row("partly only", {0, 2, 0, 0, 5, false}, "2 partly converted. 5 images saved." + details);
        row("stopped with a failure", {0, 0, 1, 0, 0, true},
            "Stopped. 1 failed. 0 images saved." + details);
        // Cancelled once 62 pages were written: those images exist, yet no file
        // was finished.
        row("stopped part-way", {0, 0, 0, 0, 62, true},
            "Stopped. No file was finished. 62 images saved.");
    }

    void summarySentences() {
        QFETCH(RunSummary, summary);
        QFETCH(QString, text);
        QCOMPARE(MainWindow::summaryText(summary), text);
    }

    void twoFilesFromStartToSummary() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("first.pdf"), files_->pdf("second report.pdf", 2)}));
        widget<QCheckBox>(window, "zipCheck")->setChecked(true);
        auto* convert = widget<QPushButton>(window, "convertButton");
        auto* bar = widget<QProgressBar>(window, "progressBar");
        const auto enabled = [&window] {
            return enabledOf(
                window, {"convertButton", "cancelButton", "allPagesRadio", "chooseFolderButton",
                         "clearButton", "rememberFolderCheck", "advancedToggle", "addButton"});
        };

        // Connected after the window's own handlers, so each sees what they left.
        QStringList seen;
        ConversionController& controller = window.controller();
        connect(&controller, &ConversionController::runStarted, this, [&] {
            seen.append(statusLine(window));
            QVERIFY(bar->isVisible());
            QCOMPARE(bar->maximum(), 0);
            QCOMPARE(convert->toolTip(), QString::fromUtf8("Converting…"));
            QCOMPARE(enabled(), (QStringList{"cancelButton", "rememberFolderCheck",
                                             "advancedToggle", "addButton"}));
        });
        connect(&controller, &ConversionController::jobStarted, this,
                [&] { seen.append(statusLine(window)); });
        connect(&controller, &ConversionController::jobProgress, this, [&] {
            seen.append(QStringLiteral("%1 [%2/%3] %4")
                            .arg(statusLine(window))
                            .arg(bar->value())
                            .arg(bar->maximum())
                            .arg(window.windowTitle()));
        });
        // The panels keep their place while the progress bar comes and goes.
        auto* files = widget<QWidget>(window, "filesGroup");
        const QRect filesPlace = files->geometry();
        QList<QRect> places;
        connect(&controller, &ConversionController::jobProgress, this,
                [&] { places.append(files->geometry()); });

        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QTest::keyClick(&window, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(waitForRun(finished), "2 converted, 3 images");
        QCOMPARE(statusLine(window), "2 files converted. 3 images saved.");
        const QString title = QStringLiteral("Brightleaf — PDF to JPG");
        QCOMPARE(seen, (QStringList{
                           "Starting 2 files…", "Converting first.pdf (file 1 of 2)…",
                           "Converting first.pdf (file 1 of 2) — page 0 of 1 [0/1] 0% — " + title,
                           "Converting first.pdf (file 1 of 2) — page 1 of 1 [1/1] 50% — " + title,
                           "Converting second report.pdf (file 2 of 2)…",
                           "Converting second report.pdf (file 2 of 2) — page 0 of 2 "
                           "[0/2] 50% — " +
                               title,
                           "Converting second report.pdf (file 2 of 2) — page 1 of 2 "
                           "[1/2] 75% — " +
                               title,
                           "Converting second report.pdf (file 2 of 2) — page 2 of 2 "
                           "[2/2] 100% — " +
                               title}));
        QVERIFY(bar->isHidden());
        QCOMPARE(window.windowTitle(), title);
        QCOMPARE(places, QList<QRect>(5, filesPlace));
        QCOMPARE(files->geometry(), filesPlace);
        // Everything is unlocked, but nothing is left to convert.
        QCOMPARE(enabled(), (QStringList{"allPagesRadio", "chooseFolderButton", "clearButton",
                                         "rememberFolderCheck", "advancedToggle", "addButton"}));
        QCOMPARE(convert->toolTip(), "No files are ready to convert.");
        QCOMPARE(controller.model()->index(1, 3).data().toString(),
                 QString::fromUtf8("Done — 2 pages"));

        const QStringList names = namesIn(files_->out);
        QCOMPARE(names,
                 (QStringList{"first.zip", "first_page_0001.jpg", "second report.zip",
                              "second report_page_0001.jpg", "second report_page_0002.jpg"}));
        for (const QString& name : names) {
            const std::string bytes = test::read_file(files_->out / name.toStdString());
            const bool zip = name.endsWith(QStringLiteral(".zip"));
            QCOMPARE(bytes.substr(0, zip ? 4 : 3),
                     std::string(zip ? "PK\x03\x04" : "\xFF\xD8\xFF"));
        }

        // The summary stays until the next refresh of the idle text.
        QCOMPARE(controller.addFiles({qpath(files_->pdf("third.pdf"))}), 1);
        QCOMPARE(statusLine(window), QString::fromUtf8("Checking files…"));
    }

    void passwordPrompts() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->locked("locked.pdf"), files_->pdf("open.pdf")}));
        QStringList labels;
        // First a wrong password, then an empty answer, which skips the file.
        whenOpens<QInputDialog>([&](QInputDialog* dialog) {
            QCOMPARE(dialog->parentWidget(), &window);
            QCOMPARE(dialog->windowTitle(), "Password required");
            QCOMPARE(dialog->textEchoMode(), QLineEdit::Password);
            QCOMPARE(dialog->okButtonText(), "Convert");
            QCOMPARE(dialog->cancelButtonText(), "Skip this file");
            labels.append(dialog->labelText());
            // Typing or pasting stops at the 127 bytes a PDF password can use,
            // before a character that would not fit whole.
            dialog->findChild<QLineEdit*>()->insert(QString(100, QChar(0xE9)));
            QCOMPARE(dialog->textValue(), QString(63, QChar(0xE9)));
            whenOpens<QInputDialog>([&labels](QInputDialog* again) {
                labels.append(again->labelText());
                again->setTextValue(QString());
                again->accept();
            });
            dialog->setTextValue(QStringLiteral("wrong"));
            dialog->accept();
        });
        QCOMPARE(runFrom(window), "1 file converted, 1 skipped. 1 image saved.");
        QCOMPARE(labels, (QStringList{"“locked.pdf” is password-protected. Enter its password to "
                                      "convert it:",
                                      "That password did not open “locked.pdf”. Try again:"}));
        QCOMPARE(window.controller().model()->jobs().first().state, JobState::PasswordRequired);

        // "Skip this file" skips it too; the right password converts it.
        whenOpens<QInputDialog>([](QInputDialog* dialog) { dialog->reject(); });
        QCOMPARE(runFrom(window), "1 skipped. 0 images saved.");
        whenOpens<QInputDialog>([](QInputDialog* dialog) {
            dialog->setTextValue(QStringLiteral("secret"));
            dialog->accept();
        });
        QCOMPARE(runFrom(window), "1 file converted. 1 image saved.");
        QVERIFY(fs::exists(files_->out / "locked_page_0001.jpg"));
    }

    void existingFilesBox_data() {
        QTest::addColumn<QString>("answer");  // the button clicked; none closes the box
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QStringList>("names");
        // a_page_0002.jpg and b_page_0001.jpg are there already. The answer holds
        // for the rest of the run: the box opens once, for a.pdf.
        const QString converted = QStringLiteral("2 files converted. 3 images saved.");
        QTest::newRow("keep both")
            << "Keep both" << converted
            << QStringList{"a_page_0001.jpg", "a_page_0002 (2).jpg", "a_page_0002.jpg",
                           "b_page_0001 (2).jpg", "b_page_0001.jpg"};
        QTest::newRow("replace") << "Replace" << converted
                                 << QStringList{"a_page_0001.jpg", "a_page_0002.jpg",
                                                "b_page_0001.jpg"};
        // As with the window's close button: the run stops before anything is written.
        QTest::newRow("closed") << QString() << "Stopped. Nothing was converted. 0 images saved."
                                << QStringList{"a_page_0002.jpg", "b_page_0001.jpg"};
    }

    void existingFilesBox() {
        QFETCH(QString, answer);
        QFETCH(QString, summary);
        QFETCH(QStringList, names);
        const QList<fs::path> taken{files_->out / "a_page_0002.jpg",
                                    files_->out / "b_page_0001.jpg"};
        for (const fs::path& file : taken) {
            test::write_file(file, "old");
        }
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("a.pdf", 2), files_->pdf("b.pdf")}));
        whenOpens<QMessageBox>([&](QMessageBox* box) {
            QCOMPARE(box->parentWidget(), &window);
            QCOMPARE(
                describe(box),
                (QStringList{"Files already exist", "Question",
                             "\"a_page_0002.jpg\" already exists in the output folder. "
                             "Choose another folder, or allow overwriting or renaming.",
                             "Your choice applies to the rest of this conversion.", "Cancel reject",
                             "Keep both accept default", "Replace destructive"}));
            const QList<QAbstractButton*> buttons = box->buttons();
            const auto chosen = std::find_if(buttons.begin(), buttons.end(), [&](auto* button) {
                return button->text() == answer;
            });
            if (chosen != buttons.end()) {
                (*chosen)->click();
            } else {
                box->close();
            }
        });
        QCOMPARE(runFrom(window), summary);
        QCOMPARE(namesIn(files_->out), names);
        for (const fs::path& file : taken) {
            QCOMPARE(test::read_file(file) == "old", answer != "Replace");
        }
        // Only a stopped run leaves the files to convert.
        const JobState state = answer.isEmpty() ? JobState::Ready : JobState::Done;
        QCOMPARE(states(window.controller()), (QList<JobState>{state, state}));
        QCOMPARE(widget<QPushButton>(window, "convertButton")->isEnabled(), answer.isEmpty());
    }

    void cancelWithEscape() {
        PageGate gate(PageGate::Stage::Render, 2);
        MainWindow window;
        window.controller().setJobHooks(gate.hooks());
        const auto opener = gate.openAtScopeExit();
        QVERIFY(prepare(window, {files_->pdf("long.pdf", 4), files_->pdf("next.pdf")}));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        widget<QPushButton>(window, "convertButton")->click();
        // Page 1 is written; page 2 waits at the gate.
        QVERIFY(gate.waitUntilReached());
        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_COMPARE(statusLine(window), kCancelling);
        QVERIFY(window.controller().isCancelling());
        gate.open();
        QCOMPARE(waitForRun(finished), "1 images, stopped");
        QCOMPARE(statusLine(window), "Stopped. No file was finished. 1 image saved.");
        QCOMPARE(states(window.controller()),
                 (QList<JobState>{JobState::Cancelled, JobState::Ready}));
        QCOMPARE(window.controller().model()->index(0, 3).data().toString(),
                 "Cancelled — 1 of 4 pages saved");
        QCOMPARE(namesIn(files_->out), QStringList{"long_page_0001.jpg"});

        // A cancelled job runs again, from scratch, in the next run.
        ConversionSettings again = window.settingsPanel().settings();
        again.onExists = ExistingFilePolicy::Replace;
        QCOMPARE(runToEnd(window.controller(), again), "2 converted, 5 images");
        QCOMPARE(states(window.controller()), (QList<JobState>{JobState::Done, JobState::Done}));
    }

    void cancellingTextSurvivesProgress() {
        // Cancelled while the only page is encoded: its reports (the total and the
        // page) arrive after the cancel and leave its text alone. The engine no
        // longer looks at the token, so the job ends normally and the run after it.
        PageGate gate(PageGate::Stage::Encode, 1);
        MainWindow window;
        window.controller().setJobHooks(gate.hooks());
        const auto opener = gate.openAtScopeExit();
        QVERIFY(prepare(window, {files_->pdf("short.pdf"), files_->pdf("next.pdf")}));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        QStringList seen;
        connect(&window.controller(), &ConversionController::jobProgress, this, [&] {
            seen << statusLine(window)
                 << QString::number(widget<QProgressBar>(window, "progressBar")->value());
        });
        widget<QPushButton>(window, "convertButton")->click();
        QVERIFY(gate.waitUntilReached());
        widget<QPushButton>(window, "cancelButton")->click();
        gate.open();
        QCOMPARE(waitForRun(finished), "1 converted, 1 images, stopped");
        QCOMPARE(seen, (QStringList{kCancelling, "0", kCancelling, "1"}));
        QCOMPARE(statusLine(window), "Stopped. 1 file converted. 1 image saved.");
        QCOMPARE(states(window.controller()), (QList<JobState>{JobState::Done, JobState::Ready}));
    }

    void refusedStartsSayWhy() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("a.pdf")}));
        // Not ready: the reason goes to the status line.
        window.settingsPanel().setOutputFolder(QString());
        QCOMPARE(statusLine(window), "Choose where to save the images.");
        widget<QLabel>(window, "statusLabel")->setText(QString());
        window.startConversion();
        QCOMPARE(statusLine(window), "Choose where to save the images.");

        // Refused by the controller: the folder went away after it was chosen.
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        fs::remove_all(files_->out);
        QStringList reported;
        whenOpens<QMessageBox>([&](QMessageBox* box) {
            reported = describe(box);
            box->button(QMessageBox::Ok)->click();
        });
        widget<QPushButton>(window, "convertButton")->click();
        QCOMPARE(reported, (QStringList{"Cannot start", "Warning", "Choose an output folder first.",
                                        "", "OK accept default"}));
        QCOMPARE(statusLine(window), "Ready to convert.");
        QVERIFY(!window.controller().isRunning());
    }

    void closingDuringARun() {
        PageGate gate(PageGate::Stage::Render, 1);
        auto window = std::make_unique<MainWindow>();
        window->controller().setJobHooks(gate.hooks());
        const auto opener = gate.openAtScopeExit();
        QVERIFY(prepare(*window, {files_->pdf("a.pdf", 2)}));
        ConversionController& controller = window->controller();
        QStringList started;
        connect(&controller, &ConversionController::runStarted, this,
                [&] { started.append(statusLine(*window)); });
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        widget<QPushButton>(*window, "convertButton")->click();
        QVERIFY(gate.waitUntilReached());
        QCOMPARE(started, QStringList{"Starting 1 file…"});

        const auto answer = [&window](QMessageBox::StandardButton button) {
            whenOpens<QMessageBox>([&window, button](QMessageBox* box) {
                QCOMPARE(box->parentWidget(), window.get());
                QCOMPARE(describe(box),
                         (QStringList{"Conversion in progress", "Question",
                                      "A conversion is still running. Stop it and quit? Pages "
                                      "already saved are kept.",
                                      "", "&No no default", "&Yes yes"}));
                box->button(button)->click();
            });
        };
        // Visible, running, cancelling, settings saved.
        const auto state = [&] {
            return QList<bool>{window->isVisible(), controller.isRunning(),
                               controller.isCancelling(), QSettings().contains("conversion/dpi")};
        };

        answer(QMessageBox::No);
        QVERIFY(!window->close());
        QCOMPARE(state(), (QList<bool>{true, true, false, false}));
        answer(QMessageBox::Yes);
        QVERIFY(window->close());
        QCOMPARE(state(), (QList<bool>{false, true, true, true}));
        gate.open();
        QCOMPARE(waitForRun(finished), "0 images, stopped");
    }

    void aboutBox() {
        MainWindow window;
        QVERIFY(shown(window));
        QStringList reported;
        QImage icon;
        whenOpens<QMessageBox>([&](QMessageBox* box) {
            QCOMPARE(box->parentWidget(), &window);
            reported = describe(box);
            icon = box->iconPixmap().toImage();
            box->accept();
        });
        window.findChild<QAction*>(QStringLiteral("aboutAction"))->trigger();

        // The application's own icon, not a stock one: the leaf's yellow in the
        // middle.
        QVERIFY(!icon.isNull());
        const QColor middle = icon.pixelColor(icon.width() / 2, icon.height() / 2);
        QVERIFY2(middle.red() > 200 && middle.green() > 150 && middle.blue() < 120,
                 qPrintable(middle.name()));

        QCOMPARE(reported.value(0), "About Brightleaf");
        const QString text = reported.value(2);
        const VersionInfo versions = version_info();
        QVERIFY(text.startsWith("<p><b>Brightleaf</b> " +
                                QString::fromStdString(versions.application)));
        QCOMPARE(text.count(QStringLiteral("<p>")), 7);
        for (const QString& part : QStringList{
                 QString::fromStdString(versions.pdfium),
                 QString::fromStdString(versions.libjpeg_turbo), qVersion(),
                 "preview build, not for production use", "Your files are not uploaded.",
                 "GNU Lesser General Public License version 3", "may be replaced",
                 "Portions of this software are copyright © The FreeType Project "
                 "(www.freetype.org). All rights reserved.",
                 "This software is based in part on the work of the Independent JPEG Group.",
                 "“licenses” folder next to the application",
                 QString("up to %1 sandboxed helper processes").arg(default_render_helpers()),
                 QString::fromStdString("(sandbox: " + sandbox_summary() + ")")}) {
            QVERIFY2(text.contains(part), qPrintable(part));
        }
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::RunFlowTest)
#include "run_flow_test.moc"
