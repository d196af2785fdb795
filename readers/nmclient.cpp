#include "nmclient.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "adr.h"
#include "hwroute/bewriter.h"
#include "hwroute/management.h"

namespace {

bool recvAll(int fd, uint8_t* buf, size_t len) {
    size_t got = 0;
    while (got < len) {
        const ssize_t n = recv(fd, buf + got, len - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

int connectTo(const std::string& path, int timeoutSec, std::string* err) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        *err = "cannot connect to " + path + ": path too long";
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        *err = "cannot connect to " + path + ": " + std::strerror(errno) + " (is hwroute running?)";
        if (fd >= 0) close(fd);
        return -1;
    }
    timeval tv{};
    tv.tv_sec = timeoutSec;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    return fd;
}

bool request(int fd, uint32_t what, std::string* err) {
    uint8_t value[4] = {0, 0, 0, 0};
    AdrMessage m{};
    m.seq = uint32_t(getpid()) ^ uint32_t(time(nullptr));
    m.func = HW_NM_FUNC_EXPORT;
    m.cmd = what;
    m.valueType = ADR_TYPE_U32;
    m.valueLen = 4;
    m.value = value;
    uint8_t out[4 + ADR_U32_MSG_LEN];
    const int len = adr_encodemessage(out + 4, sizeof(out) - 4, &m);
    BeWriter(out, 4).u32(uint32_t(len));
    if (len < 0 || send(fd, out, size_t(4 + len), MSG_NOSIGNAL) != 4 + len) {
        *err = std::string("cannot send the request: ") + std::strerror(errno);
        return false;
    }
    uint8_t lenBytes[4];
    uint8_t reply[ADR_U32_MSG_LEN];
    if (!recvAll(fd, lenBytes, 4)) {
        *err = "no answer from the daemon (connection closed or timed out)";
        return false;
    }
    const uint32_t replyLen = beRead32(lenBytes);
    if (replyLen != uint32_t(len) || !recvAll(fd, reply, replyLen)) {
        *err = replyLen == 0 ? "the daemon refused the export request (does it predate it?)"
                             : "unexpected answer from the daemon";
        return false;
    }
    if (beRead32(reply + ADR_OFF_RETCODE) != 0) {
        *err = "the daemon refused the export request";
        return false;
    }
    return true;
}

}  // namespace

bool hwdNmExport(const std::string& socketPath, uint32_t what, int timeoutSec, std::vector<std::string>* lines,
                 std::string* err) {
    const int fd = connectTo(socketPath, timeoutSec, err);
    if (fd < 0) return false;
    bool ok = request(fd, what, err);
    std::string text;
    char buf[65536];
    while (ok) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *err = "the export stream stopped: " + std::string(std::strerror(errno));
            ok = false;
        }
        if (n <= 0) break;
        text.append(buf, size_t(n));
    }
    close(fd);
    if (!ok) return false;
    lines->clear();
    size_t pos = 0;
    bool started = false, ended = false;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) break;
        std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        if (!started) {
            started = line.rfind("hwroute-export ", 0) == 0;
            if (!started) break;
            continue;
        }
        if (line == "end") {
            ended = true;
            break;
        }
        lines->push_back(std::move(line));
    }
    if (!started || !ended) {
        *err = "the export stream from the daemon was cut short";
        return false;
    }
    return true;
}

std::map<std::string, std::string> hwdExportFields(const std::string& line) {
    std::map<std::string, std::string> f;
    size_t pos = line.find(' ');
    f["kind"] = line.substr(0, pos);
    while (pos != std::string::npos) {
        const size_t start = pos + 1;
        const size_t eq = line.find('=', start);
        if (eq == std::string::npos) break;
        const std::string key = line.substr(start, eq - start);
        if (key == "label") {
            f[key] = line.substr(eq + 1);
            break;
        }
        pos = line.find(' ', eq);
        f[key] = line.substr(eq + 1, pos == std::string::npos ? std::string::npos : pos - eq - 1);
    }
    return f;
}
