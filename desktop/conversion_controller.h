// Bridges the window and the engine: the queue with its inspections, and the
// runs over it. Each has a part of its own; this object joins them behind one
// interface and one set of signals. All of its state lives on the GUI thread.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "bl/convert_types.h"
#include "desktop/conversion_run.h"
#include "desktop/job_outcome.h"
#include "desktop/job_queue.h"
#include "desktop/job_queue_model.h"
#include "desktop/job_request.h"

namespace bl::desktop {

class ConversionController : public QObject {
    Q_OBJECT

  public:
    ConversionController();
    ~ConversionController() override;

    // Queues the existing regular files among `paths` that are not queued yet,
    // and starts inspecting them; returns how many were queued.
    int addFiles(const QStringList& paths) { return queue_.addFiles(paths); }
    // Removes the jobs, except the one being converted and the one a prompt is
    // open for.
    void removeJobs(const QList<quint64>& ids);
    void clearJobs() { removeJobs(queue_.allIds()); }
    // Puts the jobs that are Done back in line for the next run: Ready, or
    // Password required when the document is locked and its password is not
    // held. Other jobs are left as they are.
    void convertAgain(const QList<quint64>& ids);

    // Starts a run over the runnable jobs; false, with the reason in `error`,
    // when it cannot.
    bool start(const ConversionSettings& settings, QString* error = nullptr) {
        return run_.start(settings, error);
    }
    // Stops the run after the current page, or at once while a prompt is open.
    void cancel() { run_.cancel(); }
    // Test seam: what runs every job from now on (see ConversionRun).
    using JobRunner = ConversionRun::JobRunner;
    void setJobRunner(JobRunner runner) { run_.setJobRunner(std::move(runner)); }
    // Answers to passwordRequired; ignored unless that prompt is open.
    void providePassword(quint64 id, const QString& password) {
        run_.providePassword(id, password);
    }
    void skipFile(quint64 id) { run_.skipFile(id); }
    // Answer to existingFilesFound: Replace or KeepBoth converts the job again and
    // holds for the rest of the run; Ask stops the run.
    void resolveExisting(quint64 id, bl::ExistingFilePolicy policy) {
        run_.resolveExisting(id, policy);
    }

    // Jobs a run would convert.
    int readyCount() const { return queue_.readyCount(); }
    int checkingCount() const { return queue_.checkingCount(); }
    bool isRunning() const { return run_.isRunning(); }
    // How far the run is, in pages over all of its files.
    RunPages runPages() const { return run_.pages(); }
    // A cancel was asked for and the run has not ended yet.
    bool isCancelling() const { return run_.isCancelling(); }
    // The job whose prompt is open; 0 when none.
    quint64 pendingJob() const { return run_.pendingJob(); }
    // Whether a password typed for the job is being kept for its next launch.
    bool hasStoredPassword(quint64 id) const { return run_.hasStoredPassword(id); }
    JobQueueModel* model() { return &queue_.model(); }
    const JobQueueModel* model() const { return &queue_.model(); }

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
    // Declared after the queue, the run goes first: its job stops before the
    // inspections are waited for, and it never outlives the jobs it converts.
    JobQueue queue_;
    ConversionRun run_{queue_.model()};
};

}  // namespace bl::desktop
