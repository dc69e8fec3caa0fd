// Bridges the window and the engine: owns the queue, inspects every added file
// on the thread pool and runs conversions one job at a time. All of its state
// lives on the GUI thread; workers hand results back by queued calls.
#pragma once

#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include "bl/convert_types.h"
#include "bl/job.h"
#include "desktop/job_queue_model.h"

namespace bl::desktop {

// The options of a run, as the window collects them.
struct ConversionSettings {
    QString pages = QStringLiteral("all");
    double dpi = 150.0;
    int quality = 90;
    bl::Rgb background;
    QString nameTemplate = QString::fromUtf8(bl::kDefaultNamingTemplate);
    bl::ExistingFilePolicy onExists = bl::ExistingFilePolicy::Ask;
    bool createZip = false;
    bool annotations = true;
    bool formFields = true;
    QString outputFolder;
};

struct RunSummary {
    int converted = 0;
    int partlyConverted = 0;
    int failed = 0;
    int skipped = 0;
    int imagesSaved = 0;
    bool stopped = false;
};

class ConversionController : public QObject {
    Q_OBJECT

  public:
    ConversionController();
    ~ConversionController() override;

    // Queues the existing regular files among `paths` that are not queued yet,
    // and starts inspecting them; returns how many were queued.
    int addFiles(const QStringList& paths);
    // Removes the jobs, except the one being converted and the one a prompt is
    // open for.
    void removeJobs(const QList<quint64>& ids);
    void clearJobs();

    // Starts a run over the runnable jobs; false, with the reason in `error`,
    // when it cannot.
    bool start(const ConversionSettings& settings, QString* error = nullptr);
    // Stops the run after the current page, or at once while a prompt is open.
    void cancel();
    // Test seam: the engine's hooks for every job from now on; they must outlive
    // the controller's jobs.
    void setJobHooks(const bl::detail::JobHooks* hooks) { jobHooks_ = hooks; }
    // Answers to passwordRequired; ignored unless that prompt is open.
    void providePassword(quint64 id, const QString& password);
    void skipFile(quint64 id);
    // Answer to existingFilesFound: Replace or KeepBoth converts the job again and
    // holds for the rest of the run; Ask stops the run.
    void resolveExisting(quint64 id, bl::ExistingFilePolicy policy);

    // Jobs a run would convert.
    int readyCount() const;
    int checkingCount() const { return checkingCount_; }
    bool isRunning() const { return running_; }
    // A cancel was asked for and the run has not ended yet.
    bool isCancelling() const { return running_ && cancelRequested_; }
    // The job whose prompt is open; 0 when none.
    quint64 pendingJob() const { return awaitingAnswer_ ? pendingId_ : 0; }
    // Whether a password typed for the job is being kept for its next launch.
    bool hasStoredPassword(quint64 id) const { return passwords_.contains(id); }
    JobQueueModel* model() { return &model_; }
    const JobQueueModel* model() const { return &model_; }

  signals:
    void checkingChanged(bool checking);
    void runStarted(int fileCount);
    void jobStarted(qulonglong id, int fileIndex, int fileCount);
    void jobProgress(qulonglong id, int pagesDone, int pagesTotal);
    void jobFinished(qulonglong id);
    void passwordRequired(qulonglong id, QString fileName, bool previousAttemptWrong);
    void existingFilesFound(qulonglong id, QString message);
    void runFinished(bl::desktop::RunSummary summary);

  private:
    // What the ZIP step of a job came to.
    struct ZipOutcome {
        bool attempted = false;
        QString path;   // the archive, on success
        QString error;  // the failure message, otherwise
    };

    void inspectAsync(quint64 id, const QString& path);
    void handleInspection(quint64 id, const bl::Result<bl::DocumentInfo>& outcome);
    // The job a run has in hand (converting it, or waiting for a prompt about
    // it); 0 when none.
    quint64 currentRunJob() const;
    void dropPassword(quint64 id);
    void dropAllPasswords();

    enum class Prompt { None, Password, ExistingFiles };
    void openPrompt(quint64 id, Prompt prompt);
    void closePrompt();
    bool isOpenPrompt(quint64 id, Prompt prompt) const;

    void launch(quint64 id);
    void advance();
    void finishRun(bool stopped);
    void askForPassword(quint64 id, bool previousAttemptWrong);
    void handleProgress(quint64 id, const bl::ProgressEvent& event);
    void handleJobResult(quint64 id, const bl::ConvertResult& result, const ZipOutcome& zip);

    JobQueueModel model_;
    QList<QFuture<void>> inspections_;
    int checkingCount_ = 0;

    ConversionSettings settings_;
    bl::ExistingFilePolicy runPolicy_ = bl::ExistingFilePolicy::Ask;
    bool running_ = false;
    bool awaitingAnswer_ = false;
    bool cancelRequested_ = false;
    quint64 pendingId_ = 0;
    Prompt prompt_ = Prompt::None;
    QList<quint64> runIds_;
    int runIndex_ = 0;
    RunSummary summary_;
    QHash<quint64, QByteArray> passwords_;
    bl::CancellationToken cancelToken_;
    QFuture<void> jobTask_;
    const bl::detail::JobHooks* jobHooks_ = nullptr;
};

}  // namespace bl::desktop

Q_DECLARE_METATYPE(bl::desktop::RunSummary)
