#include "desktop/page_list_model.h"

#include <utility>

namespace bl::desktop {

PageListModel::PageListModel(ThumbnailCache& cache, QObject* parent)
    : QAbstractListModel(parent), cache_(cache) {}

int PageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : pageCount_;
}

QString PageListModel::accessibleName(int page) const {
    return isMarked(page) ? tr("Page %1, selected").arg(page)
                          : tr("Page %1, not selected").arg(page);
}

QVariant PageListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= pageCount_) {
        return {};
    }
    const int page = index.row() + 1;
    switch (role) {
        case Qt::DisplayRole:
            return QString::number(page);
        case Qt::AccessibleTextRole:
            return accessibleName(page);
        case Qt::DecorationRole: {
            const QImage image = cache_.find(key(page));
            return image.isNull() ? QVariant() : QVariant(image);
        }
        case Qt::CheckStateRole:
            return isMarked(page) ? Qt::Checked : Qt::Unchecked;
        case Qt::ToolTipRole:
        case Qt::AccessibleDescriptionRole:
        case FailureRole:
            return failures_.value(page);
        case PageSizeRole:
            return index.row() < sizes_.size() ? sizes_.at(index.row()) : defaultSize_;
        default:
            return {};
    }
}

Qt::ItemFlags PageListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    // Checkable, so that a screen reader also hears the mark as a state; the
    // pane toggles it, not the delegate.
    return Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

void PageListModel::setFile(const QString& path, int pageCount, QSizeF pageSize) {
    beginResetModel();
    path_ = path;
    pageCount_ = path.isEmpty() ? 0 : std::max(pageCount, 0);
    sizes_.clear();
    defaultSize_ = pageSize;
    failures_.clear();
    marks_.assign(static_cast<std::size_t>(pageCount_), false);
    endResetModel();
}

void PageListModel::setPageSizes(const QList<QSizeF>& sizes) {
    sizes_ = sizes;
    if (pageCount_ > 0) {
        emit dataChanged(index(0), index(pageCount_ - 1), {PageSizeRole});
    }
}

void PageListModel::setDrawing(quint64 drawing) {
    if (drawing == drawing_) {
        return;
    }
    drawing_ = drawing;
    if (pageCount_ > 0) {
        emit dataChanged(index(0), index(pageCount_ - 1), {Qt::DecorationRole});
    }
}

void PageListModel::setMarks(std::vector<bool> marks) {
    marks.resize(static_cast<std::size_t>(pageCount_), false);
    for (int row = 0; row < pageCount_; ++row) {
        const auto at = static_cast<std::size_t>(row);
        if (marks[at] != marks_[at]) {
            marks_[at] = marks[at];
            emit dataChanged(index(row), index(row), {Qt::CheckStateRole, Qt::AccessibleTextRole});
        }
    }
}

bool PageListModel::isMarked(int page) const {
    return page >= 1 && page <= pageCount_ && marks_[static_cast<std::size_t>(page - 1)];
}

void PageListModel::thumbnailArrived(int page) {
    pageChanged(page);
}

void PageListModel::setFailed(int page, const QString& message) {
    failures_.insert(page, message);
    pageChanged(page);
}

bool PageListModel::needsDrawing(int page) const {
    return !failures_.contains(page) && !cache_.contains(key(page));
}

void PageListModel::pageChanged(int page) {
    if (page >= 1 && page <= pageCount_) {
        emit dataChanged(index(page - 1), index(page - 1));
    }
}

}  // namespace bl::desktop
