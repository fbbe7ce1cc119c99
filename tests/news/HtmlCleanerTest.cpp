#include "news/HtmlCleaner.h"

#include <gtest/gtest.h>

#include <string>

#include "HtmlAllowlist.h"

namespace {

const std::string kBase = "https://blog.example/2024/post.html";

std::string Clean(const std::string& html, bool pictures = false, const std::string& base = kBase) {
    return CleanDescriptionHtml(html, base, pictures);
}

// The cleaned text holds nothing outside the allowlist and cleans to itself.
void ExpectSafeAndStable(const std::string& html, const std::string& base = kBase) {
    for (const bool pictures : {false, true}) {
        const std::string once = CleanDescriptionHtml(html, base, pictures);
        EXPECT_EQ(htmlcheck::FindOutsideAllowlist(once, pictures), "") << html << "\n -> " << once;
        EXPECT_EQ(CleanDescriptionHtml(once, base, pictures), once) << html;
    }
}

TEST(HtmlCleanerTest, ActiveContentGoesWithWhatItHolds) {
    EXPECT_EQ(Clean("a<script>alert(1)</script>b<style>body{display:none}</style>c"), "abc");
    EXPECT_EQ(Clean("<iframe src=\"https://x.example/\">inner</iframe><object data=x>o</object>"
                    "<embed src=x><form action=x><label>f</label></form>"),
              "");
    EXPECT_EQ(Clean("<svg><script>alert(1)</script><a href=x>s</a></svg><math><mi>m</mi></math>t"), "t");
    EXPECT_EQ(Clean("<noscript><img src=x></noscript><template><b>t</b></template><link rel=stylesheet "
                    "href=x><meta http-equiv=refresh content=0><base href=http://evil/>end"),
              "end");
    // A script the tokenizer reads inside an attribute or comment is no element at all.
    EXPECT_EQ(Clean("<p title=\"<script>x</script>\">p</p><!-- <script>y</script> -->"),
              "<p title=\"&lt;script&gt;x&lt;/script&gt;\">p</p>");
}

TEST(HtmlCleanerTest, HandlersStylesAndNamesAreDropped) {
    EXPECT_EQ(Clean("<p onclick=\"x()\" style=\"position:fixed\" id=i class=c data-x=1 title='t'>p</p>"),
              "<p title=\"t\">p</p>");
    EXPECT_EQ(
        Clean("<IMG SRC = \"https://p.example/a.png\" onerror=alert(1) STYLE=x alt=\"A &amp; B\">", true),
        "<img src=\"https://p.example/a.png\" alt=\"A &amp; B\">");
    EXPECT_EQ(Clean("<td colspan=2>x</td><table><tr><td colspan=2 rowspan=3 width=5>c</td></tr></table>"),
              "x<table><tbody><tr><td colspan=\"2\" rowspan=\"3\" width=\"5\">c</td></tr></tbody></table>");
}

TEST(HtmlCleanerTest, LinksKeepOnlyWebAndMailAddresses) {
    const std::string open = " target=\"_blank\" rel=\"noopener noreferrer\">";
    EXPECT_EQ(Clean("<a href=\"https://ok.example/?a=1&amp;b=2\">x</a>"),
              "<a href=\"https://ok.example/?a=1&amp;b=2\"" + open + "x</a>");
    EXPECT_EQ(Clean("<a href=mailto:ann@ok.example>m</a>"),
              "<a href=\"mailto:ann@ok.example\"" + open + "m</a>");
    for (const char* bad :
         {"javascript:alert(1)", "JaVaScRiPt:alert(1)", " javascript:alert(1)", "java&#9;script:alert(1)",
          "java&#10;script:alert(1)", "&#106;avascript:alert(1)", "javascript&colon;alert(1)",
          "data:text/html,<script>x</script>", "vbscript:x", "file:///etc/passwd", "&#1;javascript:alert(1)"})
        EXPECT_EQ(Clean(std::string("<a href=\"") + bad + "\">x</a>"), "<a" + open + "x</a>") << bad;
    // The attribute stays inside its quotes whatever the address holds.
    EXPECT_EQ(Clean("<a href='https://ok.example/\" onmouseover=\"alert(1)'>x</a>"),
              "<a href=\"https://ok.example/&quot; onmouseover=&quot;alert(1)\"" + open + "x</a>");
    // A target of the feed's own is replaced by the page's.
    EXPECT_EQ(Clean("<A HREF=\"https://ok.example/\" TARGET=_self REL=opener>y</A>"),
              "<a href=\"https://ok.example/\"" + open + "y</a>");
}

TEST(HtmlCleanerTest, RelativeAddressesBecomeAbsolute) {
    const std::string open = " target=\"_blank\" rel=\"noopener noreferrer\">";
    EXPECT_EQ(Clean("<a href=next.html>n</a>"),
              "<a href=\"https://blog.example/2024/next.html\"" + open + "n</a>");
    EXPECT_EQ(Clean("<a href=/about>n</a>"), "<a href=\"https://blog.example/about\"" + open + "n</a>");
    EXPECT_EQ(Clean("<a href=//cdn.example/x>n</a>"), "<a href=\"https://cdn.example/x\"" + open + "n</a>");
    EXPECT_EQ(Clean("<a href=#part>n</a>"),
              "<a href=\"https://blog.example/2024/post.html#part\"" + open + "n</a>");
    EXPECT_EQ(Clean("<img src=../pic.png>", true), "<img src=\"https://blog.example/pic.png\">");
    EXPECT_EQ(Clean("<blockquote cite=/source>q</blockquote>"),
              "<blockquote cite=\"https://blog.example/source\">q</blockquote>");
    // Without a web address to resolve against, a relative address is left out.
    EXPECT_EQ(Clean("<a href=next.html>n</a><img src=p.png>", true, ""), "<a" + open + "n</a>");
    EXPECT_EQ(Clean("<a href=next.html>n</a>", false, "file:///home/feed.xml"), "<a" + open + "n</a>");
}

TEST(HtmlCleanerTest, WithoutPicturesNothingIsLoaded) {
    const std::string html =
        "<img src=https://p.example/a.png><IMG SRC =https://p.example/b.png>"
        "<img srcset=\"https://p.example/c.png 2x\"><picture><source "
        "srcset=https://p.example/d.webp><img src=https://p.example/d.png></picture>"
        "<video poster=https://p.example/poster.png></video><image src=https://p.example/e>"
        "<input type=image src=https://p.example/f><table background=https://p.example/g>"
        "</table>";
    const std::string hidden = Clean(html, false);
    EXPECT_EQ(hidden, "<table></table>");
    const std::string shown = Clean(html, true);
    EXPECT_EQ(shown, "<img src=\"https://p.example/a.png\"><img src=\"https://p.example/b.png\">"
                     "<img src=\"https://p.example/d.png\"><img src=\"https://p.example/e\"><table></table>");
    EXPECT_EQ(shown.find("srcset"), std::string::npos);
    EXPECT_EQ(Clean("<img src=javascript:x><img src=data:image/png;base64,AA==><img>", true), "");
}

TEST(HtmlCleanerTest, VideoAndAudioBecomeLinksToTheirMedia) {
    const std::string open = " target=\"_blank\" rel=\"noopener noreferrer\">";
    EXPECT_EQ(Clean("<video src=movie.mp4 poster=p.png autoplay>Your reader cannot play it</video>"),
              "<a href=\"https://blog.example/2024/movie.mp4\"" + open + "Video</a>");
    EXPECT_EQ(Clean("<audio controls><source src=javascript:x><source src=https://m.example/a.ogg></audio>"),
              "<a href=\"https://m.example/a.ogg\"" + open + "Audio</a>");
    EXPECT_EQ(Clean("<audio><source src=data:x></audio>"), "");
    // Inside a link it stays a word.
    EXPECT_EQ(Clean("<a href=https://ok.example/><video src=https://m.example/v></video></a>"),
              "<a href=\"https://ok.example/\"" + open + "Video</a>");
}

TEST(HtmlCleanerTest, ElementsThatBeginLikeOthersAreReadWhole) {
    // A text scan for "<a" took these for links.
    EXPECT_EQ(Clean("<abbr title=\"HyperText\">HTML</abbr> <aside>side</aside> <address>addr</address>"
                    "<map><area href=https://x.example/ alt=a></map>"),
              "<abbr title=\"HyperText\">HTML</abbr> side addr");
    EXPECT_EQ(Clean("<ARTICLE><H2>t</H2><P>x<BR>y</P></ARTICLE><custom-tag>z</custom-tag>"),
              "<h2>t</h2><p>x<br>y</p>z");
    EXPECT_EQ(Clean("<pre>\ncode</pre><pre>\n\nline</pre>"), "<pre>\ncode</pre><pre>\n\nline</pre>");
}

TEST(HtmlCleanerTest, MisnestedMarkupIsWrittenAsTheBrowserReadsIt) {
    EXPECT_EQ(Clean("<b>bold<p>para</b>tail</p>"), "<b>bold</b><p><b>para</b>tail</p>");
    EXPECT_EQ(Clean("<p>one<p>two<div>three</div>"), "<p>one</p><p>two</p><div>three</div>");
    EXPECT_EQ(Clean("<ul><li>a<li>b</ul>text & < > \" '"),
              "<ul><li>a</li><li>b</li></ul>text &amp; &lt; &gt; &quot; &#39;");
    // Parents the parser would close around a child, once theirs are gone, give way instead.
    EXPECT_EQ(Clean("<p>a<button><p>b</p></button></p>"), "<p>ab</p>");
    EXPECT_EQ(Clean("<li>a<marquee><li>b</li></marquee></li>"), "<li>ab</li>");
    EXPECT_EQ(Clean("<p><applet><table><tr><td>c</td></tr></table></applet></p>"), "<p>c</p>");
    for (const char* html :
         {"<a href=/a>1<table><tr><td><a href=/b>2</a></td></tr></table></a>",
          "<table><caption><p>c</caption><tr><th>h<td>d</table>", "<dl><dt>t<dd>d<dt>u</dl>",
          "<h1>a<h2>b</h2></h1>", "<b><i>x</b>y</i>", "<table><colgroup><col></colgroup>x</table>",
          "<p><font><p>x", "<li><nobr><li>y", "<select><option>o</select>",
          "<a href=/1><div><a href=/2>x</a></div></a>", "<table><tr><td>a</td>b</tr></table>",
          "<dd><object><dt>x</object>", "<pre>\r\nx</pre>", "<q cite=/c><del datetime=d>x",
          "a&#3;b&#13;c&#x9F;d&#xFDD0;<p title=\"&#1;&#13;\">e</p>", "<a href=\"/\xC3\xA9\x80\">x</a>",
          "&#711111111111111111111111111111111cs \xC3(\xED\xA0\x80\xF4\x90\x80\x80"})
        ExpectSafeAndStable(html);
}

TEST(HtmlCleanerTest, DeepNestingIsCutNotParsedWhole) {
    for (const std::string unit :
         {"<div>", "<b>", "<span><div></span>", "<div title=\"</div>\">", "<div><!--</div>-->",
          "<b id=x><p>x</b>", "<svg><tr>", "<div><script><!--<script></script></div>",
          "<div a\"b=\"</div>\">", "<table><td>"}) {
        std::string html;
        for (int i = 0; i < 300000 && html.size() < (4u << 20); ++i)
            html += unit;
        const std::string cleaned = Clean(html);
        size_t depth = 0;
        EXPECT_EQ(htmlcheck::FindOutsideAllowlist(cleaned, false, false, &depth), "") << unit;
        EXPECT_LE(depth, detail::kMaxNesting) << unit;
        EXPECT_EQ(Clean(cleaned), cleaned) << unit;
        // What the parser gets nests no deeper than the count allows.
        const std::string_view given(html.data(), detail::NestingCut(html, 50));
        htmlcheck::FindOutsideAllowlist(given, true, false, &depth);
        EXPECT_LE(depth, 2 * 50u + 2) << unit;
    }
    // Elements that close themselves do not count, nor do voids.
    std::string flat;
    for (int i = 0; i < 5000; ++i)
        flat += "<p>x<br>y<img "
                "src=p><hr><ul><li>a<li>b</ul><dl><dt>c<dd>d</dl><table><tr><td>e<td>f<tr><td>g</table>";
    EXPECT_EQ(detail::NestingCut(flat, 20), flat.size());
}

TEST(HtmlCleanerTest, LongDescriptionsAreCutAndStayStable) {
    const std::string html = "<p>" + std::string(5u << 20, 'x') + "</p><b>after</b>";
    const std::string cleaned = Clean(html);
    EXPECT_LE(cleaned.size(), detail::kMaxCleanedInput);
    EXPECT_EQ(cleaned.substr(0, 4), "<p>x");
    EXPECT_EQ(cleaned.substr(cleaned.size() - 5), "x</p>");
    EXPECT_EQ(Clean(cleaned), cleaned);
    // Text that grows when escaped is cut between entities.
    const std::string amps = Clean(std::string(2u << 20, '&') + "\xC3\xA9");
    EXPECT_EQ(amps.substr(amps.size() - 5), "&amp;");
    EXPECT_EQ(Clean(amps), amps);
}

TEST(HtmlCleanerTest, TitlesKeepInlineMarkupOnly) {
    EXPECT_EQ(CleanTitleHtml("<b>Bold</b> &amp; <i onclick=x>it</i>"), "<b>Bold</b> &amp; <i>it</i>");
    EXPECT_EQ(CleanTitleHtml("<a href=https://x.example/>link</a><h1>head</h1><img src=x><div>d</div>"),
              "linkheadd");
    EXPECT_EQ(CleanTitleHtml("a<script>x</script><style>y</style>b \"q\" {description}"),
              "ab &quot;q&quot; {description}");
    EXPECT_EQ(CleanTitleHtml("<span class=c style=s>s</span><code>c</code><sub>1</sub><sup>2</sup>"),
              "<span>s</span><code>c</code><sub>1</sub><sup>2</sup>");
    EXPECT_EQ(htmlcheck::FindOutsideAllowlist(CleanTitleHtml("<em><a href=x>y</a><p>z"), false, true), "");
}

TEST(HtmlCleanerTest, PageAddresses) {
    EXPECT_EQ(SafePageURL(" https://x.example/a b ", "", false), "https://x.example/a b");
    EXPECT_EQ(SafePageURL("https://x.example/Stra\xC3\x9F"
                          "e",
                          "", false),
              "https://x.example/Stra%C3%9Fe");
    EXPECT_EQ(SafePageURL("mailto:a@b", "", true), "mailto:a@b");
    EXPECT_EQ(SafePageURL("mailto:a@b", "", false), "");
    EXPECT_EQ(SafePageURL("java\nscript:x", "https://h/", true), "");
    EXPECT_EQ(SafePageURL("x", "https://h/d/", true), "https://h/d/x");
    EXPECT_EQ(SafePageURL("x", "", true), "");
    EXPECT_EQ(SafePageURL("https://h/\x01x", "", true), "");
    EXPECT_EQ(EscapeHtml("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
}

} // namespace
