// The quiltara-make program against the offline map service, and its
// terminal prompts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "Console.h"
#include "DemoServer.h"
#include "HeadlessRun.h"
#include "MadeTime.h"
#include "QuiltaraMakeFixture.h"
#include "SamePixels.h"
#include "TerminalPrompts.h"
#include "TestPaths.h"
#include "download/TileDownloader.h"
#include "image/RasterImage.h"
#include "platform/CurlHttpClient.h"
#include "run/CreateMapRun.h"

namespace quiltara::make {
namespace {

namespace fs = std::filesystem;
using test::DemoServer;
using test::DemoServerOptions;
using ::testing::HasSubstr;
using ::testing::Not;

using test::ReadFile;

TEST_F(QuiltaraMake, MakesTheImagesPrintsTheRunAndDeletesTheTiles) {
    DemoServer server;
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--layers=map,terrain", "--subfolder-terrain=ter", "--delete-tiles",
                             "--output", (out_ / "city.png").string()});
    const Finished run = Make(args);

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Starting downloads...\n"));
    EXPECT_THAT(run.out, HasSubstr("Getting image x=10 y=20  [1/6, "));
    EXPECT_THAT(run.out, HasSubstr("Getting image x=12 y=21  [6/6, "));
    EXPECT_THAT(run.out, HasSubstr(std::string("[Quiltara] ") + kDeleteTilesQuestion +
                                   " [Yes/No] Yes (--delete-tiles)\n"));
    EXPECT_THAT(run.out, HasSubstr("map image: " + (out_ / "Map_city.png").string() + "\n"));
    EXPECT_THAT(run.out,
                HasSubstr("terrain image: " + (out_ / "ter" / "Ter_city.png").string() + "\n"));
    EXPECT_EQ(run.err, "");
    const std::set<std::string> left = {
        "Map_city.png",     "Map_city.pgw",     "Map_city.prj",    "ter",
        "ter/Ter_city.png", "ter/Ter_city.pgw", "ter/Ter_city.prj"};
    EXPECT_EQ(Images(), left);
}

TEST_F(QuiltaraMake, FailedTilesGiveTheMessageAndStatusThree) {
    DemoServer server(DemoServerOptions().MissingTile(5, 12, 21));
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--quiet", (out_ / "city.png").string()});
    const Finished run = Make(args);

    EXPECT_EQ(run.status, 3);
    EXPECT_THAT(run.out, HasSubstr(std::string("[Quiltara] ") + kDownloadErrorsMessage + "\n"));
    EXPECT_THAT(run.out, Not(HasSubstr("Getting image"))); // --quiet
    // Not on a terminal, and no choice given: the tiles are kept.
    EXPECT_THAT(run.out, HasSubstr("[Yes/No] No (--keep-tiles)"));
    EXPECT_THAT(run.err, HasSubstr("could not be downloaded"));
    EXPECT_TRUE(fs::exists(out_ / "Map_city.png"));
    EXPECT_TRUE(fs::exists(out_ / ("Map_" + TileFileName(10, 20, 5))));
}

TEST_F(QuiltaraMake, EightConnectionsPrintAndMakeWhatOneDoes) {
    DemoServer server(DemoServerOptions().MissingTile(5, 11, 21).ErrorServer(0));
    std::map<std::string, std::string> images;
    std::map<std::string, std::vector<std::string>> printed;
    for (const std::string jobs : {"1", "8"}) {
        std::vector<std::string> args = AreaAndTemplates(server);
        args.insert(args.end(), {"--layers=all", "--jobs", jobs, "--delete-tiles", "--output",
                                 (out_ / ("jobs" + jobs + ".png")).string()});
        const Finished run = Make(args);
        EXPECT_EQ(run.status, 3) << run.err;
        // The progress lines without their counts and rates, in order.
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line, '\n');) {
            const std::string shown = line.substr(line.rfind('\r') + 1);
            if (shown.find("jobs") == std::string::npos) {
                printed[jobs].push_back(shown.substr(0, shown.find("  [")));
            }
        }
        for (MapLayer layer : kAllLayers) {
            images[LayerPrefix(layer) + jobs] = test::WithoutCreationTime(
                ReadFile(out_ / (std::string(LayerPrefix(layer)) + "jobs" + jobs + ".png")));
        }
    }
    EXPECT_EQ(printed["8"], printed["1"]);
    EXPECT_THAT(printed["8"], ::testing::Contains("Getting image x=12 y=21"));
    for (MapLayer layer : kAllLayers) {
        const std::string prefix = LayerPrefix(layer);
        EXPECT_FALSE(images[prefix + "1"].empty());
        EXPECT_TRUE(images[prefix + "8"] == images[prefix + "1"]) << prefix;
    }
    // Eight images with their world and projection files: the tiles were deleted.
    EXPECT_EQ(Images().size(), 8u * 3u);
}

TEST_F(QuiltaraMake, AnAnswerIsReadForEachQuestionWhenAsked) {
    DemoServer server;
    std::ofstream(out_ / ("Map_" + TileFileName(11, 20, 5))) << "kept";
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--existing=ask", (out_ / "city.png").string()});
    // A reply that is no answer brings the question again; No keeps the file.
    const Finished run = Make(args, "maybe\nn\n");

    // The kept file is no image: named after the stitch, and the run is incomplete.
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_THAT(run.out, HasSubstr(("Map_" + TileFileName(11, 20, 5)) + ": not a readable image"));
    const std::string question =
        OverwriteQuestion((out_ / ("Map_" + TileFileName(11, 20, 5))).string());
    const auto first = run.out.find("[Quiltara] " + question + " [y/n/c] ");
    ASSERT_NE(first, std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[Quiltara] " + question + " [y/n/c] ", first + 1), std::string::npos);
    EXPECT_EQ(ReadFile(out_ / ("Map_" + TileFileName(11, 20, 5))), "kept");
    // The delete question is not asked off a terminal unless told: the tiles stay.
    EXPECT_THAT(run.out, HasSubstr("[Yes/No] No (--keep-tiles)"));
    EXPECT_EQ(Images().size(), 9u); // 6 tiles, the image, its world and projection files

    // Input closed: asked once, and the answer (Cancel: keep) holds for all six.
    const Finished closed = Make(args, "");
    EXPECT_EQ(closed.out.find("already exists", closed.out.find("already exists") + 1),
              std::string::npos);
    EXPECT_THAT(closed.out, HasSubstr("(no answer: Cancel"));
    EXPECT_EQ(server.Requests().size(), 5u); // the first run's only
}

TEST_F(QuiltaraMake, AnUnreachableServerEndsTheRunWithStatusOne) {
    DemoServer server;
    std::vector<std::string> args = AreaAndTemplates(server);
    // One connection: the run ends at the first satellite tile, before any
    // second map tile is under way.
    args.insert(args.end(), {"--layers=map,satellite",
                             "--template-satellite=http://127.0.0.1:1/kh/x=[X]&y=[Y]&z=[Z]",
                             "--delete-tiles", "--jobs", "1", "-o", (out_ / "city.png").string()});
    const Finished run = Make(args);

    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("quiltara-make: the run ended: "));
    EXPECT_THAT(run.err, HasSubstr("127.0.0.1:1"));
    EXPECT_THAT(run.out, Not(HasSubstr(kDeleteTilesQuestion)));
    EXPECT_EQ(Images(), std::set<std::string>{"Map_" + TileFileName(10, 20, 5)});
}

TEST_F(QuiltaraMake, AnEndedRunClosesTheTerminalStatusLineBeforeItsErrors) {
    DemoServer server;
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--layers=map,satellite",
                             "--template-satellite=http://127.0.0.1:1/kh/x=[X]&y=[Y]&z=[Z]",
                             (out_ / "city.png").string()});
    const ParseOutcome parsed = ParseMakeArguments(args, SourceCatalogue{});
    ASSERT_TRUE(parsed.options) << parsed.error;
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* memory = open_memstream(&buffer, &size);
    ASSERT_NE(memory, nullptr);
    std::FILE* errorsFile = std::tmpfile();
    ASSERT_NE(errorsFile, nullptr);
    int status = 0;
    {
        Console out(memory, true); // as on a terminal: tile lines are rewritten in place
        Console errors(errorsFile, false);
        std::istringstream input("");
        CurlHttpClient http;
        status = RunMapMaker(*parsed.options, out, errors, input, false, http);
    }
    std::fclose(errorsFile);
    std::fclose(memory);
    const std::string printed(buffer, size);
    std::free(buffer);
    EXPECT_EQ(status, kExitFailed);
    EXPECT_THAT(printed, HasSubstr("\r\033[KGetting image x=10 y=20  [1/6, "));
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed.back(), '\n') << printed;
}

TEST_F(QuiltaraMake, BadArgumentsGiveStatusTwoAndTheReason) {
    Finished run = Make({"--tiles=1,1,0,0", "--zoom=3", (out_ / "x.png").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("quiltara-make: --tiles"));
    EXPECT_THAT(run.err, HasSubstr("--help"));
    for (const char* jobs : {"--jobs=0", "--jobs=17", "--jobs"}) {
        run = Make({"--tiles=1,1,1,1", "--zoom=3", jobs, (out_ / "x.png").string()});
        EXPECT_EQ(run.status, 2) << jobs;
        EXPECT_THAT(run.err, HasSubstr("--jobs needs a number of connections from 1 to 16"));
    }
    run = Make({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("Usage: quiltara-make"));
    EXPECT_TRUE(Images().empty());
}

// Run again against a server spoiling every tile: the layer has nothing to
// place, so the earlier image and its world file stay (status 3), and tiles
// that never came are no deletion failure. A world file that cannot be
// written is reported with status 1.
TEST_F(QuiltaraMake, ASecondRunKeepsWhatItCannotReplace) {
    const DemoServerOptions errors =
        DemoServerOptions().ErrorServer(0).ErrorServer(1).ErrorServer(2).ErrorServer(3);
    for (const auto& [faults, stitcher] :
         {std::pair{DemoServerOptions().Truncate(), "--quiet"}, std::pair{errors, "--in-memory"}}) {
        fs::remove_all(out_);
        fs::create_directory(out_);
        const auto run = [&, stitcher = stitcher](const DemoServer& server) {
            std::vector<std::string> args = AreaAndTemplates(server);
            args.insert(args.end(), {"--delete-tiles", stitcher, (out_ / "city.png").string()});
            return Make(args);
        };
        ASSERT_EQ(run(DemoServer()).status, 0);
        const std::string image = ReadFile(out_ / "Map_city.png");
        const std::string world = ReadFile(out_ / "Map_city.pgw");
        const Finished made = run(DemoServer(faults));
        EXPECT_EQ(made.status, 3) << stitcher;
        EXPECT_THAT(made.out, HasSubstr("complete  No tile of the map layer could be placed"));
        EXPECT_THAT(made.err, HasSubstr("no map image: no tile could be placed"));
        EXPECT_THAT(made.out, Not(HasSubstr(kDeleteFailedMessage)));
        EXPECT_TRUE(ReadFile(out_ / "Map_city.png") == image &&
                    ReadFile(out_ / "Map_city.pgw") == world);
        EXPECT_EQ(Images().size(), 3u);
    }
    fs::remove(out_ / "Map_city.pgw");
    fs::create_directories(out_ / "Map_city.pgw" / "inside");
    DemoServer server;
    std::vector<std::string> args = AreaAndTemplates(server);
    args.push_back((out_ / "city.png").string());
    const Finished made = Make(args);
    EXPECT_EQ(made.status, 1);
    EXPECT_THAT(made.out, HasSubstr("[Quiltara] The world file '" +
                                    (out_ / "Map_city.pgw").string() + "' could not be written"));
}

// Refused before anything is fetched: an [HL] value that would add its own
// URL parameters, and output names that are no file names in a folder. A
// file-size limit makes writes fail with the system's reason, not kill us.
TEST_F(QuiltaraMake, UnsafeArgumentsAreRefusedAndLimitsAreErrors) {
    DemoServer server;
    const std::string c = (out_ / "c.png").string();
    for (const auto& [hl, output, said] :
         {std::tuple{"en&x=0&y=0&z=0", c, "--hl takes a language code"},
          std::tuple{"abcdefghijklm", c, "--hl takes a language code"},
          std::tuple{"en", (out_ / "..").string(), "does not name a file"},
          std::tuple{"en", std::string("/dev/null"), "is not a plain file name"},
          std::tuple{"en", out_.string(), "is not a plain file name"}}) {
        std::vector<std::string> args = AreaAndTemplates(server);
        args.insert(args.end(), {"--hl", hl, "-o", output});
        const Finished made = Make(args);
        EXPECT_EQ(made.status, 2) << hl << output;
        EXPECT_THAT(made.err, HasSubstr(said));
    }
    EXPECT_TRUE(server.Requests().empty());
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--hl", "pt-BR", "--jobs=1", "-o", c});
    shellPrefix_ = "ulimit -f 1; ";
    const Finished made = Make(args);
    EXPECT_EQ(made.status, 1);
    EXPECT_THAT(made.err, HasSubstr("File too large"));
    EXPECT_EQ(server.Requests().front().Param("hl"), "pt-BR");
    EXPECT_TRUE(Images().empty());
}

// 429 or 503 with Retry-After in seconds or as an HTTP date: after the wait
// the same tile is asked for again, a few times at most.
TEST_F(QuiltaraMake, ABusyTileIsAskedForAgainAfterTheWait) {
    for (const auto& [times, asDate, requests, status] :
         {std::tuple{1, true, 2, 0}, std::tuple{100, false, 1 + kBusyRetries, 3}}) {
        DemoServer server(DemoServerOptions()
                              .BusyTile(5, 11, 20)
                              .Busy(503, asDate ? 2 : 1)
                              .BusyTimes(times, asDate)
                              .LogArrivals());
        std::vector<std::string> args = AreaAndTemplates(server);
        args.insert(args.end(), {"--jobs=1", "--existing=overwrite", (out_ / "c.png").string()});
        EXPECT_EQ(Make(args).status, status);
        std::vector<long long> arrivals;
        for (const auto& request : server.Requests()) {
            if (request.Param("x") == "11" && request.Param("y") == "20") {
                arrivals.push_back(request.arrivalMs);
            }
        }
        ASSERT_EQ(arrivals.size(), static_cast<std::size_t>(requests));
        for (std::size_t i = 1; i < arrivals.size(); ++i) {
            EXPECT_GE(arrivals[i] - arrivals[i - 1], 900) << i; // the pause asked for
        }
    }
}

TEST_F(QuiltaraMake, ShortOutputOptionWorksAndSubfoldersStayInside) {
    DemoServer server;
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--quiet", "--keep-tiles", "-o", (out_ / "city.png").string()});
    Finished run = Make(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(out_ / "Map_city.png"));

    fs::remove_all(out_);
    fs::create_directory(out_);
    args = AreaAndTemplates(server);
    args.insert(args.end(), {"--subfolder-map=../outside", "-o", (out_ / "city.png").string()});
    run = Make(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("'../outside'"));
    EXPECT_TRUE(Images().empty());
    EXPECT_FALSE(fs::exists(out_.parent_path() / "outside"));
}

TEST_F(QuiltaraMake, AReaderThatGoesAwayIsReportedAsAWriteError) {
    DemoServer server;
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--keep-tiles", "-o", (out_ / "city.png").string()});
    const fs::path program = test::BinaryDir() / "tools" / "quiltara-make" / "quiltara-make";
    std::string command = Quoted(program.string());
    for (const std::string& arg : args) {
        command += " " + Quoted(arg);
    }
    // quiltara-make ... | head -c 1
    const std::string pipeline =
        "( " + command + " </dev/null 2>" + Quoted((dir_ / "stderr.txt").string()) + "; echo $? >" +
        Quoted((dir_ / "status.txt").string()) + " ) | head -c 1 >/dev/null";
    ASSERT_EQ(std::system(pipeline.c_str()), 0);
    EXPECT_EQ(ReadFile(dir_ / "status.txt"), "1\n");
    EXPECT_THAT(ReadFile(dir_ / "stderr.txt"),
                HasSubstr("quiltara-make: cannot write the output: Broken pipe"));
}

TEST_F(QuiltaraMake, AnInterruptedRunLeavesNoUnfinishedFile) {
    // Tiles send half their body and stall: the run is caught mid-tile.
    DemoServer server(DemoServerOptions().Stall());
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--quiet", "-o", (out_ / "city.png").string()});
    const std::string program =
        (test::BinaryDir() / "tools" / "quiltara-make" / "quiltara-make").string();
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        freopen("/dev/null", "w", stdout);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    for (int i = 0; i < 500 && server.Requests().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(server.Requests().empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Unfinished tiles have no name where the file system allows it, else a
    // .part name; one per connection may be under way.
    const std::set<std::string> during = Images();
    // The first Ctrl-C stops the run, ending the transfers under way; the
    // second, should the run not have ended yet, ends the program at once.
    // Either way nothing unfinished stays.
    kill(child, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    for (const std::string& name : during) {
        EXPECT_THAT(name, ::testing::EndsWith(".part"));
    }
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 1))
        << status;
    EXPECT_TRUE(Images().empty());
}

TEST(TerminalPrompts, PoliciesAnswerTheirQuestionsAndEveryTextIsPrinted) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* memory = open_memstream(&buffer, &size);
    ASSERT_NE(memory, nullptr);
    {
        Console console(memory, false);
        std::istringstream input("");
        TerminalPrompts prompts(console, input, ExistingPolicy::Overwrite, DeletePolicy::Ask,
                                "/maps/x.png");
        EXPECT_EQ(prompts.ShowMessage("Overwrite?", MessageButtons::YesNoCancel),
                  MessageAnswer::Yes);
        EXPECT_EQ(prompts.ShowMessage("Note.", MessageButtons::Ok), MessageAnswer::Ok);
        // Asked, but nobody answers: No, which changes nothing on disk.
        EXPECT_EQ(prompts.ShowMessage("Delete?", MessageButtons::YesNo), MessageAnswer::No);
        EXPECT_EQ(prompts.AskSavePath(SaveDialogOptions{}), "/maps/x.png");

        TerminalPrompts keep(console, input, ExistingPolicy::Keep, DeletePolicy::Delete, "");
        EXPECT_EQ(keep.ShowMessage("Overwrite?", MessageButtons::YesNoCancel), MessageAnswer::No);
        EXPECT_EQ(keep.ShowMessage("Delete?", MessageButtons::YesNo), MessageAnswer::Yes);
    }
    std::fclose(memory);
    const std::string printed(buffer, size);
    std::free(buffer);
    EXPECT_EQ(printed,
              "[Quiltara] Overwrite? [Yes/No/Cancel] Yes (--existing=overwrite)\n"
              "[Quiltara] Note.\n"
              "[Quiltara] Delete? [y/n] (no answer: No)\n"
              "[Quiltara] Overwrite? [Yes/No/Cancel] No (--existing=keep)\n"
              "[Quiltara] Delete? [Yes/No] Yes (--delete-tiles)\n");
}

TEST_F(QuiltaraMake, MapServiceSendsTheDefaultTemplatesRequestsToTheOfflineService) {
    DemoServer server;
    const Finished run =
        Make({"--tiles=10,20,11,20", "--zoom=5", "--layers=map,satellite", "--keep-tiles",
              "--quiet", "--map-service", "127.0.0.1:" + std::to_string(server.Port()), "--output",
              (out_ / "city.png").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Images().count("Map_city.png"), 1u);
    EXPECT_EQ(Images().count("Sat_city.png"), 1u);
    std::set<std::string> hosts;
    for (const test::LoggedRequest& request : server.Requests()) {
        hosts.insert(request.Header("Host"));
    }
    EXPECT_EQ(hosts, (std::set<std::string>{"mt0.google.com", "khm0.google.com"}));

    const Finished bad = Make({"--tiles=10,20,11,20", "--zoom=5", "--map-service", "localhost",
                               "--output", (out_ / "city.png").string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_THAT(bad.err, HasSubstr("--map-service: 'localhost' is not HOST:PORT"));
}

TEST_F(QuiltaraMake, SourceFetchesPathStyleTilesThatStitchToTheSameMap) {
    DemoServer server;
    const std::string route = "127.0.0.1:" + std::to_string(server.Port());
    fs::create_directory(out_ / "parts");
    const Finished parts =
        Make({"--tiles=10,20,12,21", "--zoom=5", "--keep-tiles", "--quiet", "--map-service", route,
              "-o", (out_ / "parts" / "a.png").string()});
    ASSERT_EQ(parts.status, 0) << parts.err;
    const std::size_t partsRequests = server.Requests().size();
    const Finished run =
        Make({"--source", "offline-demo", "--tiles=10,20,12,21", "--zoom=5", "--keep-tiles",
              "--quiet", "--jobs=8", "--map-service", route, "-o", (out_ / "a.png").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    // The same pixels; the files differ in the credit they carry.
    test::ExpectSamePixels(RasterImage((out_ / "parts" / "Map_a.png").string(), kFormatPng),
                           RasterImage((out_ / "Map_a.png").string(), kFormatPng), "Map_a.png");

    const std::vector<test::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), partsRequests + 6);
    std::set<std::string> hosts;
    for (std::size_t i = partsRequests; i < requests.size(); ++i) {
        hosts.insert(requests[i].Header("Host"));
        EXPECT_THAT(requests[i].Target(), testing::StartsWith("/tiles/map/5/"));
        EXPECT_THAT(requests[i].Header("User-Agent"), testing::MatchesRegex("Quiltara/[0-9.]+"));
    }
    EXPECT_EQ(hosts, (std::set<std::string>{"a.offline-demo.localhost", "b.offline-demo.localhost",
                                            "c.offline-demo.localhost"}));

    // The demo's terms allow 250000 tiles at a time; its grid at zoom 10 is four times that.
    const Finished tooMany = Make({"--source", "offline-demo", "--tiles=0,0,1023,1023", "--zoom=10",
                                   "-o", (out_ / "a.png").string()});
    EXPECT_EQ(tooMany.status, 2);
    EXPECT_THAT(tooMany.err, HasSubstr("at most 250000"));
    const Finished noLayer = Make(
        {"--source", "nonesuch", "--tiles=0,0,0,0", "--zoom=1", "-o", (out_ / "a.png").string()});
    EXPECT_THAT(noLayer.err, HasSubstr("no tile source 'nonesuch'"));
    const Finished tooDeep = Make({"--source", "offline-demo", "--tiles=0,0,0,0", "--zoom=21", "-o",
                                   (out_ / "a.png").string()});
    EXPECT_THAT(tooDeep.err, HasSubstr("has zooms 0 to 20, not 21"));
}

TEST_F(QuiltaraMake, ListSourcesNamesUnreadableFilesAndListsTheRest) {
    const test::TempDir config;
    fs::create_directories(config / "Quiltara" / "sources");
    std::ofstream(config / "Quiltara" / "sources" / "mine.json")
        << R"({"id": "mine", "name": "My tiles", "layers": {"map": "https://t.example/{z}/{x}/{y}.png"}})";
    std::ofstream(config / "Quiltara" / "sources" / "bad.json") << "{";
    const std::string saved = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    const Finished listed = Make({"--list-sources"});
    if (saved.empty()) {
        unsetenv("XDG_CONFIG_HOME");
    } else {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    }
    EXPECT_EQ(listed.status, 3);
    EXPECT_THAT(listed.out, HasSubstr("offline-demo  Offline demo"));
    EXPECT_THAT(listed.out, HasSubstr("mine  My tiles  (map)\n"));
    EXPECT_THAT(listed.err,
                HasSubstr("not read: " + (config / "Quiltara" / "sources" / "bad.json").string() +
                          ": not valid JSON"));
}

// No file in the user's folder crashes or hangs a run: each is named, on a
// line of its own whatever its name holds, and the good source still runs.
TEST_F(QuiltaraMake, HostileSourceFilesAreNamedAndAGoodSourceStillRuns) {
    DemoServer server;
    const UserSources user;
    user.Write("deep.json",
               R"({"id": "deep", "name": "Deep", "layers": {"map": "https://t.example/{z}/{x}/{y}"},
                  "headers": )" +
                   std::string(100000, '[') + std::string(100000, ']') + "}");
    ASSERT_EQ(::mkfifo((user.Folder() / "fifo.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", user.Folder() / "zero.json");
    user.Write("huge.json", "[" + std::string(2 << 20, ' ') + "]");
    // The name would forge a "not read" line and colour the terminal.
    user.Write(
        "mine.json",
        user.Source(server, R"(Mine \u001b[31mred\u001b[0m\nquiltara-make: not read: forged)"));
    shellPrefix_ = user.Prefix();

    const Finished listed = Make({"--list-sources"});
    EXPECT_EQ(listed.status, 3) << listed.err;
    for (const char* file : {"deep.json", "fifo.json", "zero.json", "huge.json"}) {
        EXPECT_THAT(listed.err, HasSubstr("not read: " + (user.Folder() / file).string() + ": "));
    }
    EXPECT_THAT(
        listed.out,
        HasSubstr("mine  Mine \\x1b[31mred\\x1b[0m\\nquiltara-make: not read: forged  (map)\n"));
    EXPECT_EQ((listed.out + listed.err).find('\x1b'), std::string::npos);
    EXPECT_EQ((listed.out + listed.err).find("\nquiltara-make: not read: forged"),
              std::string::npos);

    const Finished run = Make({"--source", "mine", "--tiles=10,20,11,21", "--zoom=5",
                               "--keep-tiles", "--quiet", "-o", (out_ / "a.png").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Images().count("Map_a.png"), 1u);
}

// A catalogue source's failed tiles are told with its name, and with the wait
// its server asked for that the run would not sit out; a dry run over its
// tile limit says so, as the run itself would.
TEST_F(QuiltaraMake, ASourcesFailedTilesAreToldWithItsNameAndTheWaitItAskedFor) {
    DemoServer server(DemoServerOptions()
                          .MissingTile(5, 10, 20)
                          .BusyTile(5, 11, 20)
                          .Busy(429, 86400)
                          .BusyTimes(100, false));
    const UserSources user;
    user.Write("mine.json", user.Source(server, "My tiles", R"(, "tileLimit": 3)"));
    shellPrefix_ = user.Prefix();
    const Finished run =
        Make({"--source", "mine", "--tiles=10,20,11,21", "--zoom=5", "--keep-tiles", "--quiet",
              "--beyond-tile-limit", "-o", (out_ / "a.png").string()});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_THAT(run.out,
                HasSubstr("[Quiltara] There were errors downloading some of the images from My "
                          "tiles.  The resulting image may not be 100% complete  The server asked "
                          "to wait 86400 seconds"));
    std::size_t busyAsked = 0;
    for (const test::LoggedRequest& request : server.Requests()) {
        busyAsked += request.Target() == "/tiles/map/5/11/20.png" ? 1 : 0;
    }
    EXPECT_EQ(busyAsked, 1u);

    const Finished dry = Make({"--source", "mine", "--tiles=10,20,11,21", "--zoom=5", "--dry-run",
                               "-o", (out_ / "a.png").string()});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_THAT(dry.out, HasSubstr("this map needs 4 tiles, but the terms of use of 'My tiles' "
                                   "allow at most 3 at a time"));
}

} // namespace
} // namespace quiltara::make
