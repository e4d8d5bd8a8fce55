// Encoding pictures as lossless WebP: a still picture, or a turntable as one
// looping animation built frame by frame, so that the frames need not all be
// held at once.
#ifndef TREL_RENDER_WEBPOUT_H
#define TREL_RENDER_WEBPOUT_H

#include <string>
#include <vector>

#include <trel/scene.h>

struct WebPAnimEncoder;

namespace render {

using trel::scene::image;

// Encodes an 8-bit RGB or RGBA `picture` as a lossless WebP into `out`; the
// problem, or empty.
std::string encodewebp(const image &picture, std::vector<unsigned char> &out);

// How long an animation of `frames` frames takes once round, in milliseconds:
// four seconds, or 20 ms a frame when there are more than 200 frames (browsers
// show frames shorter than that for longer than asked).
long long turntime(int frames);

// A looping lossless WebP animation of a known number of frames of one size.
// Each frame shows from turntime(frames) * k / frames milliseconds on, so the
// frames share the turn evenly to within a millisecond.
class webpanimation {
  public:
    // Throws failure when the encoder cannot be made (no memory).
    webpanimation(int width, int height, int frames);
    ~webpanimation();
    webpanimation(const webpanimation &) = delete;
    webpanimation &operator=(const webpanimation &) = delete;

    // Adds the next frame, 8-bit RGB or RGBA of the animation's size. Throws
    // failure with the encoder's problem.
    void add(const image &frame);
    // The animation file, once every frame was added. Throws failure.
    std::vector<unsigned char> finish();

  private:
    long long timestamp(int frame) const;

    WebPAnimEncoder *encoder_ = nullptr;
    int width_;
    int height_;
    int frames_;
    int added_ = 0;
};

} // namespace render

#endif
