// The shop's catalogue page: the link extraction over the HTML parser, whose tokenizer is
// compiled into this target with coverage (a template of its headers). Pages beyond the guard are
// refused with a PageError; every link found is text of the page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "orvixtool/web/link_extractor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string page(reinterpret_cast<const char*>(data), size);
    try {
        const devod::LinkList links = devod::ExtractLinks(page);
        for (const devod::LinkEntry& link : links) {
            if (link.text.size() > page.size() || link.href.size() > page.size()) std::abort();
        }
    } catch (const devod::PageError&) {
    }
    return 0;
}
