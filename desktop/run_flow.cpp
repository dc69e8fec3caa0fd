// The window's side of a conversion run: starting it, following it in the status
// row, its summary, the About box, and closing the window while it runs.
#include "desktop/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>

#include "bl/version.h"
#include "desktop/desktop_integration.h"
#include "desktop/settings_panel.h"

namespace bl::desktop {

QString MainWindow::summaryText(const RunSummary& summary) {
    QStringList parts;
    if (summary.converted > 0) {
        parts.append(summary.converted == 1 ? tr("1 file converted")
                                            : tr("%1 files converted").arg(summary.converted));
    }
    if (summary.partlyConverted > 0) {
        parts.append(tr("%1 partly converted").arg(summary.partlyConverted));
    }
    if (summary.failed > 0) {
        parts.append(tr("%1 failed").arg(summary.failed));
    }
    if (summary.skipped > 0) {
        parts.append(tr("%1 skipped").arg(summary.skipped));
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
    const RunView& run = runView_;
    // A busy bar until the file's first page report.
    progressBar_->setRange(0, run.pagesTotal < 0 ? 0 : std::max(run.pagesTotal, 1));
    progressBar_->setValue(run.pagesTotal < 0 ? 0 : run.pagesDone);
    progressBar_->show();
    const double fileShare =
        run.pagesTotal > 0 ? static_cast<double>(run.pagesDone) / run.pagesTotal : 0.0;
    const double fraction =
        run.fileCount > 0
            ? std::clamp((std::max(run.fileIndex, 0) + fileShare) / run.fileCount, 0.0, 1.0)
            : 0.0;
    setWindowTitle(
        tr("%1% \u2014 Brightleaf \u2014 PDF to JPG").arg(static_cast<int>(fraction * 100.0)));
    integration_->setProgress(fraction);
    statusLabel_->setText(runStatusText());
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

void MainWindow::showAbout() {
    const bl::VersionInfo versions = bl::version_info();
    QString text =
        tr("<p><b>Brightleaf</b> %1<br>This is a preview build, not for production use.</p>"
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

    // Installed from the package, the programs live in /usr/bin and the licence
    // texts in the package's copyright file.
    const QString packagedCopyright = QStringLiteral("/usr/share/doc/brightleaf/copyright");
    const bool besideTheProgram =
        QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/licenses")).isDir();
    const bool packaged = !besideTheProgram && QFileInfo::exists(packagedCopyright);
    QStringList paragraphs{
        packaged ? tr("The full licence texts are in %1.").arg(packagedCopyright.toHtmlEscaped())
                 : tr("The full licence texts are in the \u201Clicenses\u201D folder next to "
                      "the application.")};
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
        const QMessageBox::StandardButton answer = QMessageBox::question(
            this, tr("Conversion in progress"),
            tr("A conversion is still running. Stop it and quit? Pages already saved are kept."),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        controller_.cancel();
    }
    SettingsStore().save(settingsToSave());
    event->accept();
}

}  // namespace bl::desktop
