// What the window's settings and a queued job come to as the engine's request,
// and the conversions between Qt's text and paths and the engine's.
#pragma once

#include <QString>

#include <filesystem>
#include <string>

#include "bl/convert_types.h"
#include "bl/job.h"
#include "bl/secret.h"

namespace bl::desktop {

struct Job;

// The options of a run, as the window collects them.
struct ConversionSettings {
    QString pages = QStringLiteral("all");
    double dpi = 150.0;
    int quality = 90;
    bl::Rgb background;
    QString nameTemplate = QString::fromUtf8(bl::kDefaultNamingTemplate);
    bl::ExistingFilePolicy onExists = bl::ExistingFilePolicy::Ask;
    bool createZip = false;
    bool annotations = true;
    bool formFields = true;
    QString outputFolder;
};

// The drawing and encoding options of `settings`.
bl::ImageOptions imageOptions(const ConversionSettings& settings);

// The request that converts `job` with `settings`, files that exist already
// handled by `policy`. The password, if any, travels on in the request.
bl::JobRequest jobRequest(const Job& job, const ConversionSettings& settings,
                          bl::ExistingFilePolicy policy, bl::Secret password);

// The text in UTF-8, written straight into the buffer the secret keeps, so that
// no other copy of it is left behind.
bl::Secret utf8Secret(const QString& text);

std::filesystem::path toEnginePath(const QString& path);
// With the platform's native separators.
QString fromEnginePath(const std::filesystem::path& path);
QString fromUtf8(const std::string& text);

}  // namespace bl::desktop
