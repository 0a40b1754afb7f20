#include "util/TagReader.h"

#include <gtest/gtest.h>

namespace {

// Any text, name, capacity and default, each of them null too, is compared with a model of
// the reader by the tag-reader fuzz target; an output it cannot write to is not among them.
TEST(TagGetString, WithoutAnOutputTheDefaultIsAnsweredUntouched)
{
    const wchar_t kDefault[] = L"dflt";
    wchar_t out[8] = L"keep";
    EXPECT_EQ(kDefault, TagGetString(L"<V>1</V>", L"V", 8, nullptr, kDefault));
    EXPECT_EQ(kDefault, TagGetString(L"<V>1</V>", L"V", 0, out, kDefault));
    EXPECT_STREQ(L"keep", out);
}

}  // namespace
