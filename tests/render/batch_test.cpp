// Batches (--out-dir, -j) and thumbnails (--thumbnail and the installed
// thumbnailer entry), run as a user or a file manager runs them.
#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>

#include "runner.h"

namespace {

using namespace rendertest;

std::string bytesof(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The cube in the named format of cubemeshes().
std::string cube(const std::string &format) {
    for (const auto &[name, text] : cubemeshes()) {
        if (name == format) {
            return text;
        }
    }
    ADD_FAILURE() << "no cube as " << format;
    return {};
}

class batch : public trelrender {
  protected:
    std::set<std::string> filesin(const std::string &folder) {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir / folder)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    // The picture a single run draws of `mesh` with `args`.
    std::uint64_t single(const std::string &mesh, std::vector<std::string> args) {
        args.insert(args.begin(), mesh);
        const picture p = render(args, "single.png");
        fs::remove(dir / "single.png");
        return pixelhash(p);
    }

    // Starts trel-render with `args` in the test's folder, with no shell in
    // between; its output goes to stdout.txt and stderr.txt there.
    pid_t spawn(const std::vector<std::string> &args, const std::string &program) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir.c_str()) != 0) {
                ::_exit(127);
            }
            const int out = ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            std::vector<char *> argv;
            for (const std::string &a : args) {
                argv.push_back(const_cast<char *>(a.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }

    // Waits for `pid`, at most two minutes; returns its wait status.
    int waitfor(pid_t pid) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "trel-render did not end";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return status;
    }

    // The children of process `pid`.
    static std::vector<pid_t> childrenof(pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                         "/children");
        std::vector<pid_t> children;
        for (pid_t child = 0; in >> child;) {
            children.push_back(child);
        }
        return children;
    }

    // Every file of `folder` is a whole picture: no temporary file is left.
    void onlypictures(const std::string &folder, const std::set<std::string> &allowed) {
        for (const std::string &name : filesin(folder)) {
            EXPECT_EQ(allowed.count(name), 1U) << "left behind: " << name;
            if (allowed.count(name) != 0) {
                const picture p = readpng(dir / folder / name);
                EXPECT_GT(p.width, 0) << name;
            }
        }
    }
};

TEST_F(batch, EachMeshIsWrittenUnderItsName) {
    write("a.obj", cube("obj"));
    write("b.stl", cube("binary.stl"));
    write("c.ply", cube("ascii.ply"));
    write("d.gltf", tallcubegltf());
    const std::vector<std::string> look = {"--size", "64x48", "--view", "20,30"};
    std::vector<std::string> args = {"a.obj",  "b.stl",     "c.ply",
                                     "d.gltf", "--out-dir", "thumbs/small"};
    args.insert(args.end(), look.begin(), look.end());
    const result r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    // The folder is made, parents and all.
    ASSERT_TRUE(fs::is_directory(dir / "thumbs/small"));
    EXPECT_EQ(filesin("thumbs/small"), (std::set<std::string>{"a.png", "b.png", "c.png", "d.png"}));
    // Each picture is the one a run of its own mesh draws, with the same options.
    for (const std::string mesh : {"a.obj", "b.stl", "c.ply", "d.gltf"}) {
        const std::string name = fs::path(mesh).stem().string() + ".png";
        const picture p = readpng(dir / "thumbs/small" / name);
        EXPECT_EQ(p.width, 64) << mesh;
        EXPECT_EQ(p.height, 48) << mesh;
        EXPECT_GT(covered(p).covered, 100) << mesh;
        EXPECT_EQ(pixelhash(p), single(mesh, look)) << mesh;
    }
    // The tall cube is not the cube: the pictures went to their own meshes' names.
    EXPECT_NE(pixelhash(readpng(dir / "thumbs/small/a.png")),
              pixelhash(readpng(dir / "thumbs/small/d.png")));

    // --stats: each mesh's figures together, under its name, however the
    // children ran.
    const result s = run({"a.obj", "d.gltf", "--out-dir", "stats", "--stats", "-j", "2"});
    EXPECT_EQ(s.status, 0) << s.err;
    for (const std::string mesh : {"a.obj", "d.gltf"}) {
        const std::size_t at = s.out.find("mesh: " + mesh + "\n");
        ASSERT_NE(at, std::string::npos) << s.out;
        EXPECT_EQ(s.out.find("triangles: 12\n", at), s.out.find("triangles:", at)) << s.out;
    }
    EXPECT_EQ(std::count(s.out.begin(), s.out.end(), ':') % 2, 0) << s.out;

    // The bunny, when no mesh is given.
    const result bunny = run({"--out-dir", ".", "--size", "40x30"});
    EXPECT_EQ(bunny.status, 0) << bunny.err;
    EXPECT_GT(covered(readpng(dir / "bunny.png")).covered, 50);
}

TEST_F(batch, CollidingNamesAreResolvedTheSameWayEveryTime) {
    fs::create_directories(dir / "sub");
    fs::create_directories(dir / "out");
    write("a.obj", cube("obj"));
    write("a.stl", cube("ascii.stl"));
    write("sub/a.obj", gridobj(5));
    write("sub/A.gltf", tallcubegltf());
    write("b.obj", cube("obj"));
    // A mesh in the output folder whose name is the picture another would take.
    write("out/e.png", cube("ascii.ply"));
    const std::string kept = slurp("out/e.png");
    const std::vector<std::string> args = {"a.obj",   "a.stl",  "sub/a.obj", "sub/A.gltf",
                                           "./b.obj", "b.obj",  "out/e.png", "--out-dir",
                                           "out",     "--size", "32x32"};
    for (const std::string jobs : {"1", "4"}) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"-j", jobs});
        const result r = run(all);
        EXPECT_EQ(r.status, 0) << r.err;
        // Shared stems keep their extensions (without regard to case);
        // names still shared are numbered in command-line order; a file
        // named twice is drawn once; the mesh in the folder is not replaced.
        EXPECT_EQ(filesin("out"),
                  (std::set<std::string>{"a.obj.png", "a.stl.png", "a.obj-2.png", "A.gltf.png",
                                         "b.png", "e.png", "e-2.png"}))
            << "-j " << jobs;
        EXPECT_EQ(slurp("out/e.png"), kept);
        EXPECT_EQ(pixelhash(readpng(dir / "out/a.obj.png")), single("a.obj", {"--size", "32x32"}));
        EXPECT_EQ(pixelhash(readpng(dir / "out/a.obj-2.png")),
                  single("sub/a.obj", {"--size", "32x32"}));
        EXPECT_EQ(pixelhash(readpng(dir / "out/e-2.png")),
                  single("out/e.png", {"--size", "32x32"}));
    }
}

TEST_F(batch, BrokenMeshIsReportedAndSkipped) {
    write("good1.obj", cube("obj"));
    write("broken.obj", "v 1 2\nf 1 2 3 4 5\nthis is not a mesh\n");
    write("good2.stl", cube("binary.stl"));
    write("good3.ply", cube("binary.ply"));
    for (const std::string jobs : {"1", "3"}) {
        const std::string out = "out" + jobs;
        const result r = run({"good1.obj", "broken.obj", "good2.stl", "missing.off", "good3.ply",
                              "--out-dir", out, "-j", jobs, "--size", "48x48"});
        EXPECT_EQ(r.status, 2) << r.err;
        // One line each, naming the mesh first, nothing else.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_NE(r.err.find("trel-render: broken.obj: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("trel-render: missing.off: "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("good"), std::string::npos) << r.err;
        onlypictures(out, {"good1.png", "good2.png", "good3.png"});
        EXPECT_EQ(filesin(out).size(), 3U);
    }

    // A mesh whose picture cannot be written fails alone too.
    fs::create_directories(dir / "out/good2.png");
    const result r = run({"good1.obj", "good2.stl", "--out-dir", "out", "--size", "48x48"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("trel-render: good2.stl: cannot write", 0), 0U) << r.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "out/good1.png"));

    // Nothing drawn at all: a folder the batch made is not left behind.
    const result none = run({"broken.obj", "--out-dir", "made/here"});
    EXPECT_EQ(none.status, 2);
    EXPECT_FALSE(fs::exists(dir / "made")) << none.err;
}

TEST_F(batch, AnyNumberOfJobsGivesTheSameFiles) {
    std::vector<std::string> meshes;
    for (int i = 0; i < 7; ++i) {
        const std::string name = "grid" + std::to_string(i) + ".obj";
        write(name, gridobj(4 + 3 * i));
        meshes.push_back(name);
    }
    write("cube.stl", cube("ascii.stl"));
    meshes.push_back("cube.stl");
    for (const std::string jobs : {"1", "3"}) {
        std::vector<std::string> args = meshes;
        args.insert(args.end(), {"--out-dir", "j" + jobs, "-j", jobs, "--style", "both"});
        const result r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
    }
    ASSERT_EQ(filesin("j1"), filesin("j3"));
    EXPECT_EQ(filesin("j1").size(), meshes.size());
    std::set<std::string> contents;
    for (const std::string &name : filesin("j1")) {
        const std::string one = bytesof(dir / "j1" / name);
        EXPECT_EQ(one, bytesof(dir / "j3" / name)) << name;
        contents.insert(one);
    }
    // Every mesh has a picture of its own.
    EXPECT_EQ(contents.size(), meshes.size());
}

TEST_F(batch, RefusedBatchTouchesNothing) {
    write("a.obj", cube("obj"));
    write("taken", "a file\n");
    refused({"a.obj", "--out-dir", "new", "--frames", "3"}, "--frames");
    refused({"a.obj", "--out-dir", "new", "--depth", "d.png"}, "--depth");
    refused({"a.obj", "--out-dir", "new", "-o", "x.png"}, "-o");
    refused({"a.obj", "--out-dir", "new", "-j", "0"}, "--jobs");
    refused({"a.obj", "--out-dir", "new", "--thumbnail", "big"}, "--thumbnail");
    refused({"a.obj", "--out-dir", "taken"}, "not a folder");
    refused({"a.obj", "--out-dir", "taken/below"}, "taken");
    refused({"a.obj", "a.obj"}, "--out-dir");
}

TEST_F(batch, SignalsLeaveNoTemporaryFiles) {
    // Meshes big enough, and pictures large enough, that the batch is still
    // drawing and writing when it is stopped.
    write("grid.obj", gridobj(120));
    std::vector<std::string> args = {"trel-render"};
    for (int i = 0; i < 6; ++i) {
        const std::string name = "g" + std::to_string(i) + ".obj";
        fs::copy_file(dir / "grid.obj", dir / name);
        args.push_back(name);
    }
    args.insert(args.end(), {"--out-dir", "out", "--size", "3000x3000", "-j", "2"});
    std::set<std::string> pictures;
    for (int i = 0; i < 6; ++i) {
        pictures.insert("g" + std::to_string(i) + ".png");
    }

    // The batch is stopped by a signal to it alone: its children go too.
    for (const int signal : {SIGINT, SIGTERM}) {
        fs::remove_all(dir / "out");
        const pid_t pid = spawn(args, TREL_RENDER_PROGRAM);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fs::exists(dir / "out") && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::vector<pid_t> children = childrenof(pid);
        ::kill(pid, signal);
        const int status = waitfor(pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        for (const pid_t child : children) {
            EXPECT_NE(::kill(child, 0), 0) << "child " << child << " outlived the batch";
        }
        if (fs::exists(dir / "out")) {
            onlypictures("out", pictures);
        }
    }

    // A child killed on its own is one mesh that failed; the first mesh is
    // the heaviest, so that its child is still at work when it is killed.
    fs::remove_all(dir / "out");
    write("heavy.obj", gridobj(300));
    const pid_t pid = spawn({"trel-render", "heavy.obj", "g1.obj", "g2.obj", "--out-dir", "out",
                             "--size", "3000x3000", "-j", "1"},
                            TREL_RENDER_PROGRAM);
    std::vector<pid_t> children;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (children.empty() && std::chrono::steady_clock::now() < until) {
        children = childrenof(pid);
    }
    ASSERT_EQ(children.size(), 1U);
    EXPECT_EQ(::kill(children.front(), SIGKILL), 0);
    const int status = waitfor(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    EXPECT_EQ(slurp("stderr.txt"),
              "trel-render: heavy.obj: drawing it stopped on signal SIGKILL\n");
    EXPECT_EQ(filesin("out"), (std::set<std::string>{"g1.png", "g2.png"}));
}

// The Exec line of the installed thumbnailer entry, split into words and
// given the substitutions a file manager makes.
std::vector<std::string> thumbnailcommand(const std::string &exec, const std::string &size,
                                          const std::string &input, const std::string &output) {
    std::vector<std::string> words;
    std::istringstream in(exec);
    for (std::string word; in >> word;) {
        std::string done;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] != '%' || i + 1 == word.size()) {
                done += word[i];
                continue;
            }
            const char code = word[++i];
            if (code == 's') {
                done += size;
            } else if (code == 'i') {
                done += input;
            } else if (code == 'u') {
                done += "file://" + input; // the tests' paths need no escapes
            } else if (code == 'o') {
                done += output;
            } else if (code == '%') {
                done += '%';
            } else {
                ADD_FAILURE() << "a thumbnailer does not substitute %" << code;
            }
        }
        words.push_back(done);
    }
    return words;
}

TEST_F(batch, ThumbnailerEntryDrawsAThumbnail) {
    std::ifstream entry(fs::path(TREL_SOURCE_DIR) / "share/thumbnailers/trel-render.thumbnailer");
    ASSERT_TRUE(entry.good());
    std::map<std::string, std::string> keys;
    std::string line;
    std::getline(entry, line);
    EXPECT_EQ(line, "[Thumbnailer Entry]");
    while (std::getline(entry, line)) {
        const std::size_t equals = line.find('=');
        if (!line.empty() && line[0] != '#' && equals != std::string::npos) {
            keys[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    EXPECT_EQ(keys["TryExec"], "trel-render");

    // Every type named is one the shared MIME database knows, and the common
    // mesh types are all there.
    std::set<std::string> types;
    std::istringstream list(keys["MimeType"]);
    for (std::string type; std::getline(list, type, ';');) {
        types.insert(type);
    }
    for (const std::string type :
         {"model/stl", "model/obj", "model/gltf+json", "model/gltf-binary", "model/3mf"}) {
        EXPECT_EQ(types.count(type), 1U) << type;
    }
    const std::string database = bytesof("/usr/share/mime/packages/freedesktop.org.xml");
    if (!database.empty()) {
        for (const std::string &type : types) {
            EXPECT_TRUE(database.find("<mime-type type=\"" + type + "\"") != std::string::npos ||
                        database.find("<alias type=\"" + type + "\"") != std::string::npos)
                << type;
        }
    }

    // A file manager's run: an absolute input path (here with a space in
    // it), and a temporary file it has already made for the thumbnail.
    write("tall cube.gltf", tallcubegltf());
    write("thumbnail-XY12AB.png", "");
    for (const std::string size : {"128", "256"}) {
        const std::vector<std::string> words =
            thumbnailcommand(keys["Exec"], size, (dir / "tall cube.gltf").string(),
                             (dir / "thumbnail-XY12AB.png").string());
        ASSERT_FALSE(words.empty());
        EXPECT_EQ(words.front(), keys["TryExec"]);
        const int status = waitfor(spawn(words, TREL_RENDER_PROGRAM));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << slurp("stderr.txt");

        const rgbapicture p = readrgba(dir / "thumbnail-XY12AB.png");
        const int side = std::stoi(size);
        ASSERT_EQ(p.width, side);
        ASSERT_EQ(p.height, side);
        // The mesh is drawn, fit inside the square: the tall cube reaches
        // from near the top to near the bottom, and not the edges.
        const auto shape = covered(readpng(dir / "thumbnail-XY12AB.png"));
        const int top = shape.top;
        const int bottom = shape.bottom;
        const auto drawn = shape.covered;
        EXPECT_GT(drawn, side * side / 10);
        EXPECT_GT(top, 0);
        EXPECT_LT(bottom, side - 1);
        EXPECT_GE(bottom - top + 1, side * 8 / 10);
        EXPECT_GT(shape.left, 0);
        EXPECT_LT(shape.right, side - 1);
        // Where nothing is drawn the file manager's background shows.
        for (const auto &[column, row] :
             {std::pair{0, 0}, {side - 1, 0}, {0, side - 1}, {side - 1, side - 1}}) {
            EXPECT_EQ(p.alpha(column, row), 0) << size << ": corner " << column << "," << row;
        }
        EXPECT_EQ(p.alpha(side / 2, side / 2), 255) << size;
    }
}

// Pictures whose names differ only by case are one file on a case-insensitive
// file system, in any script: such names keep their meshes' extensions, as
// B.3mf and b.ply do. Names are folded as those file systems fold them
// (simple case folding: ß is not ss); a name that is not UTF-8 is compared
// byte for byte.
TEST_F(batch, NamesDifferingOnlyInCaseKeepTheirExtensions) {
    struct foldcase {
        std::string first, second; // the two meshes' stems
        bool collide;
    };
    const foldcase cases[] = {
        {"B", "b", true},
        {"\xC3\x9C", "\xC3\xBC", true},                   // Ü ü
        {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89", true}, // Été éTÉ
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         "\xC5\x82\xC3\x93"
         "D\xC5\xB9",
         true},                         // Łódź łÓDŹ
        {"\xCE\xA3", "\xCF\x83", true}, // Σ σ
        {"\xCF\x82", "\xCE\xA3", true}, // ς Σ
        {"\xCE\x86\xCE\xBB\xCF\x86\xCE\xB1", "\xCE\xAC\xCE\x9B\xCE\xA6\xCE\x91", true}, // Άλφα άΛΦΑ
        {"\xD0\x96", "\xD0\xB6", true},                                                 // Ж ж
        {"\xD0\x81\xD0\xB6", "\xD1\x91\xD0\x96", true},                                 // Ёж ёЖ
        {"\xE1\xBA\x9E", "\xC3\x9F", true},                                             // ẞ ß
        {"\xC3\x9F", "ss", false},       // ß ss: not a simple folding
        {"\xCE\xA3", "\xD0\xA1", false}, // Greek Σ, Cyrillic С
        {"A\xFF", "a\xFF", false},       // not UTF-8: byte for byte
        {"\xC3", "\xC3\xA3", false},     // a cut sequence
    };
    for (const foldcase &c : cases) {
        SCOPED_TRACE(c.first + " " + c.second);
        const std::string a = c.first + ".obj";
        const std::string b = c.second + ".stl";
        write(a, cube("obj"));
        write(b, cube("ascii.stl"));
        const result r = run({a, b, "--out-dir", "out", "--size", "32x32"});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::set<std::string> expected =
            c.collide ? std::set<std::string>{a + ".png", b + ".png"}
                      : std::set<std::string>{c.first + ".png", c.second + ".png"};
        EXPECT_EQ(filesin("out"), expected);
        fs::remove_all(dir / "out");
        fs::remove(dir / a);
        fs::remove(dir / b);
    }
}

// A child that dies of a signal (the out-of-memory killer's SIGKILL) while it
// writes leaves no temporary file: the batch removes it, names the mesh and
// the signal, and ends with status 2.
TEST_F(batch, ChildKilledWhileWritingLeavesNothing) {
    write("grid.obj", gridobj(40));
    for (const int signal : {SIGKILL, SIGUSR1}) {
        SCOPED_TRACE(signal);
        fs::remove_all(dir / "out");
        const pid_t pid =
            spawn({"trel-render", "grid.obj", "--out-dir", "out", "--size", "4000x4000", "-j", "1"},
                  TREL_RENDER_PROGRAM);
        // Waits for the child's temporary file, then kills the child.
        bool killed = false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!killed && std::chrono::steady_clock::now() < until) {
            std::error_code ec;
            for (const auto &entry : fs::directory_iterator(dir / "out", ec)) {
                if (entry.path().filename().string().rfind('.', 0) == 0) {
                    for (const pid_t child : childrenof(pid)) {
                        killed = ::kill(child, signal) == 0 || killed;
                    }
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_TRUE(killed);
        const int status = waitfor(pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
        const std::string err = slurp("stderr.txt");
        EXPECT_EQ(err.rfind("trel-render: grid.obj: ", 0), 0U) << err;
        EXPECT_NE(err.find(signal == SIGKILL ? "SIGKILL" : "SIGUSR1"), std::string::npos) << err;
        EXPECT_FALSE(fs::exists(dir / "out") && !filesin("out").empty())
            << "left behind: " << *filesin("out").begin();
    }
}

// A batch over a folder's every file (data/* with its README.md) skips the
// files that are not meshes, says how many it skipped, and draws the rest with
// status 0; a file that is a mesh under another extension is still drawn.
// The same mesh named twice is drawn once, and a note says so.
TEST_F(batch, FilesThatAreNotMeshesAreSkippedAndSaidSo) {
    struct skipcase {
        std::vector<std::string> files;
        std::set<std::string> pictures;
        std::vector<std::string> notes; // each on stderr
        int status;
    };
    write("cube.obj", cube("obj"));
    write("README.md", "# Meshes\nThe meshes of this folder.\n");
    write("notes.txt", "not a mesh\n");
    write("ply.dat", cube("ascii.ply"));
    fs::create_symlink("cube.obj", dir / "link.obj");
    const skipcase cases[] = {
        {{"cube.obj", "README.md"}, {"cube.png"}, {"skipped 1 file", "README.md"}, 0},
        {{"README.md", "cube.obj", "notes.txt"}, {"cube.png"}, {"skipped 2 files"}, 0},
        {{"cube.obj", "ply.dat"}, {"cube.png", "ply.png"}, {}, 0},
        {{"cube.obj", "link.obj"}, {"cube.png"}, {"'link.obj' is the same file as 'cube.obj'"}, 0},
        {{"README.md", "notes.txt"}, {}, {"none of the 2 files"}, 2},
    };
    for (const skipcase &c : cases) {
        SCOPED_TRACE(c.files.front() + " " + c.files.back());
        std::vector<std::string> args = c.files;
        args.insert(args.end(), {"--out-dir", "out", "--size", "32x32"});
        const result r = run(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.notes.empty() ? 0 : 1) << r.err;
        for (const std::string &note : c.notes) {
            EXPECT_NE(r.err.find(note), std::string::npos) << r.err;
        }
        EXPECT_EQ(fs::exists(dir / "out") ? filesin("out") : std::set<std::string>{}, c.pictures);
        fs::remove_all(dir / "out");
    }
}

// Started with SIGINT ignored (a shell's "cmd &"), every kind of run keeps
// ignoring it and finishes its pictures: a PNG, a WebP animation, a batch.
TEST_F(batch, IgnoredInterruptStaysIgnored) {
    write("grid.obj", gridobj(60));
    write("grid2.obj", gridobj(60));
    const std::vector<std::vector<std::string>> runs = {
        {"grid.obj", "--frames", "12", "--size", "600x600", "-o", "f.png"},
        {"grid.obj", "--frames", "12", "--size", "600x600", "-o", "f.webp"},
        {"grid.obj", "grid2.obj", "--out-dir", "out", "--size", "2500x2500", "-j", "2"},
    };
    for (const std::vector<std::string> &args : runs) {
        SCOPED_TRACE(args[args.size() - 1]);
        std::vector<std::string> all = {"trel-render"};
        all.insert(all.end(), args.begin(), args.end());
        const auto previous = std::signal(SIGINT, SIG_IGN); // inherited through exec
        const pid_t pid = spawn(all, TREL_RENDER_PROGRAM);
        std::signal(SIGINT, previous);
        int status = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < until) {
            ::kill(pid, SIGINT);
            for (const pid_t child : childrenof(pid)) {
                ::kill(child, SIGINT);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << status << " " << slurp("stderr.txt");
    }
    EXPECT_TRUE(fs::exists(dir / "f-011.png"));
    EXPECT_TRUE(fs::exists(dir / "f.webp"));
    EXPECT_EQ(filesin("out"), (std::set<std::string>{"grid.png", "grid2.png"}));
}

} // namespace
