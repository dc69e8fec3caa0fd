#include "desktop/page_loader.h"

#include <QMetaObject>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "bl/job.h"
#include "bl/preview.h"
#include "desktop/job_request.h"
#include "desktop/thumbnail_cache.h"

namespace bl::desktop {

namespace {

// One helper per file: a second one halves the time to the last thumbnail of
// a long file, but takes the other core from a conversion running beside it.
constexpr int kWorkersPerFile = 1;
// Workers of files shown before may still be winding down beside the current
// ones; each ends within a second of its cancel.
constexpr int kMaxThreads = 4;

// The helper's rows of three bytes into an image the window draws without
// converting it again.
QImage toImage(const bl::Thumbnail& thumbnail) {
    const int width = thumbnail.size.width;
    const int height = thumbnail.size.height;
    QImage image(width, height, QImage::Format_RGB32);
    const std::uint8_t* row = thumbnail.pixels.data();
    for (int y = 0; y < height; ++y, row += static_cast<std::ptrdiff_t>(width) * 3) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* bgr = row + static_cast<std::ptrdiff_t>(x) * 3;
            out[x] = qRgb(bgr[2], bgr[1], bgr[0]);
        }
    }
    return image;
}

}  // namespace

// What the GUI thread and a file's workers share. The token cancels the call
// under way; `retired` ends the worker after it.
struct PageLoader::Work {
    quint64 id = 0;
    QString path;
    bl::CancellationToken token;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<int> wanted;
    bl::ImageOptions drawing;
    int box = 0;
    int workers = 0;
    bool retired = false;
    // Pages, with their drawing, being drawn or drawn and on their way to the
    // GUI thread: asked for again meanwhile, they would be drawn twice.
    std::set<std::pair<int, quint64>> underway;

    struct Page {
        int number = 0;
        bl::ImageOptions drawing;
        int box = 0;
        quint64 key = 0;
    };
    // Waits for the next page asked for; none once the work is retired.
    std::optional<Page> next() {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return retired || !wanted.empty(); });
        if (retired) {
            return std::nullopt;
        }
        const Page page{wanted.front(), drawing, box, drawingKey(drawing, box)};
        wanted.pop_front();
        underway.insert({page.number, page.key});
        return page;
    }
};

PageLoader::PageLoader(const bl::ConvertLimits& limits, QObject* parent)
    : QObject(parent), limits_(limits) {
    pool_.setMaxThreadCount(kMaxThreads);
}

PageLoader::~PageLoader() {
    stopWork();
    // Results a worker posts until then die with this object.
    pool_.waitForDone();
}

void PageLoader::setFile(const QString& path) {
    if (path == path_) {
        return;
    }
    stopWork();
    path_ = path;
}

void PageLoader::stopWork() {
    if (!work_) {
        return;
    }
    {
        const std::lock_guard lock(work_->mutex);
        work_->retired = true;
        work_->wanted.clear();
    }
    work_->token.cancel();
    work_->wake.notify_all();
    work_.reset();
}

bool PageLoader::isCurrent(quint64 workId) const {
    return work_ && work_->id == workId;
}

void PageLoader::want(const QList<int>& pages, const bl::ImageOptions& drawing, int box) {
    if (path_.isEmpty() || (pages.isEmpty() && !work_)) {
        return;
    }
    if (!work_) {
        work_ = std::make_shared<Work>();
        work_->id = nextWorkId_++;
        work_->path = path_;
    }
    int start = 0;
    {
        const std::lock_guard lock(work_->mutex);
        const quint64 key = drawingKey(drawing, box);
        work_->wanted.clear();
        for (const int page : pages) {
            if (!work_->underway.contains({page, key})) {
                work_->wanted.push_back(page);
            }
        }
        work_->drawing = drawing;
        work_->box = box;
        start = std::min<int>(kWorkersPerFile - work_->workers, static_cast<int>(pages.size()));
        work_->workers += std::max(start, 0);
    }
    work_->wake.notify_all();
    for (int i = 0; i < start; ++i) {
        running_->fetch_add(1);
        pool_.start([this, work = work_] { runWorker(this, work); });
    }
}

void PageLoader::runWorker(PageLoader* loader, std::shared_ptr<Work> work) {
    const quint64 id = work->id;
    const QString path = work->path;
    // Everything a worker reports goes through the GUI thread, where it is
    // dropped unless the worker's file is still the one shown.
    const auto post = [loader, id, work](auto report, std::pair<int, quint64> page = {}) {
        QMetaObject::invokeMethod(
            loader,
            [loader, id, work, page, report = std::move(report)] {
                {
                    const std::lock_guard lock(work->mutex);
                    work->underway.erase(page);
                }
                if (loader->isCurrent(id)) {
                    report();
                }
            },
            Qt::QueuedConnection);
    };
    const std::shared_ptr<std::atomic<int>> running = loader->running_;
    auto session = bl::PreviewSession::open(toEnginePath(path), {}, loader->limits_, work->token);
    if (!session) {
        post([loader, path, message = fromUtf8(session.error().message)] {
            emit loader->openFailed(path, message);
        });
        running->fetch_sub(1);
        return;
    }
    QList<QSizeF> sizes;
    for (const bl::PageSize& size : (*session)->document().page_sizes) {
        sizes.append(QSizeF(size.width, size.height));
    }
    post([loader, path, sizes] { emit loader->opened(path, sizes); });
    while (const std::optional<Work::Page> next = work->next()) {
        const int page = next->number;
        const quint64 key = next->key;
        auto drawn = (*session)->thumbnail(static_cast<std::uint32_t>(page), {next->box, next->box},
                                           next->drawing, work->token);
        if (work->token.is_cancelled()) {
            break;
        }
        if (drawn) {
            post([loader, path, page, key,
                  image = toImage(*drawn)] { emit loader->thumbnailReady(path, page, key, image); },
                 {page, key});
        } else {
            post(
                [loader, path, page, message = fromUtf8(bl::error_text(drawn.error()))] {
                    emit loader->pageFailed(path, page, message);
                },
                {page, key});
        }
    }
    // The helper goes with the session, before the worker counts itself out.
    session->reset();
    running->fetch_sub(1);
}

}  // namespace bl::desktop
