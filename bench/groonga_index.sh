#!/bin/sh
# Groonga's bigram index (TokenBigram, NormalizerAuto, positions) over the
# notes of a .zmd file, beside the store's pair tokens: its room per column,
# the positions it keeps, its hits against the exact substring counts and
# its search times.
#
#   bench/groonga_index.sh NOTES.zmd [WORKDIR]     (WORKDIR: /tmp/groonga_bench)
#
# The file is copied first and only the copy is read (at 100k notes WORKDIR
# needs about 1.3 GB). SAMPLE=N tokenizes every Nth body (100: a thousand of
# 100,000).
set -eu
zmd=${1:?usage: groonga_index.sh NOTES.zmd [WORKDIR]}
dir=${2:-/tmp/groonga_bench}
for tool in groonga python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "groonga_index: $tool is not installed, nothing measured." >&2
        exit 0
    fi
done
mkdir -p "$dir"
rm -rf "$dir/db" "$dir/notes.zmd" "$dir/notes.zmd-wal"
mkdir "$dir/db"
cp "$zmd" "$dir/notes.zmd"
if [ -f "$zmd-wal" ]; then cp "$zmd-wal" "$dir/notes.zmd-wal"; fi
exec nice python3 - "$dir" "${SAMPLE:-100}" <<'PYTHON'
import json, os, re, sqlite3, statistics, subprocess, sys, time, unicodedata
from urllib.parse import quote

workdir, every = sys.argv[1], int(sys.argv[2])
zmd, db = os.path.join(workdir, "notes.zmd"), os.path.join(workdir, "db", "notes")


def groonga(commands, new=False, path=db):
    """Runs commands (one a line) in one groonga process: their results."""
    args = ["groonga"] + (["-n"] if new else []) + [path]
    out = subprocess.run(args, input="\n".join(commands) + "\n", capture_output=True,
                         text=True, check=True).stdout
    results = [json.loads(line) for line in out.splitlines() if line.strip()]
    for r in results:
        if r[0][0] != 0:
            sys.exit("groonga: " + json.dumps(r[0], ensure_ascii=False))
    return results


def url(command, **args):
    return "/d/%s?%s" % (command, "&".join("%s=%s" % (k, quote(str(v), safe="")) for k, v in args.items()))


KATAKANA = {c: c - 0x60 for c in range(0x30A1, 0x30F7)}


def fold(s):
    """The store's folding: NFKC, case folded, katakana as hiragana."""
    return unicodedata.normalize("NFKC", s).casefold().translate(KATAKANA)


notes = sqlite3.connect("file:%s?mode=ro" % zmd, uri=True)
rows = notes.execute("SELECT id, coalesce(title, ''), coalesce(naiyo, ''), coalesce(bunrui, '') "
                     "FROM T_idea ORDER BY id").fetchall()
print("notes: %d, load average %.1f" % (len(rows), os.getloadavg()[0]))

# --- load, then each index built over the loaded notes
schema = ["table_create Notes TABLE_HASH_KEY UInt32",
          "column_create Notes title COLUMN_SCALAR ShortText",
          "column_create Notes body COLUMN_SCALAR Text",
          "column_create Notes category COLUMN_SCALAR ShortText"]
load = ["load --table Notes", "["]
load += [json.dumps({"_key": i, "title": t, "body": b, "category": c}, ensure_ascii=False) + ","
         for i, t, b, c in rows]
load.append("]")
start = time.monotonic()
loaded = groonga(schema + load, new=True)[-1][1]
print("load: %d notes in %.1f s" % (loaded, time.monotonic() - start))

# The last one cuts runs of letters, digits and symbols into pairs as well,
# as the store's tokens do: the room of (nearly) our positions in Groonga's coding.
LEXICON = "TABLE_PAT_KEY ShortText --default_tokenizer %s --normalizer NormalizerAuto"
SPLIT = "TokenBigramSplitSymbolAlphaDigit"
layouts = [("Terms", "WITH_SECTION|WITH_POSITION", "title,body", "titles and bodies, one index"),
           ("TitleTerms", "WITH_POSITION", "title", "titles"),
           ("BodyTerms", "WITH_POSITION", "body", "bodies"),
           ("CategoryTerms", "WITH_POSITION", "category", "category names"),
           ("SplitTerms", "WITH_POSITION", "body", "bodies, " + SPLIT)]
mb = lambda n: n / 1e6


def room(lexicon, path=db):
    """Bytes on disk and apparent of the lexicon's files and its index column's."""
    table, column = (r[1] for r in groonga(["object_inspect " + lexicon, "object_inspect %s.index" % lexicon], path=path))
    sizes = []
    for obj in (table, column):  # an object's files: the path of its id, and the index's chunks
        files = [f for f in ("%s.%07X" % (path, obj["id"]), "%s.%07X.c" % (path, obj["id"])) if os.path.exists(f)]
        sizes += [mb(sum(os.stat(f).st_blocks * 512 for f in files)), mb(sum(os.path.getsize(f) for f in files))]
    return sizes, table["n_records"], column


print("\n| index | build s | lexicon MB (du / apparent) | index column MB (du / apparent) | terms |")
print("|---|---:|---:|---:|---:|")
inspected = {}
for lexicon, flags, sources, label in layouts:
    start = time.monotonic()
    tokenizer = SPLIT if lexicon == "SplitTerms" else "TokenBigram"
    groonga(["table_create %s %s" % (lexicon, LEXICON % tokenizer),
             "column_create %s index COLUMN_INDEX|%s Notes %s" % (lexicon, flags, sources)])
    built = time.monotonic() - start
    sizes, terms, inspected[lexicon] = room(lexicon)
    print("| %s | %.1f | %.1f / %.1f | %.1f / %.1f | %d |" % ((label, built) + tuple(sizes) + (terms,)))
# The same body index kept up to date while the notes are loaded, as an
# application adding notes one by one would have it.
online = os.path.join(workdir, "db", "online")
start = time.monotonic()
groonga(schema + ["table_create BodyTerms " + LEXICON % "TokenBigram",
                  "column_create BodyTerms index COLUMN_INDEX|WITH_POSITION Notes body"] + load, new=True, path=online)
sizes, terms, _ = room("BodyTerms", online)
print("| bodies, indexed while loading (load included) | %.1f | %.1f / %.1f | %.1f / %.1f | %d |"
      % ((time.monotonic() - start,) + tuple(sizes) + (terms,)))
print("\nBodyTerms.index statistics:", json.dumps(inspected["BodyTerms"]["value"].get("statistics", {})))

# --- positions: Groonga's tokens against the store's pairs, over a sample of bodies
JAPANESE = re.compile(r"^[\u3005\u3006\u3040-\u30ff\u3400-\u9fff\uf900-\ufaff]+$")
ALNUM = re.compile(r"^[a-z0-9]+$")
ours_all = sum(max(len(fold(b)) - 1, 0) for _, _, b, _ in rows)
sample = [b for i, _, b, _ in rows if i % every == 0 and b]
tokens = groonga([url("tokenize", tokenizer="TokenBigram", normalizer="NormalizerAuto", string=b) for b in sample])
if not sample:
    sys.exit("groonga_index: no body to tokenize")
count = dict.fromkeys(["ours", "groonga", "line breaks", "spaces", "letters", "digits", "symbols", "last"], 0)
for body, result in zip(sample, tokens):
    f = fold(body)
    count["ours"] += len(f) - 1
    count["line breaks"] += sum(c in "\r\n" for c in f[:-1])
    count["spaces"] += sum(c.isspace() and c not in "\r\n" for c in f[:-1])
    count["last"] += not f[-1].isspace()
    for t in (t["value"] for t in result[1]):
        count["groonga"] += 1  # kana and kanji: one token a character, as ours
        if JAPANESE.match(t):
            continue
        if ALNUM.match(t):
            count["digits" if t[0].isdigit() else "letters"] += len(t) - 1
        else:
            count["symbols"] += len(t) - 1
split = sum(len(r[1]) for r in groonga([url("tokenize", tokenizer=SPLIT, normalizer="NormalizerAuto", string=b)
                                         for b in sample]))
explained = count["ours"] - sum(count[k] for k in ("line breaks", "spaces", "letters", "digits", "symbols")) + count["last"]
scale = ours_all / count["ours"]
print("\nbody positions, %d bodies of %d (every %dth): ours %d, Groonga's %d (%.1f %%)"
      % (len(sample), len(rows), every, count["ours"], count["groonga"], 100 * count["groonga"] / count["ours"]))
print("all bodies: ours %.2f M, Groonga's %.2f M by the sample (%s: %.2f M)"
      % (ours_all / 1e6, count["groonga"] * scale / 1e6, SPLIT, split * scale / 1e6))
print("\n| our pairs Groonga has no token for | positions in the sample | share of ours |\n|---|---:|---:|")
for key, label in (("line breaks", "starting at a line break (CR, LF)"), ("spaces", "starting at a blank"),
                   ("letters", "inside a run of letters (after the first)"),
                   ("digits", "inside a run of digits (after the first)"),
                   ("symbols", "inside a run of symbols (after the first)")):
    print("| %s | %d | %.1f %% |" % (label, count[key], 100 * count[key] / count["ours"]))
print("| Groonga's token for a body's last character (ours: none) | +%d | +%.2f %% |" % (count["last"], 100 * count["last"] / count["ours"]))
print("| not explained by the above | %d | |" % (count["groonga"] - explained))

# --- hits: Groonga's against the exact substring and the store's folded match
words = [("title", w) for w in ("予", "予定", "打ち合わせ")] + [("body", w) for w in (
    "会", "会議", "打ち合わせ", "Linux", "inux", "Linu", "xample", "example.com", "ccess", "Exce", "indows",
    "202", "024年", "2024年", "２０２４", "No.5", "o.5", "v2", "2.1", "0:3", "10:30", "id=4", "//", "@ex",
    "のLinux", "Wi-F", "i-Fi", "ました。\r\n", "。\r\n午前", "。午前", " を参照", "ﾊﾟｿｺﾝ", "ぱそこん", "A4", "5%")]
column = {"title": 1, "body": 2}
folded = {c: [fold(r[column[c]]) for r in rows] for c in column}


def select(index, word):
    return url("select", table="Notes", match_columns=index, limit=0, cache="no",
               query='"%s"' % word.replace("\\", "\\\\").replace('"', '\\"'))


def counted(results):
    return [r[1][0][0][0] for r in results]


bigram = [select("TitleTerms.index" if c == "title" else "BodyTerms.index", w) for c, w in words]
hits = counted(groonga(bigram))
split = counted(groonga([select("SplitTerms.index", w) for c, w in words if c == "body"]))
split = [None] * (len(words) - len(split)) + split
print("\n| column | word | exact substring | folded (ours) | Groonga | Groonga, %s |\n|---|---|---:|---:|---:|---:|" % SPLIT)
for (c, w), g, gs in zip(words, hits, split):
    exact = notes.execute("SELECT count(*) FROM T_idea WHERE instr(%s, ?) > 0" % ("naiyo" if c == "body" else c), (w,)).fetchone()[0]
    fw = fold(w)
    ours = sum(fw in t for t in folded[c])
    mark = lambda n: "" if n is None else "%d%s" % (n, "" if n == ours else " ≠")
    print("| %s | `%s` | %d | %d | %s | %s |" % (c, json.dumps(w, ensure_ascii=False)[1:-1], exact, ours, mark(g), mark(gs)))

# --- times: medians of 15 selects in one process, as Groonga reports them
runs = 15
timed = groonga(bigram[:6] * runs)
print("\n| column | word | median ms (min–max) of %d |\n|---|---|---:|" % runs)
for i, (c, w) in enumerate(words[:6]):
    ms = [1000 * timed[i + 6 * k][0][2] for k in range(runs)]
    print("| %s | %s | %.2f (%.2f–%.2f) |" % (c, w, statistics.median(ms), min(ms), max(ms)))
print("load average %.1f" % os.getloadavg()[0])
PYTHON
