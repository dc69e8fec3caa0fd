#include "desktop/job_outcome.h"

#include <algorithm>
#include <utility>

#include "desktop/job_request.h"

namespace bl::desktop {

namespace {

// The pages the job wrote, and the page count its document reported.
void takeCounts(Job& job, const bl::ConvertResult& result) {
    job.outputFiles.clear();
    for (const bl::PageResult& page : result.page_results) {
        if (!page.error && !page.output_path.empty()) {
            job.outputFiles.append(fromEnginePath(page.output_path));
        }
    }
    // A page whose file was there already (a policy the engine has and this
    // window does not offer) is done all the same.
    job.pagesDone = static_cast<int>(result.pages_written + result.pages_skipped);
    job.pagesTotal = static_cast<int>(result.pages_selected);
    if (result.document.page_count > 0) {
        job.pageCount = result.document.page_count;
    }
}

// The row of a job that ran to its end: Done, PartlyDone or Failed, with the
// first problem as its message.
void settle(Job& job, const bl::ConvertResult& result) {
    // A job none of whose pages made it converted nothing at all.
    job.state =
        result.pages_written + result.pages_skipped < 1 ? JobState::Failed : JobState::PartlyDone;
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
            : ConversionRun::tr("Page %1: %2").arg(QString::number(failed->page), message);
}

// A failed archive never fails the job: its pages are there all the same.
void settleZip(Job& job, const bl::ZipOutcome& zip) {
    if (zip.archive) {
        job.zipPath = fromEnginePath(zip.archive->path);
    } else if (zip.attempted) {
        if (job.state == JobState::Done) {
            job.state = JobState::PartlyDone;
        }
        job.message = ConversionRun::tr("ZIP not created: %1")
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
        job.locked = true;
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
