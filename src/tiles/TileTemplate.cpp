#include "tiles/TileTemplate.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <utility>

namespace quiltara {
namespace {

// Rows counted from the bottom need the grid's size; 2^30 rows is the deepest
// grid whose indices stay ints.
constexpr int kDeepestZoom = 30;

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Where a free-text placeholder ([HL], [SERVER], {s} without subdomains)
// must stop: it never swallows a path step, a query separator or a label dot.
bool EndsFreeText(char c, bool hostLabel) {
    return c == '/' || c == '?' || c == '&' || c == '#' || c == '=' || (hostLabel && c == '.');
}

} // namespace

struct TileTemplate::MatchState {
    std::optional<int> column;
    std::optional<int> row;
    std::optional<int> rowFromBottom;
    std::optional<int> zoom;
};

std::optional<TileTemplate> TileTemplate::Parse(std::string_view text, std::string& error) {
    static constexpr std::array<std::pair<std::string_view, Kind>, 11> kNames = {{
        {"{x}", Kind::Column},
        {"{y}", Kind::Row},
        {"{-y}", Kind::RowFromBottom},
        {"{z}", Kind::Zoom},
        {"{s}", Kind::Subdomain},
        {"[X]", Kind::Column},
        {"[Y]", Kind::Row},
        {"[Z]", Kind::Zoom},
        {"[SRVINDEX]", Kind::ServerIndex},
        {"[HL]", Kind::Language},
        {"[SERVER]", Kind::ServerWord},
    }};
    TileTemplate result;
    result.text_ = std::string(text);
    std::size_t at = 0;
    auto literal = [&result](char c) {
        if (result.pieces_.empty() || result.pieces_.back().kind != Kind::Literal) {
            result.pieces_.push_back(Piece{});
        }
        result.pieces_.back().literal += c;
    };
    while (at < text.size()) {
        const std::string_view rest = text.substr(at);
        const auto known = std::find_if(kNames.begin(), kNames.end(), [rest](const auto& name) {
            return rest.substr(0, name.first.size()) == name.first;
        });
        if (known != kNames.end()) {
            result.pieces_.push_back(Piece{known->second, {}});
            at += known->first.size();
            continue;
        }
        if (rest.front() == '{') {
            const auto close = rest.find('}');
            error = close == std::string_view::npos
                        ? "a '{' without its '}'"
                        : "unknown placeholder " + std::string(rest.substr(0, close + 1)) +
                              " (known: {x} {y} {z} {s} {-y})";
            return std::nullopt;
        }
        literal(rest.front());
        ++at;
    }
    return result;
}

bool TileTemplate::Has(Kind kind) const {
    return std::any_of(pieces_.begin(), pieces_.end(),
                       [kind](const Piece& piece) { return piece.kind == kind; });
}

std::optional<std::string> TileTemplate::MissingPart(bool hasSubdomains) const {
    if (!Has(Kind::Column)) {
        return "it has no column placeholder ({x})";
    }
    if (!Has(Kind::Row) && !Has(Kind::RowFromBottom)) {
        return "it has no row placeholder ({y} or {-y})";
    }
    if (!Has(Kind::Zoom)) {
        return "it has no zoom placeholder ({z})";
    }
    if (Has(Kind::Subdomain) && !hasSubdomains) {
        return "it has {s} but the source lists no subdomains";
    }
    return std::nullopt;
}

std::string TileTemplate::Expand(int column, int row, int zoom, std::string_view subdomain,
                                 std::string_view languageCode) const {
    std::string url;
    for (const Piece& piece : pieces_) {
        switch (piece.kind) {
            case Kind::Literal:
                url += piece.literal;
                break;
            case Kind::Column:
                url += std::to_string(column);
                break;
            case Kind::Row:
                url += std::to_string(row);
                break;
            case Kind::RowFromBottom: {
                const long long rows = zoom >= 0 && zoom <= kDeepestZoom ? 1LL << zoom : 0;
                url += std::to_string(rows - 1 - row);
                break;
            }
            case Kind::Zoom:
                url += ZoomText(zoom);
                break;
            case Kind::Subdomain:
                url += subdomain;
                break;
            case Kind::ServerIndex:
                url += '0';
                break;
            case Kind::Language:
                url += languageCode.empty() ? std::string_view("en") : languageCode;
                break;
            case Kind::ServerWord:
                url += 'G';
                break;
        }
    }
    return url;
}

std::string TileTemplate::PageForm() const {
    std::string form;
    for (const Piece& piece : pieces_) {
        switch (piece.kind) {
            case Kind::Literal:
                form += piece.literal;
                break;
            case Kind::Column:
                form += "{x}";
                break;
            case Kind::Row:
                form += "{y}";
                break;
            case Kind::RowFromBottom:
                form += "{-y}";
                break;
            case Kind::Zoom:
                form += zoomNames_.empty() ? "{z}" : "{zn}";
                break;
            case Kind::Subdomain:
                form += "{s}";
                break;
            case Kind::ServerIndex:
                form += '0';
                break;
            case Kind::Language:
                form += "{hl}";
                break;
            case Kind::ServerWord:
                form += 'G';
                break;
        }
    }
    return form;
}

bool TileTemplate::NamedZoom(int zoom) const {
    return zoom >= 0 && static_cast<std::size_t>(zoom) < zoomNames_.size() &&
           !zoomNames_[static_cast<std::size_t>(zoom)].empty();
}

std::string TileTemplate::ZoomText(int zoom) const {
    return NamedZoom(zoom) ? zoomNames_[static_cast<std::size_t>(zoom)] : std::to_string(zoom);
}

bool TileTemplate::MatchZoomName(std::size_t piece, std::string_view url, std::size_t at,
                                 const std::vector<std::string>& subdomains,
                                 MatchState& state) const {
    const std::string_view rest = url.substr(at);
    for (std::size_t zoom = 0; zoom < zoomNames_.size(); ++zoom) {
        const std::string& name = zoomNames_[zoom];
        if (name.empty() || !SameLetters(rest.substr(0, name.size()), name) ||
            (state.zoom && *state.zoom != static_cast<int>(zoom))) {
            continue;
        }
        MatchState tried = state;
        tried.zoom = static_cast<int>(zoom);
        if (MatchFrom(piece + 1, url, at + name.size(), subdomains, tried)) {
            state = tried;
            return true;
        }
    }
    return false;
}

std::optional<TileMatch> TileTemplate::Match(std::string_view url,
                                             const std::vector<std::string>& subdomains) const {
    MatchState state;
    if (!MatchFrom(0, url, 0, subdomains, state) || !state.column || !state.zoom ||
        (!state.row && !state.rowFromBottom)) {
        return std::nullopt;
    }
    TileMatch match{*state.column, state.row.value_or(-1), *state.zoom};
    if (state.rowFromBottom) {
        if (*state.zoom < 0 || *state.zoom > kDeepestZoom) {
            return std::nullopt;
        }
        const int fromTop = static_cast<int>((1LL << *state.zoom) - 1 - *state.rowFromBottom);
        if (state.row && *state.row != fromTop) {
            return std::nullopt;
        }
        match.row = fromTop;
    }
    return match;
}

bool TileTemplate::MatchFrom(std::size_t piece, std::string_view url, std::size_t at,
                             const std::vector<std::string>& subdomains, MatchState& state) const {
    if (piece == pieces_.size()) {
        return at == url.size();
    }
    const Piece& p = pieces_[piece];
    const std::string_view rest = url.substr(at);
    auto next = [&](std::size_t length, MatchState tried) {
        if (MatchFrom(piece + 1, url, at + length, subdomains, tried)) {
            state = tried;
            return true;
        }
        return false;
    };
    switch (p.kind) {
        case Kind::Literal:
            return SameLetters(rest.substr(0, p.literal.size()), p.literal) &&
                   next(p.literal.size(), state);
        case Kind::Column:
        case Kind::Row:
        case Kind::RowFromBottom:
        case Kind::Zoom:
        case Kind::ServerIndex: {
            if (p.kind == Kind::Zoom && MatchZoomName(piece, url, at, subdomains, state)) {
                return true;
            }
            std::size_t digits = 0;
            while (digits < rest.size() && digits < 10 && IsDigit(rest[digits])) {
                ++digits;
            }
            // The longest number first; a shorter one only when the rest
            // of the template needs the digits.
            for (std::size_t length = digits; length > 0; --length) {
                int value = 0;
                if (std::from_chars(rest.data(), rest.data() + length, value).ec != std::errc()) {
                    continue;
                }
                MatchState tried = state;
                std::optional<int>* slot = p.kind == Kind::Column          ? &tried.column
                                           : p.kind == Kind::Row           ? &tried.row
                                           : p.kind == Kind::RowFromBottom ? &tried.rowFromBottom
                                           : p.kind == Kind::Zoom          ? &tried.zoom
                                                                           : nullptr;
                if (slot != nullptr) {
                    if (slot->has_value() && **slot != value) {
                        continue; // a placeholder used twice names one value
                    }
                    if (p.kind == Kind::Zoom && NamedZoom(value)) {
                        continue; // that zoom goes by its name
                    }
                    *slot = value;
                }
                if (next(length, tried)) {
                    return true;
                }
            }
            return false;
        }
        case Kind::Subdomain:
            if (!subdomains.empty()) {
                for (const std::string& subdomain : subdomains) {
                    if (!subdomain.empty() &&
                        SameLetters(rest.substr(0, subdomain.size()), subdomain) &&
                        next(subdomain.size(), state)) {
                        return true;
                    }
                }
                return false;
            }
            [[fallthrough]];
        case Kind::Language:
        case Kind::ServerWord: {
            std::size_t length = 0;
            const bool hostLabel = p.kind == Kind::Subdomain;
            while (length < rest.size() && !EndsFreeText(rest[length], hostLabel)) {
                ++length;
            }
            for (std::size_t tried = length + 1; tried-- > 0;) {
                if (next(tried, state)) {
                    return true;
                }
            }
            return false;
        }
    }
    return false;
}

} // namespace quiltara
