// A run over the queue: one job at a time on the thread pool, the questions it
// asks about passwords and existing files, and the totals it ends with. All of
// its state lives on the GUI thread; the job's worker hands its progress and
// result back by queued calls.
#pragma once

#include <QFuture>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>
#include <unordered_map>

#include "bl/convert_types.h"
#include "bl/job.h"
#include "bl/secret.h"
#include "desktop/job_request.h"

namespace bl::desktop {

class JobQueueModel;

struct RunSummary {
    int converted = 0;
    int partlyConverted = 0;
    int failed = 0;
    int skipped = 0;
    int imagesSaved = 0;
    bool stopped = false;
};

// Pages over every file of a run: those it is through with, and all it expects.
// A file's pages count from its page count and the selection until it opens,
// and all count as done once the run has left the file, whatever became of it.
struct RunPages {
    int done = 0;
    int total = 0;
};

class ConversionRun : public QObject {
    Q_OBJECT

  public:
    // Converts the jobs of `queue`, which must outlive the run.
    explicit ConversionRun(JobQueueModel& queue);
    // Stops the job under way and waits for it.
    ~ConversionRun() override;

    bool start(const ConversionSettings& settings, QString* error);
    void cancel();
    void providePassword(quint64 id, const QString& password);
    void skipFile(quint64 id);
    void resolveExisting(quint64 id, bl::ExistingFilePolicy policy);

    bool isRunning() const { return state_ != State::Idle; }
    bool isCancelling() const { return state_ == State::Cancelling; }
    quint64 pendingJob() const;
    // The job the run has in hand (converting it, or waiting for a prompt about
    // it), which is always the run's current one; 0 when none.
    quint64 jobInHand() const;
    RunPages pages() const;
    bool hasStoredPassword(quint64 id) const { return passwords_.contains(id); }
    // Drops what was typed for jobs that have left the queue.
    void forgetPasswords(const QList<quint64>& ids);
    // What runs a job on the worker thread: bl::run_job, unless a test steers
    // the engine through one of its own. It must outlive the run's jobs.
    using JobRunner = std::function<bl::JobResult(bl::JobRequest, const bl::ProgressCallback&,
                                                  const bl::CancellationToken&)>;
    void setJobRunner(JobRunner runner) { jobRunner_ = std::move(runner); }

  signals:
    void runStarted(int fileCount);
    void jobStarted(qulonglong id, int fileIndex, int fileCount);
    void jobProgress(qulonglong id, int pagesDone, int pagesTotal);
    void jobFinished(qulonglong id);
    void passwordRequired(qulonglong id, QString fileName, bool previousAttemptWrong);
    void existingFilesFound(qulonglong id, QString message);
    void runFinished(bl::desktop::RunSummary summary);

  private:
    enum class State {
        Idle,
        // Converting a job, or between two jobs within one call.
        Running,
        // A cancel was asked for; the run ends when the job's result is in.
        Cancelling,
        // Waiting for the answer to a prompt about the job in hand.
        AskingPassword,
        AskingExistingFiles,
    };

    // Whether `id` is the job of the open prompt `asking`.
    bool isOpenPrompt(quint64 id, State asking) const;
    void launch(quint64 id);
    // Runs the job on the thread pool; the one place that calls the engine.
    void startJobTask(quint64 id, bl::JobRequest request);
    void advance();
    // Moves on from the job in hand.
    void leaveJob();
    void finishRun(bool stopped);
    void askForPassword(quint64 id, bool previousAttemptWrong);
    void handleProgress(quint64 id, const bl::ProgressEvent& event);
    void handleJobResult(quint64 id, const bl::JobResult& result);

    JobQueueModel& queue_;
    ConversionSettings settings_;
    bl::ExistingFilePolicy policy_ = bl::ExistingFilePolicy::Ask;
    State state_ = State::Idle;
    QList<quint64> runIds_;
    int runIndex_ = 0;
    // One entry per job of runIds_.
    QList<RunPages> pages_;
    RunSummary summary_;
    // Typed at a prompt and kept until the job is launched with it.
    std::unordered_map<quint64, bl::Secret> passwords_;
    bl::CancellationToken cancelToken_;
    QFuture<void> jobTask_;
    JobRunner jobRunner_ = &bl::run_job;
};

}  // namespace bl::desktop

Q_DECLARE_METATYPE(bl::desktop::RunSummary)
