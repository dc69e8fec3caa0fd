// What a job's result comes to, worked out without touching the run: the job's
// row afterwards and what the run does next.
#pragma once

#include <QString>

#include "bl/convert_types.h"
#include "bl/job.h"
#include "desktop/conversion_run.h"
#include "desktop/job_queue_model.h"

namespace bl::desktop {

struct JobOutcome {
    enum class Next {
        NextJob,
        AskPassword,
        AskAboutExistingFiles,
        // The run ends as stopped: the job was cancelled, or a cancel is pending.
        StopRun,
    };

    Job job;
    // What the job adds to the run's totals.
    RunSummary counts;
    // The run is through with the job (jobFinished); not while a question about
    // it is open or was cut short by a cancel.
    bool finished = false;
    Next next = Next::NextJob;
    bool previousAttemptWrong = false;  // with AskPassword
    QString question;                   // with AskAboutExistingFiles: the engine's message
};

// `job` as it was launched; `runPolicy`, what the run does about existing
// files; `cancelling`, whether a cancel was asked for while the job ran.
JobOutcome jobOutcome(Job job, const bl::JobResult& result, bl::ExistingFilePolicy runPolicy,
                      bool cancelling);

}  // namespace bl::desktop
