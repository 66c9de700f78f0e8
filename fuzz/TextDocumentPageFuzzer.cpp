// Turns any bytes into the page a plain-text document prints through, in a single-byte and a
// double-byte device code page: the page must be UTF-8, and no byte of the text may become markup.
#include "archive/TextDocumentPage.h"
#include "platform/CodePage.h"
#include "platform/TextEncoding.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    static const CodePage kWestern(1252);
    static const CodePage kJapanese(932);
    for (const CodePage* codePage : {&kWestern, &kJapanese}) {
        const std::string page = TextDocumentPage::Html(input, "a<b>&.txt", *codePage);
        if (TextEncoding::InvalidUtf8At(page)) {
            std::abort();
        }
        const std::size_t start = page.find("<pre>\n");
        const std::size_t end = page.rfind("</pre>");
        if (start == std::string::npos || end == std::string::npos || end < start ||
            page.find_first_of("<>", start + 6) != end ||
            page.find("a&lt;b&gt;&amp;.txt") == std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
