// The settings of a run beside the queue: pages, resolution, the advanced
// options and where the images go, with the live checks that say at once what
// is wrong with a page selection or a naming template.
#pragma once

#include <QScrollArea>
#include <QString>

#include <functional>

#include "bl/convert_types.h"
#include "desktop/settings_store.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace bl::desktop {

class JobQueueModel;

class SettingsPanel : public QScrollArea {
    Q_OBJECT

  public:
    // The checks read the queue's files; `selectedJob` names the job of the
    // first selected row (0 for none), which the resolution hint describes.
    SettingsPanel(const JobQueueModel& queue, std::function<quint64()> selectedJob,
                  QWidget* parent = nullptr);

    // What the panel shows: the options of a run (the page selection as
    // typed, trimmed) and the panel's own state. The window's geometry is not
    // the panel's and stays empty.
    SavedSettings settings() const;
    // Shows a record, then checks it. The page selection stays as it is: a
    // selection fits the files of one session only.
    void setSettings(const SavedSettings& settings);

    // Puts a selection made elsewhere, such as by clicking pages, into the
    // field and chooses "Selected pages"; the keyboard focus stays where it is.
    void setPageSelection(const QString& text);

    bool pageSelectionValid() const { return pageSelectionValid_; }
    bool templateValid() const { return templateValid_; }

    QString outputFolder() const { return outputFolder_; }
    void setOutputFolder(const QString& path);

    // Locks the settings of a run while it is under way; the advanced toggle
    // and "remember" stay usable.
    void setSettingsEnabled(bool enabled);

    // Runs every live check again, as after a change of the queue.
    void recheck();
    void updateResolutionHint();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  signals:
    // A check ran or the output folder changed: whether a run can start may
    // have changed with it.
    void validityChanged();
    // An option of the images changed: the pages, resolution, quality,
    // background or what is drawn.
    void optionsChanged();

  private:
    QWidget* buildPagesGroup(QWidget* parent);
    QWidget* buildQualityGroup(QWidget* parent);
    QWidget* buildAdvancedGroup(QWidget* parent);
    void addAdvancedChecks(QGroupBox* group);
    QWidget* buildSaveGroup(QWidget* parent);
    void connectWidgets();
    void presetChosen(int index);
    void resolutionTyped(double dpi);

    void checkPageSelection();
    void checkTemplate();
    void setHint(QLabel* hint, const QString& text, bool problem);
    void refreshBackgroundButton();
    void chooseBackground();
    void chooseOutputFolder();

    const JobQueueModel& queue_;
    std::function<quint64()> selectedJob_;

    bl::Rgb backgroundColour_;
    bool pageSelectionValid_ = true;
    bool templateValid_ = true;
    // Native separators; empty until chosen.
    QString outputFolder_;

    QRadioButton* allPagesRadio_ = nullptr;
    QRadioButton* selectedPagesRadio_ = nullptr;
    QLineEdit* pagesEdit_ = nullptr;
    QLabel* pagesHint_ = nullptr;
    QComboBox* presetCombo_ = nullptr;
    QLabel* dpiHint_ = nullptr;
    QToolButton* advancedToggle_ = nullptr;
    QGroupBox* advancedGroup_ = nullptr;
    QDoubleSpinBox* dpiSpin_ = nullptr;
    QSpinBox* qualitySpin_ = nullptr;
    QPushButton* backgroundButton_ = nullptr;
    QLineEdit* templateEdit_ = nullptr;
    QLabel* templateHint_ = nullptr;
    QComboBox* onExistsCombo_ = nullptr;
    QCheckBox* zipCheck_ = nullptr;
    QCheckBox* annotationsCheck_ = nullptr;
    QCheckBox* formFieldsCheck_ = nullptr;
    QLineEdit* outputFolderEdit_ = nullptr;
    QPushButton* chooseFolderButton_ = nullptr;
    QCheckBox* rememberFolderCheck_ = nullptr;
    // Set while a selection from elsewhere chooses "Selected pages".
    bool keepFocus_ = false;
};

}  // namespace bl::desktop
