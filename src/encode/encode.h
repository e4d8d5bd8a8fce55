// The pictures the scene layer draws, as the bytes of a file: PNG for every
// kind of picture (RGB, RGBA, 8- or 16-bit grey), lossless WebP for 8-bit
// colour, and a turntable as one looping WebP animation; and the names the
// pictures of a batch get. Encoding and naming only: nothing is written, no
// signals. Every function throws trel::scene::failure with a short
// reason ("out of memory", "the picture is too large for WebP") that a caller
// puts after the name of what it was writing.
#ifndef TREL_ENCODE_ENCODE_H
#define TREL_ENCODE_ENCODE_H

#include <compare>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include <trel/scene.h>

struct WebPAnimEncoder;

namespace trel::encode {

// The formats written, told by a file name's extension in any case: .png, or
// .webp. A name without an extension (and "-", standard output) is a PNG.
enum class format { png, webp };

// The format `path` names, or false when its extension is neither.
bool formatof(const std::string &path, format &out);

// The extension a format's files carry, with its dot: ".png", ".webp".
const char *extension(format f);

// `name` under Unicode simple case folding, as case-insensitive file systems
// (macOS, Windows, exFAT, Samba) compare names: two pictures whose names fold
// alike would overwrite one another there. Covers the scripts file names are
// mostly written in (Latin, Greek, Cyrillic, Armenian, Georgian and more); a
// name that is not valid UTF-8 comes back unchanged, compared byte for byte.
std::string foldcase(const std::string &name);

// What a name stands for, however it is spelt (a link, "./", a hard link):
// an existing file's device and inode; for a file yet to be made, when
// `tobemade`, its folder's and its own name.
struct fileid {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name; // empty for an existing file
    auto operator<=>(const fileid &) const = default;
};
std::optional<fileid> identify(const std::string &path, bool tobemade = false);

// The picture each of `meshes` becomes in `outdir` when a batch draws them,
// in the same order: STEM.png after the mesh's file name; NAME.png (a.stl.png,
// a.obj.png) for every mesh whose STEM.png another would also take (names
// compared under foldcase); and, where even that is taken, NAME-2.png,
// NAME-3.png, ... for the second, third, ... such mesh in the order given. A
// name is taken too when it already is one of the meshes (or the same file as
// an earlier picture) in `outdir`. An empty mesh name stands for the built-in
// bunny, bunny.png.
std::vector<std::string> batchoutputs(const std::vector<std::string> &meshes,
                                      const std::string &outdir);

// `picture` as a PNG file: as indices into a palette when it holds at most
// 256 colours (which decodes to the same pixels), else as it is; rows
// unfiltered, deflated at zlib's level 3.
std::vector<unsigned char> png(const trel::scene::image &picture);

// An 8-bit RGB or RGBA `picture` as a lossless WebP file.
std::vector<unsigned char> webp(const trel::scene::image &picture);

// `picture` in format `f`.
std::vector<unsigned char> encoded(const trel::scene::image &picture, format f);

// True when `head` (a file's first bytes) begins as a PNG or a WebP file does.
bool ispicture(const unsigned char *head, std::size_t size);

// How long an animation of `frames` frames takes once round, in milliseconds:
// four seconds, or 20 ms a frame when there are more than 200 frames (browsers
// show frames shorter than that for longer than asked).
long long turntime(int frames);

// A looping lossless WebP animation of a known number of frames of one size,
// built frame by frame so that the frames need not all be held at once. Each
// frame shows from turntime(frames) * k / frames milliseconds on, so the
// frames share the turn evenly to within a millisecond.
class animation {
  public:
    // Throws failure when the encoder cannot be made (no memory).
    animation(int width, int height, int frames);
    ~animation();
    animation(const animation &) = delete;
    animation &operator=(const animation &) = delete;

    // Adds the next frame, 8-bit RGB or RGBA of the animation's size.
    void add(const trel::scene::image &frame);
    // The animation file, once every frame was added.
    std::vector<unsigned char> finish();

  private:
    long long timestamp(int frame) const;

    WebPAnimEncoder *encoder_ = nullptr;
    int width_;
    int height_;
    int frames_;
    int added_ = 0;
};

} // namespace trel::encode

#endif
