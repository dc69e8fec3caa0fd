#include "desktop/conversion_run.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <utility>

#include "bl/live_checks.h"

#include "desktop/job_outcome.h"
#include "desktop/job_queue.h"
#include "desktop/job_queue_model.h"

namespace bl::desktop {

namespace {

void addTo(RunSummary& summary, const RunSummary& counts) {
    summary.converted += counts.converted;
    summary.partlyConverted += counts.partlyConverted;
    summary.failed += counts.failed;
    summary.skipped += counts.skipped;
    summary.imagesSaved += counts.imagesSaved;
}

// The pages a job is expected to convert before it has opened: none while its
// page count is unknown.
int expectedPages(const Job& job, const ConversionSettings& settings) {
    if (job.pageCount <= 0) {
        return 0;
    }
    const auto pages =
        bl::parse_page_selection(settings.pages.toUtf8().toStdString(), job.pageCount);
    return pages ? static_cast<int>(pages->size()) : 0;
}

}  // namespace

ConversionRun::ConversionRun(JobQueueModel& queue) : queue_(queue) {}

ConversionRun::~ConversionRun() {
    // The task holds a pointer to this object until it has posted its result,
    // and posted results die with the object. The job stops at its next page
    // boundary.
    cancelToken_.cancel();
    jobTask_.waitForFinished();
    passwords_.clear();
}

// A run launches, and asks about, only the job at runIndex_, and moves on only
// once it is through with it.
quint64 ConversionRun::jobInHand() const {
    if (!isRunning() || runIndex_ < 0 || runIndex_ >= runIds_.size()) {
        return 0;
    }
    return runIds_.at(runIndex_);
}

quint64 ConversionRun::pendingJob() const {
    const bool asking = state_ == State::AskingPassword || state_ == State::AskingExistingFiles;
    return asking ? jobInHand() : 0;
}

// An answer counts only for the prompt that is open: the same job and the same
// question.
bool ConversionRun::isOpenPrompt(quint64 id, State asking) const {
    return state_ == asking && id != 0 && jobInHand() == id;
}

RunPages ConversionRun::pages() const {
    RunPages sum;
    for (const RunPages& job : pages_) {
        sum.done += job.done;
        sum.total += job.total;
    }
    return sum;
}

void ConversionRun::leaveJob() {
    RunPages& job = pages_[runIndex_];
    job.done = job.total = std::max(job.done, job.total);
    ++runIndex_;
}

void ConversionRun::forgetPasswords(const QList<quint64>& ids) {
    for (const quint64 id : ids) {
        passwords_.erase(id);
    }
}

bool ConversionRun::start(const ConversionSettings& settings, QString* error) {
    const auto refuse = [error](const QString& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    };
    if (isRunning()) {
        return refuse(tr("A conversion is already running."));
    }
    if (settings.outputFolder.isEmpty() || !QFileInfo(settings.outputFolder).isDir()) {
        return refuse(tr("Choose an output folder first."));
    }
    QList<quint64> ids;
    QList<RunPages> pages;
    for (const Job& job : queue_.jobs()) {
        if (isRunnable(job.state)) {
            ids.append(job.id);
            pages.append(RunPages{0, expectedPages(job, settings)});
        }
    }
    if (ids.isEmpty()) {
        return refuse(tr("There are no files ready to convert."));
    }

    settings_ = settings;
    policy_ = settings.onExists;
    runIds_ = ids;
    pages_ = pages;
    summary_ = RunSummary{};
    runIndex_ = 0;
    state_ = State::Running;
    emit runStarted(static_cast<int>(runIds_.size()));
    advance();
    return true;
}

void ConversionRun::cancel() {
    switch (state_) {
        case State::Idle:
            return;
        case State::AskingPassword:
        case State::AskingExistingFiles:
            finishRun(true);
            return;
        case State::Running:
        case State::Cancelling:
            state_ = State::Cancelling;
            cancelToken_.cancel();
            return;
    }
}

void ConversionRun::providePassword(quint64 id, const QString& password) {
    if (!isOpenPrompt(id, State::AskingPassword)) {
        return;
    }
    passwords_.insert_or_assign(id, utf8Secret(password));
    launch(id);
}

void ConversionRun::skipFile(quint64 id) {
    if (!isOpenPrompt(id, State::AskingPassword)) {
        return;
    }
    if (Job* job = queue_.job(id)) {
        job->state = JobState::Skipped;
        queue_.jobChanged(id);
    }
    ++summary_.skipped;
    leaveJob();
    state_ = State::Running;
    advance();
}

void ConversionRun::resolveExisting(quint64 id, bl::ExistingFilePolicy policy) {
    if (!isOpenPrompt(id, State::AskingExistingFiles)) {
        return;
    }
    if (policy == bl::ExistingFilePolicy::Replace || policy == bl::ExistingFilePolicy::KeepBoth) {
        policy_ = policy;
        launch(id);
        return;
    }
    finishRun(true);
}

void ConversionRun::advance() {
    while (isRunning()) {
        if (runIndex_ >= runIds_.size()) {
            finishRun(false);
            return;
        }
        const quint64 id = runIds_.at(runIndex_);
        const Job* job = queue_.job(id);
        if (job == nullptr) {
            leaveJob();
            continue;
        }
        switch (job->state) {
            case JobState::Ready:
                launch(id);
                return;
            case JobState::PasswordRequired:
                if (passwords_.contains(id)) {
                    launch(id);
                } else {
                    askForPassword(id, false);
                }
                return;
            case JobState::PartlyDone:
            case JobState::Failed:
            case JobState::Cancelled:
                // Without a page count the document was never opened: it needs
                // the password it was locked with.
                if (job->pageCount == -1 && !passwords_.contains(id)) {
                    askForPassword(id, false);
                } else {
                    launch(id);
                }
                return;
            default:
                leaveJob();
                break;
        }
    }
}

void ConversionRun::askForPassword(quint64 id, bool previousAttemptWrong) {
    const Job* job = queue_.job(id);
    state_ = State::AskingPassword;
    emit passwordRequired(id, job != nullptr ? job->fileName : QString(), previousAttemptWrong);
}

void ConversionRun::launch(quint64 id) {
    Job* job = queue_.job(id);
    if (job == nullptr) {
        return;
    }
    state_ = State::Running;
    // Moved, not copied: the request carries the one buffer on to the engine,
    // which wipes it, and the emptied secret goes.
    bl::Secret password;
    if (const auto stored = passwords_.find(id); stored != passwords_.end()) {
        password = std::move(stored->second);
        passwords_.erase(stored);
    }
    bl::JobRequest request = jobRequest(*job, settings_, policy_, std::move(password));

    job->state = JobState::Converting;
    job->message.clear();
    job->pagesDone = 0;
    job->pagesTotal = 0;
    job->outputFiles.clear();
    job->zipPath.clear();
    queue_.jobChanged(id);
    emit jobStarted(id, runIndex_, static_cast<int>(runIds_.size()));
    startJobTask(id, std::move(request));
}

void ConversionRun::startJobTask(quint64 id, bl::JobRequest request) {
    cancelToken_ = bl::CancellationToken();
    ConversionRun* run = this;
    jobTask_ = QtConcurrent::run(
        QThreadPool::globalInstance(), [run, id, request = std::move(request), token = cancelToken_,
                                        runner = jobRunner_]() mutable {
            const auto progress = [run, id](const bl::ProgressEvent& event) {
                QMetaObject::invokeMethod(
                    run, [run, id, event] { run->handleProgress(id, event); },
                    Qt::QueuedConnection);
            };
            bl::JobResult result = runner(std::move(request), progress, token);
            QMetaObject::invokeMethod(
                run, [run, id, result = std::move(result)] { run->handleJobResult(id, result); },
                Qt::QueuedConnection);
        });
}

void ConversionRun::handleProgress(quint64 id, const bl::ProgressEvent& event) {
    Job* job = queue_.job(id);
    if (job == nullptr || job->state != JobState::Converting) {
        return;
    }
    switch (event.stage) {
        case bl::ProgressStage::Started:
            job->pagesTotal = static_cast<int>(event.total);
            break;
        case bl::ProgressStage::PageWritten:
        case bl::ProgressStage::PageFailed:
        case bl::ProgressStage::PageSkipped:
            job->pagesTotal = static_cast<int>(event.total);
            job->pagesDone = static_cast<int>(event.index) + 1;
            break;
        default:
            return;
    }
    if (jobInHand() == id) {
        pages_[runIndex_] = RunPages{job->pagesDone, job->pagesTotal};
    }
    queue_.jobChanged(id);
    emit jobProgress(id, job->pagesDone, job->pagesTotal);
}

void ConversionRun::handleJobResult(quint64 id, const bl::JobResult& result) {
    Job* job = queue_.job(id);
    if (job == nullptr) {
        leaveJob();
        // A cancel asked for meanwhile still ends the run.
        if (isCancelling()) {
            finishRun(true);
        } else {
            advance();
        }
        return;
    }

    JobOutcome outcome = jobOutcome(*job, result, policy_, isCancelling());
    *job = std::move(outcome.job);
    addTo(summary_, outcome.counts);
    queue_.jobChanged(id);
    switch (outcome.next) {
        case JobOutcome::Next::AskPassword:
            askForPassword(id, outcome.previousAttemptWrong);
            return;
        case JobOutcome::Next::AskAboutExistingFiles:
            state_ = State::AskingExistingFiles;
            emit existingFilesFound(id, outcome.question);
            return;
        default:
            break;
    }
    if (outcome.finished) {
        emit jobFinished(id);
        leaveJob();
    }
    if (outcome.next == JobOutcome::Next::StopRun) {
        finishRun(true);
    } else {
        advance();
    }
}

void ConversionRun::finishRun(bool stopped) {
    state_ = State::Idle;
    summary_.stopped = stopped;
    // Skipping a file holds for the run in which it happened only.
    QList<quint64> skipped;
    for (const Job& job : queue_.jobs()) {
        if (job.state == JobState::Skipped) {
            skipped.append(job.id);
        }
    }
    for (const quint64 id : skipped) {
        Job* job = queue_.job(id);
        job->state = job->pageCount == -1 ? JobState::PasswordRequired : JobState::Ready;
        queue_.jobChanged(id);
    }
    passwords_.clear();
    emit runFinished(summary_);
}

}  // namespace bl::desktop
