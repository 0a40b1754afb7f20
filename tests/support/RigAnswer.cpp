#include "tests/support/RigAnswer.h"

namespace {

// Control lines end at a line break, so none may hide in a value.
std::string OneLine(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return out;
}

void AddLine(std::string& out, const char* key, const std::string& value)
{
    if (!value.empty()) {
        out += key;
        out += ": ";
        out += OneLine(value);
        out += '\n';
    }
}

void AddNumber(std::string& out, const char* key, long long value)
{
    AddLine(out, key, std::to_string(value));
}

}  // namespace

std::string RigAnswer::Format() const
{
    std::string out;
    AddLine(out, "method", method);
    AddLine(out, "path", path);
    AddLine(out, "prefix", prefix);
    AddLine(out, "listener", listener);
    if (times > 0) {
        AddNumber(out, "times", times);
    }
    AddNumber(out, "status", status);
    AddLine(out, "reason", reason);
    AddLine(out, "version", version);
    for (const std::string& header : headers) {
        AddLine(out, "header", header);
    }
    if (generatedSize >= 0) {
        AddNumber(out, "body-size", generatedSize);
    }
    AddLine(out, "body-file", bodyFile);
    if (delayMs > 0) {
        AddNumber(out, "delay-ms", delayMs);
    }
    if (hold) {
        AddLine(out, "hold", "1");
    }
    if (silent) {
        AddLine(out, "silent", "1");
    }
    if (cutAfter >= 0) {
        AddNumber(out, "cut-after", cutAfter);
    }
    if (noLength) {
        AddLine(out, "no-length", "1");
    }
    if (close) {
        AddLine(out, "close", "1");
    }
    if (!authUser.empty()) {
        AddLine(out, "auth", authUser + ":" + authPassword);
    }
    AddLine(out, "realm", realm);
    out += '\n';
    out += body;
    return out;
}
