// The pending edits: what a save takes, what a stopped save puts back, and what it forgets.
#include "DeviceBenchCore/manager/edit_book.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceBenchCore/table/var_info.h"

namespace {

void Name(VarInfo& var, const std::string& name, const std::string& set_cmd) {
    var.var_name = name;
    var.set_cmd = set_cmd;
}

TEST(EditBookTest, TakePendingFollowsThePageOrderOnceAndOnlyForThatPage) {
    VarInfo range, filter, roll, elsewhere;
    Name(range, "Max Range", "0x2D");
    Name(filter, "Noise Filter", "0x2E");
    Name(roll, "Roll", "0x2D");
    Name(elsewhere, "IP", "0x21");
    EditBook book;
    book.RecordEdit(filter);
    book.RecordEdit(roll);
    book.RecordEdit(elsewhere);
    const std::vector<VarInfo*> page{&range, &filter, &roll};
    EXPECT_EQ(book.TakePending(page), (std::vector<std::string>{"0x2D", "0x2E"}));
    EXPECT_TRUE(book.TakePending(page).empty()) << "taken once";
    EXPECT_EQ(book.TakePending({&elsewhere}), std::vector<std::string>{"0x21"});
    EXPECT_EQ(book.Size(), 3);  // written commands stay listed until cleared
    EXPECT_EQ(book.ChangedNames({&range, &roll, &filter}), "Roll, Noise Filter, ");
}

TEST(EditBookTest, RequeueKeepsOnlyTheEditsOfTheCommandsPutBack) {
    VarInfo range, filter;
    Name(range, "Max Range", "0x2D");
    Name(filter, "Noise Filter", "0x2E");
    EditBook book;
    book.RecordEdit(range);
    book.RecordEdit(filter);
    const std::vector<VarInfo*> page{&range, &filter};
    ASSERT_EQ(book.TakePending(page).size(), 2u);
    book.Requeue({"0x2E"}, {&filter});
    EXPECT_FALSE(book.IsChanged(&range));
    EXPECT_TRUE(book.IsChanged(&filter));
    EXPECT_EQ(book.TakePending(page), std::vector<std::string>{"0x2E"});
    book.Clear();
    EXPECT_EQ(book.Size(), 0);
    EXPECT_FALSE(book.IsChanged(&filter));
}

}  // namespace
