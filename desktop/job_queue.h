// The queue of files: each file once, whatever name leads to it, inspected on
// the thread pool as it is added so that its page count and any password lock
// are known before a run.
#pragma once

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "bl/convert_types.h"
#include "bl/inspection.h"
#include "desktop/job_queue_model.h"

namespace bl::desktop {

// Whether a run converts a job in this state: one never tried, one locked, and
// one a run did not finish.
bool isRunnable(JobState state);

class JobQueue : public QObject {
    Q_OBJECT

  public:
    JobQueue() = default;
    // Waits for the inspections under way; their results die with the object.
    ~JobQueue() override;

    // Queues the existing regular files among `paths` that are not queued yet,
    // and starts inspecting them; returns how many were queued.
    int addFiles(const QStringList& paths);
    // Removes the jobs in the queue except `kept`; returns those it removed.
    QList<quint64> removeJobs(const QList<quint64>& ids, quint64 kept);
    QList<quint64> allIds() const;

    int readyCount() const;
    int checkingCount() const { return checkingCount_; }
    JobQueueModel& model() { return model_; }
    const JobQueueModel& model() const { return model_; }

  signals:
    void checkingChanged(bool checking);

  private:
    void inspectAsync(quint64 id, const QString& path);
    void handleInspection(quint64 id, const bl::Result<bl::DocumentInfo>& outcome);

    JobQueueModel model_;
    QList<QFuture<void>> inspections_;
    int checkingCount_ = 0;
};

}  // namespace bl::desktop
