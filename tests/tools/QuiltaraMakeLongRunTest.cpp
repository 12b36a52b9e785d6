// quiltara-make around a long run, against the offline map service: Ctrl-C
// part-way and the run that finishes the map, the world files beside the
// images, and the dry run.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "DemoServer.h"
#include "TestPaths.h"
#include "image/RasterImage.h"
#include "image/RgbaReadback.h"
#include "stitch/WorldFile.h"
#include "tiles/MapLayer.h"
#include "tiles/TileGrid.h"

extern char** environ;

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::DemoServer;
using test::DemoServerOptions;
using ::testing::HasSubstr;

using test::ReadFile;

// quiltara-make started in the background, its output in files.
class MakeProcess {
public:
    // holdInput: standard input is a pipe this object keeps open, with
    // nothing written to it; otherwise /dev/null.
    MakeProcess(const std::vector<std::string>& args, const fs::path& folder,
                bool holdInput = false)
        : out_(folder / "stdout.txt"), err_(folder / "stderr.txt") {
        const fs::path program = test::BinaryDir() / "tools" / "quiltara-make" / "quiltara-make";
        std::vector<std::string> all = {program.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipeEnds[2] = {-1, -1};
        if (holdInput && ::pipe2(pipeEnds, O_CLOEXEC) == 0) {
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
            input_ = pipeEnds[1];
        } else {
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // A tile cache of this process's own, so no run serves another's tiles.
        std::vector<std::string> variables = {"XDG_CACHE_HOME=" + (folder / "cache-home").string()};
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (!std::string_view(*variable).starts_with("XDG_CACHE_HOME=")) {
                variables.emplace_back(*variable);
            }
        }
        std::vector<char*> envp;
        for (std::string& variable : variables) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        if (pipeEnds[0] >= 0) {
            ::close(pipeEnds[0]);
        }
    }
    ~MakeProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (input_ >= 0) {
            ::close(input_);
        }
    }

    bool Started() const { return pid_ > 0; }
    void Signal(int signal) const { ::kill(pid_, signal); }
    // The exit status; -1 when the program did not exit by itself.
    int Wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Out() const { return ReadFile(out_); }
    std::string Err() const { return ReadFile(err_); }

private:
    pid_t pid_ = -1;
    int input_ = -1; // the write end of a held standard input
    fs::path out_;
    fs::path err_;
};

class QuiltaraMakeLongRun : public ::testing::Test {
protected:
    fs::path Folder(const std::string& name) {
        fs::create_directories(dir_ / name);
        return dir_ / name;
    }

    std::vector<std::string> Args(const DemoServer& server, const std::string& tiles,
                                  const fs::path& output) {
        return {"--tiles=" + tiles, "--zoom=5", "--template-map=" + server.Template(MapLayer::Map),
                "--template-satellite=" + server.Template(MapLayer::Satellite), output.string()};
    }

    int Run(std::vector<std::string> args, std::string* out = nullptr) {
        MakeProcess process(args, dir_.Path());
        EXPECT_TRUE(process.Started());
        const int status = process.Wait();
        if (out != nullptr) {
            *out = process.Out();
        }
        EXPECT_EQ(process.Err(), "");
        return status;
    }

    test::TempDir dir_;
};

std::vector<std::uint8_t> Pixels(const fs::path& path) {
    const RasterImage image(path.string(), kFormatPng);
    EXPECT_TRUE(image.HasPixels()) << path;
    return RgbaReadback(image);
}

TEST_F(QuiltaraMakeLongRun, CtrlCKeepsTheFinishedTilesAndASecondRunFinishesTheSameMap) {
    // 4 x 3 tiles, slow enough to interrupt part-way.
    DemoServer server(DemoServerOptions().DelayMs(150));
    const fs::path stopped = Folder("stopped");
    MakeProcess process(Args(server, "10,20,13,22", stopped / "city.png"), dir_.Path());
    ASSERT_TRUE(process.Started());
    ASSERT_TRUE([&] {
        for (int i = 0; i < 600 && test::FilesBelow(stopped).size() < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return test::FilesBelow(stopped).size() >= 3;
    }());
    process.Signal(SIGINT);
    EXPECT_EQ(process.Wait(), 1);

    // Every file left is a whole tile; no image, no world file, nothing half-written.
    const std::set<std::string> kept = test::FilesBelow(stopped);
    EXPECT_GE(kept.size(), 3u);
    EXPECT_LT(kept.size(), 12u);
    for (const std::string& name : kept) {
        int x = -1;
        int y = -1;
        std::sscanf(name.c_str(), "Map_x=%dy=%d", &x, &y);
        EXPECT_EQ(name, "Map_" + TileFileName(x, y, 5));
        EXPECT_TRUE(x >= 10 && x <= 13 && y >= 20 && y <= 22) << name;
        EXPECT_FALSE(Pixels(stopped / name).empty());
    }
    // The transfers under way were abandoned and left nothing behind.
    EXPECT_GE(server.Requests().size(), kept.size());
    EXPECT_LE(server.Requests().size(), kept.size() + 4); // four connections
    EXPECT_THAT(process.Out(),
                HasSubstr(std::to_string(kept.size()) + " of 12 tiles were fetched"));
    EXPECT_THAT(process.Err(), HasSubstr("--existing=keep"));

    // Run again keeping the existing tiles: only the missing ones are fetched.
    server.ClearRequests();
    std::vector<std::string> again = Args(server, "10,20,13,22", stopped / "city.png");
    again.push_back("--existing=keep");
    ASSERT_EQ(Run(again), 0);
    EXPECT_EQ(server.Requests().size(), 12 - kept.size());

    const fs::path whole = Folder("whole");
    ASSERT_EQ(Run(Args(server, "10,20,13,22", whole / "city.png")), 0);
    EXPECT_EQ(Pixels(stopped / "Map_city.png"), Pixels(whole / "Map_city.png"));
}

// Ctrl-C while a tile stalls or trickles ends its transfer at once, not
// after the half minute of the low-speed limit: the finished tile stays and
// nothing unfinished is left.
TEST_F(QuiltaraMakeLongRun, CtrlCEndsATransferUnderWayAtOnce) {
    for (const bool stall : {true, false}) {
        DemoServer good;
        DemoServer slow(stall ? DemoServerOptions().Stall() : DemoServerOptions().Trickle());
        const fs::path folder = Folder(stall ? "stall" : "trickle");
        MakeProcess process({"--tiles=10,20,12,21", "--zoom=5", "--layers=map,satellite",
                             "--template-map=" + good.Template(MapLayer::Map),
                             "--template-satellite=" + slow.Template(MapLayer::Satellite),
                             "--jobs=1", (folder / "city.png").string()},
                            dir_.Path());
        for (int i = 0; i < 500 && slow.Requests().empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto stopped = std::chrono::steady_clock::now();
        process.Signal(SIGINT);
        EXPECT_EQ(process.Wait(), 1);
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(10)) << stall;
        EXPECT_EQ(test::FilesBelow(folder),
                  std::set<std::string>{"Map_" + TileFileName(10, 20, 5)});
        EXPECT_THAT(process.Out(), HasSubstr("The run was stopped: 0 of 6 tiles were fetched"));
    }
}

// Ctrl-C while the existing-file question waits for an answer that does not
// come (standard input a pipe held open) stops the run at once.
TEST_F(QuiltaraMakeLongRun, CtrlCAtTheExistingFileQuestionStopsAtOnce) {
    DemoServer server;
    const fs::path folder = Folder("asked");
    std::ofstream(folder / ("Map_" + TileFileName(10, 20, 5))) << "from an earlier run";
    std::vector<std::string> args = Args(server, "10,20,11,20", folder / "city.png");
    args.push_back("--existing=ask");
    MakeProcess process(args, dir_.Path(), true);
    ASSERT_TRUE(process.Started());
    for (int i = 0; i < 500 && process.Out().find("[y/n/c]") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_THAT(process.Out(), HasSubstr("already exists"));
    const auto stopped = std::chrono::steady_clock::now();
    process.Signal(SIGINT);
    EXPECT_EQ(process.Wait(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5));
    EXPECT_THAT(process.Out(), HasSubstr("The run was stopped"));
    EXPECT_EQ(ReadFile(folder / ("Map_" + TileFileName(10, 20, 5))), "from an earlier run");
}

double Longitude(double x) {
    return x / 6378137.0 * 180.0 / std::numbers::pi;
}

// Every number in text, in order.
std::vector<double> Numbers(const std::string& text) {
    std::vector<double> numbers;
    for (const char* at = text.c_str(); *at != '\0';) {
        const bool starts = std::isdigit(static_cast<unsigned char>(*at)) ||
                            (*at == '-' && std::isdigit(static_cast<unsigned char>(at[1])));
        char* end = nullptr;
        const double value = starts ? std::strtod(at, &end) : 0.0;
        if (starts && end != at) {
            numbers.push_back(value);
            at = end;
        } else {
            ++at;
        }
    }
    return numbers;
}

// The numbers in brackets after label in gdalinfo's report.
std::vector<double> Corner(const std::string& info, const std::string& label) {
    const auto at = info.find(label);
    const auto open = info.find('(', at);
    const auto close = info.find(')', open);
    if (at == std::string::npos || open == std::string::npos || close == std::string::npos) {
        return {};
    }
    return Numbers(info.substr(open + 1, close - open - 1));
}

std::string Command(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    char buffer[4096];
    while (pipe && fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
        output += buffer;
    }
    return output;
}

TEST_F(QuiltaraMakeLongRun, EveryImageHasAWorldFileThatGisProgramsPlaceOnTheGrid) {
    DemoServer server;
    const fs::path maps = Folder("maps");
    std::vector<std::string> args = Args(server, "10,20,12,21", maps / "city.png");
    args.insert(args.end(),
                {"--layers=map,satellite", "--subfolder-satellite=sat", "--delete-tiles"});
    ASSERT_EQ(Run(args), 0);
    // The delete question took the tiles and left the georeference.
    EXPECT_EQ(test::FilesBelow(maps),
              (std::set<std::string>{"Map_city.png", "Map_city.pgw", "Map_city.prj",
                                     "sat/Sat_city.png", "sat/Sat_city.pgw", "sat/Sat_city.prj"}));
    EXPECT_EQ(ReadFile(maps / "sat" / "Sat_city.pgw"), ReadFile(maps / "Map_city.pgw"));
    EXPECT_EQ(ReadFile(maps / "Map_city.prj"), PseudoMercatorWkt() + "\n");

    // The six numbers: 768 x 512 pixels from the west edge of column 10 and
    // the north edge of row 20, to the east edge of 12 and the south edge of 21.
    const std::vector<double> n = Numbers(ReadFile(maps / "Map_city.pgw"));
    ASSERT_EQ(n.size(), 6u);
    const double west = n[4] - n[0] / 2;
    const double north = n[5] - n[3] / 2;
    const double east = west + 768 * n[0];
    const double south = north + 512 * n[3];
    EXPECT_NEAR(Longitude(west), TileLongitude(10, 5), 1e-9);
    EXPECT_NEAR(Longitude(east), TileLongitude(13, 5), 1e-9);

    const std::string gdal = Command("command -v gdalinfo; command -v gdaltransform");
    if (gdal.find("gdalinfo") == std::string::npos ||
        gdal.find("gdaltransform") == std::string::npos) {
        GTEST_SKIP() << "gdalinfo (Debian gdal-bin) is not installed";
    }
    // GDAL reads the world file beside the PNG: its corners are ours...
    const std::string info = Command("gdalinfo '" + (maps / "Map_city.png").string() + "'");
    const std::vector<double> upperLeft = Corner(info, "Upper Left");
    const std::vector<double> lowerRight = Corner(info, "Lower Right");
    ASSERT_EQ(upperLeft.size(), 2u) << info;
    ASSERT_EQ(lowerRight.size(), 2u) << info;
    EXPECT_NEAR(upperLeft[0], west, 0.01);
    EXPECT_NEAR(upperLeft[1], north, 0.01);
    EXPECT_NEAR(lowerRight[0], east, 0.01);
    EXPECT_NEAR(lowerRight[1], south, 0.01);
    // ...and through the projection file they are the grid's degrees.
    const std::string degrees =
        Command("printf '%.3f %.3f\\n%.3f %.3f\\n' " + std::to_string(west) + " " +
                std::to_string(north) + " " + std::to_string(east) + " " + std::to_string(south) +
                " | gdaltransform -output_xy -s_srs '" + (maps / "Map_city.prj").string() +
                "' -t_srs EPSG:4326");
    const std::vector<double> d = Numbers(degrees);
    ASSERT_EQ(d.size(), 4u) << degrees;
    EXPECT_NEAR(d[0], TileLongitude(10, 5), 1e-6);
    EXPECT_NEAR(d[1], TileLatitude(20, 5), 4e-6);
    EXPECT_NEAR(d[2], TileLongitude(13, 5), 1e-6);
    EXPECT_NEAR(d[3], TileLatitude(22, 5), 4e-6);
}

TEST_F(QuiltaraMakeLongRun, ADryRunPrintsTheEstimateAndSendsNoRequest) {
    DemoServer server;
    const fs::path maps = Folder("maps");
    std::vector<std::string> args = Args(server, "10,20,12,21", maps / "city.png");
    args.insert(args.end(), {"--layers=map,satellite", "--dry-run"});
    std::string out;
    ASSERT_EQ(Run(args, &out), 0);
    EXPECT_THAT(out, HasSubstr("Estimate: 6 tiles x 2 layers = 12 downloads, roughly "));
    EXPECT_THAT(out, HasSubstr("each image 768 x 512 pixels, 1.1 MB in memory to stitch"));
    EXPECT_THAT(out, ::testing::Not(HasSubstr("Getting image")));
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(test::FilesBelow(maps).empty());
}

} // namespace
} // namespace quiltara
