#include "desktop/settings_panel.h"

#include <QAbstractItemView>
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
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardPaths>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "bl/live_checks.h"
#include "desktop/accessibility.h"
#include "desktop/job_queue_model.h"
#include "desktop/job_request.h"

namespace bl::desktop {

namespace {

// Item data of the Custom preset, which leaves the DPI to the spin box.
constexpr double kCustomPreset = -1.0;
// Checks the syntax of a selection when no file has told its page count yet.
constexpr std::int32_t kSyntaxOnlyPageCount = 1000000;

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

QColor toColour(bl::Rgb rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}

template <class Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

SettingsPanel::SettingsPanel(const JobQueueModel& queue, std::function<quint64()> selectedJob,
                             QWidget* parent)
    : QScrollArea(parent), queue_(queue), selectedJob_(std::move(selectedJob)) {
    setObjectName(QStringLiteral("settingsScroll"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Only the controls inside take the focus; the area scrolls to them.
    setFocusPolicy(Qt::NoFocus);

    auto* content = named(new QWidget(this), "settingsPanel");
    auto* layout = new QVBoxLayout(content);
    // Flush with the files panel beside it and the status row below.
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildPagesGroup(content));
    layout->addWidget(buildQualityGroup(content));

    // A disclosure button: its arrow shows whether the section is open, and a
    // screen reader hears one name with the state expanded or collapsed.
    advancedToggle_ = named(new QToolButton(content), "advancedToggle");
    advancedToggle_->setText(tr("Show advanced settings"));
    advancedToggle_->setCheckable(true);
    advancedToggle_->setArrowType(Qt::RightArrow);
    advancedToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    advancedToggle_->setAutoRaise(true);
    advancedToggle_->setAccessibleName(tr("Advanced settings"));
    setAccessibleKind(advancedToggle_, AccessibleKind::Disclosure);
    // Enter works on it as on the window's other buttons.
    advancedToggle_->installEventFilter(this);
    layout->addWidget(advancedToggle_);
    layout->addWidget(buildAdvancedGroup(content));
    layout->addWidget(buildSaveGroup(content));
    layout->addStretch();
    setWidget(content);
    verticalScrollBar()->setAccessibleName(tr("Scroll the settings"));
    connectWidgets();
}

bool SettingsPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == advancedToggle_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            advancedToggle_->click();
            return true;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

QWidget* SettingsPanel::buildPagesGroup(QWidget* parent) {
    auto* group = named(new QGroupBox(tr("Pages"), parent), "pagesGroup");
    auto* layout = new QVBoxLayout(group);
    allPagesRadio_ = named(new QRadioButton(tr("All pages"), group), "allPagesRadio");
    allPagesRadio_->setChecked(true);
    layout->addWidget(allPagesRadio_);
    auto* selectedRow = new QHBoxLayout();
    selectedPagesRadio_ =
        named(new QRadioButton(tr("Selected pages:"), group), "selectedPagesRadio");
    selectedRow->addWidget(selectedPagesRadio_);
    pagesEdit_ = named(new QLineEdit(group), "pagesEdit");
    pagesEdit_->setPlaceholderText(tr("e.g. 1-3, 5, 8-"));
    pagesEdit_->setAccessibleName(tr("Page selection"));
    pagesEdit_->setEnabled(false);
    selectedRow->addWidget(pagesEdit_, 1);
    layout->addLayout(selectedRow);
    pagesHint_ = named(new QLabel(group), "pagesHint");
    pagesHint_->setWordWrap(true);
    setHint(pagesHint_, tr("Every page of each file is converted."), false);
    layout->addWidget(pagesHint_);
    return group;
}

QWidget* SettingsPanel::buildQualityGroup(QWidget* parent) {
    auto* group = named(new QGroupBox(tr("Quality"), parent), "qualityGroup");
    auto* layout = new QVBoxLayout(group);
    presetCombo_ = named(new QComboBox(group), "presetCombo");
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
    presetCombo_->view()->setAccessibleName(presetCombo_->accessibleName());
    setAccessibleKind(presetCombo_, AccessibleKind::LabelledChoice);
    layout->addWidget(presetCombo_);
    dpiHint_ =
        named(new QLabel(tr("Higher DPI gives more detail and larger files."), group), "dpiHint");
    dpiHint_->setWordWrap(true);
    layout->addWidget(dpiHint_);
    return group;
}

QWidget* SettingsPanel::buildAdvancedGroup(QWidget* parent) {
    advancedGroup_ = named(new QGroupBox(tr("Advanced settings"), parent), "advancedGroup");
    auto* form = new QFormLayout(advancedGroup_);
    dpiSpin_ = named(new QDoubleSpinBox(advancedGroup_), "dpiSpin");
    // The engine's own bounds, so that no value the box takes is refused later.
    dpiSpin_->setRange(bl::ConvertLimits{}.min_dpi, bl::ConvertLimits{}.max_dpi);
    dpiSpin_->setDecimals(0);
    dpiSpin_->setSuffix(tr(" DPI"));
    dpiSpin_->setValue(150.0);
    dpiSpin_->setAccessibleName(tr("Resolution in DPI"));
    form->addRow(tr("Resolution:"), dpiSpin_);
    qualitySpin_ = named(new QSpinBox(advancedGroup_), "qualitySpin");
    qualitySpin_->setRange(1, 100);
    qualitySpin_->setValue(90);
    qualitySpin_->setAccessibleName(tr("JPEG quality"));
    qualitySpin_->setToolTip(tr("Higher means sharper and larger files. 90 is a good default."));
    // Split after the dash: lupdate would read the digits after it as part of
    // its escape.
    form->addRow(tr("JPEG quality (1\u2013"
                    "100):"),
                 qualitySpin_);
    backgroundButton_ = named(new QPushButton(advancedGroup_), "backgroundButton");
    backgroundButton_->setAccessibleDescription(tr("Background colour for transparent areas"));
    refreshBackgroundButton();
    form->addRow(tr("Background:"), backgroundButton_);
    templateEdit_ =
        named(new QLineEdit(QString::fromUtf8(bl::kDefaultNamingTemplate), advancedGroup_),
              "templateEdit");
    // Show where the template starts, not where the cursor was left.
    templateEdit_->setCursorPosition(0);
    templateEdit_->setAccessibleName(tr("File naming template"));
    templateEdit_->setToolTip(
        tr("Tokens: {original}, {page_number}, {page_number:0001}, {page_count}, {dpi}"));
    form->addRow(tr("File names:"), templateEdit_);
    templateHint_ = named(new QLabel(advancedGroup_), "templateHint");
    templateHint_->setWordWrap(true);
    form->addRow(QString(), templateHint_);
    onExistsCombo_ = named(new QComboBox(advancedGroup_), "onExistsCombo");
    onExistsCombo_->setAccessibleName(tr("When a file already exists"));
    // Its longest choice, translated, must not widen the panel either.
    onExistsCombo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    onExistsCombo_->setMinimumContentsLength(12);
    onExistsCombo_->addItem(tr("Ask me"), static_cast<int>(bl::ExistingFilePolicy::Ask));
    onExistsCombo_->addItem(tr("Replace existing files"),
                            static_cast<int>(bl::ExistingFilePolicy::Replace));
    onExistsCombo_->addItem(tr("Keep both (add a number)"),
                            static_cast<int>(bl::ExistingFilePolicy::KeepBoth));
    form->addRow(tr("If a file exists:"), onExistsCombo_);
    onExistsCombo_->view()->setAccessibleName(onExistsCombo_->accessibleName());
    setAccessibleKind(onExistsCombo_, AccessibleKind::LabelledChoice);
    addAdvancedChecks(advancedGroup_);
    advancedGroup_->hide();
    return advancedGroup_;
}

void SettingsPanel::addAdvancedChecks(QGroupBox* group) {
    auto* form = static_cast<QFormLayout*>(group->layout());
    zipCheck_ =
        named(new QCheckBox(tr("Also create a ZIP of each file's pages"), group), "zipCheck");
    form->addRow(zipCheck_);
    annotationsCheck_ = named(new QCheckBox(tr("Include comments and stamps (annotations)"), group),
                              "annotationsCheck");
    annotationsCheck_->setChecked(true);
    form->addRow(annotationsCheck_);
    formFieldsCheck_ =
        named(new QCheckBox(tr("Include filled-in form fields"), group), "formFieldsCheck");
    formFieldsCheck_->setChecked(true);
    form->addRow(formFieldsCheck_);
}

QWidget* SettingsPanel::buildSaveGroup(QWidget* parent) {
    auto* group = named(new QGroupBox(tr("Save to"), parent), "saveGroup");
    auto* layout = new QVBoxLayout(group);
    auto* folderRow = new QHBoxLayout();
    outputFolderEdit_ = named(new QLineEdit(group), "outputFolderEdit");
    outputFolderEdit_->setReadOnly(true);
    outputFolderEdit_->setPlaceholderText(tr("Choose a folder for the images"));
    outputFolderEdit_->setAccessibleName(tr("Output folder"));
    setAccessibleKind(outputFolderEdit_, AccessibleKind::ReadOnlyText);
    folderRow->addWidget(outputFolderEdit_, 1);
    chooseFolderButton_ =
        named(new QPushButton(tr("&Choose folder\u2026"), group), "chooseFolderButton");
    folderRow->addWidget(chooseFolderButton_);
    layout->addLayout(folderRow);
    rememberFolderCheck_ =
        named(new QCheckBox(tr("Remember this folder next time"), group), "rememberFolderCheck");
    layout->addWidget(rememberFolderCheck_);
    return group;
}

void SettingsPanel::connectWidgets() {
    connect(selectedPagesRadio_, &QRadioButton::toggled, this, [this](bool checked) {
        pagesEdit_->setEnabled(checked);
        if (checked && !keepFocus_) {
            pagesEdit_->setFocus();
        }
        checkPageSelection();
        emit optionsChanged();
    });
    connect(pagesEdit_, &QLineEdit::textChanged, this, [this] {
        checkPageSelection();
        emit optionsChanged();
    });
    connect(qualitySpin_, &QSpinBox::valueChanged, this, &SettingsPanel::optionsChanged);
    connect(annotationsCheck_, &QCheckBox::toggled, this, &SettingsPanel::optionsChanged);
    connect(formFieldsCheck_, &QCheckBox::toggled, this, &SettingsPanel::optionsChanged);
    connect(advancedToggle_, &QToolButton::toggled, this, [this](bool checked) {
        advancedGroup_->setVisible(checked);
        advancedToggle_->setArrowType(checked ? Qt::DownArrow : Qt::RightArrow);
        advancedToggle_->setText(checked ? tr("Hide advanced settings")
                                         : tr("Show advanced settings"));
    });
    connect(presetCombo_, &QComboBox::currentIndexChanged, this, &SettingsPanel::presetChosen);
    connect(dpiSpin_, &QDoubleSpinBox::valueChanged, this, &SettingsPanel::resolutionTyped);
    connect(templateEdit_, &QLineEdit::textChanged, this, &SettingsPanel::checkTemplate);
    connect(backgroundButton_, &QPushButton::clicked, this, &SettingsPanel::chooseBackground);
    connect(chooseFolderButton_, &QPushButton::clicked, this, &SettingsPanel::chooseOutputFolder);
}

void SettingsPanel::presetChosen(int index) {
    const double dpi = presetCombo_->itemData(index).toDouble();
    if (dpi > 0.0) {
        const QSignalBlocker blocker(dpiSpin_);
        dpiSpin_->setValue(dpi);
    } else {
        advancedToggle_->setChecked(true);
    }
    updateResolutionHint();
    checkTemplate();
    emit optionsChanged();
}

void SettingsPanel::resolutionTyped(double dpi) {
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
    emit optionsChanged();
}

SavedSettings SettingsPanel::settings() const {
    SavedSettings settings;
    settings.pages =
        selectedPagesRadio_->isChecked() ? pagesEdit_->text().trimmed() : QStringLiteral("all");
    settings.dpi = dpiSpin_->value();
    settings.quality = qualitySpin_->value();
    settings.background = backgroundColour_;
    settings.nameTemplate = templateEdit_->text();
    settings.onExists = existingFilePolicy(onExistsCombo_->currentData().toInt());
    settings.createZip = zipCheck_->isChecked();
    settings.annotations = annotationsCheck_->isChecked();
    settings.formFields = formFieldsCheck_->isChecked();
    settings.outputFolder = outputFolder_;
    settings.presetIndex =
        presetCombo_->currentData().toDouble() > 0.0 ? presetCombo_->currentIndex() : -1;
    settings.rememberFolder = rememberFolderCheck_->isChecked();
    settings.advancedExpanded = advancedToggle_->isChecked();
    return settings;
}

void SettingsPanel::setSettings(const SavedSettings& settings) {
    // The spin box first: its reaction picks the matching preset, and a stored
    // preset then wins over the stored DPI.
    dpiSpin_->setValue(settings.dpi);
    if (settings.presetIndex >= 0 && settings.presetIndex < presetCombo_->count()) {
        presetCombo_->setCurrentIndex(settings.presetIndex);
    }
    qualitySpin_->setValue(settings.quality);
    backgroundColour_ = settings.background;
    refreshBackgroundButton();
    templateEdit_->setText(settings.nameTemplate);
    templateEdit_->setCursorPosition(0);
    const int policy = onExistsCombo_->findData(static_cast<int>(settings.onExists));
    onExistsCombo_->setCurrentIndex(policy >= 0 ? policy : 0);
    zipCheck_->setChecked(settings.createZip);
    annotationsCheck_->setChecked(settings.annotations);
    formFieldsCheck_->setChecked(settings.formFields);
    rememberFolderCheck_->setChecked(settings.rememberFolder);
    if (!settings.outputFolder.isEmpty() && QFileInfo(settings.outputFolder).isDir()) {
        setOutputFolder(settings.outputFolder);
    }
    advancedToggle_->setChecked(settings.advancedExpanded);
    checkTemplate();
    checkPageSelection();
    emit optionsChanged();
}

void SettingsPanel::setPageSelection(const QString& text) {
    keepFocus_ = true;
    pagesEdit_->setText(text);
    selectedPagesRadio_->setChecked(true);
    keepFocus_ = false;
}

void SettingsPanel::setOutputFolder(const QString& path) {
    const QString native = QDir::toNativeSeparators(path);
    outputFolder_ = native;
    outputFolderEdit_->setText(native);
    outputFolderEdit_->setToolTip(native);
    emit validityChanged();
}

void SettingsPanel::setSettingsEnabled(bool enabled) {
    allPagesRadio_->setEnabled(enabled);
    selectedPagesRadio_->setEnabled(enabled);
    pagesEdit_->setEnabled(enabled && selectedPagesRadio_->isChecked());
    presetCombo_->setEnabled(enabled);
    advancedGroup_->setEnabled(enabled);
    chooseFolderButton_->setEnabled(enabled);
}

void SettingsPanel::recheck() {
    checkPageSelection();
    checkTemplate();
    updateResolutionHint();
}

void SettingsPanel::setHint(QLabel* hint, const QString& text, bool problem) {
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

void SettingsPanel::refreshBackgroundButton() {
    const QColor colour = toColour(backgroundColour_);
    const bool white = backgroundColour_.red == 255 && backgroundColour_.green == 255 &&
                       backgroundColour_.blue == 255;
    backgroundButton_->setText(white ? tr("White") : colour.name(QColor::HexRgb).toUpper());
    // The button says its value; so does its name.
    backgroundButton_->setAccessibleName(
        tr("Background colour: %1").arg(backgroundButton_->text()));
    // A frame around the swatch, so that white shows on a white button too.
    QPixmap swatch(16, 16);
    swatch.fill(colour);
    QPainter painter(&swatch);
    painter.setPen(QColor(0x70, 0x70, 0x70));
    painter.drawRect(0, 0, swatch.width() - 1, swatch.height() - 1);
    painter.end();
    backgroundButton_->setIcon(QIcon(swatch));
}

void SettingsPanel::chooseBackground() {
    const QColor chosen = QColorDialog::getColor(toColour(backgroundColour_), window(),
                                                 tr("Background for transparent areas"));
    if (!chosen.isValid()) {
        return;
    }
    backgroundColour_ =
        bl::Rgb{static_cast<std::uint8_t>(chosen.red()), static_cast<std::uint8_t>(chosen.green()),
                static_cast<std::uint8_t>(chosen.blue())};
    refreshBackgroundButton();
    emit optionsChanged();
}

void SettingsPanel::chooseOutputFolder() {
    QString start = outputFolder_;
    if (start.isEmpty()) {
        start = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    }
    const QString folder = QFileDialog::getExistingDirectory(
        window(), tr("Choose where to save the images"), start, QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) {
        setOutputFolder(folder);
    }
}

void SettingsPanel::checkPageSelection() {
    if (!selectedPagesRadio_->isChecked()) {
        pageSelectionValid_ = true;
        setHint(pagesHint_, tr("Every page of each file is converted."), false);
        emit validityChanged();
        return;
    }

    const std::string text = utf8(pagesEdit_->text().trimmed());
    const QList<Job>& jobs = queue_.jobs();
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
    emit validityChanged();
}

void SettingsPanel::checkTemplate() {
    QString baseName = QStringLiteral("document");
    std::int32_t pageCount = 12;
    const QList<Job>& jobs = queue_.jobs();
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
    emit validityChanged();
}

void SettingsPanel::updateResolutionHint() {
    const Job* reference = queue_.job(selectedJob_());
    if (reference == nullptr) {
        for (const Job& job : queue_.jobs()) {
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

}  // namespace bl::desktop
