#include "download/TileDownloader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/PoliteHttpClient.h"

namespace quiltara {
namespace {

std::string DescribeError(TileDownloadError::Cause cause, const std::string& subject,
                          const std::string& reason) {
    if (cause == TileDownloadError::Cause::Proxy) {
        // Every tile goes the same way: the tile's address would only mislead.
        return "Could not download the tiles: " + reason;
    }
    if (cause == TileDownloadError::Cause::Connection) {
        return "Could not download '" + subject + "': " + reason;
    }
    return "Could not write the tile file '" + subject + "': " + reason;
}

// The answer's body is larger than any map tile: a hostile or broken server.
struct TileBodyTooLarge {};

[[noreturn]] void FailTileFile(const std::filesystem::path& path, const char* what, int error) {
    throw TileDownloadError(TileDownloadError::Cause::TileFile, path.string(),
                            std::string(what) + ": " + std::strerror(error));
}

// What a 429 or 503 answer asks of the next attempt.
BusyServer BusyAnswer(const HttpResult& answer) {
    if (!answer.retryAfter) {
        return BusyServer::NoWait;
    }
    return PoliteHttpClient::WaitsFor(*answer.retryAfter) ? BusyServer::WaitAsked
                                                          : BusyServer::TooLong;
}

} // namespace

// The tile file being written: the body goes to a temporary file next to the
// tile, created when the body starts (or, for an empty body, when the answer
// is complete). Only Commit() puts it under the tile's name, so an existing
// tile is replaced only by a complete, checked one, and an interrupted
// download leaves nothing under the tile's name. Without Commit() the
// temporary file is removed again.
class TileFileSink : public HttpBodySink {
public:
    explicit TileFileSink(std::filesystem::path path) : path_(std::move(path)) {}

    void WriteBlock(std::span<const std::byte> block) override {
        bytes_ += block.size();
        if (bytes_ > kMaxTileBodyBytes) {
            throw TileBodyTooLarge{};
        }
        Create();
        if (std::fwrite(block.data(), 1, block.size(), file_->Stream()) != block.size()) {
            Fail("cannot write", errno);
        }
    }

    // Closes the complete body; the path it can be checked under.
    const std::filesystem::path& Finish() {
        Create();
        try {
            file_->Close();
        } catch (const std::system_error& error) {
            Fail("cannot write", error.code().value());
        }
        return file_->TemporaryPath();
    }

    // The checked body, to be put under the tile's name.
    HeldTile Hold() { return HeldTile(std::move(file_)); }

private:
    void Create() {
        if (file_) {
            return;
        }
        try {
            file_ = std::make_unique<AtomicFile>(path_, AtomicFile::Durability::Flushed);
        } catch (const std::system_error& error) {
            Fail("cannot create", error.code().value());
        }
    }

    [[noreturn]] void Fail(const char* what, int error) const { FailTileFile(path_, what, error); }

    std::filesystem::path path_;
    std::unique_ptr<AtomicFile> file_;
    std::uint64_t bytes_ = 0;
};

void HeldTile::Commit() {
    try {
        file_->Commit();
    } catch (const std::system_error& error) {
        FailTileFile(file_->FinalPath(), "cannot write", error.code().value());
    }
}

TileDownloadError::TileDownloadError(Cause cause, std::string subject, std::string reason)
    : std::runtime_error(DescribeError(cause, subject, reason)),
      cause_(cause),
      subject_(std::move(subject)),
      reason_(std::move(reason)) {}

const std::vector<std::string>& TileRequestHeaders() {
    static const std::vector<std::string> headers = {"Accept: image/gif, image/jpeg, image/png",
                                                     "User-Agent: HTML Get Sample"};
    return headers;
}

std::string OverwriteQuestion(const std::string& tilePath) {
    return "The file '" + tilePath +
           "' already exists in the output folder.  Do you want to overwrite this file?  "
           "Selecting No will use your existing files and will not overwrite any subsequent "
           "existing files.  Selecting Cancel will use your existing file but will ask if "
           "subsequent files exist";
}

TileDownloader::TileDownloader(HttpClient& http, Prompts& prompts, const TileImageCheck& imageCheck,
                               OverwriteChoice& choice, OverwriteRunState& runState)
    : http_(http),
      prompts_(prompts),
      imageCheck_(imageCheck),
      choice_(choice),
      runState_(runState) {}

bool TileDownloader::KeepExistingFile(const std::filesystem::path& tilePath) {
    if (!runState_.overwriteAsked) {
        runState_.overwriteAsked = true;
        const MessageAnswer answer =
            prompts_.ShowMessage(OverwriteQuestion(tilePath.string()), MessageButtons::YesNoCancel);
        choice_.overwrite = answer == MessageAnswer::Yes;
        if (answer == MessageAnswer::Cancel) {
            // Cancel settles this file only: the next existing file asks again.
            runState_.overwriteAsked = false;
        }
    }
    return !choice_.overwrite;
}

TileFileResult TileDownloader::FetchUrlToFile(const std::filesystem::path& tilePath,
                                              const std::string& url) {
    if (AnythingAt(tilePath) && KeepExistingFile(tilePath)) {
        return TileFileResult::KeptExisting();
    }
    TileFileSink sink(tilePath);
    HttpResult answer;
    try {
        answer = http_.Get(url, headerLines_.empty() ? TileRequestHeaders() : headerLines_, sink);
    } catch (const HttpProxyError& error) {
        throw TileDownloadError(TileDownloadError::Cause::Proxy, url, error.Reason());
    } catch (const HttpConnectionError& error) {
        throw TileDownloadError(TileDownloadError::Cause::Connection, url, error.Reason());
    } catch (const TileBodyTooLarge&) {
        return false;
    }
    // A server that asks for a pause has not said the tile is bad: the
    // retries ask again once the connection has waited (PoliteHttpClient).
    // The map service's other error pages are judged by the image check.
    const bool busy = answer.status == 429 || answer.status == 503;
    if (busy && (successOnly_ || answer.retryAfter)) {
        return TileFileResult::Busy(BusyAnswer(answer),
                                    answer.retryAfter.value_or(std::chrono::seconds(0)));
    }
    if (successOnly_ && (answer.status < 200 || answer.status > 299)) {
        return false;
    }
    return TakeBody(sink, answer);
}

std::optional<HeldTile> TileDownloader::TakeHeldTile() {
    std::optional<HeldTile> held = std::move(held_);
    held_.reset();
    return held;
}

TileFileResult TileDownloader::TakeBody(TileFileSink& sink, const HttpResult& answer) {
    const std::filesystem::path& body = sink.Finish();
    // A body cut short of its announced length is a truncated tile even when
    // the decoder makes a picture of what came (JPEG data does).
    if (!answer.complete || !imageCheck_.IsUsableImage(body)) {
        return false;
    }
    HeldTile checked = sink.Hold();
    if (hold_) {
        held_.emplace(std::move(checked));
    } else {
        checked.Commit();
    }
    return true;
}

} // namespace quiltara
