#include "desktop/job_request.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringEncoder>

#include <cstddef>
#include <utility>

#include "desktop/job_queue_model.h"

namespace bl::desktop {

bl::ImageOptions imageOptions(const ConversionSettings& settings) {
    bl::ImageOptions image;
    image.dpi = settings.dpi;
    image.jpeg_quality = settings.quality;
    image.background = settings.background;
    image.render_annotations = settings.annotations;
    image.render_form_fields = settings.formFields;
    return image;
}

bl::JobRequest jobRequest(const Job& job, const ConversionSettings& settings,
                          bl::ExistingFilePolicy policy, bl::Secret password) {
    bl::ConvertRequest request;
    request.input = toEnginePath(job.path);
    request.password = std::move(password);
    request.pages = settings.pages.toUtf8().toStdString();
    request.image = imageOptions(settings);
    request.output_folder = toEnginePath(settings.outputFolder);
    request.naming_template = settings.nameTemplate.toUtf8().toStdString();
    request.existing_files = policy;
    return bl::JobRequest{std::move(request), settings.createZip};
}

bl::Secret utf8Secret(const QString& text) {
    QStringEncoder encoder(QStringEncoder::Utf8);
    std::string bytes(static_cast<std::size_t>(encoder.requiredSpace(text.size())), '\0');
    const char* end = encoder.appendToBuffer(bytes.data(), text);
    bytes.resize(static_cast<std::size_t>(end - bytes.data()));
    return bl::Secret(std::move(bytes));
}

std::filesystem::path toEnginePath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString fromEnginePath(const std::filesystem::path& path) {
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path.native())));
}

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace bl::desktop
