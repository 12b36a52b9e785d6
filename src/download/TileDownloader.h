#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "download/TileImageCheck.h"
#include "platform/AtomicFile.h"
#include "platform/HttpClient.h"
#include "platform/Prompts.h"
#include "tiles/TileSources.h"

namespace quiltara {

// Whether the existing-file question was asked in the current create-map
// run. Its owner (the control panel) calls StartRun() when a run begins.
struct OverwriteRunState {
    bool overwriteAsked = false;

    void StartRun() { overwriteAsked = false; }
};

// The last answer to the existing-file question: true only after Yes. The
// application owns one for its whole run.
struct OverwriteChoice {
    bool overwrite = false;
};

// A failure that ends the create-map run: a URL that could not be opened (no
// connection, unknown host, refused, no answer, a server that stopped
// sending) or a tile file that could not be created or written. Tiles
// fetched before it stay on disk; the caller shows the message. Proxy: the
// request failed at the proxy (unreachable, refusing, wanting credentials),
// and the reason is a sentence naming it.
class TileDownloadError : public std::runtime_error {
public:
    enum class Cause { Connection, TileFile, Proxy };

    TileDownloadError(Cause cause, std::string subject, std::string reason);

    Cause GetCause() const { return cause_; }
    // The URL (Connection, Proxy) or the tile file's path (TileFile).
    const std::string& Subject() const { return subject_; }
    const std::string& Reason() const { return reason_; }

private:
    Cause cause_;
    std::string subject_;
    std::string reason_;
};

// The largest tile body taken: no map tile comes near it, and a server that
// sends more makes the tile fail rather than fill the disk.
inline constexpr std::uint64_t kMaxTileBodyBytes = 16 * 1024 * 1024;

class TileFileSink;

// A downloaded tile that passed the image check, held under its temporary
// name until Commit() puts it under the tile's name. Never committed, it
// leaves nothing behind.
class HeldTile {
public:
    explicit HeldTile(std::unique_ptr<AtomicFile> file) : file_(std::move(file)) {}

    // Throws TileDownloadError (a tile file that cannot be written).
    void Commit();

private:
    std::unique_ptr<AtomicFile> file_;
};

// The extra header lines of every tile request, in this order.
const std::vector<std::string>& TileRequestHeaders();

// The text of the existing-file question for one tile file.
std::string OverwriteQuestion(const std::string& tilePath);

// Fetches one URL into one tile file and keeps the file only when it is a
// usable image. Owns no state of its own: the run state, the overwrite
// choice and the HTTP client belong to its callers.
class TileDownloader : public TileUrlFetcher {
public:
    TileDownloader(HttpClient& http, Prompts& prompts, const TileImageCheck& imageCheck,
                   OverwriteChoice& choice, OverwriteRunState& runState);

    // One request. Usable: a file is at tilePath and is to be used (an
    // existing file that the user chose to keep, or a download that passed
    // the image check and then replaced whatever was there). Not usable: this
    // call obtained no usable file and left tilePath as it was; a body over
    // kMaxTileBodyBytes is such a failure, and so is a busy answer (429 or
    // 503 with a Retry-After; for a catalogue source any 429 or 503), whose
    // result says what it asked of the next attempt. Throws
    // TileDownloadError for failures that end the run.
    TileFileResult FetchUrlToFile(const std::filesystem::path& tilePath,
                                  const std::string& url) override;

    // How every request from now on is made: the style's header lines (none:
    // TileRequestHeaders()). A catalogue source's tile must also come with a
    // success status: its server's error pages may be pictures.
    void SetRequestStyle(const TileRequestStyle& style) {
        headerLines_ = style.headerLines;
        successOnly_ = style.catalogue;
    }

    // With hold on, a usable download stays under its temporary name, for
    // TakeHeldTile() to hand over, rather than replacing the tile's file.
    void HoldCheckedTiles(bool hold) { hold_ = hold; }
    std::optional<HeldTile> TakeHeldTile();

private:
    // Asks about an existing file when this run has not settled it yet;
    // true when the existing file is to be kept.
    bool KeepExistingFile(const std::filesystem::path& tilePath);
    // Keeps the complete answer's body under the tile's name when it is a
    // usable image.
    TileFileResult TakeBody(TileFileSink& sink, const HttpResult& answer);

    HttpClient& http_;
    Prompts& prompts_;
    const TileImageCheck& imageCheck_;
    OverwriteChoice& choice_;
    OverwriteRunState& runState_;
    std::vector<std::string> headerLines_;
    bool successOnly_ = false;
    bool hold_ = false;
    std::optional<HeldTile> held_;
};

} // namespace quiltara
