#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quiltara {

// What the page reports about the topmost element at one point.
struct PageElement {
    std::string tagName; // as the page gives it ("IMG" for an image in an HTML page)
    std::string src;     // the element's src attribute; empty when it has none

    bool operator==(const PageElement&) const = default;
};

// A point in the map view's client pixels (the page's hit-test takes the same).
struct PagePoint {
    int x = 0;
    int y = 0;
};

// The loaded page as the position probe sees it: which element lies under a
// point. The desktop application asks the live page; tests build one from a
// grid of rectangles.
class PageDocument {
public:
    virtual ~PageDocument() = default;

    // The topmost element at (x, y), or nothing when no element lies there
    // (outside the page, or the page is gone).
    virtual std::optional<PageElement> ElementAt(int x, int y) = 0;

    // The same question for many points at once, answered in order. A scan
    // along a line asks for a whole run of pixels; an implementation that has
    // to reach another process overrides this to answer in one round trip.
    // The answers are those ElementAt would give one by one.
    virtual std::vector<std::optional<PageElement>> ElementsAt(
        const std::vector<PagePoint>& points) {
        std::vector<std::optional<PageElement>> elements;
        elements.reserve(points.size());
        for (const PagePoint& point : points) {
            elements.push_back(ElementAt(point.x, point.y));
        }
        return elements;
    }

    // The same batch, answered only up to and including the first point whose
    // element is not the first point's (all points when there is none; another
    // element that answers alike may count as a change). A scan along a line
    // only needs the run up to where the element under it changes, and the page
    // is spared the hit-tests beyond. Each answer given is the one ElementAt gives.
    virtual std::vector<std::optional<PageElement>> ElementsAtUntilChange(
        const std::vector<PagePoint>& points) {
        std::vector<std::optional<PageElement>> elements = ElementsAt(points);
        for (size_t i = 1; i < elements.size(); ++i) {
            if (elements[i] != elements[0]) {
                elements.resize(i + 1);
                break;
            }
        }
        return elements;
    }
};

} // namespace quiltara
