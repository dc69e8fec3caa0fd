// A small PDF writer for test fixtures: just enough of the format to make
// documents with pages of any size, content streams, annotations and forms.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace bl::test {

struct PdfPage {
    double width = 612.0;  // points
    double height = 792.0;
    int rotate = 0;
    // Page content in PDF operators. The font /F1 (Helvetica) is always available.
    std::string content;
    // Extra entries for the page's /Resources dictionary, e.g. "/XObject << /X1 5 0 R >>".
    std::string extra_resources;
    // Annotation dictionaries, written as objects of their own and listed in /Annots.
    std::vector<std::string> annotations;
    // Objects added already (such as form fields the catalog lists), put in /Annots too.
    std::vector<int> annotation_objects;
    // Written instead of the generated page dictionary when set (for broken pages).
    std::optional<std::string> raw_dictionary;
};

// A page of the given size with no content.
PdfPage page_of_size(double width, double height, int rotate = 0);

class PdfWriter {
  public:
    explicit PdfWriter(std::string version = "1.7") : version_(std::move(version)) {}

    // Adds an object and returns its number, for references such as "5 0 R".
    int add_object(const std::string& body);
    // Adds a stream object with the given extra dictionary entries.
    int add_stream(const std::string& dictionary_entries, const std::string& data);
    // Adds a page; returns its 0-based index.
    int add_page(PdfPage page);
    // Overrides /Count of the page tree (for damaged documents).
    void set_page_count_override(int count) { count_override_ = count; }
    // Lists the pages this many times over in the page tree (for huge trees).
    void set_kids_repeat(int times) { kids_repeat_ = times; }
    // Extra entries for the catalog, e.g. "/AcroForm << /Fields [5 0 R] >>".
    void set_catalog_entries(std::string entries) { catalog_entries_ = std::move(entries); }
    // Junk written before the "%PDF-" header.
    void set_prefix(std::string prefix) { prefix_ = std::move(prefix); }

    // The whole file.
    std::string build() const;
    void write(const std::filesystem::path& path) const;

    // "n 0 R"
    static std::string ref(int object) { return std::to_string(object) + " 0 R"; }

  private:
    std::string version_;
    std::vector<std::string> objects_;  // object n is objects_[n - 1]
    std::vector<PdfPage> pages_;
    std::optional<int> count_override_;
    int kids_repeat_ = 1;
    std::string catalog_entries_;
    std::string prefix_;
};

// A document of `count` pages of the given size, each with a line of text.
std::string simple_pdf(int count, double width = 612.0, double height = 792.0);

// Writes `bytes` to `path`, creating folders as needed.
void write_file(const std::filesystem::path& path, const std::string& bytes);
std::string read_file(const std::filesystem::path& path);

// A fresh, empty folder for one test, removed by the destructor.
class TempDir {
  public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Encrypts `input` into `output` with qpdf. `bits` is 40 (RC4, revision 2), 128 with
// `aes` false (RC4, revision 3), 128 with `aes` true (AES, revision 4) or 256 (AES,
// revision 6). Returns false when qpdf fails.
bool qpdf_encrypt(const std::filesystem::path& input, const std::filesystem::path& output,
                  const std::string& user_password, const std::string& owner_password, int bits,
                  bool aes);

}  // namespace bl::test
