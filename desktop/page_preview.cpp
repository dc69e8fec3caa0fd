#include "desktop/page_preview.h"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

#include "bl/job.h"
#include "bl/preview.h"
#include "desktop/job_queue_model.h"
#include "desktop/job_request.h"

namespace bl::desktop {

namespace {

struct Drawn {
    QImage image;
    QString details;
    QString problem;
};

// Runs on a worker: the page drawn and encoded as the conversion would, and
// decoded again from those very bytes.
Drawn drawPage(const QString& path, int page, const bl::ImageOptions& image,
               const bl::ConvertLimits& limits, const bl::CancellationToken& token) {
    auto session = bl::PreviewSession::open(toEnginePath(path), {}, limits, token);
    if (!session) {
        return {{}, {}, fromUtf8(session.error().message)};
    }
    auto preview = (*session)->output_preview(static_cast<std::uint32_t>(page), image, token);
    if (!preview) {
        return {{}, {}, fromUtf8(bl::error_text(preview.error()))};
    }
    Drawn drawn;
    const auto& file = preview->file;
    drawn.image.loadFromData(file.data(), static_cast<int>(file.size()), "JPG");
    drawn.details =
        PagePreview::tr("%1 \u00D7 %2 pixels \u00B7 %3 \u00B7 %4 DPI, JPEG quality %5")
            .arg(QString::number(preview->size.width), QString::number(preview->size.height),
                 JobQueueModel::sizeText(static_cast<qint64>(file.size())),
                 QString::number(image.dpi), QString::number(image.jpeg_quality));
    return drawn;
}

}  // namespace

PagePreview::PagePreview(QWidget* parent, const bl::ConvertLimits& limits)
    : QDialog(parent), limits_(limits) {
    setObjectName(QStringLiteral("pagePreview"));
    pool_.setMaxThreadCount(2);
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout();
    details_ = new QLabel(this);
    details_->setObjectName(QStringLiteral("previewDetails"));
    bar->addWidget(details_, 1);
    fitButton_ = new QPushButton(tr("&Fit to window"), this);
    fitButton_->setObjectName(QStringLiteral("fitButton"));
    actualButton_ = new QPushButton(tr("&Actual size (100 %)"), this);
    actualButton_->setObjectName(QStringLiteral("actualSizeButton"));
    auto* zoom = new QButtonGroup(this);
    for (QAbstractButton* button : {fitButton_, actualButton_}) {
        button->setCheckable(true);
        static_cast<QPushButton*>(button)->setAutoDefault(false);
        zoom->addButton(button);
        bar->addWidget(button);
    }
    actualButton_->setChecked(true);
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("closePreviewButton"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    bar->addWidget(close);
    layout->addLayout(bar);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("previewArea"));
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setBackgroundRole(QPalette::Dark);
    scroll_->setAccessibleName(tr("Page as it will be saved"));
    scroll_->verticalScrollBar()->setAccessibleName(tr("Scroll the page"));
    scroll_->horizontalScrollBar()->setAccessibleName(tr("Scroll the page sideways"));
    picture_ = new QLabel(scroll_);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setMargin(12);
    picture_->installEventFilter(this);
    scroll_->setWidget(picture_);
    scroll_->setWidgetResizable(false);
    layout->addWidget(scroll_, 1);
    connect(fitButton_, &QAbstractButton::toggled, this, [this] { showImage(); });

    const QRect screen = this->screen()->availableGeometry();
    resize(std::min(1000, screen.width() * 4 / 5), std::min(800, screen.height() * 4 / 5));
}

PagePreview::~PagePreview() {
    stopDrawing();
}

void PagePreview::stopDrawing() {
    token_.cancel();
    // A cancelled drawing ends within about a second.
    drawing_.waitForFinished();
}

void PagePreview::done(int result) {
    token_.cancel();
    // A page at 600 DPI takes over 100 MB; a closed preview keeps none of it.
    image_ = QImage();
    picture_->setPixmap(QPixmap());
    QDialog::done(result);
}

void PagePreview::showPage(const QString& path, const QString& fileName, int page, int pageCount,
                           const bl::ImageOptions& image) {
    token_.cancel();
    token_ = bl::CancellationToken();
    image_ = QImage();
    const quint64 request = ++request_;
    setWindowTitle(tr("Page %1 of %2 \u2014 %3").arg(page).arg(pageCount).arg(fileName));
    details_->setText(tr("Drawing page %1 as it will be saved\u2026").arg(page));
    picture_->setPixmap(QPixmap());
    picture_->setText(QString());
    picture_->adjustSize();
    drawing_ = QtConcurrent::run(
        &pool_, [this, request, path, page, image, limits = limits_, token = token_] {
            Drawn drawn = drawPage(path, page, image, limits, token);
            if (token.is_cancelled()) {
                return;
            }
            QMetaObject::invokeMethod(
                this,
                [this, request, drawn = std::move(drawn)] {
                    if (request != request_) {
                        return;
                    }
                    image_ = drawn.image;
                    details_->setText(drawn.problem.isEmpty() ? drawn.details : drawn.problem);
                    showImage();
                },
                Qt::QueuedConnection);
        });
    if (!isVisible()) {
        open();
    }
    scroll_->setFocus();
}

QString PagePreview::details() const {
    return details_->text();
}

bool PagePreview::fitted() const {
    return fitButton_->isChecked();
}

void PagePreview::showImage() {
    if (image_.isNull()) {
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap;
    if (fitted()) {
        // The whole page in view, never larger than it is.
        const QSize room = (scroll_->viewport()->size() - QSize(24, 24)) * ratio;
        pixmap = QPixmap::fromImage(
            image_.width() > room.width() || image_.height() > room.height()
                ? image_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                : image_);
    } else {
        // One pixel of the image to one pixel of the screen.
        pixmap = QPixmap::fromImage(image_);
    }
    pixmap.setDevicePixelRatio(ratio);
    picture_->setPixmap(pixmap);
    picture_->adjustSize();
    picture_->setCursor(fitted() ? Qt::ArrowCursor : Qt::OpenHandCursor);
}

void PagePreview::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (fitted()) {
        showImage();
    }
}

bool PagePreview::eventFilter(QObject* watched, QEvent* event) {
    if (watched != picture_) {
        return QDialog::eventFilter(watched, event);
    }
    // Dragging the page moves it, as a hand would.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            dragFrom_ = mouse->globalPosition().toPoint();
            picture_->setCursor(Qt::ClosedHandCursor);
            return true;
        case QEvent::MouseMove:
            if (mouse->buttons() & Qt::LeftButton) {
                const QPoint moved = mouse->globalPosition().toPoint() - dragFrom_;
                dragFrom_ = mouse->globalPosition().toPoint();
                scroll_->horizontalScrollBar()->setValue(scroll_->horizontalScrollBar()->value() -
                                                         moved.x());
                scroll_->verticalScrollBar()->setValue(scroll_->verticalScrollBar()->value() -
                                                       moved.y());
            }
            return true;
        case QEvent::MouseButtonRelease:
            picture_->setCursor(fitted() ? Qt::ArrowCursor : Qt::OpenHandCursor);
            return true;
        default:
            return QDialog::eventFilter(watched, event);
    }
}

}  // namespace bl::desktop
