#include "desktop/conversion_controller.h"

namespace bl::desktop {

ConversionController::ConversionController() {
    qRegisterMetaType<RunSummary>("bl::desktop::RunSummary");
    connect(&queue_, &JobQueue::checkingChanged, this, &ConversionController::checkingChanged);
    connect(&run_, &ConversionRun::runStarted, this, &ConversionController::runStarted);
    connect(&run_, &ConversionRun::jobStarted, this, &ConversionController::jobStarted);
    connect(&run_, &ConversionRun::jobProgress, this, &ConversionController::jobProgress);
    connect(&run_, &ConversionRun::jobFinished, this, &ConversionController::jobFinished);
    connect(&run_, &ConversionRun::passwordRequired, this, &ConversionController::passwordRequired);
    connect(&run_, &ConversionRun::existingFilesFound, this,
            &ConversionController::existingFilesFound);
    connect(&run_, &ConversionRun::runFinished, this, &ConversionController::runFinished);
}

ConversionController::~ConversionController() = default;

void ConversionController::removeJobs(const QList<quint64>& ids) {
    // The run keeps the job it converts or asks about.
    run_.forgetPasswords(queue_.removeJobs(ids, run_.jobInHand()));
}

void ConversionController::convertAgain(const QList<quint64>& ids) {
    for (const quint64 id : ids) {
        Job* job = queue_.model().job(id);
        if (job == nullptr || job->state != JobState::Done) {
            continue;
        }
        job->state = job->locked && !run_.hasStoredPassword(id) ? JobState::PasswordRequired
                                                                : JobState::Ready;
        queue_.model().jobChanged(id);
    }
}

}  // namespace bl::desktop
