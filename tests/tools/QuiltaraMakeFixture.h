// The quiltara-make program run as a user runs it, against the offline map
// service: its output and status, and a user's sources folder for it.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "DemoServer.h"
#include "MakeOptions.h"
#include "TestPaths.h"
#include "tiles/MapLayer.h"

namespace quiltara::make {

// Text in single quotes, for the shell.
inline std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

class QuiltaraMake : public ::testing::Test {
protected:
    Finished Make(const std::vector<std::string>& args, const std::string& input = "") {
        const std::filesystem::path program =
            test::BinaryDir() / "tools" / "quiltara-make" / "quiltara-make";
        std::ofstream(dir_ / "stdin.txt") << input;
        std::string command = Quoted(program.string());
        for (const std::string& arg : args) {
            command += " " + Quoted(arg);
        }
        // A tile cache of this run's own: no run sees what an earlier one
        // fetched unless its test names a cache with --cache-dir.
        command = "export XDG_CACHE_HOME=" +
                  Quoted((dir_ / ("cache-home-" + std::to_string(++runs_))).string()) + "; " +
                  shellPrefix_ + command;
        command += " <" + Quoted((dir_ / "stdin.txt").string()) + " >" +
                   Quoted((dir_ / "stdout.txt").string()) + " 2>" +
                   Quoted((dir_ / "stderr.txt").string());
        const int raw = std::system(command.c_str());
        Finished finished;
        finished.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        finished.out = test::ReadFile(dir_ / "stdout.txt");
        finished.err = test::ReadFile(dir_ / "stderr.txt");
        return finished;
    }

    std::vector<std::string> AreaAndTemplates(const test::DemoServer& server) {
        std::vector<std::string> args = {"--tiles=10,20,12,21", "--zoom=5"};
        for (MapLayer layer : kAllLayers) {
            args.push_back(std::string("--template-") + LayerOptionName(layer) + "=" +
                           server.Template(layer));
        }
        return args;
    }

    std::set<std::string> Images() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(out_)) {
            names.insert(std::filesystem::relative(entry.path(), out_).string());
        }
        return names;
    }

    int runs_ = 0;
    std::string shellPrefix_; // shell commands run before the program ("ulimit -f 1; ")
    test::TempDir dir_;
    std::filesystem::path out_ = [this] {
        std::filesystem::create_directory(dir_ / "maps");
        return dir_ / "maps";
    }();
};

// A user's sources folder as a run finds it: XDG_CONFIG_HOME for the
// program, set in its command's shell prefix.
class UserSources {
public:
    std::filesystem::path Folder() const { return config_ / "Quiltara" / "sources"; }
    std::string Prefix() const {
        // timeout: a run that hangs on a file fails here rather than the whole test.
        return "XDG_CONFIG_HOME=" + Quoted(config_.Path().string()) + " timeout 60 ";
    }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(Folder() / name) << text;
    }
    // A path-style source of the demo server, under subdomains a and b.
    std::string Source(const test::DemoServer& server, const std::string& name,
                       const std::string& extra = "") const {
        return R"({"id": "mine", "name": ")" + name +
               R"(", "subdomains": "ab", "layers": {"map": "http://{s}.mine.localhost:)" +
               std::to_string(server.Port()) + R"(/tiles/map/{z}/{x}/{y}.png"})" + extra + "}";
    }

private:
    test::TempDir config_;
    bool made_ = std::filesystem::create_directories(config_ / "Quiltara" / "sources");
};

} // namespace quiltara::make
