// trel-render: draws a mesh with the trel software rasterizer and writes the
// picture as a PNG or WebP file, or, with --out-dir, one picture per mesh of a
// batch. The way of one mesh: options.cpp reads the command line into
// settings; job.cpp plans and checks the outputs (plan.cpp), loads the mesh
// (the loader), draws it (the scene layer), encodes the pictures (src/encode)
// and hands them to the one writer (writer.cpp). batch.cpp runs a job per
// mesh in child processes. Every problem with the input or the output ends the
// run with one line on stderr and status 2, leaving no file behind; in a
// batch, a mesh that fails is reported in one line and skipped.
#include <csignal>
#include <iostream>
#include <new>
#include <string>

#include "batch.h"
#include "failure.h"
#include "job.h"
#include "load.h"
#include "options.h"
#include "writer.h"

int main(int argc, char **argv) {
    trel::loader::restartwithhugepages(argv);
    // Which signals the shell left ignored is read before any handler is set.
    static_cast<void>(render::ignoredatstart(SIGINT));
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
        return render::statusdone;
    } catch (const render::failure &e) {
        std::cerr << "trel-render: " << e.what() << "\n";
    } catch (const std::bad_alloc &) {
        std::cerr << "trel-render: out of memory\n";
    } catch (const std::exception &e) {
        std::cerr << "trel-render: " << e.what() << "\n";
    }
    return render::statusfailed;
}
