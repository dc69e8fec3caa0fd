// Thumbnails already drawn, kept by bytes: scrolling back shows them at once,
// and a manual of thousands of pages keeps only as many as the cap allows, the
// least recently shown going first.
#pragma once

#include <QCache>
#include <QImage>
#include <QString>

#include "bl/convert_types.h"

namespace bl::desktop {

// What a thumbnail's pixels depend on besides its file and page: the size of
// its box and the drawing settings.
quint64 drawingKey(const bl::ImageOptions& image, int box);

struct ThumbnailKey {
    QString path;
    int page = 0;
    quint64 drawing = 0;
    friend bool operator==(const ThumbnailKey&, const ThumbnailKey&) = default;
};
size_t qHash(const ThumbnailKey& key, size_t seed = 0);

class ThumbnailCache {
  public:
    explicit ThumbnailCache(qint64 capacityBytes);

    // A null image when the thumbnail is not kept; a kept one becomes the most
    // recently used.
    QImage find(const ThumbnailKey& key);
    bool contains(const ThumbnailKey& key) const { return images_.contains(key); }
    void insert(const ThumbnailKey& key, const QImage& image);

    qint64 bytes() const { return images_.totalCost(); }
    qint64 capacity() const { return images_.maxCost(); }
    int count() const { return static_cast<int>(images_.count()); }

  private:
    QCache<ThumbnailKey, QImage> images_;
};

}  // namespace bl::desktop
