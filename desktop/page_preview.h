// One page as a conversion with the current settings would save it: drawn and
// encoded in memory on a worker thread, shown at 100 % or fitted to the window,
// with its pixel size and file size. Escape closes it.
#pragma once

#include <QDialog>
#include <QFuture>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QThreadPool>

#include "bl/convert_types.h"

class QAbstractButton;
class QLabel;
class QScrollArea;

namespace bl::desktop {

class PagePreview : public QDialog {
    Q_OBJECT

  public:
    explicit PagePreview(QWidget* parent = nullptr,
                         const bl::ConvertLimits& limits = bl::ConvertLimits{});
    // Cancels the drawing under way and waits for it, at most about a second.
    ~PagePreview() override;

    // Opens the dialog on page `page` of the file and starts drawing it.
    void showPage(const QString& path, const QString& fileName, int page, int pageCount,
                  const bl::ImageOptions& image);

    // What the dialog shows: the image, or empty while it is drawn or failed.
    QImage image() const { return image_; }
    QString details() const;
    bool fitted() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;

  private:
    void stopDrawing();
    void showImage();
    void setFitted(bool fit);

    bl::ConvertLimits limits_;
    QThreadPool pool_;
    QFuture<void> drawing_;
    bl::CancellationToken token_;
    quint64 request_ = 0;

    QScrollArea* scroll_ = nullptr;
    QLabel* picture_ = nullptr;
    QLabel* details_ = nullptr;
    QAbstractButton* fitButton_ = nullptr;
    QAbstractButton* actualButton_ = nullptr;
    QImage image_;
    QPoint dragFrom_;
};

}  // namespace bl::desktop
