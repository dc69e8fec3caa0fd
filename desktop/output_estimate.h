// What a run would write, before it starts: a few pages of each queued file
// converted in memory at the current settings, scaled to the selected pages by
// their pixels. The samples are spread over the whole file, not the selection,
// so that leaving pages out never makes the figure grow, and a new selection
// costs no new samples; a selection of a few pages is converted whole. The
// work runs on a worker thread, a moment after the last change of the settings
// or the queue, and each file's figure is kept until the file or the settings
// change.
#pragma once

#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <optional>

#include "bl/convert_types.h"
#include "bl/preview.h"

namespace bl::desktop {

struct ConversionSettings;
struct Job;

class OutputEstimator : public QObject {
    Q_OBJECT

  public:
    explicit OutputEstimator(QObject* parent = nullptr);
    // Cancels the estimate under way and waits for it.
    ~OutputEstimator() override;

    // Estimates, after a pause, the output of converting the runnable ones of
    // `jobs` with `settings`; the estimate before is dropped at once.
    void request(const QList<Job>& jobs, const ConversionSettings& settings);
    // Drops the estimate and stops working on it, as when a run starts.
    void clear();

    // "About 27 MB for 113 images", or empty while there is none.
    QString text() const { return text_; }
    // How many milliseconds after the last request the work starts.
    void setDelay(int milliseconds) { delay_.setInterval(milliseconds); }

  signals:
    void textChanged(const QString& text);

  private:
    // One file's share of the work: its path and selected pages, all of them
    // converted when there are few.
    struct Part {
        QString key;
        QString path;
        std::vector<std::int32_t> pages;
        bool whole = false;
    };
    // The output of all of a file's pages, or of the selection when it is
    // converted whole, and each page's pixels to scale a selection by.
    struct Figure {
        double bytes = 0;
        std::vector<double> pixels;
    };
    static std::optional<Figure> measure(const Part& part, const bl::ImageOptions& image,
                                         const bl::ConvertLimits& limits,
                                         const bl::CancellationToken& token);
    void start();
    void finish(quint64 generation);
    void setText(const QString& text);

    QTimer delay_;
    QThreadPool pool_;
    QFuture<void> work_;
    bl::CancellationToken token_;
    quint64 generation_ = 0;
    QList<Part> parts_;
    int uncounted_ = 0;  // runnable files that cannot be estimated: locked ones
    bl::ImageOptions image_;
    // By file and settings; nullopt for a file that could not be estimated.
    QHash<QString, std::optional<Figure>> known_;
    QString text_;
};

}  // namespace bl::desktop
