// trel-render: draws a mesh with the trel software rasterizer and writes the
// picture as a PNG file, or, with --out-dir, one picture per mesh of a batch.
// Every problem with the input or the output ends the run with one line on
// stderr and status 2, leaving no file behind; in a batch, a mesh that fails
// is reported in one line and skipped, and the run ends with status 2.
#include <iostream>
#include <new>
#include <string>

#include "batch.h"
#include "failure.h"
#include "job.h"
#include "load.h"
#include "options.h"

int main(int argc, char **argv) {
    trel::loader::restartwithhugepages(argv);
    try {
        render::options opts;
        if (const auto done = render::parseoptions(argc, argv, opts)) {
            return *done;
        }
        if (!opts.outdir.empty()) {
            return render::runbatch(opts);
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
