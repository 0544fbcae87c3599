#include <gtest/gtest.h>

#include "app/scenario.h"

// Names differing only in letter case are one option; a key matches the start of a name
// without regard to case, the latest option first.
TEST(Options, KeysMatchTheStartOfNamesWithoutRegardToCaseTheLatestFirst) {
    DynArray list;
    options_init(&list);
    for (const char* name : {"X size", "X SIZE", "x size"}) option_default(&list, name, name);
    option_default(&list, "X siz", "9");  // a shorter name is another option
    option_default(&list, "Density of solute", "0.05");
    option_default(&list, "Speed", "1");
    option_default(&list, "Spin", "2");
    EXPECT_EQ(list.count, 5u);
    const struct { const char* key; const char* value; } cases[] = {
        {"X size", "X size"}, {"x", "9"}, {"DENSITY OF SOLUTE", "0.05"}, {"sp", "2"},
        {"spe", "1"}, {"", "2"}, {"X sizf", nullptr}, {"X size2", nullptr}};
    for (const auto& c : cases) EXPECT_STREQ(option_find(&list, c.key), c.value) << '"' << c.key << '"';
    options_free(&list);
}
