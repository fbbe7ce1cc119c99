#pragma once

#include <string>

// The seven entity replacements as plainly as they can be written, one whole-text pass each and
// in order: the model that DecodeEntities, which decodes in one pass, must agree with (tests and
// the fuzz target).
inline std::string SequentialDecode(std::string text) {
    static const char* const kSteps[][2] = {{"&amp;", "&"},   {"&lt;", "<"},     {"&gt;", ">"},
                                            {"&quot;", "\""}, {"&quote;", "\""}, {"&apos;", "'"},
                                            {"&amp;", "&"}};
    for (const auto& step : kSteps) {
        const std::string from = step[0];
        std::string out;
        size_t start = 0;
        for (size_t hit = text.find(from); hit != std::string::npos; hit = text.find(from, start)) {
            out.append(text, start, hit - start);
            out += step[1];
            start = hit + from.size();
        }
        out.append(text, start, std::string::npos);
        text.swap(out);
    }
    return text;
}
