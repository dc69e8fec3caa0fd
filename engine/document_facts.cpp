#include "engine/document_facts.h"

#include "engine/errors.h"

namespace bl {

ConvertError load_error(protocol::LoadStatus status, bool had_password) {
    switch (status) {
        case protocol::LoadStatus::Unreadable:
            return make_error(ErrorKind::InputUnreadable, "The input file could not be read.");
        case protocol::LoadStatus::Password:
            if (had_password) {
                return make_error(ErrorKind::WrongPassword, "The password is incorrect.");
            }
            return make_error(ErrorKind::PasswordRequired,
                              "This PDF is password-protected. Enter its password to convert it.");
        case protocol::LoadStatus::Security:
            return make_error(ErrorKind::UnsupportedEncryption,
                              "This PDF uses an unsupported encryption method.");
        case protocol::LoadStatus::Loaded:
        case protocol::LoadStatus::Damaged:
            break;
    }
    return damaged_error();
}

Result<DocumentInfo> document_info(protocol::Opened opened, std::uint64_t file_size,
                                   bool had_password, const ConvertLimits& limits) {
    if (opened.load != protocol::LoadStatus::Loaded) {
        return tl::unexpected(load_error(opened.load, had_password));
    }
    if (opened.page_count <= 0) {
        return fail(ErrorKind::NoPages, "The PDF contains no pages.");
    }
    if (opened.page_count > limits.max_pages) {
        return fail(ErrorKind::LimitExceeded, "The PDF has " + std::to_string(opened.page_count) +
                                                  " pages; the maximum allowed is " +
                                                  std::to_string(limits.max_pages) + ".");
    }
    // A helper that sends fewer sizes than pages is not to be believed.
    if (opened.page_sizes.size() != static_cast<std::size_t>(opened.page_count)) {
        return tl::unexpected(damaged_error());
    }
    DocumentInfo info;
    info.file_size = file_size;
    info.page_count = opened.page_count;
    info.pdf_version = opened.pdf_version;
    info.security_revision = opened.security_revision;
    info.encrypted = opened.security_revision >= 0;
    info.page_sizes = std::move(opened.page_sizes);
    return info;
}

}  // namespace bl
