#include "desktop/job_queue_model.h"

namespace bl::desktop {

namespace {

constexpr int kColumnCount = 4;
constexpr qint64 kKiB = 1024;
constexpr qint64 kMiB = kKiB * 1024;
constexpr qint64 kGiB = kMiB * 1024;

QVariant rightAligned() {
    return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
}

}  // namespace

JobQueueModel::~JobQueueModel() = default;

int JobQueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(jobs_.size());
}

int JobQueueModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant JobQueueModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this || index.row() < 0 || index.column() < 0 ||
        index.row() >= jobs_.size() || index.column() >= kColumnCount) {
        return {};
    }
    const Job& job = jobs_.at(index.row());
    const int column = index.column();

    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            switch (column) {
                case FileColumn:
                    return job.fileName;
                case PagesColumn:
                    return job.pageCount < 0 ? QStringLiteral("\u2014")
                                             : QString::number(job.pageCount);
                case SizeColumn:
                    return sizeText(job.sizeBytes);
                default:
                    return statusText(job);
            }
        case Qt::ToolTipRole:
            if (column == FileColumn) {
                return job.path;
            }
            if (column == StatusColumn) {
                return statusText(job);
            }
            return {};
        case Qt::TextAlignmentRole:
            if (column == PagesColumn || column == SizeColumn) {
                return rightAligned();
            }
            return {};
        default:
            return {};
    }
}

QVariant JobQueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case FileColumn:
            return tr("File");
        case PagesColumn:
            return tr("Pages");
        case SizeColumn:
            return tr("Size");
        case StatusColumn:
            return tr("Status");
        default:
            return {};
    }
}

quint64 JobQueueModel::addJob(Job job) {
    job.id = nextId_++;
    const int row = static_cast<int>(jobs_.size());
    beginInsertRows(QModelIndex(), row, row);
    jobs_.append(std::move(job));
    endInsertRows();
    return jobs_.last().id;
}

Job* JobQueueModel::job(quint64 id) {
    const int row = rowOf(id);
    return row < 0 ? nullptr : &jobs_[row];
}

const Job* JobQueueModel::job(quint64 id) const {
    const int row = rowOf(id);
    return row < 0 ? nullptr : &jobs_.at(row);
}

void JobQueueModel::jobChanged(quint64 id) {
    const int row = rowOf(id);
    if (row < 0) {
        return;
    }
    emit dataChanged(index(row, FileColumn), index(row, StatusColumn), {});
}

void JobQueueModel::removeJobs(const QList<quint64>& ids) {
    for (const quint64 id : ids) {
        const int row = rowOf(id);
        if (row < 0) {
            continue;
        }
        beginRemoveRows(QModelIndex(), row, row);
        jobs_.removeAt(row);
        endRemoveRows();
    }
}

QString JobQueueModel::statusText(const Job& job) const {
    switch (job.state) {
        case JobState::Checking:
            return tr("Checking\u2026");
        case JobState::Ready:
            return tr("Ready");
        case JobState::PasswordRequired:
            return tr("Password required");
        case JobState::Unusable:
            return job.message;
        case JobState::Converting:
            if (job.pagesTotal < 1) {
                return tr("Converting\u2026");
            }
            return tr("Converting %1 of %2").arg(job.pagesDone).arg(job.pagesTotal);
        case JobState::Done:
            if (job.pagesDone == 1) {
                return tr("Done \u2014 1 page");
            }
            return tr("Done \u2014 %1 pages").arg(job.pagesDone);
        case JobState::PartlyDone:
            return tr("Partly done \u2014 %1 of %2 pages. %3")
                .arg(QString::number(job.pagesDone), QString::number(job.pagesTotal), job.message);
        case JobState::Failed:
            return tr("Failed: %1").arg(job.message);
        case JobState::Cancelled:
            // The pages written before the cancel stay on disk; say so.
            if (job.pagesDone > 0) {
                return tr("Cancelled \u2014 %1 of %2 pages saved")
                    .arg(QString::number(job.pagesDone), QString::number(job.pagesTotal));
            }
            return tr("Cancelled");
        case JobState::Skipped:
            return tr("Skipped");
    }
    return {};
}

QString JobQueueModel::sizeText(qint64 bytes) {
    if (bytes >= kGiB) {
        return tr("%1 GB").arg(static_cast<double>(bytes) / static_cast<double>(kGiB), 0, 'f', 1);
    }
    if (bytes >= kMiB) {
        return tr("%1 MB").arg(static_cast<double>(bytes) / static_cast<double>(kMiB), 0, 'f', 1);
    }
    if (bytes < kKiB) {
        return tr("%1 bytes").arg(bytes);
    }
    return tr("%1 KB").arg(bytes / kKiB);
}

int JobQueueModel::rowOf(quint64 id) const {
    for (int row = 0; row < jobs_.size(); ++row) {
        if (jobs_.at(row).id == id) {
            return row;
        }
    }
    return -1;
}

}  // namespace bl::desktop
