#include "desktop/conversion_controller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <filesystem>
#include <utility>

#include "engine/pdf_input.h"

namespace bl::desktop {

namespace {

// The identity two paths share when they name the same file, whatever links
// or relative steps lead there.
QString fileIdentity(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

std::filesystem::path toEnginePath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Overwrites the bytes in place before letting go of them. The volatile writes
// keep the compiler from dropping stores to memory that is about to be freed.
void wipe(QByteArray& bytes) {
    if (!bytes.isEmpty()) {
        volatile char* data = bytes.data();
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            data[i] = 0;
        }
    }
    bytes.clear();
    bytes.squeeze();
}

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

}  // namespace

ConversionController::ConversionController() {
    qRegisterMetaType<RunSummary>("bl::desktop::RunSummary");
}

ConversionController::~ConversionController() {
    // Every task holds a pointer to this controller until it has posted its
    // result, and posted results die with the object.
    for (QFuture<void>& inspection : inspections_) {
        inspection.waitForFinished();
    }
    for (auto it = passwords_.begin(); it != passwords_.end(); ++it) {
        wipe(it.value());
    }
}

int ConversionController::addFiles(const QStringList& paths) {
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
        const QString path = QDir::toNativeSeparators(identity);
        bool alreadyQueued = false;
        for (const Job& existing : model_.jobs()) {
            if (fileIdentity(existing.path) == identity) {
                alreadyQueued = true;
                break;
            }
        }
        if (alreadyQueued) {
            continue;
        }

        Job job;
        job.path = path;
        job.fileName = QFileInfo(identity).fileName();
        job.sizeBytes = info.size();
        job.state = JobState::Checking;
        const quint64 id = model_.addJob(std::move(job));
        inspectAsync(id, path);
        ++queued;
    }
    return queued;
}

void ConversionController::removeJobs(const QList<quint64>& ids) {
    const quint64 keptByRun = currentRunJob();
    QList<quint64> removed;
    for (const quint64 id : ids) {
        if (model_.job(id) == nullptr || removed.contains(id)) {
            continue;
        }
        if (running_ && (id == keptByRun || id == pendingId_)) {
            continue;
        }
        dropPassword(id);
        removed.append(id);
    }
    model_.removeJobs(removed);
}

void ConversionController::clearJobs() {
    QList<quint64> ids;
    ids.reserve(model_.jobs().size());
    for (const Job& job : model_.jobs()) {
        ids.append(job.id);
    }
    removeJobs(ids);
}

int ConversionController::readyCount() const {
    int count = 0;
    for (const Job& job : model_.jobs()) {
        if (isRunnable(job.state)) {
            ++count;
        }
    }
    return count;
}

void ConversionController::inspectAsync(quint64 id, const QString& path) {
    if (++checkingCount_ == 1) {
        emit checkingChanged(true);
    }
    inspections_.removeIf([](const QFuture<void>& inspection) { return inspection.isFinished(); });

    ConversionController* controller = this;
    const std::filesystem::path file = toEnginePath(path);
    inspections_.append(QtConcurrent::run(QThreadPool::globalInstance(), [controller, id, file] {
        bl::Result<bl::DocumentInfo> outcome = bl::inspect_pdf(file, {}, bl::ConvertLimits{});
        QMetaObject::invokeMethod(
            controller,
            [controller, id, outcome = std::move(outcome)] {
                controller->handleInspection(id, outcome);
            },
            Qt::QueuedConnection);
    }));
}

void ConversionController::handleInspection(quint64 id,
                                            const bl::Result<bl::DocumentInfo>& outcome) {
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
        } else {
            job->state = JobState::Unusable;
            job->message = QString::fromStdString(outcome.error().message);
        }
        model_.jobChanged(id);
    }
    if (--checkingCount_ == 0) {
        emit checkingChanged(false);
    }
}

quint64 ConversionController::currentRunJob() const {
    if (!running_ || runIndex_ < 0 || runIndex_ >= runIds_.size()) {
        return 0;
    }
    return runIds_.at(runIndex_);
}

void ConversionController::dropPassword(quint64 id) {
    const auto it = passwords_.find(id);
    if (it != passwords_.end()) {
        wipe(it.value());
        passwords_.erase(it);
    }
}

}  // namespace bl::desktop
