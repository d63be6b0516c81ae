#include "picture/codecs/jpegdecoder.h"

#include <algorithm>
#include <array>
#include <climits>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

// jpeglib.h first: jerror.h lists the arithmetic-coding messages only when jconfig.h says so.
#include <jpeglib.h>
#include <jerror.h>

#include "picture/pixels/largepages.h"

#if !defined(JCS_EXTENSIONS)
#error "libjpeg-turbo is needed: pictures are decoded straight into BGR rows (JCS_EXT_BGR)"
#endif

namespace picture {

namespace {

// A file with more scans than this is built to keep the decoder busy, not to show a picture.
constexpr int MaxScans = 1000;

// Each scan walks every block of the components it holds, even when a few bytes of data stand
// for all of them, so many scans of a large picture cost seconds. Encoders visit each block
// at most about ten times in all; beyond this many visits a block (or a small floor, which
// small pictures with many scans stay under) the file is refused.
constexpr qint64 MaxVisitsPerBlock = 16;
constexpr qint64 MinVisitBudget = qint64(1) << 22;

// Huffman-coded data spends at least one bit on every block (its DC code): data far shorter
// than that cannot hold the picture. Arithmetic coding can squeeze a blank picture below it,
// but a few hundred bytes that declare millions of pixels are a decompression bomb whichever
// the coding. Refusing them before decoding keeps libjpeg from allocating the whole-picture
// buffers of a progressive file, and the rows, for nothing.
constexpr qint64 MaxBlocksPerByte = 16;

// Besides the whole-picture buffers, libjpeg keeps tables and a few rows; counted against the
// same limit, a small budget would leave it nothing to work with.
constexpr qint64 MinMemory = qint64(4) << 20;

// What follows the real data once libjpeg has read it all. libjpeg itself goes on with zero
// bits, and often says nothing when it uses them: a file cut short then decodes "fine" with
// grey rows. Decoding again with one bits instead tells the two apart: a picture that needed
// none of the made-up bits comes out the same both times.
enum class Padding { Zeros, Ones };

struct Source {
    jpeg_source_mgr pub;
    const JOCTET *data;
    size_t size;
    Padding padding;
    bool ranOut;
    std::array<JOCTET, 4096> ones; // stuffed 0xFF bytes (all one bits), then an end marker
};

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to
// run() instead of calling exit(). Of the warnings, those that say the coded data is broken
// are kept so that the picture can be refused.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    int corruptCode;    // the first such warning, or 0
    bool tooManyScans;
    bool tooMuchWork;
    bool tooShort;
    bool endsEarly;
    bool outOfMemory;
};

const JOCTET EndMarker[2] = {0xff, JPEG_EOI};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

// Whether libjpeg reads every scan before it puts out a row (progressive files, or components
// in scans of their own), as opposed to decoding the rows as it reads.
bool multiScan(const jpeg_decompress_struct &cinfo)
{
    return cinfo.progressive_mode || cinfo.comps_in_scan < cinfo.num_components;
}

boolean fillInput(j_decompress_ptr cinfo)
{
    auto *src = reinterpret_cast<Source *>(cinfo->src);
    // Arithmetic-coded data goes on silently with made-up bytes where Huffman-coded data warns.
    // A file whose data ends while more than the last rows are still to come cannot be whole:
    // stop here rather than decode the rest of a picture that may be enormous from nothing.
    if (!src->ranOut && cinfo->arith_code && !multiScan(*cinfo) && cinfo->output_height > 0
        && cinfo->output_height - cinfo->output_scanline > JDIMENSION(3 * DCTSIZE * cinfo->max_v_samp_factor)) {
        reinterpret_cast<ErrorManager *>(cinfo->err)->endsEarly = true;
        (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    }
    if (src->padding == Padding::Ones && !src->ranOut) {
        src->pub.next_input_byte = src->ones.data();
        src->pub.bytes_in_buffer = src->ones.size();
    } else {
        src->pub.next_input_byte = EndMarker;
        src->pub.bytes_in_buffer = sizeof EndMarker;
    }
    src->ranOut = true;
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count)
{
    auto *src = reinterpret_cast<Source *>(cinfo->src);
    while (count > 0 && size_t(count) > src->pub.bytes_in_buffer) {
        count -= long(src->pub.bytes_in_buffer);
        fillInput(cinfo);
    }
    if (count > 0) {
        src->pub.next_input_byte += count;
        src->pub.bytes_in_buffer -= size_t(count);
    }
}

// The decoded rows, in a buffer that grows as rows arrive, so that a small file that declares
// a large picture and then breaks off is refused before memory for the whole picture is taken.
// Handed to the QImage at the end, which frees it. A picture held with others goes into the
// shared large-page memory instead: only what the rows fill is ever backed there, so a file
// that breaks off costs no more.
struct Rows {
    uchar *data = nullptr;
    size_t capacity = 0;
    size_t stride = 0;
    QImage held; // when set, data points into it and is not ours to free
    ~Rows()
    {
        if (held.isNull())
            std::free(data);
    }

    // Takes the whole picture from the shared large-page memory; false when it cannot be had.
    bool hold(int width, int height)
    {
        held = blankInLargePages(width, height, QImage::Format_BGR888);
        if (held.isNull() || size_t(held.bytesPerLine()) != stride) {
            held = QImage();
            return false;
        }
        data = held.bits();
        capacity = size_t(held.sizeInBytes());
        return true;
    }

    // Makes room for rows [0, count) of total; false when the memory cannot be had.
    bool reserve(size_t count, size_t total)
    {
        const size_t need = count * stride;
        if (need <= capacity)
            return true;
        const size_t whole = total * stride;
        const size_t grown = std::min(whole, std::max({need, capacity * 2, size_t(1) << 20}));
        auto *more = static_cast<uchar *>(std::realloc(data, grown));
        if (!more)
            return false;
        data = more;
        capacity = grown;
        return true;
    }

    QImage release(int width, int height)
    {
        uchar *pixels = std::exchange(data, nullptr);
        capacity = 0;
        if (!held.isNull())
            return std::exchange(held, QImage());
        return QImage(pixels, width, height, qsizetype(stride), QImage::Format_BGR888, std::free, pixels);
    }
};

// Everything one decoding pass changes lives here, in the caller's frame, so that the longjmp
// leaves nothing of run()'s own half-made and skips no destructor.
struct Attempt {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    Source src;
    jpeg_progress_mgr progress;
    long maxMemory = 0;             // for libjpeg's whole-picture buffers of multi-scan files
    Holding holding = Holding::Alone;
    int shrink = 1;                 // decoded at 1/shrink of the stored size
    QImage image;
    Rows rows;
    std::vector<JSAMPLE> cmykRow;
    unsigned scannedComponents = 0; // bit i: component i appeared in a scan
    int lastScan = 0;               // the scan whose blocks were last counted
    qint64 visits = 0;              // blocks the scans so far walk through
    qint64 maxVisits = 0;
    bool failed = false;
    bool allScans = true;           // no component or coefficient was left without its scans
};

void onError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    // Whole-picture buffers beyond the memory limit would need a backing store, which this
    // libjpeg build does not have.
    if (cinfo->err->msg_code == JERR_NO_BACKING_STORE || cinfo->err->msg_code == JERR_OUT_OF_MEMORY)
        err->outOfMemory = true;
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level)
{
    if (level != -1) // trace messages
        return;
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    switch (cinfo->err->msg_code) {
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
        // The picture is refused whatever follows; decoding the rest of it from made-up data
        // would only cost time.
        err->corruptCode = cinfo->err->msg_code;
        (*cinfo->err->format_message)(cinfo, err->message);
        std::longjmp(err->jump, 1);
    default: // stray bytes between segments, unusual headers: the picture is still whole
        break;
    }
}

void noteScan(Attempt &a)
{
    for (int i = 0; i < a.cinfo.comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i)
        if (a.cinfo.cur_comp_info[i] && a.cinfo.cur_comp_info[i]->component_index < 32)
            a.scannedComponents |= 1u << a.cinfo.cur_comp_info[i]->component_index;
}

// Called as libjpeg reads a multi-scan file: counts the scans and the blocks they walk,
// notes the components in each.
void onProgress(j_common_ptr common)
{
    auto *a = static_cast<Attempt *>(common->client_data);
    noteScan(*a);
    if (a->cinfo.input_scan_number > MaxScans) {
        a->err.tooManyScans = true;
        (*common->err->error_exit)(common);
    }
    if (a->cinfo.input_scan_number != a->lastScan) {
        a->lastScan = a->cinfo.input_scan_number;
        for (int i = 0; i < a->cinfo.comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i)
            if (const jpeg_component_info *c = a->cinfo.cur_comp_info[i])
                a->visits += qint64(c->width_in_blocks) * c->height_in_blocks;
        if (a->visits > a->maxVisits) {
            a->err.tooMuchWork = true;
            (*common->err->error_exit)(common);
        }
    }
}

// Adobe writers store CMYK inverted (0 = full ink); other writers store it plainly. The sum is
// the usual one for CMYK without a colour profile, rounded as other readers round it. Out come
// blue, green, red.
void cmykToBgr(const JSAMPLE *in, uchar *out, JDIMENSION width, bool inverted)
{
    auto mulDiv255 = [](int a, int b) {
        const int t = a * b + 128;
        return ((t >> 8) + t) >> 8;
    };
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        const int c = inverted ? 255 - in[0] : in[0];
        const int m = inverted ? 255 - in[1] : in[1];
        const int y = inverted ? 255 - in[2] : in[2];
        const int nk = inverted ? in[3] : 255 - in[3];
        out[2] = uchar(nk - mulDiv255(c, nk));
        out[1] = uchar(nk - mulDiv255(m, nk));
        out[0] = uchar(nk - mulDiv255(y, nk));
    }
}

// Whether every coefficient of every component was refined to full precision.
bool progressionComplete(const jpeg_decompress_struct &cinfo)
{
    if (!cinfo.coef_bits)
        return false;
    for (int c = 0; c < cinfo.num_components; ++c)
        for (int k = 0; k < DCTSIZE2; ++k)
            if (cinfo.coef_bits[c][k] != 0)
                return false;
    return true;
}

// One pass of libjpeg over the data into a.image; a.failed when libjpeg gave up. Only plain
// values live in this frame: see Attempt.
void run(Attempt &a)
{
    j_decompress_ptr cinfo = &a.cinfo;
    if (setjmp(a.err.jump)) {
        a.failed = true;
        jpeg_destroy_decompress(cinfo);
        return;
    }
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = a.maxMemory;
    cinfo->client_data = &a;
    cinfo->progress = &a.progress;
    cinfo->src = &a.src.pub;
    jpeg_read_header(cinfo, TRUE);

    qint64 blocks = 0;
    for (int c = 0; c < cinfo->num_components; ++c)
        blocks += qint64(cinfo->comp_info[c].width_in_blocks) * cinfo->comp_info[c].height_in_blocks;
    a.maxVisits = std::max(MinVisitBudget, MaxVisitsPerBlock * blocks);
    if (blocks > MaxBlocksPerByte * qint64(a.src.size) + 4096) {
        a.err.tooShort = true;
        a.failed = true;
        jpeg_destroy_decompress(cinfo);
        return;
    }

    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    cinfo->scale_num = 1;
    cinfo->scale_denom = unsigned(a.shrink);
    jpeg_start_decompress(cinfo); // reads every scan of a multi-scan file
    noteScan(a);
    const unsigned all = (1u << std::min(cinfo->num_components, 31)) - 1;
    a.allScans = (a.scannedComponents & all) == all && (!cinfo->progressive_mode || progressionComplete(*cinfo));
    if (a.src.ranOut && !a.allScans) { // the data ended before the picture was whole: no rows needed
        a.err.endsEarly = true;
        a.failed = true;
        jpeg_destroy_decompress(cinfo);
        return;
    }

    const size_t width = cinfo->output_width;
    const size_t height = cinfo->output_height;
    a.rows.stride = (width * 3 + 3) & ~size_t(3);
    if (a.holding == Holding::WithOthers)
        a.rows.hold(int(width), int(height)); // or, without such memory, rows of its own
    if (cmyk)
        a.cmykRow.resize(width * 4);
    const bool inverted = cinfo->saw_Adobe_marker;
    while (cinfo->output_scanline < cinfo->output_height) {
        const size_t y = cinfo->output_scanline;
        if (!a.rows.reserve(y + 1, height)) {
            a.err.outOfMemory = true;
            a.failed = true;
            break;
        }
        uchar *line = a.rows.data + y * a.rows.stride;
        JSAMPROW row = cmyk ? a.cmykRow.data() : line;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
            a.failed = true;
            break;
        }
        if (cmyk)
            cmykToBgr(a.cmykRow.data(), line, cinfo->output_width, inverted);
    }
    if (!a.failed)
        a.image = a.rows.release(int(width), int(height));
    jpeg_destroy_decompress(cinfo);
}

void decodeOnce(Attempt &a, const QByteArray &data, Padding padding, qint64 maxMemory, Holding holding, int shrink)
{
    a.maxMemory = long(std::min<qint64>(maxMemory, LONG_MAX));
    a.holding = holding;
    a.shrink = shrink;
    a.cinfo.err = jpeg_std_error(&a.err.pub);
    a.err.pub.error_exit = onError;
    a.err.pub.emit_message = onMessage;
    a.err.message[0] = 0;
    a.err.corruptCode = 0;
    a.err.tooManyScans = false;
    a.err.tooMuchWork = false;
    a.err.tooShort = false;
    a.err.endsEarly = false;
    a.err.outOfMemory = false;
    a.progress.progress_monitor = onProgress;
    a.src.pub.init_source = initSource;
    a.src.pub.fill_input_buffer = fillInput;
    a.src.pub.skip_input_data = skipInput;
    a.src.pub.resync_to_restart = jpeg_resync_to_restart;
    a.src.pub.term_source = termSource;
    a.src.pub.next_input_byte = reinterpret_cast<const JOCTET *>(data.constData());
    a.src.pub.bytes_in_buffer = size_t(data.size());
    a.src.data = reinterpret_cast<const JOCTET *>(data.constData());
    a.src.size = size_t(data.size());
    a.src.padding = padding;
    a.src.ranOut = false;
    for (size_t i = 0; i + 2 < a.src.ones.size(); i += 2) {
        a.src.ones[i] = 0xff;
        a.src.ones[i + 1] = 0x00;
    }
    a.src.ones[a.src.ones.size() - 2] = 0xff;
    a.src.ones[a.src.ones.size() - 1] = JPEG_EOI;
    run(a);
}

} // namespace

JpegResult decodeJpeg(const QByteArray &data, qint64 maxMemory, Holding holding, int shrink)
{
    maxMemory = std::max(maxMemory, MinMemory);
    JpegResult result;
    auto first = std::make_unique<Attempt>();
    decodeOnce(*first, data, Padding::Zeros, maxMemory, holding, shrink);
    if (first->err.corruptCode) {
        result.error = LoadError::Damaged;
        result.cause = first->err.corruptCode == JWRN_HIT_MARKER
            ? endsEarly()
            : QStringLiteral("its picture data is corrupt: %1").arg(QString::fromLatin1(first->err.message));
        return result;
    }
    if (first->failed) {
        result.error = first->err.outOfMemory ? LoadError::TooLarge : LoadError::Damaged;
        if (first->err.outOfMemory)
            result.cause = QStringLiteral("decoding it needs more than %1 MB").arg(maxMemory / (1024 * 1024));
        else if (first->err.tooManyScans)
            result.cause = QStringLiteral("it holds more than %1 scans").arg(MaxScans);
        else if (first->err.tooMuchWork)
            result.cause = QStringLiteral("it holds more scans than a picture of its size needs");
        // A file that ends inside its tables or its scans breaks libjpeg in many ways, all of
        // which come down to the same thing.
        else if (first->err.endsEarly || first->src.ranOut)
            result.cause = endsEarly();
        else if (first->err.tooShort)
            result.cause = QStringLiteral("its picture data is too short for %1 x %2 pixels")
                               .arg(first->cinfo.image_width).arg(first->cinfo.image_height);
        else
            result.cause = QStringLiteral("the decoder stopped: %1").arg(QString::fromLatin1(first->err.message));
        return result;
    }
    if (first->src.ranOut) {
        // Only a missing end marker is forgiven: every scan must be there, and the picture must
        // not depend on what would have followed. Half a marker (a last byte 0xFF, which coded
        // data never ends with) means the writer was cut off, not that it left the marker out.
        if (data.endsWith('\xff')) {
            result.error = LoadError::Damaged;
            result.cause = QStringLiteral("it ends in the middle of a marker");
            return result;
        }
        bool whole = first->allScans;
        if (whole) {
            auto second = std::make_unique<Attempt>();
            decodeOnce(*second, data, Padding::Ones, maxMemory, Holding::Alone, shrink); // only compared
            whole = !second->failed && !second->err.corruptCode && second->image == first->image;
        }
        if (!whole) {
            result.error = LoadError::Damaged;
            result.cause = endsEarly();
            return result;
        }
    }
    result.image = std::move(first->image);
    return result;
}

} // namespace picture
