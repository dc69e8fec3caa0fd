// The application's only window: the queue of files, the settings of a run and
// the status row.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>

#include "bl/convert_types.h"
#include "desktop/conversion_controller.h"

class QAbstractButton;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QDoubleSpinBox;
class QDragEnterEvent;
class QDropEvent;
class QEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSettings;
class QSpinBox;
class QTableView;
class QPoint;

namespace bl::desktop {

class DesktopIntegration;

// What the settings store keeps: the options of a run and the state of the panel
// around them.
struct SavedSettings : ConversionSettings {
    int presetIndex = 2;
    bool rememberFolder = false;
    bool advancedExpanded = false;
    // The window's size and position as Qt records them; empty until saved once.
    QByteArray geometry;
};

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    ConversionController& controller() { return controller_; }

    // The options of a run as the panel shows them.
    ConversionSettings collectSettings() const;
    // What closing the window stores.
    SavedSettings settingsToSave() const;
    // Puts a stored record into the panel and checks it.
    void applySettings(const SavedSettings& saved);
    // The user's settings store, or the one given; out-of-range values come back
    // corrected.
    static SavedSettings loadSettings();
    static SavedSettings loadSettings(QSettings& store);
    static void saveSettings(const SavedSettings& saved);
    static void saveSettings(QSettings& store, const SavedSettings& saved);

    // Locks the settings of a run while it is under way.
    void setSettingsEnabled(bool enabled);
    void setOutputFolder(const QString& path);

    // The sentence the status line shows after a run.
    static QString summaryText(const RunSummary& summary);

    // Shows the window in front of the others, as a second start asks.
    void bringToFront();

  public slots:
    void addFilesDialog();
    void startConversion();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    QWidget* buildFilesPanel(QWidget* parent);
    QWidget* buildSettingsPanel(QWidget* parent);
    QWidget* buildStatusRow(QWidget* parent);
    void buildMenus();
    void connectSettingsPanel();

    // Recomputes enabled states, tool tips and the idle status text.
    void updateControls();
    // Why a run cannot start now; empty when it can.
    QString notReadyReason() const;
    void refreshAfterQueueChange();

    // Live checks of the settings panel.
    void checkPageSelection();
    void checkTemplate();
    void updateResolutionHint();

    // The run as the controller reports it.
    void handleRunStarted(int fileCount);
    void handleJobStarted(qulonglong id, int fileIndex, int fileCount);
    void handleJobProgress(qulonglong id, int pagesDone, int pagesTotal);
    void handlePasswordRequired(qulonglong id, const QString& fileName, bool previousAttemptWrong);
    void handleExistingFilesFound(qulonglong id, const QString& message);
    void handleRunFinished(const bl::desktop::RunSummary& summary);
    // The whole run's progress in the title and on the launcher entry.
    void showRunProgress(int pagesDone, int pagesTotal);
    void askForPassword(quint64 id, const QString& fileName, bool previousAttemptWrong);
    void askAboutExistingFiles(quint64 id, const QString& message);
    void cancelConversion();
    void showAbout();
    QString jobFileName(quint64 id) const;

    QList<quint64> selectedJobIds() const;
    void removeSelectedJobs();
    void openFirstOutputOfSelection();
    void showQueueMenu(const QPoint& position);
    // Opens a file or folder with the desktop's default application; says so,
    // naming the folder, when nothing answers.
    void openWithDesktop(const QString& path, const QString& folder);

    void setHint(QLabel* hint, const QString& text, bool problem);
    void refreshBackgroundButton();
    void chooseBackground();
    void chooseOutputFolder();
    void openOutputFolder();

    static QStringList pdfPaths(const QMimeData* mime);

    ConversionController controller_;
    DesktopIntegration* integration_ = nullptr;
    // Where the run is: the file being converted and how many the run has.
    int runFileIndex_ = 0;
    int runFileCount_ = 0;

    bl::Rgb backgroundColour_;
    bool pageSelectionValid_ = true;
    bool templateValid_ = true;

    QTableView* queueView_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QLabel* dropHint_ = nullptr;
    QRadioButton* allPagesRadio_ = nullptr;
    QRadioButton* selectedPagesRadio_ = nullptr;
    QLineEdit* pagesEdit_ = nullptr;
    QLabel* pagesHint_ = nullptr;
    QComboBox* presetCombo_ = nullptr;
    QPushButton* advancedToggle_ = nullptr;
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
    QLabel* dpiHint_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* convertButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* openFolderButton_ = nullptr;
};

}  // namespace bl::desktop
