// The management socket: one connection carries one length-prefixed request,
// decoded with the message codec, run, and answered by editing the request in
// place (result at offset 12, value item rewritten).
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adr.h"
#include "hwroute/bewriter.h"
#include "hwroute/debug.h"
#include "hwroute/global.h"
#include "hwroute/management.h"

const char* hwRouteNmSockPath = HW_NM_SOCKET_PATH;
uint32_t hwRouteNmSockMode = 0600;
int64_t hwRouteNmGroup = -1;

#define NM_LOG(fmt, ...) \
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwrouteNmMsgProcess]=>" fmt __VA_OPT__(, ) __VA_ARGS__)

namespace {

// ---------------------------------------------------------------------------
// Operations

using NmOp = int (*)(int32_t, int32_t, uint32_t*);

// Which value types are written back into the reply when the result is 0.
enum NmWriteBack : uint8_t { WB_NONE, WB_U32, WB_ANY };

// Operation of func n at index n. Operations with one index value get the
// vrfid as first argument, the others 0.
struct NmOpEntry {
    NmOp op;
    uint8_t indexNum;
    NmWriteBack writeBack;
};

const NmOpEntry nmOps[] = {
    {nullptr, 0, WB_NONE},
    {swRouteProtoStatsGetApi, 1, WB_ANY},
    {hwRouteProtoStatsGetApi, 1, WB_ANY},
    {swRouteProtoAddStatsGetApi, 1, WB_ANY},
    {swRouteProtoDelStatsGetApi, 1, WB_ANY},
    {hwTableStatsGetApi, 0, WB_U32},
    {hwRouteTableGetApi, 0, WB_U32},
    {hwRouteRouteCountGetApi, 0, WB_U32},
    {hwRouteGlbSetApi, 0, WB_NONE},
    {swRoute6ProtoStatsGetApi, 1, WB_ANY},
    {hwRoute6ProtoStatsGetApi, 1, WB_ANY},
    {swRoute6ProtoAddStatsGetApi, 1, WB_ANY},
    {swRoute6ProtoDelStatsGetApi, 1, WB_ANY},
    {hw6TableStatsGetApi, 0, WB_U32},
};
constexpr uint32_t NM_FUNC_COUNT = sizeof(nmOps) / sizeof(nmOps[0]);
static_assert(NM_FUNC_COUNT == 14);

// Requests shorter than this are refused before any decoding.
constexpr int NM_MIN_REQUEST_LEN = 26;

// ---------------------------------------------------------------------------
// Request decoding

struct NmRequest {
    uint32_t func;
    uint32_t retcode;  // decoded, not used
    uint32_t cmd;
    uint8_t indexNum;
    int32_t vrfid;
    uint32_t valuePos;  // start of the value item (its marker)
    uint8_t valueType;
    uint16_t valueLen;
    uint8_t* valueData;  // the value bytes inside the message
    bool hasWord;   // the request carries a 32-bit value
    uint32_t word;  // that value; the operation reads and writes it
};

// A codec call that ran past the message refuses the request.
bool nmReadOk(int rc, const char* what) {
    if (rc == 0) return true;
    NM_LOG("%s failed", what);
    return false;
}

bool nmDecodeHeader(AdrCursor* c, NmRequest* r) {
    return nmReadOk(adr_decodefunc(c, &r->func), "ADR_DECODE_FUNC") &&
           nmReadOk(adr_decoderetcode(c, &r->retcode), "ADR_DECODE_RETCODE") &&
           nmReadOk(adr_decodecmd(c, &r->cmd), "ADR_DECODE_CMD");
}

bool nmDecodeIndex(AdrCursor* c, NmRequest* r) {
    uint8_t mark = 0;
    if (!nmReadOk(adr_getchar(c, &mark, 1), "ADR_GET_INDEX_MARK")) return false;
    if (mark != ADR_INDEX_MARK) {
        NM_LOG("charVal %d err", mark);
        return false;
    }
    if (!nmReadOk(adr_getchar(c, &r->indexNum, 1), "ADR_GET_INDEX_NUM")) return false;
    const bool tunnel = r->func == HW_NM_FUNC_TUNNEL;
    if (!tunnel && (r->func == 0 || r->func >= NM_FUNC_COUNT)) {
        NM_LOG("func %d err", int(r->func));
        return false;
    }
    if (r->indexNum != (tunnel ? 0 : nmOps[r->func].indexNum)) {
        NM_LOG("indexNum %d err", r->indexNum);
        return false;
    }
    // The index value is read even when indexNum is 0.
    return nmReadOk(adr_offset(c, 3), "ADR_OFFSET") && nmReadOk(adr_getint32(c, &r->vrfid), "ADR_GET_VRFID");
}

// The operations all take a 32-bit word, and octets have no meaning of their
// own for them: four octets are read as a big-endian word, so a client may
// send the value either way; octets of another length are skipped and the
// operation runs without a value.
bool nmDecodeOctets(AdrCursor* c, NmRequest* r) {
    if (r->valueLen != 4) return nmReadOk(adr_offset(c, r->valueLen), "ADR_GET_VALUE");
    r->hasWord = true;
    return nmReadOk(adr_getuint32(c, &r->word), "ADR_GET_VALUE");
}

bool nmDecodeValue(AdrCursor* c, NmRequest* r) {
    r->valuePos = adr_count(c);
    uint8_t mark = 0;
    if (!nmReadOk(adr_getchar(c, &mark, 1), "ADR_GET_VALUE_MARK")) return false;
    if (mark != ADR_VALUE_MARK) {
        NM_LOG("charVal %d err", mark);
        return false;
    }
    if (!nmReadOk(adr_getchar(c, &r->valueType, 1), "ADR_GET_VALUE_TYPE")) return false;
    if (!nmReadOk(adr_getushort(c, &r->valueLen), "ADR_GET_VALUE_LEN")) return false;
    r->valueData = c->msg + adr_count(c);
    if (r->func == HW_NM_FUNC_TUNNEL) return nmReadOk(adr_offset(c, r->valueLen), "ADR_GET_VALUE");
    if (r->valueType == ADR_TYPE_U32) {
        if (r->valueLen != 4) {
            NM_LOG("shortVal %d err", r->valueLen);
            return false;
        }
        r->hasWord = true;
        return nmReadOk(adr_getuint32(c, &r->word), "ADR_GET_VALUE");
    }
    if (r->valueType == ADR_TYPE_OCTETS) return nmDecodeOctets(c, r);
    return true;  // other types carry no value
}

// On success the value item is written again where it was: type 2 for every
// operation that returns a value, type 0 for the per-VRF statistics only.
void nmWriteBack(AdrCursor* c, const NmRequest& r) {
    const NmWriteBack wb = nmOps[r.func].writeBack;
    const bool asU32 = r.valueType == ADR_TYPE_U32 && wb != WB_NONE;
    const bool asOctets = r.valueType == ADR_TYPE_OCTETS && r.hasWord && wb == WB_ANY;
    if (!asU32 && !asOctets) return;
    adr_pos(c, r.valuePos);
    if (asU32) {
        adr_encodedata(c, ADR_TYPE_U32, 4, &r.word);
        return;
    }
    uint8_t octets[4];
    BeWriter(octets, sizeof(octets)).u32(r.word);
    adr_encodedata(c, ADR_TYPE_OCTETS, sizeof(octets), octets);
}

// ---------------------------------------------------------------------------
// Connection

timespec nmDeadline(int ms) {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += ms / 1000;
    t.tv_nsec += long(ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

long nmMsLeft(const timespec& end) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return long(end.tv_sec - now.tv_sec) * 1000L + (end.tv_nsec - now.tv_nsec) / 1000000L;
}

// Receive up to `len` bytes before the connection's deadline; returns the
// count received. A receive that runs out of time is counted and logged.
int nmRecv(int conn, uint8_t* buf, int len, const timespec& end) {
    int got = 0;
    bool timedOut = false;
    while (got < len) {
        const long left = nmMsLeft(end);
        if (left <= 0) {
            errno = EAGAIN;
            timedOut = true;
            break;
        }
        timeval tv{};
        tv.tv_sec = left / 1000;
        tv.tv_usec = (left % 1000) * 1000;
        if (setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) break;
        const ssize_t n = recv(conn, buf + got, size_t(len - got), MSG_WAITALL);
        if (n > 0) {
            got += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        timedOut = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        break;  // peer closed, error or time out
    }
    if (timedOut) {
        const int saved = errno;  // for the caller's perror
        ++ghwRoute.nmRecvTimeoutCnt;
        NM_LOG("recv timeout");
        errno = saved;
    }
    return got;
}

// One gathered send: the big-endian reply length, then the reply bytes.
void nmReply(int conn, uint8_t* buf, int replyLen) {
    uint8_t lenBytes[4];
    BeWriter(lenBytes, sizeof(lenBytes)).u32(uint32_t(replyLen));
    iovec iov[2];
    iov[0].iov_base = lenBytes;
    iov[0].iov_len = sizeof(lenBytes);
    iov[1].iov_base = buf;
    iov[1].iov_len = size_t(replyLen);
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = 2;
    const ssize_t sent = sendmsg(conn, &msg, MSG_NOSIGNAL);
    if (sent != ssize_t(replyLen) + 4) {
        NM_LOG("send %d bytes was different from %d", int(sent), replyLen + 4);
        perror("hwRouteNmSockRcv sendto failed!");
    }
}

void nmServe(int conn) {
    const int lowat = 30;
    if (setsockopt(conn, SOL_SOCKET, SO_RCVLOWAT, &lowat, sizeof(lowat)) != 0) {
        perror("\r\n hwRouteNmSockRcv setsockopt failed!");
        return;
    }
    // One time limit for the whole request, so a silent or slow client holds
    // the worker task up for about a second at most.
    const timespec end = nmDeadline(HW_NM_RECV_TIMEOUT_MS);
    uint8_t lenBytes[4];
    if (nmRecv(conn, lenBytes, sizeof(lenBytes), end) != int(sizeof(lenBytes))) {
        perror("\r\n hwRouteNmSockRcv recv buflen failed!");
        return;
    }
    uint8_t buf[HW_NM_BUF_LEN];
    const uint32_t reqLen = beRead32(lenBytes);
    // A request that cannot fit the buffer is refused unread, like a
    // malformed one.
    if (reqLen > sizeof(buf)) {
        NM_LOG("lenRx %u too long, refused", reqLen);
        nmReply(conn, buf, 0);
        return;
    }
    const int got = nmRecv(conn, buf, int(reqLen), end);
    if (got != int(reqLen)) {
        perror("\r\n hwRouteNmSockRcv recv buf failed!");
        return;
    }
    if (hwRouteNmExportServe(conn, buf, got)) return;
    const int replyLen = hwRouteNmMsgProcess(buf, got);
    if (replyLen == 0) NM_LOG("call hwRouteNmSockRcv failed");
    nmReply(conn, buf, replyLen);
}

// The socket file is created with no access for group and others; chmod
// then gives it the configured mode, so it is never wider in between.
int nmBind(int fd) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const size_t pathLen = strlen(hwRouteNmSockPath);
    if (pathLen >= sizeof(addr.sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(addr.sun_path, hwRouteNmSockPath, pathLen + 1);
    const mode_t old = umask(0177);
    const int rc = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    umask(old);
    return rc;
}

// The one line a refused start-up writes.
int nmRefuse(const char* reason) {
    fprintf(stderr, "hwroute: management socket %s: %s; not starting\n", hwRouteNmSockPath, reason);
    return -1;
}

// The default directory: created 0750 if absent; an existing one must be a
// real directory owned by root (or the daemon's user) that nobody else can
// write, or a name inside it could be swapped.
const char* nmPrepareDir() {
    if (mkdir(HW_NM_SOCKET_DIR, 0750) != 0 && errno != EEXIST) return strerror(errno);
    struct stat st{};
    if (lstat(HW_NM_SOCKET_DIR, &st) != 0) return strerror(errno);
    if (!S_ISDIR(st.st_mode)) return "its directory is not a directory";
    if (st.st_uid != 0 && st.st_uid != geteuid()) return "its directory belongs to another user";
    if ((st.st_mode & 0022) != 0) return "its directory is writable by group or others";
    const gid_t gid = hwRouteNmGroup >= 0 ? gid_t(hwRouteNmGroup) : st.st_gid;
    if (chown(HW_NM_SOCKET_DIR, geteuid(), gid) != 0 || chmod(HW_NM_SOCKET_DIR, 0750) != 0) return strerror(errno);
    return nullptr;
}

// What is at the path already: nothing, or a socket nobody listens on (left
// by an earlier run, removed). Anything else is refused, not removed: a
// file, a directory or a link there was put by someone, and a live socket
// belongs to another daemon.
const char* nmClearPath() {
    struct stat st{};
    if (lstat(hwRouteNmSockPath, &st) != 0) return errno == ENOENT ? nullptr : strerror(errno);
    if (!S_ISSOCK(st.st_mode)) return "exists and is not a socket";
    const int probe = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, hwRouteNmSockPath, sizeof(addr.sun_path) - 1);
    const bool live = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
    if (probe >= 0) close(probe);
    if (live) return "another process is listening on it";
    if (unlink(hwRouteNmSockPath) != 0) return strerror(errno);
    return nullptr;
}

// With --nm-group the socket also belongs to that group.
int nmSetOwner() {
    if (chmod(hwRouteNmSockPath, mode_t(hwRouteNmSockMode)) != 0) return -1;
    if (hwRouteNmGroup < 0) return 0;
    return chown(hwRouteNmSockPath, geteuid(), gid_t(hwRouteNmGroup));
}

// Whether a list of decimal ids ("Groups:\t4 27 1000") holds `gid`.
bool nmListHas(const char* p, gid_t gid) {
    while (*p != '\0' && *p != '\n') {
        char* end = nullptr;
        const unsigned long v = strtoul(p, &end, 10);
        if (end == p) {
            ++p;
            continue;
        }
        if (v == gid) return true;
        p = end;
    }
    return false;
}

// The peer's supplementary groups, from its process status (SO_PEERCRED
// carries only the primary group). Read into a fixed buffer: no memory is
// obtained while serving.
bool nmPeerInGroup(pid_t pid, gid_t gid) {
    char path[64];
    snprintf(path, sizeof(path), "/proc/%d/status", int(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[4096];
    const ssize_t n = read(fd, text, sizeof(text) - 1);
    close(fd);
    if (n <= 0) return false;
    text[n] = '\0';
    const char* groups = strstr(text, "\nGroups:");
    return groups != nullptr && nmListHas(groups + 8, gid);
}

// Root, the daemon's own user and members of the --nm-group may ask.
bool nmPeerAllowed(int conn) {
    ucred cred{};
    socklen_t len = sizeof(cred);
    if (getsockopt(conn, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    NM_LOG("peer uid %u gid %u pid %d", unsigned(cred.uid), unsigned(cred.gid), int(cred.pid));
    if (cred.uid == 0 || cred.uid == geteuid()) return true;
    if (hwRouteNmGroup < 0) return false;
    const gid_t gid = gid_t(hwRouteNmGroup);
    return cred.gid == gid || nmPeerInGroup(cred.pid, gid);
}

}  // namespace

int hwRouteNmSockOpen(void) {
    const bool defaultPath = strcmp(hwRouteNmSockPath, HW_NM_SOCKET_PATH) == 0;
    const char* why = defaultPath ? nmPrepareDir() : nullptr;
    if (why == nullptr) why = nmClearPath();
    if (why != nullptr) return nmRefuse(why);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        perror("Failed to create unix socket for hwroute!");
        return -1;
    }
    if (nmBind(fd) != 0) {
        const int saved = errno;
        close(fd);
        return nmRefuse(strerror(saved));
    }
    if (nmSetOwner() != 0) {
        const int saved = errno;
        close(fd);
        unlink(hwRouteNmSockPath);
        return nmRefuse(strerror(saved));
    }
    if (listen(fd, 10) != 0) {
        perror("listen failed!");
        close(fd);
        return -1;
    }
    return fd;
}

void hwRouteNmSockRcv(void) {
    const int conn = accept(ghwRoute.nmSock, nullptr, nullptr);
    if (conn <= 0) {
        perror("\r\n hwRouteNmSockRcv accept failed!");
        if (conn == 0) close(conn);  // descriptor 0 is still a connection: do not leak it
        return;
    }
    // A peer that may not ask is closed unanswered, before any byte is read.
    if (!nmPeerAllowed(conn)) {
        ++ghwRoute.nmPeerRefusedCnt;
        NM_LOG("peer refused");
        close(conn);
        return;
    }
    nmServe(conn);
    close(conn);
}

int hwRouteNmMsgProcess(uint8_t* msg, int len) {
    if (len < NM_MIN_REQUEST_LEN) {
        NM_LOG("lenRx %d err", len);
        return 0;
    }
    AdrCursor c;
    adr_start(&c, msg, uint32_t(len));
    NmRequest r{};
    if (!nmDecodeHeader(&c, &r) || !nmDecodeIndex(&c, &r) || !nmDecodeValue(&c, &r)) return 0;
    NM_LOG("enter func %d, vrfid %d, cmd %d", int(r.func), r.vrfid, int(r.cmd));

    adr_pos(&c, ADR_OFF_RETCODE);
    if (r.func == HW_NM_FUNC_TUNNEL) {
        adr_int32(&c, int32_t(hwRouteNmTunnelApi(r.cmd, r.valueType, r.valueData, r.valueLen)));
        adr_pos(&c, uint32_t(len));
        return int(adr_count(&c));
    }
    const NmOpEntry& e = nmOps[r.func];
    const int rc = e.op(e.indexNum != 0 ? r.vrfid : 0, int32_t(r.cmd), r.hasWord ? &r.word : nullptr);
    adr_int32(&c, rc);
    if (rc == 0) nmWriteBack(&c, r);
    adr_pos(&c, uint32_t(len));
    return int(adr_count(&c));
}
