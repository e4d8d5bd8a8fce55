// Small helpers on text and file descriptors that every stage of trel-render
// shares: ASCII lower case, messages kept to one line, names folded for
// comparison as case-insensitive file systems compare them, whole writes,
// and the progress bar.
#ifndef TREL_RENDER_TEXT_H
#define TREL_RENDER_TEXT_H

#include <cstddef>
#include <string>

#include "encode.h"

namespace render {

// `text` with the ASCII letters in lower case, as option words are compared.
std::string lowercase(std::string text);

// A message on one line, whatever put line breaks in it.
std::string oneline(std::string text);

// Names folded for comparison: the encoders' foldcase.
using trel::encode::foldcase;

// Writes all of `text` to `fd`, going on after interruptions; false when the
// descriptor refused it.
bool writeall(int fd, const void *data, std::size_t size);
inline bool writeall(int fd, const std::string &text) {
    return writeall(fd, text.data(), text.size());
}

// "[#########       ] 12/40" on one line of a terminal, redrawn as work is
// done; nothing when stderr is not a terminal.
class progressbar {
  public:
    explicit progressbar(std::size_t total);
    // A line of its own on stderr, above the bar.
    void say(const std::string &line, std::size_t done);
    void draw(std::size_t done);

  private:
    std::size_t total_;
    bool shown_;
};

} // namespace render

#endif
