#include "download/TileCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "download/TileFreshness.h"

namespace quiltara {
namespace {

constexpr std::string_view kEntryMagic = "Quiltara tile cache entry 1";
constexpr std::string_view kEntryExtension = ".entry";
constexpr std::string_view kBodyExtension = ".tile";
constexpr std::string_view kPartExtension = ".part";
// Leftovers younger than this may belong to a run writing them right now.
constexpr std::time_t kLeftoverAge = 60 * 60;

std::uint64_t AddressHash(std::string_view address) {
    std::uint64_t hash = 0xcbf29ce484222325ULL; // FNV-1a
    for (unsigned char c : address) {
        hash = (hash ^ c) * 0x100000001b3ULL;
    }
    return hash;
}

std::string Hex(std::uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

// A body name no other writer picks, in this process or another.
std::string UniqueSuffix() {
    thread_local std::mt19937_64 random{std::random_device{}() ^
                                        (static_cast<std::uint64_t>(::getpid()) << 32)};
    return Hex(random(), 16);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The size and FNV-1a hash of a file's bytes; nothing when it cannot be read.
std::optional<std::pair<std::uint64_t, std::uint64_t>> SizeAndChecksum(
    const std::filesystem::path& path) {
    const std::unique_ptr<std::FILE, FileCloser> in(std::fopen(path.c_str(), "rb"));
    if (!in) {
        return std::nullopt;
    }
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    std::uint64_t size = 0;
    unsigned char buffer[32768];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in.get());
        for (std::size_t i = 0; i < got; ++i) {
            hash = (hash ^ buffer[i]) * 0x100000001b3ULL;
        }
        size += got;
        if (got < sizeof buffer) {
            break;
        }
    }
    if (std::ferror(in.get()) != 0) {
        return std::nullopt;
    }
    return std::pair{size, hash};
}

bool ParseNumber(std::string_view text, std::int64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

struct FileFacts {
    std::uint64_t bytes = 0;
    std::time_t modified = 0;
    std::int64_t modifiedNs = 0; // orders entries used within one second
};

std::optional<FileFacts> Facts(const std::filesystem::path& path) {
    struct stat facts {};
    if (::stat(path.c_str(), &facts) != 0) {
        return std::nullopt;
    }
    return FileFacts{
        static_cast<std::uint64_t>(facts.st_size), facts.st_mtime,
        static_cast<std::int64_t>(facts.st_mtim.tv_sec) * 1000000000 + facts.st_mtim.tv_nsec};
}

std::optional<CachedTile> ReadEntry(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != kEntryMagic) {
        return std::nullopt;
    }
    CachedTile tile;
    tile.entry = path;
    std::string bodyName;
    std::int64_t bytes = -1;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "address") {
            tile.address = value;
        } else if (key == "body") {
            bodyName = value;
        } else if (key == "etag") {
            tile.etag = value;
        } else if (key == "last-modified") {
            tile.lastModified = value;
        } else if (key == "checksum") {
            tile.checksum = std::strtoull(value.c_str(), nullptr, 16);
        } else if ((key == "lifetime" && !ParseNumber(value, tile.lifetimeSeconds)) ||
                   (key == "fresh-until" && !ParseNumber(value, tile.freshUntil)) ||
                   (key == "bytes" && !ParseNumber(value, bytes))) {
            return std::nullopt;
        }
    }
    if (bodyName.empty() || bodyName.find('/') != std::string::npos || bytes < 0 ||
        tile.address.empty()) {
        return std::nullopt;
    }
    tile.body = path.parent_path() / bodyName;
    tile.bodyBytes = static_cast<std::uint64_t>(bytes);
    return tile;
}

// Copies from into a new file of its own under to (temporary name, rename).
bool CopyInto(const std::filesystem::path& from, AtomicFile& to) {
    const std::unique_ptr<std::FILE, FileCloser> in(std::fopen(from.c_str(), "rb"));
    if (!in) {
        return false;
    }
    char buffer[32768];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in.get());
        if (got > 0 && std::fwrite(buffer, 1, got, to.Stream()) != got) {
            return false;
        }
        if (got < sizeof buffer) {
            return std::ferror(in.get()) == 0;
        }
    }
}

bool EndsWith(const std::string& name, std::string_view ending) {
    return name.size() > ending.size() && name.ends_with(ending);
}

} // namespace

std::uint64_t TileCacheLimitSetting(SettingsStore& settings) {
    const int megabytes = settings.GetInt(kTileCacheSizeSetting, -1);
    if (megabytes < 0) {
        return kDefaultTileCacheBytes;
    }
    return static_cast<std::uint64_t>(megabytes) * kMegabyte;
}

std::optional<std::uint64_t> ParseCacheSize(std::string_view text) {
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    std::string unit(end, text.data() + text.size());
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (unit.ends_with("IB")) {
        unit.resize(unit.size() - 2);
    } else if (unit.size() > 1 && unit.ends_with("B")) {
        unit.resize(unit.size() - 1);
    }
    const std::string_view units = "KMGT";
    int shift = 20; // a bare number is megabytes
    if (!unit.empty()) {
        const auto found = units.find(unit);
        if (unit.size() != 1 || found == std::string_view::npos) {
            return std::nullopt;
        }
        shift = 10 * static_cast<int>(found + 1);
    }
    if (number > (UINT64_MAX >> shift)) {
        return std::nullopt;
    }
    return number << shift;
}

std::filesystem::path DefaultTileCacheFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    std::filesystem::path base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home != nullptr ? home : ".") / ".cache";
    }
    return base / "Quiltara" / "tiles";
}

TileCache::TileCache(std::filesystem::path folder, std::uint64_t limitBytes, bool offline)
    : folder_(std::move(folder)), limitBytes_(limitBytes), offline_(offline) {}

std::filesystem::path TileCache::EntryPath(const std::string& address) const {
    const std::string hash = Hex(AddressHash(address), 16);
    return folder_ / hash.substr(0, 2) / (hash + std::string(kEntryExtension));
}

std::optional<CachedTile> TileCache::Find(const std::string& address) const {
    std::optional<CachedTile> tile = ReadEntry(EntryPath(address));
    if (!tile || tile->address != address) {
        return std::nullopt;
    }
    return tile;
}

bool TileCache::WriteEntry(const CachedTile& tile) const {
    try {
        AtomicFile file(tile.entry, AtomicFile::Durability::Flushed);
        std::ostringstream text;
        text << kEntryMagic << "\naddress " << tile.address << "\nbody "
             << tile.body.filename().string() << "\netag " << tile.etag << "\nlast-modified "
             << tile.lastModified << "\nlifetime " << tile.lifetimeSeconds << "\nfresh-until "
             << tile.freshUntil << "\nbytes " << tile.bodyBytes << "\nchecksum "
             << Hex(tile.checksum, 16) << "\n";
        const std::string bytes = text.str();
        if (std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
            return false;
        }
        file.Commit();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void TileCache::Store(const std::string& address, const std::filesystem::path& body,
                      const HttpResult& answer, std::time_t now) {
    if (address.empty() || address.find('\n') != std::string::npos) {
        return;
    }
    const TileFreshness freshness = FreshnessOf(answer, now);
    const std::optional<CachedTile> earlier = Find(address);
    if (!freshness.store) {
        if (earlier) {
            Drop(*earlier);
        }
        return;
    }
    CachedTile tile;
    tile.address = address;
    tile.entry = EntryPath(address);
    const std::string hash = tile.entry.stem().string();
    tile.body =
        tile.entry.parent_path() / (hash + "-" + UniqueSuffix() + std::string(kBodyExtension));
    tile.etag = answer.Header("ETag");
    tile.lastModified = answer.Header("Last-Modified");
    tile.lifetimeSeconds = freshness.lifetimeSeconds;
    tile.freshUntil = now + freshness.lifetimeSeconds;
    std::error_code ec;
    std::filesystem::create_directories(tile.entry.parent_path(), ec);
    // A body on the same file system becomes the cache's without a copy.
    if (::linkat(AT_FDCWD, body.c_str(), AT_FDCWD, tile.body.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        try {
            AtomicFile copy(tile.body, AtomicFile::Durability::Flushed);
            if (!CopyInto(body, copy)) {
                return;
            }
            copy.Commit();
        } catch (const std::system_error&) {
            return;
        }
    }
    const auto summed = SizeAndChecksum(tile.body);
    if (summed) {
        tile.bodyBytes = summed->first;
        tile.checksum = summed->second;
    }
    if (!summed || !WriteEntry(tile)) {
        ::unlink(tile.body.c_str());
        return;
    }
    if (earlier && earlier->body != tile.body) {
        ::unlink(earlier->body.c_str());
    }
}

void TileCache::Refresh(const CachedTile& tile, const HttpResult& notModified, std::time_t now) {
    const TileFreshness freshness = RefreshedFreshness(notModified, tile.lifetimeSeconds, now);
    if (!freshness.store) {
        Drop(tile);
        return;
    }
    CachedTile refreshed = tile;
    refreshed.lifetimeSeconds = freshness.lifetimeSeconds;
    refreshed.freshUntil = now + freshness.lifetimeSeconds;
    if (const std::string etag = notModified.Header("ETag"); !etag.empty()) {
        refreshed.etag = etag;
    }
    if (const std::string modified = notModified.Header("Last-Modified"); !modified.empty()) {
        refreshed.lastModified = modified;
    }
    WriteEntry(refreshed);
}

void TileCache::Drop(const CachedTile& tile) {
    // Only while the entry still names this body: another process may have
    // stored a new version meanwhile.
    const std::optional<CachedTile> current = ReadEntry(tile.entry);
    if (current && current->body == tile.body) {
        ::unlink(tile.entry.c_str());
    }
    ::unlink(tile.body.c_str());
}

std::unique_ptr<AtomicFile> TileCache::Place(const CachedTile& tile,
                                             const std::filesystem::path& tilePath) const {
    std::error_code error;
    std::unique_ptr<AtomicFile> linked = AtomicFile::LinkTo(tile.body, tilePath, error);
    if (linked || error == std::errc::no_such_file_or_directory) {
        return linked;
    }
    auto copy = std::make_unique<AtomicFile>(tilePath, AtomicFile::Durability::Flushed);
    if (!CopyInto(tile.body, *copy)) {
        return nullptr;
    }
    copy->Close();
    return copy;
}

bool TileCache::Intact(const CachedTile& tile, const std::filesystem::path& file) const {
    const auto summed = SizeAndChecksum(file);
    return summed && summed->first == tile.bodyBytes && summed->second == tile.checksum;
}

void TileCache::Touch(const CachedTile& tile) const {
    ::utimensat(AT_FDCWD, tile.entry.c_str(), nullptr, 0);
}

TileCache::Usage TileCache::Measure() const {
    Usage usage;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (EndsWith(name, kEntryExtension) || EndsWith(name, kBodyExtension)) {
            if (const std::optional<FileFacts> facts = Facts(it->path())) {
                usage.bytes += facts->bytes;
                usage.entries += EndsWith(name, kEntryExtension) ? 1 : 0;
            }
        }
    }
    return usage;
}

std::uint64_t TileCache::Trim(std::uint64_t limitBytes) {
    struct Held {
        std::int64_t used = 0;
        std::filesystem::path entry;
        std::filesystem::path body;
        std::uint64_t bytes = 0;
    };
    std::vector<Held> entries;
    std::vector<std::pair<std::filesystem::path, FileFacts>> bodies;
    std::vector<std::filesystem::path> named;
    const std::time_t now = std::time(nullptr);
    std::uint64_t freed = 0;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::optional<FileFacts> facts = Facts(it->path());
        if (!facts || it->is_directory(ec)) {
            continue;
        }
        if (EndsWith(name, kEntryExtension)) {
            Held held{facts->modifiedNs, it->path(), {}, facts->bytes};
            if (const std::optional<CachedTile> tile = ReadEntry(it->path())) {
                held.body = tile->body;
                named.push_back(tile->body);
                if (const std::optional<FileFacts> body = Facts(tile->body)) {
                    held.bytes += body->bytes;
                }
            }
            entries.push_back(std::move(held));
        } else if (EndsWith(name, kBodyExtension)) {
            bodies.emplace_back(it->path(), *facts);
        } else if (EndsWith(name, kPartExtension) &&
                   (limitBytes == 0 || now - facts->modified > kLeftoverAge)) {
            ::unlink(it->path().c_str());
        }
    }
    // Bodies no entry names: left by a process that stopped between storing
    // a body and its entry, or by two processes storing one tile at once.
    std::sort(named.begin(), named.end());
    for (const auto& [body, facts] : bodies) {
        if (!std::binary_search(named.begin(), named.end(), body) &&
            (limitBytes == 0 || now - facts.modified > kLeftoverAge) &&
            ::unlink(body.c_str()) == 0) {
            freed += facts.bytes;
        }
    }
    std::uint64_t total = 0;
    for (const Held& held : entries) {
        total += held.bytes;
    }
    std::sort(entries.begin(), entries.end(),
              [](const Held& a, const Held& b) { return a.used < b.used; });
    for (const Held& held : entries) {
        if (total <= limitBytes) {
            break;
        }
        ::unlink(held.entry.c_str());
        if (!held.body.empty()) {
            ::unlink(held.body.c_str());
        }
        total -= held.bytes;
        freed += held.bytes;
    }
    return freed;
}

} // namespace quiltara
