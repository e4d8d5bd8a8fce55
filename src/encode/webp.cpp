#include "encode.h"

#include <algorithm>

#include <webp/encode.h>
#include <webp/mux.h>

namespace trel::encode {
namespace {

using trel::scene::failure;
using trel::scene::image;

// Lossless at libwebp's effort level 1 of 0..9: the pictures are flat areas
// of a few dozen colours, which the fastest levels already pack well, and a
// turntable encodes hundreds of frames.
constexpr int effort = 1;

bool losslessconfig(WebPConfig &config) {
    return WebPConfigInit(&config) != 0 && WebPConfigLosslessPreset(&config, effort) != 0 &&
           WebPValidateConfig(&config) != 0;
}

// `picture` imported into `out` as libwebp's ARGB; false when out of memory.
bool import(const image &picture, WebPPicture &out) {
    if (WebPPictureInit(&out) == 0) {
        return false;
    }
    out.use_argb = 1;
    out.width = picture.width;
    out.height = picture.height;
    const int stride = picture.width * picture.channels;
    return picture.channels == 4 ? WebPPictureImportRGBA(&out, picture.bytes.data(), stride) != 0
                                 : WebPPictureImportRGB(&out, picture.bytes.data(), stride) != 0;
}

const char *encodingproblem(WebPEncodingError error) {
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
        return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
        return "the picture is too large for WebP";
    default:
        return "WebP encoding failed";
    }
}

} // namespace

std::vector<unsigned char> webp(const image &picture) {
    if (picture.bits != 8 || (picture.channels != 3 && picture.channels != 4)) {
        throw failure("WebP holds 8-bit colour pictures only");
    }
    WebPConfig config;
    if (!losslessconfig(config)) {
        throw failure("the WebP library refused its settings");
    }
    WebPPicture pic;
    if (!import(picture, pic)) {
        WebPPictureFree(&pic);
        throw failure("out of memory");
    }
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    pic.writer = WebPMemoryWrite;
    pic.custom_ptr = &writer;
    const bool done = WebPEncode(&config, &pic) != 0;
    const char *problem = done ? nullptr : encodingproblem(pic.error_code);
    WebPPictureFree(&pic);
    std::vector<unsigned char> out;
    try {
        if (done) {
            out.assign(writer.mem, writer.mem + writer.size);
        }
    } catch (...) {
        WebPMemoryWriterClear(&writer);
        throw;
    }
    WebPMemoryWriterClear(&writer);
    if (problem != nullptr) {
        throw failure(problem);
    }
    return out;
}

long long turntime(int frames) { return std::max(4000LL, 20LL * frames); }

animation::animation(int width, int height, int frames)
    : width_(width), height_(height), frames_(frames) {
    WebPAnimEncoderOptions options;
    if (WebPAnimEncoderOptionsInit(&options) != 0) {
        options.anim_params.loop_count = 0; // for ever
        // Only a hint to viewers; the frames cover the whole canvas.
        options.anim_params.bgcolor = 0x00000000;
        options.allow_mixed = 0; // every frame lossless
        encoder_ = WebPAnimEncoderNew(width, height, &options);
    }
    if (encoder_ == nullptr) {
        throw failure("cannot make a " + std::to_string(width) + "x" + std::to_string(height) +
                      " WebP animation: out of memory");
    }
}

animation::~animation() { WebPAnimEncoderDelete(encoder_); }

long long animation::timestamp(int frame) const { return turntime(frames_) * frame / frames_; }

void animation::add(const image &frame) {
    if (frame.width != width_ || frame.height != height_ || frame.bits != 8 ||
        (frame.channels != 3 && frame.channels != 4) || added_ >= frames_) {
        throw failure("a WebP animation frame does not fit the animation");
    }
    WebPConfig config;
    if (!losslessconfig(config)) {
        throw failure("the WebP library refused its settings");
    }
    WebPPicture pic;
    if (!import(frame, pic)) {
        WebPPictureFree(&pic);
        throw failure("cannot encode a WebP animation frame: out of memory");
    }
    const bool done =
        WebPAnimEncoderAdd(encoder_, &pic, static_cast<int>(timestamp(added_)), &config) != 0;
    WebPPictureFree(&pic);
    if (!done) {
        const char *why = WebPAnimEncoderGetError(encoder_);
        throw failure(std::string("cannot encode a WebP animation frame: ") +
                      (why != nullptr && *why != '\0' ? why : "failed"));
    }
    ++added_;
}

std::vector<unsigned char> animation::finish() {
    if (added_ != frames_) {
        throw failure("a WebP animation is missing frames");
    }
    // A last, empty addition tells how long the last frame shows.
    if (WebPAnimEncoderAdd(encoder_, nullptr, static_cast<int>(timestamp(frames_)), nullptr) == 0) {
        throw failure(std::string("cannot finish the WebP animation: ") +
                      WebPAnimEncoderGetError(encoder_));
    }
    WebPData data;
    WebPDataInit(&data);
    if (WebPAnimEncoderAssemble(encoder_, &data) == 0) {
        throw failure(std::string("cannot finish the WebP animation: ") +
                      WebPAnimEncoderGetError(encoder_));
    }
    std::vector<unsigned char> out;
    try {
        out.assign(data.bytes, data.bytes + data.size);
    } catch (...) {
        WebPDataClear(&data);
        throw;
    }
    WebPDataClear(&data);
    return out;
}

} // namespace trel::encode
