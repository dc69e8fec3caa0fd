#include "desktop/conversion_controller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>

#include "bl/inspection.h"
#include "engine/converter.h"
#include "engine/job_hooks.h"
#include "engine/output_file.h"
#include "engine/pdf_input.h"
#include "engine/zip_archive.h"

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
    // result, and posted results die with the object. The job stops at its next
    // page boundary.
    cancelToken_.cancel();
    jobTask_.waitForFinished();
    for (QFuture<void>& inspection : inspections_) {
        inspection.waitForFinished();
    }
    dropAllPasswords();
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

void ConversionController::dropAllPasswords() {
    for (auto it = passwords_.begin(); it != passwords_.end(); ++it) {
        wipe(it.value());
    }
    passwords_.clear();
}

void ConversionController::openPrompt(quint64 id, Prompt prompt) {
    awaitingAnswer_ = true;
    pendingId_ = id;
    prompt_ = prompt;
}

void ConversionController::closePrompt() {
    awaitingAnswer_ = false;
    pendingId_ = 0;
    prompt_ = Prompt::None;
}

// An answer counts only for the prompt that is open: the same job and the same
// question.
bool ConversionController::isOpenPrompt(quint64 id, Prompt prompt) const {
    return running_ && awaitingAnswer_ && pendingId_ == id && prompt_ == prompt;
}

bool ConversionController::start(const ConversionSettings& settings, QString* error) {
    const auto refuse = [error](const QString& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    };
    if (running_) {
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
    running_ = true;
    cancelRequested_ = false;
    closePrompt();
    emit runStarted(static_cast<int>(runIds_.size()));
    advance();
    return true;
}

void ConversionController::cancel() {
    if (!running_) {
        return;
    }
    cancelRequested_ = true;
    if (awaitingAnswer_) {
        closePrompt();
        finishRun(true);
        return;
    }
    cancelToken_.cancel();
}

void ConversionController::providePassword(quint64 id, const QString& password) {
    if (!isOpenPrompt(id, Prompt::Password)) {
        return;
    }
    QByteArray utf8 = password.toUtf8();
    QByteArray& stored = passwords_[id];
    wipe(stored);
    // A deep copy, so that wiping the temporary below cannot reach the stored bytes.
    stored = QByteArray(utf8.constData(), utf8.size());
    wipe(utf8);
    launch(id);
}

void ConversionController::skipFile(quint64 id) {
    if (!isOpenPrompt(id, Prompt::Password)) {
        return;
    }
    if (Job* job = model_.job(id)) {
        job->state = JobState::Skipped;
        model_.jobChanged(id);
    }
    ++summary_.skipped;
    ++runIndex_;
    closePrompt();
    advance();
}

void ConversionController::resolveExisting(quint64 id, bl::ExistingFilePolicy policy) {
    if (!isOpenPrompt(id, Prompt::ExistingFiles)) {
        return;
    }
    if (policy == bl::ExistingFilePolicy::Replace || policy == bl::ExistingFilePolicy::KeepBoth) {
        runPolicy_ = policy;
        launch(id);
        return;
    }
    closePrompt();
    finishRun(true);
}

void ConversionController::advance() {
    while (running_) {
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
    openPrompt(id, Prompt::Password);
    emit passwordRequired(id, job != nullptr ? job->fileName : QString(), previousAttemptWrong);
}

void ConversionController::launch(quint64 id) {
    Job* job = model_.job(id);
    if (job == nullptr) {
        return;
    }
    closePrompt();

    bl::ConvertRequest request;
    request.input = toEnginePath(job->path);
    if (const auto stored = passwords_.find(id); stored != passwords_.end()) {
        request.password =
            bl::Secret(std::string(stored->constData(), static_cast<std::size_t>(stored->size())));
        wipe(stored.value());
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

    job->state = JobState::Converting;
    job->message.clear();
    job->pagesDone = 0;
    job->pagesTotal = 0;
    job->outputFiles.clear();
    job->zipPath.clear();
    model_.jobChanged(id);
    emit jobStarted(id, runIndex_, static_cast<int>(runIds_.size()));

    cancelToken_ = bl::CancellationToken();

    std::string baseName = bl::to_utf8(request.input.stem());
    // Once the pages are written there is nobody left to ask, so the archive
    // never replaces anything unless the user said so.
    const bl::ExistingFilePolicy zipPolicy =
        runPolicy_ == bl::ExistingFilePolicy::Ask ? bl::ExistingFilePolicy::KeepBoth : runPolicy_;
    const bool wantZip = settings_.createZip;

    ConversionController* controller = this;
    jobTask_ = QtConcurrent::run(
        QThreadPool::globalInstance(),
        [controller, id, request = std::move(request), token = cancelToken_,
         baseName = std::move(baseName), wantZip, zipPolicy, hooks = jobHooks_]() mutable {
            const std::filesystem::path outputFolder = request.output_folder;
            const auto progress = [controller, id](const bl::ProgressEvent& event) {
                QMetaObject::invokeMethod(
                    controller, [controller, id, event] { controller->handleProgress(id, event); },
                    Qt::QueuedConnection);
            };
            static const bl::detail::JobHooks kNone;
            bl::ConvertResult result = bl::convert(std::move(request), progress, token,
                                                   (hooks != nullptr ? *hooks : kNone).driver);

            ZipOutcome zip;
            if (wantZip && result.pages_written >= 1 && !result.cancelled) {
                zip.attempted = true;
                bl::ZipOptions options;
                options.existing_files = zipPolicy;
                const auto archive =
                    bl::zip_job_pages(result, outputFolder, baseName, options, token);
                if (archive) {
                    zip.path = fromEnginePath(archive->path);
                } else {
                    zip.error = fromUtf8(archive.error().message);
                }
            }
            QMetaObject::invokeMethod(
                controller,
                [controller, id, result = std::move(result), zip = std::move(zip)] {
                    controller->handleJobResult(id, result, zip);
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

void ConversionController::handleJobResult(quint64 id, const bl::ConvertResult& result,
                                           const ZipOutcome& zip) {
    Job* job = model_.job(id);
    if (job == nullptr) {
        ++runIndex_;
        // A cancel asked for meanwhile still ends the run.
        if (cancelRequested_) {
            finishRun(true);
        } else {
            advance();
        }
        return;
    }

    job->outputFiles.clear();
    for (const bl::PageResult& page : result.page_results) {
        if (!page.error && !page.output_path.empty()) {
            job->outputFiles.append(fromEnginePath(page.output_path));
        }
    }
    job->pagesDone = static_cast<int>(result.pages_written);
    job->pagesTotal = static_cast<int>(result.pages_selected);
    if (result.document.page_count > 0) {
        job->pageCount = result.document.page_count;
    }
    summary_.imagesSaved += static_cast<int>(result.pages_written);

    if (!result.error) {
        if (result.pages_failed < 1) {
            job->state = JobState::Done;
        } else {
            // A job none of whose pages made it converted nothing at all.
            job->state = result.pages_written < 1 ? JobState::Failed : JobState::PartlyDone;
            const auto failed =
                std::find_if(result.page_results.begin(), result.page_results.end(),
                             [](const bl::PageResult& page) { return page.error.has_value(); });
            if (failed != result.page_results.end()) {
                job->message =
                    tr("Page %1: %2")
                        .arg(QString::number(failed->page), fromUtf8(failed->error->message));
            }
        }
    } else {
        const bl::ConvertError& error = *result.error;
        switch (error.kind) {
            case bl::ErrorKind::PasswordRequired:
            case bl::ErrorKind::WrongPassword:
                job->state = JobState::PasswordRequired;
                model_.jobChanged(id);
                askForPassword(id, error.kind == bl::ErrorKind::WrongPassword);
                return;
            case bl::ErrorKind::OutputExists:
                if (runPolicy_ == bl::ExistingFilePolicy::Ask && result.page_results.empty()) {
                    job->state = JobState::Ready;
                    model_.jobChanged(id);
                    openPrompt(id, Prompt::ExistingFiles);
                    emit existingFilesFound(id, fromUtf8(error.message));
                    return;
                }
                break;
            case bl::ErrorKind::Cancelled:
                job->state = JobState::Cancelled;
                model_.jobChanged(id);
                emit jobFinished(id);
                finishRun(true);
                return;
            default:
                break;
        }
        job->state = result.pages_written < 1 ? JobState::Failed : JobState::PartlyDone;
        job->message = fromUtf8(error.message);
    }

    if (zip.attempted) {
        if (zip.error.isEmpty()) {
            job->zipPath = zip.path;
        } else {
            if (job->state == JobState::Done) {
                job->state = JobState::PartlyDone;
            }
            job->message = tr("ZIP not created: %1").arg(zip.error);
        }
    }

    switch (job->state) {
        case JobState::Done:
            ++summary_.converted;
            break;
        case JobState::PartlyDone:
            ++summary_.partlyConverted;
            break;
        default:
            ++summary_.failed;
            break;
    }
    model_.jobChanged(id);
    emit jobFinished(id);
    ++runIndex_;

    if (cancelRequested_) {
        finishRun(true);
    } else {
        advance();
    }
}

void ConversionController::finishRun(bool stopped) {
    running_ = false;
    closePrompt();
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
    dropAllPasswords();
    emit runFinished(summary_);
}

}  // namespace bl::desktop
