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

#include "desktop/job_queue_model.h"
#include "engine/convert_types.h"

namespace bl::desktop {

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

    // Jobs a run would convert.
    int readyCount() const;
    int checkingCount() const { return checkingCount_; }
    bool isRunning() const { return running_; }
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
    void inspectAsync(quint64 id, const QString& path);
    void handleInspection(quint64 id, const bl::Result<bl::DocumentInfo>& outcome);
    // The job a run has in hand (converting it, or waiting for a prompt about
    // it); 0 when none.
    quint64 currentRunJob() const;
    void dropPassword(quint64 id);

    JobQueueModel model_;
    QList<QFuture<void>> inspections_;
    int checkingCount_ = 0;

    bool running_ = false;
    bool awaitingAnswer_ = false;
    quint64 pendingId_ = 0;
    QList<quint64> runIds_;
    int runIndex_ = 0;
    QHash<quint64, QByteArray> passwords_;
};

}  // namespace bl::desktop

Q_DECLARE_METATYPE(bl::desktop::RunSummary)
