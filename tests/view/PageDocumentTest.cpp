#include <gtest/gtest.h>

#include "platform/PageDocument.h"

namespace quiltara {
namespace {

// A page of 10 x 10 pixel cells; cell (c, r) is an image named after it, and
// only the first three columns and rows exist. Counts the questions asked.
class GridPage : public PageDocument {
public:
    int questions = 0;

    std::optional<PageElement> ElementAt(int x, int y) override {
        ++questions;
        if (x < 0 || y < 0 || x >= 30 || y >= 30) {
            return std::nullopt;
        }
        return PageElement{"IMG",
                           "cell?x=" + std::to_string(x / 10) + "&y=" + std::to_string(y / 10)};
    }
};

TEST(PageDocumentTest, TheBatchAsksEveryPointInOrder) {
    GridPage page;
    const std::vector<PagePoint> points{{5, 5}, {15, 5}, {35, 5}, {25, 29}, {-1, 0}};
    const std::vector<std::optional<PageElement>> answers = page.ElementsAt(points);
    ASSERT_EQ(answers.size(), points.size());
    EXPECT_EQ(page.questions, 5);
    EXPECT_EQ(answers[0], (PageElement{"IMG", "cell?x=0&y=0"}));
    EXPECT_EQ(answers[1], (PageElement{"IMG", "cell?x=1&y=0"}));
    EXPECT_EQ(answers[2], std::nullopt);
    EXPECT_EQ(answers[3], (PageElement{"IMG", "cell?x=2&y=2"}));
    EXPECT_EQ(answers[4], std::nullopt);
    EXPECT_TRUE(page.ElementsAt({}).empty());

    // Up to and including the first answer that differs from the first point's.
    const std::vector<PagePoint> run{{5, 5}, {6, 5}, {9, 5}, {10, 5}, {11, 5}};
    EXPECT_EQ(page.ElementsAtUntilChange(run),
              (std::vector<std::optional<PageElement>>{
                  PageElement{"IMG", "cell?x=0&y=0"}, PageElement{"IMG", "cell?x=0&y=0"},
                  PageElement{"IMG", "cell?x=0&y=0"}, PageElement{"IMG", "cell?x=1&y=0"}}));
    EXPECT_EQ(page.ElementsAtUntilChange({{1, 1}, {2, 2}}).size(), 2u);
    EXPECT_TRUE(page.ElementsAtUntilChange({}).empty());
}

} // namespace
} // namespace quiltara
