#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/AtomicFile.h"
#include "platform/HttpClient.h"
#include "platform/SettingsStore.h"

namespace quiltara {

inline constexpr std::uint64_t kMegabyte = 1024 * 1024;
inline constexpr std::uint64_t kDefaultTileCacheBytes = 2048 * kMegabyte;

// The settings value holding the cache's size cap, in megabytes.
inline constexpr const char* kTileCacheSizeSetting = "TileCacheSize";

// The cap the settings ask for, in bytes: kDefaultTileCacheBytes when absent
// or not a number of megabytes.
std::uint64_t TileCacheLimitSetting(SettingsStore& settings);

// "500" (megabytes), "512M", "2G", "750K", "1T" (units of 1024; a trailing
// "B" or "iB" is allowed); nothing when the text is none of these.
std::optional<std::uint64_t> ParseCacheSize(std::string_view text);

// The user's tile cache: $XDG_CACHE_HOME/Quiltara/tiles, or
// ~/.cache/Quiltara/tiles when XDG_CACHE_HOME is not set to an absolute path.
std::filesystem::path DefaultTileCacheFolder();

// One stored tile.
struct CachedTile {
    std::string address;         // the expanded tile address it was fetched from
    std::filesystem::path entry; // the entry's own file
    std::filesystem::path body;  // the tile's bytes, as the server sent them
    std::string etag;
    std::string lastModified;
    std::int64_t lifetimeSeconds = 0; // what the server allowed, for a 304 that says nothing
    std::int64_t freshUntil = 0;      // seconds since the epoch
    std::uint64_t bodyBytes = 0;
    // Of the bytes that passed the image check when the tile was stored.
    std::uint64_t checksum = 0;

    bool FreshAt(std::time_t now) const { return now < freshUntil; }
};

// A persistent cache of tiles shared by every run of every process of the
// user, keyed by the expanded tile address (so no two sources or layers
// share an entry).
//
// Each entry is a small text file named after a hash of the address, which
// it holds in full (two addresses of one hash never pass for each other),
// together with the server's validators, the tile's freshness and the name
// of the body file. A body file never changes once it has its name: a new
// version of a tile gets a body file of its own, and the entry file is
// replaced in one rename to name it. A process reading an entry therefore
// always finds a whole body, or none (removed by another process's cap), and
// two processes storing the same tile at once leave one of the two whole.
//
// Output tiles are hard links to the bodies where the file system allows,
// copies elsewhere; as the run replaces a tile file only by renaming a new
// file over it, and deletes only its own name, neither touches the entry.
// The cache's own failures never fail a tile: a tile that cannot be stored
// is simply not stored.
class TileCache {
public:
    // offline: tiles come from the cache only, fresh or not; nothing is asked
    // of a server.
    TileCache(std::filesystem::path folder, std::uint64_t limitBytes, bool offline = false);

    const std::filesystem::path& Folder() const { return folder_; }
    std::uint64_t LimitBytes() const { return limitBytes_.load(); }
    // A new cap, for the end of the runs to come (any thread).
    void SetLimitBytes(std::uint64_t limitBytes) { limitBytes_.store(limitBytes); }
    bool Offline() const { return offline_; }

    // The entry of address; nothing when there is none, or it is unreadable
    // or belongs to another address of the same hash.
    std::optional<CachedTile> Find(const std::string& address) const;

    // Keeps a tile that passed the image check, as the answer allows: not at
    // all for no-store (an older entry is dropped then). body: a readable
    // path of the complete bytes; linked into the cache where it can be.
    void Store(const std::string& address, const std::filesystem::path& body,
               const HttpResult& answer, std::time_t now = std::time(nullptr));

    // A 304 answered the entry's validators: the tile is fresh again, with
    // the validators the answer brings.
    void Refresh(const CachedTile& tile, const HttpResult& notModified,
                 std::time_t now = std::time(nullptr));

    // The entry is of no use any more (its body no longer decodes).
    void Drop(const CachedTile& tile);

    // The tile's body under a temporary name next to tilePath, for the caller
    // to check and Commit(): a hard link, or a copy where links cannot be
    // made. Null when the body has gone meanwhile. Throws std::system_error
    // when nothing can be written next to tilePath.
    std::unique_ptr<AtomicFile> Place(const CachedTile& tile,
                                      const std::filesystem::path& tilePath) const;

    // Whether file holds exactly the bytes that passed the image check when
    // the tile was stored. Those decode as they did then, so a tile that
    // passes needs no second decode; one that does not has changed since
    // (a damaged disk, a hand edit) and is to be dropped.
    bool Intact(const CachedTile& tile, const std::filesystem::path& file) const;

    // The entry was used now: the cap removes it after those used before it.
    void Touch(const CachedTile& tile) const;

    struct Usage {
        std::uint64_t bytes = 0;
        std::size_t entries = 0;
    };
    Usage Measure() const;

    // Removes the least recently used entries until the cache holds at most
    // limitBytes, and leftovers of interrupted writes; the bytes freed.
    std::uint64_t Trim(std::uint64_t limitBytes);
    std::uint64_t TrimToLimit() { return Trim(limitBytes_.load()); }
    // Removes every entry; the bytes freed.
    std::uint64_t Clear() { return Trim(0); }

private:
    std::filesystem::path EntryPath(const std::string& address) const;
    // Writes the entry file in one rename.
    bool WriteEntry(const CachedTile& tile) const;

    std::filesystem::path folder_;
    std::atomic<std::uint64_t> limitBytes_;
    bool offline_;
};

} // namespace quiltara
