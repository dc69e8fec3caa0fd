// Draws the thumbnails of the file the page pane shows, on worker threads of
// its own. Each worker holds the file open in a preview session (a sandboxed
// render helper) and takes the most wanted page next; the pane says which
// pages it wants as the user scrolls. Showing another file, or none, cancels
// the workers of the file before, and nothing they drew arrives any more.
#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>

#include "bl/convert_types.h"

namespace bl::desktop {

class PageLoader : public QObject {
    Q_OBJECT

  public:
    explicit PageLoader(const bl::ConvertLimits& limits, QObject* parent = nullptr);
    // Cancels every worker and waits for them: they end within the engine's
    // cancellation time, or an open within its deadline.
    ~PageLoader() override;

    // From now on the pages of `path` are drawn; an empty path draws nothing.
    // The workers of any other file are cancelled.
    void setFile(const QString& path);
    QString file() const { return path_; }
    // Cancels the work under way and the pages asked for; the next want()
    // starts again.
    void cancel() { stopWork(); }
    // The pages to draw next, the most wanted first, instead of those asked for
    // before; `box` is in device pixels. An empty list starts no worker.
    void want(const QList<int>& pages, const bl::ImageOptions& drawing, int box);

    // Workers still running, for any file: cancelled ones until they have ended.
    int runningWorkers() const { return running_->load(); }

  signals:
    // The file is open: the size of each page in points, page 1 first.
    void opened(const QString& path, const QList<QSizeF>& pageSizes);
    void openFailed(const QString& path, const QString& message);
    void thumbnailReady(const QString& path, int page, quint64 drawing, const QImage& image);
    void pageFailed(const QString& path, int page, const QString& message);

  private:
    struct Work;
    static void runWorker(PageLoader* loader, std::shared_ptr<Work> work);
    void stopWork();
    bool isCurrent(quint64 workId) const;

    bl::ConvertLimits limits_;
    QThreadPool pool_;
    QString path_;
    std::shared_ptr<Work> work_;
    quint64 nextWorkId_ = 1;
    // Shared with the workers, which count themselves out as they end.
    std::shared_ptr<std::atomic<int>> running_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace bl::desktop
