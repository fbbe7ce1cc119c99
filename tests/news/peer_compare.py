#!/usr/bin/python3
"""Reads every feed document of a folder with the reader (tovel-inspect items) and with Debian's
python3-feedparser, and compares them document by document: the number of items, and item by
item (in document order) the title, the link and the date to the minute.

    peer_compare.py --inspect TOVEL_INSPECT --corpus FOLDER [--report] [--sorted]

Exit codes: 0 when every difference is listed below and the goals hold, 1 otherwise, 77
(skipped) when the folder or feedparser is missing. --report prints the figures and every
difference, listed or not. --sorted is for a reader whose items command has no
--document-order: the items of a document are then paired with feedparser's by title, link and
date.

Two lists set differences aside: READER_RULES, where the reader's rule differs from
feedparser's on purpose, and PEER_MISREADS, where feedparser itself misreads the document. The
goals: the counts agree in every document, no difference is left unlisted, and the dates agree
for at least 99.5% of the items feedparser dates, those it misreads aside.

How the fields compare:
- Counts: a document the reader refuses (an error) has 0 items.
- Titles: feedparser decodes entities and keeps or cleans markup in titles (its cleaning is
  off here, for speed), the reader keeps a title's text as the document gives it (entities
  decoded once). Both sides are compared as plain text: tags removed, entities decoded, blanks
  collapsed, trimmed.
- Links: the reader keeps a link as the document writes it ("&amp;" stays, for the page's
  href); it compares with its entities decoded, trimmed. A relative link the reader made
  absolute against the document's address (here its file name) compares by what follows it.
- Dates: the items feedparser dates (published, updated or created) count; the reader's date
  agrees when it falls in the same UTC minute as any of them. feedparser dates an entry by
  each element it finds; the reader takes one element per format, so any one of them counts.
"""

import argparse
import calendar
import html
import json
import os
import re
import subprocess
import sys

SKIP = 77

# Differences set aside, by file and field: the items (places in document order, None for the
# count) and the reason.
_DOUBLE_DECODED = (
    "feedparser repairs text whose UTF-8 was decoded as Latin-1 once too often; the reader "
    "shows the characters the document's declared encoding gives"
)
_NO_LINK = "the item has no link; feedparser takes its permanent id (RSS guid, Atom id) instead"
READER_RULES = {
    ("RSParser-OneFootTsunami.atom", "links"): (
        {6, 7, 17},
        "an empty href: feedparser resolves it against xml:base, the reader leaves it empty",
    ),
    ("feed-rs-atom_example_7.xml", "links"): ({0}, _NO_LINK),
    ("node-feedparser-rss2sample.xml", "links"): ({1}, _NO_LINK),
    ("feedjira-pet_atom.xml", "titles"): (
        {0},
        "an XHTML title is markup inside the title element; the reader takes the element's own "
        "text, which is empty",
    ),
    ("laminas-feed-laut.de-rdf.xml", "titles"): ({1, 3, 9, 10}, _DOUBLE_DECODED),
    ("simplepie-feed_rss-2.0_for_file_mock.xml", "titles"): ({81, 97}, _DOUBLE_DECODED),
}
PEER_MISREADS = {
    ("RSParser-kc0011.rss", "dates"): (
        set(range(20)),
        'feedparser reads "2020/1/10 14:33:00" as 1 December 2020 00:00; the reader reads '
        "10 January 2020 14:33",
    ),
}

DATE_GOAL = 0.995

_TAG = re.compile(r"<[^>]*>")
_BLANKS = re.compile(r"\s+")

# Days from 1899-12-30 (the reader's day count) to 1970-01-01.
_UNIX_EPOCH_DAYS = 25569


def plain_text(text):
    """Text without markup, with its entities decoded and its blanks collapsed."""
    text = _TAG.sub(" ", text or "")
    text = html.unescape(text)
    return _BLANKS.sub(" ", text).strip()


def minute_of_days(days):
    """The UTC minute of a day count since 1899-12-30, or None for 0 (no date)."""
    if not days:
        return None
    return round((days - _UNIX_EPOCH_DAYS) * 86400) // 60


def minute_of_struct(value):
    return calendar.timegm(value) // 60


def feed_files(folder):
    return sorted(
        name
        for name in os.listdir(folder)
        if os.path.isfile(os.path.join(folder, name)) and name not in ("MANIFEST.tsv", "README.md")
    )


def reader_items(inspect, folder, files, sorted_output):
    """{file: [items]} and {file: error} from the reader, each file's items in document order
    (or in the reader's own order with sorted_output)."""
    args = [os.path.abspath(inspect), "items"] + ([] if sorted_output else ["--document-order"])
    result = subprocess.run(
        args + files, cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False
    )
    if result.returncode != 0:
        sys.exit("tovel-inspect items failed: " + result.stderr.decode("utf-8", "replace"))
    output = json.loads(result.stdout)
    items = {name: [] for name in files}
    for item in output["items"]:
        items[item["file"]].append(item)
    return items, output["errors"]


def peer_items(feedparser, folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return feedparser.parse(f.read(), sanitize_html=False, resolve_relative_uris=False).entries


def peer_minutes(entry):
    return {
        minute_of_struct(entry[key])
        for key in ("published_parsed", "updated_parsed", "created_parsed")
        if entry.get(key)
    }


def links_agree(ours, theirs, name):
    ours = html.unescape((ours or "").strip())
    theirs = (theirs or "").strip()
    if ours == theirs:
        return True
    # A relative link made absolute against the document's address, here its file name: what
    # follows that address.
    own = "http://" + name
    rest = ours[len(own) :].lstrip("/")
    return ours.startswith(own) and rest != "" and theirs.endswith(rest)


def pair(ours, theirs):
    """Pairs of (reader item, peer entry) for a reader list in its own order: by title, link and
    date, else by title and link, else by link, else by title, else the first item left."""
    remaining = list(ours)
    pairs = []
    for entry in theirs:
        title = plain_text(entry.get("title"))
        link = (entry.get("link") or "").strip()
        minutes = peer_minutes(entry)
        tests = [
            lambda i: plain_text(i["title"]) == title
            and html.unescape(i["link"].strip()) == link
            and (not minutes or minute_of_days(i["date"]) in minutes),
            lambda i: plain_text(i["title"]) == title and html.unescape(i["link"].strip()) == link,
            lambda i: link != "" and html.unescape(i["link"].strip()) == link,
            lambda i: plain_text(i["title"]) == title,
            lambda i: True,
        ]
        match = next((i for test in tests for i in remaining if test(i)), None)
        if match is None:
            break
        remaining.remove(match)
        pairs.append((match, entry))
    return pairs


class Tally:
    KINDS = ("counts", "titles", "links", "dates")

    def __init__(self):
        self.total = dict.fromkeys(self.KINDS, 0)
        self.agreed = dict.fromkeys(self.KINDS, 0)
        self.rules = dict.fromkeys(self.KINDS, 0)
        self.misreads = dict.fromkeys(self.KINDS, 0)
        self.unlisted = []
        self.listed = []
        self.stale = []

    def add(self, kind, agreed, name, index, detail):
        self.total[kind] += 1
        line = f"{name} {kind}" + ("" if index is None else f" #{index}") + f": {detail}"
        listing = None
        for reasons, counts in ((READER_RULES, self.rules), (PEER_MISREADS, self.misreads)):
            if index in reasons.get((name, kind), ((), ""))[0]:
                listing = (reasons, counts)
        if agreed:
            self.agreed[kind] += 1
            if listing:
                self.stale.append(line)
        elif listing:
            reasons, counts = listing
            counts[kind] += 1
            self.listed.append(line + f" [listed: {reasons[(name, kind)][1]}]")
        else:
            self.unlisted.append(line)

    def share(self, kind, misreads_aside=False, listed_aside=False):
        """The agreeing share of the kind, in percent."""
        total = self.total[kind]
        if misreads_aside or listed_aside:
            total -= self.misreads[kind]
        if listed_aside:
            total -= self.rules[kind]
        return 100.0 * self.agreed[kind] / total if total else 100.0


def compare(inspect, folder, feedparser, sorted_output):
    files = feed_files(folder)
    ours, errors = reader_items(inspect, folder, files, sorted_output)
    tally = Tally()
    for name in files:
        theirs = peer_items(feedparser, folder, name)
        mine = ours[name]
        detail = f"reader {len(mine)} items" + (f" ({errors[name]})" if name in errors else "")
        tally.add("counts", len(mine) == len(theirs), name, None, detail + f", feedparser {len(theirs)}")
        pairs = pair(mine, theirs) if sorted_output else zip(mine, theirs)
        for index, (item, entry) in enumerate(pairs):
            title, peer_title = plain_text(item["title"]), plain_text(entry.get("title"))
            tally.add("titles", title == peer_title, name, index, f"{title!r} vs {peer_title!r}")
            link, peer_link = item["link"], entry.get("link", "")
            tally.add("links", links_agree(link, peer_link, name), name, index, f"{link!r} vs {peer_link!r}")
            minutes = peer_minutes(entry)
            if minutes:
                mine_minute = minute_of_days(item["date"])
                peer_text = entry.get("published") or entry.get("updated") or entry.get("created")
                tally.add("dates", mine_minute in minutes, name, index, f"{item['date']} vs {peer_text!r}")
    return tally


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--inspect", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--report", action="store_true")
    parser.add_argument("--sorted", action="store_true")
    args = parser.parse_args()

    if not os.path.isdir(args.corpus):
        print(f"SKIP: the public corpus is not there ({args.corpus})")
        return SKIP
    try:
        import feedparser  # pylint: disable=import-outside-toplevel
    except ImportError:
        print("SKIP: python3-feedparser is not installed (scripts/install-deps.sh --tests)")
        return SKIP

    tally = compare(args.inspect, args.corpus, feedparser, args.sorted)
    for kind in Tally.KINDS:
        print(
            f"{kind}: {tally.agreed[kind]} of {tally.total[kind]} agree ({tally.share(kind):.1f}%); "
            f"{tally.misreads[kind]} misread by feedparser, {tally.rules[kind]} by the reader's own "
            f"rule; {tally.share(kind, misreads_aside=True):.1f}% without the misreadings, "
            f"{tally.share(kind, listed_aside=True):.1f}% of the rest"
        )
    if args.report:
        for line in tally.listed:
            print(line)
        for line in tally.stale:
            print("AGREES NOW (listed) " + line)
    for line in tally.unlisted:
        print("DIFFERENCE " + line)
    if tally.share("dates", misreads_aside=True) < 100 * DATE_GOAL:
        print(f"dates agree for less than {100 * DATE_GOAL:.1f}% of the items feedparser reads right")
        return 1
    return 1 if tally.unlisted else 0


if __name__ == "__main__":
    sys.exit(main())
