#include "desktop/settings_store.h"

#include <QSettings>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace bl::desktop {

namespace {

constexpr int kDefaultPreset = 2;
constexpr int kLastFixedPreset = 5;
constexpr std::uint32_t kWhite = 0xFFFFFF;

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

bl::Rgb unpackColour(std::uint32_t packed) {
    return bl::Rgb{static_cast<std::uint8_t>((packed >> 16) & 0xFF),
                   static_cast<std::uint8_t>((packed >> 8) & 0xFF),
                   static_cast<std::uint8_t>(packed & 0xFF)};
}

std::uint32_t packColour(bl::Rgb colour) {
    return (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) |
           std::uint32_t{colour.blue};
}

}  // namespace

bl::ExistingFilePolicy existingFilePolicy(int value) {
    switch (value) {
        case static_cast<int>(bl::ExistingFilePolicy::Replace):
            return bl::ExistingFilePolicy::Replace;
        case static_cast<int>(bl::ExistingFilePolicy::KeepBoth):
            return bl::ExistingFilePolicy::KeepBoth;
        default:
            return bl::ExistingFilePolicy::Ask;
    }
}

SettingsStore::SettingsStore() : own_(std::make_unique<QSettings>()), store_(*own_) {}

SettingsStore::SettingsStore(QSettings& store) : store_(store) {}

SettingsStore::~SettingsStore() = default;

SavedSettings SettingsStore::load() const {
    SavedSettings saved;
    bool ok = false;

    const int preset = store_.value(kPresetKey, kDefaultPreset).toInt(&ok);
    saved.presetIndex = ok && preset >= -1 && preset <= kLastFixedPreset ? preset : kDefaultPreset;

    const double dpi = store_.value(kDpiKey, saved.dpi).toDouble(&ok);
    // Text that is no number at all, or no finite one, falls back to the default.
    if (ok && std::isfinite(dpi)) {
        const bl::ConvertLimits limits;
        saved.dpi = std::clamp(dpi, limits.min_dpi, limits.max_dpi);
    }

    const int quality = store_.value(kQualityKey, saved.quality).toInt(&ok);
    if (ok) {
        saved.quality = std::clamp(quality, 1, 100);
    }

    const std::uint32_t background = store_.value(kBackgroundKey, kWhite).toUInt(&ok);
    saved.background = unpackColour(ok ? background : kWhite);

    saved.nameTemplate = store_.value(kTemplateKey, saved.nameTemplate).toString();
    saved.onExists = existingFilePolicy(store_.value(kOnExistsKey, 0).toInt());
    saved.createZip = store_.value(kZipKey, saved.createZip).toBool();
    saved.annotations = store_.value(kAnnotationsKey, saved.annotations).toBool();
    saved.formFields = store_.value(kFormFieldsKey, saved.formFields).toBool();
    saved.rememberFolder = store_.value(kRememberKey, false).toBool();
    if (saved.rememberFolder) {
        saved.outputFolder = store_.value(kFolderKey).toString();
    }
    saved.advancedExpanded = store_.value(kAdvancedKey, false).toBool();
    saved.geometry = store_.value(kGeometryKey).toByteArray();
    return saved;
}

void SettingsStore::save(const SavedSettings& saved) {
    store_.setValue(kPresetKey, saved.presetIndex);
    store_.setValue(kDpiKey, saved.dpi);
    store_.setValue(kQualityKey, saved.quality);
    store_.setValue(kBackgroundKey, packColour(saved.background));
    store_.setValue(kTemplateKey, saved.nameTemplate);
    store_.setValue(kOnExistsKey,
                    static_cast<int>(existingFilePolicy(static_cast<int>(saved.onExists))));
    store_.setValue(kZipKey, saved.createZip);
    store_.setValue(kAnnotationsKey, saved.annotations);
    store_.setValue(kFormFieldsKey, saved.formFields);
    store_.setValue(kRememberKey, saved.rememberFolder);
    if (saved.rememberFolder) {
        store_.setValue(kFolderKey, saved.outputFolder);
    } else {
        store_.remove(kFolderKey);
    }
    store_.setValue(kAdvancedKey, saved.advancedExpanded);
    if (!saved.geometry.isEmpty()) {
        store_.setValue(kGeometryKey, saved.geometry);
    }
}

}  // namespace bl::desktop
