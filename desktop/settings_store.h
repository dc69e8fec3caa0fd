// The settings that outlive a session: what the settings panel showed when the
// window closed, and where the window stood.
#pragma once

#include <QByteArray>

#include <memory>

#include "bl/convert_types.h"
#include "desktop/job_request.h"

class QSettings;

namespace bl::desktop {

// What the settings store keeps: the options of a run and the state of the panel
// around them.
struct SavedSettings : ConversionSettings {
    int presetIndex = 2;
    bool rememberFolder = false;
    bool advancedExpanded = false;
    // The window's size and position as Qt records them; empty until saved once.
    QByteArray geometry;
};

// The policy a stored or chosen number stands for; any number it does not know
// means Ask.
bl::ExistingFilePolicy existingFilePolicy(int value);

// Reads and writes the settings keys. A stored value out of range, or of no use
// at all, comes back corrected, without a word: the user cannot mend the file.
class SettingsStore {
  public:
    // The user's own settings.
    SettingsStore();
    // Another store, such as a test's file; it must outlive this object.
    explicit SettingsStore(QSettings& store);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    SavedSettings load() const;
    // Writes every key but the page selection, which fits one session's files
    // only; the folder only when it is to be remembered.
    void save(const SavedSettings& saved);

  private:
    std::unique_ptr<QSettings> own_;
    QSettings& store_;
};

}  // namespace bl::desktop
