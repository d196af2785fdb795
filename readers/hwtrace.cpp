// The trace file of the simulated hardware, read back line by line.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "hwdecode.h"

namespace {

using Json = nlohmann::json;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool hexToBytes(const std::string& hex, std::vector<uint8_t>* out, std::string* err) {
    if (hex.size() % 2 != 0) {
        *err = "\"data\" has an odd number of hex digits";
        return false;
    }
    out->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexDigit(hex[i]), lo = hexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) {
            *err = "\"data\" has a non-hex character at position " + std::to_string(hi < 0 ? i : i + 1);
            return false;
        }
        out->push_back(uint8_t(hi << 4 | lo));
    }
    return true;
}

// An unsigned integer member that fits `max`, or an error naming it.
bool member(const Json& j, const char* name, int64_t min, int64_t max, int64_t* out, std::string* err) {
    const auto it = j.find(name);
    if (it == j.end()) {
        *err = std::string("missing \"") + name + "\"";
        return false;
    }
    if (!it->is_number_integer() || it->get<int64_t>() < min || it->get<int64_t>() > max) {
        *err = std::string("\"") + name + "\" must be an integer from " + std::to_string(min) + " to " +
               std::to_string(max);
        return false;
    }
    *out = it->get<int64_t>();
    return true;
}

}  // namespace

bool hwdParseTraceLine(const std::string& line, HwdCall* call, std::string* err) {
    Json j = Json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        *err = "not a trace line (one JSON object per line expected)";
        return false;
    }
    int64_t seq, object, flags, len, result;
    if (!member(j, "seq", 0, UINT32_MAX, &seq, err) || !member(j, "objectId", 0, UINT32_MAX, &object, err) ||
        !member(j, "flags", 0, UINT32_MAX, &flags, err) || !member(j, "len", 0, UINT32_MAX, &len, err) ||
        !member(j, "result", INT32_MIN, INT32_MAX, &result, err))
        return false;
    const auto data = j.find("data");
    if (data == j.end() || !data->is_string()) {
        *err = "missing \"data\" (a hex string)";
        return false;
    }
    HwdCall c;
    c.seq = uint32_t(seq);
    c.objectId = uint32_t(object);
    c.flags = uint32_t(flags);
    c.result = int(result);
    if (!hexToBytes(data->get<std::string>(), &c.data, err)) return false;
    if (c.data.size() != size_t(len)) {
        *err = "\"len\" is " + std::to_string(len) + " but \"data\" holds " + std::to_string(c.data.size()) +
               " bytes";
        return false;
    }
    std::string why;
    if (!hwdDecode(&c, &why)) {
        *err = "call #" + std::to_string(c.seq) + " (" + hwdObjectName(c.objectId) + "): " + why;
        return false;
    }
    *call = std::move(c);
    return true;
}

bool HwdTraceReader::open(const std::string& path, bool follow, std::string* err) {
    follow_ = follow;
    if (path == "-") {
        name_ = "<stdin>";
        file_ = stdin;
        return true;
    }
    name_ = path;
    file_ = std::fopen(path.c_str(), "r");
    if (file_ == nullptr) {
        *err = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    owned_ = true;
    return true;
}

HwdTraceReader::~HwdTraceReader() {
    if (owned_ && file_ != nullptr) std::fclose(file_);
}

// One line without its newline. `complete` is false for a last line that
// has no newline (the writer may still be writing it).
bool HwdTraceReader::readLine(std::string* line, bool* complete) {
    line->clear();
    int c;
    while ((c = std::fgetc(file_)) != EOF) {
        if (c == '\n') {
            *complete = true;
            return true;
        }
        line->push_back(char(c));
    }
    *complete = false;
    return !line->empty();
}

int HwdTraceReader::next(HwdCall* call, std::string* err) {
    for (;;) {
        std::string part;
        bool complete = false;
        const bool got = readLine(&part, &complete);
        if (std::ferror(file_)) {
            *err = name_ + ":" + std::to_string(lineNo_ + 1) + ": read error: " + std::strerror(errno);
            return -1;
        }
        if (got) pending_ += part;
        if (!complete) {
            if (follow_) {
                std::clearerr(file_);
                usleep(200 * 1000);
                continue;
            }
            if (pending_.empty()) return 0;
            *err = name_ + ":" + std::to_string(lineNo_ + 1) + ": trace cut short: the last line has no end";
            return -1;
        }
        std::string line;
        line.swap(pending_);
        ++lineNo_;
        if (line.empty()) continue;
        std::string why;
        if (!hwdParseTraceLine(line, call, &why)) {
            *err = name_ + ":" + std::to_string(lineNo_) + ": " + why;
            return -1;
        }
        return 1;
    }
}
