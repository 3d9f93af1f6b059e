// How long the catalogue page takes to parse: the HTML parser alone and the link extraction with
// its guard, on realistic shop pages of 0.1, 1 and 5 MB and on the hostile shapes that make the
// parser's time grow with the square of the page (goal: every page that is accepted is read in
// well under a second; hostile pages are refused quickly).
//
// usage: bench_catalogue_parse [repeats]
#include <htmlcxx/html/ParserDom.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/result.h"
#include "orvixtool/web/link_extractor.h"
#include "sim/shop/catalogue.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// The shop stand-in's logged-in catalogue with enough product rows to reach `bytes`.
std::string RealisticPage(std::size_t bytes) {
    z31sim::ShopConfig cfg;
    std::size_t bare = z31sim::BuildCatalogue(cfg, true).html.size();
    cfg.product_rows = 1;
    std::size_t row = z31sim::BuildCatalogue(cfg, true).html.size() - bare;
    cfg.product_rows = bytes > bare ? (bytes - bare + row - 1) / row : 0;
    return z31sim::BuildCatalogue(cfg, true).html;
}

// The fastest of `repeats` runs, in milliseconds.
double Millis(int repeats, const std::function<void()>& run) {
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        auto start = Clock::now();
        run();
        best =
            std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

double ParserOnly(const std::string& page, int repeats) {
    return Millis(repeats, [&] {
        htmlcxx::HTML::ParserDom parser;
        parser.parseTree(page);
    });
}

// Runs the link extraction; reports its time and what it gave.
struct Outcome {
    double ms = 0;
    std::size_t links = 0;
    bool refused = false;
};

Outcome Extract(const std::string& page, int repeats) {
    Outcome out;
    out.ms = Millis(repeats, [&] {
        try {
            out.links = devod::ExtractLinks(page).size();
            out.refused = false;
        } catch (const devod::PageError&) {
            out.refused = true;
        }
    });
    return out;
}

Outcome Row(const char* shape, const std::string& page, int repeats, bool parser_too) {
    Outcome o = Extract(page, repeats);
    std::size_t tags = static_cast<std::size_t>(std::count(page.begin(), page.end(), '<'));
    char parser[32] = "-";
    if (parser_too) std::snprintf(parser, sizeof parser, "%.1f", ParserOnly(page, repeats));
    std::printf("%-44s %9zu %8zu %10s %10.1f  %s\n", shape, page.size(), tags, parser, o.ms,
                o.refused ? "refused" : (std::to_string(o.links) + " links").c_str());
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::printf("%-44s %9s %8s %10s %10s  %s\n", "page", "bytes", "'<'", "parser ms", "extract ms",
                "result");
    std::vector<std::pair<std::string, Outcome>> results;  // the realistic pages

    for (std::size_t kb : {100, 1000, 5000}) {
        std::string name = "realistic catalogue " + std::to_string(kb) + " KB";
        results.push_back(
            {"link extraction, " + std::to_string(kb / 1000.0).substr(0, 3) + " MB page",
             Row(name.c_str(), RealisticPage(kb * 1000), repeats, true)});
    }

    // Open tags followed by as many end tags that close none of them.
    for (std::size_t tags : {6000, 12000, 24000, 48000, 1000000}) {
        std::string name = std::to_string(tags) + " tags, half of them closing nothing";
        std::string page = Repeat("<b>", tags / 2) + Repeat("</i>", tags / 2);
        Row(name.c_str(), page, tags <= 24000 ? 1 : repeats, tags <= 24000);
    }
    // Deep nesting closed all at once by the outermost end tag.
    for (std::size_t depth : {3000, 10000, 30000}) {
        std::string name = std::to_string(depth) + " nested tags with text, closed at once";
        std::string page = "<div>" + Repeat("<b>x", depth) + "</div>";
        Row(name.c_str(), page, depth <= 10000 ? 1 : repeats, depth <= 10000);
    }

    // The worst pages still accepted: close to kMaxEndTagSteps steps in either shape, or at the
    // node cap.
    std::printf("worst accepted pages (budget %zu steps):\n", devod::kMaxEndTagSteps);
    double worst = 0;
    worst = std::max(worst, Row("10,000 open, 199 end tags closing nothing",
                                Repeat("<b>", 10000) + Repeat("</i>", 199), repeats, true)
                                .ms);
    worst = std::max(worst, Row("600,000 open (the node cap), 3 closing nothing",
                                Repeat("<b>", devod::kMaxNodes) + Repeat("</i>", 3), repeats, false)
                                .ms);
    // Past the node cap, refused as soon as it is reached.
    Row("2,500,000 open, 3 end tags closing nothing", Repeat("<b>", 2500000) + Repeat("</i>", 3),
        repeats, false);
    worst = std::max(worst, Row("1,990 nested tags, closed at once",
                                "<div>" + Repeat("<b>", 1990) + "</div>", repeats, true)
                                .ms);
    worst = std::max(worst, Row("1,400 nested tags with text, closed at once",
                                "<div>" + Repeat("<b>x", 1400) + "</div>", repeats, true)
                                .ms);
    bool met = worst < 1000;
    for (const auto& [name, outcome] : results) {
        const bool pass = !outcome.refused && outcome.ms < 1000;
        met = met && pass;
        bench::Result(name.c_str(), "< 1000 ms, accepted", pass, "%.1f ms%s", outcome.ms,
                      outcome.refused ? " (refused)" : "");
    }
    bench::Result("link extraction, worst accepted", "< 1000 ms", worst < 1000, "%.1f ms", worst);
    return met ? 0 : 1;
}
