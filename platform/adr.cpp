// Codec of the management messages: bounded big-endian reads and writes over
// one message.
#include "adr.h"

#include <cstring>

namespace {

// True when n more bytes fit between the position and the end.
bool fits(const AdrCursor* c, uint32_t n) { return c->pos <= c->len && n <= c->len - c->pos; }

int getBe(AdrCursor* c, uint32_t n, uint32_t* out) {
    if (!fits(c, n)) return -1;
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i) v = (v << 8) | c->msg[c->pos + i];
    c->pos += n;
    *out = v;
    return 0;
}

int putBe(AdrCursor* c, uint32_t n, uint32_t v) {
    if (!fits(c, n)) return -1;
    for (uint32_t i = 0; i < n; ++i) c->msg[c->pos + i] = uint8_t(v >> (8 * (n - 1 - i)));
    c->pos += n;
    return 0;
}

}  // namespace

void adr_start(AdrCursor* c, uint8_t* msg, uint32_t len) {
    c->pos = 0;
    c->len = msg != nullptr ? len : 0;
    c->msg = msg;
}

int adr_decodefunc(AdrCursor* c, uint32_t* func) {
    const uint32_t start = c->pos;
    uint32_t magic = 0, seq = 0, value = 0;
    if (getBe(c, 4, &magic) != 0 || magic != ADR_MAGIC || getBe(c, 4, &seq) != 0 || getBe(c, 4, &value) != 0) {
        c->pos = start;
        return -1;
    }
    *func = value;
    return 0;
}

int adr_decoderetcode(AdrCursor* c, uint32_t* retcode) { return getBe(c, 4, retcode); }

int adr_decodecmd(AdrCursor* c, uint32_t* cmd) { return getBe(c, 4, cmd); }

int adr_getchar(AdrCursor* c, uint8_t* dst, uint32_t count) {
    if (!fits(c, count)) return -1;
    std::memcpy(dst, c->msg + c->pos, count);
    c->pos += count;
    return 0;
}

int adr_getushort(AdrCursor* c, uint16_t* out) {
    uint32_t v = 0;
    if (getBe(c, 2, &v) != 0) return -1;
    *out = uint16_t(v);
    return 0;
}

int adr_getint32(AdrCursor* c, int32_t* out) {
    uint32_t v = 0;
    if (getBe(c, 4, &v) != 0) return -1;
    *out = int32_t(v);
    return 0;
}

int adr_getuint32(AdrCursor* c, uint32_t* out) { return getBe(c, 4, out); }

int adr_offset(AdrCursor* c, uint32_t n) {
    if (!fits(c, n)) return -1;
    c->pos += n;
    return 0;
}

uint32_t adr_count(const AdrCursor* c) { return c->pos; }

int adr_pos(AdrCursor* c, uint32_t pos) {
    if (pos > c->len) return -1;
    c->pos = pos;
    return 0;
}

int adr_int32(AdrCursor* c, int32_t value) { return putBe(c, 4, uint32_t(value)); }

int adr_encodedata(AdrCursor* c, uint8_t type, uint16_t len, const void* data) {
    if (type == ADR_TYPE_U32 && len != 4) return -1;
    if (len != 0 && data == nullptr) return -1;
    if (!fits(c, 4u + len)) return -1;
    putBe(c, 1, ADR_VALUE_MARK);
    putBe(c, 1, type);
    putBe(c, 2, len);
    if (type == ADR_TYPE_U32) {
        uint32_t word;
        std::memcpy(&word, data, sizeof(word));
        return putBe(c, 4, word);
    }
    // The data may be the message's own value bytes: memmove, not memcpy.
    std::memmove(c->msg + c->pos, data, len);
    c->pos += len;
    return 0;
}

int adr_encodemessage(uint8_t* buf, uint32_t cap, const AdrMessage* m) {
    const uint32_t total = ADR_OFF_VALUE_DATA + m->valueLen;
    if (buf == nullptr || total > cap) return -1;
    AdrCursor c;
    adr_start(&c, buf, total);
    putBe(&c, 4, ADR_MAGIC);
    putBe(&c, 4, m->seq);
    putBe(&c, 4, m->func);
    putBe(&c, 4, m->retcode);
    putBe(&c, 4, m->cmd);
    putBe(&c, 1, ADR_INDEX_MARK);
    putBe(&c, 1, m->indexNum);
    putBe(&c, 3, 0);
    adr_int32(&c, m->vrfid);
    putBe(&c, 1, ADR_VALUE_MARK);
    putBe(&c, 1, m->valueType);
    putBe(&c, 2, m->valueLen);
    if (m->value != nullptr)
        std::memcpy(buf + c.pos, m->value, m->valueLen);
    else
        std::memset(buf + c.pos, 0, m->valueLen);
    return int(total);
}

int adr_decodemessage(uint8_t* msg, uint32_t len, AdrMessage* m) {
    AdrCursor c;
    adr_start(&c, msg, len);
    uint8_t mark = 0, valueMark = 0;
    if (adr_decodefunc(&c, &m->func) != 0) return -1;
    m->seq = (uint32_t(msg[4]) << 24) | (uint32_t(msg[5]) << 16) | (uint32_t(msg[6]) << 8) | msg[7];
    if (adr_decoderetcode(&c, &m->retcode) != 0 || adr_decodecmd(&c, &m->cmd) != 0) return -1;
    if (adr_getchar(&c, &mark, 1) != 0 || mark != ADR_INDEX_MARK) return -1;
    if (adr_getchar(&c, &m->indexNum, 1) != 0 || adr_offset(&c, 3) != 0 || adr_getint32(&c, &m->vrfid) != 0) return -1;
    if (adr_getchar(&c, &valueMark, 1) != 0 || valueMark != ADR_VALUE_MARK) return -1;
    if (adr_getchar(&c, &m->valueType, 1) != 0 || adr_getushort(&c, &m->valueLen) != 0) return -1;
    m->value = msg + adr_count(&c);
    return adr_offset(&c, m->valueLen);
}
