// Fuzz target: the tagged-text reader with any text, name, default and a capacity of 1 to 300.
// Input: capacity (2 bytes), a selector that may make the text, the name or the default null,
// then the name, the text and the default as UTF-8, separated by zero bytes.
#include "tests/fuzz/FuzzReference.h"
#include "tests/fuzz/FuzzSupport.h"
#include "util/TagReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader in(data, size);
    const size_t capacity = 1 + in.U16() % 300;
    const uint8_t nulls = in.Byte();
    const std::wstring name = fuzz::DecodeUtf8(in.Field());
    const std::wstring text = fuzz::DecodeUtf8(in.Field());
    const std::wstring def = fuzz::DecodeUtf8(in.Rest());
    const std::wstring* textArg = nulls == 1 ? nullptr : &text;
    const std::wstring* nameArg = nulls == 2 ? nullptr : &name;
    const std::wstring* defArg = nulls == 3 ? nullptr : &def;

    fuzz::GuardedBuffer<wchar_t> out(capacity);
    const wchar_t* answer = TagGetString(textArg ? textArg->c_str() : nullptr, nameArg ? nameArg->c_str() : nullptr,
                                         capacity, out.data(), defArg ? defArg->c_str() : nullptr);

    FUZZ_CHECK(out.GuardIntact(), "output stays within its capacity");
    FUZZ_CHECK(out.Terminated(), "output terminated within its capacity");
    const fuzz::TagModelResult model = fuzz::ModelTagGetString(textArg, nameArg, capacity, defArg);
    FUZZ_CHECK(out.Text() == model.output, "output holds the value or the cut default");
    FUZZ_CHECK(answer != nullptr && model.answer == answer, "answer is the value or the whole default");
    if (model.found) {
        FUZZ_CHECK(answer == out.data(), "a value found is answered in the output");
    } else if (defArg != nullptr) {
        FUZZ_CHECK(answer == defArg->c_str(), "no value: the caller's default is answered");
    }
    return 0;
}
