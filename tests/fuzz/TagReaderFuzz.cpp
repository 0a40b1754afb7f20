// The tagged-text reader with any text, name, default and a capacity of 1 to 300.
// Input: capacity (2 bytes), a selector making the text (1), the name (2) or the default (3)
// null, then the name, the text and the default as UTF-8, separated by zero bytes.
#include "tests/fuzz/FuzzSupport.h"
#include "util/TagReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader in(data, size);
    const size_t capacity = 1 + in.U16() % 300;
    const uint8_t nulls = in.Byte();
    const std::wstring name = fuzz::Wide(in.Field()), text = fuzz::Wide(in.Field()),
                       def = fuzz::Wide(in.Rest());
    const std::wstring* textArg = nulls == 1 ? nullptr : &text;
    const std::wstring* nameArg = nulls == 2 ? nullptr : &name;
    const std::wstring* defArg = nulls == 3 ? nullptr : &def;

    fuzz::GuardedBuffer<wchar_t> out(capacity);
    const wchar_t* answer =
        TagGetString(textArg ? text.c_str() : nullptr, nameArg ? name.c_str() : nullptr, capacity,
                     out.data(), defArg ? def.c_str() : nullptr);
    FUZZ_CHECK(out.GuardIntact() && out.Terminated(),
               "output stays within its capacity, terminated");
    const fuzz::TagModel model = fuzz::ModelTag(textArg, nameArg, capacity, defArg);
    FUZZ_CHECK(out.Text() == model.output, "output holds the value or the cut default");
    if (model.found || defArg != nullptr) {
        FUZZ_CHECK(answer == (model.found ? out.data() : def.c_str()),
                   "a value found is answered in the output, else the default");
    } else {
        FUZZ_CHECK(answer != nullptr && *answer == L'\0',
                   "no value and a null default: an empty text is answered");
    }
    return 0;
}
