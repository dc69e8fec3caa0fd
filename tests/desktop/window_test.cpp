// The main window: stored settings, its controls' states, keys and prompts, and
// whole runs from the Convert button to the files on disk.
#include <QAccessible>
#include <QColorDialog>
#include <QDragEnterEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>

#include "bl/live_checks.h"
#include "desktop/job_queue_model.h"
#include "desktop/main_window.h"
#include "desktop/page_pane.h"
#include "desktop/page_preview.h"
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

// The hint for an engine check that failed, prefixed with the file it failed for.
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

void select(const MainWindow& window, int row) {
    auto* view = widget<QTableView>(window, "queueView");
    view->selectionModel()->select(view->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// Which pages a screen reader hears as selected: "+" for each, "-" for the rest.
QString marks(PagePane& pane) {
    QString marked;
    for (int row = 0; row < pane.model().rowCount(); ++row) {
        const QString name = pane.model().index(row).data(Qt::AccessibleTextRole).toString();
        marked += name == QStringLiteral("Page %1, selected").arg(row + 1) ? '+' : '-';
    }
    return marked;
}

// Where page `page` of the pane is on screen, brought into view.
QPoint pageAt(PagePane& pane, int page) {
    const QModelIndex index = pane.model().index(page - 1);
    pane.view()->scrollTo(index);
    return pane.view()->visualRect(index).center();
}

// A page whose form draws itself without end, as the hostile files do.
test::PdfPage selfDrawing(test::PdfWriter& writer) {
    const std::string self = test::PdfWriter::ref(writer.add_object("null") + 1);
    const int form = writer.add_stream(
        "/Type /XObject /Subtype /Form /BBox [0 0 10 10] "
        "/Resources << /XObject << /X0 " +
            self + " >> >>",
        "/X0 Do /X0 Do");
    test::PdfPage page = test::page_of_size(200, 100);
    page.extra_resources = "/XObject << /X " + test::PdfWriter::ref(form) + " >>";
    page.content = "q 200 0 0 100 0 0 cm /X Do Q";
    return page;
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
        QTest::addColumn<QString>("values");  // keys under "conversion/"
        QTest::addColumn<QString>("loaded");  // and then shown: preset, DPI, colour button
        QTest::newRow("above the ranges") << "dpi=5000 quality=101 presetIndex=7 onExists=5"
                                          << "600 DPI, q 100, preset 2, policy 0; 2 at 150, White";
        QTest::newRow("below the ranges") << "dpi=3 quality=0 presetIndex=-2 onExists=-1"
                                          << "10 DPI, q 1, preset 2, policy 0; 2 at 150, White";
        QTest::newRow("not numbers") << "dpi=inf quality=best background=blue presetIndex=x"
                                     << "150 DPI, q 90, preset 2, policy 0; 2 at 150, White";
        // Without a preset the combo follows the DPI.
        QTest::newRow("custom at a preset's DPI")
            << "presetIndex=-1 dpi=300 onExists=1"
            << "300 DPI, q 90, preset -1, policy 1; 4 at 300, White";
    }

    void storedValuesAreCorrected() {
        QFETCH(QString, values);
        QFETCH(QString, loaded);
        for (const QString& entry : values.split(' ')) {
            QSettings().setValue("conversion/" + entry.section('=', 0, 0), entry.section('=', 1));
        }
        const SavedSettings saved = SettingsStore().load();
        MainWindow window;
        QCOMPARE(
            QString::asprintf("%g DPI, q %d, preset %d, policy %d; %d at %g, %s", saved.dpi,
                              saved.quality, saved.presetIndex, static_cast<int>(saved.onExists),
                              widget(window, "presetCombo")->property("currentIndex").toInt(),
                              widget(window, "dpiSpin")->property("value").toDouble(),
                              qPrintable(widget<QPushButton>(window, "backgroundButton")->text())),
            loaded);
    }

    void roundTrip() {
        const QString folder = qpath(files_->out);
        {
            MainWindow window;
            widget(window, "presetCombo")->setProperty("currentIndex", 4);
            widget(window, "qualitySpin")->setProperty("value", 75);
            widget<QLineEdit>(window, "templateEdit")->setText("{original}-{dpi}-{page_number}");
            widget(window, "onExistsCombo")->setProperty("currentIndex", 2);
            for (const char* box :
                 {"zipCheck", "annotationsCheck", "formFieldsCheck", "rememberFolderCheck",
                  "advancedToggle", "selectedPagesRadio"}) {
                widget<QAbstractButton>(window, box)->toggle();
            }
            window.settingsPanel().setOutputFolder(folder);
            // The colour box changes nothing when cancelled.
            auto* background = widget<QPushButton>(window, "backgroundButton");
            QStringList shown;
            for (const bool accepted : {false, true}) {
                whenOpens<QColorDialog>([accepted](QColorDialog* dialog) {
                    dialog->setCurrentColor(QColor(16, 32, 255));
                    accepted ? dialog->accept() : dialog->reject();
                });
                background->click();
                shown << background->text();
            }
            QCOMPARE(shown, (QStringList{"White", "#1020FF"}));
            // The swatch is framed on all four sides, so white shows on white.
            const QImage swatch = background->icon().pixmap(16, 16).toImage();
            for (const QPoint edge : {QPoint(8, 0), QPoint(0, 8), QPoint(15, 8), QPoint(8, 15)}) {
                QCOMPARE(swatch.pixelColor(edge), QColor(0x70, 0x70, 0x70));
            }
            window.resize(1111, 777);
            QVERIFY(window.close());
        }
        // Thirteen keys, and no page selection.
        const QStringList keys = stored();
        QCOMPARE(keys.join(' '),
                 "conversion/annotations=false conversion/background=1057023 "
                 "conversion/createZip=true conversion/dpi=300 conversion/formFields=false "
                 "conversion/nameTemplate={original}-{dpi}-{page_number} conversion/onExists=2 "
                 "conversion/presetIndex=4 conversion/quality=75 output/folder=" +
                     folder + " output/remember=true ui/advancedExpanded=true ui/geometry=set");
        // Restored as it was, at its size, the window stores the same again.
        MainWindow restored;
        QCOMPARE(restored.size(), QSize(1111, 777));
        SettingsStore().save(restored.settingsToSave());
        QCOMPARE(stored(), keys);
        // A folder is stored only while it is remembered.
        widget<QAbstractButton>(restored, "rememberFolderCheck")->toggle();
        SettingsStore().save(restored.settingsToSave());
        QCOMPARE(stored().filter("output/"), QStringList{"output/remember=false"});
    }

    void hintsAndTheConvertButton() {
        MainWindow window;
        auto* pages = widget<QLineEdit>(window, "pagesEdit");
        auto* convert = widget<QPushButton>(window, "convertButton");
        const auto blocked = [convert] { return convert->isEnabled() ? "" : convert->toolTip(); };
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        widget<QAbstractButton>(window, "selectedPagesRadio")->toggle();
        // No file knows its page count yet: only the syntax counts.
        pages->setText(QStringLiteral("1000001"));
        QCOMPARE(hint(window, "pagesHint"), problem(parse_page_selection("1000001", 1000000)));
        QVERIFY(addAndInspect(window.controller(), {files_->pdf("short.pdf", 3, 300.0, 400.0),
                                                    files_->pdf("wide.pdf", 10, 14400.0, 100.0)}));
        pages->setText(QStringLiteral("5"));
        QCOMPARE(hint(window, "pagesHint"), problem(parse_page_selection("5", 3), "short.pdf: "));
        QCOMPARE(blocked(), "Fix the page selection.");
        pages->setText(QStringLiteral(" 1-3, 2 "));
        QCOMPARE(hint(window, "pagesHint") + blocked(),
                 "Pages are numbered from 1. Use commas and ranges.");

        auto* name = widget<QLineEdit>(window, "templateEdit");
        name->setText(QStringLiteral("{nope}"));
        QCOMPARE(hint(window, "templateHint") + blocked(),
                 problem(render_file_name("{nope}", {})) + "Fix the file naming template.");
        name->setText(QStringLiteral("{original}_{page_number}_{page_count}_{dpi}"));
        QCOMPARE(hint(window, "templateHint") + blocked(), "Example: short_1_3_150.jpg");

        // The first file with a size is the reference, unless a row is selected; a
        // page too large is only a hint and does not block the start.
        QCOMPARE(hint(window, "dpiHint"), "First page of short.pdf: 625 × 833 pixels");
        select(window, 1);
        widget(window, "presetCombo")->setProperty("currentIndex", 5);
        QCOMPARE(hint(window, "dpiHint") + blocked(),
                 problem(page_pixel_size({14400.0, 100.0}, 600.0, ConvertLimits{})));
    }

    void queueControlsAndKeys() {
        MainWindow window;
        QVERIFY(prepare(window, {}));
        const auto enabled = [&window] {
            return enabledOf(window, {"convertButton", "removeButton", "clearButton"});
        };
        QCOMPARE(enabled(), "");
        // Dropped: only local files named as PDFs.
        fs::create_directory(files_->dir / "folder.pdf");
        QMimeData mime;
        mime.setUrls({QUrl("https://example.com/brochure.pdf")});
        for (const fs::path& file :
             {files_->pdf("SCAN.PDF"), files_->dir / "folder.pdf", files_->file("notes.txt", ""),
              files_->pdf("b.pdf"), files_->pdf("c.pdf")}) {
            mime.setUrls(mime.urls() << QUrl::fromLocalFile(qpath(file)));
        }
        QVERIFY(window.acceptDrops());
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QVERIFY(QCoreApplication::sendEvent(&window, &enter) && enter.isAccepted());
        QVERIFY(QCoreApplication::sendEvent(&window, &drop) && drop.isAccepted());
        // Files being checked hold the start back.
        QCOMPARE(statusLine(window) + enabled(), "Checking files…clearButton");
        QVERIFY(addAndInspect(window.controller(), {}));
        QCOMPARE(enabled(), "convertButton clearButton");
        select(window, 0);
        select(window, 2);
        QCOMPARE(enabled(), "convertButton removeButton clearButton");
        // The menu of a row in the selection acts on the whole selection.
        auto* view = widget<QTableView>(window, "queueView");
        auto* timer = new QTimer(view);
        connect(timer, &QTimer::timeout, timer, [timer] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                timer->stop();
                for (QAction* action : menu->actions()) {
                    if (action->objectName() == "removeAction") {
                        action->trigger();
                    }
                }
                menu->close();
            }
        });
        timer->start(5);
        emit view->customContextMenuRequested(
            view->visualRect(view->model()->index(2, 0)).center());
        QTRY_COMPARE(window.controller().model()->rowCount(), 1);
        QCOMPARE(window.controller().model()->jobs().first().fileName, "b.pdf");
    }

    void twoFilesFromStartToSummary() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("first.pdf"), files_->pdf("second report.pdf", 2)}));
        widget<QAbstractButton>(window, "zipCheck")->toggle();
        auto* bar = widget<QProgressBar>(window, "progressBar");
        const auto enabled = [&window] {
            return enabledOf(window, {"convertButton", "cancelButton", "presetCombo",
                                      "chooseFolderButton", "clearButton", "addButton"});
        };
        // Connected after the window's own handlers, so each sees what they left.
        QStringList seen;
        ConversionController& controller = window.controller();
        connect(&controller, &ConversionController::runStarted, this,
                [&] { seen << statusLine(window) << enabled(); });
        connect(&controller, &ConversionController::jobProgress, this, [&] {
            seen << statusLine(window) +
                        QString::asprintf(" [%d/%d %s] ", bar->value(), bar->maximum(),
                                          qPrintable(bar->text())) +
                        window.windowTitle();
        });
        QSignalSpy finished(&controller, &ConversionController::runFinished);
        QTest::keyClick(&window, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(waitForRun(finished), "2/0/0/0, 3 images");
        const QString title = QStringLiteral("Brightleaf — PDF to JPG");
        const QString first = QStringLiteral("Converting first.pdf (file 1 of 2)");
        const QString second = QStringLiteral("Converting second report.pdf (file 2 of 2)");
        QCOMPARE(seen, (QStringList{"Starting 2 files…", "cancelButton addButton",
                                    first + " — page 0 of 1 [0/3 0%] 0% — " + title,
                                    first + " — page 1 of 1 [1/3 33%] 33% — " + title,
                                    second + " — page 0 of 2 [1/3 33%] 33% — " + title,
                                    second + " — page 1 of 2 [2/3 66%] 66% — " + title,
                                    second + " — page 2 of 2 [3/3 100%] 100% — " + title}));
        QCOMPARE(statusLine(window), "2 files converted. 3 images saved.");
        QVERIFY(bar->isHidden());
        // A status too long for its column can be read whole in its tooltip.
        const QAbstractItemModel& rows = *controller.model();
        QCOMPARE(rows.index(0, JobQueueModel::StatusColumn).data(Qt::ToolTipRole),
                 rows.index(0, JobQueueModel::StatusColumn).data());
        QVERIFY(rows.index(0, JobQueueModel::PagesColumn).data(Qt::ToolTipRole).isNull());
        QCOMPARE(window.windowTitle(), title);
        // Everything is unlocked, but nothing is left to convert until a file is
        // put back in line.
        QCOMPARE(enabled(), "presetCombo chooseFolderButton clearButton addButton");
        select(window, 1);
        window.findChild<QAction*>("convertAgainAction")->trigger();
        QCOMPARE(states(controller), (States{Done, Ready}));
        QCOMPARE(enabled(), "convertButton presetCombo chooseFolderButton clearButton addButton");
        QCOMPARE(namesIn(files_->out).join(", "),
                 "first.zip, first_page_0001.jpg, second report.zip, second report_page_0001.jpg, "
                 "second report_page_0002.jpg");
        QCOMPARE(test::read_file(files_->out / "first_page_0001.jpg").substr(0, 3), "\xFF\xD8\xFF");
    }

    void passwordPrompts() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->locked("locked.pdf"), files_->pdf("open.pdf")}));
        QStringList seen;
        // A wrong password, then an empty answer, which skips the file.
        whenOpens<QInputDialog>([&](QInputDialog* dialog) {
            seen << dialog->labelText() << QString::number(dialog->textEchoMode());
            // Typing stops at the 127 bytes a PDF password can hold, before a
            // character that would not fit whole.
            dialog->findChild<QLineEdit*>()->insert(QString(100, QChar(0xE9)));
            seen << QString::number(dialog->textValue().size());
            whenOpens<QInputDialog>([&seen](QInputDialog* again) {
                seen << again->labelText();
                again->setTextValue(QString());
                again->accept();
            });
            dialog->setTextValue(QStringLiteral("wrong"));
            dialog->accept();
        });
        QCOMPARE(runFrom(window), "1 file converted, 1 skipped. 1 image saved.");
        QCOMPARE(seen, (QStringList{"“locked.pdf” is password-protected. Enter its password to "
                                    "convert it:",
                                    QString::number(QLineEdit::Password), "63",
                                    "That password did not open “locked.pdf”. Try again:"}));
    }

    void existingFilesBox_data() {
        QTest::addColumn<QString>("answer");  // the button clicked; none closes the box
        QTest::addColumn<QString>("outcome");
        // a_page_0002.jpg and b_page_0001.jpg are there already. The answer holds
        // for the rest of the run: the box opens once, for a.pdf.
        QTest::newRow("keep both") << "Keep both"
                                   << "2 files converted. 3 images saved. a_page_0001.jpg, "
                                      "a_page_0002 (2).jpg, a_page_0002.jpg, b_page_0001 (2).jpg, "
                                      "b_page_0001.jpg";
        QTest::newRow("replace") << "Replace"
                                 << "2 files converted. 3 images saved. a_page_0001.jpg, "
                                    "a_page_0002.jpg, b_page_0001.jpg replaced";
        // As with the window's close button: the run stops before anything is
        // written, and leaves the files to convert.
        QTest::newRow("closed") << QString()
                                << "Stopped. Nothing was converted. 0 images saved. "
                                   "a_page_0002.jpg, b_page_0001.jpg ready";
    }

    void existingFilesBox() {
        QFETCH(QString, answer);
        QFETCH(QString, outcome);
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
        const QString status = runFrom(window);
        QCOMPARE(asked,
                 "\"a_page_0002.jpg\" already exists in the output folder. Choose another "
                 "folder, or allow overwriting or renaming.");
        const bool replaced = test::read_file(files_->out / "b_page_0001.jpg") != "old";
        const bool ready = states(window.controller()) == States{Ready, Ready};
        QCOMPARE(status + ' ' + namesIn(files_->out).join(", ") + (replaced ? " replaced" : "") +
                     (ready ? " ready" : ""),
                 outcome);
    }

    void cancelWithEscape() {
        PageGate gate(2);
        MainWindow window;
        window.controller().setJobRunner(gate.runner());
        const auto opener = qScopeGuard([&gate] { gate.open(); });
        QVERIFY(prepare(window, {files_->pdf("long.pdf", 4), files_->pdf("next.pdf")}));
        QSignalSpy finished(&window.controller(), &ConversionController::runFinished);
        widget<QPushButton>(window, "convertButton")->click();
        // Page 1 is written; page 2 waits at the gate.
        QVERIFY(gate.waitUntilReached());
        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_COMPARE(statusLine(window), "Cancelling after the current page…");
        // Asked to quit meanwhile: the question goes by itself once the run has
        // ended, unanswered, and the window stays.
        bool closedItself = false;
        whenOpens<QMessageBox>([&](QMessageBox* prompt) {
            gate.open();
            closedItself = QTest::qWaitFor([prompt] { return prompt->isHidden(); }, kTimeoutMs);
        });
        QVERIFY(!window.close() && closedItself);
        QCOMPARE(waitForRun(finished), "0/0/0/0, 1 images, stopped");
        QCOMPARE(statusLine(window), "Stopped. No file was finished. 1 image saved.");
        QCOMPARE(states(window.controller()), (States{Cancelled, Ready}));
    }

    void refusedStartsSayWhy() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("a.pdf")}));
        window.settingsPanel().setOutputFolder(QString());
        QCOMPARE(statusLine(window), "Choose where to save the images.");
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        // Where nothing opens folders, as here, the box says which one to open by hand.
        QString reported;
        whenOpens<QMessageBox>([&](QMessageBox* box) { reported = box->text(); });
        window.findChild<QAction*>("openFolderAction")->trigger();
        QCOMPARE(reported, "No application is set up to open the folder “" + qpath(files_->out) +
                               "”. Open it in your file manager.");
        // Refused by the controller: the folder went away after it was chosen.
        fs::remove_all(files_->out);
        whenOpens<QMessageBox>(
            [&](QMessageBox* box) { reported = box->windowTitle() + ": " + box->text(); });
        widget<QPushButton>(window, "convertButton")->click();
        // Titles stand as written, with nothing appended by the window system.
        QCOMPARE(reported, "Cannot start: Choose an output folder first.");
        // The About box names the licence, and where its texts are in this build.
        whenOpens<QMessageBox>([&](QMessageBox* box) { reported = box->text(); });
        window.findChild<QAction*>("aboutAction")->trigger();
        QVERIFY(reported.contains("MIT licence") &&
                reported.contains(BL_BINARY_DIR "/package-files/copyright"));
    }

    void pagesByClickAndByText_data() {
        QTest::addColumn<QString>("steps");    // c: click, s: keys, d: double click, t: type
        QTest::addColumn<QString>("outcome");  // the text, the choice, the marks of 10 pages
        QTest::newRow("a click leaves a page out") << "c3"
                                                   << "1-2, 4- selected ++-+++++++";
        QTest::newRow("typed, then clicked") << "t2-4 c5 c2"
                                             << "3-5 selected --+++-----";
        QTest::newRow("Space on the last page") << "t1-10 s10"
                                                << "1-9 selected +++++++++-";
        QTest::newRow("a run to the end") << "t1 c9 c10"
                                          << "1, 9- selected +-------++";
        QTest::newRow("every page") << "t1-9 c10"
                                    << "all selected ++++++++++";
        QTest::newRow("a double click previews") << "t2 d4"
                                                 << "2 selected -+--------";
        QTest::newRow("not a selection") << "t3-x"
                                         << "3-x selected ----------";
        QTest::newRow("beyond the file") << "t12"
                                         << "12 selected ----------";
        QTest::newRow("a click on nothing marked") << "t3-x c5"
                                                   << "5 selected ----+-----";
        QTest::newRow("all pages again") << "c3 a"
                                         << "1-2, 4- all ++++++++++";
    }

    void pagesByClickAndByText() {
        QFETCH(QString, steps);
        QFETCH(QString, outcome);
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("ten.pdf", 10)}));
        select(window, 0);
        PagePane& pane = window.pagePane();
        auto* edit = widget<QLineEdit>(window, "pagesEdit");
        QWidget* pages = pane.view()->viewport();
        for (const QString& step : steps.split(' ')) {
            const int page = step.mid(1).toInt();
            switch (step.at(0).toLatin1()) {
                case 'c':
                    QTest::mouseClick(pages, Qt::LeftButton, {}, pageAt(pane, page));
                    // Clicks further apart than a double click.
                    QTest::qWait(QApplication::doubleClickInterval() + 50);
                    break;
                case 's':
                    // Typing a page's number goes to it.
                    pane.view()->setFocus();
                    QTest::keyClicks(pane.view(), step.mid(1));
                    QTest::keyClick(pane.view(), Qt::Key_Space);
                    QCOMPARE(QApplication::focusWidget(), pane.view());
                    break;
                case 'd':
                    // As a window system delivers a double click.
                    QTest::mouseClick(pages, Qt::LeftButton, {}, pageAt(pane, page));
                    QTest::mousePress(pages, Qt::LeftButton, {}, pageAt(pane, page));
                    QTest::mouseDClick(pages, Qt::LeftButton, {}, pageAt(pane, page));
                    QTest::mouseRelease(pages, Qt::LeftButton, {}, pageAt(pane, page));
                    QTRY_VERIFY(widget<PagePreview>(window, "pagePreview")->isVisible());
                    QTest::keyClick(widget(window, "pagePreview"), Qt::Key_Escape);
                    QVERIFY(!widget(window, "pagePreview")->isVisible());
                    break;
                case 't':
                    widget<QAbstractButton>(window, "selectedPagesRadio")->setChecked(true);
                    edit->setText(step.mid(1));
                    break;
                default:
                    widget<QAbstractButton>(window, "allPagesRadio")->setChecked(true);
            }
        }
        const bool all = widget<QAbstractButton>(window, "allPagesRadio")->isChecked();
        QCOMPARE(edit->text() + (all ? " all " : " selected ") + marks(pane), outcome);
    }

    void thePreviewIsThePageAsSaved() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("wide.pdf", 2, 200.0, 100.0)}));
        select(window, 0);
        widget(window, "presetCombo")->setProperty("currentIndex", 4);
        PagePane& pane = window.pagePane();
        pane.view()->setFocus();
        pane.view()->setCurrentIndex(pane.model().index(1));
        QTest::keyClick(pane.view(), Qt::Key_Return);
        auto* preview = widget<PagePreview>(window, "pagePreview");
        QTRY_VERIFY_WITH_TIMEOUT(!preview->image().isNull(), kTimeoutMs);
        // 200 x 100 points at 300 DPI, shown at 100 % first.
        QCOMPARE(preview->image().size(), QSize(833, 417));
        QVERIFY2(preview->details().startsWith("833 × 417 pixels · ") && !preview->fitted(),
                 qPrintable(preview->details()));
        QCOMPARE(preview->windowTitle(), "Page 2 of 2 — wide.pdf");
        QTest::keyClick(preview, Qt::Key_Escape);
        QVERIFY(!preview->isVisible());
        // The run's output, estimated beside the status line before it starts.
        const QRegularExpression estimate("About \\d+ (bytes|KB) for 2 images");
        QTRY_VERIFY_WITH_TIMEOUT(estimate.match(hint(window, "estimateLabel")).hasMatch(),
                                 kTimeoutMs);
        QVERIFY(widget(window, "estimateLabel")->isVisible());
    }

    void anotherFileLeavesNoWorkBehind() {
        MainWindow window;
        const fs::path manual = files_->pdf("manual.pdf", 400);
        QVERIFY(prepare(window, {manual, files_->pdf("short.pdf", 3)}));
        PagePane& pane = window.pagePane();
        QSignalSpy drawn(&pane.loader(), &PageLoader::thumbnailReady);
        select(window, 0);
        QVERIFY(drawn.wait(kTimeoutMs));
        // Selected while hundreds of the manual's pages are still to be drawn.
        widget<QTableView>(window, "queueView")->selectRow(1);
        const int fromManual = static_cast<int>(drawn.count());
        QVERIFY(fromManual < 200);
        QTRY_VERIFY_WITH_TIMEOUT(!pane.model().needsDrawing(3), kTimeoutMs);
        QTRY_COMPARE(pane.loader().runningWorkers(), 1);
        QTest::qWait(200);
        for (int i = fromManual; i < drawn.count(); ++i) {
            QCOMPARE(drawn.at(i).first().toString(), qpath(files_->dir / "short.pdf"));
        }
        QVERIFY(drawn.count() == fromManual + 3);
        // Removing the file shown stops its worker too.
        QTest::keyClick(widget(window, "queueView"), Qt::Key_Delete);
        QTRY_COMPARE(pane.loader().runningWorkers(), 0);
    }

    void pagesAboveTheViewAreDrawnToo() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("sixty.pdf", 60)}));
        select(window, 0);
        // Shown from its end before anything is drawn, the file is drawn up to
        // its first page too, ready for a scroll back.
        pageAt(window.pagePane(), 60);
        QTRY_VERIFY_WITH_TIMEOUT(!window.pagePane().model().needsDrawing(1), kTimeoutMs);
        // Thumbnails fill the pane row by row.
        const QListView& view = *window.pagePane().view();
        const auto at = [&](int page) { return view.visualRect(view.model()->index(page - 1, 0)); };
        QVERIFY(at(2).top() == at(1).top() && at(2).left() > at(1).left());
        QVERIFY(at(60).top() > at(1).top());
    }

    void aHostilePageFailsAndTheWindowGoesOn() {
        test::PdfWriter writer;
        writer.add_page(test::page_of_size(200, 100));
        writer.add_page(selfDrawing(writer));
        Job job;
        job.path = qpath(files_->file("hostile.pdf", writer.build()));
        job.pageCount = 2;
        job.state = Ready;
        ConvertLimits limits;
        limits.page_timeout_ms = 2000;
        PagePane pane(nullptr, limits);
        pane.show();
        // The GUI thread's longest pause while the page runs away.
        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, this, [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        ticks.start(10);
        pane.showJob(&job);
        const QModelIndex hostile = pane.model().index(1);
        QTRY_VERIFY_WITH_TIMEOUT(!hostile.data(Qt::ToolTipRole).toString().isEmpty(), kTimeoutMs);
        // The deadline, the helper's grace second, and room for a busy machine.
        QVERIFY2(clock.elapsed() < 2000 + 1000 + 2000,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(longest < 1000, qPrintable(QString::number(longest)));
        QVERIFY(hostile.data(Qt::ToolTipRole).toString().startsWith("Page 2"));
        QVERIFY(!pane.model().needsDrawing(1));
    }

    void tabLeavesTheQueueAndMarksFocus() {
        MainWindow window;
        QVERIFY(prepare(window, {files_->pdf("a.pdf"), files_->pdf("b.pdf")}));
        // In the order of the screen, from the queue on.
        const QStringList chain{"queueView",        "addButton",          "clearButton",
                                "allPagesRadio",    "presetCombo",        "advancedToggle",
                                "outputFolderEdit", "chooseFolderButton", "rememberFolderCheck",
                                "openFolderButton", "convertButton"};
        auto* convert = widget<QPushButton>(window, "convertButton");
        QStringList visited, unmarked;
        for (const QString& name : chain) {
            QWidget* focused = QApplication::focusWidget();
            visited.append(focused->objectName());
            // Only the button with the focus looks like the one Enter presses.
            if (convert->isDefault() != (focused == convert || !focused->inherits("QPushButton"))) {
                unmarked.append(name + " beside a framed default");
            }
            const QImage marked = focused->grab().toImage();
            QTest::keyClick(focused, Qt::Key_Tab);
            if (focused->grab().toImage() == marked) {
                unmarked.append(name);
            }
        }
        QCOMPARE(visited, chain);
        // A screen reader says that the preset box opens a list.
        QVERIFY(
            QAccessible::queryAccessibleInterface(widget(window, "presetCombo"))->state().hasPopup);
        // The queue fills its box, and the handle above the pages never hides it.
        auto* queue = widget<QTableView>(window, "queueView");
        QVERIFY(queue->width() > widget(window, "filesGroup")->width() / 2);
        auto* splitter = widget<QSplitter>(window, "filesSplitter");
        splitter->setSizes({0, splitter->height()});
        QVERIFY(splitter->sizes().first() > 0);
        // Tab leaves the table for the first control, and passing made no selection.
        QCOMPARE(QApplication::focusWidget()->objectName(), chain.first());
        QVERIFY(!widget<QTableView>(window, "queueView")->selectionModel()->hasSelection());
        QCOMPARE(unmarked, QStringList());
        // Enter presses the button that has the focus.
        QTest::keyClick(widget(window, "clearButton"), Qt::Key_Return);
        QCOMPARE(window.controller().model()->rowCount(), 0);
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::WindowTest)
#include "window_test.moc"
