#include "desktop/output_estimate.h"

#include <QMetaObject>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "bl/job.h"
#include "bl/page_selection.h"
#include "bl/pixel_size.h"
#include "desktop/job_queue.h"
#include "desktop/job_queue_model.h"
#include "desktop/job_request.h"

namespace bl::desktop {

namespace {

// Long enough that typing a page selection or a resolution starts one estimate
// at its end, not one per key.
constexpr int kDelayMs = 400;
// Twice the engine's samples: the pages of a whole manual vary more than of
// the selections the engine's figure is made for. On R-intro and the
// FreedomBox manual at 150 and 300 DPI this keeps the figure within 10 % of
// the files written, where eight samples were up to 14 % short.
constexpr std::uint32_t kSamples = 2 * bl::kEstimateSamples;
// Figures of files and settings gone by are dropped beyond this many.
constexpr int kMaxKnown = 512;

// Two figures are all an estimate knows: 27 MB rather than 27.3 MB.
QString roughSize(quint64 bytes) {
    constexpr double kMiB = 1024.0 * 1024.0;
    const double mib = static_cast<double>(bytes) / kMiB;
    if (mib >= 10.0 && mib < 1024.0) {
        return QStringLiteral("%1 MB").arg(std::lround(mib));
    }
    return JobQueueModel::sizeText(static_cast<qint64>(bytes));
}

QString settingsKey(const ConversionSettings& settings) {
    const bl::ImageOptions image = imageOptions(settings);
    return QStringLiteral("%1|%2|%3,%4,%5|%6%7")
        .arg(image.dpi)
        .arg(image.jpeg_quality)
        .arg(image.background.red)
        .arg(image.background.green)
        .arg(image.background.blue)
        .arg(image.render_annotations)
        .arg(image.render_form_fields);
}

}  // namespace

OutputEstimator::OutputEstimator(QObject* parent) : QObject(parent) {
    pool_.setMaxThreadCount(1);
    delay_.setSingleShot(true);
    delay_.setInterval(kDelayMs);
    connect(&delay_, &QTimer::timeout, this, &OutputEstimator::start);
}

OutputEstimator::~OutputEstimator() {
    token_.cancel();
    work_.waitForFinished();
}

void OutputEstimator::clear() {
    token_.cancel();
    delay_.stop();
    ++generation_;
    parts_.clear();
    setText({});
}

void OutputEstimator::request(const QList<Job>& jobs, const ConversionSettings& settings) {
    clear();
    uncounted_ = 0;
    image_ = imageOptions(settings);
    const std::string selection = settings.pages.toUtf8().toStdString();
    const QString common = settingsKey(settings);
    for (const Job& job : jobs) {
        if (!isRunnable(job.state)) {
            continue;
        }
        if (job.locked || job.state == JobState::PasswordRequired || job.pageCount <= 0) {
            ++uncounted_;
            continue;
        }
        auto pages = bl::parse_page_selection(selection, job.pageCount);
        if (!pages) {
            // The page check says what is wrong; there is nothing to estimate.
            parts_.clear();
            return;
        }
        const bool whole = pages->size() <= kSamples;
        parts_.append({job.path + QLatin1Char('|') + QString::number(job.sizeBytes) +
                           QLatin1Char('|') + common +
                           (whole ? QLatin1Char('|') + settings.pages : QString()),
                       job.path, std::move(*pages), whole});
    }
    if (parts_.isEmpty()) {
        return;
    }
    if (known_.size() > kMaxKnown) {
        known_.clear();
    }
    const bool known = std::all_of(parts_.begin(), parts_.end(),
                                   [this](const Part& part) { return known_.contains(part.key); });
    if (known) {
        finish(generation_);
        return;
    }
    setText(tr("Estimating the size of the images\u2026"));
    delay_.start();
}

void OutputEstimator::start() {
    QList<Part> missing;
    for (const Part& part : parts_) {
        if (!known_.contains(part.key)) {
            missing.append(part);
        }
    }
    token_ = bl::CancellationToken();
    // A page that takes longer than this leaves its file out of the estimate
    // rather than holding it up.
    bl::ConvertLimits limits;
    limits.page_timeout_ms = 30'000;
    work_ = QtConcurrent::run(
        &pool_, [this, missing, generation = generation_, image = image_, token = token_, limits] {
            for (const Part& part : missing) {
                std::optional<Figure> figure = measure(part, image, limits, token);
                if (token.is_cancelled()) {
                    return;
                }
                QMetaObject::invokeMethod(
                    this, [this, key = part.key, figure] { known_.insert(key, figure); },
                    Qt::QueuedConnection);
            }
            QMetaObject::invokeMethod(
                this, [this, generation] { finish(generation); }, Qt::QueuedConnection);
        });
}

std::optional<OutputEstimator::Figure> OutputEstimator::measure(
    const Part& part, const bl::ImageOptions& image, const bl::ConvertLimits& limits,
    const bl::CancellationToken& token) {
    auto session = bl::PreviewSession::open(toEnginePath(part.path), {}, limits, token);
    if (!session) {
        return std::nullopt;
    }
    Figure figure;
    std::vector<std::int32_t> pages = part.pages;
    if (!part.whole) {
        const std::vector<bl::PageSize>& sizes = (*session)->document().page_sizes;
        pages.clear();
        for (std::size_t page = 1; page <= sizes.size(); ++page) {
            pages.push_back(static_cast<std::int32_t>(page));
            const auto size = bl::page_pixel_size(sizes[page - 1], image.dpi, limits);
            figure.pixels.push_back(size ? static_cast<double>(size->width) * size->height : 0);
        }
    }
    const auto estimate = (*session)->estimate(pages, image, kSamples, token);
    if (!estimate) {
        return std::nullopt;
    }
    figure.bytes = static_cast<double>(estimate->bytes);
    return figure;
}

void OutputEstimator::finish(quint64 generation) {
    if (generation != generation_) {
        return;
    }
    quint64 bytes = 0;
    quint64 images = 0;
    qsizetype uncounted = uncounted_;
    for (const Part& part : parts_) {
        const std::optional<Figure> figure = known_.value(part.key);
        if (!figure) {
            ++uncounted;
            continue;
        }
        double share = 1.0;
        if (!part.whole) {
            double selected = 0;
            for (const std::int32_t page : part.pages) {
                const auto at = static_cast<std::size_t>(page - 1);
                selected += at < figure->pixels.size() ? figure->pixels[at] : 0.0;
            }
            const double all = std::accumulate(figure->pixels.begin(), figure->pixels.end(), 0.0);
            share = all > 0 ? selected / all : 0.0;
        }
        bytes += static_cast<quint64>(std::llround(figure->bytes * share));
        images += part.pages.size();
    }
    if (uncounted - uncounted_ == parts_.size()) {
        setText(tr("The size of the images could not be estimated."));
        return;
    }
    QString text = images == 1 ? tr("About %1 for 1 image").arg(roughSize(bytes))
                               : tr("About %1 for %2 images").arg(roughSize(bytes)).arg(images);
    if (uncounted > 0) {
        text += QLatin1Char(' ') + (uncounted == 1 ? tr("(1 file not counted)")
                                                   : tr("(%1 files not counted)").arg(uncounted));
    }
    setText(text);
}

void OutputEstimator::setText(const QString& text) {
    if (text != text_) {
        text_ = text;
        emit textChanged(text_);
    }
}

}  // namespace bl::desktop
