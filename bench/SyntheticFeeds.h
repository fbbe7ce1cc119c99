#pragma once

// The synthetic feeds of the benchmarks: documents of many items whose descriptions look like a
// blog's articles, the same for every program that measures a view of them.

#include <cstdio>
#include <string>

namespace bench {

inline const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
inline const char* const kWords[] = {"kernel",  "release", "community", "update",  "security", "notes",
                                     "browser", "desktop", "package",   "network", "review",   "weekly"};

// A news article's body as blogs publish it: paragraphs, links, a picture, a list.
inline std::string Description(int feed, int item) {
    std::string html;
    html += "<p>The <a href=\"https://example.org/" + std::to_string(feed) + "/" + std::to_string(item) +
            "\">latest " + kWords[item % 12] + "</a> brings changes to the " + kWords[(item + 3) % 12] +
            " and the " + kWords[(feed + item) % 12] + " that many readers asked for.</p>";
    html += "<p><img src=\"https://cdn.example.org/img/" + std::to_string(item) +
            ".jpg\" width=\"640\" height=\"360\" alt=\"screenshot\"></p>";
    for (int p = 0; p < 4; ++p) {
        html += "<p>";
        for (int w = 0; w < 30; ++w) {
            html += kWords[(feed * 7 + item * 3 + p * 5 + w) % 12];
            html += w % 9 == 8 ? ", " : " ";
        }
        html += "and <em>more</em> &mdash; see <a href=\"https://example.org/more\">details</a>.</p>";
    }
    html += "<ul><li>first point</li><li>second point</li><li>third point</li></ul>";
    return html;
}

// XML escaping for descriptions carried as escaped text rather than CDATA.
inline std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

// An RSS 2.0 document of items news items, newest first within each day; odd items carry their
// description as CDATA, even ones as escaped text.
inline std::string FeedDocument(int feed, int items) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
                      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n<title>Feed " +
                      std::to_string(feed) + "</title>\n<link>https://example.org/</link>\n";
    for (int item = 0; item < items; ++item) {
        const int day = 1 + (item + feed) % 28, hour = (item * 7) % 24, minute = (item * 13) % 60;
        char date[64];
        std::snprintf(date, sizeof date, "Mon, %02d %s 2026 %02d:%02d:%02d +0000", day,
                      kMonths[(item / 28) % 12], hour, minute, item % 60);
        doc += "<item>\n<title>" + std::string(kWords[item % 12]) + " news &amp; notes no. " +
               std::to_string(item) + "</title>\n<link>https://example.org/" + std::to_string(feed) + "/" +
               std::to_string(item) + "</link>\n<guid isPermaLink=\"false\">" +
               std::to_string(feed * 1000 + item) + "</guid>\n<pubDate>" + date +
               "</pubDate>\n<author>writer" + std::to_string(item % 5) + "@example.org</author>\n";
        if (item % 2)
            doc += "<description><![CDATA[" + Description(feed, item) + "]]></description>\n";
        else
            doc += "<description>" + Escape(Description(feed, item)) + "</description>\n";
        doc += "</item>\n";
    }
    return doc + "</channel>\n</rss>\n";
}

} // namespace bench
