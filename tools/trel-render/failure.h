// The one kind of error trel-render reports: a problem with what the user asked
// for or gave it, told in one line and ending the run with status 2.
#ifndef TREL_RENDER_FAILURE_H
#define TREL_RENDER_FAILURE_H

#include <stdexcept>
#include <string>

namespace render {

class failure : public std::runtime_error {
  public:
    explicit failure(const std::string &message) : std::runtime_error(message) {}
};

} // namespace render

#endif
