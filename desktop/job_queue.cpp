#include "desktop/job_queue.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QSizeF>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "desktop/job_request.h"

namespace bl::desktop {

namespace {

// The identity two paths share when they name the same file, whatever links
// or relative steps lead there.
QString fileIdentity(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

}  // namespace

bool isRunnable(JobState state) {
    switch (state) {
        case JobState::Ready:
        case JobState::PasswordRequired:
        case JobState::PartlyDone:
        case JobState::Failed:
        case JobState::Cancelled:
            return true;
        default:
            return false;
    }
}

JobQueue::~JobQueue() {
    // Every inspection holds a pointer to this object until it has posted its
    // result, and posted results die with the object.
    for (QFuture<void>& inspection : inspections_) {
        inspection.waitForFinished();
    }
}

int JobQueue::addFiles(const QStringList& paths) {
    int queued = 0;
    for (const QString& candidate : paths) {
        const QFileInfo info(candidate);
        if (!info.exists() || !info.isFile()) {
            continue;
        }
        // The resolved path, not the lexically cleaned one: "link/../x.pdf" must name
        // the file that was checked here.
        const QString identity = info.canonicalFilePath();
        if (identity.isEmpty()) {
            continue;
        }
        const auto& jobs = model_.jobs();
        if (std::any_of(jobs.begin(), jobs.end(), [&identity](const Job& existing) {
                return fileIdentity(existing.path) == identity;
            })) {
            continue;
        }

        Job job;
        job.path = QDir::toNativeSeparators(identity);
        job.fileName = QFileInfo(identity).fileName();
        job.sizeBytes = info.size();
        job.state = JobState::Checking;
        const QString path = job.path;
        inspectAsync(model_.addJob(std::move(job)), path);
        ++queued;
    }
    return queued;
}

QList<quint64> JobQueue::removeJobs(const QList<quint64>& ids, quint64 kept) {
    QList<quint64> removed;
    for (const quint64 id : ids) {
        if (model_.job(id) != nullptr && !removed.contains(id) && id != kept) {
            removed.append(id);
        }
    }
    model_.removeJobs(removed);
    return removed;
}

QList<quint64> JobQueue::allIds() const {
    QList<quint64> ids;
    ids.reserve(model_.jobs().size());
    for (const Job& job : model_.jobs()) {
        ids.append(job.id);
    }
    return ids;
}

int JobQueue::readyCount() const {
    const auto& jobs = model_.jobs();
    return static_cast<int>(std::count_if(jobs.begin(), jobs.end(),
                                          [](const Job& job) { return isRunnable(job.state); }));
}

void JobQueue::inspectAsync(quint64 id, const QString& path) {
    if (++checkingCount_ == 1) {
        emit checkingChanged(true);
    }
    inspections_.removeIf([](const QFuture<void>& inspection) { return inspection.isFinished(); });

    JobQueue* queue = this;
    const std::filesystem::path file = toEnginePath(path);
    inspections_.append(QtConcurrent::run(QThreadPool::globalInstance(), [queue, id, file] {
        bl::Result<bl::DocumentInfo> outcome = bl::inspect_pdf(file, {}, bl::ConvertLimits{});
        QMetaObject::invokeMethod(
            queue,
            [queue, id, outcome = std::move(outcome)] { queue->handleInspection(id, outcome); },
            Qt::QueuedConnection);
    }));
}

void JobQueue::handleInspection(quint64 id, const bl::Result<bl::DocumentInfo>& outcome) {
    if (Job* job = model_.job(id)) {
        if (outcome) {
            job->state = JobState::Ready;
            job->pageCount = outcome->page_count;
            if (!outcome->page_sizes.empty()) {
                const bl::PageSize& first = outcome->page_sizes.front();
                job->firstPageSize = QSizeF(first.width, first.height);
            }
        } else if (outcome.error().kind == bl::ErrorKind::PasswordRequired) {
            job->state = JobState::PasswordRequired;
            job->locked = true;
        } else {
            job->state = JobState::Unusable;
            job->message = fromUtf8(outcome.error().message);
        }
        model_.jobChanged(id);
    }
    if (--checkingCount_ == 0) {
        emit checkingChanged(false);
    }
}

}  // namespace bl::desktop
