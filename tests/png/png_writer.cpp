#include "png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

namespace TestPng {

std::vector<uint8_t> Encode(int width, int height, AVPixelFormat format,
                            const std::vector<uint8_t>& rows,
                            const std::vector<uint32_t>& palette) {
    std::vector<uint8_t> out;
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_PNG);
    AVCodecContext* context = encoder ? avcodec_alloc_context3(encoder) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (context && frame && packet) {
        context->width = width;
        context->height = height;
        context->pix_fmt = format;
        context->time_base = AVRational{1, 25};
        frame->width = width;
        frame->height = height;
        frame->format = format;
        if (avcodec_open2(context, encoder, nullptr) >= 0 && av_frame_get_buffer(frame, 0) >= 0) {
            const int row_bytes = av_image_get_linesize(format, width, 0);
            for (int y = 0; y < height; ++y) {
                std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0],
                            rows.data() + static_cast<size_t>(y) * static_cast<size_t>(row_bytes),
                            static_cast<size_t>(row_bytes));
            }
            if (format == AV_PIX_FMT_PAL8) {
                std::memset(frame->data[1], 0, 1024);
                std::memcpy(frame->data[1], palette.data(), palette.size() * 4);
            }
            if (avcodec_send_frame(context, frame) >= 0 &&
                avcodec_send_frame(context, nullptr) >= 0 &&
                avcodec_receive_packet(context, packet) >= 0) {
                out.assign(packet->data, packet->data + packet->size);
            }
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return out;
}

std::vector<uint8_t> EncodePattern(int width, int height) {
    std::vector<uint8_t> rows(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rows[i++] = static_cast<uint8_t>(x);
            rows[i++] = static_cast<uint8_t>(y);
            rows[i++] = static_cast<uint8_t>(x ^ y);
            rows[i++] = 255;
        }
    }
    return Encode(width, height, AV_PIX_FMT_RGBA, rows);
}

std::vector<uint8_t> EncodeSolid(int width, int height, uint8_t r, uint8_t g, uint8_t b,
                                 uint8_t a) {
    std::vector<uint8_t> rows(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (size_t i = 0; i < rows.size(); i += 4) {
        rows[i] = r;
        rows[i + 1] = g;
        rows[i + 2] = b;
        rows[i + 3] = a;
    }
    return Encode(width, height, AV_PIX_FMT_RGBA, rows);
}

namespace {

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

}  // namespace

void AddChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& body) {
    put32(png, static_cast<uint32_t>(body.size()));
    const size_t crc_from = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    put32(png, static_cast<uint32_t>(
                   crc32(0, png.data() + crc_from, static_cast<uInt>(png.size() - crc_from))));
}

std::vector<uint8_t> HandMade(
    uint32_t width, uint32_t height, uint8_t depth, uint8_t colour, uint8_t interlace,
    const std::vector<uint8_t>& image_data,
    const std::vector<std::pair<const char*, std::vector<uint8_t>>>& extra) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> header;
    put32(header, width);
    put32(header, height);
    header.insert(header.end(), {depth, colour, 0, 0, interlace});
    AddChunk(png, "IHDR", header);
    for (const auto& chunk : extra) {
        AddChunk(png, chunk.first, chunk.second);
    }
    for (size_t at = 0; at < image_data.size(); at += 65536) {
        const size_t end = std::min(image_data.size(), at + 65536);
        AddChunk(png, "IDAT",
                 std::vector<uint8_t>(image_data.begin() + static_cast<std::ptrdiff_t>(at),
                                      image_data.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    AddChunk(png, "IEND", {});
    return png;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> out(compressBound(static_cast<uLong>(raw.size())));
    uLongf length = static_cast<uLongf>(out.size());
    if (compress2(out.data(), &length, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) {
        return {};
    }
    out.resize(length);
    return out;
}

std::vector<uint8_t> NamedStream(const char* name, const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> body(name, name + std::strlen(name));
    body.push_back(0);
    body.push_back(0);
    body.insert(body.end(), stream.begin(), stream.end());
    return body;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    const bool ok =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace TestPng
