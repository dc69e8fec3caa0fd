#include "desktop/main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSizePolicy>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "desktop/accessibility.h"
#include "desktop/app_identity.h"
#include "desktop/desktop_integration.h"
#include "desktop/focus_style.h"
#include "desktop/page_pane.h"
#include "desktop/run_prompts.h"
#include "desktop/settings_panel.h"

namespace bl::desktop {

namespace {

// A button holds one shortcut, and setting one replaces the Alt+letter of its
// text; this keeps the letter working beside the standard key.
void keepMnemonic(QAbstractButton* button) {
    const QKeySequence mnemonic = QKeySequence::mnemonic(button->text());
    if (mnemonic.isEmpty()) {
        return;
    }
    auto* shortcut = new QShortcut(mnemonic, button);
    QObject::connect(shortcut, &QShortcut::activated, button, &QAbstractButton::animateClick);
}

// A push button that stands for an action: it has the action's text, follows
// its enabled state and its tool tip, and a click triggers it. A shortcut goes
// on after this, since setting a button's text replaces its shortcut.
QPushButton* actionButton(QAction* action, const char* name, QWidget* parent) {
    auto* button = new QPushButton(action->text(), parent);
    button->setObjectName(QString::fromLatin1(name));
    const auto follow = [button, action] {
        button->setEnabled(action->isEnabled());
        // An action without a tool tip of its own reports its text, as its icon
        // text does; a button needs no tool tip that repeats its text.
        const QString tip = action->toolTip();
        button->setToolTip(tip == action->iconText() ? QString() : tip);
    };
    follow();
    QObject::connect(action, &QAction::changed, button, follow);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    return button;
}

// The queue above the pages of its selected file. The queue needs a few rows,
// the pages the rest: a third and two thirds when the window first shows,
// whatever either would ask for; the user moves the handle from there.
class FilesColumn : public QSplitter {
  public:
    explicit FilesColumn(QWidget* parent) : QSplitter(Qt::Vertical, parent) {
        setObjectName(QStringLiteral("filesSplitter"));
        setChildrenCollapsible(false);
        setStretchFactor(0, 1);
        setStretchFactor(1, 2);
    }

  protected:
    void showEvent(QShowEvent* event) override {
        QSplitter::showEvent(event);
        if (!placed_ && count() == 2) {
            placed_ = true;
            const int third = height() / 3;
            setSizes({third, height() - third});
        }
    }

  private:
    bool placed_ = false;
};

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(tr("Brightleaf \u2014 PDF to JPG"));
    setWindowIcon(applicationIcon());
    setAcceptDrops(true);
    setMinimumSize(960, 620);
    integration_ = new DesktopIntegration(this);
    buildActions();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* header = new QLabel(tr("<b>Convert PDF pages to JPG images</b>"), central);
    header->setObjectName(QStringLiteral("headerLabel"));
    header->setTextFormat(Qt::RichText);
    layout->addWidget(header);

    auto* privacy = new QLabel(tr("Runs on this computer. Your files are not uploaded."), central);
    privacy->setObjectName(QStringLiteral("privacyLabel"));
    // Read out as what it says; what it is goes in the description.
    privacy->setAccessibleDescription(tr("Privacy note"));
    layout->addWidget(privacy);

    auto* panels = new QHBoxLayout();
    layout->addLayout(panels, 1);
    panels->addWidget(buildFilesColumn(central), 3);
    settingsPanel_ = new SettingsPanel(
        *controller_.model(), [this] { return firstSelectedJob(); }, central);
    panels->addWidget(settingsPanel_, 2);
    layout->addWidget(buildStatusRow(central));

    setCentralWidget(central);
    buildMenus();
    new RunPrompts(controller_, this);
    connectParts();

    applySettings(SettingsStore().load());
    updateControls();
    // The focus starts where the screen does, on the queue; passing through it
    // selects nothing, so Delete there removes nothing unasked.
    queueView_->setFocus();
    followFocusWithDefault();
    // Where the platform style draws no focus, this one does.
    auto* focusStyle = new FocusStyle();
    focusStyle->setParent(this);
    queueView_->setStyle(focusStyle);
    convertButton_->setStyle(focusStyle);
}

void MainWindow::connectParts() {
    JobQueueModel* model = controller_.model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &MainWindow::refreshAfterQueueChange);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &MainWindow::refreshAfterQueueChange);
    connect(model, &QAbstractItemModel::modelReset, this, &MainWindow::refreshAfterQueueChange);
    connect(model, &QAbstractItemModel::dataChanged, this, &MainWindow::refreshAfterQueueChange);
    connect(&controller_, &ConversionController::checkingChanged, this,
            &MainWindow::refreshAfterQueueChange);
    connect(queueView_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        updateControls();
        settingsPanel_->updateResolutionHint();
        refreshPagePane();
    });
    // Also during a run: a file removed then takes its pages with it.
    connect(model, &QAbstractItemModel::rowsRemoved, this, &MainWindow::refreshPagePane);
    connect(model, &QAbstractItemModel::modelReset, this, &MainWindow::refreshPagePane);
    connect(model, &QAbstractItemModel::dataChanged, this, &MainWindow::refreshPagePane);
    connect(settingsPanel_, &SettingsPanel::optionsChanged, this, &MainWindow::settingsEdited);
    connect(pagePane_, &PagePane::pageSelectionEdited, settingsPanel_,
            &SettingsPanel::setPageSelection);
    connect(&estimator_, &OutputEstimator::textChanged, this, &MainWindow::render);
    connect(&controller_, &ConversionController::runStarted, this, &MainWindow::handleRunStarted);
    connect(&controller_, &ConversionController::jobStarted, this, &MainWindow::handleJobStarted);
    connect(&controller_, &ConversionController::jobProgress, this, &MainWindow::handleJobProgress);
    connect(&controller_, &ConversionController::runFinished, this, &MainWindow::handleRunFinished);
    connect(settingsPanel_, &SettingsPanel::validityChanged, this, &MainWindow::updateControls);
}

void MainWindow::followFocusWithDefault() {
    // Enter presses the button that has the focus, and only that button looks
    // like the one Enter presses: the default frame gives way to it, as in a
    // dialog.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(button != convertButton_);
    }
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now != nullptr && now->window() == this) {
            const auto* button = qobject_cast<QPushButton*>(now);
            convertButton_->setDefault(button == nullptr || button == convertButton_);
        }
    });
}

void MainWindow::changeEvent(QEvent* event) {
    // Qt marks the focus only after the first Tab; someone who works with the
    // keyboard must see where it is from the moment the window is active.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        setAttribute(Qt::WA_KeyboardFocusChange);
        if (QWidget* focused = focusWidget()) {
            focused->update();
        }
    }
    QMainWindow::changeEvent(event);
}

MainWindow::~MainWindow() {
    // The controller and its model go before the child widgets do; nothing of
    // theirs may reach a window that is half torn down.
    disconnect(&controller_, nullptr, this, nullptr);
    disconnect(controller_.model(), nullptr, this, nullptr);
    queueView_->setModel(nullptr);
}

QWidget* MainWindow::buildFilesColumn(QWidget* parent) {
    // The queue needs a few rows; the pages of the selected file take the rest.
    auto* column = new FilesColumn(parent);
    column->addWidget(buildFilesPanel(column));
    pagePane_ = new PagePane(column);
    column->addWidget(pagePane_);
    return column;
}

QWidget* MainWindow::buildFilesPanel(QWidget* parent) {
    auto* group = new QGroupBox(tr("Files"), parent);
    group->setObjectName(QStringLiteral("filesGroup"));
    auto* layout = new QVBoxLayout(group);

    // Split after each escape that a letter follows: lupdate would read that
    // letter as a further hex digit of the escape, and miss the text.
    dropHint_ = new QLabel(tr("Drag PDF files here, or choose them with \u201C"
                              "Add PDFs\u2026\u201D."),
                           group);
    dropHint_->setObjectName(QStringLiteral("dropHint"));
    dropHint_->setAlignment(Qt::AlignCenter);
    dropHint_->setMinimumHeight(48);
    dropHint_->setWordWrap(true);
    dropHint_->setStyleSheet(
        QStringLiteral("border: 2px dashed palette(mid); border-radius: 6px; padding: 8px;"));
    layout->addWidget(dropHint_);

    layout->addWidget(buildQueueView(group), 1);

    auto* buttons = new QHBoxLayout();
    addButton_ = actionButton(addAction_, "addButton", group);
    addButton_->setShortcut(QKeySequence::Open);
    keepMnemonic(addButton_);
    buttons->addWidget(addButton_);
    removeButton_ = actionButton(removeAction_, "removeButton", group);
    removeButton_->setShortcut(QKeySequence::Delete);
    keepMnemonic(removeButton_);
    buttons->addWidget(removeButton_);
    clearButton_ = actionButton(clearAction_, "clearButton", group);
    buttons->addWidget(clearButton_);
    buttons->addStretch();
    layout->addLayout(buttons);

    return group;
}

QTableView* MainWindow::buildQueueView(QWidget* parent) {
    queueView_ = new QTableView(parent);
    queueView_->setObjectName(QStringLiteral("queueView"));
    queueView_->setModel(controller_.model());
    queueView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    queueView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    queueView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab moves between the window's controls, never from cell to cell: inside
    // the table it would trap the focus and drag the selection along.
    queueView_->setTabKeyNavigation(false);
    queueView_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(queueView_, &QWidget::customContextMenuRequested, this, &MainWindow::showQueueMenu);
    queueView_->verticalHeader()->hide();
    queueView_->horizontalHeader()->setSectionResizeMode(JobQueueModel::FileColumn,
                                                         QHeaderView::Stretch);
    queueView_->horizontalHeader()->setSectionResizeMode(JobQueueModel::StatusColumn,
                                                         QHeaderView::Stretch);
    // The counts are short; their room goes to the file names and the status.
    queueView_->horizontalHeader()->setSectionResizeMode(JobQueueModel::PagesColumn,
                                                         QHeaderView::ResizeToContents);
    queueView_->horizontalHeader()->setSectionResizeMode(JobQueueModel::SizeColumn,
                                                         QHeaderView::ResizeToContents);
    // One line per file; a long status is elided, and its tool tip has it all.
    queueView_->setWordWrap(false);
    queueView_->setAccessibleName(tr("File queue"));
    queueView_->setAccessibleDescription(
        tr("PDF files to convert, with page count, size and status"));
    connect(queueView_, &QAbstractItemView::doubleClicked, this,
            &MainWindow::openFirstOutputOfSelection);
    return queueView_;
}

QWidget* MainWindow::buildStatusRow(QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("statusRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    // The estimate of a run's output sits where its progress bar goes.
    auto* column = new QGridLayout();
    statusLabel_ = new QLabel(tr("Add PDF files to begin."), row);
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    // Named by what it says, so that a screen reader reads the status itself.
    statusLabel_->setAccessibleDescription(tr("Status"));
    setAccessibleKind(statusLabel_, AccessibleKind::StatusText);
    statusLabel_->setWordWrap(true);
    column->addWidget(statusLabel_, 0, 0);
    progressBar_ = new QProgressBar(row);
    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setAccessibleName(tr("Conversion progress"));
    progressBar_->hide();
    // The bar's room is kept while it is hidden, so that the panels above do
    // not jump when a run starts and ends.
    QSizePolicy barPolicy = progressBar_->sizePolicy();
    barPolicy.setRetainSizeWhenHidden(true);
    progressBar_->setSizePolicy(barPolicy);
    column->addWidget(progressBar_, 1, 0);
    estimateLabel_ = new QLabel(row);
    estimateLabel_->setObjectName(QStringLiteral("estimateLabel"));
    estimateLabel_->setToolTip(
        tr("Estimated from a few pages of each file, converted in memory with the current "
           "settings."));
    estimateLabel_->hide();
    column->addWidget(estimateLabel_, 1, 0);
    layout->addLayout(column, 1);

    openFolderButton_ = actionButton(openFolderAction_, "openFolderButton", row);
    layout->addWidget(openFolderButton_);
    cancelButton_ = actionButton(cancelAction_, "cancelButton", row);
    cancelButton_->setShortcut(QKeySequence(Qt::Key_Escape));
    layout->addWidget(cancelButton_);
    convertButton_ = actionButton(convertAction_, "convertButton", row);
    convertButton_->setDefault(true);
    convertButton_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    keepMnemonic(convertButton_);
    layout->addWidget(convertButton_);

    return row;
}

QAction* MainWindow::addCommand(const QString& text, const char* name) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

void MainWindow::buildActions() {
    addAction_ = addCommand(tr("&Add PDFs\u2026"), "addAction");
    addAction_->setToolTip(tr("Add PDF files (Ctrl+O)"));
    connect(addAction_, &QAction::triggered, this, &MainWindow::addFilesDialog);
    removeAction_ = addCommand(tr("&Remove"), "removeAction");
    connect(removeAction_, &QAction::triggered, this, &MainWindow::removeSelectedJobs);
    convertAgainAction_ = addCommand(tr("Convert again"), "convertAgainAction");
    connect(convertAgainAction_, &QAction::triggered, this,
            [this] { controller_.convertAgain(selectedJobIds()); });
    clearAction_ = addCommand(tr("C&lear list"), "clearAction");
    connect(clearAction_, &QAction::triggered, &controller_, &ConversionController::clearJobs);
    convertAction_ = addCommand(tr("Convert to &JPG"), "convertAction");
    connect(convertAction_, &QAction::triggered, this, &MainWindow::startConversion);
    cancelAction_ = addCommand(tr("Cancel"), "cancelAction");
    connect(cancelAction_, &QAction::triggered, this, &MainWindow::cancelConversion);
    openFolderAction_ = addCommand(tr("&Open output folder"), "openFolderAction");
    connect(openFolderAction_, &QAction::triggered, this, &MainWindow::openOutputFolder);
    exitAction_ = addCommand(tr("E&xit"), "exitAction");
    connect(exitAction_, &QAction::triggered, this, &QWidget::close);
    aboutAction_ = addCommand(tr("&About and third-party notices"), "aboutAction");
    connect(aboutAction_, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::buildMenus() {
    QMenu* fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    fileMenu->addAction(addAction_);
    fileMenu->addSeparator();
    fileMenu->addAction(exitAction_);
    QMenu* helpMenu = menuBar()->addMenu(tr("&Help"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpMenu->addAction(aboutAction_);
}

void MainWindow::addFilesDialog() {
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, tr("Choose PDF files"),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
        tr("PDF documents (*.pdf);;All files (*)"));
    if (!paths.isEmpty()) {
        controller_.addFiles(paths);
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!pdfPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QStringList paths = pdfPaths(event->mimeData());
    if (paths.isEmpty()) {
        return;
    }
    controller_.addFiles(paths);
    event->acceptProposedAction();
}

QStringList MainWindow::pdfPaths(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) {
            continue;
        }
        const QString path = url.toLocalFile();
        if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
            paths.append(path);
        }
    }
    return paths;
}

QString MainWindow::notReadyReason() const {
    if (controller_.isRunning()) {
        return tr("Converting\u2026");
    }
    if (controller_.model()->rowCount() == 0) {
        return tr("Add PDF files to begin.");
    }
    if (controller_.checkingCount() > 0) {
        return tr("Checking files\u2026");
    }
    if (controller_.readyCount() == 0) {
        return tr("No files are ready to convert.");
    }
    if (!settingsPanel_->pageSelectionValid()) {
        return tr("Fix the page selection.");
    }
    if (!settingsPanel_->templateValid()) {
        return tr("Fix the file naming template.");
    }
    if (settingsPanel_->outputFolder().isEmpty()) {
        return tr("Choose where to save the images.");
    }
    return {};
}

void MainWindow::updateControls() {
    notice_.clear();
    render();
}

void MainWindow::render() {
    if (statusLabel_ == nullptr) {
        return;
    }
    const QString reason = notReadyReason();
    const bool ready = reason.isEmpty();
    const bool running = controller_.isRunning();
    const bool empty = controller_.model()->rowCount() == 0;
    const QString folder = settingsPanel_->outputFolder();

    convertAction_->setEnabled(ready);
    convertAction_->setToolTip(ready ? tr("Start converting (Ctrl+Enter)") : reason);
    cancelAction_->setEnabled(running);
    removeAction_->setEnabled(queueView_->selectionModel()->hasSelection());
    const QList<quint64> selected = selectedJobIds();
    convertAgainAction_->setEnabled(
        std::any_of(selected.begin(), selected.end(), [this](quint64 id) {
            const Job* job = controller_.model()->job(id);
            return job != nullptr && job->state == JobState::Done;
        }));
    clearAction_->setEnabled(!running && !empty);
    openFolderAction_->setEnabled(!folder.isEmpty() && QFileInfo(folder).isDir());
    // A run's settings stay as they were when it started.
    settingsPanel_->setSettingsEnabled(!running);
    dropHint_->setVisible(empty);
    // During a run the status line and the bar say how far it is.
    estimateLabel_->setText(estimator_.text());
    estimateLabel_->setVisible(!running && !estimator_.text().isEmpty());
    if (running) {
        renderRun();
        return;
    }
    progressBar_->hide();
    setWindowTitle(tr("Brightleaf \u2014 PDF to JPG"));
    integration_->clearProgress();
    setStatusText(statusLabel_, !notice_.isEmpty() ? notice_
                                : ready            ? tr("Ready to convert.")
                                                   : reason);
}

void MainWindow::refreshAfterQueueChange() {
    // A run reports its own progress; the checks come back when it ends.
    if (controller_.isRunning()) {
        return;
    }
    settingsPanel_->recheck();
    updateControls();
    requestEstimate();
}

void MainWindow::refreshPagePane() {
    pagePane_->showJob(controller_.model()->job(firstSelectedJob()));
}

void MainWindow::settingsEdited() {
    const SavedSettings settings = settingsPanel_->settings();
    pagePane_->setImageOptions(imageOptions(settings));
    pagePane_->setPageSelection(settings.pages);
    requestEstimate();
}

void MainWindow::requestEstimate() {
    if (!controller_.isRunning()) {
        estimator_.request(controller_.model()->jobs(), settingsPanel_->settings());
    }
}

QList<quint64> MainWindow::selectedJobIds() const {
    QModelIndexList rows = queueView_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    const QList<Job>& jobs = controller_.model()->jobs();
    QList<quint64> ids;
    for (const QModelIndex& row : rows) {
        if (row.row() >= 0 && row.row() < jobs.size()) {
            ids.append(jobs.at(row.row()).id);
        }
    }
    return ids;
}

quint64 MainWindow::firstSelectedJob() const {
    const QList<quint64> ids = selectedJobIds();
    return ids.isEmpty() ? 0 : ids.first();
}

void MainWindow::removeSelectedJobs() {
    const QList<quint64> ids = selectedJobIds();
    if (!ids.isEmpty()) {
        controller_.removeJobs(ids);
    }
}

void MainWindow::openFirstOutputOfSelection() {
    const QList<quint64> ids = selectedJobIds();
    if (ids.isEmpty()) {
        return;
    }
    const Job* job = controller_.model()->job(ids.first());
    if (job == nullptr || job->outputFiles.isEmpty()) {
        return;
    }
    const QString image = job->outputFiles.first();
    openWithDesktop(image, QFileInfo(image).absolutePath());
}

void MainWindow::showQueueMenu(const QPoint& position) {
    const QModelIndex index = queueView_->indexAt(position);
    if (!index.isValid()) {
        return;
    }
    // The menu acts on the row under the pointer, as in a file manager.
    if (!queueView_->selectionModel()->isRowSelected(index.row(), QModelIndex())) {
        queueView_->selectionModel()->select(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    const QList<quint64> ids = selectedJobIds();
    const Job* job = ids.isEmpty() ? nullptr : controller_.model()->job(ids.first());
    if (job == nullptr) {
        return;
    }
    const QString image = job->outputFiles.isEmpty() ? QString() : job->outputFiles.first();
    // Before a run the folder worth showing is the PDF's own.
    const QString folder = QFileInfo(image.isEmpty() ? job->path : image).absolutePath();

    QMenu menu(this);
    menu.setObjectName(QStringLiteral("queueMenu"));
    QAction* openImage = menu.addAction(tr("Open first image"));
    openImage->setEnabled(!image.isEmpty());
    connect(openImage, &QAction::triggered, this,
            [this, image, folder] { openWithDesktop(image, folder); });
    QAction* showFolder = menu.addAction(tr("Show in folder"));
    connect(showFolder, &QAction::triggered, this,
            [this, folder] { openWithDesktop(folder, folder); });
    menu.addSeparator();
    menu.addAction(convertAgainAction_);
    menu.addAction(removeAction_);
    menu.exec(queueView_->viewport()->mapToGlobal(position));
}

void MainWindow::openOutputFolder() {
    const QString folder = settingsPanel_->outputFolder();
    if (!folder.isEmpty()) {
        openWithDesktop(folder, folder);
    }
}

void MainWindow::openWithDesktop(const QString& path, const QString& folder) {
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        return;
    }
    QMessageBox::warning(
        this, tr("Cannot open"),
        path == folder
            ? tr("No application is set up to open the folder \u201C%1\u201D. Open it in "
                 "your file manager.")
                  .arg(QDir::toNativeSeparators(folder))
            : tr("No application is set up to open \u201C%1\u201D. It is in the folder "
                 "\u201C%2\u201D.")
                  .arg(QFileInfo(path).fileName(), QDir::toNativeSeparators(folder)),
        QMessageBox::Ok);
}

SavedSettings MainWindow::settingsToSave() const {
    SavedSettings saved = settingsPanel_->settings();
    // A selection fits the files of one session only.
    saved.pages = QStringLiteral("all");
    saved.geometry = saveGeometry();
    return saved;
}

void MainWindow::applySettings(const SavedSettings& saved) {
    settingsPanel_->setSettings(saved);
    // Qt pulls a window whose screen has gone, or that would hang off the
    // screen, back into the visible area.
    if (!saved.geometry.isEmpty()) {
        restoreGeometry(saved.geometry);
    }
    updateControls();
}

void MainWindow::bringToFront() {
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

}  // namespace bl::desktop
