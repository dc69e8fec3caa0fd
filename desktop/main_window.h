// The application's only window: the queue of files, the settings of a run and
// the status row.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>

#include "desktop/conversion_controller.h"
#include "engine/convert_types.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableView;

namespace bl::desktop {

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    ConversionController& controller() { return controller_; }

  public slots:
    void addFilesDialog();
    void startConversion();

  protected:
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

    QList<quint64> selectedJobIds() const;
    void removeSelectedJobs();
    void openFirstOutputOfSelection();

    void setHint(QLabel* hint, const QString& text, bool problem);
    void refreshBackgroundButton();
    void chooseBackground();
    void chooseOutputFolder();
    void setOutputFolder(const QString& path);
    void openOutputFolder();

    static QStringList pdfPaths(const QMimeData* mime);

    ConversionController controller_;

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
