#include "app/AppTestSupport.h"

#include "screens/VeskSegmentedCell.h"

using namespace vesk;
using namespace vesk::platform;

namespace {

struct Recorder : VeskSegmentedCellDelegate {
    std::vector<std::pair<int, VeskSegmentedCell*>> changes;
    void changedSegment(int index, VeskSegmentedCell& cell) override { changes.emplace_back(index, &cell); }
};

class VeskSegmentedCellTest : public vesk::test::AppTest { };

TEST_F(VeskSegmentedCellTest, SegmentsFollowTheTitlesAndATapReachesTheDelegateWhileItLives)
{
    auto cell = std::make_shared<VeskSegmentedCell>(UITableViewCellStyle::Default, "segmentCell");
    auto control = cell->segment();
    ASSERT_TRUE(control && cell->title());
    EXPECT_EQ(control->superview(), cell->contentView());
    // Set up twice, as a reused cell is: the segments are rebuilt, not added to; an index
    // outside the titles selects the first.
    for (auto [index, selected] : { std::pair { 1, 1 }, { 7, 0 }, { -1, 0 } }) {
        cell->setSectionContent(std::vector<std::string> { "Name", "Size", "Date" });
        cell->setSelectedIndex(index);
        cell->setup();
        EXPECT_EQ(control->numberOfSegments(), 3);
        EXPECT_EQ(control->titleForSegmentAtIndex(2), "Date");
        EXPECT_EQ(control->selectedSegmentIndex(), selected) << index;
    }
    control->tapSegment(2); // no delegate: nothing to tell
    auto delegate = std::make_shared<Recorder>();
    cell->setDelegate(delegate);
    control->tapSegment(1);
    EXPECT_EQ(delegate->changes, (std::vector<std::pair<int, VeskSegmentedCell*>> { { 1, cell.get() } }));
    cell.reset();
    control->tapSegment(0); // the cell is gone; its control may outlive it
    EXPECT_EQ(delegate->changes.size(), 1u);
}

}
