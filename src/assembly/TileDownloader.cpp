#include "assembly/TileDownloader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

namespace quiltara {
namespace {

std::string DescribeError(TileDownloadError::Cause cause, const std::string& subject,
                          const std::string& reason) {
    if (cause == TileDownloadError::Cause::Connection) {
        return "Could not download '" + subject + "': " + reason;
    }
    return "Could not write the tile file '" + subject + "': " + reason;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The tile file being written. It is created when the answer's body starts
// (or, for an empty body, when the answer is complete), so a URL that cannot
// be opened leaves an existing file untouched. Unless Finish() succeeds, the
// file is deleted again: no failed attempt leaves a tile file behind.
class TileFileSink : public HttpBodySink {
public:
    explicit TileFileSink(std::filesystem::path path) : path_(std::move(path)) {}
    ~TileFileSink() override {
        if (created_ && !finished_) {
            file_.reset();
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }
    TileFileSink(const TileFileSink&) = delete;
    TileFileSink& operator=(const TileFileSink&) = delete;

    void WriteBlock(std::span<const std::byte> block) override {
        Create();
        if (std::fwrite(block.data(), 1, block.size(), file_.get()) != block.size()) {
            Fail("cannot write");
        }
    }

    // Closes the complete file.
    void Finish() {
        Create();
        std::FILE* file = file_.release();
        if (std::fclose(file) != 0) {
            Fail("cannot close");
        }
        finished_ = true;
    }

private:
    void Create() {
        if (created_) {
            return;
        }
        // An existing file is truncated.
        file_.reset(std::fopen(path_.c_str(), "wb"));
        if (!file_) {
            Fail("cannot create");
        }
        created_ = true;
    }

    [[noreturn]] void Fail(const char* what) const {
        const int error = errno;
        throw TileDownloadError(TileDownloadError::Cause::TileFile, path_.string(),
                                std::string(what) + ": " + std::strerror(error));
    }

    std::filesystem::path path_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    bool created_ = false;
    bool finished_ = false;
};

bool AnythingAt(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

} // namespace

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

bool TileDownloader::FetchUrlToFile(const std::filesystem::path& tilePath, const std::string& url) {
    if (AnythingAt(tilePath) && KeepExistingFile(tilePath)) {
        return true;
    }
    HttpResult answer;
    {
        TileFileSink sink(tilePath);
        try {
            // The body is kept whatever the status: the image check judges it.
            answer = http_.Get(url, TileRequestHeaders(), sink);
        } catch (const HttpConnectionError& error) {
            throw TileDownloadError(TileDownloadError::Cause::Connection, url, error.Reason());
        }
        sink.Finish();
    }
    // A body cut short of its announced length is a truncated tile even when
    // the decoder makes a picture of what came (JPEG data does).
    if (!answer.complete || !imageCheck_.IsUsableImage(tilePath)) {
        std::error_code ignored;
        std::filesystem::remove(tilePath, ignored);
        return false;
    }
    return true;
}

} // namespace quiltara
