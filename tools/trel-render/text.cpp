#include "text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>

#include <unistd.h>

namespace render {

std::string lowercase(std::string text) {
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string oneline(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

bool writeall(int fd, const void *data, std::size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

progressbar::progressbar(std::size_t total)
    : total_(total), shown_(total > 0 && ::isatty(STDERR_FILENO) == 1) {
    draw(0);
}

void progressbar::say(const std::string &line, std::size_t done) {
    std::string text = shown_ ? "\r\033[K" : "";
    text += line + "\n";
    writeall(STDERR_FILENO, text);
    draw(done);
}

void progressbar::draw(std::size_t done) {
    if (!shown_) {
        return;
    }
    constexpr std::size_t cells = 30;
    const std::size_t filled = done * cells / total_;
    std::string text = "\r[" + std::string(filled, '#') + std::string(cells - filled, ' ') + "] " +
                       std::to_string(done) + "/" + std::to_string(total_);
    if (done == total_) {
        text += "\n";
    }
    writeall(STDERR_FILENO, text);
}

} // namespace render
