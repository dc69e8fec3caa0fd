// The pages of the file selected in the queue, as thumbnails beside the queue.
// Each shows whether the page selection includes it; a click or Space toggles
// the page and writes the selection back as text, Enter or a double click
// shows the page as it will be saved. Thumbnails are drawn on worker threads,
// the ones in view first, and kept in a cache bounded by bytes.
#pragma once

#include <QElapsedTimer>
#include <QGroupBox>
#include <QListView>
#include <QString>

#include <utility>

#include "bl/convert_types.h"
#include "desktop/page_list_model.h"
#include "desktop/page_loader.h"
#include "desktop/thumbnail_cache.h"

class QLabel;
class QStackedWidget;

namespace bl::desktop {

struct Job;
class PagePreview;

// The thumbnails in reading order; Space and Enter act on the current one.
class PageView : public QListView {
    Q_OBJECT

  public:
    explicit PageView(QWidget* parent = nullptr);

    // The first and last rows at least partly in view; last < first for none.
    std::pair<int, int> visibleRows() const;

  signals:
    void toggleRequested(int page);
    void previewRequested(int page);
    void viewChanged();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
};

class PagePane : public QGroupBox {
    Q_OBJECT

  public:
    // The box a thumbnail fits, in logical pixels.
    static constexpr int kBox = 150;
    static constexpr qint64 kCacheBytes = qint64{48} << 20;
    // A thumbnail is small: a page that takes longer than this is not worth the wait.
    static bl::ConvertLimits thumbnailLimits();

    explicit PagePane(QWidget* parent = nullptr,
                      const bl::ConvertLimits& limits = thumbnailLimits(),
                      qint64 cacheBytes = kCacheBytes);
    ~PagePane() override;

    // The pages of `job`, or why they cannot be shown; nullptr for no file.
    void showJob(const Job* job);
    // The settings of a run: thumbnails follow its background and drawing
    // switches, and a preview all of it.
    void setImageOptions(const bl::ImageOptions& image);
    // The page selection as a run reads it: "all", or the text typed.
    void setPageSelection(const QString& text);
    // During a run, pages are drawn only as they come into view and cannot be
    // toggled.
    void setRunning(bool running);

    PageView* view() const { return view_; }
    PageListModel& model() { return model_; }
    PageLoader& loader() { return loader_; }
    const ThumbnailCache& cache() const { return cache_; }

  signals:
    // A page was toggled; the new selection in its shortest form.
    void pageSelectionEdited(const QString& text);

  private:
    void showMessage(const QString& message);
    void applyMarks();
    bool togglePage(int page);
    void pageClicked(int page);
    void pageDoubleClicked(int page);
    void openPreview(int page);
    void scheduleWants();
    void updateWants();
    int devicePixels() const;
    void connectLoader();

    ThumbnailCache cache_;
    PageListModel model_{cache_};
    PageLoader loader_;
    QStackedWidget* stack_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* hint_ = nullptr;
    PageView* view_ = nullptr;
    PagePreview* preview_ = nullptr;
    QString fileName_;

    bl::ImageOptions image_;
    QString selection_ = QStringLiteral("all");
    bool running_ = false;
    bool wantsScheduled_ = false;
    // The click before, to tell a double click from two toggles.
    struct Click {
        int page = 0;
        qint64 at = 0;
        bool toggled = false;
    } lastClick_;
    QElapsedTimer clock_;
};

}  // namespace bl::desktop
