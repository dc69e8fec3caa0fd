#include "tests/support/pdf_writer.h"

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace bl::test {

namespace {

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

PdfPage page_of_size(double width, double height, int rotate) {
    PdfPage page;
    page.width = width;
    page.height = height;
    page.rotate = rotate;
    return page;
}

int PdfWriter::add_object(const std::string& body) {
    objects_.push_back(body);
    return static_cast<int>(objects_.size());
}

int PdfWriter::add_stream(const std::string& dictionary_entries, const std::string& data) {
    return add_object("<< " + dictionary_entries + " /Length " + std::to_string(data.size()) +
                      " >>\nstream\n" + data + "\nendstream");
}

int PdfWriter::add_page(PdfPage page) {
    pages_.push_back(std::move(page));
    return static_cast<int>(pages_.size()) - 1;
}

std::string PdfWriter::build() const {
    std::vector<std::string> all = objects_;
    const int catalog = static_cast<int>(all.size()) + 1;
    const int tree = catalog + 1;
    const int font = catalog + 2;
    all.resize(static_cast<std::size_t>(font));

    std::string kids;
    for (const PdfPage& page : pages_) {
        const int page_object = static_cast<int>(all.size()) + 1;
        const int content_object = page_object + 1;
        all.emplace_back();  // the page, filled below
        all.push_back("<< /Length " + std::to_string(page.content.size()) + " >>\nstream\n" +
                      page.content + "\nendstream");
        std::string annots;
        for (const std::string& annotation : page.annotations) {
            all.push_back(annotation);
            annots += ref(static_cast<int>(all.size())) + " ";
        }
        for (const int object : page.annotation_objects) {
            annots += ref(object) + " ";
        }
        std::string dictionary;
        if (page.raw_dictionary) {
            dictionary = *page.raw_dictionary;
            replace_all(dictionary, "@PARENT@", ref(tree));
        } else {
            dictionary = "<< /Type /Page /Parent " + ref(tree) + " /MediaBox [0 0 " +
                         number(page.width) + " " + number(page.height) + "]";
            if (page.rotate != 0) {
                dictionary += " /Rotate " + std::to_string(page.rotate);
            }
            dictionary += " /Resources << /Font << /F1 " + ref(font) + " >> " +
                          page.extra_resources + " >> /Contents " + ref(content_object);
            if (!annots.empty()) {
                dictionary += " /Annots [" + annots + "]";
            }
            dictionary += " >>";
        }
        all[static_cast<std::size_t>(page_object - 1)] = dictionary;
        kids += ref(page_object) + " ";
    }

    std::string listed;
    listed.reserve(kids.size() * static_cast<std::size_t>(kids_repeat_));
    for (int i = 0; i < kids_repeat_; ++i) {
        listed += kids;
    }
    const int count = count_override_ ? *count_override_ : static_cast<int>(pages_.size());
    all[static_cast<std::size_t>(catalog - 1)] =
        "<< /Type /Catalog /Pages " + ref(tree) + " " + catalog_entries_ + " >>";
    all[static_cast<std::size_t>(tree - 1)] =
        "<< /Type /Pages /Kids [" + listed + "] /Count " + std::to_string(count) + " >>";
    all[static_cast<std::size_t>(font - 1)] =
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";

    std::string out = prefix_ + "%PDF-" + version_ + "\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    offsets.reserve(all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        offsets.push_back(out.size() - prefix_.size());
        out += std::to_string(i + 1) + " 0 obj\n" + all[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size() - prefix_.size();
    out += "xref\n0 " + std::to_string(all.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(all.size() + 1) + " /Root " + ref(catalog) +
           " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

void PdfWriter::write(const std::filesystem::path& path) const {
    write_file(path, build());
}

std::string simple_pdf(int count, double width, double height) {
    PdfWriter writer;
    for (int i = 0; i < count; ++i) {
        PdfPage page;
        page.width = width;
        page.height = height;
        page.content = "BT /F1 24 Tf 72 " + number(height - 96) + " Td (Page " +
                       std::to_string(i + 1) + ") Tj ET";
        writer.add_page(std::move(page));
    }
    return writer.build();
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bl-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder in " + pattern);
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(path_, ignored);
}

bool qpdf_encrypt(const std::filesystem::path& input, const std::filesystem::path& output,
                  const std::string& user_password, const std::string& owner_password, int bits,
                  bool aes) {
    std::string command = "qpdf --allow-weak-crypto --encrypt '" + user_password + "' '" +
                          owner_password + "' " + std::to_string(bits);
    if (bits == 128) {
        command += aes ? " --use-aes=y" : " --use-aes=n";
    }
    command += " -- '" + input.string() + "' '" + output.string() + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    // qpdf exits with 3 when it only warned.
    return status != -1 && WIFEXITED(status) &&
           (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3);
}

}  // namespace bl::test
