#include "desktop/page_pane.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "bl/page_selection.h"
#include "desktop/job_queue_model.h"
#include "desktop/job_request.h"
#include "desktop/page_preview.h"

namespace bl::desktop {

namespace {

constexpr int kPadding = 8;
// The colour of the window's problem hints, for a page that could not be drawn.
const QColor kProblem(0xb3, 0x26, 0x1e);
// Letter, until the file tells its pages' sizes.
const QSizeF kDefaultPage(612.0, 792.0);

// `size` scaled to fit `box`, centred in it.
QRectF fitted(QSizeF size, const QRectF& box) {
    if (!(size.width() > 0.0 && size.height() > 0.0)) {
        size = kDefaultPage;
    }
    const QSizeF scaled = size.scaled(box.size(), Qt::KeepAspectRatio);
    return QRectF(box.center() - QPointF(scaled.width() / 2, scaled.height() / 2), scaled);
}

// A round mark at `centre`: a tick on the highlight for a page in the
// selection, an empty ring for one left out, "!" for a page that failed.
void drawBadge(QPainter* painter, QPointF centre, const QPalette& palette, bool marked) {
    const double radius = 10.0;
    const QRectF circle(centre - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
    painter->setPen(
        QPen(marked ? palette.color(QPalette::Highlight) : palette.color(QPalette::Mid), 1.5));
    painter->setBrush(marked ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base));
    painter->drawEllipse(circle);
    if (marked) {
        QPainterPath tick;
        tick.moveTo(centre + QPointF(-5.0, 0.5));
        tick.lineTo(centre + QPointF(-1.5, 4.0));
        tick.lineTo(centre + QPointF(5.0, -3.5));
        painter->setPen(QPen(palette.color(QPalette::HighlightedText), 2.2, Qt::SolidLine,
                             Qt::RoundCap, Qt::RoundJoin));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(tick);
    }
}

void drawFailure(QPainter* painter, const QRectF& page) {
    const double radius = std::min(16.0, std::min(page.width(), page.height()) / 3);
    painter->setPen(Qt::NoPen);
    painter->setBrush(kProblem);
    painter->drawEllipse(page.center(), radius, radius);
    QFont font = painter->font();
    font.setBold(true);
    font.setPixelSize(static_cast<int>(radius * 1.4));
    painter->setFont(font);
    painter->setPen(Qt::white);
    painter->drawText(page, Qt::AlignCenter, QStringLiteral("!"));
}

class PageDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QSize cellSize(const QFontMetrics& metrics) {
        return {PagePane::kBox + 2 * kPadding, PagePane::kBox + kPadding + metrics.height() + 8};
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return cellSize(option.fontMetrics);
    }

    // The pane toggles pages itself, on a click anywhere on the thumbnail.
    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&,
                     const QModelIndex&) override {
        return false;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

void PageDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = option.palette;
    const QRectF cell = QRectF(option.rect).adjusted(1, 1, -1, -1);
    const bool marked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    const bool failed = !index.data(PageListModel::FailureRole).toString().isEmpty();
    const QImage image = index.data(Qt::DecorationRole).value<QImage>();
    if (option.state & QStyle::State_MouseOver) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette.color(QPalette::AlternateBase));
        painter->drawRoundedRect(cell, 6, 6);
    }
    const QRectF box(cell.center().x() - PagePane::kBox / 2.0, cell.top() + kPadding - 1,
                     PagePane::kBox, PagePane::kBox);
    const QRectF page = fitted(image.isNull() ? index.data(PageListModel::PageSizeRole).toSizeF()
                                              : image.deviceIndependentSize(),
                               box);
    if (image.isNull()) {
        // A placeholder of the page's shape until it is drawn.
        painter->fillRect(page, palette.color(QPalette::Window).darker(108));
    } else {
        painter->drawImage(page, image);
        if (!marked) {
            // Left out: faded, as something that will not be saved.
            QColor veil = palette.color(QPalette::Base);
            veil.setAlpha(150);
            painter->fillRect(page, veil);
        }
    }
    if (failed) {
        drawFailure(painter, page);
    }
    painter->setPen(marked ? QPen(palette.color(QPalette::Highlight), 3.0)
                           : QPen(palette.color(QPalette::Mid), 1.0));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(page);
    drawBadge(painter, page.topRight() + QPointF(-12, 12), palette, marked);

    const QRectF label(cell.left(), box.bottom() + 2, cell.width(),
                       cell.bottom() - box.bottom() - 2);
    QFont font = option.font;
    font.setBold(marked);
    painter->setFont(font);
    painter->setPen(palette.color(failed ? QPalette::Text : QPalette::WindowText));
    painter->drawText(label, Qt::AlignHCenter | Qt::AlignVCenter, index.data().toString());
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(palette.color(QPalette::Highlight), 2.0, Qt::DashLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(cell.adjusted(1, 1, -1, -1), 6, 6);
    }
    painter->restore();
}

}  // namespace

PageView::PageView(QWidget* parent) : QListView(parent) {
    setObjectName(QStringLiteral("pageView"));
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTabKeyNavigation(false);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    viewport()->setCursor(Qt::PointingHandCursor);
    setItemDelegate(new PageDelegate(this));
    setGridSize(PageDelegate::cellSize(fontMetrics()) + QSize(4, 4));
    verticalScrollBar()->setSingleStep(24);
    setAccessibleName(tr("Pages of the selected file"));
    setAccessibleDescription(
        tr("Space includes or leaves out a page; Enter shows it as it will be saved"));
    verticalScrollBar()->setAccessibleName(tr("Scroll the pages"));
    horizontalScrollBar()->setAccessibleName(tr("Scroll the pages sideways"));
}

std::pair<int, int> PageView::visibleRows() const {
    const int count = model() != nullptr ? model()->rowCount() : 0;
    const QRect area = viewport()->rect();
    if (count == 0 || area.isEmpty()) {
        return {0, -1};
    }
    // Rows are laid out in reading order: their rectangles go down the view.
    const auto firstRow = [this, count](auto reaches) {
        int low = 0;
        int high = count;
        while (low < high) {
            const int middle = low + (high - low) / 2;
            if (reaches(visualRect(model()->index(middle, 0)))) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        return low;
    };
    const int first = firstRow([&area](const QRect& rect) { return rect.bottom() >= area.top(); });
    const int end = firstRow([&area](const QRect& rect) { return rect.top() > area.bottom(); });
    return {first, end - 1};
}

void PageView::keyPressEvent(QKeyEvent* event) {
    const QModelIndex current = currentIndex();
    const int key = event->key();
    if (current.isValid() && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (key == Qt::Key_Space || key == Qt::Key_Select) {
            emit toggleRequested(current.row() + 1);
            return event->accept();
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            emit previewRequested(current.row() + 1);
            return event->accept();
        }
    }
    QListView::keyPressEvent(event);
}

void PageView::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    emit viewChanged();
}

void PageView::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    emit viewChanged();
}

bl::ConvertLimits PagePane::thumbnailLimits() {
    bl::ConvertLimits limits;
    limits.page_timeout_ms = 20'000;
    return limits;
}

PagePane::PagePane(QWidget* parent, const bl::ConvertLimits& limits, qint64 cacheBytes)
    : QGroupBox(tr("Preview"), parent), cache_(cacheBytes), loader_(limits) {
    setObjectName(QStringLiteral("pagePane"));
    clock_.start();
    auto* layout = new QVBoxLayout(this);
    stack_ = new QStackedWidget(this);
    message_ = new QLabel(stack_);
    message_->setObjectName(QStringLiteral("pageMessage"));
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    message_->setMargin(8);
    stack_->addWidget(message_);
    view_ = new PageView(stack_);
    view_->setModel(&model_);
    stack_->addWidget(view_);
    layout->addWidget(stack_, 1);
    hint_ = new QLabel(tr("Click a page to include or leave it out; double-click to preview it."),
                       this);
    hint_->setObjectName(QStringLiteral("pageHint"));
    hint_->setWordWrap(true);
    QPalette palette = hint_->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    hint_->setPalette(palette);
    layout->addWidget(hint_);

    connect(view_, &PageView::toggleRequested, this, &PagePane::togglePage);
    connect(view_, &PageView::previewRequested, this, &PagePane::openPreview);
    connect(view_, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { pageClicked(index.row() + 1); });
    connect(view_, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { pageDoubleClicked(index.row() + 1); });
    connect(view_, &PageView::viewChanged, this, &PagePane::scheduleWants);
    connectLoader();
    setImageOptions(image_);
    showJob(nullptr);
}

PagePane::~PagePane() = default;

void PagePane::connectLoader() {
    connect(&loader_, &PageLoader::opened, this,
            [this](const QString& path, const QList<QSizeF>& sizes) {
                if (path == model_.file()) {
                    model_.setPageSizes(sizes);
                }
            });
    connect(&loader_, &PageLoader::openFailed, this,
            [this](const QString& path, const QString& message) {
                if (path == model_.file()) {
                    showMessage(message);
                }
            });
    connect(&loader_, &PageLoader::thumbnailReady, this,
            [this](const QString& path, int page, quint64 drawing, const QImage& image) {
                QImage shown = image;
                shown.setDevicePixelRatio(devicePixelRatioF());
                cache_.insert({path, page, drawing}, shown);
                if (path == model_.file() && drawing == model_.drawing()) {
                    model_.thumbnailArrived(page);
                }
            });
    connect(&loader_, &PageLoader::pageFailed, this,
            [this](const QString& path, int page, const QString& message) {
                if (path == model_.file()) {
                    model_.setFailed(page, message);
                }
            });
}

void PagePane::showJob(const Job* job) {
    QString message;
    if (job == nullptr) {
        message = tr("Select a file in the list to see its pages here.");
    } else if (job->state == JobState::Checking) {
        message = tr("Checking the file\u2026");
    } else if (job->locked || job->state == JobState::PasswordRequired) {
        message = tr("This file is password-protected, so its pages are not shown.");
    } else if (job->state == JobState::Unusable) {
        message = job->message;
    } else if (job->pageCount <= 0) {
        message = tr("This file has no pages to show.");
    }
    const QString path = message.isEmpty() ? job->path : QString();
    if (path != model_.file()) {
        loader_.setFile(path);
        model_.setFile(
            path, path.isEmpty() ? 0 : job->pageCount,
            job != nullptr && job->firstPageSize.width() > 0 ? job->firstPageSize : kDefaultPage);
        fileName_ = job != nullptr ? job->fileName : QString();
        applyMarks();
        view_->scrollToTop();
    }
    if (path.isEmpty()) {
        showMessage(message);
    } else {
        stack_->setCurrentWidget(view_);
        hint_->show();
        scheduleWants();
    }
}

void PagePane::showMessage(const QString& message) {
    message_->setText(message);
    stack_->setCurrentWidget(message_);
    hint_->hide();
}

void PagePane::setImageOptions(const bl::ImageOptions& image) {
    image_ = image;
    model_.setDrawing(drawingKey(image, devicePixels()));
    scheduleWants();
}

void PagePane::setPageSelection(const QString& text) {
    selection_ = text;
    applyMarks();
}

void PagePane::setRunning(bool running) {
    running_ = running;
    if (running) {
        // The pages asked for ahead go; those that come into view are still drawn.
        loader_.cancel();
    }
    scheduleWants();
}

void PagePane::applyMarks() {
    const int count = model_.rowCount();
    std::vector<bool> marks;
    // A text that does not fit the file marks nothing.
    if (const auto pages = bl::parse_page_selection(selection_.toUtf8().toStdString(), count)) {
        marks.assign(static_cast<std::size_t>(count), false);
        for (const std::int32_t page : *pages) {
            marks[static_cast<std::size_t>(page - 1)] = true;
        }
    }
    model_.setMarks(std::move(marks));
}

bool PagePane::togglePage(int page) {
    const int count = model_.rowCount();
    if (running_ || page < 1 || page > count) {
        return false;
    }
    std::vector<std::int32_t> pages;
    for (int each = 1; each <= count; ++each) {
        if (model_.isMarked(each) != (each == page)) {
            pages.push_back(each);
        }
    }
    emit pageSelectionEdited(fromUtf8(bl::format_page_selection(pages, count)));
    return true;
}

void PagePane::pageClicked(int page) {
    const qint64 now = clock_.elapsed();
    // The second click of a double click toggles nothing.
    if (page == lastClick_.page && now - lastClick_.at < QApplication::doubleClickInterval()) {
        return;
    }
    lastClick_ = {page, now, togglePage(page)};
}

void PagePane::pageDoubleClicked(int page) {
    // A double click shows the page and leaves the selection as it was.
    if (page == lastClick_.page && lastClick_.toggled) {
        togglePage(page);
        lastClick_.toggled = false;
    }
    openPreview(page);
}

void PagePane::openPreview(int page) {
    if (preview_ == nullptr) {
        preview_ = new PagePreview(window());
    }
    preview_->showPage(model_.file(), fileName_, page, model_.rowCount(), image_);
}

void PagePane::scheduleWants() {
    if (wantsScheduled_) {
        return;
    }
    wantsScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        wantsScheduled_ = false;
        updateWants();
    });
}

int PagePane::devicePixels() const {
    return static_cast<int>(std::lround(kBox * devicePixelRatioF()));
}

void PagePane::updateWants() {
    const int count = model_.rowCount();
    if (count == 0) {
        return;
    }
    QList<int> wanted;
    const auto add = [this, &wanted](int row) {
        if (model_.needsDrawing(row + 1)) {
            wanted.append(row + 1);
        }
    };
    const auto [first, last] = view_->visibleRows();
    for (int row = first; row <= last; ++row) {
        add(row);
    }
    if (!running_) {
        // Ahead of the view, then behind it, no further than half the cache holds,
        // so that what is drawn ahead never pushes out what is in view.
        const int box = devicePixels();
        const int ahead = static_cast<int>(cache_.capacity() / (qint64{box} * box * 4) / 2);
        for (int row = last + 1; row < std::min(count, last + 1 + ahead); ++row) {
            add(row);
        }
        for (int row = first - 1; row >= std::max(0, first - ahead / 4); --row) {
            add(row);
        }
    }
    loader_.want(wanted, image_, devicePixels());
}

}  // namespace bl::desktop
