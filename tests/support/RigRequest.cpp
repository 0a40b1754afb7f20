#include "tests/support/RigRequest.h"

#include <cctype>
#include <cstdlib>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

std::string FromHex(const std::string& hex)
{
    std::string out;
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        int high = HexDigit(hex[i]);
        int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            break;
        }
        out += static_cast<char>(high * 16 + low);
    }
    return out;
}

void AddHeader(RigRequest& request, const std::string& line)
{
    size_t colon = line.find(':');
    std::string name = line.substr(0, colon);
    std::string value;
    if (colon != std::string::npos) {
        size_t start = line.find_first_not_of(' ', colon + 1);
        value = start == std::string::npos ? "" : line.substr(start);
    }
    request.headerList.emplace_back(name, value);
    auto found = request.headers.find(name);
    if (found == request.headers.end()) {
        request.headers.emplace(name, value);
    } else {
        found->second += ", " + value;
    }
}

void SetField(RigRequest& request, const std::string& key, const std::string& value)
{
    if (key == "id") {
        request.id = std::atoi(value.c_str());
    } else if (key == "listener") {
        request.listener = value;
    } else if (key == "local") {
        request.local = value;
    } else if (key == "peer") {
        request.peer = value;
    } else if (key == "method") {
        request.method = value;
    } else if (key == "target") {
        request.target = value;
    } else if (key == "path") {
        request.path = value;
    } else if (key == "version") {
        request.version = value;
    } else if (key == "header") {
        AddHeader(request, value);
    } else if (key == "body-length") {
        request.bodyLength = static_cast<size_t>(std::strtoull(value.c_str(), nullptr, 10));
    } else if (key == "body") {
        request.body = FromHex(value);
    } else if (key == "status") {
        request.status = std::atoi(value.c_str());
    } else if (key == "answer") {
        request.answer = std::atoi(value.c_str());
    } else if (key == "error") {
        request.error = value;
    }
}

}  // namespace

bool RigRequest::NoCaseLess::operator()(const std::string& a, const std::string& b) const
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) {
            return ca < cb;
        }
    }
    return a.size() < b.size();
}

bool RigRequest::HasHeader(const std::string& name) const
{
    return headers.find(name) != headers.end();
}

std::string RigRequest::Header(const std::string& name) const
{
    auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

std::vector<RigRequest> RigRequest::ParseAll(const std::string& text)
{
    std::vector<RigRequest> requests;
    RigRequest current;
    bool open = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        pos = end + 1;
        if (line.empty()) {
            if (open) {
                requests.push_back(std::move(current));
                current = RigRequest();
                open = false;
            }
            continue;
        }
        size_t colon = line.find(": ");
        std::string key = line.substr(0, colon);
        std::string value = colon == std::string::npos ? "" : line.substr(colon + 2);
        SetField(current, key, value);
        open = true;
    }
    if (open) {
        requests.push_back(std::move(current));
    }
    return requests;
}
