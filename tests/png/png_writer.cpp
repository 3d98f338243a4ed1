#include "png_writer.h"

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

std::vector<uint8_t> Encode(int width, int height, AVPixelFormat format, const std::vector<uint8_t>& rows,
                            const std::vector<uint32_t>& palette)
{
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
            if (avcodec_send_frame(context, frame) >= 0 && avcodec_send_frame(context, nullptr) >= 0 &&
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

std::vector<uint8_t> EncodePattern(int width, int height)
{
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

std::vector<uint8_t> EncodeSolid(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    std::vector<uint8_t> rows(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (size_t i = 0; i < rows.size(); i += 4) {
        rows[i] = r;
        rows[i + 1] = g;
        rows[i + 2] = b;
        rows[i + 3] = a;
    }
    return Encode(width, height, AV_PIX_FMT_RGBA, rows);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace TestPng
