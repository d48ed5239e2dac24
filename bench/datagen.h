#pragma once

#include <QString>
#include <cstdint>

namespace zumilo::bench {

// Bumped whenever the generated content changes, so that cached files made
// by an older generator are not mistaken for current ones.
constexpr int kGeneratorVersion = 3;
constexpr std::uint32_t kDefaultSeed = 20261201;

struct DatasetInfo {
    int notes = 0; // generated notes (the seed note of a new file not counted)
    int categories = 0;
    int bigCategoryId = 0; // the category holding about a tenth of the notes
    int bigCategoryNotes = 0;
};

// Creates `path` (which must not exist) as a complete database file and
// fills it with `categories` categories in three levels and `notes` notes of
// synthetic Japanese text. Same arguments, same file content.
// Throws StoreError or std::runtime_error; no file is left on failure.
DatasetInfo generateDatabase(const QString& path, int notes, int categories, std::uint32_t seed = kDefaultSeed);

// The body of one very long note, at least `utf8Bytes` long in UTF-8: the same mix
// of full- and half-width text, in lines of a few hundred to a few
// thousand characters with now and then an empty line.
QString generateLongNote(qsizetype utf8Bytes, std::uint32_t seed = kDefaultSeed);

// The same figures read back from a file made earlier.
DatasetInfo inspectDatabase(const QString& path);

} // namespace zumilo::bench
