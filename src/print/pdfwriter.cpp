#include "pdfwriter.h"

#include "shell/lazylibrary.h"

#include <QPrinter>
#include <QRawFont>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextBoundaryFinder>
#include <QtEndian>

#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cups/cups.h>
#include <fontconfig/fontconfig.h>
#include <map>
#include <memory>

namespace zumilo::print {

namespace {

// cairo and libcups are loaded the first time a note is written or printed.
#define CAIRO_FUNCTIONS(F)                                                                                             \
    F(cairo_create)                                                                                                    \
    F(cairo_destroy)                                                                                                   \
    F(cairo_font_face_destroy)                                                                                         \
    F(cairo_ft_font_face_create_for_pattern)                                                                           \
    F(cairo_ft_scaled_font_lock_face)                                                                                  \
    F(cairo_ft_scaled_font_unlock_face)                                                                                \
    F(cairo_get_scaled_font)                                                                                           \
    F(cairo_move_to)                                                                                                   \
    F(cairo_pdf_surface_create_for_stream)                                                                             \
    F(cairo_pdf_surface_set_metadata)                                                                                  \
    F(cairo_rel_line_to)                                                                                               \
    F(cairo_set_font_face)                                                                                             \
    F(cairo_set_font_size)                                                                                             \
    F(cairo_set_line_width)                                                                                            \
    F(cairo_show_page)                                                                                                 \
    F(cairo_show_text_glyphs)                                                                                          \
    F(cairo_stroke)                                                                                                    \
    F(cairo_surface_destroy)                                                                                           \
    F(cairo_surface_finish)                                                                                            \
    F(cairo_surface_status)
#define CUPS_FUNCTIONS(F) F(cupsAddOption) F(cupsFreeOptions) F(cupsPrintFile)

struct Cairo {
    CAIRO_FUNCTIONS(ZUMILO_LAZY_FUNCTION)
};
struct Cups {
    CUPS_FUNCTIONS(ZUMILO_LAZY_FUNCTION)
};

const Cairo* cairo()
{
    return shell::loadFunctions<Cairo>(ZUMILO_CAIRO_LIBRARY, [](shell::LazyLibrary& library, Cairo& api) {
        CAIRO_FUNCTIONS(ZUMILO_LAZY_RESOLVE)
    });
}

const Cups* cups()
{
    return shell::loadFunctions<Cups>(ZUMILO_CUPS_LIBRARY, [](shell::LazyLibrary& library, Cups& api) {
        CUPS_FUNCTIONS(ZUMILO_LAZY_RESOLVE)
    });
}

// Only made once cairo() has loaded.
struct CairoFree {
    void operator()(cairo_surface_t* p) const { cairo()->cairo_surface_destroy(p); }
    void operator()(cairo_t* p) const { cairo()->cairo_destroy(p); }
    void operator()(cairo_font_face_t* p) const { cairo()->cairo_font_face_destroy(p); }
};
using Surface = std::unique_ptr<cairo_surface_t, CairoFree>;
using Context = std::unique_ptr<cairo_t, CairoFree>;
using Face = std::unique_ptr<cairo_font_face_t, CairoFree>;
template <typename T, auto Free>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Pattern = std::unique_ptr<FcPattern, Deleter<FcPattern, FcPatternDestroy>>;

// The face of the file Qt laid the glyphs out with, as fontconfig finds
// it; null when it finds another family. Qt's glyph numbers are those of
// that file.
Face faceOf(const QRawFont& font)
{
    const QByteArray family = font.familyName().toUtf8();
    Pattern want(FcPatternCreate());
    FcPatternAddString(want.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.constData()));
    FcPatternAddInteger(want.get(), FC_WEIGHT, FcWeightFromOpenType(font.weight()));
    FcPatternAddInteger(want.get(), FC_SLANT, font.style() == QFont::StyleNormal ? FC_SLANT_ROMAN : FC_SLANT_ITALIC);
    FcConfigSubstitute(nullptr, want.get(), FcMatchPattern);
    FcDefaultSubstitute(want.get());
    FcResult result = FcResultNoMatch;
    Pattern match(FcFontMatch(nullptr, want.get(), &result));
    FcChar8* name = nullptr;
    for (int i = 0; match && FcPatternGetString(match.get(), FC_FAMILY, i, &name) == FcResultMatch; ++i) {
        if (QString::fromUtf8(reinterpret_cast<const char*>(name)).compare(font.familyName(), Qt::CaseInsensitive) == 0)
            return Face(cairo()->cairo_ft_font_face_create_for_pattern(match.get()));
    }
    return {};
}

// Glyphs of one font with the text they stand for.
struct Piece {
    QRawFont font;
    QList<cairo_glyph_t> glyphs;
    QByteArray text;
    QList<cairo_text_cluster_t> clusters;
};

class PdfPainter {
public:
    PdfPainter(QPrinter& printer, const QFont& font) : printer_(printer), font_(font)
    {
        perPoint_ = printer.resolution() / 72.0;
    }

    // Each character with the glyphs that show it, so that copying the
    // text gives back the characters, not whatever the glyphs' first
    // character in the font is.
    QList<Piece> pieces(const QString& text, const QPointF& at) const
    {
        QList<int> bounds{0};
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        for (qsizetype b = finder.toNextBoundary(); b > 0; b = finder.toNextBoundary())
            bounds.append(int(b));
        const QList<QGlyphRun> runs = shapeLine(text, font_, &printer_);
        QList<Piece> out;
        // Japanese text is nearly always one glyph a character.
        if (runs.size() == 1 && runs[0].glyphIndexes().size() == bounds.size() - 1 && !runs[0].isRightToLeft()) {
            out.append({runs[0].rawFont(), {}, {}, {}});
            add(out.last(), runs[0], at);
            for (int i = 0; i + 1 < bounds.size(); ++i) {
                const QByteArray bytes = text.mid(bounds[i], bounds[i + 1] - bounds[i]).toUtf8();
                out.last().text += bytes;
                out.last().clusters.append({int(bytes.size()), 1});
            }
            return out;
        }
        QByteArray pending; // a character no glyph shows on its own
        for (int i = 0; i + 1 < bounds.size(); ++i) {
            QByteArray bytes = pending + text.mid(bounds[i], bounds[i + 1] - bounds[i]).toUtf8();
            pending.clear();
            const QList<QGlyphRun> own = shapeLine(text, font_, &printer_, bounds[i], bounds[i + 1] - bounds[i]);
            for (const QGlyphRun& run : own) {
                if (run.glyphIndexes().isEmpty())
                    continue;
                if (out.isEmpty() || out.last().font != run.rawFont())
                    out.append({run.rawFont(), {}, {}, {}});
                add(out.last(), run, at);
                out.last().text += bytes;
                out.last().clusters.append({int(bytes.size()), int(run.glyphIndexes().size())});
                bytes.clear();
            }
            if (!bytes.isEmpty()) {
                if (out.isEmpty()) {
                    pending = bytes;
                } else {
                    out.last().text += bytes;
                    out.last().clusters.last().num_bytes += int(bytes.size());
                }
            }
        }
        return out;
    }

    double perPoint() const { return perPoint_; }

private:
    void add(Piece& piece, const QGlyphRun& run, const QPointF& at) const
    {
        const QList<quint32> indexes = run.glyphIndexes();
        const QList<QPointF> positions = run.positions();
        for (qsizetype g = 0; g < indexes.size(); ++g) {
            const QPointF p = (at + positions[g]) / perPoint_;
            piece.glyphs.append({indexes[g], p.x(), p.y()});
        }
    }

    QPrinter& printer_;
    QFont font_;
    double perPoint_ = 20;
};

// Whether `face` is the file `font` was read from: as many glyphs.
bool sameFile(cairo_t* cr, cairo_font_face_t* face, const QRawFont& font)
{
    const Cairo& c = *cairo();
    c.cairo_set_font_face(cr, face);
    cairo_scaled_font_t* scaled = c.cairo_get_scaled_font(cr);
    const FT_Face ft = c.cairo_ft_scaled_font_lock_face(scaled);
    const QByteArray maxp = font.fontTable("maxp");
    const bool same = ft && maxp.size() >= 6 && ft->num_glyphs == qFromBigEndian<quint16>(maxp.constData() + 4);
    c.cairo_ft_scaled_font_unlock_face(scaled);
    return same;
}

cairo_status_t writeTo(void* file, const unsigned char* data, unsigned int length)
{
    return static_cast<QSaveFile*>(file)->write(reinterpret_cast<const char*>(data), length) == qint64(length)
               ? CAIRO_STATUS_SUCCESS
               : CAIRO_STATUS_WRITE_ERROR;
}

} // namespace

PdfResult writePdf(const QString& path, QPrinter& printer, const PrintOptions& options, const NoteContent& note)
{
    const Cairo* c = cairo();
    if (!c)
        return PdfResult::FontUnavailable;
    const PrintArea area(printer, options);
    const QList<Sheet> sheets = layoutNote(printer, options, note);
    PdfPainter pdf(printer, printFont(options));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return PdfResult::CannotWrite;
    const QSizeF size = printer.pageLayout().fullRect(QPageLayout::Point).size();
    Surface surface(c->cairo_pdf_surface_create_for_stream(writeTo, &file, size.width(), size.height()));
    c->cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, note.title.toUtf8().constData());
    c->cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Zumilo");
    Context cr(c->cairo_create(surface.get()));
    // A rule one dot wide at 600 dpi, as a printer's own pen draws it.
    c->cairo_set_line_width(cr.get(), 72.0 / 600);

    std::map<QString, Face> faces;
    for (const Sheet& sheet : sheets) {
        for (const SheetItem& item : sheet) {
            const QPointF at = item.at * area.scale;
            if (item.rule) {
                c->cairo_move_to(cr.get(), at.x() / pdf.perPoint(), at.y() / pdf.perPoint());
                c->cairo_rel_line_to(cr.get(), area.width * area.scale / pdf.perPoint(), 0);
                c->cairo_stroke(cr.get());
                continue;
            }
            for (const Piece& piece : pdf.pieces(item.text, at)) {
                const QString key = piece.font.familyName() + u'|' + QString::number(piece.font.weight()) + u'|'
                                    + QString::number(piece.font.style());
                auto face = faces.find(key);
                if (face == faces.end()) {
                    face = faces.emplace(key, faceOf(piece.font)).first;
                    if (face->second && !sameFile(cr.get(), face->second.get(), piece.font))
                        face->second.reset();
                }
                if (!face->second)
                    return PdfResult::FontUnavailable;
                c->cairo_set_font_face(cr.get(), face->second.get());
                c->cairo_set_font_size(cr.get(), piece.font.pixelSize() / pdf.perPoint());
                c->cairo_show_text_glyphs(cr.get(), piece.text.constData(), int(piece.text.size()),
                                          piece.glyphs.constData(), int(piece.glyphs.size()),
                                          piece.clusters.constData(), int(piece.clusters.size()),
                                          cairo_text_cluster_flags_t(0));
            }
        }
        c->cairo_show_page(cr.get());
    }
    cr.reset();
    c->cairo_surface_finish(surface.get());
    const bool drawn = c->cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS;
    surface.reset();
    if (!drawn)
        return PdfResult::CannotWrite;
    return file.commit() ? PdfResult::Written : PdfResult::CannotWrite;
}

PdfResult printPdf(QPrinter& printer, const PrintOptions& options, const NoteContent& note)
{
    const Cups* print = cups();
    if (!print)
        return PdfResult::FontUnavailable;
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("note.pdf"));
    if (!dir.isValid())
        return PdfResult::CannotWrite;
    if (const PdfResult written = writePdf(path, printer, options, note); written != PdfResult::Written)
        return written;
    // The options Qt's own print engine gives a job: the paper by the
    // queue's name for it, and the orientation.
    cups_option_t* jobOptions = nullptr;
    int count = print->cupsAddOption("media", printer.pageLayout().pageSize().key().toUtf8().constData(), 0,
                                     &jobOptions);
    if (printer.pageLayout().orientation() == QPageLayout::Landscape)
        count = print->cupsAddOption("landscape", "", count, &jobOptions);
    const int job = print->cupsPrintFile(printer.printerName().toLocal8Bit().constData(),
                                         path.toLocal8Bit().constData(), note.title.toUtf8().constData(), count,
                                         jobOptions);
    print->cupsFreeOptions(count, jobOptions);
    return job > 0 ? PdfResult::Written : PdfResult::CannotWrite;
}

} // namespace zumilo::print
