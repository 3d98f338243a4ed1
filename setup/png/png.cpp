#include "png/png.h"

#include "utf8_paths.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <zlib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/macros.h>
#include <libswscale/swscale.h>
}

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace OrbexPng {

namespace {

// FFmpeg's functions as the loader calls them. On Windows FFmpeg is linked in
// statically. Elsewhere its shared libraries bring some ninety others with
// them (every codec's own library), which would cost each start of the
// program a few tens of milliseconds before main even when no picture is
// shown; so they are loaded when the first picture is decoded.
struct Ffmpeg {
    decltype(&avcodec_find_decoder) find_decoder = nullptr;
    decltype(&avcodec_alloc_context3) alloc_context = nullptr;
    decltype(&avcodec_open2) open = nullptr;
    decltype(&avcodec_send_packet) send_packet = nullptr;
    decltype(&avcodec_receive_frame) receive_frame = nullptr;
    decltype(&avcodec_free_context) free_context = nullptr;
    decltype(&av_packet_alloc) packet_alloc = nullptr;
    decltype(&av_packet_free) packet_free = nullptr;
    decltype(&av_packet_unref) packet_unref = nullptr;
    decltype(&av_new_packet) new_packet = nullptr;
    decltype(&av_buffer_create) buffer_create = nullptr;
    decltype(&av_frame_alloc) frame_alloc = nullptr;
    decltype(&av_frame_free) frame_free = nullptr;
    decltype(&sws_getContext) get_converter = nullptr;
    decltype(&sws_scale) scale = nullptr;
    decltype(&sws_freeContext) free_converter = nullptr;
};

#ifdef _WIN32
bool bind_ffmpeg(Ffmpeg& f, std::string&) {
    f = {avcodec_find_decoder,  avcodec_alloc_context3, avcodec_open2,    avcodec_send_packet,
         avcodec_receive_frame, avcodec_free_context,   av_packet_alloc,  av_packet_free,
         av_packet_unref,       av_new_packet,          av_buffer_create, av_frame_alloc,
         av_frame_free,         sws_getContext,         sws_scale,        sws_freeContext};
    return true;
}
#else
// The library of the major version the loader was compiled against; it stays
// loaded for the rest of the run.
void* open_library(const char* soname, std::string& why) {
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        why = reason != nullptr ? reason : soname;
    }
    return library;
}

template <typename Function>
bool bind(void* library, const char* name, Function& slot, std::string& why) {
    dlerror();
    slot = reinterpret_cast<Function>(dlsym(library, name));
    if (slot == nullptr) {
        const char* reason = dlerror();
        why = reason != nullptr ? reason : name;
    }
    return slot != nullptr;
}

bool bind_ffmpeg(Ffmpeg& f, std::string& why) {
    void* codec = open_library("libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), why);
    void* util = codec != nullptr
                     ? open_library("libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), why)
                     : nullptr;
    void* scaler = util != nullptr
                       ? open_library("libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR), why)
                       : nullptr;
    return scaler != nullptr && bind(codec, "avcodec_find_decoder", f.find_decoder, why) &&
           bind(codec, "avcodec_alloc_context3", f.alloc_context, why) &&
           bind(codec, "avcodec_open2", f.open, why) &&
           bind(codec, "avcodec_send_packet", f.send_packet, why) &&
           bind(codec, "avcodec_receive_frame", f.receive_frame, why) &&
           bind(codec, "avcodec_free_context", f.free_context, why) &&
           bind(codec, "av_packet_alloc", f.packet_alloc, why) &&
           bind(codec, "av_packet_free", f.packet_free, why) &&
           bind(codec, "av_packet_unref", f.packet_unref, why) &&
           bind(codec, "av_new_packet", f.new_packet, why) &&
           bind(util, "av_buffer_create", f.buffer_create, why) &&
           bind(util, "av_frame_alloc", f.frame_alloc, why) &&
           bind(util, "av_frame_free", f.frame_free, why) &&
           bind(scaler, "sws_getContext", f.get_converter, why) &&
           bind(scaler, "sws_scale", f.scale, why) &&
           bind(scaler, "sws_freeContext", f.free_converter, why);
}
#endif

// The bound functions, or null (with the reason on standard error) when
// FFmpeg cannot be loaded. Bound once, on the first call, from any thread.
const Ffmpeg* ffmpeg() {
    static std::string why;
    static Ffmpeg functions;
    static const bool bound = bind_ffmpeg(functions, why);
    if (!bound) {
        std::fprintf(stderr, "ORBEX PNG: FFmpeg could not be loaded: %s\n", why.c_str());
        return nullptr;
    }
    return &functions;
}

constexpr size_t kReadChunk = 65536;

// Drops the picture and gives its storage back, not just its size.
void empty_image(Image& image) {
    image.width = 0;
    image.height = 0;
    std::vector<uint8_t>().swap(image.pixels);
}

// Converts whatever pixel format the decoder produced into RGBA. Every format,
// RGBA included, goes through the converter so there is one road for all.
bool convert_frame(const Ffmpeg& f, const AVFrame* frame, Image& image) {
    SwsContext* converter = f.get_converter(
        frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
        frame->height, AV_PIX_FMT_RGBA, SWS_POINT, nullptr, nullptr, nullptr);
    if (converter == nullptr) {
        return false;
    }
    image.width = frame->width;
    image.height = frame->height;
    image.pixels.resize(static_cast<uint64_t>(frame->width) * static_cast<uint64_t>(frame->height) *
                        4u);

    uint8_t* planes[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
    int strides[4] = {frame->width * 4, 0, 0, 0};
    const int rows =
        f.scale(converter, frame->data, frame->linesize, 0, frame->height, planes, strides);
    f.free_converter(converter);
    return rows == frame->height;
}

// The packet's buffer must not free bytes that belong to LoadRgba.
void keep_bytes(void*, uint8_t*) {}

// Points the packet at the input. Bytes that come with the decoder's zeroed
// padding behind them are lent to the packet as they are, so a large file is
// not held twice in memory while it decodes; other bytes are copied.
bool fill_packet(const Ffmpeg& f, AVPacket* packet, const uint8_t* data, uint64_t size,
                 bool padded) {
    if (!padded) {
        if (f.new_packet(packet, static_cast<int>(size)) != 0) {
            return false;
        }
        std::memcpy(packet->data, data, size);
        return true;
    }
    uint8_t* bytes = const_cast<uint8_t*>(data);
    packet->buf = f.buffer_create(bytes, size + AV_INPUT_BUFFER_PADDING_SIZE, keep_bytes, nullptr,
                                  AV_BUFFER_FLAG_READONLY);
    if (packet->buf == nullptr) {
        return false;
    }
    packet->data = bytes;
    packet->size = static_cast<int>(size);
    return true;
}

uint32_t big_endian_32(const uint8_t* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           bytes[3];
}

// How many bytes a picture's image data inflates to: one filter byte and the
// packed pixels of each row, pass by pass when interlaced. 0 for a colour
// type or depth that the format does not know.
uint64_t inflated_size(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour,
                       bool interlaced) {
    uint64_t channels = 0;
    switch (colour) {
        case 0:
        case 3:
            channels = 1;
            break;
        case 2:
            channels = 3;
            break;
        case 4:
            channels = 2;
            break;
        case 6:
            channels = 4;
            break;
        default:
            return 0;
    }
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) {
        return 0;
    }
    const uint64_t bits = channels * depth;
    const auto rows = [bits](uint64_t w, uint64_t h) {
        return w == 0 ? 0 : h * (1 + (w * bits + 7) / 8);
    };
    if (!interlaced) {
        return rows(width, height);
    }
    static const uint32_t passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    uint64_t total = 0;
    for (const auto& p : passes) {
        const uint64_t w = width > p[0] ? (uint64_t{width} - p[0] + p[2] - 1) / p[2] : 0;
        const uint64_t h = height > p[1] ? (uint64_t{height} - p[1] + p[3] - 1) / p[3] : 0;
        total += rows(w, h);
    }
    return total;
}

// Deflate's stored blocks hold at most this many bytes each, behind a
// five-byte header.
constexpr uint64_t kStoredBlock = 65535;
constexpr uint64_t kStoredHeader = 5;

// Where output byte `at` of a zlib stream of stored blocks lies in it: behind
// the two-byte stream header and the headers of its block and those before.
uint64_t stored_offset(uint64_t at) {
    return 2 + (at / kStoredBlock + 1) * kStoredHeader + at;
}

// Counts what a zlib stream inflates to, fed in pieces, and stops counting as
// soon as the count passes a limit. The first `keep_size` bytes that come out
// are kept at `keep`, laid out as the contents of stored blocks (see
// stored_offset); the rest is thrown away.
struct InflateMeter {
    z_stream stream{};
    bool ready = false;
    bool ended = false;     // the stream ended, or FFmpeg will refuse it as it does
    bool finished = false;  // it ended as a stream should, its checksum right
    bool surplus = false;   // input came after its end
    uint64_t count = 0;
    uint8_t* keep = nullptr;
    uint64_t keep_size = 0;
    std::vector<uint8_t> scratch = std::vector<uint8_t>(65536);

    InflateMeter() { ready = inflateInit(&stream) == Z_OK; }
    ~InflateMeter() {
        if (ready) {
            inflateEnd(&stream);
        }
    }
    InflateMeter(const InflateMeter&) = delete;
    InflateMeter& operator=(const InflateMeter&) = delete;

    // False once more than limit bytes have come out.
    bool feed(const uint8_t* bytes, uint64_t length, uint64_t limit) {
        if (!ready || ended) {
            surplus = surplus || length > 0;
            return true;
        }
        stream.next_in = const_cast<uint8_t*>(bytes);
        stream.avail_in = static_cast<uInt>(length);
        while (stream.avail_in > 0) {
            uint64_t room = scratch.size();
            stream.next_out = scratch.data();
            if (count < keep_size) {
                room = std::min(kStoredBlock - count % kStoredBlock, keep_size - count);
                stream.next_out = keep + stored_offset(count);
            }
            stream.avail_out = static_cast<uInt>(room);
            const int result = inflate(&stream, Z_NO_FLUSH);
            count += room - stream.avail_out;
            if (count > limit) {
                return false;
            }
            if (result != Z_OK) {
                ended = true;
                finished = result == Z_STREAM_END;
                surplus = stream.avail_in > 0;
                break;
            }
        }
        return true;
    }
};

// A copy of a PNG whose image data FFmpeg takes in at the speed of a copy:
// its IDAT chunks are replaced by one that holds the same rows as a zlib
// stream of stored blocks, inflated once by the screening, where FFmpeg
// would otherwise inflate every row a second time. The copy is laid in the
// vector that later holds the result: the conversion overwrites it, and the
// pages it touches first are those the result needs anyway.
struct Repack {
    std::vector<uint8_t>* store = nullptr;  // null: FFmpeg reads the bytes as they came
    uint64_t idat_at = 0;                   // where the first IDAT chunk starts, in both files
    uint64_t idat_end = 0;                  // where the last one ends, in the original
    uint64_t rows = 0;                      // bytes the stream holds
    uint64_t stream_size = 0;
    uint64_t size = 0;  // of the copy, without the decoder's zeroed padding

    // Room for the copy in `target`, zeroed; false leaves it unused.
    bool start(std::vector<uint8_t>& target, uint64_t first, uint64_t end, uint64_t file_size,
               uint64_t row_bytes, uint64_t result_bytes) {
        idat_at = first;
        idat_end = end;
        rows = row_bytes;
        const uint64_t blocks = (rows + kStoredBlock - 1) / kStoredBlock;
        stream_size = 2 + blocks * kStoredHeader + rows + 4;
        if (stream_size > 0x7fffffff) {
            return false;
        }
        size = idat_at + 12 + stream_size + (file_size - idat_end);
        target.reserve(std::max(size + AV_INPUT_BUFFER_PADDING_SIZE, result_bytes));
        target.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
        store = &target;
        return true;
    }

    uint8_t* bytes() const { return store != nullptr ? store->data() : nullptr; }
    uint8_t* stream() const { return bytes() + idat_at + 8; }

    // Lays the rest of the copy around the inflated rows: the bytes before
    // and after the original's IDAT chunks, the stream's header, block
    // headers and checksum, the chunk's length and CRC.
    void finish(const uint8_t* data, uint32_t adler) {
        uint8_t* out = bytes();
        std::memcpy(out, data, idat_at);
        put_32(out + idat_at, static_cast<uint32_t>(stream_size));
        std::memcpy(out + idat_at + 4, "IDAT", 4);
        uint8_t* s = stream();
        s[0] = 0x78;  // deflate with a 32 KiB window; 0x7801 is a multiple of 31
        s[1] = 0x01;
        for (uint64_t at = 0; at < rows; at += kStoredBlock) {
            const uint16_t length = static_cast<uint16_t>(std::min(kStoredBlock, rows - at));
            const uint16_t complement = static_cast<uint16_t>(~length);
            uint8_t* header = s + stored_offset(at) - kStoredHeader;
            header[0] = at + length == rows ? 1 : 0;  // the last block says so
            header[1] = static_cast<uint8_t>(length);
            header[2] = static_cast<uint8_t>(length >> 8);
            header[3] = static_cast<uint8_t>(complement);
            header[4] = static_cast<uint8_t>(complement >> 8);
        }
        put_32(s + stream_size - 4, adler);
        put_32(s + stream_size, static_cast<uint32_t>(crc32(crc32(0, out + idat_at + 4, 4), s,
                                                            static_cast<uInt>(stream_size))));
        std::memcpy(s + stream_size + 4, data + idat_end, size - (idat_at + 12 + stream_size));
    }

    // Gives the room back: FFmpeg reads the original.
    void drop() {
        if (store != nullptr) {
            std::vector<uint8_t>().swap(*store);
            store = nullptr;
        }
    }

    static void put_32(uint8_t* at, uint32_t value) {
        at[0] = static_cast<uint8_t>(value >> 24);
        at[1] = static_cast<uint8_t>(value >> 16);
        at[2] = static_cast<uint8_t>(value >> 8);
        at[3] = static_cast<uint8_t>(value);
    }
};

// Where the image data lies: from the start of the first IDAT chunk to the
// end of the last, chunks read as FFmpeg reads them. False when there is
// none, or when other chunks lie between them.
bool idat_run(const uint8_t* data, uint64_t size, uint64_t& first, uint64_t& end) {
    first = 0;
    end = 0;
    for (uint64_t at = 8; size - at >= 12;) {
        const uint64_t length = big_endian_32(data + at);
        if (length > size - at - 12 || std::memcmp(data + at + 4, "IEND", 4) == 0) {
            break;
        }
        if (std::memcmp(data + at + 4, "IDAT", 4) == 0) {
            if (end != 0 && end != at) {
                return false;
            }
            first = end == 0 ? at : first;
            end = at + 12 + length;
        }
        at += 12 + length;
    }
    return end != 0;
}

// Text and colour profiles are nothing this loader shows; FFmpeg keeps them
// whole, however large, so they get a modest allowance of their own.
constexpr uint64_t kMetadataAllowance = uint64_t{16} << 20;

// Looks at a PNG's chunks before FFmpeg does, for files that cost far more
// than their size. FFmpeg allocates its frame from the declared size before
// any row arrives, so a small file declaring a huge picture would claim
// gigabytes. It inflates every byte of the image data, even past the last
// row, so a few megabytes that inflate to gigabytes would hold the start-up
// for minutes; and it inflates compressed text and colour profiles without
// any bound. False (with a line) refuses the bytes. Anything that does not
// look like a PNG, or that FFmpeg refuses by itself, is left to FFmpeg.
// The rows inflated on the way are kept in `repack`, in `store`, when the
// file allows.
bool screen_png(const uint8_t* data, uint64_t size, std::vector<uint8_t>& store, Repack& repack) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size < 33 || std::memcmp(data, signature, 8) != 0 || big_endian_32(data + 8) != 13 ||
        std::memcmp(data + 12, "IHDR", 4) != 0) {
        return true;
    }
    const uint32_t width = big_endian_32(data + 16);
    const uint32_t height = big_endian_32(data + 20);
    if (width > static_cast<uint32_t>(kMaxSide) || height > static_cast<uint32_t>(kMaxSide)) {
        std::fprintf(stderr, "ORBEX PNG: invalid decoded image dimensions %ux%u\n", width, height);
        return false;
    }
    const uint64_t needed = inflated_size(width, height, data[24], data[25], data[28] != 0);
    // Encoders write exactly what the rows need; room for twice that keeps
    // any odd but honest file, while bounding what FFmpeg can be made to do.
    const uint64_t image_allowance = 2 * needed + (uint64_t{1} << 20);

    InflateMeter image_data;
    // The copy lives beside FFmpeg's frame until the conversion: rows larger
    // than those of the result, 8-bit RGBA, (16-bit samples) would raise the
    // peak, and such files keep the slower road.
    uint64_t idat_first = 0;
    uint64_t idat_end = 0;
    if (needed > 0 && needed <= inflated_size(width, height, 8, 6, data[28] != 0) &&
        idat_run(data, size, idat_first, idat_end) &&
        repack.start(store, idat_first, idat_end, size, needed, uint64_t{width} * height * 4)) {
        image_data.keep = repack.stream();
        image_data.keep_size = needed;
    }
    uint64_t metadata = 0;
    bool within = true;
    for (uint64_t at = 8; within && size - at >= 12;) {
        const uint64_t length = big_endian_32(data + at);
        if (length > size - at - 12) {
            break;  // FFmpeg stops at a chunk that runs past the end
        }
        const uint8_t* type = data + at + 4;
        const uint8_t* body = data + at + 8;
        if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
        if (std::memcmp(type, "IDAT", 4) == 0) {
            within = image_data.feed(body, length, image_allowance);
        } else if (std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "iCCP", 4) == 0) {
            // A name, its NUL, the compression method byte, then the stream.
            const void* name_end = std::memchr(body, 0, static_cast<size_t>(length));
            const uint64_t skip =
                name_end ? static_cast<const uint8_t*>(name_end) - body + 2 : length;
            if (skip < length) {
                InflateMeter meter;
                within = meter.feed(body + skip, length - skip, kMetadataAllowance - metadata);
                metadata += meter.count;
            }
        }
        at += 12 + length;
    }
    if (!within) {
        std::fprintf(
            stderr,
            "ORBEX PNG: compressed data inflates far beyond a %ux%u picture (%zu input bytes)\n",
            width, height, static_cast<size_t>(size));
    }
    // Only rows that are exactly the picture's, in a stream that ended right
    // with the image data, are handed on as a copy; FFmpeg reads anything
    // else as it came, with its own handling of what is odd about it.
    if (within && repack.store != nullptr && image_data.finished && !image_data.surplus &&
        image_data.count == needed) {
        repack.finish(data, static_cast<uint32_t>(image_data.stream.adler));
    } else {
        repack.drop();
    }
    return within;
}

// The decoding proper; the caller owns and frees the three FFmpeg objects.
// The repacked copy, when there is one, is what FFmpeg reads.
bool decode_with(const Ffmpeg& f, AVCodecContext* context, const AVCodec* decoder, AVPacket* packet,
                 AVFrame* frame, const uint8_t* data, uint64_t size, bool padded, Repack& repack,
                 Image& image) {
    const int opened = f.open(context, decoder, nullptr);
    if (opened < 0) {
        std::fprintf(stderr, "ORBEX PNG: failed to open PNG decoder (FFmpeg error %d)\n", opened);
        return false;
    }
    const bool repacked = repack.store != nullptr;
    if (!fill_packet(f, packet, repacked ? repack.bytes() : data, repacked ? repack.size : size,
                     repacked || padded)) {
        return false;
    }

    int r = f.send_packet(context, packet);
    if (r >= 0) {
        r = f.receive_frame(context, frame);
    }
    if (r == AVERROR(EAGAIN)) {
        // The decoder holds the picture back until it is told no more input comes.
        const int drained = f.send_packet(context, nullptr);
        if (drained < 0) {
            std::fprintf(stderr, "ORBEX PNG: decoding failed (FFmpeg error %d, %zu input bytes)\n",
                         drained, static_cast<size_t>(size));
            return false;
        }
        r = f.receive_frame(context, frame);
    }
    if (r < 0) {
        std::fprintf(stderr, "ORBEX PNG: decoding failed (FFmpeg error %d, %zu input bytes)\n", r,
                     static_cast<size_t>(size));
        return false;
    }
    if (r != 0) {
        return false;
    }
    f.packet_unref(packet);  // the conversion writes over the copy
    if (frame->width < 1 || frame->width > kMaxSide || frame->height < 1 ||
        frame->height > kMaxSide) {
        std::fprintf(stderr, "ORBEX PNG: invalid decoded image dimensions %dx%d\n", frame->width,
                     frame->height);
        return false;
    }
    return convert_frame(f, frame, image);
}

// When padded is true, data is followed by AV_INPUT_BUFFER_PADDING_SIZE zero bytes.
bool decode(const uint8_t* data, uint64_t size, bool padded, Image& image) {
    empty_image(image);
    if (data == nullptr || size == 0 || size > kMaxInputBytes) {
        return false;
    }
    Repack repack;
    if (!screen_png(data, size, image.pixels, repack)) {
        empty_image(image);
        return false;
    }

    const Ffmpeg* loaded = ffmpeg();
    if (loaded == nullptr) {
        empty_image(image);
        return false;
    }
    const Ffmpeg& f = *loaded;
    const AVCodec* decoder = f.find_decoder(AV_CODEC_ID_PNG);
    AVCodecContext* context = decoder != nullptr ? f.alloc_context(decoder) : nullptr;
    AVPacket* packet = f.packet_alloc();
    AVFrame* frame = f.frame_alloc();

    bool ok = false;
    if (context != nullptr && packet != nullptr && frame != nullptr) {
        ok = decode_with(f, context, decoder, packet, frame, data, size, padded, repack, image);
    }

    f.frame_free(&frame);
    f.packet_free(&packet);
    f.free_context(&context);
    if (!ok) {
        empty_image(image);
    }
    return ok;
}

}  // namespace

bool DecodeRgba(const uint8_t* data, uint64_t size, Image& image) {
    return decode(data, size, false, image);
}

bool LoadRgba(const char* path, Image& image) {
    empty_image(image);
    FILE* file = path != nullptr ? fopen_utf8(path, "rb") : nullptr;
    if (file == nullptr) {
        std::perror("ORBEX PNG: could not open image");
        return false;
    }

    std::vector<uint8_t> bytes;
    // Sizing the buffer once up front keeps a large file from being copied on
    // every growth step; the cap bounds what an oversized file can claim.
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long length = std::ftell(file);
        if (length > 0) {
            const uint64_t expected = static_cast<uint64_t>(length) < kMaxInputBytes + kReadChunk
                                          ? static_cast<uint64_t>(length)
                                          : kMaxInputBytes + kReadChunk;
            bytes.reserve(static_cast<size_t>(expected) + AV_INPUT_BUFFER_PADDING_SIZE);
        }
    }
    std::rewind(file);

    std::vector<uint8_t> chunk(kReadChunk);
    for (;;) {
        const size_t got = std::fread(chunk.data(), 1, kReadChunk, file);
        if (got == 0) {
            break;
        }
        // Past the cap the decoder refuses the input anyway; reading on would
        // only spend memory on a file that can never be shown.
        if (bytes.size() > kMaxInputBytes) {
            break;
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    }
    std::fclose(file);

    const uint64_t size = bytes.size();
    bytes.resize(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const bool ok = decode(size == 0 ? nullptr : bytes.data(), size, true, image);
    std::vector<uint8_t>().swap(bytes);
    return ok;
}

}  // namespace OrbexPng
