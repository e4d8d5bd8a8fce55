// The web page welds the soup it is handed with trel-render's weld: a mesh
// whose corners meet at 0 and at -0 is one closed mesh in both, and draws
// alike.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <trel/scene.h>

#include "load.h"
#include "scene.h"

namespace {

namespace scene = trel::scene;

TEST(PageScene, SignedZerosWeldAsInTheTool) {
    // A tetrahedron whose corner at the origin is written as 0 and as -0.
    const std::vector<std::string> corners = {"0 0 0",   "0 1 0", "1 0 0",
                                              "-0 0 -0", "0 0 1", "0 -0 0"};
    const std::vector<scene::triangle> faces = {{0, 1, 2}, {3, 2, 4}, {5, 4, 1}, {2, 1, 4}};
    const auto path =
        std::filesystem::temp_directory_path() /
        ("trel-page-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".obj");
    std::vector<float> soup;
    {
        std::ofstream obj(path);
        for (const std::string &v : corners) {
            obj << "v " << v << "\n";
        }
        for (const scene::triangle &f : faces) {
            obj << "f " << f[0] + 1 << " " << f[1] + 1 << " " << f[2] + 1 << "\n";
            for (const std::uint32_t i : f) {
                float x = 0;
                float y = 0;
                float z = 0;
                std::sscanf(corners[i].c_str(), "%f %f %f", &x, &y, &z);
                soup.insert(soup.end(), {x, y, z});
            }
        }
    }
    const scene::mesh tool = trel::loader::loadmesh(path.string(), {});
    std::filesystem::remove(path);
    scene::mesh page;
    ASSERT_EQ(web::weld(soup.data(), faces.size(), page), web::meshstatus::ok);
    EXPECT_EQ(page.vertices.size(), 4U);
    EXPECT_EQ(tool.vertices.size(), 4U);
    EXPECT_TRUE(page.closed);
    EXPECT_EQ(page.closed, tool.closed);
    EXPECT_EQ(page.triangles, tool.triangles);
    for (const scene::enginekind engine : {scene::enginekind::engine3d, scene::enginekind::engine2d,
                                           scene::enginekind::engine2dxy}) {
        for (const scene::drawstyle style : {scene::drawstyle::solid, scene::drawstyle::both}) {
            scene::drawsettings s;
            s.engine = engine;
            s.style = style;
            s.width = 120;
            s.height = 90;
            EXPECT_EQ(scene::render(page, {}, s).bytes, scene::render(tool, {}, s).bytes);
        }
    }
}

} // namespace
