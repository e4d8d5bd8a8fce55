// trel-render: draws a mesh with the trel software rasterizer and writes the
// picture as a PNG file. Every problem with the input or the output ends the
// run with one line on stderr and status 2, leaving no file behind.
#include <iostream>
#include <new>
#include <string>

#include "failure.h"
#include "job.h"
#include "load.h"
#include "options.h"

int main(int argc, char **argv) {
    render::restartwithhugepages(argv);
    try {
        render::options opts;
        if (const auto done = render::parseoptions(argc, argv, opts)) {
            return *done;
        }
        render::renderjob(opts, {opts.meshes.empty() ? std::string() : opts.meshes.front(),
                                 opts.output, opts.depth});
        return 0;
    } catch (const render::failure &e) {
        std::cerr << "trel-render: " << e.what() << "\n";
    } catch (const std::bad_alloc &) {
        std::cerr << "trel-render: out of memory\n";
    } catch (const std::exception &e) {
        std::cerr << "trel-render: " << e.what() << "\n";
    }
    return 2;
}
