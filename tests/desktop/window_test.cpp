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

// What the user's store holds, the window's geometry only as present.
QStringList stored() {
    QSettings store;
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

    // Shows the window with the files queued and inspected and a folder chosen.
    bool prepare(MainWindow& window, const QList<fs::path>& files) {
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        window.show();
        return QTest::qWaitForWindowActive(&window) && addAndInspect(window.controller(), files);
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
        QTest::addColumn<QVariantMap>("values");  // keys under "conversion/"
        QTest::addColumn<QString>("loaded");      // and then shown: preset, DPI, colour
        QTest::newRow("above the ranges")
            << QVariantMap{{"dpi", 5000}, {"quality", 101}, {"presetIndex", 7}, {"onExists", 5}}
            << "600 DPI, quality 100, preset 2, policy 0, #ffffff; 2 at 150, White #ffffff";
        QTest::newRow("below the ranges")
            << QVariantMap{{"dpi", 3}, {"quality", 0}, {"presetIndex", -2}, {"onExists", -1}}
            << "10 DPI, quality 1, preset 2, policy 0, #ffffff; 2 at 150, White #ffffff";
        QTest::newRow("not numbers")
            << QVariantMap{{"dpi", "inf"}, {"quality", "best"}, {"background", "blue"}}
            << "150 DPI, quality 90, preset 2, policy 0, #ffffff; 2 at 150, White #ffffff";
        QTest::newRow("kept")
            << QVariantMap{{"dpi", 222},
                           {"quality", 55},
                           {"presetIndex", 5},
                           {"onExists", 2},
                           {"background", 0x1020FFu}}
            << "222 DPI, quality 55, preset 5, policy 2, #1020ff; 5 at 600, #1020FF #1020ff";
        // Without a preset the combo follows the DPI.
        QTest::newRow("custom at a preset's DPI")
            << QVariantMap{{"presetIndex", -1}, {"dpi", 300}, {"onExists", 1}}
            << "300 DPI, quality 90, preset -1, policy 1, #ffffff; 4 at 300, White #ffffff";
        QTest::newRow("custom at another DPI")
            << QVariantMap{{"presetIndex", -1}, {"dpi", 123}}
            << "123 DPI, quality 90, preset -1, policy 0, #ffffff; 6 at 123, White #ffffff";
    }

    void storedValuesAreCorrected() {
        QFETCH(QVariantMap, values);
        QFETCH(QString, loaded);
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            QSettings().setValue("conversion/" + it.key(), it.value());
        }
        const SavedSettings saved = SettingsStore().load();
        const Rgb rgb = saved.background;
        MainWindow window;
        auto* button = widget<QPushButton>(window, "backgroundButton");
        QCOMPARE(QStringLiteral("%1 DPI, quality %2, preset %3, policy %4, %5; %6 at %7, %8 %9")
                     .arg(saved.dpi)
                     .arg(saved.quality)
                     .arg(saved.presetIndex)
                     .arg(static_cast<int>(saved.onExists))
                     .arg(QColor(rgb.red, rgb.green, rgb.blue).name())
                     .arg(widget<QComboBox>(window, "presetCombo")->currentIndex())
                     .arg(widget<QDoubleSpinBox>(window, "dpiSpin")->value())
                     .arg(button->text(),
                          button->icon().pixmap(16, 16).toImage().pixelColor(8, 8).name()),
                 loaded);
        QCOMPARE(window.settingsPanel().settings().background, saved.background);
    }

    void roundTrip() {
        const QString folder = qpath(files_->out);
        SavedSettings before;
        {
            MainWindow window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            widget<QComboBox>(window, "presetCombo")->setCurrentIndex(4);
            widget<QSpinBox>(window, "qualitySpin")->setValue(75);
            widget<QLineEdit>(window, "templateEdit")->setText("{original}-{dpi}-{page_number}");
            widget<QComboBox>(window, "onExistsCombo")->setCurrentIndex(2);
            for (const char* box : {"zipCheck", "annotationsCheck", "formFieldsCheck",
                                    "rememberFolderCheck", "advancedToggle"}) {
                widget<QAbstractButton>(window, box)->toggle();
            }
            window.settingsPanel().setOutputFolder(folder);
            before = window.settingsToSave();
            before.background = Rgb{16, 32, 255};
            window.applySettings(before);
            // A page selection goes into a run, trimmed, and is never stored.
            widget<QRadioButton>(window, "selectedPagesRadio")->setChecked(true);
            widget<QLineEdit>(window, "pagesEdit")->setText(QStringLiteral(" 1-2 "));
            QCOMPARE(window.settingsPanel().settings().pages, "1-2");
            QVERIFY(window.close());
        }
        const QStringList keys = stored();
        QCOMPARE(
            keys,
            (QStringList{
                "conversion/annotations=false", "conversion/background=1057023",
                "conversion/createZip=true", "conversion/dpi=300", "conversion/formFields=false",
                "conversion/nameTemplate={original}-{dpi}-{page_number}", "conversion/onExists=2",
                "conversion/presetIndex=4", "conversion/quality=75", "output/folder=" + folder,
                "output/remember=true", "ui/advancedExpanded=true", "ui/geometry=set"}));
        // Restored as it was, the window stores the same again.
        MainWindow restored;
        SettingsStore().save(restored.settingsToSave());
        QCOMPARE(stored(), keys);
        // A folder is stored only while it is remembered.
        widget<QCheckBox>(restored, "rememberFolderCheck")->setChecked(false);
        SettingsStore().save(restored.settingsToSave());
        QCOMPARE(stored().filter("output/"), QStringList{"output/remember=false"});
    }

    void hintsAndTheConvertButton() {
        MainWindow window;
        auto* pages = widget<QLineEdit>(window, "pagesEdit");
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
        QCOMPARE(convert->toolTip() + QString::number(convert->isEnabled()),
                 "Fix the page selection.0");
        pages->setText(QStringLiteral(" 1-3, 2 "));
        QVERIFY(convert->isEnabled());
        widget<QRadioButton>(window, "allPagesRadio")->setChecked(true);
        QCOMPARE(hint(window, "pagesHint"), all);

        auto* name = widget<QLineEdit>(window, "templateEdit");
        name->setText(QStringLiteral("{nope}"));
        QCOMPARE(hint(window, "templateHint"), problem(render_file_name("{nope}", NamingValues{})));
        QCOMPARE(convert->toolTip() + QString::number(convert->isEnabled()),
                 "Fix the file naming template.0");
        name->setText(QStringLiteral("{original}_{page_number}_{page_count}_{dpi}"));
        QCOMPARE(hint(window, "templateHint"), "Example: short_1_3_150.jpg");
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

    void queueControlsAndKeys() {
        MainWindow window;
        QVERIFY(prepare(window, {}));
        const auto enabled = [&window] {
            return enabledOf(window, {"convertButton", "removeButton", "clearButton"});
        };
        QCOMPARE(enabled(), QStringList{});
        // Dropped: only local files named as PDFs.
        fs::create_directory(files_->dir / "folder.pdf");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(qpath(files_->pdf("SCAN.PDF"))),
                      QUrl::fromLocalFile(qpath(files_->dir / "folder.pdf")),
                      QUrl::fromLocalFile(qpath(files_->file("notes.txt", "text"))),
                      QUrl("https://example.com/brochure.pdf"),
                      QUrl::fromLocalFile(qpath(files_->pdf("b.pdf"))),
                      QUrl::fromLocalFile(qpath(files_->pdf("c.pdf")))});
        QVERIFY(window.acceptDrops());
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QVERIFY(QCoreApplication::sendEvent(&window, &enter) && enter.isAccepted());
        QVERIFY(QCoreApplication::sendEvent(&window, &drop) && drop.isAccepted());
        QCOMPARE(window.controller().model()->rowCount(), 3);
        // Files being checked hold the start back.
        QCOMPARE(statusLine(window) + enabled().join(' '), "Checking files…clearButton");
        QVERIFY(addAndInspect(window.controller(), {}));
        QCOMPARE(enabled(), (QStringList{"convertButton", "clearButton"}));

        auto* view = widget<QTableView>(window, "queueView");
        for (const int row : {0, 2}) {
            view->selectionModel()->select(view->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        QVERIFY(widget(window, "removeButton")->isEnabled());
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Delete);
        QTRY_COMPARE(window.controller().model()->rowCount(), 1);
        QCOMPARE(window.controller().model()->jobs().first().fileName, "b.pdf");
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
        connect(&controller, &ConversionController::runStarted, this,
                [&] { seen << statusLine(window) << enabled().join(' '); });
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
        QCOMPARE(waitForRun(finished), "2/0/0/0, 3 images");
        const QString title = QStringLiteral("Brightleaf — PDF to JPG");
        const QString first = QStringLiteral("Converting first.pdf (file 1 of 2)");
        const QString second = QStringLiteral("Converting second report.pdf (file 2 of 2)");
        QCOMPARE(seen,
                 (QStringList{"Starting 2 files…", "cancelButton rememberFolderCheck addButton",
                              first + "…", first + " — page 0 of 1 [0/1] 0% — " + title,
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
        QCOMPARE(enabled().join(' '),
                 "allPagesRadio presetCombo advancedGroup chooseFolderButton "
                 "clearButton rememberFolderCheck addButton");
        const QStringList names = namesIn(files_->out);
        QCOMPARE(names,
                 (QStringList{"first.zip", "first_page_0001.jpg", "second report.zip",
                              "second report_page_0001.jpg", "second report_page_0002.jpg"}));
        for (const QString& name : names) {
            const std::string bytes = test::read_file(files_->out / name.toStdString());
            QCOMPARE(bytes.substr(0, 3),
                     std::string(name.endsWith(".zip") ? "PK\x03" : "\xFF\xD8\xFF"));
        }
    }

    void passwordPrompts() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->locked("locked.pdf"), files_->pdf("open.pdf")}));
        QStringList labels;
        // A wrong password, then an empty answer, which skips the file.
        whenOpens<QInputDialog>([&](QInputDialog* dialog) {
            labels << dialog->labelText() << QString::number(dialog->textEchoMode());
            // Typing stops at the 127 bytes a PDF password can hold, before a
            // character that would not fit whole.
            dialog->findChild<QLineEdit*>()->insert(QString(100, QChar(0xE9)));
            labels.append(QString::number(dialog->textValue().size()));
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
                                      QString::number(QLineEdit::Password), "63",
                                      "That password did not open “locked.pdf”. Try again:"}));
        // "Skip this file" skips it too.
        whenOpens<QInputDialog>([](QInputDialog* dialog) { dialog->reject(); });
        QCOMPARE(runFrom(window), "1 skipped. 0 images saved.");
        QCOMPARE(states(window.controller()), (States{PasswordRequired, Done}));
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
        for (const char* name : {"a_page_0002.jpg", "b_page_0001.jpg"}) {
            test::write_file(files_->out / name, "old");
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
        });
        QCOMPARE(runFrom(window), summary);
        QCOMPARE(asked,
                 "\"a_page_0002.jpg\" already exists in the output folder. Choose another "
                 "folder, or allow overwriting or renaming.");
        QCOMPARE(namesIn(files_->out), names);
        QCOMPARE(test::read_file(files_->out / "b_page_0001.jpg") == "old", answer != "Replace");
        // Only a stopped run leaves the files to convert.
        const JobState state = answer.isEmpty() ? Ready : Done;
        QCOMPARE(states(window.controller()), (States{state, state}));
    }

    void cancelWithEscape() {
        PageGate gate(2);
        MainWindow window;
        window.controller().setJobHooks(gate.hooks());
        const auto opener = qScopeGuard([&gate] { gate.open(); });
        QVERIFY(prepare(window, {files_->pdf("long.pdf", 4), files_->pdf("next.pdf")}));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        widget<QPushButton>(window, "convertButton")->click();
        // Page 1 is written; page 2 waits at the gate.
        QVERIFY(gate.waitUntilReached());
        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_COMPARE(statusLine(window), "Cancelling after the current page…");
        gate.open();
        QCOMPARE(waitForRun(finished), "0/0/0/0, 1 images, stopped");
        QCOMPARE(statusLine(window), "Stopped. No file was finished. 1 image saved.");
        QCOMPARE(states(window.controller()), (States{Cancelled, Ready}));
        QCOMPARE(namesIn(files_->out), QStringList{"long_page_0001.jpg"});
    }

    void refusedStartsSayWhy() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("a.pdf")}));
        window.settingsPanel().setOutputFolder(QString());
        widget<QLabel>(window, "statusLabel")->clear();
        window.startConversion();
        QCOMPARE(statusLine(window), "Choose where to save the images.");
        QVERIFY(!widget(window, "convertButton")->isEnabled());
        // Refused by the controller: the folder went away after it was chosen.
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        fs::remove_all(files_->out);
        QString reported;
        whenOpens<QMessageBox>([&](QMessageBox* box) { reported = box->text(); });
        widget<QPushButton>(window, "convertButton")->click();
        QCOMPARE(reported, "Choose an output folder first.");
        QVERIFY(!window.controller().isRunning());
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::WindowTest)
#include "window_test.moc"
