// The application's only window: the queue of files, the settings of a run and
// the status row.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>

#include "desktop/conversion_controller.h"
#include "desktop/output_estimate.h"
#include "desktop/settings_store.h"

class QAction;
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
class PagePane;
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
    PagePane& pagePane() { return *pagePane_; }
    OutputEstimator& estimator() { return estimator_; }

    // What closing the window stores: the panel's settings without the page
    // selection, and the window's place.
    SavedSettings settingsToSave() const;
    // Puts a stored record into the panel, checks it and puts the window back
    // where it was.
    void applySettings(const SavedSettings& saved);

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
    // What the window shows of the run under way, as its signals told it.
    struct RunView {
        int fileCount = 0;
        int fileIndex = -1;  // the file being converted; -1 before the first
        QString fileName;
        int pagesDone = 0;
        int pagesTotal = -1;  // the file's pages; -1 until its first page report
    };

    void buildActions();
    QAction* addCommand(const QString& text, const char* name);
    QWidget* buildFilesColumn(QWidget* parent);
    QWidget* buildFilesPanel(QWidget* parent);
    QTableView* buildQueueView(QWidget* parent);
    QWidget* buildStatusRow(QWidget* parent);
    void buildMenus();
    void connectParts();
    void followFocusWithDefault();

    // After a change of the settings, the selection or the queue: the status
    // row shows the window's state again, not the last notice.
    void updateControls();
    // Shows the window's state: every enabled state, tool tip, the status row
    // and the title follow from the controller, the settings and runView_.
    void render();
    void renderRun();
    QString runStatusText() const;
    // Why a run cannot start now; empty when it can.
    QString notReadyReason() const;
    void refreshAfterQueueChange();
    // The page pane shows the file of the first selected row.
    void refreshPagePane();
    // The pane and the estimate follow the settings of the images.
    void settingsEdited();
    void requestEstimate();

    // The run as the controller reports it.
    void handleRunStarted(int fileCount);
    void handleJobStarted(qulonglong id, int fileIndex, int fileCount);
    void handleJobProgress(qulonglong id, int pagesDone, int pagesTotal);
    void handleRunFinished(const bl::desktop::RunSummary& summary);
    void cancelConversion();
    void showAbout();
    // The About box's sentence on where the licence texts are.
    static QString licenceParagraph();
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
    PagePane* pagePane_ = nullptr;
    OutputEstimator estimator_;
    RunView runView_;
    // A sentence that holds the status row until the next change of the
    // settings, the selection or the queue: a run's summary, or why a start was
    // refused.
    QString notice_;

    // One action per command, shared by its button and its menu items.
    QAction* addAction_ = nullptr;
    QAction* removeAction_ = nullptr;
    QAction* convertAgainAction_ = nullptr;
    QAction* clearAction_ = nullptr;
    QAction* convertAction_ = nullptr;
    QAction* cancelAction_ = nullptr;
    QAction* openFolderAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    QAction* aboutAction_ = nullptr;

    QTableView* queueView_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QLabel* dropHint_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* estimateLabel_ = nullptr;
    QPushButton* convertButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* openFolderButton_ = nullptr;
};

}  // namespace bl::desktop
