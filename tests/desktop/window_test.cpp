// The main window: stored settings, its controls' states, keys and prompts, and
// whole runs from the Convert button to the files on disk.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>

#include "bl/live_checks.h"
#include "desktop/main_window.h"
#include "desktop/settings_panel.h"
#include "tests/desktop/desktop_test_helpers.h"

namespace bl::desktop {

using namespace test_helpers;

namespace {

// A hint's text, marked when it looks like a problem.
QString hint(const QObject& window, const char* name) {
    const QLabel* label = widget<QLabel>(window, name);
    return label->text() + (label->styleSheet().isEmpty() ? "" : " [problem]");
}

template <class Result>
QString problem(const Result& result, const QString& file = {}) {
    return "Problem: " + file + QString::fromStdString(result.error().message) + " [problem]";
}

// The settings a user sees, in one line.
QString panel(const MainWindow& window) {
    const auto on = [&window](const char* name) {
        return widget<QAbstractButton>(window, name)->isChecked() ? "1" : "0";
    };
    return QStringList{widget<QComboBox>(window, "presetCombo")->currentText(),
                       widget<QDoubleSpinBox>(window, "dpiSpin")->text(),
                       widget<QSpinBox>(window, "qualitySpin")->text(),
                       widget<QPushButton>(window, "backgroundButton")->text(),
                       widget<QLineEdit>(window, "templateEdit")->text(),
                       widget<QComboBox>(window, "onExistsCombo")->currentText(),
                       on("zipCheck") + on("annotationsCheck") + on("formFieldsCheck") +
                           on("rememberFolderCheck") + on("advancedToggle"),
                       widget<QLineEdit>(window, "outputFolderEdit")->text()}
        .join(" | ");
}

QStringList settingsIn(QSettings& store) {
    QStringList entries;
    for (const QString& key : store.allKeys()) {
        entries.append(key + '=' + (key == "ui/geometry" ? "set" : store.value(key).toString()));
    }
    return entries;
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixtures> files_;

    std::unique_ptr<QSettings> store() const {
        return std::make_unique<QSettings>(qpath(files_->dir / "settings.ini"),
                                           QSettings::IniFormat);
    }
    // Shows the window with the files queued and inspected and a folder chosen.
    bool prepare(MainWindow& window, const QList<fs::path>& files) {
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        return shown(window) && addAndInspect(window.controller(), files);
    }
    // Clicks Convert and waits for the run's end: the status line then.
    static QString runFrom(MainWindow& window) {
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        widget<QPushButton>(window, "convertButton")->click();
        const QString outcome = waitForRun(finished);
        return finished.count() == 1 ? statusLine(window) : outcome;
    }

  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() {
        QSettings().clear();
        files_ = std::make_unique<Fixtures>();
    }
    void cleanup() { files_.reset(); }

    void storedValuesAreCorrected_data() {
        QTest::addColumn<QVariantMap>("stored");  // keys under "conversion/"
        QTest::addColumn<QString>("loaded");
        QTest::addColumn<QString>("screen");  // the preset, the DPI and the colour button
        const QString white = QStringLiteral("preset 2 at 150, White on #ffffff");
        // The window applies the DPI first and then the preset, which wins.
        QTest::newRow("above the ranges")
            << QVariantMap{{"dpi", 5000}, {"quality", 101}, {"presetIndex", 7}, {"onExists", 5}}
            << "600 DPI, quality 100, preset 2, policy 0, #ffffff" << white;
        QTest::newRow("below the ranges")
            << QVariantMap{{"dpi", 3}, {"quality", 0}, {"presetIndex", -2}, {"onExists", -1}}
            << "10 DPI, quality 1, preset 2, policy 0, #ffffff" << white;
        QTest::newRow("not numbers")
            << QVariantMap{{"dpi", "inf"}, {"quality", "best"}, {"background", "blue"}}
            << "150 DPI, quality 90, preset 2, policy 0, #ffffff" << white;
        QTest::newRow("kept") << QVariantMap{{"dpi", 222.0},
                                             {"quality", 55},
                                             {"presetIndex", 5},
                                             {"onExists", 2},
                                             {"background", 0x1020FFu}}
                              << "222 DPI, quality 55, preset 5, policy 2, #1020ff"
                              << "preset 5 at 600, #1020FF on #1020ff";
        // Without a preset the combo follows the DPI.
        QTest::newRow("custom at a preset's DPI")
            << QVariantMap{{"presetIndex", -1}, {"dpi", 300}, {"onExists", 1}}
            << "300 DPI, quality 90, preset -1, policy 1, #ffffff"
            << "preset 4 at 300, White on #ffffff";
        QTest::newRow("custom at another DPI")
            << QVariantMap{{"presetIndex", -1}, {"dpi", 123}}
            << "123 DPI, quality 90, preset -1, policy 0, #ffffff"
            << "preset 6 at 123, White on #ffffff";
    }

    void storedValuesAreCorrected() {
        QFETCH(QVariantMap, stored);
        QFETCH(QString, loaded);
        QFETCH(QString, screen);
        const auto settings = store();
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            settings->setValue("conversion/" + it.key(), it.value());
        }
        const SavedSettings saved = SettingsStore(*settings).load();
        const Rgb rgb = saved.background;
        QCOMPARE(QStringLiteral("%1 DPI, quality %2, preset %3, policy %4, %5")
                     .arg(saved.dpi)
                     .arg(saved.quality)
                     .arg(saved.presetIndex)
                     .arg(static_cast<int>(saved.onExists))
                     .arg(QColor(rgb.red, rgb.green, rgb.blue).name()),
                 loaded);
        MainWindow window;
        window.applySettings(saved);
        auto* button = widget<QPushButton>(window, "backgroundButton");
        QCOMPARE(QStringLiteral("preset %1 at %2, %3 on %4")
                     .arg(widget<QComboBox>(window, "presetCombo")->currentIndex())
                     .arg(widget<QDoubleSpinBox>(window, "dpiSpin")->value())
                     .arg(button->text(),
                          button->icon().pixmap(16, 16).toImage().pixelColor(8, 8).name()),
                 screen);
        QCOMPARE(window.settingsPanel().settings().background, saved.background);
    }

    void roundTrip() {
        const QString folder = qpath(files_->out);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const auto settings = store();
        QString before;
        {
            MainWindow window;
            // Placed on a screen that has gone since.
            window.setGeometry(QRect(screen.topLeft() + QPoint(9000, 7000), QSize(1000, 700)));
            QVERIFY(shown(window));
            widget<QComboBox>(window, "presetCombo")->setCurrentIndex(4);
            widget<QSpinBox>(window, "qualitySpin")->setValue(75);
            widget<QLineEdit>(window, "templateEdit")->setText("{original}-{dpi}-{page_number}");
            widget<QComboBox>(window, "onExistsCombo")->setCurrentIndex(2);
            widget<QCheckBox>(window, "zipCheck")->setChecked(true);
            widget<QCheckBox>(window, "annotationsCheck")->setChecked(false);
            widget<QCheckBox>(window, "formFieldsCheck")->setChecked(false);
            widget<QCheckBox>(window, "rememberFolderCheck")->setChecked(true);
            widget<QPushButton>(window, "advancedToggle")->setChecked(true);
            window.settingsPanel().setOutputFolder(folder);
            SavedSettings colour = window.settingsToSave();
            colour.background = Rgb{16, 32, 255};
            window.applySettings(colour);
            before = panel(window);
            // A page selection goes into a run, trimmed, and is never stored.
            widget<QRadioButton>(window, "selectedPagesRadio")->setChecked(true);
            widget<QLineEdit>(window, "pagesEdit")->setText(QStringLiteral(" 1-2 "));
            QCOMPARE(window.settingsPanel().settings().pages, "1-2");
            SettingsStore(*settings).save(window.settingsToSave());
            QVERIFY(window.close());  // which stores the same in the user's store
        }
        QCOMPARE(
            settingsIn(*settings),
            (QStringList{
                "conversion/annotations=false", "conversion/background=1057023",
                "conversion/createZip=true", "conversion/dpi=300", "conversion/formFields=false",
                "conversion/nameTemplate={original}-{dpi}-{page_number}", "conversion/onExists=2",
                "conversion/presetIndex=4", "conversion/quality=75", "output/folder=" + folder,
                "output/remember=true", "ui/advancedExpanded=true", "ui/geometry=set"}));
        QSettings user;
        QCOMPARE(settingsIn(user), settingsIn(*settings));
        MainWindow restored;
        QCOMPARE(panel(restored), before);
        // Its title bar can be reached again.
        QVERIFY(shown(restored));
        QCOMPARE(restored.size(), QSize(1000, 700));
        QVERIFY(screen.contains(restored.frameGeometry().topLeft()));

        // A folder is kept only while it is remembered, and only if it is there.
        widget<QCheckBox>(restored, "rememberFolderCheck")->setChecked(false);
        SettingsStore(*settings).save(restored.settingsToSave());
        QVERIFY(!settings->contains("output/folder"));
        settings->setValue("output/folder", folder);
        QVERIFY(SettingsStore(*settings).load().outputFolder.isEmpty());
        settings->setValue("output/remember", true);
        fs::remove(files_->out);
        MainWindow gone;
        gone.applySettings(SettingsStore(*settings).load());
        QVERIFY(widget<QLineEdit>(gone, "outputFolderEdit")->text().isEmpty());
    }

    void hintsAndTheConvertButton() {
        MainWindow window;
        auto* pages = widget<QLineEdit>(window, "pagesEdit");
        auto* name = widget<QLineEdit>(window, "templateEdit");
        auto* convert = widget<QPushButton>(window, "convertButton");
        const QString all = QStringLiteral("Every page of each file is converted.");
        QCOMPARE(hint(window, "pagesHint"), all);
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        widget<QRadioButton>(window, "selectedPagesRadio")->setChecked(true);
        // No file knows its page count yet: only the syntax counts.
        pages->setText(QStringLiteral("1000001"));
        QCOMPARE(hint(window, "pagesHint"), problem(parse_page_selection("1000001", 1000000)));

        QVERIFY(addAndInspect(window.controller(), {files_->pdf("short.pdf", 3, 300.0, 400.0),
                                                    files_->pdf("wide.pdf", 10, 14400.0, 100.0)}));
        pages->setText(QStringLiteral("5"));
        QCOMPARE(hint(window, "pagesHint"), problem(parse_page_selection("5", 3), "short.pdf: "));
        QCOMPARE(QStringList({convert->toolTip(), QString::number(convert->isEnabled())}),
                 QStringList({"Fix the page selection.", "0"}));
        pages->setText(QStringLiteral(" 1-3, 2 "));
        QVERIFY(convert->isEnabled());
        widget<QRadioButton>(window, "allPagesRadio")->setChecked(true);
        QCOMPARE(hint(window, "pagesHint"), all);

        name->setText(QStringLiteral("{nope}"));
        QCOMPARE(hint(window, "templateHint"), problem(render_file_name("{nope}", NamingValues{})));
        QCOMPARE(convert->toolTip(), "Fix the file naming template.");
        name->setText(QStringLiteral("{original}_{page_count}_{dpi}"));
        QCOMPARE(hint(window, "templateHint"), "Example: short_3_150.jpg");
        QVERIFY(convert->isEnabled());

        // The first file with a size is the reference, unless a row is selected; a
        // page too large is only a hint and does not block the start.
        QCOMPARE(hint(window, "dpiHint"), "First page of short.pdf: 625 × 833 pixels");
        auto* view = widget<QTableView>(window, "queueView");
        view->selectionModel()->select(view->model()->index(1, 0),
                                       QItemSelectionModel::Rows | QItemSelectionModel::Select);
        widget<QComboBox>(window, "presetCombo")->setCurrentIndex(5);
        QCOMPARE(hint(window, "dpiHint"),
                 problem(page_pixel_size({14400.0, 100.0}, 600.0, ConvertLimits{})));
        QVERIFY(convert->isEnabled());
    }

    void typingAResolutionPicksItsPreset() {
        MainWindow window;
        QVERIFY(shown(window));
        widget<QPushButton>(window, "advancedToggle")->click();
        auto* dpi = widget<QDoubleSpinBox>(window, "dpiSpin");
        QList<int> presets;
        for (const char* typed : {"300", "151"}) {
            dpi->setFocus();
            dpi->selectAll();
            QTest::keyClicks(dpi, typed);
            QTest::keyClick(dpi, Qt::Key_Enter);
            presets << widget<QComboBox>(window, "presetCombo")->currentIndex()
                    << window.settingsToSave().presetIndex;
        }
        // A resolution of no preset is stored as Custom.
        QCOMPARE(presets, (QList<int>{4, 4, 6, -1}));
        QCOMPARE(window.settingsToSave().dpi, 151.0);
    }

    void queueControlsAndKeys() {
        MainWindow window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const auto enabled = [&window] {
            return enabledOf(window, {"convertButton", "cancelButton", "removeButton",
                                      "clearButton", "addButton"});
        };
        QCOMPARE(enabled(), QStringList{"addButton"});

        // Dropped: only local files named as PDFs.
        QMimeData mime;
        const fs::path folder = files_->dir / "folder.pdf";
        fs::create_directory(folder);
        mime.setUrls({QUrl::fromLocalFile(qpath(files_->pdf("SCAN.PDF"))),
                      QUrl::fromLocalFile(qpath(folder)),
                      QUrl::fromLocalFile(qpath(files_->file("notes.txt", "text"))),
                      QUrl("https://example.com/brochure.pdf"),
                      QUrl::fromLocalFile(qpath(files_->pdf("b.pdf"))),
                      QUrl::fromLocalFile(qpath(files_->pdf("c.pdf")))});
        QVERIFY(window.acceptDrops());
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&window, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&window, &drop);
        QVERIFY(enter.isAccepted() && drop.isAccepted());
        QCOMPARE(window.controller().model()->rowCount(), 3);
        // Files being checked hold the start back.
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        QCOMPARE(statusLine(window), QString::fromUtf8("Checking files…"));
        QCOMPARE(enabled(), (QStringList{"clearButton", "addButton"}));
        QVERIFY(inspected(window.controller()));
        QCOMPARE(enabled(), (QStringList{"convertButton", "clearButton", "addButton"}));

        auto* view = widget<QTableView>(window, "queueView");
        for (const int row : {0, 2}) {
            view->selectionModel()->select(view->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        QVERIFY(widget(window, "removeButton")->isEnabled());
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Delete);
        QTRY_COMPARE(window.controller().model()->jobs().first().fileName, "b.pdf");
        QCOMPARE(window.controller().model()->rowCount(), 1);
    }

    void twoFilesFromStartToSummary() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("first.pdf"), files_->pdf("second report.pdf", 2)}));
        widget<QCheckBox>(window, "zipCheck")->setChecked(true);
        auto* bar = widget<QProgressBar>(window, "progressBar");
        const auto enabled = [&window] {
            return enabledOf(window, {"convertButton", "cancelButton", "allPagesRadio",
                                      "presetCombo", "advancedGroup", "chooseFolderButton",
                                      "clearButton", "rememberFolderCheck", "addButton"});
        };
        // Connected after the window's own handlers, so each sees what they left.
        QStringList seen;
        ConversionController& controller = window.controller();
        connect(&controller, &ConversionController::runStarted, this, [&] {
            seen.append(statusLine(window));
            QCOMPARE(enabled(), (QStringList{"cancelButton", "rememberFolderCheck", "addButton"}));
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
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QTest::keyClick(&window, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(waitForRun(finished), "2 converted, 3 images");
        const QString title = QStringLiteral("Brightleaf — PDF to JPG");
        const QString first = QStringLiteral("Converting first.pdf (file 1 of 2)");
        const QString second = QStringLiteral("Converting second report.pdf (file 2 of 2)");
        QCOMPARE(seen, (QStringList{"Starting 2 files…", first + "…",
                                    first + " — page 0 of 1 [0/1] 0% — " + title,
                                    first + " — page 1 of 1 [1/1] 50% — " + title, second + "…",
                                    second + " — page 0 of 2 [0/2] 50% — " + title,
                                    second + " — page 1 of 2 [1/2] 75% — " + title,
                                    second + " — page 2 of 2 [2/2] 100% — " + title}));
        QCOMPARE(statusLine(window), "2 files converted. 3 images saved.");
        QCOMPARE(MainWindow::summaryText({3, 1, 2, 1, 12, false}),
                 "3 files converted, 1 partly converted, 2 failed, 1 skipped. 12 images saved. "
                 "See the Status column for details.");
        QVERIFY(bar->isHidden());
        QCOMPARE(window.windowTitle(), title);
        // Everything is unlocked, but nothing is left to convert.
        QCOMPARE(enabled(),
                 (QStringList{"allPagesRadio", "presetCombo", "advancedGroup", "chooseFolderButton",
                              "clearButton", "rememberFolderCheck", "addButton"}));
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
    }

    void passwordPrompts() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->locked("locked.pdf"), files_->pdf("open.pdf")}));
        QStringList labels;
        // First a wrong password, then an empty answer, which skips the file.
        whenOpens<QInputDialog>([&](QInputDialog* dialog) {
            QCOMPARE(dialog->textEchoMode(), QLineEdit::Password);
            labels.append(dialog->labelText());
            // Typing stops at the 127 bytes a PDF password can hold, before a
            // character that would not fit whole.
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
        QString asked;
        whenOpens<QMessageBox>([&](QMessageBox* box) {
            asked = box->text();
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == answer) {
                    return button->click();
                }
            }
            box->close();
        });
        QCOMPARE(runFrom(window), summary);
        QCOMPARE(asked,
                 "\"a_page_0002.jpg\" already exists in the output folder. Choose another "
                 "folder, or allow overwriting or renaming.");
        QCOMPARE(namesIn(files_->out), names);
        for (const fs::path& file : taken) {
            QCOMPARE(test::read_file(file) == "old", answer != "Replace");
        }
        // Only a stopped run leaves the files to convert.
        const JobState state = answer.isEmpty() ? Ready : Done;
        QCOMPARE(states(window.controller()), (States{state, state}));
    }

    void cancelWithEscape() {
        PageGate gate(false, 2);
        MainWindow window;
        window.controller().setJobHooks(gate.hooks());
        const auto opener = qScopeGuard([&gate] { gate.open(); });
        QVERIFY(prepare(window, {files_->pdf("long.pdf", 4), files_->pdf("next.pdf")}));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        widget<QPushButton>(window, "convertButton")->click();
        // Page 1 is written; page 2 waits at the gate.
        QVERIFY(gate.waitUntilReached());
        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_COMPARE(statusLine(window), QString::fromUtf8("Cancelling after the current page…"));
        gate.open();
        QCOMPARE(waitForRun(finished), "1 images, stopped");
        QCOMPARE(statusLine(window), "Stopped. No file was finished. 1 image saved.");
        QCOMPARE(states(window.controller()), (States{Cancelled, Ready}));
        QCOMPARE(namesIn(files_->out), QStringList{"long_page_0001.jpg"});
        // A cancelled job runs again, from scratch, in the next run.
        ConversionSettings again = window.settingsPanel().settings();
        again.onExists = ExistingFilePolicy::Replace;
        QCOMPARE(runToEnd(window.controller(), again), "2 converted, 5 images");
    }

    void refusedStartsSayWhy() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("a.pdf")}));
        window.settingsPanel().setOutputFolder(QString());
        widget<QLabel>(window, "statusLabel")->setText(QString());
        window.startConversion();
        QCOMPARE(statusLine(window), "Choose where to save the images.");
        QVERIFY(!widget(window, "convertButton")->isEnabled());

        // Refused by the controller: the folder went away after it was chosen.
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        fs::remove_all(files_->out);
        QString reported;
        whenOpens<QMessageBox>([&](QMessageBox* box) {
            reported = box->windowTitle() + ": " + box->text();
            box->accept();
        });
        widget<QPushButton>(window, "convertButton")->click();
        QCOMPARE(reported, "Cannot start: Choose an output folder first.");
        QVERIFY(!window.controller().isRunning());
    }

    void closingDuringARun() {
        PageGate gate(false, 1);
        MainWindow window;
        window.controller().setJobHooks(gate.hooks());
        const auto opener = qScopeGuard([&gate] { gate.open(); });
        QVERIFY(prepare(window, {files_->pdf("a.pdf", 2)}));
        ConversionController& controller = window.controller();
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        widget<QPushButton>(window, "convertButton")->click();
        QVERIFY(gate.waitUntilReached());
        // Visible, running, cancelling, settings saved.
        const auto state = [&] {
            return QList<bool>{window.isVisible(), controller.isRunning(),
                               controller.isCancelling(), QSettings().contains("conversion/dpi")};
        };
        for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            whenOpens<QMessageBox>([answer](QMessageBox* box) { box->button(answer)->click(); });
            QCOMPARE(window.close(), answer == QMessageBox::Yes);
            QCOMPARE(state(),
                     (QList<bool>{answer == QMessageBox::No, true, answer == QMessageBox::Yes,
                                  answer == QMessageBox::Yes}));
        }
        gate.open();
        QCOMPARE(waitForRun(finished), "0 images, stopped");
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::WindowTest)
#include "window_test.moc"
