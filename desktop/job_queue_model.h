// The queue of files the user has added, one row per job, as the table the main
// window shows. The conversion controller is its only writer.
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace bl::desktop {

enum class JobState {
    Checking,
    Ready,
    PasswordRequired,
    Unusable,
    Converting,
    Done,
    PartlyDone,
    Failed,
    Cancelled,
    Skipped,
};

struct Job {
    quint64 id = 0;
    QString path;  // absolute, native separators
    QString fileName;
    qint64 sizeBytes = 0;
    int pageCount = -1;              // -1 until an inspection has counted the pages
    QSizeF firstPageSize{0.0, 0.0};  // points
    JobState state = JobState::Checking;
    bool locked = false;  // opens only with a password
    QString message;
    int pagesDone = 0;
    int pagesTotal = 0;
    QStringList outputFiles;
    QString zipPath;
};

class JobQueueModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { FileColumn = 0, PagesColumn = 1, SizeColumn = 2, StatusColumn = 3 };

    JobQueueModel() = default;
    ~JobQueueModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Gives the job the next id and appends it; returns that id.
    quint64 addJob(Job job);
    // The job with that id, or nullptr. After changing it, call jobChanged.
    Job* job(quint64 id);
    const Job* job(quint64 id) const;
    // Repaints the job's whole row.
    void jobChanged(quint64 id);
    // Removes each listed job that is present, one row at a time.
    void removeJobs(const QList<quint64>& ids);

    // Every job in row order.
    const QList<Job>& jobs() const { return jobs_; }

    QString statusText(const Job& job) const;
    static QString sizeText(qint64 bytes);

  private:
    int rowOf(quint64 id) const;

    QList<Job> jobs_;
    quint64 nextId_ = 1;
};

}  // namespace bl::desktop
