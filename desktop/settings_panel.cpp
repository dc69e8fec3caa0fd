// The settings panel of the main window: its widgets and how they follow each
// other.
#include "desktop/main_window.h"

#include <QCheckBox>
#include <QColor>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "bl/live_checks.h"
#include "bl/version.h"
#include "engine/naming_template.h"

namespace bl::desktop {

namespace {

// Item data of the Custom preset, which leaves the DPI to the spin box.
constexpr double kCustomPreset = -1.0;
constexpr int kDefaultPreset = 2;
constexpr int kLastFixedPreset = 5;
constexpr double kMinDpi = 10.0;
constexpr double kMaxDpi = 600.0;
constexpr std::uint32_t kWhite = 0xFFFFFF;
// Checks the syntax of a selection when no file has told its page count yet.
constexpr std::int32_t kSyntaxOnlyPageCount = 1000000;

const QString kPresetKey = QStringLiteral("conversion/presetIndex");
const QString kDpiKey = QStringLiteral("conversion/dpi");
const QString kQualityKey = QStringLiteral("conversion/quality");
const QString kBackgroundKey = QStringLiteral("conversion/background");
const QString kTemplateKey = QStringLiteral("conversion/nameTemplate");
const QString kOnExistsKey = QStringLiteral("conversion/onExists");
const QString kZipKey = QStringLiteral("conversion/createZip");
const QString kAnnotationsKey = QStringLiteral("conversion/annotations");
const QString kFormFieldsKey = QStringLiteral("conversion/formFields");
const QString kRememberKey = QStringLiteral("output/remember");
const QString kFolderKey = QStringLiteral("output/folder");
const QString kAdvancedKey = QStringLiteral("ui/advancedExpanded");
const QString kGeometryKey = QStringLiteral("ui/geometry");

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bl::ExistingFilePolicy policyFrom(int value) {
    switch (value) {
        case static_cast<int>(bl::ExistingFilePolicy::Replace):
            return bl::ExistingFilePolicy::Replace;
        case static_cast<int>(bl::ExistingFilePolicy::KeepBoth):
            return bl::ExistingFilePolicy::KeepBoth;
        default:
            return bl::ExistingFilePolicy::Ask;
    }
}

}  // namespace

QWidget* MainWindow::buildSettingsPanel(QWidget* parent) {
    auto* scroll = new QScrollArea(parent);
    scroll->setObjectName(QStringLiteral("settingsScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Only the controls inside take the focus; the area scrolls to them.
    scroll->setFocusPolicy(Qt::NoFocus);

    auto* content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("settingsPanel"));
    auto* layout = new QVBoxLayout(content);
    // Flush with the files panel beside it and the status row below.
    layout->setContentsMargins(0, 0, 0, 0);

    // Pages
    auto* pagesGroup = new QGroupBox(tr("Pages"), content);
    pagesGroup->setObjectName(QStringLiteral("pagesGroup"));
    auto* pagesLayout = new QVBoxLayout(pagesGroup);
    allPagesRadio_ = new QRadioButton(tr("All pages"), pagesGroup);
    allPagesRadio_->setObjectName(QStringLiteral("allPagesRadio"));
    allPagesRadio_->setChecked(true);
    pagesLayout->addWidget(allPagesRadio_);
    auto* selectedRow = new QHBoxLayout();
    selectedPagesRadio_ = new QRadioButton(tr("Selected pages:"), pagesGroup);
    selectedPagesRadio_->setObjectName(QStringLiteral("selectedPagesRadio"));
    selectedRow->addWidget(selectedPagesRadio_);
    pagesEdit_ = new QLineEdit(pagesGroup);
    pagesEdit_->setObjectName(QStringLiteral("pagesEdit"));
    pagesEdit_->setPlaceholderText(tr("e.g. 1-3, 5, 8-"));
    pagesEdit_->setAccessibleName(tr("Page selection"));
    pagesEdit_->setEnabled(false);
    selectedRow->addWidget(pagesEdit_, 1);
    pagesLayout->addLayout(selectedRow);
    pagesHint_ = new QLabel(pagesGroup);
    pagesHint_->setObjectName(QStringLiteral("pagesHint"));
    pagesHint_->setWordWrap(true);
    setHint(pagesHint_, tr("Every page of each file is converted."), false);
    pagesLayout->addWidget(pagesHint_);
    layout->addWidget(pagesGroup);

    // Quality
    auto* qualityGroup = new QGroupBox(tr("Quality"), content);
    qualityGroup->setObjectName(QStringLiteral("qualityGroup"));
    auto* qualityLayout = new QVBoxLayout(qualityGroup);
    presetCombo_ = new QComboBox(qualityGroup);
    presetCombo_->setObjectName(QStringLiteral("presetCombo"));
    presetCombo_->setAccessibleName(tr("Resolution preset"));
    // The long preset texts must not widen the panel beyond its share.
    presetCombo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    presetCombo_->setMinimumContentsLength(12);
    presetCombo_->addItem(tr("72 DPI \u2014 smallest files, on-screen previews"), 72.0);
    presetCombo_->addItem(tr("96 DPI \u2014 screen viewing"), 96.0);
    presetCombo_->addItem(tr("150 DPI \u2014 balanced (recommended)"), 150.0);
    presetCombo_->addItem(tr("200 DPI \u2014 sharper text"), 200.0);
    presetCombo_->addItem(tr("300 DPI \u2014 high detail, larger files"), 300.0);
    presetCombo_->addItem(tr("600 DPI \u2014 print quality, very large files"), 600.0);
    presetCombo_->addItem(tr("Custom (set in Advanced)"), kCustomPreset);
    presetCombo_->setCurrentIndex(2);
    qualityLayout->addWidget(presetCombo_);
    dpiHint_ = new QLabel(tr("Higher DPI gives more detail and larger files."), qualityGroup);
    dpiHint_->setObjectName(QStringLiteral("dpiHint"));
    dpiHint_->setWordWrap(true);
    qualityLayout->addWidget(dpiHint_);
    layout->addWidget(qualityGroup);

    advancedToggle_ = new QPushButton(tr("Show advanced settings"), content);
    advancedToggle_->setObjectName(QStringLiteral("advancedToggle"));
    advancedToggle_->setFlat(true);
    advancedToggle_->setCheckable(true);
    advancedToggle_->setStyleSheet(QStringLiteral("text-align: left;"));
    layout->addWidget(advancedToggle_);

    // Advanced settings
    advancedGroup_ = new QGroupBox(tr("Advanced settings"), content);
    advancedGroup_->setObjectName(QStringLiteral("advancedGroup"));
    auto* form = new QFormLayout(advancedGroup_);
    dpiSpin_ = new QDoubleSpinBox(advancedGroup_);
    dpiSpin_->setObjectName(QStringLiteral("dpiSpin"));
    dpiSpin_->setRange(10.0, 600.0);
    dpiSpin_->setDecimals(0);
    dpiSpin_->setSuffix(tr(" DPI"));
    dpiSpin_->setValue(150.0);
    dpiSpin_->setAccessibleName(tr("Resolution in DPI"));
    form->addRow(tr("Resolution:"), dpiSpin_);
    qualitySpin_ = new QSpinBox(advancedGroup_);
    qualitySpin_->setObjectName(QStringLiteral("qualitySpin"));
    qualitySpin_->setRange(1, 100);
    qualitySpin_->setValue(90);
    qualitySpin_->setAccessibleName(tr("JPEG quality"));
    qualitySpin_->setToolTip(tr("Higher means sharper and larger files. 90 is a good default."));
    form->addRow(tr("JPEG quality (1\u2013100):"), qualitySpin_);
    backgroundButton_ = new QPushButton(advancedGroup_);
    backgroundButton_->setObjectName(QStringLiteral("backgroundButton"));
    backgroundButton_->setAccessibleName(tr("Background colour for transparent areas"));
    refreshBackgroundButton();
    form->addRow(tr("Background:"), backgroundButton_);
    templateEdit_ = new QLineEdit(QString::fromUtf8(bl::kDefaultNamingTemplate), advancedGroup_);
    templateEdit_->setObjectName(QStringLiteral("templateEdit"));
    // Show where the template starts, not where the cursor was left.
    templateEdit_->setCursorPosition(0);
    templateEdit_->setAccessibleName(tr("File naming template"));
    templateEdit_->setToolTip(
        tr("Tokens: {original}, {page_number}, {page_number:0001}, {page_count}, {dpi}"));
    form->addRow(tr("File names:"), templateEdit_);
    templateHint_ = new QLabel(advancedGroup_);
    templateHint_->setObjectName(QStringLiteral("templateHint"));
    templateHint_->setWordWrap(true);
    form->addRow(QString(), templateHint_);
    onExistsCombo_ = new QComboBox(advancedGroup_);
    onExistsCombo_->setObjectName(QStringLiteral("onExistsCombo"));
    onExistsCombo_->setAccessibleName(tr("When a file already exists"));
    onExistsCombo_->addItem(tr("Ask me"), static_cast<int>(bl::ExistingFilePolicy::Ask));
    onExistsCombo_->addItem(tr("Replace existing files"),
                            static_cast<int>(bl::ExistingFilePolicy::Replace));
    onExistsCombo_->addItem(tr("Keep both (add a number)"),
                            static_cast<int>(bl::ExistingFilePolicy::KeepBoth));
    form->addRow(tr("If a file exists:"), onExistsCombo_);
    zipCheck_ = new QCheckBox(tr("Also create a ZIP of each file's pages"), advancedGroup_);
    zipCheck_->setObjectName(QStringLiteral("zipCheck"));
    form->addRow(zipCheck_);
    annotationsCheck_ =
        new QCheckBox(tr("Include comments and stamps (annotations)"), advancedGroup_);
    annotationsCheck_->setObjectName(QStringLiteral("annotationsCheck"));
    annotationsCheck_->setChecked(true);
    form->addRow(annotationsCheck_);
    formFieldsCheck_ = new QCheckBox(tr("Include filled-in form fields"), advancedGroup_);
    formFieldsCheck_->setObjectName(QStringLiteral("formFieldsCheck"));
    formFieldsCheck_->setChecked(true);
    form->addRow(formFieldsCheck_);
    advancedGroup_->hide();
    layout->addWidget(advancedGroup_);

    // Save to
    auto* saveGroup = new QGroupBox(tr("Save to"), content);
    saveGroup->setObjectName(QStringLiteral("saveGroup"));
    auto* saveLayout = new QVBoxLayout(saveGroup);
    auto* folderRow = new QHBoxLayout();
    outputFolderEdit_ = new QLineEdit(saveGroup);
    outputFolderEdit_->setObjectName(QStringLiteral("outputFolderEdit"));
    outputFolderEdit_->setReadOnly(true);
    outputFolderEdit_->setPlaceholderText(tr("Choose a folder for the images"));
    outputFolderEdit_->setAccessibleName(tr("Output folder"));
    folderRow->addWidget(outputFolderEdit_, 1);
    chooseFolderButton_ = new QPushButton(tr("&Choose folder\u2026"), saveGroup);
    chooseFolderButton_->setObjectName(QStringLiteral("chooseFolderButton"));
    folderRow->addWidget(chooseFolderButton_);
    saveLayout->addLayout(folderRow);
    rememberFolderCheck_ = new QCheckBox(tr("Remember this folder next time"), saveGroup);
    rememberFolderCheck_->setObjectName(QStringLiteral("rememberFolderCheck"));
    saveLayout->addWidget(rememberFolderCheck_);
    layout->addWidget(saveGroup);

    layout->addStretch();
    scroll->setWidget(content);
    return scroll;
}

void MainWindow::connectSettingsPanel() {
    connect(selectedPagesRadio_, &QRadioButton::toggled, this, [this](bool checked) {
        pagesEdit_->setEnabled(checked);
        if (checked) {
            pagesEdit_->setFocus();
        }
        checkPageSelection();
    });
    connect(pagesEdit_, &QLineEdit::textChanged, this, &MainWindow::checkPageSelection);
    connect(advancedToggle_, &QPushButton::toggled, this, [this](bool checked) {
        advancedGroup_->setVisible(checked);
        advancedToggle_->setText(checked ? tr("Hide advanced settings")
                                         : tr("Show advanced settings"));
    });
    connect(presetCombo_, &QComboBox::currentIndexChanged, this, [this](int index) {
        const double dpi = presetCombo_->itemData(index).toDouble();
        if (dpi > 0.0) {
            const QSignalBlocker blocker(dpiSpin_);
            dpiSpin_->setValue(dpi);
        } else {
            advancedToggle_->setChecked(true);
        }
        updateResolutionHint();
        checkTemplate();
    });
    connect(dpiSpin_, &QDoubleSpinBox::valueChanged, this, [this](double dpi) {
        int match = presetCombo_->count() - 1;
        for (int i = 0; i < presetCombo_->count(); ++i) {
            if (presetCombo_->itemData(i).toDouble() == dpi) {
                match = i;
                break;
            }
        }
        {
            const QSignalBlocker blocker(presetCombo_);
            presetCombo_->setCurrentIndex(match);
        }
        updateResolutionHint();
        checkTemplate();
    });
    connect(templateEdit_, &QLineEdit::textChanged, this, &MainWindow::checkTemplate);
    connect(backgroundButton_, &QPushButton::clicked, this, &MainWindow::chooseBackground);
    connect(chooseFolderButton_, &QPushButton::clicked, this, &MainWindow::chooseOutputFolder);
}

void MainWindow::setHint(QLabel* hint, const QString& text, bool problem) {
    hint->setText(text);
    if (problem) {
        hint->setStyleSheet(
            QStringLiteral("color: palette(bright-text); background: #b3261e; "
                           "padding: 2px 4px; border-radius: 3px;"));
        return;
    }
    // Qt 6.4's style sheets know no palette(placeholder-text), so the neutral
    // look goes through the palette, and any problem look is taken off first.
    hint->setStyleSheet(QString());
    QPalette palette = hint->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    hint->setPalette(palette);
}

void MainWindow::refreshBackgroundButton() {
    const QColor colour(backgroundColour_.red, backgroundColour_.green, backgroundColour_.blue);
    const bool white = backgroundColour_.red == 255 && backgroundColour_.green == 255 &&
                       backgroundColour_.blue == 255;
    backgroundButton_->setText(white ? tr("White") : colour.name(QColor::HexRgb).toUpper());
    // A frame around the swatch, so that white shows on a white button too.
    QPixmap swatch(16, 16);
    swatch.fill(colour);
    QPainter painter(&swatch);
    painter.setPen(QColor(0x70, 0x70, 0x70));
    painter.drawRect(0, 0, swatch.width() - 1, swatch.height() - 1);
    painter.end();
    backgroundButton_->setIcon(QIcon(swatch));
}

void MainWindow::chooseBackground() {
    const QColor current(backgroundColour_.red, backgroundColour_.green, backgroundColour_.blue);
    const QColor chosen =
        QColorDialog::getColor(current, this, tr("Background for transparent areas"));
    if (!chosen.isValid()) {
        return;
    }
    backgroundColour_ =
        bl::Rgb{static_cast<std::uint8_t>(chosen.red()), static_cast<std::uint8_t>(chosen.green()),
                static_cast<std::uint8_t>(chosen.blue())};
    refreshBackgroundButton();
}

void MainWindow::chooseOutputFolder() {
    QString start = outputFolderEdit_->text();
    if (start.isEmpty()) {
        start = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    }
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Choose where to save the images"), start, QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) {
        setOutputFolder(folder);
    }
}

void MainWindow::setOutputFolder(const QString& path) {
    const QString native = QDir::toNativeSeparators(path);
    outputFolderEdit_->setText(native);
    outputFolderEdit_->setToolTip(native);
    updateControls();
}

void MainWindow::setSettingsEnabled(bool enabled) {
    allPagesRadio_->setEnabled(enabled);
    selectedPagesRadio_->setEnabled(enabled);
    pagesEdit_->setEnabled(enabled && selectedPagesRadio_->isChecked());
    presetCombo_->setEnabled(enabled);
    advancedGroup_->setEnabled(enabled);
    chooseFolderButton_->setEnabled(enabled);
    clearButton_->setEnabled(enabled);
}

void MainWindow::checkPageSelection() {
    if (!selectedPagesRadio_->isChecked()) {
        pageSelectionValid_ = true;
        setHint(pagesHint_, tr("Every page of each file is converted."), false);
        updateControls();
        return;
    }

    const std::string text = utf8(pagesEdit_->text().trimmed());
    const QList<Job>& jobs = controller_.model()->jobs();
    std::optional<QString> problem;
    bool counted = false;
    for (const Job& job : jobs) {
        if (job.pageCount <= 0) {
            continue;
        }
        counted = true;
        const auto pages = bl::parse_page_selection(text, job.pageCount);
        if (!pages) {
            const QString message = fromUtf8(pages.error().message);
            problem = jobs.size() >= 2 ? tr("%1: %2").arg(job.fileName, message) : message;
            break;
        }
    }
    if (!counted) {
        const auto pages = bl::parse_page_selection(text, kSyntaxOnlyPageCount);
        if (!pages) {
            problem = fromUtf8(pages.error().message);
        }
    }

    pageSelectionValid_ = !problem;
    if (problem) {
        setHint(pagesHint_, tr("Problem: %1").arg(*problem), true);
    } else {
        setHint(pagesHint_, tr("Pages are numbered from 1. Use commas and ranges."), false);
    }
    updateControls();
}

void MainWindow::checkTemplate() {
    QString baseName = QStringLiteral("document");
    std::int32_t pageCount = 12;
    const QList<Job>& jobs = controller_.model()->jobs();
    if (!jobs.isEmpty()) {
        const Job& first = jobs.first();
        baseName = QFileInfo(first.fileName).completeBaseName();
        if (first.pageCount > 0) {
            pageCount = first.pageCount;
        }
    }
    const bl::NamingValues values{bl::sanitize_file_name(utf8(baseName), 200), 1, pageCount,
                                  static_cast<std::int32_t>(std::lround(dpiSpin_->value()))};
    const auto name = bl::render_file_name(utf8(templateEdit_->text()), values);

    templateValid_ = name.has_value();
    if (name) {
        setHint(templateHint_, tr("Example: %1.jpg").arg(fromUtf8(*name)), false);
    } else {
        setHint(templateHint_, tr("Problem: %1").arg(fromUtf8(name.error().message)), true);
    }
    updateControls();
}

void MainWindow::updateResolutionHint() {
    const Job* reference = nullptr;
    const QList<quint64> selected = selectedJobIds();
    if (!selected.isEmpty()) {
        reference = controller_.model()->job(selected.first());
    }
    if (reference == nullptr) {
        for (const Job& job : controller_.model()->jobs()) {
            if (job.firstPageSize.width() > 0.0) {
                reference = &job;
                break;
            }
        }
    }
    if (reference == nullptr || !(reference->firstPageSize.width() > 0.0)) {
        dpiHint_->setText(tr("Higher DPI gives more detail and larger files."));
        dpiHint_->setStyleSheet(QString());
        dpiHint_->setPalette(QPalette());
        return;
    }

    const bl::PageSize page{reference->firstPageSize.width(), reference->firstPageSize.height()};
    const auto pixels = bl::page_pixel_size(page, dpiSpin_->value(), bl::ConvertLimits{});
    if (pixels) {
        setHint(dpiHint_,
                tr("First page of %1: %2 \u00D7 %3 pixels")
                    .arg(reference->fileName, QString::number(pixels->width),
                         QString::number(pixels->height)),
                false);
    } else {
        setHint(dpiHint_, tr("Problem: %1").arg(fromUtf8(pixels.error().message)), true);
    }
}

ConversionSettings MainWindow::collectSettings() const {
    ConversionSettings settings;
    settings.pages =
        selectedPagesRadio_->isChecked() ? pagesEdit_->text().trimmed() : QStringLiteral("all");
    settings.dpi = dpiSpin_->value();
    settings.quality = qualitySpin_->value();
    settings.background = backgroundColour_;
    settings.nameTemplate = templateEdit_->text();
    settings.onExists = policyFrom(onExistsCombo_->currentData().toInt());
    settings.createZip = zipCheck_->isChecked();
    settings.annotations = annotationsCheck_->isChecked();
    settings.formFields = formFieldsCheck_->isChecked();
    settings.outputFolder = outputFolderEdit_->text();
    return settings;
}

SavedSettings MainWindow::settingsToSave() const {
    SavedSettings saved;
    static_cast<ConversionSettings&>(saved) = collectSettings();
    // A selection fits the files of one session only.
    saved.pages = QStringLiteral("all");
    saved.presetIndex =
        presetCombo_->currentData().toDouble() > 0.0 ? presetCombo_->currentIndex() : -1;
    saved.rememberFolder = rememberFolderCheck_->isChecked();
    saved.advancedExpanded = advancedToggle_->isChecked();
    saved.geometry = saveGeometry();
    return saved;
}

void MainWindow::applySettings(const SavedSettings& saved) {
    // The spin box first: its reaction picks the matching preset, and a stored
    // preset then wins over the stored DPI.
    dpiSpin_->setValue(saved.dpi);
    if (saved.presetIndex >= 0 && saved.presetIndex < presetCombo_->count()) {
        presetCombo_->setCurrentIndex(saved.presetIndex);
    }
    qualitySpin_->setValue(saved.quality);
    backgroundColour_ = saved.background;
    refreshBackgroundButton();
    templateEdit_->setText(saved.nameTemplate);
    templateEdit_->setCursorPosition(0);
    const int policy = onExistsCombo_->findData(static_cast<int>(saved.onExists));
    onExistsCombo_->setCurrentIndex(policy >= 0 ? policy : 0);
    zipCheck_->setChecked(saved.createZip);
    annotationsCheck_->setChecked(saved.annotations);
    formFieldsCheck_->setChecked(saved.formFields);
    rememberFolderCheck_->setChecked(saved.rememberFolder);
    if (!saved.outputFolder.isEmpty() && QFileInfo(saved.outputFolder).isDir()) {
        setOutputFolder(saved.outputFolder);
    }
    advancedToggle_->setChecked(saved.advancedExpanded);
    // Qt pulls a window whose screen has gone, or that would hang off the
    // screen, back into the visible area.
    if (!saved.geometry.isEmpty()) {
        restoreGeometry(saved.geometry);
    }

    checkTemplate();
    checkPageSelection();
    updateControls();
}

SavedSettings MainWindow::loadSettings() {
    QSettings store;
    return loadSettings(store);
}

SavedSettings MainWindow::loadSettings(QSettings& store) {
    SavedSettings saved;
    bool ok = false;

    const int preset = store.value(kPresetKey, kDefaultPreset).toInt(&ok);
    saved.presetIndex = ok && preset >= -1 && preset <= kLastFixedPreset ? preset : kDefaultPreset;

    const double dpi = store.value(kDpiKey, saved.dpi).toDouble(&ok);
    // Text that is no number at all, or no finite one, falls back to the default.
    if (ok && std::isfinite(dpi)) {
        saved.dpi = std::clamp(dpi, kMinDpi, kMaxDpi);
    }

    const int quality = store.value(kQualityKey, saved.quality).toInt(&ok);
    if (ok) {
        saved.quality = std::clamp(quality, 1, 100);
    }

    std::uint32_t background = store.value(kBackgroundKey, kWhite).toUInt(&ok);
    if (!ok) {
        background = kWhite;
    }
    saved.background = bl::Rgb{static_cast<std::uint8_t>((background >> 16) & 0xFF),
                               static_cast<std::uint8_t>((background >> 8) & 0xFF),
                               static_cast<std::uint8_t>(background & 0xFF)};

    saved.nameTemplate = store.value(kTemplateKey, saved.nameTemplate).toString();
    saved.onExists = policyFrom(store.value(kOnExistsKey, 0).toInt());
    saved.createZip = store.value(kZipKey, saved.createZip).toBool();
    saved.annotations = store.value(kAnnotationsKey, saved.annotations).toBool();
    saved.formFields = store.value(kFormFieldsKey, saved.formFields).toBool();
    saved.rememberFolder = store.value(kRememberKey, false).toBool();
    if (saved.rememberFolder) {
        saved.outputFolder = store.value(kFolderKey).toString();
    }
    saved.advancedExpanded = store.value(kAdvancedKey, false).toBool();
    saved.geometry = store.value(kGeometryKey).toByteArray();
    return saved;
}

void MainWindow::saveSettings(const SavedSettings& saved) {
    QSettings store;
    saveSettings(store, saved);
}

void MainWindow::saveSettings(QSettings& store, const SavedSettings& saved) {
    store.setValue(kPresetKey, saved.presetIndex);
    store.setValue(kDpiKey, saved.dpi);
    store.setValue(kQualityKey, saved.quality);
    const std::uint32_t background = (std::uint32_t{saved.background.red} << 16) |
                                     (std::uint32_t{saved.background.green} << 8) |
                                     std::uint32_t{saved.background.blue};
    store.setValue(kBackgroundKey, background);
    store.setValue(kTemplateKey, saved.nameTemplate);
    store.setValue(kOnExistsKey, static_cast<int>(policyFrom(static_cast<int>(saved.onExists))));
    store.setValue(kZipKey, saved.createZip);
    store.setValue(kAnnotationsKey, saved.annotations);
    store.setValue(kFormFieldsKey, saved.formFields);
    store.setValue(kRememberKey, saved.rememberFolder);
    if (saved.rememberFolder) {
        store.setValue(kFolderKey, saved.outputFolder);
    } else {
        store.remove(kFolderKey);
    }
    store.setValue(kAdvancedKey, saved.advancedExpanded);
    if (!saved.geometry.isEmpty()) {
        store.setValue(kGeometryKey, saved.geometry);
    }
}

}  // namespace bl::desktop
