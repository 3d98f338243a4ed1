#include "png/png.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace OrbexPng {

namespace {

constexpr size_t kReadChunk = 65536;

// Drops the picture and gives its storage back, not just its size.
void empty_image(Image& image)
{
    image.width = 0;
    image.height = 0;
    std::vector<uint8_t>().swap(image.pixels);
}

// Converts whatever pixel format the decoder produced into RGBA. Every format,
// RGBA included, goes through the converter so there is one road for all.
bool convert_frame(const AVFrame* frame, Image& image)
{
    SwsContext* converter = sws_getContext(frame->width, frame->height,
                                           static_cast<AVPixelFormat>(frame->format),
                                           frame->width, frame->height, AV_PIX_FMT_RGBA,
                                           SWS_POINT, nullptr, nullptr, nullptr);
    if (converter == nullptr) {
        return false;
    }
    image.width = frame->width;
    image.height = frame->height;
    image.pixels.resize(static_cast<uint64_t>(frame->width) * static_cast<uint64_t>(frame->height) * 4u);

    uint8_t* planes[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
    int strides[4] = {frame->width * 4, 0, 0, 0};
    const int rows = sws_scale(converter, frame->data, frame->linesize, 0, frame->height, planes, strides);
    sws_freeContext(converter);
    return rows == frame->height;
}

// The packet's buffer must not free bytes that belong to LoadRgba.
void keep_bytes(void*, uint8_t*) {}

// Points the packet at the input. Bytes that come with the decoder's zeroed
// padding behind them are lent to the packet as they are, so a large file is
// not held twice in memory while it decodes; other bytes are copied.
bool fill_packet(AVPacket* packet, const uint8_t* data, uint64_t size, bool padded)
{
    if (!padded) {
        if (av_new_packet(packet, static_cast<int>(size)) != 0) {
            return false;
        }
        std::memcpy(packet->data, data, size);
        return true;
    }
    uint8_t* bytes = const_cast<uint8_t*>(data);
    packet->buf = av_buffer_create(bytes, size + AV_INPUT_BUFFER_PADDING_SIZE, keep_bytes, nullptr,
                                   AV_BUFFER_FLAG_READONLY);
    if (packet->buf == nullptr) {
        return false;
    }
    packet->data = bytes;
    packet->size = static_cast<int>(size);
    return true;
}

// The decoding proper; the caller owns and frees the three FFmpeg objects.
bool decode_with(AVCodecContext* context, const AVCodec* decoder, AVPacket* packet, AVFrame* frame,
                 const uint8_t* data, uint64_t size, bool padded, Image& image)
{
    const int opened = avcodec_open2(context, decoder, nullptr);
    if (opened < 0) {
        std::fprintf(stderr, "ORBEX PNG: failed to open PNG decoder (FFmpeg error %d)\n", opened);
        return false;
    }
    if (!fill_packet(packet, data, size, padded)) {
        return false;
    }

    int r = avcodec_send_packet(context, packet);
    if (r >= 0) {
        r = avcodec_receive_frame(context, frame);
    }
    if (r == AVERROR(EAGAIN)) {
        // The decoder holds the picture back until it is told no more input comes.
        const int drained = avcodec_send_packet(context, nullptr);
        if (drained < 0) {
            std::fprintf(stderr, "ORBEX PNG: decoding failed (FFmpeg error %d, %zu input bytes)\n",
                         drained, static_cast<size_t>(size));
            return false;
        }
        r = avcodec_receive_frame(context, frame);
    }
    if (r < 0) {
        std::fprintf(stderr, "ORBEX PNG: decoding failed (FFmpeg error %d, %zu input bytes)\n", r,
                     static_cast<size_t>(size));
        return false;
    }
    if (r != 0) {
        return false;
    }
    if (frame->width < 1 || frame->width > kMaxSide || frame->height < 1 || frame->height > kMaxSide) {
        std::fprintf(stderr, "ORBEX PNG: invalid decoded image dimensions %dx%d\n", frame->width, frame->height);
        return false;
    }
    return convert_frame(frame, image);
}

// When padded is true, data is followed by AV_INPUT_BUFFER_PADDING_SIZE zero bytes.
bool decode(const uint8_t* data, uint64_t size, bool padded, Image& image)
{
    empty_image(image);
    if (data == nullptr || size == 0 || size > kMaxInputBytes) {
        return false;
    }

    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_PNG);
    AVCodecContext* context = decoder != nullptr ? avcodec_alloc_context3(decoder) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();

    bool ok = false;
    if (context != nullptr && packet != nullptr && frame != nullptr) {
        ok = decode_with(context, decoder, packet, frame, data, size, padded, image);
    }

    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    if (!ok) {
        empty_image(image);
    }
    return ok;
}

}  // namespace

bool DecodeRgba(const uint8_t* data, uint64_t size, Image& image)
{
    return decode(data, size, false, image);
}

bool LoadRgba(const char* path, Image& image)
{
    empty_image(image);
    FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
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
