#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>

#include "desktop/main_window.h"
#include "engine/page_render.h"
#include "engine/page_selection.h"
#include "tests/desktop/desktop_test_helpers.h"
#include "tests/support/pdf_writer.h"

namespace bl::desktop {

namespace fs = std::filesystem;
using test_helpers::kTimeoutMs;
using test_helpers::qpath;
using test_helpers::widget;

namespace {

const QString kProblemStyle = QStringLiteral(
    "color: palette(bright-text); background: #b3261e; padding: 2px 4px; border-radius: 3px;");
const QString kNeutralStyle = QStringLiteral("color: palette(placeholder-text);");

QString selectionError(const char* text, int pageCount) {
    const auto pages = parse_page_selection(text, pageCount);
    if (pages) {
        qFatal("the selection %s fits %d pages", text, pageCount);
    }
    return QString::fromStdString(pages.error().message);
}

}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;

    fs::path pdf(const std::string& name, int pages, double width = 300.0, double height = 400.0) {
        const fs::path path = *dir_ / name;
        test::write_file(path, test::simple_pdf(pages, width, height));
        return path;
    }

    // A settings store of its own in the test's folder.
    std::unique_ptr<QSettings> store() {
        return std::make_unique<QSettings>(qpath(*dir_ / "settings.ini"), QSettings::IniFormat);
    }

    bool queue(MainWindow& window, const QList<fs::path>& files) {
        QStringList paths;
        for (const fs::path& file : files) {
            paths.append(qpath(file));
        }
        if (window.controller().addFiles(paths) != paths.size()) {
            return false;
        }
        return QTest::qWaitFor([&] { return window.controller().checkingCount() == 0; },
                               kTimeoutMs);
    }

  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() {
        QSettings().clear();
        dir_ = std::make_unique<test::TempDir>();
    }
    void cleanup() { dir_.reset(); }

    void firstStartDefaults() {
        const auto empty = store();
        const SavedSettings loaded = MainWindow::loadSettings(*empty);
        QCOMPARE(loaded.presetIndex, 2);
        QCOMPARE(loaded.dpi, 150.0);
        QCOMPARE(loaded.quality, 90);
        QCOMPARE(loaded.background, (Rgb{255, 255, 255}));
        QCOMPARE(loaded.nameTemplate, QStringLiteral("{original}_page_{page_number:0001}"));
        QCOMPARE(loaded.onExists, ExistingFilePolicy::Ask);
        QVERIFY(!loaded.createZip);
        QVERIFY(loaded.annotations);
        QVERIFY(loaded.formFields);
        QVERIFY(!loaded.rememberFolder);
        QVERIFY(loaded.outputFolder.isEmpty());
        QVERIFY(!loaded.advancedExpanded);

        // The window restores from the user's store, empty here.
        MainWindow window;
        QCOMPARE(widget<QComboBox>(window, "presetCombo")->currentText(),
                 QString::fromUtf8("150 DPI — balanced (recommended)"));
        QCOMPARE(widget<QDoubleSpinBox>(window, "dpiSpin")->value(), 150.0);
        QCOMPARE(widget<QSpinBox>(window, "qualitySpin")->value(), 90);
        QCOMPARE(widget<QPushButton>(window, "backgroundButton")->text(), QStringLiteral("White"));
        QCOMPARE(widget<QLineEdit>(window, "templateEdit")->text(),
                 QStringLiteral("{original}_page_{page_number:0001}"));
        QCOMPARE(widget<QComboBox>(window, "onExistsCombo")->currentText(),
                 QStringLiteral("Ask me"));
        QVERIFY(!widget<QCheckBox>(window, "zipCheck")->isChecked());
        QVERIFY(widget<QCheckBox>(window, "annotationsCheck")->isChecked());
        QVERIFY(widget<QCheckBox>(window, "formFieldsCheck")->isChecked());
        QVERIFY(widget<QLineEdit>(window, "outputFolderEdit")->text().isEmpty());
        QVERIFY(!widget<QCheckBox>(window, "rememberFolderCheck")->isChecked());
        QVERIFY(widget<QGroupBox>(window, "advancedGroup")->isHidden());
        QVERIFY(widget<QRadioButton>(window, "allPagesRadio")->isChecked());
        QCOMPARE(widget<QLabel>(window, "templateHint")->text(),
                 QStringLiteral("Example: document_page_0001.jpg"));
        QCOMPARE(widget<QLabel>(window, "pagesHint")->text(),
                 QStringLiteral("Every page of each file is converted."));
        QCOMPARE(window.collectSettings().pages, QStringLiteral("all"));
    }

    void storedValuesAreCorrected_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("loaded");
        QTest::newRow("dpi above") << "conversion/dpi" << QVariant(5000) << QVariant(600.0);
        QTest::newRow("dpi below") << "conversion/dpi" << QVariant(3) << QVariant(10.0);
        QTest::newRow("dpi kept") << "conversion/dpi" << QVariant(222.0) << QVariant(222.0);
        QTest::newRow("dpi not a number")
            << "conversion/dpi" << QVariant("lots") << QVariant(150.0);
        QTest::newRow("dpi infinite") << "conversion/dpi" << QVariant("inf") << QVariant(150.0);
        QTest::newRow("quality below") << "conversion/quality" << QVariant(0) << QVariant(1);
        QTest::newRow("quality above") << "conversion/quality" << QVariant(101) << QVariant(100);
        QTest::newRow("preset above") << "conversion/presetIndex" << QVariant(7) << QVariant(2);
        QTest::newRow("preset below") << "conversion/presetIndex" << QVariant(-2) << QVariant(2);
        QTest::newRow("preset custom") << "conversion/presetIndex" << QVariant(-1) << QVariant(-1);
        QTest::newRow("preset kept") << "conversion/presetIndex" << QVariant(5) << QVariant(5);
        QTest::newRow("policy unknown") << "conversion/onExists" << QVariant(5) << QVariant(0);
        QTest::newRow("policy negative") << "conversion/onExists" << QVariant(-1) << QVariant(0);
        QTest::newRow("policy replace") << "conversion/onExists" << QVariant(1) << QVariant(1);
        QTest::newRow("policy keep both") << "conversion/onExists" << QVariant(2) << QVariant(2);
    }

    void storedValuesAreCorrected() {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, loaded);
        const auto settings = store();
        settings->setValue(key, stored);
        const SavedSettings saved = MainWindow::loadSettings(*settings);
        if (key == QStringLiteral("conversion/dpi")) {
            QCOMPARE(saved.dpi, loaded.toDouble());
        } else if (key == QStringLiteral("conversion/quality")) {
            QCOMPARE(saved.quality, loaded.toInt());
        } else if (key == QStringLiteral("conversion/presetIndex")) {
            QCOMPARE(saved.presetIndex, loaded.toInt());
        } else {
            QCOMPARE(static_cast<int>(saved.onExists), loaded.toInt());
        }
    }

    void restoringPresetAndResolution_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<int>("combo");
        QTest::addColumn<double>("spin");
        // Without a preset the combo follows the DPI; a preset wins over the DPI.
        QTest::newRow("custom, preset DPI") << -1 << 300.0 << 4 << 300.0;
        QTest::newRow("custom, other DPI") << -1 << 123.0 << 6 << 123.0;
        QTest::newRow("preset wins") << 4 << 200.0 << 4 << 300.0;
        QTest::newRow("corrected preset") << 9 << 72.0 << 2 << 150.0;
    }

    void restoringPresetAndResolution() {
        QFETCH(int, preset);
        QFETCH(double, dpi);
        QFETCH(int, combo);
        QFETCH(double, spin);
        {
            QSettings user;
            user.setValue(QStringLiteral("conversion/presetIndex"), preset);
            user.setValue(QStringLiteral("conversion/dpi"), dpi);
        }
        MainWindow window;
        QCOMPARE(widget<QComboBox>(window, "presetCombo")->currentIndex(), combo);
        QCOMPARE(widget<QDoubleSpinBox>(window, "dpiSpin")->value(), spin);
    }

    void roundTrip() {
        const fs::path folder = *dir_ / "images";
        fs::create_directory(folder);
        {
            MainWindow window;
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
            window.setOutputFolder(qpath(folder));
            widget<QRadioButton>(window, "selectedPagesRadio")->setChecked(true);
            widget<QLineEdit>(window, "pagesEdit")->setText(QStringLiteral(" 1-2 "));
            SavedSettings colour = window.settingsToSave();
            colour.background = Rgb{16, 32, 255};
            window.applySettings(colour);
            QCOMPARE(widget<QPushButton>(window, "backgroundButton")->text(),
                     QStringLiteral("#1020FF"));

            const ConversionSettings run = window.collectSettings();
            QCOMPARE(run.pages, QStringLiteral("1-2"));
            QCOMPARE(run.dpi, 300.0);
            QCOMPARE(run.background, (Rgb{16, 32, 255}));
            QCOMPARE(run.onExists, ExistingFilePolicy::KeepBoth);
            QCOMPARE(run.outputFolder, qpath(folder));

            const auto settings = store();
            MainWindow::saveSettings(*settings, window.settingsToSave());
        }

        const auto settings = store();
        QCOMPARE(settings->value("conversion/presetIndex").toInt(), 4);
        QCOMPARE(settings->value("conversion/dpi").toDouble(), 300.0);
        QCOMPARE(settings->value("conversion/quality").toInt(), 75);
        QCOMPARE(settings->value("conversion/background").toUInt(), 0x1020FFu);
        QCOMPARE(settings->value("conversion/nameTemplate").toString(),
                 QStringLiteral("{original}-{dpi}-{page_number}"));
        QCOMPARE(settings->value("conversion/onExists").toInt(), 2);
        QCOMPARE(settings->value("conversion/createZip").toBool(), true);
        QCOMPARE(settings->value("conversion/annotations").toBool(), false);
        QCOMPARE(settings->value("conversion/formFields").toBool(), false);
        QCOMPARE(settings->value("output/remember").toBool(), true);
        QCOMPARE(settings->value("output/folder").toString(), qpath(folder));
        QCOMPARE(settings->value("ui/advancedExpanded").toBool(), true);
        // The twelve keys and nothing else: no page selection.
        QCOMPARE(settings->allKeys().size(), 12);

        MainWindow restored;
        restored.applySettings(MainWindow::loadSettings(*settings));
        QCOMPARE(widget<QComboBox>(restored, "presetCombo")->currentIndex(), 4);
        QCOMPARE(widget<QSpinBox>(restored, "qualitySpin")->value(), 75);
        QCOMPARE(widget<QPushButton>(restored, "backgroundButton")->text(),
                 QStringLiteral("#1020FF"));
        QCOMPARE(widget<QComboBox>(restored, "onExistsCombo")->currentIndex(), 2);
        QVERIFY(widget<QCheckBox>(restored, "zipCheck")->isChecked());
        QVERIFY(!widget<QCheckBox>(restored, "annotationsCheck")->isChecked());
        QVERIFY(!widget<QCheckBox>(restored, "formFieldsCheck")->isChecked());
        QVERIFY(widget<QCheckBox>(restored, "rememberFolderCheck")->isChecked());
        QCOMPARE(widget<QLineEdit>(restored, "outputFolderEdit")->text(), qpath(folder));
        QCOMPARE(widget<QLineEdit>(restored, "outputFolderEdit")->toolTip(), qpath(folder));
        QVERIFY(widget<QGroupBox>(restored, "advancedGroup")->isVisibleTo(&restored));
        QVERIFY(widget<QRadioButton>(restored, "allPagesRadio")->isChecked());
        QCOMPARE(widget<QLabel>(restored, "templateHint")->text(),
                 QStringLiteral("Example: document-300-1.jpg"));
    }

    void customResolutionIsStoredWithoutPreset() {
        MainWindow window;
        widget<QDoubleSpinBox>(window, "dpiSpin")->setValue(151.0);
        const SavedSettings saved = window.settingsToSave();
        QCOMPARE(saved.presetIndex, -1);
        QCOMPARE(saved.dpi, 151.0);
    }

    void rememberedFolderRule() {
        const fs::path folder = *dir_ / "images";
        fs::create_directory(folder);
        const auto settings = store();

        // Not remembered: the key goes, even when a folder is chosen.
        settings->setValue("output/folder", qpath(folder));
        {
            MainWindow window;
            window.setOutputFolder(qpath(folder));
            MainWindow::saveSettings(*settings, window.settingsToSave());
        }
        QVERIFY(!settings->contains("output/folder"));
        QCOMPARE(settings->value("output/remember").toBool(), false);

        // A folder stored without the flag is not read.
        settings->setValue("output/folder", qpath(folder));
        QVERIFY(MainWindow::loadSettings(*settings).outputFolder.isEmpty());

        // A remembered folder that has gone is not put into the field.
        settings->setValue("output/remember", true);
        settings->setValue("output/folder", qpath(*dir_ / "gone"));
        {
            MainWindow window;
            const SavedSettings loaded = MainWindow::loadSettings(*settings);
            QCOMPARE(loaded.outputFolder, qpath(*dir_ / "gone"));
            window.applySettings(loaded);
            QVERIFY(widget<QLineEdit>(window, "outputFolderEdit")->text().isEmpty());
            QVERIFY(widget<QCheckBox>(window, "rememberFolderCheck")->isChecked());
        }
    }

    void closingSavesToTheUserStore() {
        {
            MainWindow window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            widget<QSpinBox>(window, "qualitySpin")->setValue(42);
            QVERIFY(window.close());
        }
        QSettings user;
        QCOMPARE(user.value("conversion/quality").toInt(), 42);
        QVERIFY(!user.contains("output/folder"));
        MainWindow again;
        QCOMPARE(widget<QSpinBox>(again, "qualitySpin")->value(), 42);
    }

    void pageCheck() {
        MainWindow window;
        auto* radio = widget<QRadioButton>(window, "selectedPagesRadio");
        auto* edit = widget<QLineEdit>(window, "pagesEdit");
        auto* hint = widget<QLabel>(window, "pagesHint");
        auto* convert = widget<QPushButton>(window, "convertButton");
        window.setOutputFolder(qpath(dir_->path()));

        // No file knows its page count: only the syntax counts.
        radio->setChecked(true);
        edit->setText(QStringLiteral("999999-1000000"));
        QCOMPARE(hint->text(), QStringLiteral("Pages are numbered from 1. Use commas and ranges."));
        QCOMPARE(hint->styleSheet(), kNeutralStyle);
        edit->setText(QStringLiteral("1000001"));
        QCOMPARE(hint->text(), QStringLiteral("Problem: ") + selectionError("1000001", 1000000));
        QCOMPARE(hint->styleSheet(), kProblemStyle);

        QVERIFY(queue(window, {pdf("short.pdf", 3), pdf("long.pdf", 10)}));
        edit->setText(QStringLiteral("5"));
        QCOMPARE(hint->text(), QStringLiteral("Problem: short.pdf: ") + selectionError("5", 3));
        QCOMPARE(hint->styleSheet(), kProblemStyle);
        QVERIFY(!convert->isEnabled());
        QCOMPARE(convert->toolTip(), QStringLiteral("Fix the page selection."));
        QCOMPARE(widget<QLabel>(window, "statusLabel")->text(),
                 QStringLiteral("Fix the page selection."));

        edit->setText(QStringLiteral(" 1-3, 2 "));
        QCOMPARE(hint->text(), QStringLiteral("Pages are numbered from 1. Use commas and ranges."));
        QVERIFY(convert->isEnabled());

        // With one file the problem is not prefixed.
        edit->setText(QStringLiteral("11"));
        window.controller().removeJobs({window.controller().model()->jobs().first().id});
        QCOMPARE(hint->text(), QStringLiteral("Problem: ") + selectionError("11", 10));

        // Leaving the selection makes every page valid again.
        widget<QRadioButton>(window, "allPagesRadio")->setChecked(true);
        QCOMPARE(hint->text(), QStringLiteral("Every page of each file is converted."));
        QCOMPARE(hint->styleSheet(), kNeutralStyle);
        QVERIFY(convert->isEnabled());
    }

    void templateCheck() {
        MainWindow window;
        auto* edit = widget<QLineEdit>(window, "templateEdit");
        auto* hint = widget<QLabel>(window, "templateHint");
        auto* convert = widget<QPushButton>(window, "convertButton");
        window.setOutputFolder(qpath(dir_->path()));

        edit->setText(QStringLiteral("{original}_{page_number}_{page_count}_{dpi}"));
        QCOMPARE(hint->text(), QStringLiteral("Example: document_1_12_150.jpg"));
        QCOMPARE(hint->styleSheet(), kNeutralStyle);
        widget<QComboBox>(window, "presetCombo")->setCurrentIndex(0);
        QCOMPARE(hint->text(), QStringLiteral("Example: document_1_12_72.jpg"));

        QVERIFY(queue(window, {pdf("Annual.report 2024.pdf", 3)}));
        QCOMPARE(hint->text(), QStringLiteral("Example: Annual.report 2024_1_3_72.jpg"));

        edit->setText(QStringLiteral("{nope}"));
        QVERIFY(hint->text().startsWith(QStringLiteral("Problem: ")));
        QCOMPARE(hint->styleSheet(), kProblemStyle);
        QVERIFY(!convert->isEnabled());
        QCOMPARE(convert->toolTip(), QStringLiteral("Fix the file naming template."));

        edit->setText(QStringLiteral("{page_number:001}"));
        QCOMPARE(hint->text(), QStringLiteral("Example: 001.jpg"));
        QVERIFY(convert->isEnabled());
        QCOMPARE(convert->toolTip(), QStringLiteral("Start converting (Ctrl+Enter)"));
    }

    void resolutionHint() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* hint = widget<QLabel>(window, "dpiHint");
        auto* dpi = widget<QDoubleSpinBox>(window, "dpiSpin");
        QCOMPARE(hint->text(), QStringLiteral("Higher DPI gives more detail and larger files."));
        QVERIFY(hint->styleSheet().isEmpty());

        QVERIFY(queue(window, {pdf("a.pdf", 1, 300.0, 400.0), pdf("b.pdf", 1, 14400.0, 100.0)}));
        const auto expected = [](const char* name, PageSize size, double at) {
            const auto pixels = page_pixel_size(size, at, ConvertLimits{});
            if (!pixels) {
                return QStringLiteral("Problem: ") + QString::fromStdString(pixels.error().message);
            }
            return QString::fromUtf8("First page of %1: %2 × %3 pixels")
                .arg(QString::fromLatin1(name), QString::number(pixels->width),
                     QString::number(pixels->height));
        };
        QCOMPARE(hint->text(), expected("a.pdf", {300.0, 400.0}, 150.0));
        QCOMPARE(hint->text(), QString::fromUtf8("First page of a.pdf: 625 × 833 pixels"));
        QCOMPARE(hint->styleSheet(), kNeutralStyle);
        dpi->setValue(72.0);
        QCOMPARE(hint->text(), QString::fromUtf8("First page of a.pdf: 300 × 400 pixels"));

        // A selected row is the reference; this page is too wide at 600 DPI.
        auto* view = widget<QTableView>(window, "queueView");
        view->selectionModel()->select(
            view->model()->index(1, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(hint->text(), expected("b.pdf", {14400.0, 100.0}, 72.0));
        widget<QComboBox>(window, "presetCombo")->setCurrentIndex(5);
        QVERIFY(hint->text().startsWith(QStringLiteral("Problem: ")));
        QCOMPARE(hint->text(), expected("b.pdf", {14400.0, 100.0}, 600.0));
        QCOMPARE(hint->styleSheet(), kProblemStyle);
        // Only a hint: the start is not blocked by it.
        window.setOutputFolder(qpath(dir_->path()));
        QVERIFY(widget<QPushButton>(window, "convertButton")->isEnabled());

        window.controller().clearJobs();
        QCOMPARE(hint->text(), QStringLiteral("Higher DPI gives more detail and larger files."));
        QVERIFY(hint->styleSheet().isEmpty());
    }

    void checkingFilesBlocksTheStart() {
        MainWindow window;
        window.setOutputFolder(qpath(dir_->path()));
        auto* convert = widget<QPushButton>(window, "convertButton");
        QCOMPARE(window.controller().addFiles({qpath(pdf("a.pdf", 1))}), 1);
        QVERIFY(!convert->isEnabled());
        QCOMPARE(convert->toolTip(), QString::fromUtf8("Checking files…"));
        QTRY_VERIFY_WITH_TIMEOUT(convert->isEnabled(), kTimeoutMs);
        QCOMPARE(widget<QLabel>(window, "statusLabel")->text(),
                 QStringLiteral("Ready to convert."));
    }

    void typingAResolution_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("preset");
        QTest::newRow("preset value") << "150" << 2;
        QTest::newRow("other value") << "151" << 6;
        QTest::newRow("another preset") << "600" << 5;
    }

    void typingAResolution() {
        QFETCH(QString, typed);
        QFETCH(int, preset);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        widget<QPushButton>(window, "advancedToggle")->click();
        auto* dpi = widget<QDoubleSpinBox>(window, "dpiSpin");
        auto* combo = widget<QComboBox>(window, "presetCombo");
        combo->setCurrentIndex(0);
        dpi->setFocus();
        dpi->selectAll();
        QTest::keyClicks(dpi, typed);
        QTest::keyClick(dpi, Qt::Key_Enter);
        QCOMPARE(dpi->value(), typed.toDouble());
        QCOMPARE(combo->currentIndex(), preset);
    }

    void colourTexts() {
        MainWindow window;
        auto* button = widget<QPushButton>(window, "backgroundButton");
        SavedSettings saved = window.settingsToSave();
        saved.background = Rgb{16, 32, 255};
        window.applySettings(saved);
        QCOMPARE(button->text(), QStringLiteral("#1020FF"));
        QCOMPARE(button->icon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(16, 32, 255));
        QCOMPARE(window.collectSettings().background, (Rgb{16, 32, 255}));
        saved.background = Rgb{255, 255, 255};
        window.applySettings(saved);
        QCOMPARE(button->text(), QStringLiteral("White"));
        saved.background = Rgb{255, 255, 254};
        window.applySettings(saved);
        QCOMPARE(button->text(), QStringLiteral("#FFFFFE"));

        const auto settings = store();
        settings->setValue("conversion/background", 0x1020FFu);
        QCOMPARE(MainWindow::loadSettings(*settings).background, (Rgb{16, 32, 255}));
    }

    void settingsLockDuringARun() {
        MainWindow window;
        widget<QRadioButton>(window, "selectedPagesRadio")->setChecked(true);
        window.setSettingsEnabled(false);
        for (const char* name : {"allPagesRadio", "selectedPagesRadio", "pagesEdit", "presetCombo",
                                 "advancedGroup", "chooseFolderButton", "clearButton"}) {
            QVERIFY2(!widget<QWidget>(window, name)->isEnabled(), name);
        }
        for (const char* name : {"rememberFolderCheck", "advancedToggle", "queueView"}) {
            QVERIFY2(widget<QWidget>(window, name)->isEnabled(), name);
        }
        window.setSettingsEnabled(true);
        QVERIFY(widget<QLineEdit>(window, "pagesEdit")->isEnabled());
        widget<QRadioButton>(window, "allPagesRadio")->setChecked(true);
        window.setSettingsEnabled(false);
        window.setSettingsEnabled(true);
        QVERIFY(!widget<QLineEdit>(window, "pagesEdit")->isEnabled());
        QVERIFY(widget<QWidget>(window, "advancedGroup")->isEnabled());
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::SettingsTest)
#include "settings_test.moc"
