// The window's side of a conversion run: starting it, following it in the status
// row, its summary, the About box, and closing the window while it runs.
#include "desktop/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>

#include <algorithm>

#include "bl/version.h"
#include "desktop/accessibility.h"
#include "desktop/desktop_integration.h"
#include "desktop/page_pane.h"
#include "desktop/settings_panel.h"

namespace bl::desktop {

QString MainWindow::summaryText(const RunSummary& summary) {
    QStringList parts;
    if (summary.converted > 0) {
        parts.append(summary.converted == 1 ? tr("1 file converted")
                                            : tr("%1 files converted").arg(summary.converted));
    }
    // English needs no plural of these; French does ("2 ignorés").
    if (summary.partlyConverted > 0) {
        parts.append(tr("%n partly converted", nullptr, summary.partlyConverted));
    }
    if (summary.failed > 0) {
        parts.append(tr("%n failed", nullptr, summary.failed));
    }
    if (summary.skipped > 0) {
        parts.append(tr("%n skipped", nullptr, summary.skipped));
    }

    QString text;
    if (!parts.isEmpty()) {
        text = parts.join(QStringLiteral(", ")) + QLatin1Char('.');
    } else if (summary.imagesSaved > 0) {
        // A file stopped part-way is not counted as converted, yet its images
        // are there: "nothing was converted" would deny them.
        text = tr("No file was finished.");
    } else {
        text = tr("Nothing was converted.");
    }
    text += QLatin1Char(' ');
    text += summary.imagesSaved == 1 ? tr("1 image saved.")
                                     : tr("%1 images saved.").arg(summary.imagesSaved);
    if (summary.stopped) {
        text.prepend(tr("Stopped. "));
    }
    if (summary.failed > 0 || summary.partlyConverted > 0) {
        text += QLatin1Char(' ') + tr("See the Status column for details.");
    }
    return text;
}

void MainWindow::startConversion() {
    const QString reason = notReadyReason();
    if (!reason.isEmpty()) {
        notice_ = reason;
        render();
        return;
    }
    QString error;
    if (!controller_.start(settingsPanel_->settings(), &error)) {
        QMessageBox::warning(this, tr("Cannot start"), error, QMessageBox::Ok);
    }
}

QString MainWindow::jobFileName(quint64 id) const {
    const Job* job = controller_.model()->job(id);
    return job != nullptr ? job->fileName : QString();
}

void MainWindow::handleRunStarted(int fileCount) {
    // The run has the processor: work on pages ahead of view and the estimate stop.
    estimator_.clear();
    pagePane_->setRunning(true);
    runView_ = RunView{};
    runView_.fileCount = fileCount;
    updateControls();
}

void MainWindow::handleJobStarted(qulonglong id, int fileIndex, int fileCount) {
    runView_ = RunView{fileCount, fileIndex, jobFileName(id)};
    render();
}

void MainWindow::handleJobProgress(qulonglong id, int pagesDone, int pagesTotal) {
    runView_.fileName = jobFileName(id);
    runView_.pagesDone = pagesDone;
    runView_.pagesTotal = pagesTotal;
    render();
}

void MainWindow::renderRun() {
    // The bar and the title show one number: the run's pages, over all of its
    // files. A run that knows none of its pages yet shows a busy bar.
    const RunPages pages = controller_.runPages();
    const int percent = pages.total > 0 ? pages.done * 100 / pages.total : 0;
    progressBar_->setRange(0, pages.total);
    progressBar_->setValue(pages.done);
    progressBar_->setFormat(tr("%1%").arg(percent));
    progressBar_->show();
    setWindowTitle(pages.total > 0 ? tr("%1% \u2014 Brightleaf \u2014 PDF to JPG").arg(percent)
                                   : tr("Brightleaf \u2014 PDF to JPG"));
    integration_->setProgress(pages.total > 0 ? percent / 100.0 : 0.0);
    setStatusText(statusLabel_, runStatusText());
}

QString MainWindow::runStatusText() const {
    const RunView& run = runView_;
    // A cancel asked for stays on screen until the run has ended.
    if (controller_.isCancelling()) {
        return tr("Cancelling after the current page\u2026");
    }
    if (run.fileIndex < 0) {
        return run.fileCount == 1 ? tr("Starting 1 file\u2026")
                                  : tr("Starting %1 files\u2026").arg(run.fileCount);
    }
    const QString file = QString::number(run.fileIndex + 1);
    const QString count = QString::number(run.fileCount);
    if (run.pagesTotal < 0) {
        return tr("Converting %1 (file %2 of %3)\u2026").arg(run.fileName, file, count);
    }
    // Which file of the run this is stays in view for the whole run.
    return tr("Converting %1 (file %2 of %3) \u2014 page %4 of %5")
        .arg(run.fileName, file, count, QString::number(run.pagesDone),
             QString::number(run.pagesTotal));
}

void MainWindow::cancelConversion() {
    controller_.cancel();
    render();
}

void MainWindow::handleRunFinished(const bl::desktop::RunSummary& summary) {
    runView_ = RunView{};
    pagePane_->setRunning(false);
    requestEstimate();
    // The checks were held back during the run; the queue may have changed since.
    settingsPanel_->recheck();
    // The summary stays until the next change of the settings or the queue.
    notice_ = summaryText(summary);
    render();
    // Someone who looked away learns that the run is over without coming back.
    if (!isActiveWindow()) {
        integration_->notify(summary.stopped ? tr("Conversion stopped") : tr("Conversion finished"),
                             notice_);
    }
}

namespace {

// Where this copy's licence texts are: the folder beside a program installed
// in a folder of its own, the copyright file the build gathers them into when
// it runs from the build tree, or the package's copyright file.
QString licenceTexts() {
    const QString programs = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {programs + QStringLiteral("/licenses"),
          QDir::cleanPath(programs + QStringLiteral("/" BL_BUILD_TREE_LICENSES)),
          QStringLiteral("/usr/share/doc/brightleaf/copyright")}) {
        if (QFileInfo::exists(candidate)) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

QString MainWindow::licenceParagraph() {
    const QString where = licenceTexts();
    if (where.isEmpty() || where.endsWith(QStringLiteral("/licenses"))) {
        return tr(
            "The full licence texts are in the \u201Clicenses\u201D folder next to the "
            "application.");
    }
    return tr("The full licence texts are in %1.")
        .arg(QStringLiteral("<a href=\"%1\">%2</a>")
                 .arg(QUrl::fromLocalFile(where).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                      QDir::toNativeSeparators(where).toHtmlEscaped()));
}

void MainWindow::showAbout() {
    const bl::VersionInfo versions = bl::version_info();
    QString text =
        tr("<p><b>Brightleaf</b> %1<br>This is a preview build, not for production use.<br>"
           "Copyright \u00A9 The Brightleaf authors. Brightleaf is released under the MIT "
           "licence.</p>"
           "<p>Brightleaf converts PDF pages to JPG images on this computer. Your files are not "
           "uploaded.</p>"
           "<p>PDF rendering by PDFium %2, JPEG encoding by libjpeg-turbo %3 and the user "
           "interface by Qt %4. Qt is used under the GNU Lesser General Public License "
           "version 3 (LGPL v3); PDFium and libjpeg-turbo under their own open-source "
           "licences. The Qt libraries shipped with this application may be replaced with "
           "other versions.</p>"
           "<p>Portions of this software are copyright \u00A9 The FreeType Project "
           "(www.freetype.org). All rights reserved.</p>"
           "<p>This software is based in part on the work of the Independent JPEG Group.</p>")
            .arg(QString::fromStdString(versions.application).toHtmlEscaped(),
                 QString::fromStdString(versions.pdfium).toHtmlEscaped(),
                 QString::fromStdString(versions.libjpeg_turbo).toHtmlEscaped(),
                 QString::fromLatin1(qVersion()).toHtmlEscaped());

    QStringList paragraphs{licenceParagraph()};
    // Facts about the running program go below, one paragraph each.
    paragraphs << tr("PDF files are opened and drawn by up to %n sandboxed helper processes at "
                     "once (sandbox: %1).",
                     nullptr, bl::default_render_helpers())
                      .arg(QString::fromStdString(bl::sandbox_summary()).toHtmlEscaped());

    for (const QString& paragraph : paragraphs) {
        text += QStringLiteral("<p>") + paragraph + QStringLiteral("</p>");
    }
    QMessageBox::about(this, tr("About Brightleaf"), text);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (controller_.isRunning()) {
        QMessageBox prompt(
            QMessageBox::Question, tr("Conversion in progress"),
            tr("A conversion is still running. Stop it and quit? Pages already saved are kept."),
            QMessageBox::Yes | QMessageBox::No, this);
        prompt.setObjectName(QStringLiteral("quitPrompt"));
        prompt.setDefaultButton(QMessageBox::No);
        // A run that ends meanwhile leaves nothing to stop: the question goes, and
        // the window stays with the run's summary.
        connect(&controller_, &ConversionController::runFinished, &prompt, &QDialog::reject);
        if (prompt.exec() != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        controller_.cancel();
    }
    SettingsStore().save(settingsToSave());
    event->accept();
}

}  // namespace bl::desktop
