// The application's only window: the queue of files, the settings of a run and
// the status row.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>

#include "desktop/conversion_controller.h"
#include "desktop/settings_store.h"

class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QEvent;
class QLabel;
class QMimeData;
class QPoint;
class QProgressBar;
class QPushButton;
class QTableView;

namespace bl::desktop {

class DesktopIntegration;
class SettingsPanel;

// Composes the window from its parts: the queue table with its buttons, the
// settings panel, the status row and the menus. It follows a run through the
// controller's signals; the prompts of a run are RunPrompts'.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    ConversionController& controller() { return controller_; }
    SettingsPanel& settingsPanel() { return *settingsPanel_; }

    // What closing the window stores: the panel's settings without the page
    // selection, and the window's place.
    SavedSettings settingsToSave() const;
    // Puts a stored record into the panel, checks it and puts the window back
    // where it was.
    void applySettings(const SavedSettings& saved);

    // Locks the settings of a run, and clearing the queue, while it is under way.
    void setSettingsEnabled(bool enabled);

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
    QTableView* buildQueueView(QWidget* parent);
    QWidget* buildStatusRow(QWidget* parent);
    void buildMenus();
    void connectParts();

    // Recomputes enabled states, tool tips and the idle status text.
    void updateControls();
    // Why a run cannot start now; empty when it can.
    QString notReadyReason() const;
    void refreshAfterQueueChange();

    // The run as the controller reports it.
    void handleRunStarted(int fileCount);
    void handleJobStarted(qulonglong id, int fileIndex, int fileCount);
    void handleJobProgress(qulonglong id, int pagesDone, int pagesTotal);
    void handleRunFinished(const bl::desktop::RunSummary& summary);
    // The whole run's progress in the title and on the launcher entry.
    void showRunProgress(int pagesDone, int pagesTotal);
    void cancelConversion();
    void showAbout();
    QString jobFileName(quint64 id) const;

    QList<quint64> selectedJobIds() const;
    // The job of the first selected row; 0 for none.
    quint64 firstSelectedJob() const;
    void removeSelectedJobs();
    void openFirstOutputOfSelection();
    void showQueueMenu(const QPoint& position);
    // Opens a file or folder with the desktop's default application; says so,
    // naming the folder, when nothing answers.
    void openWithDesktop(const QString& path, const QString& folder);

    void openOutputFolder();

    static QStringList pdfPaths(const QMimeData* mime);

    ConversionController controller_;
    DesktopIntegration* integration_ = nullptr;
    SettingsPanel* settingsPanel_ = nullptr;
    // Where the run is: the file being converted and how many the run has.
    int runFileIndex_ = 0;
    int runFileCount_ = 0;

    QTableView* queueView_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QLabel* dropHint_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* convertButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* openFolderButton_ = nullptr;
};

}  // namespace bl::desktop
