// Reads one settings file as the program does at start, then what devices get from it; a file that
// loads must also be written back and read again with the same content.
#include "config/AppSettings.h"
#include "xml/EncodedXmlFile.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Settings files are read by name; the input is handed over as a file that lives in memory only.
int InputFile() {
    static const int fd = ::memfd_create("qopra-settings", MFD_CLOEXEC);
    return fd;
}

} // namespace

// As the settings are read: everything a person may have put in the file is kept.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration | pugi::parse_comments |
                                   pugi::parse_pi | pugi::parse_doctype | pugi::parse_ws_pcdata;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = InputFile();
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    AppSettings settings;
    if (settings.Load("/proc/self/fd/" + std::to_string(fd))) {
        for (const std::string& published : settings.GetPublishedPrinters()) {
            (void)settings.IsOffered(settings.ResolvePrinterName(published));
        }
    } else if (settings.LoadProblem().empty()) {
        std::abort();
    }

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    EncodedXmlFile file;
    if (!file.Parse(bytes, kParseOptions)) {
        return 0;
    }
    const std::optional<std::string> written = file.Serialize();
    EncodedXmlFile again;
    if (!written || !again.Parse(*written, kParseOptions)) {
        std::abort();
    }
    // The first reading folds line ends (a carriage return written as itself comes back as a line
    // feed); from the second writing on, the file stays as it is.
    const std::optional<std::string> rewritten = again.Serialize();
    EncodedXmlFile third;
    if (!rewritten || !third.Parse(*rewritten, kParseOptions)) {
        std::abort();
    }
    const std::optional<std::string> last = third.Serialize();
    if (!last || *last != *rewritten) {
        std::abort();
    }
    return 0;
}
