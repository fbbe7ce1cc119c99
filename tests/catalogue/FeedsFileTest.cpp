#include "catalogue/FeedsFileInternal.h"

#include <clocale>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <locale>

#include "TempDir.h"
#include "platform/Files.h"

using namespace detail;

namespace {

const std::string kExample = "object TFeedList\r\n"
                             "  Items = <\r\n"
                             "    item\r\n"
                             "      FeedName = 'News'\r\n"
                             "      FeedID = '0F8FAD5B-D9CB-469F-A165-70867728950E'\r\n"
                             "      ParentID = 'root'\r\n"
                             "      AggInclude = False\r\n"
                             "      ShowAuthor = False\r\n"
                             "    end\r\n"
                             "    item\r\n"
                             "      FeedName = 'Bob'#39's notes'\r\n"
                             "      FeedURL = 'http://127.0.0.1/bob/rss.xml'\r\n"
                             "      FeedID = '7C9E6679-B425-40DE-944B-E07FC1F90AE7'\r\n"
                             "      ParentID = '0F8FAD5B-D9CB-469F-A165-70867728950E'\r\n"
                             "      AggInclude = True\r\n"
                             "      ShowAuthor = False\r\n"
                             "      RefreshDate = 38765.4940162037\r\n"
                             "      LastModifiedDate = 38765.3333333333\r\n"
                             "    end>\r\n"
                             "end\r\n";

TFeedEntries ExampleEntries() {
    TFeedEntries items;
    auto folder = std::make_unique<TFeedListItem>();
    folder->FeedName = "News";
    folder->FeedID = "0F8FAD5B-D9CB-469F-A165-70867728950E";
    folder->ParentID = "root";
    auto feed = std::make_unique<TFeedListItem>();
    feed->FeedName = "Bob's notes";
    feed->FeedURL = "http://127.0.0.1/bob/rss.xml";
    feed->FeedID = "7C9E6679-B425-40DE-944B-E07FC1F90AE7";
    feed->ParentID = folder->FeedID;
    feed->AggInclude = true;
    feed->RefreshDate = 38765.4940162037;
    feed->LastModifiedDate = 38765.3333333333;
    items.push_back(std::move(folder));
    items.push_back(std::move(feed));
    return items;
}

void ExpectSameEntries(const TFeedEntries& a, const TFeedEntries& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(a[i]->FeedName, b[i]->FeedName);
        EXPECT_EQ(a[i]->FeedURL, b[i]->FeedURL);
        EXPECT_EQ(a[i]->FeedID, b[i]->FeedID);
        EXPECT_EQ(a[i]->ParentID, b[i]->ParentID);
        EXPECT_EQ(a[i]->AggInclude, b[i]->AggInclude);
        EXPECT_EQ(a[i]->ShowAuthor, b[i]->ShowAuthor);
        EXPECT_EQ(a[i]->RefreshDate, b[i]->RefreshDate);
        EXPECT_EQ(a[i]->LastModifiedDate, b[i]->LastModifiedDate);
    }
}

// One entry file around the given property lines.
std::string OneItem(const std::string& properties) {
    return "object TFeedList\r\n  Items = <\r\n    item\r\n" + properties + "    end>\r\nend\r\n";
}

void ExpectCorrupted(const std::string& text) {
    try {
        ParseFeedsText(text);
        ADD_FAILURE() << "accepted: " << text;
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "The feeds file is corrupted") << text;
    }
}

TEST(FeedsFile, ExampleIsWrittenByteForByteAndReadBack) {
    const TFeedEntries items = ExampleEntries();
    EXPECT_EQ(FeedsFileText(items), kExample);
    ExpectSameEntries(ParseFeedsText(kExample), items);

    TempDir dir;
    {
        TFeedList list(dir.File("feeds.data"));
        list.Items = ExampleEntries();
        list.Save();
        EXPECT_EQ(dir.Read("feeds.data"), kExample);
    }
    TFeedList reloaded(dir.File("feeds.data"));
    ExpectSameEntries(reloaded.Items, items);
}

TEST(FeedsFile, EmptyCatalogueIsThreeLines) {
    EXPECT_EQ(FeedsFileText({}), "object TFeedList\r\n  Items = <>\r\nend\r\n");
    EXPECT_TRUE(ParseFeedsText("object TFeedList\r\n  Items = <>\r\nend\r\n").empty());
}

TEST(FeedsFile, StringPieces) {
    const std::string indent = "        ";
    EXPECT_EQ(FeedsStringText("", indent), "''");
    EXPECT_EQ(FeedsStringText("Bob's", indent), "'Bob'#39's'");
    EXPECT_EQ(FeedsStringText("\tTab", indent), "#9'Tab'");
    EXPECT_EQ(FeedsStringText(std::string("a\0b", 3), indent), "'a'#0'b'");
    EXPECT_EQ(FeedsStringText("caf\xE9", indent), "'caf\xE9'");
    EXPECT_EQ(FeedsStringText(std::string(64, 'x'), indent), "'" + std::string(64, 'x') + "'");
}

TEST(FeedsFile, LongStringsAreCutInto64CharacterLines) {
    const std::string indent = "        ";
    std::string url100;
    for (int i = 0; i < 100; ++i)
        url100 += static_cast<char>('a' + i % 26);
    EXPECT_EQ(FeedsStringText(url100, indent), "\r\n" + indent + "'" + url100.substr(0, 64) + "' +\r\n" +
                                                   indent + "'" + url100.substr(64) + "'");

    const std::string s150(150, 'p');
    EXPECT_EQ(FeedsStringText(s150, indent), "\r\n" + indent + "'" + std::string(64, 'p') + "' +\r\n" +
                                                 indent + "'" + std::string(64, 'p') + "' +\r\n" + indent +
                                                 "'" + std::string(22, 'p') + "'");

    // Codes count as one character each towards the 64.
    const std::string mixed = std::string(63, 'a') + "\t" + "bc";
    EXPECT_EQ(FeedsStringText(mixed, indent),
              "\r\n" + indent + "'" + std::string(63, 'a') + "'#9 +\r\n" + indent + "'bc'");

    // In a whole file the continuation lines sit one level deeper than the property line.
    TFeedEntries items;
    items.push_back(std::make_unique<TFeedListItem>());
    items[0]->FeedURL = url100;
    EXPECT_EQ(FeedsFileText(items),
              OneItem("      FeedURL = \r\n        '" + url100.substr(0, 64) + "' +\r\n        '" +
                      url100.substr(64) + "'\r\n      AggInclude = False\r\n      ShowAuthor = False\r\n"));
}

TEST(FeedsFile, NumberForms) {
    const struct {
        double Value;
        const char* Text;
    } cases[] = {
        {38765, "38765"},     {38765.5, "38765.5"}, {38765 + 1.0 / 3, "38765.3333333333"},
        {-1.25, "-1.25"},     {0.1, "0.1"},         {0.0001, "0.0001"},
        {0.000015, "1.5E-5"}, {0.00001, "1E-5"},    {123456789012345, "123456789012345"},
        {1e15, "1E15"},       {-2.5e20, "-2.5E20"}, {999999999999999.9, "1E15"},
        {0.5, "0.5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FeedsNumberText(c.Value), c.Text) << c.Value;
}

// Dates go through "." also where the user's settings use a comma.
TEST(FeedsFile, NumbersIgnoreACommaLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh generates it)";
    const std::locale savedGlobal = std::locale::global(std::locale("de_DE.UTF-8"));
    EXPECT_EQ(*std::localeconv()->decimal_point, ',');

    const std::string text = FeedsFileText(ExampleEntries());
    const TFeedEntries back = ParseFeedsText(text);

    std::locale::global(savedGlobal);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text, kExample);
    ExpectSameEntries(back, ExampleEntries());
}

TEST(FeedsFile, ReaderAcceptsFreeLayoutAndTheWholeSyntax) {
    const TFeedEntries expected = ExampleEntries();
    // Joined onto one line, capitals, other indentation.
    std::string joined = kExample;
    for (char& c : joined)
        if (c == '\r' || c == '\n')
            c = ' ';
    ExpectSameEntries(ParseFeedsText(joined), expected);
    ExpectSameEntries(
        ParseFeedsText(
            "OBJECT TFeedList ITEMS = < ITEM FEEDNAME = 'News' FEEDID = "
            "'0F8FAD5B-D9CB-469F-A165-70867728950E'\tPARENTID='root' AGGINCLUDE=FALSE "
            "SHOWAUTHOR=false END\n\n\n\t\tItem FeedName='Bob''s '+\r\n 'notes' FeedURL=#104'ttp://'+"
            "'127.0.0.1/bob/rss.xml' FeedID='7C9E6679-B425-40DE-944B-E07FC1F90AE7' ParentID = "
            "'0F8FAD5B-D9CB-469F-A165-70867728950E' AggInclude=TRUE RefreshDate=3.87654940162037e4 "
            "LastModifiedDate = 387653333333333e-10 End> END"),
        expected);

    // Header variants, indexes, whole-number dates, repeated properties, text after the end.
    const TFeedEntries items = ParseFeedsText("inherited Form1: TFeedList [2]\n Items = < item [0]"
                                              " RefreshDate = 38765 FeedName = 'a' FeedName = 'b' end\n"
                                              " item end > end trailing 'garbage");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->RefreshDate, 38765);
    EXPECT_EQ(items[0]->FeedName, "b");
    EXPECT_EQ(items[1]->FeedName, "");

    // A second "Items" replaces the first.
    EXPECT_EQ(ParseFeedsText("object X Items = < item end item end > Items = < item end > end").size(), 1u);
}

TEST(FeedsFile, ReaderRejectsWhatItCannotUnderstand) {
    const char* const broken[] = {
        "",
        " \r\n\t",
        "TFeedList Items = <> end",
        "object Items = <> end",
        "object TFeedList Items = <>",
        "object TFeedList Other = 1 end",
        "object TFeedList Items = 5 end",
        "object TFeedList Items = < item end end",
        "object TFeedList Items = < item FeedName = 'x' > end",
        "object TFeedList Items = < object end > end",
        "object TFeedList Items = < item object T end end > end",
        "object TFeedList Items = < item Feed = 'x' end > end",
        "object TFeedList Items = < item FeedName 'x' end > end",
        "object TFeedList Items = < item FeedName = True end > end",
        "object TFeedList Items = < item FeedName = 'a' + end > end",
        "object TFeedList Items = < item FeedName = 'a\r\nb' end > end",
        "object TFeedList Items = < item FeedName = 'open end > end",
        "object TFeedList Items = < item FeedName = #256 end > end",
        "object TFeedList Items = < item FeedName = # end > end",
        "object TFeedList Items = < item AggInclude = 1 end > end",
        "object TFeedList Items = < item AggInclude = Yes end > end",
        "object TFeedList Items = < item RefreshDate = 'x' end > end",
        "object TFeedList Items = < item RefreshDate = - end > end",
        "object TFeedList Items = < item RefreshDate = 1e end > end",
        "object TFeedList Items = < item RefreshDate = 1e999 end > end",
        "object TFeedList Items = < item RefreshDate = +1 end > end",
        "object TFeedList Items = < item [x] end > end",
        "object TFeedList Items = < item { } end > end",
        "\xEF\xBB\xBFobject TFeedList Items = <> end",
    };
    for (const char* text : broken)
        ExpectCorrupted(text);

    // Cut off anywhere before its last "end".
    for (size_t len = 0; len + 5 < kExample.size(); len += 7)
        ExpectCorrupted(kExample.substr(0, len));

    // Binary garbage from a fixed generator.
    uint32_t seed = 12345;
    for (int round = 0; round < 50; ++round) {
        std::string bytes;
        for (int i = 0; i < 200; ++i) {
            seed = seed * 1664525u + 1013904223u;
            bytes += static_cast<char>(seed >> 24);
        }
        ExpectCorrupted(bytes);
    }
}

TEST(FeedsFile, RoundTripKeepsOrderValuesAndText) {
    TFeedEntries items;
    uint32_t seed = 7;
    auto next = [&seed]() { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < 200; ++i) {
        auto item = std::make_unique<TFeedListItem>();
        const size_t len = next() % 300;
        for (size_t k = 0; k < len; ++k)
            item->FeedName += static_cast<char>(next() >> 24); // every byte value, quotes and controls
        item->FeedURL = i % 3 ? "http://127.0.0.1/" + std::to_string(i) : "";
        item->FeedID = std::to_string(i);
        item->ParentID = "root";
        item->AggInclude = next() & 1;
        item->ShowAuthor = next() & 1;
        item->RefreshDate = 30000 + (next() % 20000) + (next() % 86400000) / 86400000.0;
        item->LastModifiedDate = i % 5 ? 0 : -static_cast<double>(next() % 1000) / 7.0;
        items.push_back(std::move(item));
    }
    const std::string text = FeedsFileText(items);
    const TFeedEntries back = ParseFeedsText(text);
    ASSERT_EQ(back.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(back[i]->FeedName, items[i]->FeedName) << i;
        EXPECT_EQ(back[i]->FeedID, items[i]->FeedID);
        // Dates keep 15 significant digits.
        EXPECT_NEAR(back[i]->RefreshDate, items[i]->RefreshDate, 1e-9);
        EXPECT_NEAR(back[i]->LastModifiedDate, items[i]->LastModifiedDate, 1e-9);
        EXPECT_EQ(back[i]->AggInclude, items[i]->AggInclude);
        EXPECT_EQ(back[i]->ShowAuthor, items[i]->ShowAuthor);
    }
    // Saving what was loaded writes the same text again.
    EXPECT_EQ(FeedsFileText(back), text);
}

TEST(FeedsFile, ValuesThatCannotBeReadBackAreNotWritten) {
    TFeedEntries items;
    items.push_back(std::make_unique<TFeedListItem>());
    items[0]->RefreshDate = std::numeric_limits<double>::quiet_NaN();
    items[0]->LastModifiedDate = std::numeric_limits<double>::infinity();
    const std::string text = FeedsFileText(items);
    EXPECT_EQ(text, OneItem("      AggInclude = False\r\n      ShowAuthor = False\r\n"));
    EXPECT_EQ(ParseFeedsText(text).size(), 1u);
}

TEST(FeedsFile, FailedSaveKeepsWhatWasThere) {
    TempDir dir;
    // A target that is a folder cannot be replaced by the new file.
    ASSERT_TRUE(ForceDirectories(dir.File("feeds.data")));
    dir.Write("feeds.data/keep", "old");
    try {
        SaveFeedsFile(dir.File("feeds.data"), ExampleEntries());
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + dir.File("feeds.data"));
    }
    EXPECT_EQ(dir.Read("feeds.data/keep"), "old");
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        entries += entry.path().filename() != "feeds.data";
    EXPECT_EQ(entries, 0u) << "a temporary file was left behind";

    // A folder that is a regular file.
    dir.Write("plain", "x");
    TFeedList list(dir.File("plain/feeds.data"));
    list.Add("root", "A", "");
    try {
        list.Save();
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + dir.File("plain/feeds.data"));
    }
    list.Items.clear();
    list.FileName = dir.File("feeds2.data"); // let the closing save succeed quietly
}

} // namespace
