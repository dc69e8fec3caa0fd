#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>

#include "bl/live_checks.h"
#include "bl/version.h"
#include "desktop/main_window.h"
#include "desktop/settings_panel.h"
#include "engine/naming_template.h"
#include "tests/desktop/desktop_test_helpers.h"

namespace bl::desktop {

using namespace test_helpers;

namespace {

const QString kProblemStyle = QStringLiteral(
    "color: palette(bright-text); background: #b3261e; padding: 2px 4px; border-radius: 3px;");
// A hint's text, marked when it looks like a problem or has no look of its own.
// The neutral look is the palette's placeholder colour.
QString hint(const MainWindow& window, const char* name) {
    const QLabel* label = widget<QLabel>(window, name);
    const QString style = label->styleSheet();
    const QPalette& palette = label->palette();
    const bool placeholder =
        palette.color(QPalette::WindowText) == palette.color(QPalette::PlaceholderText);
    return label->text() + (style == kProblemStyle ? " [problem]"
                            : !style.isEmpty()     ? " [other look]"
                            : placeholder          ? ""
                                                   : " [plain]");
}

// The settings panel as the user sees it.
QStringList panel(const MainWindow& window) {
    const auto on = [&window](const char* name) {
        return widget<QAbstractButton>(window, name)->isChecked() ? "on" : "off";
    };
    return {widget<QComboBox>(window, "presetCombo")->currentText(),
            widget<QDoubleSpinBox>(window, "dpiSpin")->text(),
            "quality " + widget<QSpinBox>(window, "qualitySpin")->text(),
            "background " + widget<QPushButton>(window, "backgroundButton")->text(),
            widget<QLineEdit>(window, "templateEdit")->text(),
            hint(window, "templateHint"),
            widget<QComboBox>(window, "onExistsCombo")->currentText(),
            QStringLiteral("zip %1, annotations %2, form fields %3, remember %4, all pages %5")
                .arg(on("zipCheck"), on("annotationsCheck"), on("formFieldsCheck"),
                     on("rememberFolderCheck"), on("allPagesRadio")),
            widget<QGroupBox>(window, "advancedGroup")->isVisibleTo(&window) ? "advanced shown"
                                                                             : "advanced hidden",
            "folder " + widget<QLineEdit>(window, "outputFolderEdit")->text(),
            hint(window, "pagesHint")};
}

// Every key of a settings store with its value; the window's geometry, which
// Qt encodes, only as present.
QStringList contents(QSettings& store) {
    QStringList entries;
    for (const QString& key : store.allKeys()) {
        entries.append(
            key + '=' +
            (key == "ui/geometry" ? QStringLiteral("(set)") : store.value(key).toString()));
    }
    return entries;
}

// The hint for an engine check that must fail, such as a page selection that
// does not fit; `file` names the file it failed for.
template <class Result>
QString problemHint(const Result& result, const QString& file = {}) {
    if (result) {
        qFatal("the check passed");
    }
    return "Problem: " + file + QString::fromStdString(result.error().message) + " [problem]";
}

}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixtures> files_;

    // A settings store of its own in the test's folder.
    std::unique_ptr<QSettings> store() const {
        return std::make_unique<QSettings>(qpath(files_->dir / "settings.ini"),
                                           QSettings::IniFormat);
    }

  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() {
        QSettings().clear();
        files_ = std::make_unique<Fixtures>();
    }
    void cleanup() { files_.reset(); }

    void firstStartDefaults() {
        // The window restores from the user's store, empty here.
        MainWindow window;
        QCOMPARE(
            panel(window),
            (QStringList{"150 DPI — balanced (recommended)", "150 DPI", "quality 90",
                         "background White", "{original}_page_{page_number:0001}",
                         "Example: document_page_0001.jpg", "Ask me",
                         "zip off, annotations on, form fields on, remember off, all pages on",
                         "advanced hidden", "folder ", "Every page of each file is converted."}));
        QCOMPARE(window.settingsPanel().settings().pages, "all");
    }

    void storedValuesAreCorrected_data() {
        QTest::addColumn<QVariantMap>("stored");  // keys under "conversion/"
        QTest::addColumn<QString>("loaded");
        QTest::addColumn<QString>("screen");  // the preset, the DPI and the colour button
        const QString defaults = QStringLiteral("150 DPI, quality 90, preset 2, policy 0, #ffffff");
        const QString white = QStringLiteral("preset 2 at 150, White on #ffffff");
        // The window applies the DPI first and then the preset, which wins.
        QTest::newRow("above the ranges")
            << QVariantMap{{"dpi", 5000}, {"quality", 101}, {"presetIndex", 7}, {"onExists", 5}}
            << "600 DPI, quality 100, preset 2, policy 0, #ffffff" << white;
        QTest::newRow("below the ranges")
            << QVariantMap{{"dpi", 3}, {"quality", 0}, {"presetIndex", -2}, {"onExists", -1}}
            << "10 DPI, quality 1, preset 2, policy 0, #ffffff" << white;
        QTest::newRow("kept") << QVariantMap{{"dpi", 222.0},
                                             {"quality", 55},
                                             {"presetIndex", 5},
                                             {"onExists", 2},
                                             {"background", 0x1020FFu}}
                              << "222 DPI, quality 55, preset 5, policy 2, #1020ff"
                              << "preset 5 at 600, #1020FF on #1020ff";
        QTest::newRow("not numbers")
            << QVariantMap{{"dpi", "lots"}, {"quality", "best"}, {"background", "blue"}} << defaults
            << white;
        QTest::newRow("infinite") << QVariantMap{{"dpi", "inf"}} << defaults << white;
        QTest::newRow("near white") << QVariantMap{{"background", 0xFFFFFEu}}
                                    << "150 DPI, quality 90, preset 2, policy 0, #fffffe"
                                    << "preset 2 at 150, #FFFFFE on #fffffe";
        // Without a preset the combo follows the DPI.
        QTest::newRow("custom, replace")
            << QVariantMap{{"presetIndex", -1}, {"onExists", 1}}
            << "150 DPI, quality 90, preset -1, policy 1, #ffffff" << white;
        QTest::newRow("custom at a preset's DPI")
            << QVariantMap{{"presetIndex", -1}, {"dpi", 300}}
            << "300 DPI, quality 90, preset -1, policy 0, #ffffff"
            << "preset 4 at 300, White on #ffffff";
        QTest::newRow("custom at another DPI")
            << QVariantMap{{"presetIndex", -1}, {"dpi", 123}}
            << "123 DPI, quality 90, preset -1, policy 0, #ffffff"
            << "preset 6 at 123, White on #ffffff";
        QTest::newRow("a preset wins") << QVariantMap{{"presetIndex", 4}, {"dpi", 200}}
                                       << "200 DPI, quality 90, preset 4, policy 0, #ffffff"
                                       << "preset 4 at 300, White on #ffffff";
        QTest::newRow("corrected preset")
            << QVariantMap{{"presetIndex", 9}, {"dpi", 72}}
            << "72 DPI, quality 90, preset 2, policy 0, #ffffff" << white;
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
        const QColor colour(saved.background.red, saved.background.green, saved.background.blue);
        const QString actual = QStringLiteral("%1 DPI, quality %2, preset %3, policy %4, %5")
                                   .arg(saved.dpi)
                                   .arg(saved.quality)
                                   .arg(saved.presetIndex)
                                   .arg(static_cast<int>(saved.onExists))
                                   .arg(colour.name());
        QCOMPARE(actual, loaded);

        MainWindow window;
        window.applySettings(saved);
        auto* button = widget<QPushButton>(window, "backgroundButton");
        const QString shownValues =
            QStringLiteral("preset %1 at %2, %3 on %4")
                .arg(widget<QComboBox>(window, "presetCombo")->currentIndex())
                .arg(widget<QDoubleSpinBox>(window, "dpiSpin")->value())
                .arg(button->text(),
                     button->icon().pixmap(16, 16).toImage().pixelColor(8, 8).name());
        QCOMPARE(shownValues, screen);
        QCOMPARE(window.settingsPanel().settings().background, saved.background);
    }

    void roundTrip() {
        const fs::path folder = files_->out;
        const auto settings = store();
        QStringList before;
        {
            MainWindow window;
            QVERIFY(shown(window));
            widget<QComboBox>(window, "presetCombo")->setCurrentIndex(4);
            widget<QSpinBox>(window, "qualitySpin")->setValue(75);
            widget<QLineEdit>(window, "templateEdit")
                ->setText(QStringLiteral("{original}-{dpi}-{page_number}"));
            widget<QComboBox>(window, "onExistsCombo")->setCurrentIndex(2);
            widget<QCheckBox>(window, "zipCheck")->setChecked(true);
            widget<QCheckBox>(window, "annotationsCheck")->setChecked(false);
            widget<QCheckBox>(window, "formFieldsCheck")->setChecked(false);
            widget<QCheckBox>(window, "rememberFolderCheck")->setChecked(true);
            widget<QPushButton>(window, "advancedToggle")->setChecked(true);
            window.settingsPanel().setOutputFolder(qpath(folder));
            SavedSettings colour = window.settingsToSave();
            colour.background = Rgb{16, 32, 255};
            window.applySettings(colour);
            before = panel(window);
            widget<QRadioButton>(window, "selectedPagesRadio")->setChecked(true);
            widget<QLineEdit>(window, "pagesEdit")->setText(QStringLiteral(" 1-2 "));

            // The selection goes into a run, trimmed, and nowhere else.
            QCOMPARE(window.settingsPanel().settings().pages, "1-2");

            SettingsStore(*settings).save(window.settingsToSave());
            // Closing stores the same in the user's store.
            QVERIFY(window.close());
        }

        // Thirteen keys and no page selection.
        QCOMPARE(
            contents(*settings),
            (QStringList{"conversion/annotations=false", "conversion/background=1057023",
                         "conversion/createZip=true", "conversion/dpi=300",
                         "conversion/formFields=false",
                         "conversion/nameTemplate={original}-{dpi}-{page_number}",
                         "conversion/onExists=2", "conversion/presetIndex=4",
                         "conversion/quality=75", "output/folder=" + qpath(folder),
                         "output/remember=true", "ui/advancedExpanded=true", "ui/geometry=(set)"}));
        QSettings user;
        QCOMPARE(contents(user), contents(*settings));
        MainWindow reopened;
        QCOMPARE(panel(reopened), before);

        // Restored as it was before a page selection was made.
        MainWindow restored;
        restored.applySettings(SettingsStore(*settings).load());
        QCOMPARE(panel(restored), before);
        QCOMPARE(widget<QLineEdit>(restored, "outputFolderEdit")->toolTip(), qpath(folder));
    }

    void windowPlaceIsRestoredOnScreen_data() {
        QTest::addColumn<QPoint>("shift");  // from the screen's top left corner
        QTest::addColumn<bool>("kept");
        QTest::newRow("on the screen") << QPoint(30, 40) << true;
        // Saved on a screen that has gone since, far to the right and below.
        QTest::newRow("off the screen") << QPoint(9000, 7000) << false;
    }

    void windowPlaceIsRestoredOnScreen() {
        QFETCH(QPoint, shift);
        QFETCH(bool, kept);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect place(screen.topLeft() + shift, QSize(1000, 700));
        const auto settings = store();
        {
            MainWindow window;
            window.setGeometry(place);
            QVERIFY(shown(window));
            SettingsStore(*settings).save(window.settingsToSave());
        }
        MainWindow restored;
        restored.applySettings(SettingsStore(*settings).load());
        QVERIFY(shown(restored));
        QCOMPARE(restored.size(), place.size());
        if (kept) {
            QCOMPARE(restored.geometry(), place);
        } else {
            // Its title bar can be reached again.
            QVERIFY2(screen.contains(restored.frameGeometry().topLeft()),
                     qPrintable(QStringLiteral("%1,%2 outside %3x%4")
                                    .arg(restored.x())
                                    .arg(restored.y())
                                    .arg(screen.width())
                                    .arg(screen.height())));
        }
    }

    void rememberedFolderRule() {
        const QString folder = qpath(files_->out);
        const auto settings = store();

        // Not remembered: the key goes, even when a folder is chosen.
        settings->setValue("output/folder", folder);
        {
            MainWindow window;
            window.settingsPanel().setOutputFolder(folder);
            SettingsStore(*settings).save(window.settingsToSave());
        }
        QVERIFY(!settings->contains("output/folder"));
        QCOMPARE(settings->value("output/remember").toBool(), false);

        // A folder stored without the flag is not read.
        settings->setValue("output/folder", folder);
        QVERIFY(SettingsStore(*settings).load().outputFolder.isEmpty());

        // A remembered folder that has gone is not put into the field.
        settings->setValue("output/remember", true);
        settings->setValue("output/folder", qpath(files_->dir / "gone"));
        const SavedSettings loaded = SettingsStore(*settings).load();
        QCOMPARE(loaded.outputFolder, qpath(files_->dir / "gone"));
        MainWindow window;
        window.applySettings(loaded);
        QVERIFY(widget<QLineEdit>(window, "outputFolderEdit")->text().isEmpty());
        QVERIFY(widget<QCheckBox>(window, "rememberFolderCheck")->isChecked());
    }

    void pageCheck() {
        MainWindow window;
        auto* edit = widget<QLineEdit>(window, "pagesEdit");
        auto* convert = widget<QPushButton>(window, "convertButton");
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        const QString fine = QStringLiteral("Pages are numbered from 1. Use commas and ranges.");

        // No file knows its page count: only the syntax counts.
        widget<QRadioButton>(window, "selectedPagesRadio")->setChecked(true);
        edit->setText(QStringLiteral("999999-1000000"));
        QCOMPARE(hint(window, "pagesHint"), fine);
        edit->setText(QStringLiteral("1000001"));
        QCOMPARE(hint(window, "pagesHint"), problemHint(parse_page_selection("1000001", 1000000)));

        QVERIFY(addAndInspect(window.controller(),
                              {files_->pdf("short.pdf", 3), files_->pdf("long.pdf", 10)}));
        edit->setText(QStringLiteral("5"));
        QCOMPARE(hint(window, "pagesHint"),
                 problemHint(parse_page_selection("5", 3), "short.pdf: "));
        QVERIFY(!convert->isEnabled());
        QCOMPARE(convert->toolTip(), "Fix the page selection.");
        QCOMPARE(statusLine(window), "Fix the page selection.");

        edit->setText(QStringLiteral(" 1-3, 2 "));
        QCOMPARE(hint(window, "pagesHint"), fine);
        QVERIFY(convert->isEnabled());

        // With one file the problem is not prefixed.
        edit->setText(QStringLiteral("11"));
        window.controller().removeJobs({window.controller().model()->jobs().first().id});
        QCOMPARE(hint(window, "pagesHint"), problemHint(parse_page_selection("11", 10)));

        // Leaving the selection makes every page valid again.
        widget<QRadioButton>(window, "allPagesRadio")->setChecked(true);
        QCOMPARE(hint(window, "pagesHint"), "Every page of each file is converted.");
        QVERIFY(convert->isEnabled());
    }

    void templateCheck() {
        MainWindow window;
        auto* edit = widget<QLineEdit>(window, "templateEdit");
        auto* convert = widget<QPushButton>(window, "convertButton");
        window.settingsPanel().setOutputFolder(qpath(files_->out));

        edit->setText(QStringLiteral("{original}_{page_number}_{page_count}_{dpi}"));
        QCOMPARE(hint(window, "templateHint"), "Example: document_1_12_150.jpg");
        widget<QComboBox>(window, "presetCombo")->setCurrentIndex(0);
        QCOMPARE(hint(window, "templateHint"), "Example: document_1_12_72.jpg");

        QVERIFY(addAndInspect(window.controller(), {files_->pdf("Annual.report 2024.pdf", 3)}));
        QCOMPARE(hint(window, "templateHint"), "Example: Annual.report 2024_1_3_72.jpg");

        edit->setText(QStringLiteral("{nope}"));
        QCOMPARE(hint(window, "templateHint"),
                 problemHint(render_file_name("{nope}", NamingValues{})));
        QVERIFY(!convert->isEnabled());
        QCOMPARE(convert->toolTip(), "Fix the file naming template.");

        edit->setText(QStringLiteral("{page_number:001}"));
        QCOMPARE(hint(window, "templateHint"), "Example: 001.jpg");
        QVERIFY(convert->isEnabled());
        QCOMPARE(convert->toolTip(), "Start converting (Ctrl+Enter)");
    }

    void resolutionHint() {
        MainWindow window;
        QVERIFY(shown(window));
        const QString general = QStringLiteral("Higher DPI gives more detail and larger files.");
        QCOMPARE(hint(window, "dpiHint"), general + " [plain]");

        QVERIFY(addAndInspect(window.controller(), {files_->pdf("a.pdf", 1, 300.0, 400.0),
                                                    files_->pdf("b.pdf", 1, 14400.0, 100.0)}));
        QCOMPARE(hint(window, "dpiHint"), "First page of a.pdf: 625 × 833 pixels");
        widget<QDoubleSpinBox>(window, "dpiSpin")->setValue(72.0);
        QCOMPARE(hint(window, "dpiHint"), "First page of a.pdf: 300 × 400 pixels");

        // A selected row is the reference; this page is too wide at 600 DPI.
        auto* view = widget<QTableView>(window, "queueView");
        view->selectionModel()->select(
            view->model()->index(1, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(hint(window, "dpiHint"), "First page of b.pdf: 14400 × 100 pixels");
        widget<QComboBox>(window, "presetCombo")->setCurrentIndex(5);
        QCOMPARE(hint(window, "dpiHint"),
                 problemHint(page_pixel_size({14400.0, 100.0}, 600.0, ConvertLimits{})));
        // Only a hint: the start is not blocked by it.
        window.settingsPanel().setOutputFolder(qpath(files_->out));
        QVERIFY(widget<QPushButton>(window, "convertButton")->isEnabled());

        window.controller().clearJobs();
        QCOMPARE(hint(window, "dpiHint"), general + " [plain]");
    }

    void typingAResolution_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("preset");
        QTest::newRow("preset value") << "150" << 2;
        QTest::newRow("other value") << "151" << 6;
    }

    void typingAResolution() {
        QFETCH(QString, typed);
        QFETCH(int, preset);
        MainWindow window;
        QVERIFY(shown(window));
        widget<QPushButton>(window, "advancedToggle")->click();
        auto* dpi = widget<QDoubleSpinBox>(window, "dpiSpin");
        widget<QComboBox>(window, "presetCombo")->setCurrentIndex(0);
        dpi->setFocus();
        dpi->selectAll();
        QTest::keyClicks(dpi, typed);
        QTest::keyClick(dpi, Qt::Key_Enter);
        QCOMPARE(widget<QComboBox>(window, "presetCombo")->currentIndex(), preset);
        // A resolution of no preset is stored as Custom.
        const SavedSettings saved = window.settingsToSave();
        QCOMPARE(saved.presetIndex, preset == 6 ? -1 : preset);
        QCOMPARE(saved.dpi, typed.toDouble());
    }

    void settingsLockDuringARun() {
        MainWindow window;
        widget<QRadioButton>(window, "selectedPagesRadio")->setChecked(true);
        window.setSettingsEnabled(false);
        QCOMPARE(
            enabledOf(window, {"allPagesRadio", "selectedPagesRadio", "pagesEdit", "presetCombo",
                               "advancedGroup", "chooseFolderButton", "clearButton",
                               "rememberFolderCheck", "advancedToggle", "queueView"}),
            (QStringList{"rememberFolderCheck", "advancedToggle", "queueView"}));
        window.setSettingsEnabled(true);
        QVERIFY(widget<QLineEdit>(window, "pagesEdit")->isEnabled());
        widget<QRadioButton>(window, "allPagesRadio")->setChecked(true);
        window.setSettingsEnabled(false);
        window.setSettingsEnabled(true);
        QCOMPARE(enabledOf(window, {"pagesEdit", "advancedGroup"}), QStringList{"advancedGroup"});
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::SettingsTest)
#include "settings_test.moc"
