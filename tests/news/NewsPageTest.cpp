#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "NewsTestSupport.h"
#include "news/NewsDates.h"

namespace {

class NewsPageTest : public ::testing::Test, protected TNewsFixtureBase {
protected:
    NewsPageTest() {
        ForceDirectories(Temp.File("template"));
        Temp.Write("template/top.html", "<top>");
        Temp.Write("template/item.html", "[{author}|{title}|{link}|{date}|{description}]");
        Temp.Write("template/bottom.html", "<bottom>");
        Feed = Feeds.Add("root", "Feed", "http://127.0.0.1/feed");
    }
    TNewsItem* Add(const std::string& title, const std::string& description = "", TDateTime date = 0) {
        TNewsItem* item = News->AddItem();
        item->Feed = Feed;
        item->Title = title;
        item->Description = description;
        item->Date = date;
        item->Link = "L";
        return item;
    }
    std::string Render(int filter = 5, bool pictures = true) {
        News->RenderPage(filter, FilterName(filter), pictures);
        return Temp.Read("gen.html");
    }
    std::string RenderError(const std::string& path) {
        try {
            Render();
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.Message(), "Cannot open file " + path);
            return Temp.Read("gen.html");
        }
        ADD_FAILURE() << "no error for a missing template";
        return "";
    }

    // The names in the program folder, sorted, separated by spaces.
    std::string FolderEntries() {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Temp.Path()))
            names.insert(entry.path().filename().string());
        std::string out;
        for (const std::string& name : names)
            out += (out.empty() ? "" : " ") + name;
        return out;
    }

    TFeedListItem* Feed;
};

TEST_F(NewsPageTest, PageIsTopItemsAndBottomEachEndedByCRLF) {
    EXPECT_EQ(News->PagePath, Temp.File("gen.html"));
    Add("One", "d1");
    Add("Two", "d2");
    EXPECT_EQ(Render(), "<top>\r\n"
                        "[Feed|One|L|Unable to decode the date|d1]\r\n"
                        "[Feed|Two|L|Unable to decode the date|d2]\r\n"
                        "<bottom>\r\n");
    // A dated item shows the date text of the news dates.
    News->ClearItems();
    Add("Dated", "", 40000.5);
    EXPECT_EQ(Render(), "<top>\r\n[Feed|Dated|L|" + FormatNewsDate(40000.5) + "|]\r\n<bottom>\r\n");
    // Each item shows its own date, also next to items of the same moment.
    Add("Same", "", 40000.5);
    Add("Later", "", 40001.25);
    Add("Undated");
    Add("Again", "", 40001.25);
    EXPECT_EQ(Render(), "<top>\r\n[Feed|Dated|L|" + FormatNewsDate(40000.5) + "|]\r\n[Feed|Same|L|" +
                            FormatNewsDate(40000.5) + "|]\r\n[Feed|Later|L|" + FormatNewsDate(40001.25) +
                            "|]\r\n[Feed|Undated|L|Unable to decode the date|]\r\n[Feed|Again|L|" +
                            FormatNewsDate(40001.25) + "|]\r\n<bottom>\r\n");
}

TEST_F(NewsPageTest, NoNewsLineNamesTheFilter) {
    EXPECT_EQ(Render(2), "<top>\r\nThere are no news for the selected filter (Last week)\r\n<bottom>\r\n");
    // An item older than the filter allows is left out; an undated one passes every filter.
    Add("Old", "", 2.0);
    EXPECT_EQ(Render(1), "<top>\r\nThere are no news for the selected filter (Last 2 days)\r\n<bottom>\r\n");
    Add("Undated");
    EXPECT_NE(Render(0).find("|Undated|"), std::string::npos);
}

TEST_F(NewsPageTest, LaterReplacementsSeeEarlierValuesButNotTheirOwn) {
    Temp.Write("template/item.html", "{title}/{title}/{Title}/{link}");
    TNewsItem* item = Add("T{link}{description}{title}", "<b>D</b>");
    item->Link = "http://x/{date}";
    // {title} inside the title stays (no rescan); {description} and {link} inside it are filled by
    // the later steps; the link's own {date} was put in after the date step and stays.
    EXPECT_EQ(Render(),
              "<top>\r\n"
              "Thttp://x/{date}<b>D</b>{title}/Thttp://x/{date}<b>D</b>{title}/{Title}/http://x/{date}\r\n"
              "<bottom>\r\n");
    News->ClearItems();
    Add("{author}");
    EXPECT_EQ(Render(), "<top>\r\n{author}/{author}/{Title}/L\r\n<bottom>\r\n");

    // A description is put in after the title: its {title} stays, its {date} and {link} are filled.
    Temp.Write("template/item.html", "{description}");
    News->ClearItems();
    Add("T", "<a>{title}|{date}|{link}");
    EXPECT_EQ(Render(), "<top>\r\n<a target=\"_blank\" >{title}|Unable to decode the date|L\r\n<bottom>\r\n");

    // Braces of the template around a value can make a placeholder for a later step too.
    Temp.Write("template/item.html", "{{title}}|{date}}");
    News->ClearItems();
    Add("link");
    EXPECT_EQ(Render(), "<top>\r\nL|Unable to decode the date}\r\n<bottom>\r\n");
}

TEST_F(NewsPageTest, AuthorFollowsTheFeedNameOnlyWhenAsked) {
    Temp.Write("template/item.html", "{author}");
    Add("x")->Author = " Ann ";
    Add("y")->Author = "   ";
    Add("z");
    EXPECT_EQ(Render(), "<top>\r\nFeed\r\nFeed\r\nFeed\r\n<bottom>\r\n");
    Feed->ShowAuthor = true;
    EXPECT_EQ(Render(), "<top>\r\nFeed:  Ann \r\nFeed\r\nFeed\r\n<bottom>\r\n");
}

TEST_F(NewsPageTest, DescriptionsOpenLinksOutsideAndCanHidePictures) {
    EXPECT_EQ(TNewsType::PrepareDescription("<A HREF=\"u\">x</A><abbr>y</abbr>", true),
              "<a target=\"_blank\"  HREF=\"u\">x</A><a target=\"_blank\" bbr>y</abbr>");
    EXPECT_EQ(TNewsType::PrepareDescription("<img SRC=\"p.png\"><img src='q'>", true),
              "<img SRC=\"p.png\"><img src='q'>");
    EXPECT_EQ(TNewsType::PrepareDescription("<img SRC=\"p.png\"><iframe Src=x>", false),
              "<img tempsrc=\"p.png\"><iframe tempsrc=x>");
    // One pass: text put in is not matched again.
    EXPECT_EQ(TNewsType::PrepareDescription("src=src=<a<a", false),
              "tempsrc=tempsrc=<a target=\"_blank\" <a target=\"_blank\" ");
    EXPECT_EQ(TNewsType::PrepareDescription("xsrc=1 SrC=2 src =3 <", false), "xtempsrc=1 tempsrc=2 src =3 <");
    EXPECT_EQ(TNewsType::PrepareDescription("x<a", false), "x<a target=\"_blank\" ");
    EXPECT_EQ(TNewsType::PrepareDescription("", false), "");
    EXPECT_EQ(TNewsType::PrepareDescription("no markup <", false), "no markup <");
}

TEST_F(NewsPageTest, TogglingPicturesTwiceGivesTheSamePage) {
    Add("t", "<p><a href=u><IMG SRC=p></a></p>");
    const std::string shown = Render(5, true);
    const std::string hidden = Render(5, false);
    EXPECT_NE(shown, hidden);
    EXPECT_NE(hidden.find("tempsrc=p"), std::string::npos);
    EXPECT_EQ(Render(5, true), shown);
    EXPECT_EQ(TNewsType::PrepareDescription("<IMG SRC=p>", true), "<IMG SRC=p>") << "items stay untreated";
}

TEST_F(NewsPageTest, MissingTemplatesStopTheRenderAtTheirStep) {
    Add("x");
    Temp.Write("gen.html", "previous page");
    DeleteFile(Temp.File("template/item.html"));
    EXPECT_EQ(RenderError(Temp.File("template/item.html")), "previous page");

    Temp.Write("template/item.html", "{title}");
    DeleteFile(Temp.File("template/top.html"));
    EXPECT_EQ(RenderError(Temp.File("template/top.html")), "");

    // Nothing of a longer previous page is left behind the part written.
    Temp.Write("template/top.html", "<top>");
    DeleteFile(Temp.File("template/bottom.html"));
    Temp.Write("gen.html", std::string(3 << 20, 'p'));
    EXPECT_EQ(RenderError(Temp.File("template/bottom.html")), "<top>\r\nx\r\n");

    EXPECT_EQ(FolderEntries(), "gen.html template") << "no temporary page is left behind";

    // Templates are read at every render.
    Temp.Write("template/bottom.html", "<new bottom>");
    EXPECT_EQ(Render(), "<top>\r\nx\r\n<new bottom>\r\n");
}

// A reader that opened the old page, as the view may have, still reads all of it: the new page
// takes its name in one step instead of being written over it.
TEST_F(NewsPageTest, NewPageReplacesTheOldOneWhole) {
    const std::string old = "<old page>" + std::string(1 << 16, 'o');
    Temp.Write("gen.html", old);
    std::ifstream reader(News->PagePath, std::ios::binary);
    Temp.Write("template/item.html", "{title}");
    Add("x");
    EXPECT_EQ(Render(), "<top>\r\nx\r\n<bottom>\r\n");
    News->WriteErrorPage("e");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), old);
    EXPECT_EQ(FolderEntries(), "gen.html template");
}

TEST_F(NewsPageTest, PageThatCannotBeWrittenIsReported) {
    ForceDirectories(News->PagePath); // a folder where the page should go
    try {
        Render();
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + News->PagePath);
    }
    EXPECT_THROW(News->WriteErrorPage("x"), EFCreateError);
    EXPECT_EQ(FolderEntries(), "gen.html template") << "no temporary page is left behind";
}

TEST_F(NewsPageTest, ErrorPageHasItsThreeLinesAndEscapesItsText) {
    Temp.Write("gen.html", "a much longer previous page than the error page");
    News->WriteErrorPage("The \"channel\" node is not found <b>");
    EXPECT_EQ(Temp.Read("gen.html"), "<html><body><font face=\"arial\" color=\"red\">\r\n"
                                     "Error: The &quot;channel&quot; node is not found &lt;b&gt;\r\n"
                                     "</font></body></html>\r\n");
    // Markup from a certificate name or an address shows as text; an entity already in the text
    // is escaped once more, so it shows as written; other bytes stay.
    News->WriteErrorPage("CN=<img src=x onerror=alert(1)>&amp; 'q' \xC3\xA9");
    EXPECT_EQ(Temp.Read("gen.html"), "<html><body><font face=\"arial\" color=\"red\">\r\n"
                                     "Error: CN=&lt;img src=x onerror=alert(1)&gt;&amp;amp; 'q' \xC3\xA9\r\n"
                                     "</font></body></html>\r\n");
}

TEST_F(NewsPageTest, ShippedTemplatesMakeAUTF8PageWithoutScripts) {
    const std::string folder = std::string(TOVEL_TEMPLATE_DIR) + "/";
    const std::string top = ReadFileToString(folder + "top.html");
    const std::string item = ReadFileToString(folder + "item.html");
    EXPECT_NE(top.find("charset=\"utf-8\""), std::string::npos);
    EXPECT_NE(top.find("Content-Security-Policy"), std::string::npos);
    EXPECT_NE(top.find("script-src 'none'"), std::string::npos);
    EXPECT_NE(top.find("object-src 'none'"), std::string::npos);
    for (const char* placeholder : {"{author}", "{title}", "{description}", "{date}", "{link}"})
        EXPECT_NE(item.find(placeholder), std::string::npos) << placeholder;

    for (const char* name : {"top.html", "item.html", "bottom.html"})
        Temp.Write(std::string("template/") + name, ReadFileToString(folder + name));
    Add("Shipped title", "<p>Body</p>");
    const std::string page = Render();
    EXPECT_NE(page.find("Shipped title"), std::string::npos);
    EXPECT_EQ(page.find("{title}"), std::string::npos);
    EXPECT_NE(page.find("</html>"), std::string::npos);
}

} // namespace
