// The pages of the file the page pane shows, one row per page: its thumbnail
// from the cache once drawn, whether the page selection includes it, and why
// it could not be drawn. Screen readers hear each page by its number and mark.
#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSizeF>
#include <QString>

#include <vector>

#include "desktop/thumbnail_cache.h"

namespace bl::desktop {

class PageListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role {
        // The page's size in points, for the shape of its placeholder.
        PageSizeRole = Qt::UserRole + 1,
        // Why the page could not be drawn; empty while it could.
        FailureRole,
    };

    explicit PageListModel(ThumbnailCache& cache, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Shows the pages of another file, or none for an empty path; each page
    // has the size `pageSize` until the file tells its own.
    void setFile(const QString& path, int pageCount, QSizeF pageSize);
    const QString& file() const { return path_; }
    void setPageSizes(const QList<QSizeF>& sizes);
    // Thumbnails are looked up under this drawing from now on.
    void setDrawing(quint64 drawing);
    quint64 drawing() const { return drawing_; }

    // One flag per page, page 1 first; missing pages are not marked.
    void setMarks(std::vector<bool> marks);
    bool isMarked(int page) const;
    const std::vector<bool>& marks() const { return marks_; }

    void thumbnailArrived(int page);
    void setFailed(int page, const QString& message);
    // Not in the cache under the current drawing, and not failed.
    bool needsDrawing(int page) const;
    ThumbnailKey key(int page) const { return {path_, page, drawing_}; }

  private:
    void pageChanged(int page);
    QString accessibleName(int page) const;

    ThumbnailCache& cache_;
    QString path_;
    int pageCount_ = 0;
    quint64 drawing_ = 0;
    QList<QSizeF> sizes_;
    QSizeF defaultSize_;
    std::vector<bool> marks_;
    QHash<int, QString> failures_;
};

}  // namespace bl::desktop
