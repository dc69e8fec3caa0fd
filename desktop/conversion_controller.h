// Bridges the window and the engine: owns the queue, inspects every added file
// on the thread pool and runs conversions one job at a time. All of its state
// lives on the GUI thread; workers hand results back by queued calls.
#pragma once

#include <QFuture>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <unordered_map>

#include "bl/convert_types.h"
#include "bl/job.h"
#include "bl/secret.h"
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
    // What runs a job on the worker thread: bl::run_job, unless a test steers
    // the engine through one of its own. It must outlive the controller's jobs.
    using JobRunner = std::function<bl::JobResult(bl::JobRequest, const bl::ProgressCallback&,
                                                  const bl::CancellationToken&)>;
    void setJobRunner(JobRunner runner) { jobRunner_ = std::move(runner); }
    // Answers to passwordRequired; ignored unless that prompt is open.
    void providePassword(quint64 id, const QString& password);
    void skipFile(quint64 id);
    // Answer to existingFilesFound: Replace or KeepBoth converts the job again and
    // holds for the rest of the run; Ask stops the run.
    void resolveExisting(quint64 id, bl::ExistingFilePolicy policy);

    // Jobs a run would convert.
    int readyCount() const;
    int checkingCount() const { return checkingCount_; }
    bool isRunning() const { return runState_ != RunState::Idle; }
    // A cancel was asked for and the run has not ended yet.
    bool isCancelling() const { return runState_ == RunState::Cancelling; }
    // The job whose prompt is open; 0 when none.
    quint64 pendingJob() const;
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
    enum class RunState {
        Idle,
        // Converting a job, or between two jobs within one call.
        Running,
        // A cancel was asked for; the run ends when the job's result is in.
        Cancelling,
        // Waiting for the answer to a prompt about the job in hand.
        AskingPassword,
        AskingExistingFiles,
    };

    void inspectAsync(quint64 id, const QString& path);
    void handleInspection(quint64 id, const bl::Result<bl::DocumentInfo>& outcome);
    // The job a run has in hand (converting it, or waiting for a prompt about
    // it), which is always the run's current one; 0 when none.
    quint64 currentRunJob() const;
    // Whether `id` is the job of the open prompt `asking`.
    bool isOpenPrompt(quint64 id, RunState asking) const;

    bl::ConvertRequest requestFor(const Job& job);
    void launch(quint64 id);
    void advance();
    void finishRun(bool stopped);
    void askForPassword(quint64 id, bool previousAttemptWrong);
    void handleProgress(quint64 id, const bl::ProgressEvent& event);
    void handleJobResult(quint64 id, const bl::JobResult& result);

    JobQueueModel model_;
    QList<QFuture<void>> inspections_;
    int checkingCount_ = 0;

    ConversionSettings settings_;
    bl::ExistingFilePolicy runPolicy_ = bl::ExistingFilePolicy::Ask;
    RunState runState_ = RunState::Idle;
    QList<quint64> runIds_;
    int runIndex_ = 0;
    RunSummary summary_;
    // Typed at a prompt and kept until the job is launched with it.
    std::unordered_map<quint64, bl::Secret> passwords_;
    bl::CancellationToken cancelToken_;
    QFuture<void> jobTask_;
    JobRunner jobRunner_ = &bl::run_job;
};

// What a job's result comes to, worked out without touching the controller:
// the job's row afterwards and what the run does next.
struct JobOutcome {
    enum class Next {
        NextJob,
        AskPassword,
        AskAboutExistingFiles,
        // The run ends as stopped: the job was cancelled, or a cancel is pending.
        StopRun,
    };

    Job job;
    // What the job adds to the run's totals.
    RunSummary counts;
    // The run is through with the job (jobFinished); not while a question about
    // it is open or was cut short by a cancel.
    bool finished = false;
    Next next = Next::NextJob;
    bool previousAttemptWrong = false;  // with AskPassword
    QString question;                   // with AskAboutExistingFiles: the engine's message
};

// `job` as it was launched; `runPolicy`, what the run does about existing
// files; `cancelling`, whether a cancel was asked for while the job ran.
JobOutcome jobOutcome(Job job, const bl::JobResult& result, bl::ExistingFilePolicy runPolicy,
                      bool cancelling);

}  // namespace bl::desktop

Q_DECLARE_METATYPE(bl::desktop::RunSummary)
