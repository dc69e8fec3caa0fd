#include "desktop/conversion_controller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QStringEncoder>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>

#include "bl/inspection.h"

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

QString fromEnginePath(const std::filesystem::path& path) {
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path.native())));
}

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// The text in UTF-8, written straight into the buffer the secret keeps, so that
// no other copy of it is left behind.
bl::Secret utf8Secret(const QString& text) {
    QStringEncoder encoder(QStringEncoder::Utf8);
    std::string bytes(static_cast<std::size_t>(encoder.requiredSpace(text.size())), '\0');
    const char* end = encoder.appendToBuffer(bytes.data(), text);
    bytes.resize(static_cast<std::size_t>(end - bytes.data()));
    return bl::Secret(std::move(bytes));
}

void addTo(RunSummary& summary, const RunSummary& counts) {
    summary.converted += counts.converted;
    summary.partlyConverted += counts.partlyConverted;
    summary.failed += counts.failed;
    summary.skipped += counts.skipped;
    summary.imagesSaved += counts.imagesSaved;
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
    // result, and posted results die with the object. The job stops at its next
    // page boundary.
    cancelToken_.cancel();
    jobTask_.waitForFinished();
    for (QFuture<void>& inspection : inspections_) {
        inspection.waitForFinished();
    }
    passwords_.clear();
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
    // The run keeps the job it converts or asks about.
    const quint64 keptByRun = currentRunJob();
    QList<quint64> removed;
    for (const quint64 id : ids) {
        if (model_.job(id) == nullptr || removed.contains(id) || id == keptByRun) {
            continue;
        }
        passwords_.erase(id);
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

// A run launches, and asks about, only the job at runIndex_, and moves on only
// once it is through with it.
quint64 ConversionController::currentRunJob() const {
    if (!isRunning() || runIndex_ < 0 || runIndex_ >= runIds_.size()) {
        return 0;
    }
    return runIds_.at(runIndex_);
}

quint64 ConversionController::pendingJob() const {
    const bool asking =
        runState_ == RunState::AskingPassword || runState_ == RunState::AskingExistingFiles;
    return asking ? currentRunJob() : 0;
}

// An answer counts only for the prompt that is open: the same job and the same
// question.
bool ConversionController::isOpenPrompt(quint64 id, RunState asking) const {
    return runState_ == asking && id != 0 && currentRunJob() == id;
}

bool ConversionController::start(const ConversionSettings& settings, QString* error) {
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
    for (const Job& job : model_.jobs()) {
        if (isRunnable(job.state)) {
            ids.append(job.id);
        }
    }
    if (ids.isEmpty()) {
        return refuse(tr("There are no files ready to convert."));
    }

    settings_ = settings;
    runPolicy_ = settings.onExists;
    runIds_ = ids;
    summary_ = RunSummary{};
    runIndex_ = 0;
    runState_ = RunState::Running;
    emit runStarted(static_cast<int>(runIds_.size()));
    advance();
    return true;
}

void ConversionController::cancel() {
    switch (runState_) {
        case RunState::Idle:
            return;
        case RunState::AskingPassword:
        case RunState::AskingExistingFiles:
            finishRun(true);
            return;
        case RunState::Running:
        case RunState::Cancelling:
            runState_ = RunState::Cancelling;
            cancelToken_.cancel();
            return;
    }
}

void ConversionController::providePassword(quint64 id, const QString& password) {
    if (!isOpenPrompt(id, RunState::AskingPassword)) {
        return;
    }
    passwords_.insert_or_assign(id, utf8Secret(password));
    launch(id);
}

void ConversionController::skipFile(quint64 id) {
    if (!isOpenPrompt(id, RunState::AskingPassword)) {
        return;
    }
    if (Job* job = model_.job(id)) {
        job->state = JobState::Skipped;
        model_.jobChanged(id);
    }
    ++summary_.skipped;
    ++runIndex_;
    runState_ = RunState::Running;
    advance();
}

void ConversionController::resolveExisting(quint64 id, bl::ExistingFilePolicy policy) {
    if (!isOpenPrompt(id, RunState::AskingExistingFiles)) {
        return;
    }
    if (policy == bl::ExistingFilePolicy::Replace || policy == bl::ExistingFilePolicy::KeepBoth) {
        runPolicy_ = policy;
        launch(id);
        return;
    }
    finishRun(true);
}

void ConversionController::advance() {
    while (isRunning()) {
        if (runIndex_ >= runIds_.size()) {
            finishRun(false);
            return;
        }
        const quint64 id = runIds_.at(runIndex_);
        const Job* job = model_.job(id);
        if (job == nullptr) {
            ++runIndex_;
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
                ++runIndex_;
                break;
        }
    }
}

void ConversionController::askForPassword(quint64 id, bool previousAttemptWrong) {
    const Job* job = model_.job(id);
    runState_ = RunState::AskingPassword;
    emit passwordRequired(id, job != nullptr ? job->fileName : QString(), previousAttemptWrong);
}

bl::ConvertRequest ConversionController::requestFor(const Job& job) {
    bl::ConvertRequest request;
    request.input = toEnginePath(job.path);
    if (const auto stored = passwords_.find(job.id); stored != passwords_.end()) {
        // Moved, not copied: the request carries the one buffer on to the engine,
        // which wipes it, and the emptied secret goes.
        request.password = std::move(stored->second);
        passwords_.erase(stored);
    }
    request.pages = toUtf8(settings_.pages);
    request.image.dpi = settings_.dpi;
    request.image.jpeg_quality = settings_.quality;
    request.image.background = settings_.background;
    request.image.render_annotations = settings_.annotations;
    request.image.render_form_fields = settings_.formFields;
    request.output_folder = toEnginePath(settings_.outputFolder);
    request.naming_template = toUtf8(settings_.nameTemplate);
    request.existing_files = runPolicy_;
    return request;
}

void ConversionController::launch(quint64 id) {
    Job* job = model_.job(id);
    if (job == nullptr) {
        return;
    }
    runState_ = RunState::Running;
    bl::JobRequest request{requestFor(*job), settings_.createZip};

    job->state = JobState::Converting;
    job->message.clear();
    job->pagesDone = 0;
    job->pagesTotal = 0;
    job->outputFiles.clear();
    job->zipPath.clear();
    model_.jobChanged(id);
    emit jobStarted(id, runIndex_, static_cast<int>(runIds_.size()));

    cancelToken_ = bl::CancellationToken();
    ConversionController* controller = this;
    jobTask_ = QtConcurrent::run(
        QThreadPool::globalInstance(), [controller, id, request = std::move(request),
                                        token = cancelToken_, runner = jobRunner_]() mutable {
            const auto progress = [controller, id](const bl::ProgressEvent& event) {
                QMetaObject::invokeMethod(
                    controller, [controller, id, event] { controller->handleProgress(id, event); },
                    Qt::QueuedConnection);
            };
            bl::JobResult result = runner(std::move(request), progress, token);
            QMetaObject::invokeMethod(
                controller,
                [controller, id, result = std::move(result)] {
                    controller->handleJobResult(id, result);
                },
                Qt::QueuedConnection);
        });
}

void ConversionController::handleProgress(quint64 id, const bl::ProgressEvent& event) {
    Job* job = model_.job(id);
    if (job == nullptr || job->state != JobState::Converting) {
        return;
    }
    switch (event.stage) {
        case bl::ProgressStage::Started:
            job->pagesTotal = static_cast<int>(event.total);
            break;
        case bl::ProgressStage::PageWritten:
        case bl::ProgressStage::PageFailed:
            job->pagesTotal = static_cast<int>(event.total);
            job->pagesDone = static_cast<int>(event.index) + 1;
            break;
        default:
            return;
    }
    model_.jobChanged(id);
    emit jobProgress(id, job->pagesDone, job->pagesTotal);
}

void ConversionController::handleJobResult(quint64 id, const bl::JobResult& result) {
    Job* job = model_.job(id);
    if (job == nullptr) {
        ++runIndex_;
        // A cancel asked for meanwhile still ends the run.
        if (isCancelling()) {
            finishRun(true);
        } else {
            advance();
        }
        return;
    }

    JobOutcome outcome = jobOutcome(*job, result, runPolicy_, isCancelling());
    *job = std::move(outcome.job);
    addTo(summary_, outcome.counts);
    model_.jobChanged(id);
    switch (outcome.next) {
        case JobOutcome::Next::AskPassword:
            askForPassword(id, outcome.previousAttemptWrong);
            return;
        case JobOutcome::Next::AskAboutExistingFiles:
            runState_ = RunState::AskingExistingFiles;
            emit existingFilesFound(id, outcome.question);
            return;
        default:
            break;
    }
    if (outcome.finished) {
        emit jobFinished(id);
        ++runIndex_;
    }
    if (outcome.next == JobOutcome::Next::StopRun) {
        finishRun(true);
    } else {
        advance();
    }
}

void ConversionController::finishRun(bool stopped) {
    runState_ = RunState::Idle;
    summary_.stopped = stopped;
    QList<quint64> skipped;
    for (const Job& job : model_.jobs()) {
        if (job.state == JobState::Skipped) {
            skipped.append(job.id);
        }
    }
    for (const quint64 id : skipped) {
        Job* job = model_.job(id);
        job->state = job->pageCount == -1 ? JobState::PasswordRequired : JobState::Ready;
        model_.jobChanged(id);
    }
    passwords_.clear();
    emit runFinished(summary_);
}

namespace {

// The pages the job wrote, and the page count its document reported.
void takeCounts(Job& job, const bl::ConvertResult& result) {
    job.outputFiles.clear();
    for (const bl::PageResult& page : result.page_results) {
        if (!page.error && !page.output_path.empty()) {
            job.outputFiles.append(fromEnginePath(page.output_path));
        }
    }
    job.pagesDone = static_cast<int>(result.pages_written);
    job.pagesTotal = static_cast<int>(result.pages_selected);
    if (result.document.page_count > 0) {
        job.pageCount = result.document.page_count;
    }
}

// The row of a job that ran to its end: Done, PartlyDone or Failed, with the
// first problem as its message.
void settle(Job& job, const bl::ConvertResult& result) {
    // A job none of whose pages made it converted nothing at all.
    job.state = result.pages_written < 1 ? JobState::Failed : JobState::PartlyDone;
    if (result.error) {
        job.message = fromUtf8(result.error->message);
        return;
    }
    if (result.pages_failed < 1) {
        job.state = JobState::Done;
        return;
    }
    const auto failed =
        std::find_if(result.page_results.begin(), result.page_results.end(),
                     [](const bl::PageResult& page) { return page.error.has_value(); });
    if (failed == result.page_results.end()) {
        return;
    }
    const QString message = fromUtf8(failed->error->message);
    job.message =
        bl::message_names_page(*failed->error)
            ? message
            : ConversionController::tr("Page %1: %2").arg(QString::number(failed->page), message);
}

// A failed archive never fails the job: its pages are there all the same.
void settleZip(Job& job, const bl::ZipOutcome& zip) {
    if (zip.archive) {
        job.zipPath = fromEnginePath(zip.archive->path);
    } else if (zip.attempted) {
        if (job.state == JobState::Done) {
            job.state = JobState::PartlyDone;
        }
        job.message = ConversionController::tr("ZIP not created: %1")
                          .arg(zip.error ? fromUtf8(zip.error->message) : QString());
    }
}

void count(RunSummary& counts, JobState state) {
    if (state == JobState::Done) {
        ++counts.converted;
    } else if (state == JobState::PartlyDone) {
        ++counts.partlyConverted;
    } else {
        ++counts.failed;
    }
}

}  // namespace

JobOutcome jobOutcome(Job job, const bl::JobResult& result, bl::ExistingFilePolicy runPolicy,
                      bool cancelling) {
    using Next = JobOutcome::Next;
    const bl::ConvertResult& convert = result.convert;
    const auto failedWith = [&convert](bl::ErrorKind kind) {
        return convert.error && convert.error->kind == kind;
    };
    JobOutcome outcome;
    takeCounts(job, convert);
    outcome.counts.imagesSaved = job.pagesDone;

    if (failedWith(bl::ErrorKind::PasswordRequired) || failedWith(bl::ErrorKind::WrongPassword)) {
        job.state = JobState::PasswordRequired;
        outcome.next = Next::AskPassword;
        outcome.previousAttemptWrong = failedWith(bl::ErrorKind::WrongPassword);
    } else if (failedWith(bl::ErrorKind::OutputExists) &&
               runPolicy == bl::ExistingFilePolicy::Ask && convert.page_results.empty()) {
        // Nothing was written yet: once the user has chosen, the job runs again.
        job.state = JobState::Ready;
        outcome.next = Next::AskAboutExistingFiles;
        outcome.question = fromUtf8(convert.error->message);
    } else if (failedWith(bl::ErrorKind::Cancelled)) {
        // Not counted: the run's summary says it stopped.
        job.state = JobState::Cancelled;
        outcome.finished = true;
        outcome.next = Next::StopRun;
    } else {
        settle(job, convert);
        settleZip(job, result.zip);
        count(outcome.counts, job.state);
        outcome.finished = true;
    }
    // Whoever cancelled does not want to be asked anything more.
    if (cancelling) {
        outcome.next = Next::StopRun;
    }
    outcome.job = std::move(job);
    return outcome;
}

}  // namespace bl::desktop
