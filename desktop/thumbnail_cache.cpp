#include "desktop/thumbnail_cache.h"

#include <QHashFunctions>

namespace bl::desktop {

quint64 drawingKey(const bl::ImageOptions& image, int box) {
    const bl::Rgb colour = image.background;
    return quint64{colour.red} | quint64{colour.green} << 8 | quint64{colour.blue} << 16 |
           quint64{image.render_annotations} << 24 | quint64{image.render_form_fields} << 25 |
           static_cast<quint64>(box) << 32;
}

size_t qHash(const ThumbnailKey& key, size_t seed) {
    return qHashMulti(seed, key.path, key.page, key.drawing);
}

ThumbnailCache::ThumbnailCache(qint64 capacityBytes) : images_(capacityBytes) {}

QImage ThumbnailCache::find(const ThumbnailKey& key) {
    const QImage* image = images_.object(key);
    return image != nullptr ? *image : QImage();
}

void ThumbnailCache::insert(const ThumbnailKey& key, const QImage& image) {
    // An image larger than the whole cap is dropped by the cache itself.
    images_.insert(key, new QImage(image), image.sizeInBytes());
}

}  // namespace bl::desktop
